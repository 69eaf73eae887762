#pragma once

// Restores a backup the user made earlier and chose: whole-disk or per-partition images, then the opt and var
// archives, then the fix-ups a restored system needs.

#include "tasks/Task.h"

class ManualRestoreTask : public Task
{
    Q_OBJECT

public:
    ManualRestoreTask(const QString& backupDir, QObject* parent = nullptr);
    ManualRestoreTask(const QJsonArray& tasks, QObject* parent = nullptr);

    // A whole-disk backup goes onto the disk of this drive instead of the one it was made of; unless keepSize, the
    // last partition then grows to fill it. Set before the task starts.
    void setTargetDrive(const QString& drive, bool keepSize);
    void setTasks(const QJsonArray& tasks);
    void setJobs(const QString& path);
    bool checkFromPathIsExists();
    void restoreSwapUuid();

public slots:
    void onTaskFinished();

private:
    void saveLoginRecords();
    bool readImageInfo(const QString& image);
    // False when the task failed.
    bool addImage(const QString& image, const QString& fileName);
    // Onto the drive the image was made of, and only when that drive holds this system.
    bool addWholeDiskImage(const QString& image);
    // Onto the disk the person chose: refused, before anything is written, unless it qualifies.
    bool addChosenDiskImage(const QString& image);
    // The drive the whole-disk image is written onto.
    QString writtenDrive() const;
    bool addPartitionImage(const QString& image, const QString& fileName);
    void addArchives(const QString& dirPath, const QStringList& archives);
    bool checkArchive(const QString& tarPath, QString& uuid, QString& directory) const;
    void unmountDrive();
    // The checks are all passed: the record of this restore is kept and the first job starts.
    void startChecked();
    // Whether a backup being read lies where a job writes: on a partition (or disk) an image goes onto, or inside
    // a directory an archive replaces.
    bool backupLiesInATarget() const;
    // The UUID the restored root's fstab gives its swap area; empty when it names none.
    QString restoredSwapUuid();
    QString swapPartitionOnDrive() const;

    QString m_diskDrive;
    QString m_targetDrive;
    QString m_targetDisk;
    bool m_keepSize = false;
    QString m_uuid;
    QString m_version;
    QString m_backupDir;
    // Each backup directory read, with the device of its file system, taken before anything is unmounted.
    QList<QPair<QString, QString>> m_sources;
};
