#include "dbus/RecoveryService.h"

#include "AsyncTask.h"
#include "MountPath.h"
#include "dbus/CallerCheck.h"
#include "dbus/OperateRequest.h"
#include "tasks/BackupTask.h"
#include "tasks/ManualRestoreTask.h"
#include "tasks/RestoreDisks.h"
#include "tasks/SystemRestoreTask.h"
#include "tasks/WholeDisk.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusReply>
#include <QDebug>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStorageInfo>
#include <QTimer>

#include <unistd.h>

namespace {

const QString LiveCallerName = "marlin-recovery-live";
const QString ObjectPath = "/com/marlin/recovery";
// The kernel keeps only this many characters of a process's command name.
const int KernelCommNameLength = 15;

QJsonObject parseRecoveryInfo(const QString& recoveryInfo)
{
    return Utils::stringToJson(recoveryInfo);
}

// What the window's disk chooser shows for the whole-disk backup in the request's directory.
bool restoreDisksData(const RestoreRequest& request, QJsonObject& data)
{
    const QString dir =
        request.backupUUID.isEmpty()
            ? request.backupDir
            : RecoveryService::backupDirInsideDevice(Utils::mountDeviceByUUID(request.backupUUID), request.backupDir);
    RestoreDisks::ImageDisk image;
    if (dir.isEmpty() || !RestoreDisks::readImageDisk(dir, image)) {
        return false;
    }
    const QString device = QString::fromUtf8(QStorageInfo(dir).device());
    const QString backupDisk = WholeDisk::diskOf(QFileInfo(device).canonicalFilePath());
    data = QJsonObject{{"needBytes", image.needBytes},
                       {"recordedDrive", image.drive},
                       {"recordedPresent", !RestoreDisks::diskOfDrive(image.drive).isEmpty()},
                       {"disks", RestoreDisks::list(image.needBytes, backupDisk)}};
    return true;
}

} // namespace

QString RecoveryService::requestSummary(const QString& text)
{
    const QJsonObject obj = Utils::stringToJson(text);
    if (obj.isEmpty()) {
        return QString("(%1 bytes, not a JSON object)").arg(text.size());
    }
    QStringList parts{"opType=" + QString::number(obj.value("opType").toInt()),
                      "operateID=" + obj.value("operateID").toString().left(64)};
    for (auto it = obj.constBegin(); it != obj.constEnd(); ++it) {
        const QJsonValue value = it.value();
        if (it.key() == "opType" || it.key() == "operateID") {
            continue;
        }
        const QString key = it.key().left(32);
        if (value.isBool() || value.isDouble()) {
            parts.append(key + "=" + value.toVariant().toString());
        } else if (value.isArray() || value.isObject()) {
            parts.append(key + (value.isArray() ? "=(a list)" : "=(an object)"));
        } else {
            parts.append(QString("%1=(%2 bytes)").arg(key).arg(value.toString().toUtf8().size()));
        }
    }
    return parts.join(' ');
}

RecoveryService::RecoveryService(QObject* parent) : QObject(parent)
{
    if (Utils::getCmdLineInfo(m_cmdLineInfo)) {
        m_liveRootUUID = m_cmdLineInfo.rootUUID;
    }
    m_liveType = Utils::getLiveType("/etc/fstab");
}

RecoveryService::~RecoveryService() = default;

bool RecoveryService::isLiveCallerName(const QString& commName, const QString& exeName)
{
    // Equal to the expected name as the kernel cuts it: a prefix test would let "m" or "marlin" through.
    if (commName != LiveCallerName.left(KernelCommNameLength)) {
        return false;
    }
    // The cut name is shared by "marlin-recovery-gui" and the like: the executable's full name tells them apart.
    if (exeName.isEmpty() || exeName.startsWith(LiveCallerName)) {
        return true;
    }
    return LiveCallerName.startsWith(exeName) && exeName.size() >= KernelCommNameLength;
}

