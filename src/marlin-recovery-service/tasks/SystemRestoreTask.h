#pragma once

// Restores the initial backup: keeping personal files, or a factory reset that also clears user data.

#include "tasks/Task.h"

class SystemRestoreTask : public Task
{
    Q_OBJECT

public:
    SystemRestoreTask(bool formatData, QObject* parent = nullptr);
    SystemRestoreTask(const QJsonArray& tasks, QObject* parent = nullptr);

private:
    bool m_formatData = false;
};
