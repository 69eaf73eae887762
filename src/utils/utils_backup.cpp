#include "utils.h"

#include "TarListing.h"
#include "core/command.h"
#include "udisks2/UDisks2BlockDevice.h"
#include "udisks2/UDisks2Manager.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QMap>
#include <QSettings>

#include <sys/stat.h>

#include <algorithm>

namespace {

// The KEY="value" pairs after a blkid line's device, read pair by pair: blkid escapes a quote or backslash inside a
// value, so a label such as `x" UUID="y` stays a label and never names another field.
QMap<QString, QString> blkIdPairs(const QString& line, int colon)
{
    QMap<QString, QString> pairs;
    int at = colon + 1;
    while (at < line.size()) {
        while (at < line.size() && line.at(at) == ' ') {
            ++at;
        }
        const int equals = line.indexOf('=', at);
        if (equals < 0 || equals + 1 >= line.size() || line.at(equals + 1) != '"') {
            break;
        }
        QString value;
        int pos = equals + 2;
        for (; pos < line.size() && line.at(pos) != '"'; ++pos) {
            if (line.at(pos) == '\\' && pos + 1 < line.size()) {
                ++pos;
            }
            value.append(line.at(pos));
        }
        if (pos >= line.size()) {
            break;
        }
        const QString key = line.mid(at, equals - at);
        if (!pairs.contains(key)) {
            pairs.insert(key, value);
        }
        at = pos + 1;
    }
    return pairs;
}

BlkIdInfo blkIdInfoFromLine(const QString& line, int colon)
{
    const QMap<QString, QString> pairs = blkIdPairs(line, colon);
    BlkIdInfo info;
    info.devicePath = line.left(colon);
    info.partUuid = pairs.value("PARTUUID");
    info.uuid = pairs.value("UUID");
    info.partLabel = pairs.value("PARTLABEL");
    info.label = pairs.value("LABEL");
    info.type = pairs.value("TYPE");
    info.labelFatBoot = pairs.value("LABEL_FATBOOT");
    info.ptUuid = pairs.value("PTUUID");
    info.ptType = pairs.value("PTTYPE");
    return info;
}

// Logical volumes that blkid did not print still exist under /dev/mapper/; list them as bare records.
bool appendLvmMappers(QList<BlkIdInfo>& list, const QStringList& knownMappers)
{
    QString output;
    QString err;
    if (!SpawnCmd("/bin/bash", {"-c", "ls -l /dev/mapper/ | grep dm- | awk '{print $9}'"}, output, err)) {
        qWarning().noquote().nospace() << "ls -l /dev/mapper/ failed, error: " << err;
        return false;
    }
    qInfo().noquote().nospace() << "lvmOutput: " << output;
    const QStringList names = output.split("\n", Qt::SkipEmptyParts);
    for (const QString& rawName : names) {
        const QString name = rawName.trimmed();
        const QString path = "/dev/mapper/" + name;
        if (name.startsWith("luks") || knownMappers.contains(path)) {
            continue;
        }
        BlkIdInfo info;
        info.devicePath = path;
        list.append(info);
    }
    return true;
}

quint32 secondsOf(const QString& createTime)
{
    bool ok = false;
    const quint32 seconds = createTime.toUInt(&ok);
    return ok ? seconds : 0;
}

void appendBackups(QList<BackupFileInfo>& list, const QString& uuid, const QString& mountPath,
                   const QJsonObject& backups)
{
    for (auto it = backups.constBegin(); it != backups.constEnd(); ++it) {
        const QString dirPath = mountPath + it.value().toString();
        if (!Utils::isBackupDirectory(dirPath)) {
            continue;
        }
        BackupFileInfo info;
        info.backupUUID = uuid;
        info.backupPath = dirPath;
        info.createTime = it.key();
        info.backupTime = QDateTime::fromSecsSinceEpoch(secondsOf(it.key())).toString("yyyy/MM/dd");
        info.backupSize = Utils::backupSizeOnDisk(dirPath);
        list.append(info);
    }
}

// Runs fsck with an argument list (the device path comes from a request and never enters a shell line) and gives
// its exit code (-1 when it did not run to its end) to the caller, which alone knows what fsck's codes mean.
int runFsck(const QStringList& fsckArgs, const QString& devicePath, QString* output, QString* err)
{
    QString out;
    QString errors;
    const int exitCode = SpawnCmdExitCode("sudo", QStringList{"fsck"} + fsckArgs + QStringList{devicePath},
                                          QProcessEnvironment::systemEnvironment(), out, errors);
    qInfo().noquote().nospace() << "fsck: exitCode: " << exitCode << ", devicePath: " << devicePath;
    if (output != nullptr) {
        output->append(out);
    }
    if (err != nullptr) {
        err->append(errors);
    }
    return exitCode;
}

// The bytes of a store image's chunks that no other image references: what deleting it would free. Zero for a
// self-contained image, or when the store's other images cannot all be read.
qint64 storeBytesOwnedBy(const QString& image)
{
    QString output;
    QString err;
    if (!SpawnCmd("marlin-clone", {"--rbk-info", image}, output, err)) {
        return 0;
    }
    for (const QString& line : output.split('\n')) {
        if (line.startsWith("store-bytes-own=")) {
            return line.mid(16).toLongLong();
        }
    }
    return 0;
}

} // namespace

