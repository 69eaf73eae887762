#include "tasks/SystemRestoreTask.h"

#include "Device.h"
#include "core/command.h"
#include "tasks/WholeDisk.h"
#include "utils.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QTimer>

namespace {

QString badInitialBackup()
{
    return QCoreApplication::translate("SystemRestoreTask", "There is something wrong with your initial backup file");
}

void removePath(const QString& path, const QString& what)
{
    QString out;
    QString err;
    if (SpawnCmd("sudo", {"rm", "-rf", "--", path}, out, err)) {
        return;
    }
    qInfo().noquote() << "failed to rm " + what + " = " + path + ", err = " + err;
    qInfo() << "try rm force ...";
    Task::removeForcibly(path);
}

} // namespace

SystemRestoreTask::SystemRestoreTask(const bool& refreshDataPartition, QObject* parent)
    : Task(parent), m_refreshDataPartition(refreshDataPartition)
{
    connect(this, &Task::taskFinished, this, &SystemRestoreTask::onTaskFinished);
    QTimer::singleShot(0, this, &SystemRestoreTask::setJobs);
}

SystemRestoreTask::SystemRestoreTask(const QJsonArray& tasks, QObject* parent) : Task(parent)
{
    connect(this, &Task::taskFinished, this, &SystemRestoreTask::onTaskFinished);
    QTimer::singleShot(0, this, [this, tasks]() { setTasks(tasks); });
}

void SystemRestoreTask::setTasks(const QJsonArray& tasks)
{
    qDebug() << Q_FUNC_INFO << tasks;
    for (const QJsonValue& task : tasks) {
        if (task.toObject().value("command").toString() == "refresh-data-partition") {
            m_refreshDataPartition = true;
        }
    }
    setJobs();
}

void SystemRestoreTask::saveLoginRecords(const QString& recoveryMountPoint)
{
    const QJsonObject subAction{{"sub_action", m_refreshDataPartition ? 2 : 1},
                                {"timestamp", Utils::getCurrentTimeByDate()}};
    writeEventLog(QJsonObject{{"action", 2}, {"sub_actions", QJsonArray{subAction}}}, recoveryMountPoint);
    const QString dataMount = mountDeviceFromUUID(m_dataUUID);
    if (!dataMount.isEmpty()) {
        SpawnCmd("sudo", {"cp", "-a", "--", dataMount + "/var/log/wtmp", privateTempPath("wtmp.bak")});
        qDebug() << "writeEventLog and backup wtmp";
    }
}

QString SystemRestoreTask::encryptedRootTarget(const QString& toPath)
{
    QList<DeviceInfoPtr> disks, containers, pvPartitions, partitions, volumes, encryptedFileSystems;
    Device::getDeviceListsByType(disks, containers, pvPartitions, partitions, volumes, encryptedFileSystems);
    if (encryptedFileSystems.isEmpty()) {
        return toPath;
    }
    Device::getDiskTree(disks, containers, pvPartitions, partitions, volumes, encryptedFileSystems);
    for (const DeviceInfoPtr& fileSystem : encryptedFileSystems) {
        const DeviceInfoPtr container = fileSystem->parent();
        if (fileSystem->uuid == m_rootUUID && container) {
            m_openedMapperPath = toPath;
            return container->deviceFile;
        }
    }
    return toPath;
}

