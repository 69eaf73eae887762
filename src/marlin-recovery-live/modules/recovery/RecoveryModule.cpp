#include "RecoveryModule.h"

#include "FrameInterface.h"
#include "RecoveryPage.h"
#include "RepairFileSystemWidget.h"
#include "RestoreDiskChooser.h"
#include "RestoreDiskConfirmPage.h"
#include "SystemRestoreWidget.h"
#include "comMarlinDaemonRecoveryInterface.h"
#include "modules/browse/BrowseFlow.h"
#include "widgets/EndPage.h"
#include "widgets/InterruptedRestorePage.h"
#include "widgets/LiveWidgets.h"
#include "widgets/RestorePage.h"
#include "widgets/WorkingPage.h"

#include <AsyncTask.h>
#include <InstalledSystem.h>
#include <core/command.h>
#include <utils.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QDebug>
#include <QJsonDocument>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QUuid>

namespace {

enum OpType
{
    SystemRestoreOp = 1,
    ManualRestoreOp = 2,
    ManualBackupOp = 3,
    SystemBackupOp = 4,
    ManualRestoreByUUIDOp = 5,
    FixPartitionOp = 6,
    PartitionCheckOp = 7,
    RestorePageOp = 8,
    RepairToolOp = 9,
    RestoreDisksOp = 16
};

const char* const KnownErrors[] = {
    QT_TRANSLATE_NOOP("RecoveryModule", "Backup error, please try again"),
    QT_TRANSLATE_NOOP("RecoveryModule", "There is something wrong with your backup file"),
    QT_TRANSLATE_NOOP("RecoveryModule",
                      "Your system version does not match the backup file, please update the system and restore again"),
    QT_TRANSLATE_NOOP("RecoveryModule", "Your disk info and the backup info do not match, so you cannot restore now"),
    QT_TRANSLATE_NOOP("RecoveryModule", "Cannot find the target location"),
    QT_TRANSLATE_NOOP("RecoveryModule", "There is something wrong with your initial backup file"),
    QT_TRANSLATE_NOOP("RecoveryModule", "Failed to initialize the task"),
    QT_TRANSLATE_NOOP("RecoveryModule", "The target location is full, please free up some space and try again"),
    QT_TRANSLATE_NOOP(
        "RecoveryModule",
        "Other users can change the target location, please choose a folder only administrators can change"),
    QT_TRANSLATE_NOOP("RecoveryModule",
                      "The backup lies where the restore would write; move it to another disk and try again"),
    QT_TRANSLATE_NOOP("RecoveryModule", "Copy cancelled"),
    QT_TRANSLATE_NOOP("RecoveryModule", "Not enough free space on the destination"),
    QT_TRANSLATE_NOOP("RecoveryModule", "another task is running"),
    QT_TRANSLATE_NOOP("RecoveryModule", "Cannot open it for browsing"),
    QT_TRANSLATE_NOOP("RecoveryModule", "Cannot open the folder"),
    QT_TRANSLATE_NOOP("RecoveryModule", "Cannot read the chosen files"),
    QT_TRANSLATE_NOOP("RecoveryModule", "Cannot write to the destination"),
    QT_TRANSLATE_NOOP("RecoveryModule", "Cannot find the destination"),
    QT_TRANSLATE_NOOP("RecoveryModule", "Browsing was closed"),
    QT_TRANSLATE_NOOP("RecoveryModule", "another copy is running"),
    QT_TRANSLATE_NOOP("RecoveryModule", "Invalid path"),
    QT_TRANSLATE_NOOP("RecoveryModule", "Nothing is open for browsing"),
    QT_TRANSLATE_NOOP("RecoveryModule", "The chosen disk is not there; choose the disk again"),
    QT_TRANSLATE_NOOP("RecoveryModule", "The chosen disk holds the backup; choose another disk"),
    QT_TRANSLATE_NOOP("RecoveryModule",
                      "A partition of the chosen disk is in use (mounted); unmount it or choose another disk"),
    QT_TRANSLATE_NOOP("RecoveryModule", "The backup was written, but the disk's extra space could not be used"),
};

// Known errors that name a device or an image: "%1" stands for it.
const char* const KnownErrorPatterns[] = {
    QT_TRANSLATE_NOOP("RecoveryModule", "The restore cannot write %1: it is missing, in use or too small. Nothing "
                                        "was written."),
    QT_TRANSLATE_NOOP("RecoveryModule", "The partition for \"%1\" of the initial backup cannot be found (it may have "
                                        "been formatted). Nothing was restored."),
    QT_TRANSLATE_NOOP("RecoveryModule", "The system's partitions are found on more than one device (%1). Remove the "
                                        "disks that are not this computer's own and try again."),
    QT_TRANSLATE_NOOP("RecoveryModule", "The chosen disk is too small: this backup needs a disk of at least %1 bytes"),
};

const int InvalidCaller = -100;
// Long enough for the bus to start the service.
const int PingTimeout = 25000;

// Absent keys read as the service's defaults.
QJsonObject parseResponse(const QString& text)
{
    return QJsonDocument::fromJson(text.toLocal8Bit()).object();
}

int opTypeOf(const QJsonObject& response)
{
    return response.value("opType").toInt(0);
}

bool isRestore(int opType)
{
    return opType == SystemRestoreOp || opType == ManualRestoreOp || opType == ManualRestoreByUUIDOp;
}

bool isBackup(int opType)
{
    return opType == ManualBackupOp || opType == SystemBackupOp;
}

// The recovery partition the window knows of, else the one found now; the record of a restore goes there.
bool recoveryCanTakeRecord(const QString& recoveryUUID, const QString& rootUUID)
{
    const QString uuid = recoveryUUID.isEmpty()
                             ? InstalledSystem::recoveryUUIDOf(Utils::mountPointOfUUID(rootUUID), rootUUID)
                             : recoveryUUID;
    return Utils::recoveryCanTakeRestoreMark(uuid);
}

RecoveryModule::RecordCheck& recordCheck()
{
    static RecoveryModule::RecordCheck check = recoveryCanTakeRecord;
    return check;
}

// The call's time-out ran out: the service got the request but has not answered yet.
bool timedOut(const QDBusError& error)
{
    return error.type() == QDBusError::NoReply || error.type() == QDBusError::Timeout;
}

} // namespace