// The account first: names are chosen by whoever starts a program, the user id on the bus is not.
bool RecoveryService::isValidLiveCaller()
{
    if (m_liveType != 1 || !calledFromDBus()) {
        return false;
    }
    QDBusConnectionInterface* bus = connection().interface();
    const QDBusReply<uint> uid = bus->serviceUid(message().service());
    if (!uid.isValid() || !CallerCheck::isAdministrator(uid.value())) {
        qWarning().noquote() << "caller refused, not root nor in group " + QString(CallerCheck::AdministratorsGroup) +
                                    ", uid: " + (uid.isValid() ? QString::number(uid.value()) : QString("unknown"));
        return false;
    }
    const QString connection = message().service();
    return isLiveCallerProcess(connection, bus->servicePid(connection).value());
}

bool RecoveryService::isLiveCallerProcess(const QString& connection, uint pid)
{
    const CallerProcess process = CallerCheck::callerProcess(pid);
    if (!process.isKnown()) {
        return false;
    }
    if (m_callerVerdicts.isAccepted(connection, process)) {
        return true;
    }
    QString name;
    if (!Utils::getProcessNameByPid(int(pid), name)) {
        return false;
    }
    const QString exeName = QFileInfo(QFileInfo(QString("/proc/%1/exe").arg(pid)).symLinkTarget()).fileName();
    // The names read belong to the process that was asked about only if it still runs the same program under the
    // same id.
    if (!isLiveCallerName(name, exeName) || !(CallerCheck::callerProcess(pid) == process)) {
        return false;
    }
    m_callerVerdicts.accept(connection, process);
    return true;
}

void RecoveryService::setCurrent(const OperateRequest& request)
{
    m_opType = request.opType;
    m_operateID = request.operateID;
}

void RecoveryService::resetCurrent()
{
    m_opType = 0;
    m_operateID.clear();
}

OperateResponse RecoveryService::response(int retCode, int progress) const
{
    OperateResponse rsp;
    rsp.operateID = m_operateID;
    rsp.opType = m_opType;
    rsp.retCode = retCode;
    rsp.progress = progress;
    return rsp;
}

void RecoveryService::emitError(const QString& errMsg)
{
    OperateResponse rsp = response(-1, 100);
    rsp.errMsg = errMsg;
    Q_EMIT Error(rsp.toString());
}

void RecoveryService::emitErrorFor(const OperateRequest& request, const QString& errMsg)
{
    OperateResponse rsp = response(-1, 100);
    rsp.operateID = request.operateID;
    rsp.opType = request.opType;
    rsp.errMsg = errMsg;
    Q_EMIT Error(rsp.toString());
}

int RecoveryService::GetLiveType()
{
    return Utils::getLiveType("/etc/fstab");
}

int RecoveryService::SystemRestore(const QString& restoreReq)
{
    if (!isValidLiveCaller()) {
        qWarning().noquote() << "RecoveryService::SystemRestore, invalid live caller";
        return -100;
    }
    const QJsonObject obj = Utils::stringToJson(restoreReq);
    if (obj.isEmpty()) {
        qWarning().noquote() << "RecoveryService::SystemRestore, jsonObject isEmpty, restoreReq: " +
                                    requestSummary(restoreReq);
        return -1;
    }
    RestoreRequest request;
    request.read(obj);
    setCurrent(request);
    if (request.opType == OpSystemRestore) {
        startTaskAfterAnswer([this, formatData = request.formatData, obj]() {
            setTask(new SystemRestoreTask(formatData, this));
            m_task->setRestoreRequest("SystemRestore", obj);
        });
    }
    return 0;
}

QString RecoveryService::backupDirOnDevice(const QString& mountPoint, const QString& backupDir)
{
    if (!mountPoint.isEmpty() && (backupDir == mountPoint || backupDir.startsWith(mountPoint + "/"))) {
        return backupDir;
    }
    return mountPoint + backupDir;
}

QString RecoveryService::backupDirInsideDevice(const QString& mountPoint, const QString& backupDir)
{
    if (mountPoint.isEmpty()) {
        return QString();
    }
    return MountPath::resolveInside(mountPoint, backupDirOnDevice(mountPoint, backupDir).mid(mountPoint.size()));
}