void SystemRestoreTask::setJobs()
{
    qDebug() << "in setJobs";
    if (refuseAmbiguousSystem()) {
        return;
    }
    const QString recoveryMountPoint = mountDeviceFromUUID(m_recoveryUUID);
    if (recoveryMountPoint.isEmpty()) {
        qDebug() << "recoveryMountPoint is empty";
        // Without the initial backup there is nothing to restore; say so instead of leaving the GUI waiting.
        reportFailure(badInitialBackup());
        return;
    }
    const QDir backup(QString("%1/backup").arg(recoveryMountPoint), "*.rbk");
    for (const QString& entry : backup.entryList()) {
        const QString base = QFileInfo(entry).baseName();
        const QString image = QString("%1/%2.rbk").arg(backup.path(), base);
        if (!Utils::isValidRbkFile(image) || !checkMD5(image, QString("%1/%2.md5").arg(backup.path(), base))) {
            reportFailure(badInitialBackup());
            return;
        }
        QFile info(QString("%1/%2.info").arg(backup.path(), base));
        // An image that names no partition cannot be put back, and leaving it out is no restore.
        if (!info.open(QIODevice::ReadOnly | QIODevice::Text)) {
            qCritical().noquote() << "the initial backup's image has no .info: " + image;
            reportFailure(badInitialBackup());
            return;
        }
        m_initRootUUID = QString::fromUtf8(info.readAll()).simplified();
        // Only this system's own partitions are written, and never the one the backup is read from.
        if (!isRestoreTarget(m_initRootUUID)) {
            qCritical().noquote() << "the initial backup names no partition of this system: " + image +
                                         ", uuid: " + m_initRootUUID;
            reportFailure(badInitialBackup());
            return;
        }
        if (holdsPersonalFiles(m_initRootUUID)) {
            qInfo().noquote() << "keeping personal files: the image of the data partition is not written, " + image;
            continue;
        }
        QString toPath = targetPathFromUUID(m_initRootUUID);
        // An image left out would leave its partition as it is (a reformatted boot: a system that does not start)
        // while the restore says it succeeded.
        if (toPath.isEmpty()) {
            qCritical().noquote() << "no partition for the initial backup's image " + image +
                                         ", uuid: " + m_initRootUUID;
            reportFailure(QCoreApplication::translate("SystemRestoreTask",
                                                      "The partition for \"%1\" of the initial backup cannot be "
                                                      "found (it may have been formatted). Nothing was restored.")
                              .arg(base));
            return;
        }
        if (m_initRootUUID == m_rootUUID) {
            toPath = encryptedRootTarget(toPath);
        }
        qDebug() << "fromPath:" << image;
        qDebug() << "toPath:" << toPath;
        addJob(image, toPath, ImageJob);
    }
    checkJobs();
    if (m_isError || !checkImageJobs(badInitialBackup())) {
        return;
    }
    // Recorded only for a restore that passed its checks and is about to run.
    saveLoginRecords(recoveryMountPoint);
    start();
}

void SystemRestoreTask::removeEntries(const QString& dirPath, const QStringList& kept)
{
    const QDir dir(dirPath);
    const QStringList names = dir.entryList(QDir::Files | QDir::AllDirs | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        const QString path = QString("%1/%2").arg(dirPath, name);
        if (QFileInfo(path).isDir() && kept.contains(name)) {
            continue;
        }
        qInfo().noquote() << "rm filePath = " + path;
        removePath(path, "filePath");
    }
}

void SystemRestoreTask::removeUserData()
{
    if (m_dataUUID.isEmpty()) {
        qDebug() << "can not found data parttition!";
        return;
    }
    if (!m_refreshDataPartition) {
        qDebug() << "do not remove any user data!";
        return;
    }
    const QString mountPoint = mountDeviceFromUUID(m_dataUUID);
    if (mountPoint.isEmpty()) {
        qDebug() << "can not found data mount point!";
        return;
    }
    const QString homeDir = QString("%1/home/").arg(mountPoint);
    qDebug() << "home dir entry:" << QDir(homeDir).entryList();
    const QStringList homes =
        QDir(homeDir).entryList(QDir::Files | QDir::AllDirs | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString& name : homes) {
        const QString path = QString("%1/home/%2").arg(mountPoint, name);
        qDebug() << "start rm:" << path;
        removePath(path, "dirPath");
    }
    if (m_dataUUID != m_rootUUID) {
        removeEntries(mountPoint, {"home", "lost+found", "opt", "root", "var"});
    }
    umountDeviceFromUUID(m_dataUUID);
    qDebug() << "Deleted user data";
}

