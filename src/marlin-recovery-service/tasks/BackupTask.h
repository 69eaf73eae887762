#pragma once

// Writes the backups the installed system ordered: partition images and the opt/var archives.

#include "tasks/Task.h"

class BackupTask : public Task
{
    Q_OBJECT

public:
    BackupTask(const QJsonArray& tasks, int opType, QObject* parent = nullptr);

public slots:
    void runTasks(const QJsonArray& tasks) override;

private:
    int m_opType;
};
