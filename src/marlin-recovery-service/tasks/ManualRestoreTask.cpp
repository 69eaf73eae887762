#include "tasks/ManualRestoreTask.h"

#include "MountPath.h"
#include "core/command.h"
#include "tasks/ArchiveCheck.h"
#include "tasks/BackupTask.h"
#include "tasks/RestoreDisks.h"
#include "tasks/WholeDisk.h"
#include "udisks2/UDisks2BlockDevice.h"
#include "udisks2/UDisks2Manager.h"
#include "udisks2/UDisks2Partition.h"
#include "utils.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QSettings>
#include <QStorageInfo>
#include <QTimer>

namespace {

const char* const BadBackup = QT_TRANSLATE_NOOP("ManualRestoreTask", "There is something wrong with your backup file");
const char* const VersionMismatch =
    QT_TRANSLATE_NOOP("ManualRestoreTask",
                      "Your system version does not match the backup file, please update the system and restore again");
const char* const DiskMismatch = QT_TRANSLATE_NOOP(
    "ManualRestoreTask", "Your disk info and the backup info do not match, so you cannot restore now");
const char* const NoSuchDisk =
    QT_TRANSLATE_NOOP("ManualRestoreTask", "The chosen disk is not there; choose the disk again");
const char* const DiskTooSmall = QT_TRANSLATE_NOOP(
    "ManualRestoreTask", "The chosen disk is too small: this backup needs a disk of at least %1 bytes");
const char* const DiskHoldsBackup =
    QT_TRANSLATE_NOOP("ManualRestoreTask", "The chosen disk holds the backup; choose another disk");
const char* const DiskMounted = QT_TRANSLATE_NOOP(
    "ManualRestoreTask", "A partition of the chosen disk is in use (mounted); unmount it or choose another disk");
const char* const GrowFailed =
    QT_TRANSLATE_NOOP("ManualRestoreTask", "The backup was written, but the disk's extra space could not be used");
const char* const BackupInTarget = QT_TRANSLATE_NOOP(
    "ManualRestoreTask", "The backup lies where the restore would write; move it to another disk and try again");

// Whether the device carries no signature, or a swap signature alone, as the device itself says (not udev's record).
bool holdsOnlySwap(const QString& device)
{
    QString out;
    QString err;
    if (!SpawnCmd("sudo", {"wipefs", "--no-act", "--noheadings", "--output", "TYPE", "--", device}, out, err)) {
        qWarning().noquote() << "cannot read the signatures on " + device + ": " + err;
        return false;
    }
    const QStringList types = out.split('\n', Qt::SkipEmptyParts);
    qInfo().noquote() << "signatures on " + device + ": " + types.join(' ');
    return types.isEmpty() || types == QStringList{"swap"};
}

} // namespace

ManualRestoreTask::ManualRestoreTask(const QString& backupDir, QObject* parent) : Task(parent), m_backupDir(backupDir)
{
    connect(this, &Task::taskFinished, this, &ManualRestoreTask::onTaskFinished);
    QTimer::singleShot(0, this, [this]() {
        setJobs(m_backupDir);
        startChecked();
    });
}

ManualRestoreTask::ManualRestoreTask(const QJsonArray& tasks, QObject* parent) : Task(parent)
{
    connect(this, &Task::taskFinished, this, &ManualRestoreTask::onTaskFinished);
    QTimer::singleShot(0, this, [this, tasks]() { setTasks(tasks); });
}

void ManualRestoreTask::setTargetDrive(const QString& drive, bool keepSize)
{
    m_targetDrive = drive;
    m_keepSize = keepSize;
}

QString ManualRestoreTask::writtenDrive() const
{
    return m_targetDrive.isEmpty() ? m_diskDrive : m_targetDrive;
}

void ManualRestoreTask::setTasks(const QJsonArray& tasks)
{
    for (const QJsonValue& value : tasks) {
        const QJsonObject task = value.toObject();
        if (task.value("command").toString() != "restore-partitions") {
            continue;
        }
        const QJsonArray args = task.value("args").toArray();
        m_backupDir = MountPath::resolveInside(mountDeviceFromUUID(taskArgument(args, 0)), args.at(1).toString());
        if (m_backupDir.isEmpty()) {
            reportFailure(tr("Cannot find the target location"));
            return;
        }
        setJobs(m_backupDir);
        if (m_isError) {
            return;
        }
    }
    startChecked();
}