// opt and var of the restored root move onto the data partition. Each move is copy, then swap, then delete: cut off
// anywhere, the next run of the same restore writes the root again and moves them again.
bool SystemRestoreTask::fixDataPartition()
{
    const QString rootUUID = restoredRootUUID();
    qWarning().noquote() << "SystemRestoreTask::fixDataPartition, rootUUID: " + rootUUID +
                                ", m_dataUUID: " + m_dataUUID;
    const QString systemMount = mountDeviceFromUUID(rootUUID);
    const QString dataMount = mountDeviceFromUUID(m_dataUUID);
    if (systemMount.isEmpty() || dataMount.isEmpty()) {
        qDebug() << "system or data uuid is empty!";
        return false;
    }
    qDebug() << "system mount point:" << systemMount;
    qDebug() << "data mount point:" << dataMount;
    for (const QString& name : {QString("var"), QString("opt")}) {
        if (!moveToData(systemMount, dataMount, name)) {
            return false;
        }
    }
    qDebug() << "fix data partition end!";
    return true;
}

bool SystemRestoreTask::moveToData(const QString& systemMount, const QString& dataMount, const QString& name)
{
    const QString source = QString("%1/%2").arg(systemMount, name);
    if (!QFileInfo(source).isDir() || QFileInfo(source).isSymLink()) {
        return true;
    }
    const QString staged = QString("%1/.%2.restoring").arg(dataMount, name);
    const QString target = QString("%1/%2").arg(dataMount, name);
    Task::removeForcibly(staged);
    QString out;
    QString err;
    qDebug().noquote() << "start cp '" + name + "' directory:";
    if (!SpawnCmd("sudo", {"cp", "-a", "--", source, staged}, out, err)) {
        qCritical().noquote() << "copying " + source + " onto the data partition failed: " + err;
        Task::removeForcibly(staged);
        return false;
    }
    Task::removeForcibly(target);
    if (!SpawnCmd("sudo", {"mv", "-T", "--", staged, target}, out, err)) {
        qCritical().noquote() << "moving " + staged + " into place failed: " + err;
        return false;
    }
    // The copy is in place; a leftover below the root only costs space.
    if (!Task::removeForcibly(source)) {
        qWarning().noquote() << "could not remove " + source + " after moving it";
    }
    return true;
}

// Keeping personal files promises the homes as they are now: the data partition's state at installation must not
// come back over them. A factory reset writes it.
bool SystemRestoreTask::holdsPersonalFiles(const QString& uuid) const
{
    return !m_refreshDataPartition && m_dataUUID != m_rootUUID && uuid == m_dataUUID;
}

// Besides the partitions the system names, a partition of the system's disk is taken when it is the root of the
// initial backup (another slot than today's root), or when the root is too broken to name its partitions.
bool SystemRestoreTask::isRestoreTarget(const QString& uuid)
{
    if (uuid.isEmpty() || uuid == m_recoveryUUID) {
        return false;
    }
    if (isSystemPartition(uuid)) {
        return true;
    }
    const bool onSystemDisk = installedSystem().holds(targetPathFromUUID(uuid));
    return onSystemDisk && (uuid == m_originRootUUID || !rootFactsRead());
}

QString SystemRestoreTask::restoredRootUUID() const
{
    return m_originRootUUID.isEmpty() ? m_rootUUID : m_originRootUUID;
}

void SystemRestoreTask::onTaskFinished()
{
    // The encrypted root's mapping was closed before its container was written.
    refreshRootFacts();
    removeUserData();
    if (m_rootUUID != m_dataUUID && !fixDataPartition()) {
        reportJobFailure();
        return;
    }
    convertVersion(restoredRootUUID());
    resetEFI();
    Q_EMIT finished();
}
