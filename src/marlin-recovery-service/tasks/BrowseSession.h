#pragma once

// What the person browses to bring back single files: the installed system's partitions or a backup's images,
// each mounted read-only at a private mount point, shown as one folder per volume. Paths inside come from requests:
// every component is opened without following links, so that nothing outside the volumes is ever listed or read.

#include "FsTab.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

class InstalledSystem;

struct BrowseVolume
{
    QString name;
    QString fsType;
    QString label;
    qint64 size = 0;
    // The partition, or the image file.
    QString device;
    QString mountPoint;
    // Where the volume starts below its mount point ("" or a relative path such as "home").
    QStringList subdir;
    bool image = false;
};

class BrowseSession
{
public:
    BrowseSession() = default;
    ~BrowseSession();
    BrowseSession(const BrowseSession&) = delete;
    BrowseSession& operator=(const BrowseSession&) = delete;

    bool isOpen() const { return !m_volumes.isEmpty(); }
    // The installed system's homes: the partition its fstab mounts at /home (directly or as a bind of a directory
    // of another mount), else the root's /home.
    bool openPersonal(const InstalledSystem& system, const QString& rootUUID);
    // One partition of the installed system's disk.
    bool openPartition(const InstalledSystem& system, const QString& devicePath);
    // Every image of a backup directory, through the cloning tool.
    bool openBackup(const QString& backupDir);
    // Unmounts everything.
    void close();

    QJsonArray volumesJson() const;
    // The partitions the session reads from.
    QStringList devices() const;

    // A browse path's components; false for an absolute path or a "..", "." or empty component. "" has none.
    static bool splitPath(const QString& path, QStringList& parts);
    // The directory at these components, opened without following any link; -1 when it is not one.
    int openDirectory(const QStringList& parts) const;
    // The listing of a directory ({"path", "entries"}); false when it is not one.
    bool list(const QString& path, QJsonObject& listing) const;
    // Where the homes are: the UUID of the file system holding them and the directory below its top; the root's
    // "home" when the fstab mounts nothing at /home.
    static void homesOf(const FSTabInfoList& fstab, const QString& rootUUID, QString& uuid, QString& subdir);

private:
    bool addPartition(const QString& name, const QString& device, const QString& fsType, const QString& subdir);
    bool addImage(const QString& name, const QString& image);
    void describe(BrowseVolume& volume) const;
    QJsonArray topLevel() const;

    QList<BrowseVolume> m_volumes;
};
