#pragma once

// Puts the installed system back to its initial backup: keeping personal files, or as a factory reset that also
// empties the user data once every image has been verified and written.

#include "tasks/Task.h"

class SystemRestoreTask : public Task
{
    Q_OBJECT

public:
    SystemRestoreTask(const bool& refreshDataPartition, QObject* parent = nullptr);
    SystemRestoreTask(const QJsonArray& tasks, QObject* parent = nullptr);

    void setTasks(const QJsonArray& tasks);
    void setJobs();
    void removeUserData();
    bool fixDataPartition();

public slots:
    void onTaskFinished();

private:
    void saveLoginRecords(const QString& recoveryMountPoint);
    // The container partition to write when the root is an opened LUKS mapping; toPath otherwise.
    QString encryptedRootTarget(const QString& toPath);
    void removeEntries(const QString& dirPath, const QStringList& kept);
    bool moveToData(const QString& systemMount, const QString& dataMount, const QString& name);
    // The UUID the root has once the initial backup is written back: the one it had at that backup.
    QString restoredRootUUID() const;
    bool holdsPersonalFiles(const QString& uuid) const;
    // Whether an image of the initial backup may go onto the partition with this UUID.
    bool isRestoreTarget(const QString& uuid);

    bool m_refreshDataPartition = false;
    QString m_initRootUUID;
};
