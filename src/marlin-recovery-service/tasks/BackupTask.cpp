#include "tasks/BackupTask.h"

#include <QTimer>

BackupTask::BackupTask(const QJsonArray& tasks, int opType, QObject* parent) : Task(parent), m_opType(opType)
{
    Q_UNUSED(tasks)
}

void BackupTask::runTasks(const QJsonArray& tasks)
{
    Q_UNUSED(tasks)
    // Backups are not built yet: fail loudly rather than leave the GUI waiting.
    QTimer::singleShot(0, this, [this]() { reportFailure("backup is not available in this build"); });
}
