#include "tasks/BackupTask.h"

#include "MountPath.h"
#include "core/command.h"
#include "tasks/BackupOutput.h"
#include "tasks/RestoreDisks.h"
#include "utils.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <unistd.h>

namespace {

const QString WriteFileScript = "/lib/marlin-recovery-gui/scripts/write-file";
const QString CreateDataInfoScript = "/lib/marlin-recovery-gui/scripts/create-data-info";
// strerror(ENOSPC) as the cloning tool (which never sets a locale) and tar (run in the C locale) print it.
const QString NoSpace = "No space left on device";

const char* const NoTarget = QT_TRANSLATE_NOOP("BackupTask", "Cannot find the target location");
const char* const BackupError = QT_TRANSLATE_NOOP("BackupTask", "Backup error, please try again");
const char* const TargetFull =
    QT_TRANSLATE_NOOP("BackupTask", "The target location is full, please free up some space and try again");
const char* const TargetNotPrivate = QT_TRANSLATE_NOOP(
    "BackupTask", "Other users can change the target location, please choose a folder only administrators can change");

} // namespace

QString taskArgument(const QJsonArray& args, int index)
{
    return args.at(index).toString().split(':').constLast().simplified();
}

BackupTask::BackupTask(const QJsonArray& tasks, const ActionType& type, QObject* parent)
    : Task(parent), m_writeFileScript(WriteFileScript), m_actionType(type)
{
    Q_UNUSED(tasks)
    connect(this, &Task::taskFinished, this, &BackupTask::onTaskFinished);
    // Before anyone hears of the failure: what this run wrote is gone by then.
    connect(this, &Task::failed, this, &BackupTask::onFailed);
    connect(this, &Task::failed, this, &Task::releaseReadOnlyMounts);
}

BackupTask::~BackupTask() = default;

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
        if (command == "create-backup-directory" && !addDirectoryJobs(args)) {
            return;
        }
    }
    checkJobs();
}

BackupOutput* BackupTask::outputFor(const QString& toUUID, const QString& relative)
{
    const QString mountPoint = mountDeviceFromUUID(toUUID);
    const QString path = QDir::cleanPath(MountPath::resolveInside(mountPoint, relative));
    for (const std::unique_ptr<BackupOutput>& output : m_outputs) {
        if (!path.isEmpty() && output->finalPath() == path) {
            return output.get();
        }
    }
    auto output = std::make_unique<BackupOutput>();
    if (mountPoint.isEmpty() || !output->open(mountPoint, relative)) {
        qCritical().noquote() << "the backup directory cannot be made, uuid: " + toUUID + ", directory: " + relative;
        reportFailure(QCoreApplication::translate("BackupTask", output->lastError() == ENOSPC  ? TargetFull
                                                                : output->lastError() == EPERM ? TargetNotPrivate
                                                                                               : NoTarget));
        return nullptr;
    }
    qInfo().noquote() << "backup directory " + output->finalPath() + ", built in " + output->workPath();
    m_outputs.push_back(std::move(output));
    return m_outputs.back().get();
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
        // What a smaller disk needs to take the image: everything past the last partition can be left out.
        const qint64 end = RestoreDisks::partitionsEnd(fromPath);
        if (end > 0) {
            content += "\\nPartitionsEnd=" + QString::number(end);
        }
    }
    if (fromPath.isEmpty()) {
        qDebug() << "from path is empty";
        return true;
    }
    qInfo().noquote() << "BackupTask::setTasks, fromUUID = " + fromUUID + ", fromPath = " + fromPath +
                             ", targetContent = " + content;
    const QString imageName = args.at(3).toString();
    if (imageName.isEmpty() || imageName.contains('/') || imageName == ".." || imageName == ".") {
        reportFailure(QCoreApplication::translate("BackupTask", NoTarget));
        return false;
    }
    BackupOutput* output = outputFor(taskArgument(args, 1), args.at(2).toString());
    if (output == nullptr) {
        return false;
    }
    const QString image = output->workPath() + "/" + imageName;
    qInfo().noquote() << "BackupTask::setTasks, fromPath = " + fromPath + ", image = " + image;
    addJob(fromPath, image, ImageJob).store = output->storePath();
    // The image does not exist before its job has run: the disk information goes in afterwards.
    m_files.append({output, imageName, content + "\\nVersion=" + m_infoVersion, false});
    return true;
}

bool BackupTask::addDirectoryJobs(const QJsonArray& args)
{
    qDebug() << "set opt and var directory backup!";
    if (args.size() < 3) {
        qDebug() << "args size is empty or less 3";
        return true;
    }
    const QString fromUUID = taskArgument(args, 0);
    const QString toUUID = taskArgument(args, 1);
    BackupOutput* output = outputFor(toUUID, args.at(2).toString());
    if (output == nullptr) {
        return false;
    }
    // Read-only, so that the file system cannot change while it is archived (or imaged by a job that comes later);
    // only a backup onto the same partition needs it writable.
    const QString fromMount = fromUUID == toUUID ? mountDeviceFromUUID(toUUID) : mountReadOnlyFromUUID(fromUUID);
    // Without the partition the archives would be made of the live system's own directories.
    if (fromMount.isEmpty()) {
        qCritical().noquote() << "archives: the partition does not mount, uuid: " + fromUUID;
        reportFailure(QCoreApplication::translate("BackupTask", BackupError));
        return false;
    }
    // An image job of the same partition unmounts it while it runs: the archives mount it again.
    rememberJobMount(fromMount, fromUUID);
    for (const QString& name : {QString("opt"), QString("var")}) {
        if (!addDirectoryArchive(output, fromUUID, fromMount, name)) {
            reportFailure(failureText(BackupError));
            return false;
        }
    }
    return true;
}