namespace Utils {

qint64 backupSizeOnDisk(const QString& dirPath)
{
    qint64 total = 0;
    for (const QFileInfo& file : QDir(dirPath).entryInfoList(QDir::Files | QDir::NoSymLinks)) {
        total += file.size();
        if (file.suffix() == "rbk") {
            total += storeBytesOwnedBy(file.filePath());
        }
    }
    return total;
}

bool isBackupDirectory(const QString& dirPath)
{
    // Only files count: a directory named like an archive holds nothing to restore.
    const QDir dir(dirPath);
    const QDir::Filters files = QDir::Files | QDir::NoSymLinks;
    const QStringList rbkList = dir.entryList({"*.rbk"}, files);
    const QStringList tarFileList = dir.entryList({"*.tar"}, files);
    qInfo().noquote().nospace() << "backupFilePath = " << dirPath << ", rbkList = " << rbkList
                                << ", tarFileList = " << tarFileList;
    if (rbkList.isEmpty() || tarFileList.size() != 2) {
        return false;
    }
    // The checksums are written last: a backup cut off or failed lacks some.
    const auto hasChecksum = [&dir](const QString& name) { return QFileInfo(dir.filePath(name + ".md5")).isFile(); };
    if (!std::all_of(rbkList.cbegin(), rbkList.cend(), hasChecksum)) {
        return false;
    }
    const int summed = int(std::count_if(tarFileList.cbegin(), tarFileList.cend(), hasChecksum));
    if (summed == tarFileList.size()) {
        return true;
    }
    // A backup made before archives had checksums: each archive must still be whole.
    QStringList members;
    return summed == 0 && std::all_of(tarFileList.cbegin(), tarFileList.cend(), [&](const QString& name) {
               return TarListing::listWhole(dir.filePath(name), members);
           });
}

bool isBlockDevice(const QString& path)
{
    struct stat info
    {
    };
    return !path.isEmpty() && ::stat(QFile::encodeName(path).constData(), &info) == 0 && S_ISBLK(info.st_mode);
}

bool getBlkIdInfoList(QList<BlkIdInfo>& list, QString& err)
{
    list.clear();
    QString output;
    if (!SpawnCmd("/bin/bash", {"-c", "sudo blkid"}, output, err)) {
        qWarning().noquote().nospace() << "getBlkid failed, error: " << err;
        return false;
    }
    bool hasLvmMember = false;
    QStringList knownMappers;
    const QStringList lines = output.split("\n", Qt::SkipEmptyParts);
    for (const QString& rawLine : lines) {
        const QString line = rawLine.trimmed();
        const int colon = line.indexOf(':');
        if (colon < 0) {
            qInfo().noquote().nospace() << "getBlkIdInfoList line: " << line;
            continue;
        }
        const BlkIdInfo info = blkIdInfoFromLine(line, colon);
        hasLvmMember = hasLvmMember || info.type.contains("LVM2_member", Qt::CaseInsensitive);
        if (info.devicePath.startsWith("/dev/mapper/") && !info.devicePath.startsWith("/dev/mapper/luks")) {
            knownMappers.append(info.devicePath);
        }
        list.append(info);
    }
    return !hasLvmMember || appendLvmMappers(list, knownMappers);
}

QJsonObject readJsonObject(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return QJsonObject();
    }
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError || doc.isNull() || !doc.isObject()) {
        return QJsonObject();
    }
    return doc.object();
}

void getHistoryBackup(QList<BackupFileInfo>& list, const QString& historyFile, bool umountAfter)
{
    list.clear();
    const QJsonObject history = readJsonObject(historyFile);
    for (auto it = history.constBegin(); it != history.constEnd(); ++it) {
        const QString uuid = it.key();
        const QString mountPath = mountDeviceByUUID(uuid);
        if (mountPath.isEmpty()) {
            continue;
        }
        appendBackups(list, uuid, mountPath, it.value().toObject());
        std::stable_sort(list.begin(), list.end(), [](const BackupFileInfo& a, const BackupFileInfo& b) {
            return secondsOf(a.createTime) > secondsOf(b.createTime);
        });
        if (umountAfter) {
            qInfo().noquote().nospace() << "getHistoryBackup, umount uuid: " << uuid << ", mountPoint: " << mountPath;
            umountDeviceByUUID(uuid);
        }
    }
}