void ManualRestoreTask::startChecked()
{
    if (m_isError) {
        return;
    }
    checkJobs();
    if (m_isError) {
        return;
    }
    if (backupLiesInATarget()) {
        reportFailure(tr(BackupInTarget));
        return;
    }
    if (!writtenDrive().isEmpty()) {
        unmountDrive();
    }
    if (!checkImageJobs(tr(BadBackup))) {
        return;
    }
    saveLoginRecords();
    start();
}

bool ManualRestoreTask::backupLiesInATarget() const
{
    for (const QPair<QString, QString>& source : m_sources) {
        const QString disk = WholeDisk::diskOf(source.second);
        for (const Job& job : m_jobs) {
            const bool written = job.type == ImageJob
                                     ? (job.to == source.second || (!disk.isEmpty() && job.to == disk))
                                     : MountPath::isInside(source.first, QFileInfo(job.to).canonicalFilePath());
            if (written) {
                qWarning().noquote() << "the backup " + source.first + " (" + source.second +
                                            ") lies where the restore writes: " + job.to;
                return true;
            }
        }
    }
    return false;
}

void ManualRestoreTask::saveLoginRecords()
{
    const QString dataMount = mountDeviceFromUUID(m_dataUUID);
    if (dataMount.isEmpty()) {
        return;
    }
    SpawnCmd("sudo", {"cp", "-a", "--", dataMount + "/var/log/wtmp", privateTempPath("wtmp.bak")});
    const QJsonObject subAction{{"sub_action", 3}, {"timestamp", Utils::getCurrentTimeByDate()}};
    writeEventLog(QJsonObject{{"action", 2}, {"sub_actions", QJsonArray{subAction}}}, privateTempPath(QString()));
    qDebug() << "writeEventLog and backup wtmp";
}

void ManualRestoreTask::setJobs(const QString& path)
{
    if (refuseAmbiguousSystem()) {
        return;
    }
    qDebug() << "setJobs from path:" << path;
    const QDir dir(path, QString(), QDir::Name | QDir::IgnoreCase,
                   QDir::Files | QDir::NoSymLinks | QDir::NoDotAndDotDot);
    const QStringList images = dir.entryList({"*.rbk"});
    // Nothing to restore is a wrong place, never a success (that would even rewrite the boot entry).
    if (path.isEmpty() || !dir.exists() || (images.isEmpty() && dir.entryList({"*.tar"}).isEmpty())) {
        qDebug() << "dir is not exist : " << dir.path();
        reportFailure(tr("Cannot find the target location"));
        return;
    }
    const QString canonical = dir.canonicalPath();
    const QString device = QString::fromUtf8(QStorageInfo(canonical).device());
    m_sources.append({canonical, QFileInfo(device).exists() ? QFileInfo(device).canonicalFilePath() : device});
    for (const QString& name : images) {
        if (!addImage(dir.path() + "/" + name, name)) {
            return;
        }
    }
    if (m_diskDrive.isEmpty()) {
        addArchives(dir.path(), dir.entryList({"*.tar"}));
        return;
    }
    qDebug() << "don't restore the opt and var directory!";
}

bool ManualRestoreTask::readImageInfo(const QString& image)
{
    // Nothing of the image before carries over to this one.
    m_diskDrive.clear();
    m_uuid.clear();
    m_version.clear();
    QString output;
    // The tool's exit status is its verdict: what it prints is partly the image's own words (labels, names).
    if (!SpawnCmd("sudo", {"marlin-clone", "--rbk-info", image}, output)) {
        return false;
    }
    const QStringList lines = output.split('\n');
    for (const QString& line : lines) {
        if (line.contains("DiskDrive=")) {
            m_diskDrive = line.split('=').constLast().simplified();
            qDebug() << "disk driver : " << m_diskDrive;
            return !m_diskDrive.isEmpty();
        }
        if (line.contains("UUID=")) {
            m_uuid = line.split('=').constLast().simplified();
            qDebug() << "uuid : " << m_uuid;
            return !m_uuid.isEmpty();
        }
    }
    const QString customFile = QString("rbk://%1/%2").arg(image, m_diskInfoName);
    QFile::remove(m_diskInfoName);
    if (!SpawnCmd("sudo", {"marlin-clone", "--read-custom-file", customFile, m_diskInfoName})) {
        qWarning().noquote() << "no disk information in " + image;
        return true;
    }
    const QSettings info(m_diskInfoName, QSettings::IniFormat);
    m_diskDrive = info.value("DiskDrive").toString();
    m_uuid = info.value("UUID").toString();
    m_version = info.value("Version").toString();
    qInfo().noquote() << "targetPath = " + customFile + ", m_diskInfoName = " + m_diskInfoName;
    qDebug() << "DiskDrive:" << m_diskDrive << "UUID:" << m_uuid;
    return true;
}

