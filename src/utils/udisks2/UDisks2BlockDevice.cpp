#include "udisks2/UDisks2BlockDevice.h"

#include "udisks2/UDisks2Manager.h"

#include <QDBusArgument>
#include <QDBusObjectPath>

UDisks2BlockDevice::UDisks2BlockDevice(const QString& path) : m_path(path)
{
    QVariant value;
    m_valid = UDisks2::readProperty(m_path, UDisks2::BlockInterface, "Device", value);
}

bool UDisks2BlockDevice::isValid() const
{
    return m_valid;
}

QString UDisks2BlockDevice::path() const
{
    return m_path;
}

QString UDisks2BlockDevice::idUUID() const
{
    QVariant value;
    UDisks2::readProperty(m_path, UDisks2::BlockInterface, "IdUUID", value);
    return value.toString();
}

QString UDisks2BlockDevice::idType() const
{
    QVariant value;
    UDisks2::readProperty(m_path, UDisks2::BlockInterface, "IdType", value);
    return value.toString();
}

QByteArray UDisks2BlockDevice::device() const
{
    QVariant value;
    UDisks2::readProperty(m_path, UDisks2::BlockInterface, "Device", value);
    return value.toByteArray();
}

QString UDisks2BlockDevice::drive() const
{
    QVariant value;
    UDisks2::readProperty(m_path, UDisks2::BlockInterface, "Drive", value);
    return value.value<QDBusObjectPath>().path();
}

QString UDisks2BlockDevice::driveName() const
{
    return drive().split('/').constLast().simplified();
}

void UDisks2BlockDevice::setWatchChanges(bool watch)
{
    m_watchChanges = watch;
}

bool UDisks2BlockDevice::watchChanges() const
{
    return m_watchChanges;
}

QString UDisks2BlockDevice::mount(const QVariantMap& options)
{
    QVariant result;
    QString err;
    if (!UDisks2::callMethod(m_path, UDisks2::FilesystemInterface, "Mount", {options}, result, err)) {
        return err;
    }
    return result.toString();
}

QByteArrayList UDisks2BlockDevice::mountPoints() const
{
    QByteArrayList points;
    QVariant value;
    if (!UDisks2::readProperty(m_path, UDisks2::FilesystemInterface, "MountPoints", value)) {
        return points;
    }
    const QDBusArgument arg = value.value<QDBusArgument>();
    arg.beginArray();
    while (!arg.atEnd()) {
        QByteArray point;
        arg >> point;
        // The daemon sends each path with its terminating NUL.
        while (point.endsWith('\0')) {
            point.chop(1);
        }
        points.append(point);
    }
    arg.endArray();
    return points;
}

void UDisks2BlockDevice::unmount(const QVariantMap& options)
{
    QVariant result;
    QString err;
    UDisks2::callMethod(m_path, UDisks2::FilesystemInterface, "Unmount", {options}, result, err);
}
