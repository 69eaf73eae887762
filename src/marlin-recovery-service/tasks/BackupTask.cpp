#include "tasks/BackupTask.h"

#include "MountPath.h"
#include "core/command.h"
#include "utils.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

namespace {

const QString WriteFileScript = "/lib/marlin-recovery-gui/scripts/write-file";
const QString CreateDataInfoScript = "/lib/marlin-recovery-gui/scripts/create-data-info";

} // namespace

QString taskArgument(const QJsonArray& args, int index)
{
    return args.at(index).toString().split(':').constLast().simplified();
}

BackupTask::BackupTask(const QJsonArray& tasks, const ActionType& type, QObject* parent)
    : Task(parent), m_actionType(type)
{
    Q_UNUSED(tasks)
    connect(this, &Task::taskFinished, this, &BackupTask::onTaskFinished);
    connect(this, &Task::failed, this, &Task::releaseReadOnlyMounts);
}

void BackupTask::runTasks(const QJsonArray& tasks)
{
    setTasks(tasks);
    if (m_actionType == OpManualBackup) {
        umountDeviceFromUUID(m_dataUUID);
    }
    start();
}

void BackupTask::setTasks(const QJsonArray& tasks)
{
    qInfo().noquote() << "BackupTask::setTasks, tasks size = " + QString::number(tasks.size());
    for (const QJsonValue& value : tasks) {
        const QJsonObject task = value.toObject();
        const QString command = task.value("command").toString();
        const QJsonArray args = task.value("args").toArray();
        if (command == "create-backup-image" && !addImageJob(args)) {
            return;
        }
        if (command == "create-backup-directory") {
            addDirectoryJobs(args);
        }
    }
    checkJobs();
}

bool BackupTask::addImageJob(const QJsonArray& args)
{
    if (args.size() < 3) {
        qDebug() << "args size is empty or less 3";
        return true;
    }
    const QString fromUUID = taskArgument(args, 0);
    QString fromPath;
    QString content;
    if (m_actionType == OpSystemBackup) {
        fromPath = devicePathFromUUID(fromUUID);
        content = "UUID=" + fromUUID;
    } else {
        const QPair<QString, QString> driveAndDisk = driveAndDiskFromUUID(fromUUID);
        fromPath = driveAndDisk.second;
        content = "DiskDrive=" + driveAndDisk.first;
    }
    if (fromPath.isEmpty()) {
        qDebug() << "from path is empty";
        return true;
    }
    qInfo().noquote() << "BackupTask::setTasks, fromUUID = " + fromUUID + ", fromPath = " + fromPath +
                             ", targetContent = " + content;
    const QString toUUID = taskArgument(args, 1);
    const QString mountPoint = mountDeviceFromUUID(toUUID);
    if (mountPoint.isEmpty()) {
        qCritical().noquote() << "dest path is empty, not find dest UUID: " + toUUID;
        reportFailure(QCoreApplication::translate("BackupTask", "Cannot find the target location"));
        return false;
    }
    const QString toPath = backupDirectory(mountPoint, args.at(2).toString());
    const QString imageName = args.at(3).toString();
    if (toPath.isEmpty() || imageName.isEmpty() || imageName.contains('/') || imageName == ".." || imageName == ".") {
        reportFailure(QCoreApplication::translate("BackupTask", "Cannot find the target location"));
        return false;
    }
    SpawnCmd("sudo", {"mkdir", "-p", "--", toPath});
    // The installed system's tools list and read backups as their users; nobody but root may change what root
    // restores later.
    SpawnCmd("sudo", {"setfacl", "-m", "o:rx", "--", toPath});
    if (m_toPath.isEmpty()) {
        m_toPath = toPath;
    }
    const QString image = toPath + imageName;
    qInfo().noquote() << "BackupTask::setTasks, toUUID = " + toUUID + ", fromPath = " + fromPath +
                             ", toPath = " + toPath;
    addJob(fromPath, image, ImageJob);
    // The image does not exist before its job has run: the disk information goes in afterwards.
    m_diskInfos.insert(image, content + "\\nVersion=" + m_infoVersion);
    return true;
}

void BackupTask::addDirectoryJobs(const QJsonArray& args)
{
    qDebug() << "set opt and var directory backup!";
    if (args.size() < 3) {
        qDebug() << "args size is empty or less 3";
        return;
    }
    const QString fromUUID = taskArgument(args, 0);
    const QString toUUID = taskArgument(args, 1);
    const QString toMount = mountDeviceFromUUID(toUUID);
    const QString toPath = toMount.isEmpty() ? QString() : backupDirectory(toMount, args.at(2).toString());
    if (toPath.isEmpty()) {
        qCritical().noquote() << "archives: the destination is not found, uuid: " + toUUID;
        reportFailure(QCoreApplication::translate("BackupTask", "Cannot find the target location"));
        return;
    }
    // Read-only, so that the file system cannot change while it is archived (or imaged by a job that comes later);
    // only a backup onto the same partition needs it writable.
    const QString fromMount = fromUUID == toUUID ? toMount : mountReadOnlyFromUUID(fromUUID);
    // Without the partition the archives would be made of the live system's own directories.
    if (fromMount.isEmpty()) {
        qCritical().noquote() << "archives: the partition does not mount, uuid: " + fromUUID;
        reportFailure(QCoreApplication::translate("BackupTask", "Backup error, please try again"));
        return;
    }
    // An image job of the same partition unmounts it while it runs: the archives mount it again.
    rememberJobMount(fromMount, fromUUID);
    rememberJobMount(toMount, toUUID);
    for (const QString& name : {QString("opt"), QString("var")}) {
        const QString archive = QString("%1%2.tar").arg(toPath, name);
        if (!addDirectoryArchive(fromUUID, fromMount, name, archive)) {
            reportFailure(QCoreApplication::translate("BackupTask", "Backup error, please try again"));
            return;
        }
    }
}