RecoveryModule::RecoveryModule(FrameInterface* frame, ComMarlinDaemonRecoveryInterface* proxy, QObject* parent)
    : QObject(parent), RecoveryModuleInterface(frame, proxy)
{
}

RecoveryModule::~RecoveryModule()
{
    delete m_recoveryPage;
    delete m_systemRestoreWidget;
    delete m_repairFileSystemWidget;
    delete m_workingPage;
    delete m_endPage;
    delete m_diskChooser;
    delete m_diskConfirmPage;
}

QString RecoveryModule::name() const
{
    return "RecoveryModule";
}

QString RecoveryModule::key() const
{
    return "RecoveryModule";
}

QString RecoveryModule::title() const
{
    return "RecoveryModule";
}

QString RecoveryModule::icon() const
{
    return ":/resources/icons/recovery/recovery_module.png";
}

QString RecoveryModule::text() const
{
    return "RecoveryModule";
}

void RecoveryModule::initialize()
{
    if (m_recoveryPage == nullptr) {
        m_recoveryPage = new RecoveryPage;
    }
    if (m_systemRestoreWidget == nullptr) {
        m_systemRestoreWidget = new SystemRestoreWidget;
        connect(m_systemRestoreWidget, &SystemRestoreWidget::cancel, this, &RecoveryModule::onBack);
        connect(m_systemRestoreWidget, &SystemRestoreWidget::systemRestoreClicked, this,
                &RecoveryModule::onSystemRestoreClicked);
        connect(m_systemRestoreWidget, &SystemRestoreWidget::manualRestoreClicked, this,
                &RecoveryModule::onManualRestoreClicked);
        connect(m_systemRestoreWidget, &SystemRestoreWidget::customRestoreClicked, this,
                &RecoveryModule::onRestoreFromFiles);
        connect(m_systemRestoreWidget, &SystemRestoreWidget::chosenDiskRestoreClicked, this,
                &RecoveryModule::onRestoreOntoChosenDisk);
        connect(m_systemRestoreWidget, &SystemRestoreWidget::recoveryTriggered, this,
                &RecoveryModule::onRecoveryTriggered);
    }
    connect(m_recoveryPage, &RecoveryPage::notifyRepairFileSystem, this, &RecoveryModule::onSystemRepairTool,
            Qt::UniqueConnection);
    connect(m_recoveryPage, &RecoveryPage::notifySystemRestore, this, &RecoveryModule::onSystemRestore,
            Qt::UniqueConnection);
    connect(m_recoveryPage, &RecoveryPage::retryService, this, &RecoveryModule::onRetryService, Qt::UniqueConnection);
    connect(m_recoveryInterface, &ComMarlinDaemonRecoveryInterface::ReportProgress, this,
            &RecoveryModule::onReportProgress, Qt::UniqueConnection);
    connect(m_recoveryInterface, &ComMarlinDaemonRecoveryInterface::Error, this, &RecoveryModule::onError,
            Qt::UniqueConnection);
    connect(m_recoveryInterface, &ComMarlinDaemonRecoveryInterface::Success, this, &RecoveryModule::onSuccess,
            Qt::UniqueConnection);
    if (m_serviceWatcher == nullptr) {
        m_serviceWatcher = new QDBusServiceWatcher(m_recoveryInterface->service(), m_recoveryInterface->connection(),
                                                   QDBusServiceWatcher::WatchForUnregistration, this);
        connect(m_serviceWatcher, &QDBusServiceWatcher::serviceUnregistered, this, &RecoveryModule::onServiceGone);
    }
    initializeBrowse();
}

