#include "LiveService.h"

#include "udisks2/UDisks2BlockDevice.h"
#include "udisks2/UDisks2Manager.h"
#include "utils.h"

#include <QCryptographicHash>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

LiveService::~LiveService()
{
    stop();
}

bool LiveService::start()
{
    if (!m_output.isOpen() && !m_output.open()) {
        return false;
    }
    QDBusConnectionInterface* bus = QDBusConnection::systemBus().interface();
    // A service that has just ended leaves the bus a moment later; one that stays is left over from an interrupted
    // run and would take the calls meant for this one.
    if (!waitUntilNameLeaves()) {
        qWarning().noquote() << "com.marlin.recovery is already owned on this bus";
        return false;
    }
    m_service.setProcessChannelMode(QProcess::MergedChannels);
    // Appended: a restarted service adds to what the first one wrote.
    m_service.setStandardOutputFile(m_output.fileName(), QIODevice::Append);
    m_service.start(QStringLiteral(MARLIN_BINARY_DIR "/src/marlin-recovery-service/marlin-recovery-service"));
    if (!m_service.waitForStarted()) {
        return false;
    }
    QDeadlineTimer deadline(20000);
    while (!bus->isServiceRegistered("com.marlin.recovery").value()) {
        if (deadline.hasExpired() || m_service.state() == QProcess::NotRunning) {
            return false;
        }
        QTest::qWait(20);
    }
    m_proxy = new ComMarlinDaemonRecoveryInterface("com.marlin.recovery", "/com/marlin/recovery",
                                                   QDBusConnection::systemBus());
    m_proxy->setTimeout(120000);
    return m_proxy->isValid();
}

void LiveService::stop()
{
    delete m_proxy;
    m_proxy = nullptr;
    if (m_service.state() != QProcess::NotRunning) {
        m_service.terminate();
        m_service.waitForFinished(10000);
    }
}

bool LiveService::waitUntilNameLeaves()
{
    QDBusConnectionInterface* bus = QDBusConnection::systemBus().interface();
    return QTest::qWaitFor([bus] { return !bus->isServiceRegistered("com.marlin.recovery").value(); }, 20000);
}

void LiveService::kill()
{
    delete m_proxy;
    m_proxy = nullptr;
    if (m_service.state() != QProcess::NotRunning) {
        m_service.kill();
        m_service.waitForFinished(10000);
    }
    waitUntilNameLeaves();
}

QJsonObject LiveService::runTask(const std::function<int(ComMarlinDaemonRecoveryInterface*)>& call, bool* succeeded,
                                 QList<int>* progress)
{
    *succeeded = false;
    QSignalSpy success(m_proxy, &ComMarlinDaemonRecoveryInterface::Success);
    QSignalSpy error(m_proxy, &ComMarlinDaemonRecoveryInterface::Error);
    QSignalSpy report(m_proxy, &ComMarlinDaemonRecoveryInterface::ReportProgress);
    if (call(m_proxy) != 0) {
        return QJsonObject();
    }
    QDeadlineTimer deadline(600000);
    while (success.isEmpty() && error.isEmpty() && !deadline.hasExpired()) {
        success.wait(1000);
    }
    for (const QList<QVariant>& args : report) {
        if (progress != nullptr) {
            progress->append(Utils::stringToJson(args.constFirst().toString()).value("progress").toInt());
        }
    }
    *succeeded = !success.isEmpty();
    const QSignalSpy& outcome = success.isEmpty() ? error : success;
    return outcome.isEmpty() ? QJsonObject() : Utils::stringToJson(outcome.constFirst().constFirst().toString());
}

QByteArray LiveService::takeOutput()
{
    QFile output(m_output.fileName());
    if (!output.open(QIODevice::ReadOnly) || !output.seek(m_shown)) {
        return QByteArray();
    }
    const QByteArray text = output.readAll();
    m_shown += text.size();
    return text;
}

