#include "udisks2/UDisks2Partition.h"

#include "udisks2/UDisks2Manager.h"

#include <QDBusObjectPath>
#include <QVariant>

UDisks2Partition::UDisks2Partition(const QString& path) : m_path(path)
{
    QVariant value;
    m_valid = UDisks2::readProperty(m_path, UDisks2::PartitionInterface, "Table", value);
}

bool UDisks2Partition::isValid() const
{
    return m_valid;
}

QString UDisks2Partition::path() const
{
    return m_path;
}

QString UDisks2Partition::table() const
{
    QVariant value;
    UDisks2::readProperty(m_path, UDisks2::PartitionInterface, "Table", value);
    return value.value<QDBusObjectPath>().path();
}

QString UDisks2Partition::type() const
{
    QVariant value;
    UDisks2::readProperty(m_path, UDisks2::PartitionInterface, "Type", value);
    return value.toString();
}
