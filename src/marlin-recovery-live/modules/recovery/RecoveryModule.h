#pragma once

#include "RecoveryModuleInterface.h"

#include <QDBusPendingReply>
#include <QJsonObject>
#include <QObject>

#include <functional>

class AsyncTask;
class BrowseFlow;
class QDBusServiceWatcher;
class EndPage;
class InterruptedRestorePage;
class RecoveryPage;
class WorkingPage;
class RepairFileSystemWidget;
class RestoreDiskChooser;
class RestoreDiskConfirmPage;
class SystemRestoreWidget;

// The GUI's one module: turns the pages' choices into service requests and the service's answers into pages.
class RecoveryModule : public QObject, public RecoveryModuleInterface
{
    Q_OBJECT
public:
    RecoveryModule(FrameInterface* frame, ComMarlinDaemonRecoveryInterface* proxy, QObject* parent = nullptr);
    ~RecoveryModule() override;

    void initialize() override;
    QString name() const override;
    QString key() const override;
    QString title() const override;
    QString icon() const override;
    QString text() const override;
    void active() override;
    void deactive() override {}
    int moduleType() const override { return 1; }

    // How the service took a task request. A task that was not accepted never sends an outcome.
    enum class TaskStart
    {
        NoTask,
        Accepted,
        Refused,
        Unreachable
    };

    void setRootUUID(const QString& uuid) { m_rootUUID = uuid; }
    // The recovery partition the start-up found; the restore page's information may name it later.
    void setRecoveryUUID(const QString& uuid) { m_recoveryUUID = uuid; }
    // Whether the recovery partition can take the record of a restore in progress (a known UUID, or empty for one to
    // be looked for by the root's). Before a restore starts a false answer is told to the person, who may go on. For
    // every module of the process; an empty check restores the real one.
    using RecordCheck = std::function<bool(const QString& recoveryUUID, const QString& rootUUID)>;
    static void setRestoreRecordCheck(RecordCheck check);
    // How long a request waits for the service's immediate answer (D-Bus's default otherwise). Past it, a task
    // request is taken as accepted while the service is on the bus: its outcome still comes.
    void setCallTimeout(int milliseconds);
    // Starts a pending order; true when its progress page, or the failure page of a refused order, is on screen.
    // An order that could not reach the service is kept for the home page's "Try Again".
    bool showBackupRestore(const QString& recoveryInfo);
    // The home page, telling the person when the service cannot be reached.
    void showHomePage();
    // Whether the service answers at all (the bus starts it if needed).
    bool isServiceReachable() const;
    // Instead of the home page: the last restore was cut off; mark is the record it left (a JSON text).
    void showInterruptedRestore(const QString& mark);

    void showWorkingPage();
    // state: 0 success, 2 failure. A page reused for a later outcome takes that outcome's state too, so its icon
    // and its button's action always match the title shown.
    void showEndPage(int state);

    // How the immediate int answer of a page-information request shows on the home page.
    void judgePageReply(bool dbusFailed, int code, const QString& dbusError, const QString& logPrefix);

    // The service's English failure texts that the GUI knows, and their translation.
    static QString translatedError(const QString& errMsg);

