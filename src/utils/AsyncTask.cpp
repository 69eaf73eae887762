#include "AsyncTask.h"

#include "core/command.h"

#include <QDebug>

namespace {

const QString RepairTool = "/usr/bin/marlin-repair-pkexec";

} // namespace

AsyncTask::AsyncTask(int action) : QThread(nullptr), m_action(action) {}

void AsyncTask::setDevicePath(const QString& devicePath)
{
    m_devicePath = devicePath;
}

void AsyncTask::setRootUUID(const QString& uuid)
{
    m_rootUUID = uuid;
}

void AsyncTask::run()
{
    switch (m_action) {
    case RepairPartition:
        fixPartition();
        break;
    case PartitionCheckList:
        partitionCheckList();
        break;
    case LiveRestorePage:
        initLiveRestorePageInfo();
        break;
    case SystemRepairTool:
        initSystemRepairToolPage();
        break;
    default:
        break;
    }
}

void AsyncTask::fixPartition()
{
    QString output;
    QString err;
    if (Utils::fixPartitionByFsck(m_devicePath, output, err)) {
        Q_EMIT fixPartitionSuccess();
    } else {
        Q_EMIT fixPartitionFailed(err);
    }
}

void AsyncTask::initSystemRepairToolPage()
{
    QString output;
    QString err;
    const bool ok = SpawnCmd(RepairTool, {}, output, err);
    qInfo().noquote() << "marlin-repair, cmd = " + RepairTool + ", ret = " + (ok ? "true" : "false") + ", err = " + err;
    if (ok) {
        Q_EMIT initSystemRepairToolPageFinish();
        return;
    }
    qInfo().noquote() << "marlin-repair, cmd = " + RepairTool + ", output = " + output;
    Q_EMIT initSystemRepairToolPageFailed(err);
}