void RecoveryModule::initializeBrowse()
{
    if (m_browseFlow != nullptr) {
        return;
    }
    m_browseFlow = new BrowseFlow(m_frame, this, m_recoveryInterface, this);
    connect(m_recoveryPage, &RecoveryPage::notifyCopyPersonalFiles, m_browseFlow, &BrowseFlow::openPersonal);
    connect(m_systemRestoreWidget, &SystemRestoreWidget::browseClicked, m_browseFlow, &BrowseFlow::openBackup);
    connect(m_serviceWatcher, &QDBusServiceWatcher::serviceUnregistered, m_browseFlow, &BrowseFlow::onServiceGone);
}

void RecoveryModule::active()
{
    m_frame->popAllWidgets();
    m_frame->showWidget(this, m_recoveryPage);
}

void RecoveryModule::onBack()
{
    m_frame->back();
}

void RecoveryModule::showWorkingPage()
{
    if (m_workingPage == nullptr) {
        m_workingPage = new WorkingPage;
    }
    m_workingPage->restart();
    m_frame->popAllWidgets();
    m_frame->showWidget(this, m_workingPage);
    m_frame->setBackwardButtonVisible(false);
}

void RecoveryModule::showEndPage(int state)
{
    if (m_endPage == nullptr) {
        m_endPage = new EndPage(state);
    } else {
        m_endPage->setState(state);
    }
    m_frame->popAllWidgets();
    m_frame->showWidget(this, m_endPage);
    m_frame->setBackwardButtonVisible(false);
}

bool RecoveryModule::showBackupRestore(const QString& recoveryInfo)
{
    qInfo().noquote() << "RecoveryModule::showBackupRestore called";
    const TaskStart start = startOrder(recoveryInfo, false);
    if (start == TaskStart::Unreachable) {
        m_unstartedOrder = recoveryInfo;
    }
    return start == TaskStart::Accepted || start == TaskStart::Refused;
}

void RecoveryModule::showHomePage()
{
    active();
    if (!m_unstartedOrder.isEmpty() || !isServiceReachable()) {
        m_recoveryPage->showServiceUnreachable(true);
    }
}

bool RecoveryModule::isServiceReachable() const
{
    // Every D-Bus peer answers Ping; calling it also has the bus start the service.
    const QDBusMessage ping = QDBusMessage::createMethodCall(
        m_recoveryInterface->service(), m_recoveryInterface->path(), "org.freedesktop.DBus.Peer", "Ping");
    const QDBusMessage reply = m_recoveryInterface->connection().call(ping, QDBus::Block, PingTimeout);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        qWarning().noquote() << "RecoveryModule: the service cannot be reached: " + reply.errorMessage();
        return false;
    }
    return true;
}

void RecoveryModule::onRetryService()
{
    if (!isServiceReachable()) {
        m_recoveryPage->showServiceUnreachable(true);
        return;
    }
    m_recoveryPage->showServiceUnreachable(false);
    const QString order = m_unstartedOrder;
    m_unstartedOrder.clear();
    if (!order.isEmpty() && !showBackupRestore(order)) {
        showHomePage();
    }
}