    RecoveryPage* homePage() const { return m_recoveryPage; }
    WorkingPage* workingPage() const { return m_workingPage; }
    EndPage* endPage() const { return m_endPage; }
    SystemRestoreWidget* systemRestoreWidget() const { return m_systemRestoreWidget; }
    RepairFileSystemWidget* repairFileSystemWidget() const { return m_repairFileSystemWidget; }
    InterruptedRestorePage* interruptedRestorePage() const { return m_interruptedRestorePage; }
    BrowseFlow* browseFlow() const { return m_browseFlow; }
    RestoreDiskChooser* diskChooser() const { return m_diskChooser; }
    RestoreDiskConfirmPage* diskConfirmPage() const { return m_diskConfirmPage; }
    int lastOpType() const { return m_opType; }
    QString lastOperateID() const { return m_operateID; }
    // A pending order that could not be sent yet.
    QString unstartedOrder() const { return m_unstartedOrder; }

public slots:
    void onBack();
    void onRepairFileSystem();
    void onSystemRepairTool();
    void onSystemRestore();
    void onSystemRestoreClicked(bool formatData);
    void onManualRestoreClicked(QString directory, QString backupUUID);
    void onCustomRestoreClicked(QString directory);
    // "Restore from backup files": a whole-disk backup whose disk is gone goes through the disk chooser first.
    void onRestoreFromFiles(QString directory);
    // The same, through the disk chooser whether or not the backup's own disk is there.
    void onRestoreOntoChosenDisk(QString directory);
    void onRecoveryTriggered(QString recoveryInfo);
    // The cut-off restore once more, after a confirmation that says what it writes.
    void onRestoreAgain();
    void doRepairFileSystem(QString devicePath);
    void onReportProgress(QString progress);
    void onError(QString errMsg);
    void onSuccess(QString msg);
    void onRetryService();
    // The service left the bus: a task that sent no outcome will never send one.
    void onServiceGone();

private:
    bool isServiceRunning() const;
    // false when the person chose not to go on with a restore that could not be recorded.
    bool restoreMayStart();
    QString newRequest(int opType, const QString& userName, const QJsonObject& extra);
    // Waits for the service's immediate answer: the progress page when accepted, the failure page when refused, and
    // when the service cannot be reached too unless the caller handles that itself.
    TaskStart sendTask(QDBusPendingReply<int> reply, const QString& errPrefix, const QString& title, const QString& tip,
                       bool failWhenUnreachable = true);
    TaskStart startOrder(const QString& recoveryInfo, bool failWhenUnreachable);
    void showTaskFailure(int opType, const QString& error);
    void forgetRequest();
    void sendPageRequest(int opType, const QString& logPrefix);
    bool operateIDMatches(const QJsonObject& response) const;
    // answeredID: the request remembered when the answer came. A request sent while handling the answer stays.
    void finishResponse(const QJsonObject& response, const QString& answeredID);
    // The page an information answer belongs to, filled with the answer's data; nothing when it does not exist.
    void showInformationPage(int opType, const QString& data);
    void showOutcome(int state, const QString& title, const QString& message, const QString& button);
    // Copying single files: from the home page's personal files and the restore page's backups.
    void initializeBrowse();
    // targetDrive empty: onto the disk the backup names.
    void sendCustomRestore(const QString& directory, const QString& targetDrive, bool keepSize);
    void showDiskChooser(const QString& data);
    void listRestoreDisks(const QString& directory, bool chooserAsked);
    // No disk list (no whole-disk backup, or none the service can read): the restore goes on as it always did, onto
    // the disk the backup names, unless the person asked for another disk; then it is refused on the restore page.
    void restoreWithoutChooser();

    RecoveryPage* m_recoveryPage = nullptr;
    RepairFileSystemWidget* m_repairFileSystemWidget = nullptr;
    SystemRestoreWidget* m_systemRestoreWidget = nullptr;
    WorkingPage* m_workingPage = nullptr;
    EndPage* m_endPage = nullptr;
    InterruptedRestorePage* m_interruptedRestorePage = nullptr;
    RestoreDiskChooser* m_diskChooser = nullptr;
    RestoreDiskConfirmPage* m_diskConfirmPage = nullptr;
    // The backup directory the disk chooser is for.
    QString m_chooserDirectory;
    bool m_chooserAsked = false;
    int m_opType = 0;
    QString m_operateID;
    QString m_rootUUID;
    QString m_recoveryUUID;
    QString m_unstartedOrder;
    AsyncTask* m_asyncTask = nullptr;
    QDBusServiceWatcher* m_serviceWatcher = nullptr;
    BrowseFlow* m_browseFlow = nullptr;
};