int RecoveryService::ManualRestore(const QString& restoreReq)
{
    if (!isValidLiveCaller()) {
        qWarning().noquote() << "RecoveryService::ManualRestore, invalid live caller";
        return -100;
    }
    const QJsonObject obj = Utils::stringToJson(restoreReq);
    if (obj.isEmpty()) {
        qWarning().noquote() << "RecoveryService::ManualRestore, jsonObject isEmpty, restoreReq: " +
                                    requestSummary(restoreReq);
        return -1;
    }
    RestoreRequest request;
    request.read(obj);
    setCurrent(request);
    qInfo().noquote() << "ManualRestore, req: " + requestSummary(restoreReq);
    if (request.opType == OpManualRestore || request.opType == OpDeviceRestore) {
        startTaskAfterAnswer([this, request, obj]() {
            const QString path = manualRestorePath(request);
            if (path.isEmpty()) {
                qWarning().noquote() << "RecoveryService::ManualRestore, backup directory outside its device";
                emitError(QCoreApplication::translate("ManualRestoreTask", "Cannot find the target location"));
                m_taskRunning = false;
                return;
            }
            auto* task = new ManualRestoreTask(path, this);
            task->setTargetDrive(request.targetDrive, request.keepSize);
            setTask(task);
            m_task->setRestoreRequest("ManualRestore", obj);
        });
    }
    return 0;
}

// The backup directory of a manual restore; for a restore from a device, below that device's mount point and
// empty when it leaves the device.
QString RecoveryService::manualRestorePath(const RestoreRequest& request)
{
    if (!request.backupUUID.isEmpty()) {
        Utils::umountDeviceByUUID(request.backupUUID);
    }
    if (request.opType != OpDeviceRestore) {
        return request.backupDir;
    }
    return backupDirInsideDevice(Utils::mountDeviceByUUID(request.backupUUID), request.backupDir);
}

// The answer goes out first: finding the installed system may take long (a broken root, many disks), and the window
// waits for the outcome, not for the answer. One task per service run.
void RecoveryService::startTaskAfterAnswer(const std::function<void()>& makeTask)
{
    if (m_task != nullptr || m_taskRunning) {
        return;
    }
    m_taskRunning = true;
    QTimer::singleShot(0, this, makeTask);
}

bool RecoveryService::refuseWhileTaskRuns(const QString& method)
{
    if (!m_taskRunning) {
        return false;
    }
    // Neither the current request nor the disks the task works on are touched.
    qWarning().noquote() << "RecoveryService::" + method + ", refused while a task runs";
    return true;
}

int RecoveryService::RestoreByTask(const QString& restoreReq)
{
    if (!isValidLiveCaller()) {
        qWarning().noquote() << "RecoveryService::RestoreByTask, invalid live caller";
        return -100;
    }
    const QJsonObject obj = Utils::stringToJson(restoreReq);
    if (obj.isEmpty()) {
        qWarning().noquote() << "RecoveryService::RestoreByTask, jsonObject isEmpty, restoreReq: " +
                                    requestSummary(restoreReq);
        return -1;
    }
    TaskRequest request;
    request.read(obj);
    if (request.opType != OpSystemRestore && request.opType != OpManualRestore) {
        return -1;
    }
    const QJsonObject recoveryInfo = parseRecoveryInfo(request.recoveryInfo);
    qInfo().noquote() << "RestoreByTask, recoveryInfo: " + requestSummary(request.recoveryInfo);
    m_autoReboot = recoveryInfo.value("auto_reboot").toBool(false);
    const QJsonArray tasks = recoveryInfo.value("tasks").toArray();
    setCurrent(request);
    startTaskAfterAnswer([this, manual = request.opType == OpManualRestore, tasks, obj]() {
        if (manual) {
            setTask(new ManualRestoreTask(tasks, this));
        } else {
            setTask(new SystemRestoreTask(tasks, this));
        }
        m_task->setRestoreRequest("RestoreByTask", obj);
    });
    return 0;
}

int RecoveryService::ManualBackup(const QString& backupReq)
{
    return backup("ManualBackup", OpManualBackup, backupReq);
}

int RecoveryService::SystemBackup(const QString& backupReq)
{
    return backup("SystemBackup", OpSystemBackup, backupReq);
}

