#include "dbus/RecoveryService.h"

#include "AsyncTask.h"
#include "MountPath.h"
#include "dbus/CallerCheck.h"
#include "dbus/OperateRequest.h"
#include "tasks/BackupTask.h"
#include "tasks/BrowseMounts.h"
#include "tasks/BrowseSession.h"
#include "tasks/CopyDestinations.h"
#include "tasks/FileCopier.h"
#include "tasks/ManualRestoreTask.h"
#include "tasks/RestoreDisks.h"
#include "tasks/SystemRestoreTask.h"
#include "tasks/WholeDisk.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStorageInfo>
#include <QTimer>

#include <atomic>
#include <climits>

#include <fcntl.h>
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

RecoveryService::~RecoveryService()
{
    closeBrowse();
}

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
    // Nothing the task may write to stays mounted for browsing.
    closeBrowse();
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

// ---- browsing and copying single files ----

namespace {

const QString DefaultDestDir = "Recovered Files";
std::atomic_bool Browsing{false};

// One component a file system can hold as a name.
bool isPlainName(const QString& name)
{
    return !name.isEmpty() && name != "." && name != ".." && !name.contains('/') && !name.contains(QChar(0)) &&
           QFile::encodeName(name).size() <= NAME_MAX;
}

} // namespace

bool RecoveryService::acceptBrowseRequest(const QString& method, const QString& text, int opType, QJsonObject& obj,
                                          OperateRequest& request, int& answer)
{
    answer = -1;
    if (!isValidLiveCaller()) {
        qWarning().noquote() << "RecoveryService::" + method + ", invalid live caller";
        answer = -100;
        return false;
    }
    obj = Utils::stringToJson(text);
    if (obj.isEmpty()) {
        qWarning().noquote() << "RecoveryService::" + method + ", jsonObject isEmpty, req: " + requestSummary(text);
        return false;
    }
    qInfo().noquote() << method + ", req: " + requestSummary(text);
    request.read(obj);
    if (request.opType != opType) {
        emitBrowseOutcome(request, "opType not match");
        return false;
    }
    if (m_taskRunning) {
        emitBrowseOutcome(request, "another task is running");
        return false;
    }
    answer = 0;
    return true;
}

// Browse requests answer with their own ids: a copy runs beside listings, and neither is the current request of
// a task or an information worker.
void RecoveryService::emitBrowseOutcome(const OperateRequest& request, const QString& errMsg, const QJsonObject& data,
                                        int progress)
{
    OperateResponse rsp;
    rsp.operateID = request.operateID;
    rsp.opType = request.opType;
    rsp.retCode = errMsg.isEmpty() ? 0 : -1;
    rsp.progress = progress;
    rsp.errMsg = errMsg;
    if (!data.isEmpty()) {
        rsp.data = QString::fromUtf8(QJsonDocument(data).toJson(QJsonDocument::Compact));
    }
    if (progress < 100) {
        Q_EMIT ReportProgress(rsp.toString());
    } else if (errMsg.isEmpty()) {
        Q_EMIT Success(rsp.toString());
    } else {
        qWarning().noquote() << "browse request refused or failed: " + errMsg;
        Q_EMIT Error(rsp.toString());
    }
}

int RecoveryService::OpenBrowse(const QString& req)
{
    QJsonObject obj;
    OperateRequest request;
    int answer = -1;
    if (!acceptBrowseRequest("OpenBrowse", req, OpBrowseOpen, obj, request, answer)) {
        return answer;
    }
    const QString source = obj.value("source").toString();
    if (source != "backup" && source != "personal" && source != "partition") {
        emitBrowseOutcome(request, "Unknown source");
        return -1;
    }
    closeBrowse();
    m_browse = std::make_unique<BrowseSession>();
    Browsing = true;
    m_browseWatcher =
        new QDBusServiceWatcher(message().service(), connection(), QDBusServiceWatcher::WatchForUnregistration, this);
    connect(m_browseWatcher, &QDBusServiceWatcher::serviceUnregistered, this, [this]() {
        qInfo().noquote() << "the browsing window left the bus, closing";
        closeBrowse();
    });
    QTimer::singleShot(0, this, [this, request, obj]() { openBrowse(request, obj); });
    return 0;
}

void RecoveryService::openBrowse(const OperateRequest& request, const QJsonObject& obj)
{
    if (!m_browse) {
        emitBrowseOutcome(request, "Browsing was closed");
        return;
    }
    const QString source = obj.value("source").toString();
    InstalledSystem system;
    bool opened = false;
    if (source == "backup") {
        opened = m_browse->openBackup(browseBackupDir(obj));
    } else {
        system.identify(m_liveRootUUID);
        opened = source == "personal" ? m_browse->openPersonal(system, m_liveRootUUID)
                                      : m_browse->openPartition(system, obj.value("devicePath").toString());
    }
    if (!opened) {
        m_browse->close();
        emitBrowseOutcome(request, "Cannot open it for browsing");
        return;
    }
    emitBrowseOutcome(request, QString(), QJsonObject{{"volumes", m_browse->volumesJson()}});
}

