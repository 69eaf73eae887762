#include "Mounted.h"

#include "udisks2/UDisks2BlockDevice.h"
#include "udisks2/UDisks2Manager.h"

#include <QFileInfo>

namespace LiveTest {

namespace {

// A device path names one device where a UUID may name a copy on another disk too.
std::unique_ptr<UDisks2BlockDevice> deviceOf(const QString& uuidOrDevice)
{
    if (uuidOrDevice.startsWith("/dev/")) {
        return UDisks2Manager::createBlockDevice("/org/freedesktop/UDisks2/block_devices/" +
                                                 QFileInfo(uuidOrDevice).fileName());
    }
    return UDisks2Manager::blockDeviceByUUID(uuidOrDevice);
}

} // namespace

Mounted::Mounted(const QString& uuid) : m_uuid(uuid)
{
    std::unique_ptr<UDisks2BlockDevice> device = deviceOf(uuid);
    if (!device) {
        return;
    }
    device->mount({});
    const QByteArrayList points = device->mountPoints();
    m_path = points.isEmpty() ? QString() : QString::fromUtf8(points.constFirst());
}

Mounted::~Mounted()
{
    std::unique_ptr<UDisks2BlockDevice> device = deviceOf(m_uuid);
    if (device) {
        device->unmount({});
    }
}

} // namespace LiveTest