int RecoveryService::backup(const QString& method, int opType, const QString& backupReq)
{
    if (!isValidLiveCaller()) {
        qWarning().noquote() << "RecoveryService::" + method + ", invalid live caller";
        return -100;
    }
    const QJsonObject obj = Utils::stringToJson(backupReq);
    if (obj.isEmpty()) {
        qWarning().noquote() << "RecoveryService::" + method +
                                    ", jsonObject isEmpty, backupReq: " + requestSummary(backupReq);
        return -1;
    }
    TaskRequest request;
    request.read(obj);
    setCurrent(request);
    if (request.opType != opType) {
        return 0;
    }
    const QJsonObject recoveryInfo = parseRecoveryInfo(request.recoveryInfo);
    qInfo().noquote() << method + ", recoveryInfo: " + requestSummary(request.recoveryInfo);
    m_autoReboot = recoveryInfo.value("auto_reboot").toBool(false);
    const QJsonArray tasks = recoveryInfo.value("tasks").toArray();
    startTaskAfterAnswer([this, tasks, opType]() {
        setTask(new BackupTask(tasks, ActionType(opType), this));
        m_task->runTasks(tasks);
    });
    return 0;
}

bool RecoveryService::FixPartitionByFsck(const QString& req)
{
    if (!isValidLiveCaller()) {
        qWarning().noquote() << "RecoveryService::FixPartitionByFsck, invalid live caller";
        return false;
    }
    const QJsonObject obj = Utils::stringToJson(req);
    if (obj.isEmpty()) {
        qWarning().noquote() << "RecoveryService::FixPartitionByFsck, jsonObject isEmpty, req: " + requestSummary(req);
        return false;
    }
    qInfo().noquote() << "FixPartitionByFsck, req: " + requestSummary(req);
    if (refuseWhileTaskRuns("FixPartitionByFsck")) {
        return false;
    }
    FsckRequest request;
    request.read(obj);
    if (request.devicePath.isEmpty()) {
        setCurrent(request);
        return false;
    }
    // A worker that is still there (of any kind, running or just ending) would never repair this partition: say so
    // to this request, and leave the current request to that worker, whose outcome must not pass for this repair.
    if (m_asyncTask != nullptr) {
        qWarning().noquote() << "RecoveryService::FixPartitionByFsck, m_asyncTask is not null";
        emitErrorFor(request, "another task is running");
        return false;
    }
    setCurrent(request);
    m_asyncTask = new AsyncTask(AsyncTask::RepairPartition);
    ConnectAsyncTaskResponse();
    m_asyncTask->setDevicePath(request.devicePath);
    qInfo().noquote() << "m_asyncTask FixPartitionByFsck start";
    m_asyncTask->start(QThread::InheritPriority);
    return true;
}

bool RecoveryService::refuseWhileWorkerRuns(const QString& method)
{
    if (m_asyncTask == nullptr) {
        return false;
    }
    emitError("another task is running");
    qWarning().noquote() << "RecoveryService::" + method + ", m_asyncTask is not null";
    resetCurrent();
    return true;
}

void RecoveryService::startInfoWorker(int action, const char* finishedLog)
{
    m_asyncTask = new AsyncTask(action);
    AsyncTask* worker = m_asyncTask;
    const auto succeed = [this](const QString& data) {
        OperateResponse rsp = response(0, 100);
        rsp.data = data;
        Q_EMIT Success(rsp.toString());
        resetCurrent();
    };
    connect(worker, &AsyncTask::getPartitionCheckItemFinish, this, succeed);
    connect(worker, &AsyncTask::initLiveRestorePageFinish, this, succeed);
    connect(worker, &AsyncTask::initSystemRepairToolPageFinish, this, [succeed]() { succeed(QString()); });
    connect(worker, &AsyncTask::initSystemRepairToolPageFailed, this,
            [this](const QString& error) { emitError(error); });
    // Queued to this thread: the worker is released and forgotten only here, never under a running request.
    connect(worker, &QThread::finished, this, [this, worker, finishedLog]() {
        qInfo().noquote() << finishedLog;
        worker->deleteLater();
        if (m_asyncTask == worker) {
            m_asyncTask = nullptr;
        }
    });
    worker->setRootUUID(m_liveRootUUID);
    worker->start(QThread::InheritPriority);
}

