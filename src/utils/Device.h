#pragma once

// How the machine's disks are laid out, from lsblk: partitions, LUKS containers, opened mappings, LVM volumes, and
// whether the installed system's file systems lie on logical volumes or encrypted storage.

#include <QList>
#include <QSharedPointer>
#include <QString>
#include <QStringList>

struct DeviceInfo;
using DeviceInfoPtr = QSharedPointer<DeviceInfo>;

struct DeviceInfo
{
    QString deviceFile;
    QString name;
    QString kname;
    QString pkname;
    QString path;
    QString mapperName;
    QString uuid;
    QString label;
    QString partUuid;
    QString partLabel;
    QString type;
    QString fsType;
    qint64 size = 0;
    quint64 fsUsed = 0;
    quint64 fsAvail = 0;
    quint64 logicalSectorSize = 0;
    quint64 physicalSectorSize = 0;
    QString mountPoint;
    QString model;
    QString majMin;
    int major = -1;
    int minor = -1;
    int rotational = -1;
    bool readOnly = false;
    bool hotplug = false;
    QString vendor;
    QString serial;
    QString revision;
    QString byUuidPath;
    QString byLabelPath;
    QString byPartUuidPath;
    QString byPartLabelPath;
    QString mapperPath;
    // A weak link upwards: parents own their children, so the tree frees itself.
    QWeakPointer<DeviceInfo> parentLink;
    QList<DeviceInfoPtr> children;

    DeviceInfoPtr parent() const { return parentLink.toStrongRef(); }
};

class Device
{
public:
    static QString getLsblkOutput();
    static QList<DeviceInfoPtr> parseLsblkOutput(const QString& output);
    static QList<DeviceInfoPtr> getDeviceInfoList();
    // Sorts a list into the six kinds; a record of no kind (a loop or rom device) is dropped.
    static void sortByKind(const QList<DeviceInfoPtr>& devices, QList<DeviceInfoPtr>& disks,
                           QList<DeviceInfoPtr>& encryptedContainers, QList<DeviceInfoPtr>& lvmPvPartitions,
                           QList<DeviceInfoPtr>& partitions, QList<DeviceInfoPtr>& logicalVolumes,
                           QList<DeviceInfoPtr>& encryptedFileSystems);
    static void getDeviceListsByType(QList<DeviceInfoPtr>& disks, QList<DeviceInfoPtr>& encryptedContainers,
                                     QList<DeviceInfoPtr>& lvmPvPartitions, QList<DeviceInfoPtr>& partitions,
                                     QList<DeviceInfoPtr>& logicalVolumes, QList<DeviceInfoPtr>& encryptedFileSystems);
    static QList<DeviceInfoPtr>
    getDiskTree(const QList<DeviceInfoPtr>& disks, const QList<DeviceInfoPtr>& encryptedContainers,
                const QList<DeviceInfoPtr>& lvmPvPartitions, const QList<DeviceInfoPtr>& partitions,
                const QList<DeviceInfoPtr>& logicalVolumes, const QList<DeviceInfoPtr>& encryptedFileSystems);
    // True when any of the UUIDs lies on a logical volume; the flags tell about encryption.
    static bool getEncryptionInfoByUUIDs(const QStringList& uuids, bool& isEncrypted, bool& isFileManagerEncrypted);
    // The same answer for a device list already read.
    static bool encryptionInfoOf(const QList<DeviceInfoPtr>& devices, const QStringList& uuids, bool& isEncrypted,
                                 bool& isFileManagerEncrypted);
    static bool getAllMediaMountPoint(QList<QString>& mountPoints);
    static bool getMountPointByUUID(const QString& uuid, QString& mountPoint);
};
