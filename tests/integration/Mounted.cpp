#include "Mounted.h"

#include "utils.h"

namespace LiveTest {

Mounted::Mounted(const QString& uuid) : m_uuid(uuid), m_path(Utils::mountDeviceByUUID(uuid)) {}

Mounted::~Mounted()
{
    Utils::umountDeviceByUUID(m_uuid);
}

} // namespace LiveTest