QVariant getHistoryBackupPathList(const QString& historyFile)
{
    BackupPathList pairs;
    const QJsonObject history = readJsonObject(historyFile);
    for (auto it = history.constBegin(); it != history.constEnd(); ++it) {
        const QString mountPath = mountDeviceByUUID(it.key());
        if (mountPath.isEmpty()) {
            continue;
        }
        const QJsonObject backups = it.value().toObject();
        for (auto backup = backups.constBegin(); backup != backups.constEnd(); ++backup) {
            pairs.append({backup.key(), mountPath + backup.value().toString()});
        }
    }
    std::stable_sort(pairs.begin(), pairs.end(),
                     [](const QPair<QString, QString>& a, const QPair<QString, QString>& b) {
                         return secondsOf(a.first) > secondsOf(b.first);
                     });
    return QVariant::fromValue(pairs);
}

bool getRecoveryJsonInfo(QJsonObject& obj, const QString& recoveryJsonPath)
{
    qInfo().noquote().nospace() << "getRecoveryJsonInfo, recoveryJsonPath = " << recoveryJsonPath;
    QFile file(recoveryJsonPath);
    if (!file.exists() || !file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return false;
    }
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll());
    file.close();
    qDebug().noquote().nospace() << "delete file: " << recoveryJsonPath;
    SpawnCmd("sudo", {"rm", "-f", recoveryJsonPath});
    obj = doc.object();
    return true;
}

QString mountDeviceByUUID(const QString& uuid)
{
    if (uuid.isEmpty()) {
        return QString();
    }
    const QStringList paths = UDisks2Manager::blockDevices();
    for (const QString& path : paths) {
        std::unique_ptr<UDisks2BlockDevice> device = UDisks2Manager::createBlockDevice(path);
        if (!device) {
            qDebug().noquote().nospace() << "mountDeviceByUUID device is null, uuid = " << uuid << ", path = " << path;
            return QString();
        }
        if (device->idUUID() != uuid) {
            continue;
        }
        device->setWatchChanges(true);
        const QString mounted = device->mount({}).simplified();
        if (!mounted.contains(' ')) {
            return mounted;
        }
        // Usually "already mounted": the existing mount point serves as well.
        const QByteArrayList points = device->mountPoints();
        return points.isEmpty() ? QString() : QString::fromUtf8(points.constFirst());
    }
    return QString();
}

QString mountReadOnlyByUUID(const QString& uuid, bool& wasMounted)
{
    std::unique_ptr<UDisks2BlockDevice> device = uuid.isEmpty() ? nullptr : UDisks2Manager::blockDeviceByUUID(uuid);
    wasMounted = false;
    return device ? mountReadOnly(*device, wasMounted) : QString();
}

QString mountPointOfUUID(const QString& uuid)
{
    std::unique_ptr<UDisks2BlockDevice> device = UDisks2Manager::blockDeviceByUUID(uuid);
    const QByteArrayList points = device ? device->mountPoints() : QByteArrayList();
    return points.isEmpty() ? QString() : QString::fromUtf8(points.constFirst());
}

void umountDeviceByUUID(const QString& uuid)
{
    std::unique_ptr<UDisks2BlockDevice> device = UDisks2Manager::blockDeviceByUUID(uuid);
    if (device) {
        device->unmount({});
    }
}

bool checkPartitionErrorByFsck(const QString& devicePath)
{
    if (!isBlockDevice(devicePath)) {
        qWarning().noquote().nospace() << "checkPartitionErrorByFsck, not a block device: " << devicePath;
        return false;
    }
    return runFsck({"-v", "-n"}, devicePath, nullptr, nullptr) == 4;
}

bool fixPartitionByFsck(const QString& devicePath, QString& output, QString& err)
{
    if (!isBlockDevice(devicePath)) {
        qWarning().noquote().nospace() << "fixPartitionByFsck, not a block device: " << devicePath;
        return false;
    }
    const int exitCode = runFsck({"-y"}, devicePath, &output, &err);
    return exitCode == 0 || exitCode == 1;
}

bool getSwapPartitionSize(const QString& devicePath, qint64& size)
{
    size = 0;
    QString output;
    QString err;
    if (!SpawnCmd("lsblk", {"--bytes", "--output", "PATH,SIZE"}, output, err)) {
        qInfo().noquote().nospace() << "getSwapPartitionSize call lsblk failed, err = " << err << ", out: " << output;
        return false;
    }
    const QStringList lines = output.split("\n", Qt::SkipEmptyParts);
    for (const QString& line : lines) {
        const QStringList fields = line.split(" ", Qt::SkipEmptyParts);
        if (fields.size() > 1 && fields.constFirst().trimmed() == devicePath) {
            size = fields.constLast().trimmed().toLongLong();
            break;
        }
    }
    return true;
}

QString getRecoveryConfUUID(const QString& rootPath)
{
    const QString confPath = QString("%1/etc/marlin/system-recovery.conf").arg(rootPath);
    if (!QFile::exists(confPath)) {
        return QString();
    }
    const QSettings settings(confPath, QSettings::IniFormat);
    return settings.value("UUID").toString();
}

} // namespace Utils