// The archive starts with its "datainfo" member, made in the service's private directory: the partition being
// backed up is never written to.
bool BackupTask::addDirectoryArchive(const QString& fromUUID, const QString& fromMount, const QString& name,
                                     const QString& archive)
{
    const QString dataInfo = privateTempPath("datainfo");
    QFile::remove(dataInfo);
    QString out;
    QString err;
    const bool made = SpawnCmd("sudo", {CreateDataInfoScript, fromUUID, name, dataInfo}, out, err) &&
                      SpawnCmd("sudo",
                               {"tar", "--xattrs", "--xattrs-include=*", "-cpf", archive, "-C",
                                QFileInfo(dataInfo).path(), "datainfo"},
                               out, err);
    QFile::remove(dataInfo);
    if (!made) {
        qCritical().noquote() << "archive " + archive + " could not be started: " + err;
        return false;
    }
    addJob(QString("%1/%2").arg(fromMount, name), archive, ArchiveAppendJob);
    return true;
}

// The backup directory a task names below a partition, with a slash at the end; empty when it would lie outside it.
QString BackupTask::backupDirectory(const QString& mountPoint, const QString& relative)
{
    const QString path = MountPath::resolveInside(mountPoint, relative);
    if (path.isEmpty()) {
        qCritical().noquote() << "backup directory refused, outside its partition: " + mountPoint + " + " + relative;
        return QString();
    }
    return path + "/";
}

bool BackupTask::writeDiskInfo(const QString& image, const QString& content)
{
    QFile::remove(m_diskInfoName);
    QString out;
    QString err;
    if (!SpawnCmd("sudo", {WriteFileScript, m_diskInfoName, content}, out, err) || !QFile::exists(m_diskInfoName)) {
        qCritical().noquote() << "the disk information for " + image + " could not be written: " + err;
        return false;
    }
    const bool stored = SpawnCmd(
        "sudo",
        {"marlin-clone", "--write-custom-file", QString("rbk://%1/%2").arg(image, m_diskInfoName), m_diskInfoName}, out,
        err);
    QFile::remove(m_diskInfoName);
    if (!stored) {
        qCritical().noquote() << "the disk information could not be stored in " + image + ": " + err;
    }
    return stored;
}

void BackupTask::onTaskFinished()
{
    releaseReadOnlyMounts();
    ::sync();
    ::sync();
    if (m_isError) {
        return;
    }
    // Images that are not where they were written are no backup.
    if (!QDir(m_toPath).exists()) {
        reportFailure(QCoreApplication::translate("BackupTask", "Backup error, please try again"));
        return;
    }
    for (auto it = m_diskInfos.constBegin(); it != m_diskInfos.constEnd(); ++it) {
        // An image without its disk information would be restored onto the wrong partition, or not at all.
        if (!writeDiskInfo(it.key(), it.value())) {
            reportFailure(QCoreApplication::translate("BackupTask", "Backup error, please try again"));
            return;
        }
    }
    const QStringList images = QDir(m_toPath).entryList({"*.rbk"});
    for (const QString& name : images) {
        const QString image = m_toPath + "/" + name;
        if (!Utils::isValidRbkFile(image)) {
            reportFailure(QCoreApplication::translate("BackupTask", "Backup error, please try again"));
            return;
        }
        // A backup whose digest is missing could never be restored: that is a failed backup.
        if (!writeMD5(image)) {
            reportFailure(QCoreApplication::translate("BackupTask", "Backup error, please try again"));
            return;
        }
    }
    Q_EMIT finished();
}

// md5sum runs with an argument list and its output is written here: no shell line is built from the paths.
bool BackupTask::writeMD5(const QString& image)
{
    const QString md5 = image + ".md5";
    qWarning().noquote() << "BackupTask::taskFinished, m_toPath : " + m_toPath + ", rbkMd5File: " + md5;
    QString out;
    QString err;
    const bool ok = SpawnCmd("md5sum", {image}, out, err);
    const QByteArray digest = out.toUtf8();
    QFile file(md5);
    if (!ok || !file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(digest) != digest.size()) {
        qCritical().noquote() << "BackupTask::taskFinished, md5sum out = " + out + ", err = " + err;
        return false;
    }
    return true;
}