void RecoveryModule::showInterruptedRestore(const QString& mark)
{
    if (m_interruptedRestorePage == nullptr) {
        m_interruptedRestorePage = new InterruptedRestorePage;
        connect(m_interruptedRestorePage, &InterruptedRestorePage::restoreAgain, this, &RecoveryModule::onRestoreAgain);
        // The record stays: it goes only when a restore succeeds.
        connect(m_interruptedRestorePage, &InterruptedRestorePage::otherOptions, this, &RecoveryModule::showHomePage);
    }
    qInfo().noquote() << "the last restore did not finish: " + mark;
    m_interruptedRestorePage->setMark(QJsonDocument::fromJson(mark.toUtf8()).object());
    m_frame->popAllWidgets();
    m_frame->showWidget(this, m_interruptedRestorePage);
    m_frame->setBackwardButtonVisible(false);
}

void RecoveryModule::onRestoreAgain()
{
    const QJsonObject mark = m_interruptedRestorePage->mark();
    const QString method = mark.value("method").toString();
    const QJsonObject request = mark.value("request").toObject();
    qInfo().noquote() << "restore again: " + method;
    if (!LiveWidgets::confirm(m_interruptedRestorePage, tr("Restore Again"),
                              InterruptedRestorePage::whatWillBeWritten(mark), tr("Restore Again"))) {
        return;
    }
    if (method == "SystemRestore") {
        onSystemRestoreClicked(request.value("formatData").toBool());
    } else if (method == "ManualRestore") {
        const QString directory = request.value("backupDir").toString();
        if (request.value("opType").toInt() == ManualRestoreByUUIDOp) {
            onManualRestoreClicked(directory, request.value("backupUUID").toString());
        } else {
            // Onto the disk chosen then, not the one the backup names.
            sendCustomRestore(directory, request.value("targetDrive").toString(),
                              request.value("keepSize").toBool(false));
        }
    } else if (method == "RestoreByTask") {
        onRecoveryTriggered(request.value("recoveryInfo").toString());
    }
}

void RecoveryModule::setRestoreRecordCheck(RecordCheck check)
{
    recordCheck() = check ? std::move(check) : RecordCheck(recoveryCanTakeRecord);
}

bool RecoveryModule::restoreMayStart()
{
    if (recordCheck()(m_recoveryUUID, m_rootUUID)) {
        return true;
    }
    qWarning().noquote() << "the recovery partition cannot take the record of the restore: " + m_recoveryUUID;
    return LiveWidgets::confirm(
        dynamic_cast<QWidget*>(m_frame), tr("The Restore Cannot Be Resumed"),
        tr("The recovery partition is missing, read-only or full, so the restore cannot be recorded there. If the "
           "restore is cut off, by a power failure for example, it cannot be run again from here, and your system "
           "may not start. You may continue anyway."),
        tr("Continue"));
}

QString RecoveryModule::newRequest(int opType, const QString& userName, const QJsonObject& extra)
{
    QJsonObject request = extra;
    request.insert("operateID", QUuid::createUuid().toString());
    request.insert("userName", userName);
    request.insert("opType", opType);
    // Remembered before the call: the answer may only be matched against the request that was really sent.
    m_opType = opType;
    m_operateID = request.value("operateID").toString();
    return QString::fromUtf8(QJsonDocument(request).toJson(QJsonDocument::Indented));
}

RecoveryModule::TaskStart RecoveryModule::sendTask(QDBusPendingReply<int> reply, const QString& errPrefix,
                                                   const QString& title, const QString& tip, bool failWhenUnreachable)
{
    reply.waitForFinished();
    const int opType = m_opType;
    // Slow to answer is not refused: the task may be writing already, so its outcome is awaited. Should the service
    // leave the bus without one, onServiceGone ends the wait.
    const bool stillAnswering = reply.isError() && timedOut(reply.error()) && isServiceRunning();
    if (stillAnswering) {
        qWarning().noquote() << errPrefix + reply.error().message() + "; the service is still there, waiting";
    } else if (reply.isError()) {
        // Only an accepted task ever sends an outcome: anything else must not leave a progress page waiting for one.
        qCritical().noquote() << errPrefix + reply.error().message();
        forgetRequest();
        if (failWhenUnreachable) {
            showTaskFailure(opType, tr("The recovery service cannot be reached."));
        }
        return TaskStart::Unreachable;
    } else if (reply.value() != 0) {
        qCritical().noquote() << errPrefix + "refused with " + QString::number(reply.value());
        forgetRequest();
        showTaskFailure(opType, reply.value() == InvalidCaller ? tr("Invalid Caller") : tr("Invalid Argument"));
        return TaskStart::Refused;
    }
    showWorkingPage();
    m_workingPage->setTitle(title);
    m_workingPage->setTip(tip);
    return TaskStart::Accepted;
}

