#pragma once

// One UDisks2 block device (a disk, partition or mapped device) and the file-system operations on it.

#include <QByteArray>
#include <QByteArrayList>
#include <QString>
#include <QVariantMap>

class UDisks2BlockDevice
{
public:
    explicit UDisks2BlockDevice(const QString& path);

    bool isValid() const;
    QString path() const;

    QString idUUID() const;
    QString idType() const;
    // The device file as UDisks2 gives it, with its terminating NUL.
    QByteArray device() const;
    // Object path of the drive holding this device; "/" when it has none.
    QString drive() const;
    // Last component of the drive's object path: it identifies a physical disk.
    QString driveName() const;

    // Every read asks the daemon afresh, so watching is always on; kept for the callers that switch it on.
    void setWatchChanges(bool watch);
    bool watchChanges() const;

    // The mount path, or the daemon's error text when mounting failed.
    QString mount(const QVariantMap& options);
    QByteArrayList mountPoints() const;
    void unmount(const QVariantMap& options);

private:
    QString m_path;
    bool m_valid = false;
    bool m_watchChanges = false;
};
