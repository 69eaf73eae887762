#include "utils.h"

#include "FsTab.h"
#include "core/command.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

void assignParameter(const QString& piece, CmdLineInfo& info)
{
    const QString value = piece.split('=').constLast().simplified();
    if (piece.startsWith("BOOT_IMAGE=")) {
        info.bootImage = value;
    } else if (piece.startsWith("boot=")) {
        info.boot = value;
    } else if (piece.startsWith("boot-from=")) {
        info.bootFrom = value;
    } else if (piece.startsWith("live-media-path=")) {
        info.liveMediaPath = value;
    } else if (piece.startsWith("toram=")) {
        info.toram = value;
    } else if (piece.startsWith("union=")) {
        info.unionType = value;
    } else if (piece.startsWith("root=")) {
        info.rootUUID = piece.contains("UUID=") ? value : Utils::uuidOfDeviceLink(value, "getCmdLineInfo ");
    }
}

int liveBootType(const CmdLineInfo& info)
{
    if (info.unionType == "overlay" && info.bootImage.startsWith("/live/vmlinuz")) {
        return 2;
    }
    if (info.toram == "filesystem.squashfs" && info.liveMediaPath == "usr/doppel") {
        return 1;
    }
    if (info.liveMediaPath == "recovery_live") {
        return info.bootImage.startsWith("/marlin/vmlinuz") ? 3 : -1;
    }
    return -1;
}

// The UUID of the file system an fstab device field names, resolved as the kernel and mount would: UUID= as it
// stands, LABEL=, PARTUUID= and PARTLABEL= through blkid, a device path (a by-uuid link, a mapper name) through
// the device it leads to. Empty when nothing carries it.
QString uuidOfFstabDevice(const QString& device)
{
    if (device.startsWith("UUID=")) {
        return device.mid(5).trimmed();
    }
    QString path;
    if (device.startsWith("LABEL=") || device.startsWith("PARTUUID=") || device.startsWith("PARTLABEL=")) {
        SpawnCmd("blkid", {"-l", "-o", "device", "-t", device}, path);
        path = path.trimmed();
    } else if (device.startsWith('/')) {
        path = QFileInfo(device).canonicalFilePath();
    }
    if (path.isEmpty()) {
        return QString();
    }
    QString uuid;
    SpawnCmd("blkid", {"-o", "value", "-s", "UUID", "--", path}, uuid);
    return uuid.trimmed();
}

QString joinRoot(const QString& rootPath, const QString& relative)
{
    return rootPath.endsWith('/') ? rootPath + relative : rootPath + "/" + relative;
}

// The text after the first "=" of the first line containing key; found is false when no line qualifies.
QString valueOfFirstLine(const QByteArray& content, const QString& key, bool needValue, bool& found)
{
    found = false;
    const QStringList lines = QString::fromUtf8(content).split("\n", Qt::SkipEmptyParts);
    for (const QString& line : lines) {
        if (!line.contains(key)) {
            continue;
        }
        const QString value = line.mid(line.indexOf('=') + 1);
        if (needValue && value.isEmpty()) {
            continue;
        }
        found = true;
        return value;
    }
    return QString();
}

bool installerLocale(const QString& rootPath, QString& locale)
{
    QString confPath = joinRoot(rootPath, "etc/marlin-installer/marlin-installer.conf");
    if (!QFile::exists(confPath)) {
        confPath = joinRoot(rootPath, "etc/marlin-installer.conf");
    }
    QFile conf(confPath);
    if (!conf.exists() || !conf.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return false;
    }
    bool found = false;
    const QString value = valueOfFirstLine(conf.readAll(), "DI_LOCALE=", false, found);
    if (found) {
        locale = value;
    }
    return found;
}

} // namespace

namespace Utils {

QString uuidOfDeviceLink(const QString& devicePath, const QString& logPrefix)
{
    const QFileInfo device(devicePath);
    if (!device.isSymLink()) {
        return QString();
    }
    const QString deviceTarget = device.symLinkTarget();
    qDebug().noquote() << logPrefix + "mapperTarget=" + deviceTarget;
    const QDir dir("/dev/disk/by-uuid");
    const QStringList entries = dir.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        const QFileInfo link(dir.filePath(entry));
        if (!link.isSymLink()) {
            continue;
        }
        qDebug().noquote() << logPrefix + "uuidTarget=" + link.symLinkTarget();
        // A file system has one entry there, so the first match is the only one.
        if (link.symLinkTarget() == deviceTarget) {
            return entry;
        }
    }
    return QString();
}

void parseCmdLine(const QString& cmdLine, CmdLineInfo& info)
{
    const QStringList pieces = cmdLine.split(' ');
    for (const QString& piece : pieces) {
        assignParameter(piece, info);
    }
}

bool getCmdLineInfo(CmdLineInfo& info)
{
    QFile file("/proc/cmdline");
    if (!file.exists()) {
        qWarning().noquote().nospace() << "getCmdLineInfo /proc/cmdline not exists!";
        return false;
    }
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qWarning().noquote().nospace() << "getCmdLineInfo open /proc/cmdline failed";
        return false;
    }
    parseCmdLine(QString::fromUtf8(file.readAll()), info);
    file.close();
    return true;
}

int liveTypeOf(const CmdLineInfo& info, const QString& fstabPath)
{
    if (info.boot == "live") {
        return liveBootType(info);
    }
    if (info.rootUUID.isEmpty()) {
        return -1;
    }
    // Decided positively: this is another system than the one the kernel booted only when the fstab's root is
    // known and is not the kernel's root. An fstab that names its root otherwise than by UUID= (a mapper name, a
    // by-uuid link, LABEL=, PARTUUID=) is an installed desktop like any other.
    for (const FSTabInfoPtr& entry : FSTab::getFSTabFromFile(fstabPath)) {
        if (entry->isComment || entry->isEmpty || entry->mountPoint != "/") {
            continue;
        }
        const QString uuid = uuidOfFstabDevice(entry->device);
        if (uuid.isEmpty()) {
            qWarning().noquote() << "the fstab's root cannot be resolved: " + entry->device;
            return -1;
        }
        return uuid == info.rootUUID ? 0 : 1;
    }
    qWarning().noquote() << "the fstab names no root: " + fstabPath;
    return -1;
}

int getLiveType(const QString& fstabPath)
{
    CmdLineInfo info;
    if (!getCmdLineInfo(info)) {
        return -1;
    }
    return liveTypeOf(info, fstabPath);
}

bool getSystemLocale(const QString& rootPath, QString& locale)
{
    if (rootPath.isEmpty()) {
        return false;
    }
    QFile file(joinRoot(rootPath, "etc/default/locale"));
    if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        bool found = false;
        const QString value = valueOfFirstLine(file.readAll(), "LANGUAGE=", true, found);
        if (found) {
            locale = value;
            return true;
        }
    }
    return installerLocale(rootPath, locale);
}

} // namespace Utils