bool RecoveryModule::isServiceRunning() const
{
    const QDBusReply<bool> registered =
        m_recoveryInterface->connection().interface()->isServiceRegistered(m_recoveryInterface->service());
    return registered.isValid() && registered.value();
}

void RecoveryModule::onServiceGone()
{
    if (!isRestore(m_opType) && !isBackup(m_opType)) {
        return;
    }
    qCritical().noquote() << "the recovery service left the bus before the outcome of " + m_operateID;
    const int opType = m_opType;
    forgetRequest();
    showTaskFailure(opType, tr("The recovery service stopped before the task finished."));
}

void RecoveryModule::setCallTimeout(int milliseconds)
{
    m_recoveryInterface->setTimeout(milliseconds);
}

void RecoveryModule::showTaskFailure(int opType, const QString& error)
{
    if (isBackup(opType)) {
        showOutcome(EndPage::Failure, tr("Backup Failed"), tr("Backup failed, error: %1").arg(error), tr("Shut Down"));
        return;
    }
    showOutcome(EndPage::Failure, tr("Restore Failed"), tr("Restore failed, error: %1").arg(error), tr("Shut Down"));
}

void RecoveryModule::forgetRequest()
{
    m_opType = 0;
    m_operateID.clear();
}

void RecoveryModule::judgePageReply(bool dbusFailed, int code, const QString& dbusError, const QString& logPrefix)
{
    if (dbusFailed) {
        qCritical().noquote() << logPrefix + dbusError;
        m_recoveryPage->stopBusy();
        m_recoveryPage->setErrorTip(tr("DBus error, please try again"), true);
        return;
    }
    if (code == 0) {
        return;
    }
    m_recoveryPage->stopBusy();
    m_recoveryPage->setErrorTip(code == InvalidCaller ? tr("Invalid Caller") : tr("Invalid Argument"), true);
}

void RecoveryModule::sendPageRequest(int opType, const QString& logPrefix)
{
    const QString request = newRequest(opType, "live@user", QJsonObject());
    QDBusPendingReply<int> reply = opType == RestorePageOp
                                       ? m_recoveryInterface->InitLiveRestorePage(request)
                                       : m_recoveryInterface->AsyncGetPartitionCheckItemLists(request);
    reply.waitForFinished();
    judgePageReply(reply.isError(), reply.isError() ? 0 : reply.value(), reply.error().message(), logPrefix);
}

void RecoveryModule::onSystemRestore()
{
    m_recoveryPage->setErrorTip(QString(), false);
    m_recoveryPage->startBusy();
    sendPageRequest(RestorePageOp, "onSystemRestore, error: ");
}

void RecoveryModule::onRepairFileSystem()
{
    m_recoveryPage->setErrorTip(QString(), false);
    if (m_repairFileSystemWidget == nullptr) {
        m_repairFileSystemWidget = new RepairFileSystemWidget;
        m_repairFileSystemWidget->initUI();
        m_repairFileSystemWidget->initLayout();
        connect(m_repairFileSystemWidget, &RepairFileSystemWidget::backwardBtnClicked, this, &RecoveryModule::onBack);
        connect(m_repairFileSystemWidget, &RepairFileSystemWidget::repairFileSystemClicked, this,
                &RecoveryModule::doRepairFileSystem);
    }
    m_recoveryPage->startBusy();
    sendPageRequest(PartitionCheckOp, "onRepairFileSystem, error: ");
}

void RecoveryModule::onSystemRepairTool()
{
    m_recoveryPage->setErrorTip(QString(), false);
    m_recoveryPage->startBusy();
    m_asyncTask = new AsyncTask(AsyncTask::SystemRepairTool);
    connect(m_asyncTask, &AsyncTask::initSystemRepairToolPageFinish, this, [this] { m_recoveryPage->stopBusy(); });
    connect(m_asyncTask, &AsyncTask::initSystemRepairToolPageFailed, this, [this](const QString& error) {
        m_recoveryPage->stopBusy();
        m_recoveryPage->setErrorTip(error, true);
    });
    // The context object makes the end of the thread land on the GUI thread, where the worker may be deleted.
    connect(m_asyncTask, &QThread::finished, this, [this] {
        m_asyncTask->deleteLater();
        m_asyncTask = nullptr;
        m_recoveryPage->stopBusy();
        qInfo().noquote() << "m_asyncTask ShowSystemRepairTool finished";
    });
    m_asyncTask->start(QThread::InheritPriority);
}

