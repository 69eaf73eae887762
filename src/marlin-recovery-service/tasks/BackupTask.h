#pragma once

// Writes the backups the installed system ordered: partition or whole-disk images with their disk information and
// MD5, and the opt and var archives with theirs. A backup is built beside its directory and takes its place only
// once every file and checksum is written (BackupOutput); a failed one leaves nothing.

#include "dbus/OperateRequest.h"
#include "tasks/Task.h"

#include <memory>
#include <vector>

class BackupOutput;

class BackupTask : public Task
{
    Q_OBJECT

public:
    BackupTask(const QJsonArray& tasks, const ActionType& type, QObject* parent = nullptr);
    ~BackupTask() override;

    void setTasks(const QJsonArray& tasks);

public slots:
    void runTasks(const QJsonArray& tasks) override;
    // Stores the disk information in an image through the working file, which is written afresh for it: a file
    // left from the image before must never go in. False when either step fails.
    bool writeDiskInfo(const QString& image, const QString& content);

protected:
    QString jobFailureText() const override;

    // The program that writes the working file as root; a stand-in where the package's scripts are not installed.
    QString m_writeFileScript;

private:
    // A file this run writes into a backup directory: an image with its disk information, or an archive.
    struct File
    {
        BackupOutput* output = nullptr;
        QString name;
        QString diskInfo;
        bool archive = false;
    };

    // False when the task failed and nothing more may be queued.
    bool addImageJob(const QJsonArray& args);
    bool addDirectoryJobs(const QJsonArray& args);
    bool addDirectoryArchive(BackupOutput* output, const QString& fromUUID, const QString& fromMount,
                             const QString& name);
    // The backup directory relative names below the partition toUUID, opened at its first use; null (the failure
    // reported) when it cannot be.
    BackupOutput* outputFor(const QString& toUUID, const QString& relative);
    void onTaskFinished();
    // The images' disk information, the archives under their names, every checksum, then each directory in place.
    bool completeFiles();
    void pruneStores();
    void onFailed();
    bool isDestinationFull() const;
    QString failureText(const char* otherwise) const;

    ActionType m_actionType;
    std::vector<std::unique_ptr<BackupOutput>> m_outputs;
    QList<File> m_files;
    // The private directories holding each archive's datainfo.
    QStringList m_leadDirs;
    // What the tools this task ran itself (not as jobs) said when they failed.
    QString m_toolErrors;
};

// The text after the last ":" of a task argument, white space simplified.
QString taskArgument(const QJsonArray& args, int index);
