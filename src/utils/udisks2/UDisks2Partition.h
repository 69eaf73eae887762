#pragma once

// One UDisks2 partition; its table is the block device of the whole disk.

#include <QString>

class UDisks2Partition
{
public:
    explicit UDisks2Partition(const QString& path);

    bool isValid() const;
    QString path() const;
    // Object path of the block device of the whole disk.
    QString table() const;
    // The partition type: a GUID on a GPT disk, a number such as "0x82" on an MBR disk.
    QString type() const;

private:
    QString m_path;
    bool m_valid = false;
};