void RecoveryModule::onSystemRestoreClicked(bool formatData)
{
    if (!restoreMayStart()) {
        return;
    }
    const QString request =
        newRequest(SystemRestoreOp, "live@user",
                   {{"backupDir", QString()}, {"backupUUID", QString()}, {"formatData", formatData}});
    qInfo().noquote() << "RecoveryModule::onSystemRestoreClicked, restoreReq: " + request;
    sendTask(m_recoveryInterface->SystemRestore(request),
             "RecoveryModule::onSystemRestoreClicked dbus err: ", QString(),
             tr("Do not power off or unplug your machine"));
}

void RecoveryModule::onCustomRestoreClicked(QString directory)
{
    sendCustomRestore(directory, QString(), false);
}

void RecoveryModule::sendCustomRestore(const QString& directory, const QString& targetDrive, bool keepSize)
{
    if (!restoreMayStart()) {
        return;
    }
    QJsonObject extra{{"backupDir", directory}, {"backupUUID", QString()}, {"formatData", false}};
    if (!targetDrive.isEmpty()) {
        extra.insert("targetDrive", targetDrive);
        extra.insert("keepSize", keepSize);
    }
    const QString request = newRequest(ManualRestoreOp, "live@user", extra);
    qInfo().noquote() << "RecoveryModule::onCustomRestoreClicked, restoreReq: " + request;
    sendTask(m_recoveryInterface->ManualRestore(request),
             "RecoveryModule::onCustomRestoreClicked dbus err: ", QString(), QString());
}

void RecoveryModule::onRestoreFromFiles(QString directory)
{
    listRestoreDisks(directory, false);
}

void RecoveryModule::onRestoreOntoChosenDisk(QString directory)
{
    listRestoreDisks(directory, true);
}

void RecoveryModule::listRestoreDisks(const QString& directory, bool chooserAsked)
{
    m_chooserDirectory = directory;
    m_chooserAsked = chooserAsked;
    const QString request = newRequest(RestoreDisksOp, "live@user", {{"backupDir", directory}});
    QDBusPendingReply<int> reply = m_recoveryInterface->ListRestoreDisks(request);
    reply.waitForFinished();
    if (reply.isError() || reply.value() != 0) {
        // A service that cannot list disks still restores onto the disk the backup names, or says why not.
        qWarning().noquote() << "ListRestoreDisks not taken: " +
                                    (reply.isError() ? reply.error().message() : QString::number(reply.value()));
        forgetRequest();
        restoreWithoutChooser();
    }
}

void RecoveryModule::restoreWithoutChooser()
{
    if (!m_chooserAsked) {
        onCustomRestoreClicked(m_chooserDirectory);
        return;
    }
    // Nothing is written: the person asked for another disk, and a restore onto the backup's own would surprise them.
    if (m_systemRestoreWidget != nullptr && m_systemRestoreWidget->restorePage() != nullptr) {
        m_systemRestoreWidget->restorePage()->showError(
            tr("This directory holds no whole-disk backup: only a whole-disk backup can be restored onto another "
               "disk."));
    }
}

void RecoveryModule::showDiskChooser(const QString& data)
{
    const QJsonObject disks = parseResponse(data);
    if (disks.value("recordedPresent").toBool(true) && !m_chooserAsked) {
        onCustomRestoreClicked(m_chooserDirectory);
        return;
    }
    if (m_diskChooser == nullptr) {
        m_diskChooser = new RestoreDiskChooser;
        m_diskConfirmPage = new RestoreDiskConfirmPage;
        connect(m_diskChooser, &RestoreDiskChooser::back, this, &RecoveryModule::onBack);
        connect(m_diskChooser, &RestoreDiskChooser::chosen, this, [this](const QJsonObject& disk, bool keepSize) {
            m_diskConfirmPage->setDisk(disk, keepSize);
            m_frame->showWidget(this, m_diskConfirmPage);
            m_frame->setBackwardButtonVisible(false);
            m_diskConfirmPage->cancelButton()->setFocus();
        });
        connect(m_diskConfirmPage, &RestoreDiskConfirmPage::cancelled, this, &RecoveryModule::onBack);
        connect(m_diskConfirmPage, &RestoreDiskConfirmPage::confirmed, this, [this]() {
            sendCustomRestore(m_chooserDirectory, m_diskConfirmPage->disk().value("drive").toString(),
                              m_diskConfirmPage->keepSize());
        });
    }
    m_diskChooser->setDisks(disks);
    m_frame->showWidget(this, m_diskChooser);
    m_frame->setBackwardButtonVisible(false);
    m_diskChooser->diskList()->setFocus();
}