bool ManualRestoreTask::addImage(const QString& image, const QString& fileName)
{
    qDebug() << "filePath:" << image;
    if (!readImageInfo(image) || (image.endsWith(".rbk") && !checkMD5(image, image + ".md5"))) {
        reportFailure(tr(BadBackup));
        return false;
    }
    qDebug().noquote() << "current version:" << m_version << ", m_diskDrive: " + m_diskDrive + ", m_uuid: " + m_uuid;
    if (!m_version.isEmpty() && !compareVersion(m_version, m_infoVersion)) {
        reportFailure(tr(VersionMismatch));
        return false;
    }
    if (!m_diskDrive.isEmpty()) {
        if (!(m_targetDrive.isEmpty() ? addWholeDiskImage(image) : addChosenDiskImage(image))) {
            return false;
        }
        if (m_uuid.isEmpty()) {
            return true;
        }
    }
    if (m_uuid.isEmpty()) {
        reportFailure(tr(VersionMismatch));
        return false;
    }
    return addPartitionImage(image, fileName);
}

// Whatever the image file is called: another disk than the system's is a choice this restore does not offer.
bool ManualRestoreTask::addWholeDiskImage(const QString& image)
{
    const QString disk = installedSystem().disk();
    const QStringList drivesDisks = getDevicePathsFromDrive(m_diskDrive);
    qInfo().noquote() << "whole-disk image " + image + " of drive " + m_diskDrive + " (" + drivesDisks.join(' ') +
                             "), the system's disk: " + disk;
    if (disk.isEmpty() || !drivesDisks.contains(disk)) {
        reportFailure(tr(DiskMismatch));
        return false;
    }
    addJob(image, disk, ImageJob);
    return true;
}

// The window offered only disks that qualified, but the disks may have changed since, and the request may come from
// anyone allowed to call: everything is checked again here.
bool ManualRestoreTask::addChosenDiskImage(const QString& image)
{
    RestoreDisks::ImageDisk recorded;
    const QString disk = RestoreDisks::diskOfDrive(m_targetDrive);
    const QString backupDisk = m_sources.isEmpty() ? QString() : WholeDisk::diskOf(m_sources.constLast().second);
    qInfo().noquote() << "whole-disk image " + image + " of drive " + m_diskDrive + " onto the chosen drive " +
                             m_targetDrive + " (" + disk + "), the backup's disk: " + backupDisk;
    if (disk.isEmpty()) {
        reportFailure(tr(NoSuchDisk));
        return false;
    }
    if (!RestoreDisks::readImageDisk(QFileInfo(image).path(), recorded)) {
        reportFailure(tr(BadBackup));
        return false;
    }
    const QString refusal = RestoreDisks::refusal(disk, recorded.needBytes, backupDisk);
    if (!refusal.isEmpty()) {
        qWarning().noquote() << "the chosen disk " + disk + " " + refusal;
    }
    if (refusal == RestoreDisks::HoldsBackup) {
        reportFailure(tr(DiskHoldsBackup));
        return false;
    }
    if (refusal == RestoreDisks::HasMountedPartition) {
        reportFailure(tr(DiskMounted));
        return false;
    }
    if (refusal == RestoreDisks::TooSmall) {
        reportFailure(tr(DiskTooSmall).arg(recorded.needBytes));
        return false;
    }
    m_targetDisk = disk;
    Job& job = addJob(image, disk, ImageJob);
    if (RestoreDisks::sizeOf(disk) < recorded.sourceBytes) {
        qInfo().noquote() << disk + " is smaller than the disk the backup was made of: the image ends at its end";
        job.fitBytes = recorded.needBytes;
    }
    return true;
}

