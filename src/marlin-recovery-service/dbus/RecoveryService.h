#pragma once

// The service object on "/com/marlin/recovery": takes each request of the live GUI as one JSON text, answers at once
// with a code and reports the outcome later through ReportProgress, Success and Error.

#include "dbus/CallerVerdicts.h"
#include "dbus/OperateRequest.h"
#include "dbus/OperateResponse.h"
#include "utils.h"

#include <QDBusContext>
#include <QJsonArray>
#include <QMap>
#include <QObject>

#include <functional>
#include <memory>

class AsyncTask;
class BrowseSession;
class FileCopier;
class QDBusServiceWatcher;
class Task;

class RecoveryService : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.marlin.daemon.recovery")

public:
    explicit RecoveryService(QObject* parent = nullptr);
    ~RecoveryService() override;

    // Whether a caller's kernel command name and executable name are those of the live GUI.
    static bool isLiveCallerName(const QString& commName, const QString& exeName);
    // A backup directory on the device mounted at mountPoint. The restore page sends the absolute path it was
    // found under, which already starts with that mount point; a path relative to the device gets it in front.
    static QString backupDirOnDevice(const QString& mountPoint, const QString& backupDir);
    // The same, with its links resolved; empty when it leaves the device (or the device is not mounted).
    static QString backupDirInsideDevice(const QString& mountPoint, const QString& backupDir);

    // What the log keeps of a request: its kind and id, and of every other value its key and size alone. Requests
    // name backups and disks of whoever sent them, and the log outlives the session.
    static QString requestSummary(const QString& text);

    // Takes the one task of this service run and forwards its progress and outcome as signals.
    void setTask(Task* task);
    // Registers the name again on the bus and exports this object behind it. False when either fails: the name is
    // then given up, so that nobody waits on a name that answers nothing.
    bool publish(QDBusConnection bus, const QString& name);
    // Ends browsing: a running copy is cancelled and waited for, everything mounted for browsing is unmounted.
    void closeBrowse();
    // Whether anything is mounted for browsing; safe in a signal handler.
    static bool isBrowsing();

signals:
    Q_SCRIPTABLE void ReportProgress(const QString& progress);
    Q_SCRIPTABLE void Error(const QString& errMsg);
    Q_SCRIPTABLE void Success(const QString& msg);

public slots:
    Q_SCRIPTABLE int GetLiveType();
    Q_SCRIPTABLE int AsyncGetPartitionCheckItemLists(const QString& req);
    Q_SCRIPTABLE bool FixPartitionByFsck(const QString& req);
    Q_SCRIPTABLE int InitLiveRestorePage(const QString& req);
    Q_SCRIPTABLE int SystemBackup(const QString& backupReq);
    Q_SCRIPTABLE int ManualBackup(const QString& backupReq);
    Q_SCRIPTABLE int ManualRestore(const QString& restoreReq);
    Q_SCRIPTABLE int SystemRestore(const QString& restoreReq);
    Q_SCRIPTABLE int RestoreByTask(const QString& restoreReq);
    Q_SCRIPTABLE int ShowSystemRepairTool(const QString& req);
    Q_SCRIPTABLE int OpenBrowse(const QString& req);
    Q_SCRIPTABLE int ListBrowseDirectory(const QString& req);
    Q_SCRIPTABLE int ListCopyDestinations(const QString& req);
    Q_SCRIPTABLE int CopyBrowseFiles(const QString& req);
    Q_SCRIPTABLE int CancelBrowseCopy(const QString& req);
    Q_SCRIPTABLE int CloseBrowse(const QString& req);
    Q_SCRIPTABLE int ListRestoreDisks(const QString& req);

private:
    bool isValidLiveCaller();
    // Whether the process behind the connection that sent the current message passes the name check; remembered
    // for that connection.
    bool isLiveCallerProcess(const QString& connection, uint pid);
    void setCurrent(const OperateRequest& request);
    QString manualRestorePath(const RestoreRequest& request);
    void startTaskAfterAnswer(const std::function<void()>& makeTask);
    // Refuses an information or repair request while a task runs; true when refused.
    bool refuseWhileTaskRuns(const QString& method);
    void resetCurrent();
    OperateResponse response(int retCode, int progress) const;
    void emitError(const QString& errMsg);
    // An Error for a request that is refused without becoming the current one.
    void emitErrorFor(const OperateRequest& request, const QString& errMsg);
    int backup(const QString& method, int opType, const QString& backupReq);
    // Refuses an information request while a worker runs; true when refused.
    bool refuseWhileWorkerRuns(const QString& method);
    void startInfoWorker(int action, const char* finishedLog);
    void ConnectResponse();
    void ConnectAsyncTaskResponse();
    void onTaskFinished();
    void onTaskFailed(const QString& error);
    // The caller and request checks every browse request shares; false with the answer to give when refused.
    bool acceptBrowseRequest(const QString& method, const QString& text, int opType, QJsonObject& obj,
                             OperateRequest& request, int& answer);
    void emitBrowseOutcome(const OperateRequest& request, const QString& errMsg,
                           const QJsonObject& data = QJsonObject(), int progress = 100);
    void openBrowse(const OperateRequest& request, const QJsonObject& obj);
    QString browseBackupDir(const QJsonObject& obj);
    void startCopy(const OperateRequest& request, const QStringList& paths, const QString& destUUID,
                   const QString& destDir);
    void onCopyProgress(qint64 bytesDone, qint64 bytesTotal);
    void finishCopy();

    CmdLineInfo m_cmdLineInfo;
    CallerVerdicts m_callerVerdicts;
    int m_opType = 0;
    QString m_operateID;
    QString m_liveRootUUID;
    Task* m_task = nullptr;
    AsyncTask* m_asyncTask = nullptr;
    int m_liveType = -1;
    int m_lastProgress = -1;
    bool m_autoReboot = false;
    // From the answer to a task request until its outcome.
    bool m_taskRunning = false;

    std::unique_ptr<BrowseSession> m_browse;
    // Closes the session when the window that opened it leaves the bus.
    QDBusServiceWatcher* m_browseWatcher = nullptr;
    FileCopier* m_copier = nullptr;
    OperateRequest m_copyRequest;
    // The destination as the outcome names it, and where it was mounted for the copy (empty when it was already).
    QJsonObject m_copyTarget;
    QString m_copyMountPoint;
    int m_copyLastProgress = -1;
    // Tells a copy's late signals from those of the current one.
    int m_copyGeneration = 0;
};
