#include "tasks/SystemRestoreTask.h"

#include <QTimer>

namespace {

// Restores are not built yet: fail loudly rather than leave the GUI waiting.
void failSoon(Task* task)
{
    QTimer::singleShot(0, task, [task]() { task->reportFailure("restore is not available in this build"); });
}

} // namespace

SystemRestoreTask::SystemRestoreTask(bool formatData, QObject* parent) : Task(parent), m_formatData(formatData)
{
    failSoon(this);
}

SystemRestoreTask::SystemRestoreTask(const QJsonArray& tasks, QObject* parent) : Task(parent)
{
    Q_UNUSED(tasks)
    failSoon(this);
}