// As a restore finds it: below the mount point of the device holding it, or as named.
QString RecoveryService::browseBackupDir(const QJsonObject& obj)
{
    const QString backupDir = obj.value("backupDir").toString();
    const QString backupUUID = obj.value("backupUUID").toString();
    if (backupUUID.isEmpty()) {
        return QDir::isAbsolutePath(backupDir) ? QFileInfo(backupDir).canonicalFilePath() : QString();
    }
    return backupDirInsideDevice(Utils::mountDeviceByUUID(backupUUID), backupDir);
}

int RecoveryService::ListBrowseDirectory(const QString& req)
{
    QJsonObject obj;
    OperateRequest request;
    int answer = -1;
    if (!acceptBrowseRequest("ListBrowseDirectory", req, OpBrowseList, obj, request, answer)) {
        return answer;
    }
    const QString path = obj.value("path").toString();
    QStringList parts;
    if (!BrowseSession::splitPath(path, parts)) {
        emitBrowseOutcome(request, "Invalid path");
        return -1;
    }
    if (!m_browse || !m_browse->isOpen()) {
        emitBrowseOutcome(request, "Nothing is open for browsing");
        return -1;
    }
    QTimer::singleShot(0, this, [this, request, path]() {
        QJsonObject listing;
        if (!m_browse || !m_browse->list(path, listing)) {
            emitBrowseOutcome(request, "Cannot open the folder");
            return;
        }
        emitBrowseOutcome(request, QString(), listing);
    });
    return 0;
}

int RecoveryService::ListCopyDestinations(const QString& req)
{
    QJsonObject obj;
    OperateRequest request;
    int answer = -1;
    if (!acceptBrowseRequest("ListCopyDestinations", req, OpCopyDestinations, obj, request, answer)) {
        return answer;
    }
    QTimer::singleShot(0, this, [this, request]() {
        QJsonArray destinations;
        const QStringList sources = m_browse ? m_browse->devices() : QStringList();
        for (const CopyDestination& destination : CopyDestinations::list(sources, m_liveRootUUID, true)) {
            destinations.append(destination.toJson());
        }
        emitBrowseOutcome(request, QString(), QJsonObject{{"destinations", destinations}});
    });
    return 0;
}

int RecoveryService::CopyBrowseFiles(const QString& req)
{
    QJsonObject obj;
    OperateRequest request;
    int answer = -1;
    if (!acceptBrowseRequest("CopyBrowseFiles", req, OpBrowseCopy, obj, request, answer)) {
        return answer;
    }
    QStringList paths;
    for (const QJsonValue& value : obj.value("paths").toArray()) {
        QStringList parts;
        // A whole volume is chosen as its content.
        if (!value.isString() || !BrowseSession::splitPath(value.toString(), parts) || parts.size() < 2) {
            emitBrowseOutcome(request, "Invalid path");
            return -1;
        }
        paths.append(value.toString());
    }
    const QString destDir = obj.contains("destDir") ? obj.value("destDir").toString() : DefaultDestDir;
    const QString destUUID = obj.value("destUUID").toString();
    if (paths.isEmpty() || !isPlainName(destDir) || destUUID.isEmpty()) {
        emitBrowseOutcome(request, "Invalid path");
        return -1;
    }
    if (!m_browse || !m_browse->isOpen()) {
        emitBrowseOutcome(request, "Nothing is open for browsing");
        return -1;
    }
    if (m_copier != nullptr) {
        emitBrowseOutcome(request, "another copy is running");
        return -1;
    }
    startCopy(request, paths, destUUID, destDir);
    return 0;
}

