#pragma once

// Writes the backups the installed system ordered: partition or whole-disk images with their disk information and
// MD5, and the opt and var archives.

#include "dbus/OperateRequest.h"
#include "tasks/Task.h"

class BackupTask : public Task
{
    Q_OBJECT

public:
    BackupTask(const QJsonArray& tasks, const ActionType& type, QObject* parent = nullptr);

    void setTasks(const QJsonArray& tasks);

public slots:
    void runTasks(const QJsonArray& tasks) override;
    // Stores the disk information in an image through the working file, which is written afresh for it: a file
    // left from the image before must never go in. False when either step fails.
    bool writeDiskInfo(const QString& image, const QString& content);

private:
    // False when the task failed and nothing more may be queued.
    bool addImageJob(const QJsonArray& args);
    void addDirectoryJobs(const QJsonArray& args);
    void onTaskFinished();
    bool writeMD5(const QString& image);
    bool addDirectoryArchive(const QString& fromUUID, const QString& fromMount, const QString& name,
                             const QString& archive);
    static QString backupDirectory(const QString& mountPoint, const QString& relative);

    ActionType m_actionType;
    QString m_toPath;
    // Image path → its disk information, stored into the image once the image exists.
    QMap<QString, QString> m_diskInfos;
};

// The text after the last ":" of a task argument, white space simplified.
QString taskArgument(const QJsonArray& args, int index);