bool ManualRestoreTask::addPartitionImage(const QString& image, const QString& fileName)
{
    const QString rootDisk = installedSystem().disk();
    const QString devicePath = targetPathFromUUID(m_uuid);
    qInfo().noquote() << "rootDevPath = " + rootDisk + ", device_path = " + devicePath;
    qInfo().noquote() << "m_rootUUID = " + m_rootUUID + ", m_uuid = " + m_uuid + ", file_path = " + image;
    const bool otherRoot = fileName.contains("system.rbk") && m_rootUUID != m_uuid;
    // An image goes back only onto a partition of this system (or, for another root, a partition of its disk).
    const bool own = isSystemPartition(m_uuid) || (otherRoot && !rootDisk.isEmpty());
    if (devicePath.isEmpty() || !own ||
        (otherRoot && !rootDisk.isEmpty() && WholeDisk::diskOf(devicePath) != rootDisk)) {
        reportFailure(tr(DiskMismatch));
        return false;
    }
    if (otherRoot) {
        qDebug().noquote() << "m_rootUUID: " + m_rootUUID + ", m_uuid: " + m_uuid +
                                  ", m_originRootUUID: " + m_originRootUUID;
        m_originRootUUID = m_uuid;
    }
    addJob(image, devicePath, ImageJob);
    return true;
}

// The archive's own datainfo names where it goes: accepted only for one of the installed system's partitions and
// one of the restorable directories, and only when no member would land outside that directory.
bool ManualRestoreTask::checkArchive(const QString& tarPath, QString& uuid, QString& directory) const
{
    QString dataInfo;
    if (!ArchiveCheck::readDataInfo(tarPath, dataInfo)) {
        qWarning().noquote() << "archive refused, no datainfo: " + tarPath;
        return false;
    }
    uuid = ArchiveCheck::dataInfoValue(dataInfo, "UUID");
    directory = ArchiveCheck::dataInfoValue(dataInfo, "Directory");
    qInfo().noquote() << "archive " + tarPath + ", UUID: " + uuid + ", Directory: " + directory;
    if (!isSystemPartition(uuid) || !ArchiveCheck::isRestorableDirectory(directory)) {
        qWarning().noquote() << "archive refused, its datainfo names no partition or directory of this system";
        return false;
    }
    QStringList members;
    if (!ArchiveCheck::listMembers(tarPath, members)) {
        qWarning().noquote() << "archive refused, cannot be listed: " + tarPath;
        return false;
    }
    const QString stray = ArchiveCheck::firstStrayMember(members, directory);
    if (!stray.isEmpty()) {
        qWarning().noquote() << "archive refused, member outside " + directory + ": " + stray;
        return false;
    }
    const QString unsafe = ArchiveCheck::firstUnsafeMember(tarPath, directory);
    if (!unsafe.isEmpty()) {
        qWarning().noquote() << "archive refused, " + unsafe + ": " + tarPath;
        return false;
    }
    // The directory in place is removed right before the extraction: only for an archive that brings it back.
    if (!ArchiveCheck::holdsDirectory(members, directory)) {
        qWarning().noquote() << "archive refused, it does not hold " + directory + ": " + tarPath;
        return false;
    }
    return true;
}

void ManualRestoreTask::addArchives(const QString& dirPath, const QStringList& archives)
{
    QString targetMount;
    // Once one archive of the backup has its checksum, every one must: a missing one is a backup cut off.
    const bool summed = ArchiveCheck::anyChecksum(dirPath, archives);
    for (const QString& name : archives) {
        const QString tarPath = dirPath + "/" + name;
        QString uuid;
        QString directory;
        if ((summed && !checkMD5(tarPath, tarPath + ".md5")) || !checkArchive(tarPath, uuid, directory)) {
            reportFailure(tr(BadBackup));
            return;
        }
        if (targetMount.isEmpty()) {
            targetMount = mountDeviceFromUUID(uuid);
            // Without a mount point the directory would be taken from the live system's root.
            if (targetMount.isEmpty()) {
                reportFailure(tr(BadBackup));
                return;
            }
            rememberJobMount(targetMount, uuid);
        }
        addJob(tarPath, QString("%1/%2").arg(targetMount, directory), ArchiveExtractJob);
    }
}

void ManualRestoreTask::unmountDrive()
{
    const QStringList paths = UDisks2Manager::blockDevices();
    for (const QString& path : paths) {
        std::unique_ptr<UDisks2BlockDevice> device = UDisks2Manager::createBlockDevice(path);
        if (device && device->driveName() == writtenDrive()) {
            qDebug() << "drive:" << device->driveName() << "written drive:" << writtenDrive();
            device->unmount({});
        }
    }
}