void LiveService::showOutputOnFailure()
{
    const QByteArray text = takeOutput();
    if (QTest::currentTestFailed()) {
        qWarning().noquote() << "service output:\n" + QString::fromUtf8(text.right(20000));
    }
}

QString LiveService::env(const char* name)
{
    return LiveTest::env(name);
}

QString LiveService::request(int opType, const QString& operateID, const QJsonObject& extra)
{
    QJsonObject obj = extra;
    obj.insert("opType", opType);
    obj.insert("operateID", operateID);
    return Utils::jsonToString(obj);
}

namespace LiveTest {

QString env(const char* name)
{
    return QString::fromLocal8Bit(qgetenv(name));
}

bool run(const QString& program, const QStringList& args)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(program, args);
    return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

QString mountOptionsOf(const QString& device)
{
    const QStringList lines = QString::fromUtf8(readFile("/proc/self/mounts")).split('\n');
    for (const QString& line : lines) {
        if (line.startsWith(device + " ")) {
            return line.section(' ', 3, 3);
        }
    }
    return QString();
}

bool isMounted(const QString& device)
{
    return !mountOptionsOf(device).isEmpty();
}

const QStringList PartitionKeys{"EFI", "BOOT", "ROOT", "DATA", "RECOVERY", "SWAP", "SPARE", "XFS", "BTRFS", "OEM"};
const QStringList Ext4Keys{"BOOT", "ROOT", "DATA", "RECOVERY", "SPARE"};

QString partitionDevice(const QString& key)
{
    return env(qPrintable("MARLIN_" + key + "_DEV"));
}

QStringList mountedPartitions()
{
    QStringList mounted;
    for (const QString& key : PartitionKeys) {
        if (isMounted(partitionDevice(key))) {
            mounted.append(key);
        }
    }
    return mounted;
}

QMap<QString, QString> fileSystemUuids()
{
    QMap<QString, QString> uuids;
    for (const QString& key : PartitionKeys) {
        uuids.insert(key, output("blkid", {"-p", "-o", "value", "-s", "UUID", partitionDevice(key)}).trimmed());
    }
    return uuids;
}

QString output(const QString& program, const QStringList& args, int* exitCode)
{
    QProcess process;
    process.start(program, args);
    const bool ended = process.waitForFinished(600000) && process.exitStatus() == QProcess::NormalExit;
    if (exitCode != nullptr) {
        *exitCode = ended ? process.exitCode() : -1;
    }
    return QString::fromUtf8(process.readAllStandardOutput());
}

int exitCodeOf(const QString& program, const QStringList& args)
{
    int code = -1;
    output(program, args, &code);
    return code;
}

QMap<QString, QByteArray> treeOf(const QString& dir)
{
    QMap<QString, QByteArray> tree;
    QDirIterator it(dir, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info = it.fileInfo();
        const QString relative = path.mid(dir.size());
        if (info.isSymLink()) {
            tree.insert(relative, "link:" + info.symLinkTarget().toUtf8());
        } else if (info.isFile()) {
            tree.insert(relative, QCryptographicHash::hash(readFile(path), QCryptographicHash::Md5).toHex());
        } else {
            tree.insert(relative, "dir");
        }
    }
    return tree;
}
} // namespace LiveTest

bool LiveTest::breakRoot()
{
    Utils::umountDeviceByUUID(env("MARLIN_ROOT_UUID"));
    const QString device = env("MARLIN_ROOT_DEV");
    if (!run("dd", {"if=/dev/zero", "of=" + device, "bs=1M", "count=4", "conv=fsync"})) {
        return false;
    }
    run("udevadm", {"trigger", "--action=change", "--settle", device});
    // The device itself, not the UUID: a copy of the root on another disk keeps carrying it.
    const QString object = "/org/freedesktop/UDisks2/block_devices/" + QFileInfo(device).fileName();
    return QTest::qWaitFor(
        [&object] {
            std::unique_ptr<UDisks2BlockDevice> root = UDisks2Manager::createBlockDevice(object);
            return root && root->idUUID().isEmpty();
        },
        60000);
}