void RecoveryModule::onManualRestoreClicked(QString directory, QString backupUUID)
{
    if (!restoreMayStart()) {
        return;
    }
    const QString request = newRequest(ManualRestoreByUUIDOp, "live@user",
                                       {{"backupDir", directory}, {"backupUUID", backupUUID}, {"formatData", false}});
    qInfo().noquote() << "RecoveryModule::onManualRestoreClicked, restoreReq: " + request;
    sendTask(m_recoveryInterface->ManualRestore(request),
             "RecoveryModule::onManualRestoreClicked dbus err: ", QString(), QString());
}

void RecoveryModule::onRecoveryTriggered(QString recoveryInfo)
{
    startOrder(recoveryInfo, true);
}

RecoveryModule::TaskStart RecoveryModule::startOrder(const QString& recoveryInfo, bool failWhenUnreachable)
{
    qInfo().noquote() << "onRecoveryTriggered, recoveryInfo: " + recoveryInfo;
    const QJsonObject order = QJsonDocument::fromJson(recoveryInfo.toUtf8()).object();
    if (order.isEmpty()) {
        return TaskStart::NoTask;
    }
    const QString type = order.value("type").toString();
    qDebug().noquote() << "task type=" + type;
    const QJsonObject extra{{"recoveryInfo", recoveryInfo}};
    if (type == "ManualBackup" || type == "SystemBackup") {
        const int opType = type == "ManualBackup" ? ManualBackupOp : SystemBackupOp;
        const QString request = newRequest(opType, QString(), extra);
        return sendTask(opType == ManualBackupOp ? m_recoveryInterface->ManualBackup(request)
                                                 : m_recoveryInterface->SystemBackup(request),
                        "RecoveryModule::onRecoveryTriggered dbus err: ", tr("Backing up, please wait..."), QString(),
                        failWhenUnreachable);
    }
    if ((type == "ManualRestore" || type == "SystemRestore") && restoreMayStart()) {
        const int opType = type == "ManualRestore" ? ManualRestoreOp : SystemRestoreOp;
        const QString request = newRequest(opType, QString(), extra);
        return sendTask(m_recoveryInterface->RestoreByTask(request),
                        "RecoveryModule::onRecoveryTriggered RestoreByTask dbus err: ", QString(),
                        tr("Do not power off or unplug your machine"), failWhenUnreachable);
    }
    return TaskStart::NoTask;
}

void RecoveryModule::doRepairFileSystem(QString devicePath)
{
    const QString request = newRequest(FixPartitionOp, "live@user", {{"devicePath", devicePath}});
    qInfo().noquote() << "RecoveryModule::doRepairFileSystem, fixReq: " + request;
    QDBusPendingReply<bool> reply = m_recoveryInterface->FixPartitionByFsck(request);
    reply.waitForFinished();
    if (!reply.isError() && reply.value()) {
        return;
    }
    // Not started: no outcome will come, so the repair ends here as a failed one.
    const QString error = reply.isError() ? reply.error().message() : QString("refused");
    qCritical().noquote() << "RecoveryModule::doRepairFileSystem dbus err: " + error;
    forgetRequest();
    if (m_repairFileSystemWidget != nullptr) {
        m_repairFileSystemWidget->fixFailed(error);
    }
}

void RecoveryModule::onReportProgress(QString progress)
{
    const QJsonObject response = parseResponse(progress);
    const int opType = opTypeOf(response);
    if (opType < SystemRestoreOp || opType > ManualRestoreByUUIDOp || m_workingPage == nullptr ||
        !operateIDMatches(response)) {
        return;
    }
    m_workingPage->setProgressValue(response.value("progress").toInt(0));
}

bool RecoveryModule::operateIDMatches(const QJsonObject& response) const
{
    return response.value("operateID").toString() == m_operateID;
}

QString RecoveryModule::translatedError(const QString& errMsg)
{
    for (const char* known : KnownErrors) {
        if (errMsg == QLatin1String(known)) {
            return QCoreApplication::translate("RecoveryModule", known);
        }
    }
    for (const char* pattern : KnownErrorPatterns) {
        const QStringList parts = QString::fromLatin1(pattern).split("%1");
        const QRegularExpression matcher("^" + QRegularExpression::escape(parts.value(0)) + "(.+)" +
                                         QRegularExpression::escape(parts.value(1)) + "$");
        const QRegularExpressionMatch match = matcher.match(errMsg);
        if (match.hasMatch()) {
            return QCoreApplication::translate("RecoveryModule", pattern).arg(match.captured(1));
        }
    }
    return errMsg;
}

