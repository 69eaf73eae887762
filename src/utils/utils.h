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
void getHistoryBackup(QList<BackupFileInfo>& list, const QString& historyFile, bool umountAfter);
QVariant getHistoryBackupPathList(const QString& historyFile);
QJsonObject readJsonObject(const QString& path);
bool getRecoveryJsonInfo(QJsonObject& obj, const QString& recoveryJsonPath);
QString mountDeviceByUUID(const QString& uuid);
void umountDeviceByUUID(const QString& uuid);
bool checkPartitionErrorByFsck(const QString& devicePath);
bool fixPartitionByFsck(const QString& devicePath, QString& output, QString& err);
bool getSwapPartitionSize(const QString& devicePath, qint64& size);
QString getRecoveryConfUUID(const QString& rootPath);

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
