#pragma once

// Entry point of our UDisks2 client: lists block devices and makes objects for them. Every read asks the daemon, so
// nothing can go stale; all calls are synchronous and may run on any thread.

#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

#include <memory>

class UDisks2BlockDevice;
class UDisks2Partition;

namespace UDisks2 {
extern const char* const Service;
extern const char* const BlockInterface;
extern const char* const PartitionInterface;
extern const char* const FilesystemInterface;

// Reads one property of an object; false when the object or the property does not exist.
bool readProperty(const QString& path, const char* interface, const QString& name, QVariant& value);
// Calls a method; false with the daemon's error text in err when it fails.
bool callMethod(const QString& path, const char* interface, const QString& method, const QVariantList& args,
                QVariant& result, QString& err);
} // namespace UDisks2

class UDisks2Manager
{
public:
    // Object paths of all block devices, in the daemon's order; empty when the daemon cannot be reached.
    static QStringList blockDevices(const QVariantMap& options = QVariantMap());
    // Null when the path is not a block device the daemon knows.
    static std::unique_ptr<UDisks2BlockDevice> createBlockDevice(const QString& path);
    // The first block device whose file system has this UUID; devices that cannot be read are skipped.
    static std::unique_ptr<UDisks2BlockDevice> blockDeviceByUUID(const QString& uuid);
    // Null when the path is not a partition the daemon knows.
    static std::unique_ptr<UDisks2Partition> createPartition(const QString& path);
};
