#pragma once

// Helpers both programs share: fixed command wrappers, backups and partitions, the live system, JSON texts.

#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>
#include <QVariant>

// One line of blkid output; a key the line lacks leaves its field empty.
struct BlkIdInfo
{
    QString devicePath;
    QString partUuid;
    QString partLabel;
    QString label;
    QString uuid;
    QString type;
    QString labelFatBoot;
    QString ptUuid;
    QString ptType;
};

// One manual backup found through the backup history file; the field names are also its JSON keys.
struct BackupFileInfo
{
    QString backupUUID;
    QString backupPath;
    QString backupTime;
    QString createTime;
    // Bytes on disk that are this backup's alone: its files, and the chunks it added to a shared store.
    qint64 backupSize = 0;
};

// The kernel command line parameters the programs look at; empty when absent.
struct CmdLineInfo
{
    QString bootImage;
    QString rootUUID;
    QString boot;
    QString bootFrom;
    QString unionType; // the union= parameter (union is a keyword)
    QString liveMediaPath;
    QString toram;
};

class UDisks2BlockDevice;

using BackupPathList = QList<QPair<QString, QString>>;
Q_DECLARE_METATYPE(BackupPathList)

namespace Utils {

// Why a restore choice cannot go ahead; the restore page turns the values it knows into messages.
enum ErrorType
{
    NoError = 0,
    PathError = 3,
    InvalidBackupFile = 5,
    EncryptedPartition = 8
};

// Command wrappers.
bool getProcessNameByPid(int pid, QString& name);
QString getCurrentTimeByDate();
bool rebootSystem(bool ignoreInhibitors, bool force);
bool removePathBySudo(const QString& path);
bool isValidRbkFile(const QString& filePath);

// Backups and partitions.
bool isBlockDevice(const QString& path);
bool getBlkIdInfoList(QList<BlkIdInfo>& list, QString& err);
// A complete manual backup's directory: at least one image and exactly its two archives (opt and var), every image
// with its checksum file and every archive with its own, or (a backup from before archives had checksums) no archive
// with one and each ending with tar's end-of-archive marker.
bool isBackupDirectory(const QString& dirPath);
// What a backup directory holds on disk of its own (see BackupFileInfo::backupSize).
qint64 backupSizeOnDisk(const QString& dirPath);
void getHistoryBackup(QList<BackupFileInfo>& list, const QString& historyFile, bool umountAfter);
QVariant getHistoryBackupPathList(const QString& historyFile);
QJsonObject readJsonObject(const QString& path);
bool getRecoveryJsonInfo(QJsonObject& obj, const QString& recoveryJsonPath);
QString mountDeviceByUUID(const QString& uuid);
// Mounts the file system with this UUID so that looking at it writes nothing (no journal replayed), unless it is
// mounted already (wasMounted); its mount point, empty when it does not mount.
QString mountReadOnlyByUUID(const QString& uuid, bool& wasMounted);
// Where the file system with this UUID is mounted already; empty when it is not (or no device has it).
QString mountPointOfUUID(const QString& uuid);
void umountDeviceByUUID(const QString& uuid);
bool checkPartitionErrorByFsck(const QString& devicePath);
bool fixPartitionByFsck(const QString& devicePath, QString& output, QString& err);
bool getSwapPartitionSize(const QString& devicePath, qint64& size);
QString getRecoveryConfUUID(const QString& rootPath);

// Mount options under which looking at a file system of this type writes nothing to it (no journal or log
// replayed); empty for a type that has none.
QVariantMap readOnlyMountOptions(const QString& type);
// The device's mount point: where it is mounted already (wasMounted), or where it was just mounted with those
// options; empty when it does not mount so.
QString mountReadOnly(UDisks2BlockDevice& device, bool& wasMounted);
// The recovery partition: the one the installed root's configuration names; when the root cannot be read, the
// partition of disk (of any disk when empty) whose initial backup record names rootUUID (each looked at read-only
// and left as found), else the one the live system was booted from. Empty when none.
QString findRecoveryUUID(const QString& rootMountPoint, const QString& rootUUID, const QString& disk = QString());
// The partition of disk (of any disk when empty; never a whole disk) whose file system with this UUID lost its
// start (zeroed, a restore cut off halfway): no file system is seen on it any more, but a backup copy of its
// superblock still carries the UUID. Empty when none.
QString devicePathOfDamagedFileSystem(const QString& uuid, const QString& disk = QString());
// The record a restore keeps on the recovery partition while it writes, so that the next start can tell a cut-off
// restore and run it again.
QString restoreMarkPath(const QString& recoveryMountPoint);
QJsonObject readRestoreMark(const QString& recoveryMountPoint);
// Whether the file system mounted there can take that record: mounted read-write, room for the record, and its
// backup directory a directory or yet to be made.
bool canTakeRestoreMark(const QString& recoveryMountPoint);
// The same for the partition with this UUID, wherever it is mounted; one nobody had mounted is mounted for the look
// and unmounted again. false when no partition has the UUID.
bool recoveryCanTakeRestoreMark(const QString& recoveryUUID);
// A file written (or removed) so that it is on the disk, directory entry included, when the call returns.
bool writeFileSynced(const QString& path, const QByteArray& content);
bool removeFileSynced(const QString& path);

// JSON texts of the service protocol.
QJsonObject stringToJson(const QString& text);
QString jsonToString(const QJsonObject& obj);

// The live system.
bool getCmdLineInfo(CmdLineInfo& info);
// The file-system UUID of a device given by a link such as /dev/mapper/root, through /dev/disk/by-uuid.
QString uuidOfDeviceLink(const QString& devicePath, const QString& logPrefix);
// Fills info from the text of a kernel command line (what getCmdLineInfo reads from /proc/cmdline).
void parseCmdLine(const QString& cmdLine, CmdLineInfo& info);
int getLiveType(const QString& fstabPath);
// The live type of a parsed command line (what getLiveType decides for /proc/cmdline).
int liveTypeOf(const CmdLineInfo& info, const QString& fstabPath);
bool getSystemLocale(const QString& rootPath, QString& locale);

} // namespace Utils
