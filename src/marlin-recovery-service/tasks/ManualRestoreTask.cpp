#include "tasks/ManualRestoreTask.h"

#include <QTimer>

namespace {

// Restores are not built yet: fail loudly rather than leave the GUI waiting.
void failSoon(Task* task)
{
    QTimer::singleShot(0, task, [task]() { task->reportFailure("restore is not available in this build"); });
}

} // namespace

ManualRestoreTask::ManualRestoreTask(const QString& backupPath, QObject* parent)
    : Task(parent), m_backupPath(backupPath)
{
    failSoon(this);
}

ManualRestoreTask::ManualRestoreTask(const QJsonArray& tasks, QObject* parent) : Task(parent)
{
    Q_UNUSED(tasks)
    failSoon(this);
}
