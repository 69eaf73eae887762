#include "udisks2/UDisks2Manager.h"

#include "udisks2/UDisks2BlockDevice.h"
#include "udisks2/UDisks2Partition.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>

#include <limits>

namespace UDisks2 {
const char* const Service = "org.freedesktop.UDisks2";
const char* const BlockInterface = "org.freedesktop.UDisks2.Block";
const char* const PartitionInterface = "org.freedesktop.UDisks2.Partition";
const char* const FilesystemInterface = "org.freedesktop.UDisks2.Filesystem";

bool readProperty(const QString& path, const char* interface, const QString& name, QVariant& value)
{
    QDBusMessage call = QDBusMessage::createMethodCall(Service, path, "org.freedesktop.DBus.Properties", "Get");
    call << QString::fromLatin1(interface) << name;
    const QDBusMessage reply = QDBusConnection::systemBus().call(call);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        return false;
    }
    value = reply.arguments().constFirst().value<QDBusVariant>().variant();
    return true;
}

bool callMethod(const QString& path, const char* interface, const QString& method, const QVariantList& args,
                QVariant& result, QString& err)
{
    QDBusMessage call = QDBusMessage::createMethodCall(Service, path, QString::fromLatin1(interface), method);
    call.setArguments(args);
    // Mounting a large or damaged file system can take long; never give up on the daemon early.
    const QDBusMessage reply = QDBusConnection::systemBus().call(call, QDBus::Block, std::numeric_limits<int>::max());
    if (reply.type() != QDBusMessage::ReplyMessage) {
        err = reply.errorMessage();
        return false;
    }
    if (!reply.arguments().isEmpty()) {
        result = reply.arguments().constFirst();
    }
    return true;
}
} // namespace UDisks2

namespace {

QStringList objectPathsFrom(const QVariant& value)
{
    QStringList paths;
    if (value.canConvert<QDBusArgument>()) {
        const QDBusArgument arg = value.value<QDBusArgument>();
        arg.beginArray();
        while (!arg.atEnd()) {
            QDBusObjectPath path;
            arg >> path;
            paths.append(path.path());
        }
        arg.endArray();
        return paths;
    }
    for (const QDBusObjectPath& path : value.value<QList<QDBusObjectPath>>()) {
        paths.append(path.path());
    }
    return paths;
}

} // namespace

QStringList UDisks2Manager::blockDevices(const QVariantMap& options)
{
    QDBusMessage call = QDBusMessage::createMethodCall(UDisks2::Service, "/org/freedesktop/UDisks2/Manager",
                                                       "org.freedesktop.UDisks2.Manager", "GetBlockDevices");
    call << options;
    const QDBusMessage reply = QDBusConnection::systemBus().call(call);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        return QStringList();
    }
    return objectPathsFrom(reply.arguments().constFirst());
}

std::unique_ptr<UDisks2BlockDevice> UDisks2Manager::createBlockDevice(const QString& path)
{
    std::unique_ptr<UDisks2BlockDevice> device(new UDisks2BlockDevice(path));
    if (!device->isValid()) {
        return nullptr;
    }
    return device;
}

std::unique_ptr<UDisks2BlockDevice> UDisks2Manager::blockDeviceByUUID(const QString& uuid)
{
    // Every device without a file system has the empty UUID: it names none of them.
    if (uuid.isEmpty()) {
        return nullptr;
    }
    const QStringList paths = blockDevices();
    for (const QString& path : paths) {
        std::unique_ptr<UDisks2BlockDevice> device = createBlockDevice(path);
        if (device && device->idUUID() == uuid) {
            return device;
        }
    }
    return nullptr;
}

std::unique_ptr<UDisks2Partition> UDisks2Manager::createPartition(const QString& path)
{
    std::unique_ptr<UDisks2Partition> partition(new UDisks2Partition(path));
    if (!partition->isValid()) {
        return nullptr;
    }
    return partition;
}
