#pragma once

// The installed system names its file systems by UUID in /etc/fstab; this reads such a file line by line.

#include <QList>
#include <QSharedPointer>
#include <QString>
#include <QStringList>

struct FSTabInfo
{
    bool isComment = false;
    bool isEmpty = false;
    QString device;
    QString mountPoint;
    QString type;
    QString options;
    QString dump = "0";
    QString pass = "0";
    QString line;
};

using FSTabInfoPtr = QSharedPointer<FSTabInfo>;
using FSTabInfoList = QList<FSTabInfoPtr>;

class FSTab
{
public:
    virtual ~FSTab() = default;

    // One record per line, comments and blank lines included; empty when the file cannot be read.
    static FSTabInfoList getFSTabFromFile(const QString& fileName);
    static FSTabInfoList fromText(const QByteArray& text);
    // The UUID of a "UUID=" entry, else empty.
    static QString getUUIDFromInfo(const FSTabInfoPtr& info);
    static FSTabInfoPtr findByUUID(const FSTabInfoList& list, const QString& uuid);
    // UUIDs of all real mounts (bind mounts left out), in file order.
    static QStringList getUUIDList(const FSTabInfoList& list);
    // The UUID of the first swap entry, when it names its swap area "UUID=" and a well-formed UUID; empty for
    // anything else (a device path, a label, a swap file), which names no UUID a swap area could be given.
    static QString swapUUID(const FSTabInfoList& list);
};