// The archive starts with its "datainfo" member, made in the service's private directory: the partition being
// backed up is never written to. tar writes the archive into a file of the backup's own, never through a path.
bool BackupTask::addDirectoryArchive(BackupOutput* output, const QString& fromUUID, const QString& fromMount,
                                     const QString& name)
{
    const QString leadDir = privateTempPath(QString("archive-%1").arg(m_leadDirs.size()));
    QDir(leadDir).removeRecursively();
    m_leadDirs.append(leadDir);
    QString out;
    QString err;
    if (!QDir().mkpath(leadDir) ||
        !SpawnCmd("sudo", {CreateDataInfoScript, fromUUID, name, leadDir + "/datainfo"}, out, err) ||
        !QFile::exists(leadDir + "/datainfo")) {
        qCritical().noquote() << "the datainfo of " + name + " could not be made: " + err;
        return false;
    }
    const QString archive = name + ".tar";
    const int fd = output->createTemporary(archive);
    if (fd < 0) {
        return false;
    }
    Job& job = addJob(QString("%1/%2").arg(fromMount, name), output->workPath() + "/" + archive, ArchiveStreamJob);
    job.leadDir = leadDir;
    job.process->setChildProcessModifier([fd]() {
        if (::dup2(fd, STDOUT_FILENO) < 0) {
            ::_exit(127);
        }
    });
    m_files.append({output, archive, QString(), true});
    return true;
}

bool BackupTask::writeDiskInfo(const QString& image, const QString& content)
{
    QFile::remove(m_diskInfoName);
    QString out;
    QString err;
    if (!SpawnCmd("sudo", {m_writeFileScript, m_diskInfoName, content}, out, err) || !QFile::exists(m_diskInfoName)) {
        qCritical().noquote() << "the disk information for " + image + " could not be written: " + err;
        return false;
    }
    const bool stored = SpawnCmd(
        "sudo",
        {"marlin-clone", "--write-custom-file", QString("rbk://%1/%2").arg(image, m_diskInfoName), m_diskInfoName}, out,
        err);
    QFile::remove(m_diskInfoName);
    if (!stored) {
        m_toolErrors += err;
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
    if (!completeFiles()) {
        reportFailure(failureText(BackupError));
        return;
    }
    for (const QString& dir : qAsConst(m_leadDirs)) {
        QDir(dir).removeRecursively();
    }
    Q_EMIT finished();
}

bool BackupTask::completeFiles()
{
    for (const File& file : qAsConst(m_files)) {
        const QString path = file.output->workPath() + "/" + file.name;
        // An image without its disk information would be restored onto the wrong partition, or not at all.
        const bool done = file.archive ? file.output->placeTemporary(file.name)
                                       : writeDiskInfo(path, file.diskInfo) && Utils::isValidRbkFile(path);
        if (!done) {
            return false;
        }
    }
    // The checksums last: a backup without all of them is never taken for a complete one.
    for (const File& file : qAsConst(m_files)) {
        if (!file.output->writeChecksum(file.name)) {
            return false;
        }
    }
    for (const std::unique_ptr<BackupOutput>& output : m_outputs) {
        if (!output->commit()) {
            return false;
        }
    }
    pruneStores();
    return true;
}

// An older backup replaced leaves chunks no image uses any more: they go now. A prune that cannot run costs room,
// never data, and the backup stands.
void BackupTask::pruneStores()
{
    QStringList stores;
    for (const std::unique_ptr<BackupOutput>& output : m_outputs) {
        if (!stores.contains(output->storePath()) && QFileInfo(output->storePath()).isDir()) {
            stores.append(output->storePath());
        }
    }
    for (const QString& store : stores) {
        QString out;
        QString err;
        if (!SpawnCmd("sudo", {"marlin-clone", "--prune", store}, out, err)) {
            qWarning().noquote() << "the chunk store " + store + " was not pruned: " + err;
        }
    }
}

void BackupTask::onFailed()
{
    for (const std::unique_ptr<BackupOutput>& output : m_outputs) {
        output->discard();
    }
    for (const QString& dir : qAsConst(m_leadDirs)) {
        QDir(dir).removeRecursively();
    }
}

bool BackupTask::isDestinationFull() const
{
    for (const std::unique_ptr<BackupOutput>& output : m_outputs) {
        if (output->lastError() == ENOSPC || !output->hasRoomLeft()) {
            return true;
        }
    }
    return m_jobErrors.contains(NoSpace) || m_toolErrors.contains(NoSpace);
}

QString BackupTask::failureText(const char* otherwise) const
{
    return QCoreApplication::translate("BackupTask", isDestinationFull() ? TargetFull : otherwise);
}

QString BackupTask::jobFailureText() const
{
    return isDestinationFull() ? QCoreApplication::translate("BackupTask", TargetFull) : Task::jobFailureText();
}