int RecoveryService::AsyncGetPartitionCheckItemLists(const QString& req)
{
    if (!isValidLiveCaller()) {
        qWarning().noquote() << "RecoveryService::AsyncGetPartitionCheckItemLists, invalid live caller";
        return -100;
    }
    const QJsonObject obj = Utils::stringToJson(req);
    if (obj.isEmpty()) {
        qWarning().noquote() << "RecoveryService::AsyncGetPartitionCheckItemLists, jsonObject isEmpty, req: " +
                                    requestSummary(req);
        return -1;
    }
    qInfo().noquote() << "AsyncGetPartitionCheckItemLists, req: " + requestSummary(req);
    if (refuseWhileTaskRuns("AsyncGetPartitionCheckItemLists")) {
        return -1;
    }
    OperateRequest request;
    request.read(obj);
    setCurrent(request);
    if (request.opType != OpPartitionCheckList) {
        emitError("opType not match");
        qWarning().noquote() << "RecoveryService::AsyncGetPartitionCheckItemLists, opType not match, req: " +
                                    requestSummary(req);
        return -1;
    }
    if (refuseWhileWorkerRuns("AsyncGetPartitionCheckItemLists")) {
        return -1;
    }
    startInfoWorker(AsyncTask::PartitionCheckList, "m_asyncTask AsyncGetPartitionCheckItemLists finished");
    return 0;
}

int RecoveryService::InitLiveRestorePage(const QString& req)
{
    if (!isValidLiveCaller()) {
        qWarning().noquote() << "RecoveryService::InitLiveRestorePage, invalid live caller";
        return -100;
    }
    const QJsonObject obj = Utils::stringToJson(req);
    if (obj.isEmpty()) {
        qWarning().noquote() << "RecoveryService::InitLiveRestorePage, jsonObject isEmpty, req: " + requestSummary(req);
        return -1;
    }
    if (refuseWhileTaskRuns("InitLiveRestorePage")) {
        return -1;
    }
    OperateRequest request;
    request.read(obj);
    setCurrent(request);
    if (refuseWhileWorkerRuns("InitLiveRestorePage")) {
        return -1;
    }
    startInfoWorker(AsyncTask::LiveRestorePage, "m_asyncTask InitLiveRestorePage finished");
    return 0;
}

int RecoveryService::ShowSystemRepairTool(const QString& req)
{
    // It starts a tool as root: the same callers as every other request, and nothing of the current request is
    // touched for one refused.
    if (!isValidLiveCaller()) {
        qWarning().noquote() << "RecoveryService::ShowSystemRepairTool, invalid live caller";
        return -100;
    }
    const QJsonObject obj = Utils::stringToJson(req);
    if (obj.isEmpty()) {
        qWarning().noquote() << "RecoveryService::ShowSystemRepairTool, jsonObject isEmpty, req: " +
                                    requestSummary(req);
        return -1;
    }
    qInfo().noquote() << "ShowSystemRepairTool, req: " + requestSummary(req);
    if (refuseWhileTaskRuns("ShowSystemRepairTool")) {
        return -1;
    }
    OperateRequest request;
    request.read(obj);
    setCurrent(request);
    if (request.opType != OpSystemRepairTool) {
        emitError("opType not match");
        qWarning().noquote() << "RecoveryService::ShowSystemRepairTool, opType not match, req: " + requestSummary(req);
        return -1;
    }
    if (refuseWhileWorkerRuns("ShowSystemRepairTool")) {
        return -1;
    }
    startInfoWorker(AsyncTask::SystemRepairTool, "m_asyncTask ShowSystemRepairTool finished");
    return 0;
}

bool RecoveryService::publish(QDBusConnection bus, const QString& name)
{
    if (!bus.registerService(name)) {
        qCritical().noquote() << bus.lastError().message();
        return false;
    }
    if (!bus.registerObject(ObjectPath, this, QDBusConnection::ExportAllContents)) {
        qCritical().noquote() << "registerObject failed: " + ObjectPath + ", " + bus.lastError().message();
        bus.unregisterService(name);
        return false;
    }
    return true;
}

void RecoveryService::setTask(Task* task)
{
    m_task = task;
    ConnectResponse();
}

