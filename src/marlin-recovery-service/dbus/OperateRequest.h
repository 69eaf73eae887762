#pragma once

// The request records of the service protocol, read leniently from a request's JSON object: every key is optional.

#include <QJsonObject>
#include <QString>

// The kind of a request ("opType"); 0 stands for none.
enum ActionType
{
    OpNone = 0,
    OpSystemRestore = 1,
    OpManualRestore = 2,
    OpManualBackup = 3,
    OpSystemBackup = 4,
    OpDeviceRestore = 5,
    OpRepairPartition = 6,
    OpPartitionCheckList = 7,
    OpLiveRestorePage = 8,
    OpSystemRepairTool = 9,
    OpBrowseOpen = 10,
    OpBrowseList = 11,
    OpCopyDestinations = 12,
    OpBrowseCopy = 13,
    OpBrowseCancel = 14,
    OpBrowseClose = 15,
    OpRestoreDisks = 16,
};

struct OperateRequest
{
    QString operateID;
    QString userName;
    int opType = 0;

    void read(const QJsonObject& obj);
};

struct RestoreRequest : OperateRequest
{
    QString backupDir;
    QString backupUUID;
    bool formatData = false;
    // A whole-disk backup's target, as DiskInfo's "DiskDrive=" names a drive; empty for the drive it was made of.
    QString targetDrive;
    // Whether the partitions keep the sizes they had at the backup on a larger target.
    bool keepSize = false;

    void read(const QJsonObject& obj);
};

struct FsckRequest : OperateRequest
{
    QString devicePath;

    void read(const QJsonObject& obj);
};

struct TaskRequest : OperateRequest
{
    // A JSON text holding "auto_reboot" and "tasks".
    QString recoveryInfo;

    void read(const QJsonObject& obj);
};