void RecoveryModule::showOutcome(int state, const QString& title, const QString& message, const QString& button)
{
    showEndPage(state);
    m_endPage->setButtonText(button);
    m_endPage->setTitle(title);
    m_endPage->setMessage(message);
}

void RecoveryModule::onSuccess(QString msg)
{
    const QString answeredID = m_operateID;
    qInfo().noquote() << "RecoveryModule::onSuccess, msg: " + msg;
    const QJsonObject response = parseResponse(msg);
    const int opType = opTypeOf(response);
    // The browse follows its own requests; their answers leave the task the module follows alone.
    if (BrowseFlow::isBrowseOp(opType)) {
        return;
    }
    if (isRestore(opType) && operateIDMatches(response)) {
        showOutcome(EndPage::Success, tr("Restore Successful"), QString(), tr("Reboot Now"));
    } else if (isBackup(opType) && operateIDMatches(response)) {
        showOutcome(EndPage::Success, tr("Backup Successful"), QString(), tr("Reboot Now"));
    } else if (opType == FixPartitionOp && m_repairFileSystemWidget != nullptr) {
        m_repairFileSystemWidget->fixSuccess();
    } else if (opType == PartitionCheckOp || opType == RestorePageOp || opType == RepairToolOp) {
        showInformationPage(opType, response.value("data").toString());
        m_recoveryPage->stopBusy();
    } else if (opType == RestoreDisksOp && operateIDMatches(response)) {
        showDiskChooser(response.value("data").toString());
    }
    finishResponse(response, answeredID);
}

void RecoveryModule::onError(QString errMsg)
{
    const QString answeredID = m_operateID;
    const QJsonObject response = parseResponse(errMsg);
    if (BrowseFlow::isBrowseOp(opTypeOf(response))) {
        return;
    }
    const QString raw = response.value("errMsg").toString();
    const QString error = translatedError(raw);
    qCritical().noquote() << "RecoveryModule::onError, errMsg: " + errMsg;
    const int opType = opTypeOf(response);
    if ((isRestore(opType) || isBackup(opType)) && operateIDMatches(response)) {
        showTaskFailure(opType, error);
    } else if (opType == RepairToolOp) {
        m_recoveryPage->stopBusy();
        m_recoveryPage->setErrorTip(raw, true);
    } else if (opType == FixPartitionOp && m_repairFileSystemWidget != nullptr) {
        m_repairFileSystemWidget->fixFailed(error);
    } else if (opType == RestoreDisksOp && operateIDMatches(response)) {
        // No whole-disk backup there: the restore goes on as it always did, unless another disk was asked for.
        restoreWithoutChooser();
    }
    finishResponse(response, answeredID);
}

void RecoveryModule::showInformationPage(int opType, const QString& data)
{
    if (opType == PartitionCheckOp && m_repairFileSystemWidget != nullptr) {
        m_frame->showWidget(this, m_repairFileSystemWidget);
        // The page has its own back button, which it disables while a repair runs.
        m_frame->setBackwardButtonVisible(false);
        m_repairFileSystemWidget->loadPartitionCheckList(data);
    } else if (opType == RestorePageOp && m_systemRestoreWidget != nullptr) {
        // The service's own answer to where the record of a restore goes.
        const QString recoveryUUID = parseResponse(data).value("recoveryUUID").toString();
        if (!recoveryUUID.isEmpty()) {
            m_recoveryUUID = recoveryUUID;
        }
        m_systemRestoreWidget->loadRestorePageInfo(data);
        // A pending order has already put its progress page up; the options must not cover it.
        if (m_systemRestoreWidget->isShowingOptions()) {
            m_frame->showWidget(this, m_systemRestoreWidget);
            m_frame->setBackwardButtonVisible(false);
        }
    }
}

void RecoveryModule::finishResponse(const QJsonObject& response, const QString& answeredID)
{
    // The restore page hands a pending order on while its information is handled: that order's request is the one
    // to follow now.
    if (m_operateID == answeredID) {
        forgetRequest();
    }
    if (response.value("autoReboot").toBool(false)) {
        SpawnCmd("sudo", {"reboot", "-f"});
    }
}