void RecoveryService::ConnectResponse()
{
    connect(m_task, &Task::progressChanged, this, [this](int value) {
        // The bus carries 0 to 99 while a task runs; the 100 belongs to Success.
        const int progress = qBound(0, value, 99);
        if (progress <= m_lastProgress) {
            return;
        }
        m_lastProgress = progress;
        OperateResponse rsp = response(0, progress);
        rsp.autoReboot = m_autoReboot;
        Q_EMIT ReportProgress(rsp.toString());
    });
    connect(m_task, &Task::finished, this, &RecoveryService::onTaskFinished);
    connect(m_task, &Task::failed, this, &RecoveryService::onTaskFailed);
}

// The logs are kept before the outcome is announced: the GUI may reboot the moment it hears it.
void RecoveryService::onTaskFinished()
{
    m_lastProgress = -1;
    m_taskRunning = false;
    OperateResponse rsp = response(0, 100);
    rsp.autoReboot = m_autoReboot;
    ::sync();
    qDebug().noquote() << "Task::finished! saveLogToRecovery";
    m_task->saveLogToRecovery();
    Q_EMIT Success(rsp.toString());
}

void RecoveryService::onTaskFailed(const QString& error)
{
    m_lastProgress = -1;
    m_taskRunning = false;
    OperateResponse rsp = response(-1, 100);
    rsp.errMsg = error;
    rsp.autoReboot = m_autoReboot;
    qInfo().noquote() << "RecoveryService Error rsp = " + rsp.toString();
    ::sync();
    qDebug().noquote() << "Task::failed! saveLogToRecovery";
    m_task->saveLogToRecovery();
    Q_EMIT Error(rsp.toString());
}

void RecoveryService::ConnectAsyncTaskResponse()
{
    AsyncTask* worker = m_asyncTask;
    connect(worker, &AsyncTask::fixPartitionSuccess, this, [this]() { Q_EMIT Success(response(0, 100).toString()); });
    connect(worker, &AsyncTask::fixPartitionFailed, this, [this](const QString& error) { emitError(error); });
    connect(worker, &QThread::finished, this, [this, worker]() {
        qInfo().noquote() << "m_asyncTask finished";
        worker->deleteLater();
        if (m_asyncTask == worker) {
            m_asyncTask = nullptr;
        }
    });
}

// Scaffold: refused until built.
int RecoveryService::OpenBrowse(const QString&) { return -1; }
int RecoveryService::ListBrowseDirectory(const QString&) { return -1; }
int RecoveryService::ListCopyDestinations(const QString&) { return -1; }
int RecoveryService::CopyBrowseFiles(const QString&) { return -1; }
int RecoveryService::CancelBrowseCopy(const QString&) { return -1; }
int RecoveryService::CloseBrowse(const QString&) { return -1; }

// The disks a whole-disk backup may go onto, for the window's chooser.
int RecoveryService::ListRestoreDisks(const QString& req)
{
    if (!isValidLiveCaller()) {
        qWarning().noquote() << "RecoveryService::ListRestoreDisks, invalid live caller";
        return -100;
    }
    const QJsonObject obj = Utils::stringToJson(req);
    if (obj.isEmpty()) {
        qWarning().noquote() << "RecoveryService::ListRestoreDisks, jsonObject isEmpty, req: " + requestSummary(req);
        return -1;
    }
    qInfo().noquote() << "ListRestoreDisks, req: " + requestSummary(req);
    if (refuseWhileTaskRuns("ListRestoreDisks")) {
        return -1;
    }
    RestoreRequest request;
    request.read(obj);
    setCurrent(request);
    if (request.opType != OpRestoreDisks) {
        emitError("opType not match");
        return -1;
    }
    if (refuseWhileWorkerRuns("ListRestoreDisks")) {
        return -1;
    }
    // The answer first: reading the image and asking udisksd about every disk takes a moment.
    QTimer::singleShot(0, this, [this, request]() {
        QJsonObject data;
        if (!restoreDisksData(request, data)) {
            qWarning().noquote() << "ListRestoreDisks, no whole-disk image in the backup directory";
            emitError("no whole-disk backup there");
        } else {
            OperateResponse rsp = response(0, 100);
            rsp.data = QString::fromUtf8(QJsonDocument(data).toJson(QJsonDocument::Compact));
            Q_EMIT Success(rsp.toString());
        }
        resetCurrent();
    });
    return 0;
}