void RecoveryService::startCopy(const OperateRequest& request, const QStringList& paths, const QString& destUUID,
                                const QString& destDir)
{
    QList<CopySource> sources;
    const auto refuse = [this, &sources, &request](const QString& errMsg) {
        for (const CopySource& source : qAsConst(sources)) {
            ::close(source.parentFd);
        }
        QTimer::singleShot(0, this, [this, request, errMsg]() { emitBrowseOutcome(request, errMsg); });
    };
    for (const QString& path : paths) {
        QStringList parts;
        BrowseSession::splitPath(path, parts);
        const int parentFd = m_browse->openDirectory(parts.mid(0, parts.size() - 1));
        if (parentFd < 0) {
            refuse("Cannot read the chosen files");
            return;
        }
        sources.append({parentFd, parts.constLast()});
    }
    const QList<CopyDestination> found = CopyDestinations::list(m_browse->devices(), m_liveRootUUID, false);
    const auto destination = std::find_if(found.cbegin(), found.cend(),
                                          [&destUUID](const CopyDestination& each) { return each.uuid == destUUID; });
    if (destination == found.cend()) {
        refuse("Cannot find the destination");
        return;
    }
    QString mountPoint = destination->mountPoint;
    m_copyMountPoint.clear();
    if (mountPoint.isEmpty()) {
        m_copyMountPoint = BrowseMounts::newMountPoint("destination");
        mountPoint = m_copyMountPoint;
        if (mountPoint.isEmpty() || !BrowseMounts::mountDevice(destination->devicePath, destination->fsType,
                                                               "rw,nosuid,nodev,noexec", mountPoint)) {
            BrowseMounts::unmountAndRemove(m_copyMountPoint);
            m_copyMountPoint.clear();
            refuse("Cannot write to the destination");
            return;
        }
    }
    const int rootFd = ::open(QFile::encodeName(mountPoint).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (rootFd < 0) {
        BrowseMounts::unmountAndRemove(m_copyMountPoint);
        m_copyMountPoint.clear();
        refuse("Cannot write to the destination");
        return;
    }
    m_copyRequest = request;
    m_copyTarget =
        QJsonObject{{"destination", destination->label.isEmpty() ? destination->devicePath : destination->label},
                    {"destPath", destDir}};
    m_copyLastProgress = -1;
    m_copier = new FileCopier(sources, rootFd, destDir, this);
    const int generation = ++m_copyGeneration;
    connect(m_copier, &FileCopier::progressed, this, [this, generation](qint64 bytesDone, qint64 bytesTotal) {
        if (generation == m_copyGeneration) {
            onCopyProgress(bytesDone, bytesTotal);
        }
    });
    connect(m_copier, &QThread::finished, this, [this, generation]() {
        if (generation == m_copyGeneration) {
            finishCopy();
        }
    });
    m_copier->start();
}

void RecoveryService::onCopyProgress(qint64 bytesDone, qint64 bytesTotal)
{
    const int progress = bytesTotal > 0 ? int(qBound<qint64>(0, bytesDone * 100 / bytesTotal, qint64(99))) : 0;
    if (m_copier == nullptr || progress <= m_copyLastProgress) {
        return;
    }
    m_copyLastProgress = progress;
    emitBrowseOutcome(m_copyRequest, QString(),
                      QJsonObject{{"bytesDone", double(bytesDone)}, {"bytesTotal", double(bytesTotal)}}, progress);
}

// The destination is unmounted before the outcome is told: the person may unplug it then.
void RecoveryService::finishCopy()
{
    if (m_copier == nullptr) {
        return;
    }
    m_copier->wait();
    const QString errMsg = m_copier->errorText();
    QJsonObject data = m_copier->outcome();
    delete m_copier;
    m_copier = nullptr;
    ++m_copyGeneration;
    BrowseMounts::unmountAndRemove(m_copyMountPoint);
    m_copyMountPoint.clear();
    if (errMsg.isEmpty()) {
        for (auto it = m_copyTarget.constBegin(); it != m_copyTarget.constEnd(); ++it) {
            data.insert(it.key(), it.value());
        }
    }
    qInfo().noquote() << "copy finished: " + (errMsg.isEmpty() ? QString("done") : errMsg);
    emitBrowseOutcome(m_copyRequest, errMsg, data);
}

int RecoveryService::CancelBrowseCopy(const QString& req)
{
    QJsonObject obj;
    OperateRequest request;
    int answer = -1;
    if (!acceptBrowseRequest("CancelBrowseCopy", req, OpBrowseCancel, obj, request, answer)) {
        return answer;
    }
    if (m_copier == nullptr) {
        emitBrowseOutcome(request, "No copy is running");
        return -1;
    }
    m_copier->cancel();
    return 0;
}

int RecoveryService::CloseBrowse(const QString& req)
{
    QJsonObject obj;
    OperateRequest request;
    int answer = -1;
    if (!acceptBrowseRequest("CloseBrowse", req, OpBrowseClose, obj, request, answer)) {
        return answer;
    }
    closeBrowse();
    QTimer::singleShot(0, this, [this, request]() { emitBrowseOutcome(request, QString()); });
    return 0;
}

void RecoveryService::closeBrowse()
{
    if (m_copier != nullptr) {
        m_copier->cancel();
        finishCopy();
    }
    if (m_browse) {
        m_browse->close();
        m_browse.reset();
    }
    delete m_browseWatcher;
    m_browseWatcher = nullptr;
    Browsing = false;
}

bool RecoveryService::isBrowsing()
{
    return Browsing;
}

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
