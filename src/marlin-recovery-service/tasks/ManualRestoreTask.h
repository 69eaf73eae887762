#pragma once

// Restores a backup chosen by the user, by path or by task order.

#include "tasks/Task.h"

class ManualRestoreTask : public Task
{
    Q_OBJECT

public:
    ManualRestoreTask(const QString& backupPath, QObject* parent = nullptr);
    ManualRestoreTask(const QJsonArray& tasks, QObject* parent = nullptr);

private:
    QString m_backupPath;
};