bool ManualRestoreTask::checkFromPathIsExists()
{
    const bool exists = QDir(m_backupDir).exists();
    qDebug() << "backupDir:" << m_backupDir;
    qDebug() << "backupDir is exists" << exists;
    return exists;
}

// The swap area the restored system's fstab names, on the restored drive. Only the root is mounted to read it, and
// only for as long as that takes.
void ManualRestoreTask::restoreSwapUuid()
{
    if (m_diskDrive.isEmpty()) {
        return;
    }
    qDebug() << "begin restore swap:";
    const QString swapUuid = restoredSwapUuid();
    if (swapUuid.isEmpty()) {
        qInfo() << "the restored fstab names no swap area by UUID";
        return;
    }
    if (UDisks2Manager::blockDeviceByUUID(swapUuid)) {
        qInfo().noquote() << "the swap area " + swapUuid + " is there";
        return;
    }
    const QString swapPath = swapPartitionOnDrive();
    if (swapPath.isEmpty()) {
        qWarning().noquote() << "no swap partition on the drive " + writtenDrive();
        return;
    }
    // The partition type alone says little: a file system put there later is someone's data.
    if (!holdsOnlySwap(swapPath)) {
        qWarning().noquote() << "the swap partition " + swapPath + " holds something else: no swap area made on it";
        return;
    }
    qInfo().noquote() << "sudo mkswap -U " + swapUuid + " " + swapPath;
    SpawnCmd("sudo", {"mkswap", "-U", swapUuid, "--", swapPath});
}

QString ManualRestoreTask::restoredSwapUuid()
{
    const bool wasMounted = isMountedUUID(m_rootUUID);
    const QString rootPath = mountDeviceFromUUID(m_rootUUID);
    if (rootPath.isEmpty()) {
        qWarning().noquote() << "the restored root does not mount, uuid: " + m_rootUUID;
        return QString();
    }
    // The restored fstab may be a link: it is read only inside the root.
    const QString fstab = MountPath::resolveInside(rootPath, "etc/fstab");
    const QString uuid = fstab.isEmpty() ? QString() : FSTab::swapUUID(FSTab::getFSTabFromFile(fstab));
    if (!wasMounted) {
        umountDeviceFromUUID(m_rootUUID);
    }
    return uuid;
}

// The drive's one swap partition, known by its signature or, when that is gone, by its partition type.
QString ManualRestoreTask::swapPartitionOnDrive() const
{
    static const QStringList SwapTypes{"0657fd6d-a4ab-43c4-84e5-0933c84b4f4f", "0x82"};
    QStringList found;
    const QStringList paths = UDisks2Manager::blockDevices();
    for (const QString& path : paths) {
        std::unique_ptr<UDisks2BlockDevice> device = UDisks2Manager::createBlockDevice(path);
        std::unique_ptr<UDisks2Partition> partition = UDisks2Manager::createPartition(path);
        if (!device || !partition || device->driveName() != writtenDrive()) {
            continue;
        }
        if (device->idType() == "swap" || SwapTypes.contains(partition->type().toLower())) {
            found.append(QString::fromUtf8(device->device()).remove(QChar(0)));
        }
    }
    if (found.size() > 1) {
        qWarning().noquote() << "more than one swap partition on the drive: " + found.join(", ");
        return QString();
    }
    return found.value(0);
}

void ManualRestoreTask::onTaskFinished()
{
    refreshRootFacts();
    const QString uuid = m_originRootUUID.isEmpty() ? m_rootUUID : m_originRootUUID;
    qDebug().noquote() << "m_rootUUID: " + m_rootUUID + ", m_originRootUUID: " + m_originRootUUID;
    convertVersion(uuid);
    if (!checkFromPathIsExists()) {
        reportFailure(tr("Cannot find the target location"));
        return;
    }
    // Before anything mounts a file system of the new disk: a partition is only grown unmounted.
    if (!m_targetDisk.isEmpty() && !RestoreDisks::useWholeDisk(m_targetDisk, m_keepSize)) {
        reportFailure(tr(GrowFailed));
        return;
    }
    qDebug() << "process swap uuid !";
    restoreSwapUuid();
    qDebug() << "process swap uuid end!";
    resetEFI();
    qDebug() << "onTaskFinished end!";
    Q_EMIT finished();
}
