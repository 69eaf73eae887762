#pragma once

// The directory one backup is written to. The backup is built in a fresh working directory beside it, every file at
// a temporary name first, and takes the directory's place only when it is complete: a backup cut off or failed
// never shows under the directory's name, and an older backup there stays whole until then. Every file is created
// through descriptors (never following a link planted in the way), and only what this run created is ever removed.

#include <QList>
#include <QMap>
#include <QPair>
#include <QString>

class BackupOutput
{
public:
    BackupOutput() = default;
    ~BackupOutput();
    BackupOutput(const BackupOutput&) = delete;
    BackupOutput& operator=(const BackupOutput&) = delete;

    // relative below mountPoint: its missing parents are made, and the working directory beside it. False when the
    // path leaves the partition, is the partition's root, or names something other than a directory.
    bool open(const QString& mountPoint, const QString& relative);
    // Where the backup will be, and where it is built meanwhile.
    QString finalPath() const;
    QString workPath() const;
    // The chunk store the backups beside this one share: their images keep only what no other already stored.
    QString storePath() const;

    // A new file in the working directory at a temporary name, open for writing; -1 on failure. The descriptor
    // stays owned here.
    int createTemporary(const QString& name);
    // The temporary file of name, flushed to the disk, under name.
    bool placeTemporary(const QString& name);
    // name + ".md5" in md5sum's format, naming the file where it will lie once the backup is in place.
    bool writeChecksum(const QString& name);
    // The working directory takes the backup directory's place; an older backup there is removed, anything else
    // in it moves over.
    bool commit();
    // Removes the working directory and everything this run wrote to it. Nothing once committed.
    void discard();

    // errno of the last step that failed (ENOSPC: the destination is full).
    int lastError() const { return m_error; }
    // Whether the destination still takes a mebibyte more. A tool that ran out of room does not always say so (tar
    // reports a short write), but the part it wrote is still here to fill the disk.
    bool hasRoomLeft() const;

private:
    bool fail(const QString& what);
    void removeAbandonedWork();
    bool exchangeWithOlder(QString& old);
    void clearOldBackup(const QString& name);
    void closeAll();

    QString m_parentPath;
    QString m_name;
    QString m_workName;
    int m_parentFd = -1;
    int m_workFd = -1;
    // The directories above it that this run made: the one they lie in, and their names.
    QList<QPair<int, QString>> m_createdParents;
    // Name → temporary name and its open descriptor.
    QMap<QString, QPair<QString, int>> m_temporaries;
    int m_error = 0;
    bool m_committed = false;
};
