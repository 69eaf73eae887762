#include "BrowseFlow.h"

#include "BrowseFilesPage.h"
#include "BrowseModel.h"
#include "CopyDestinationPage.h"
#include "CopyResultPage.h"
#include "FrameInterface.h"
#include "comMarlinDaemonRecoveryInterface.h"
#include "modules/recovery/RecoveryModule.h"
#include "widgets/WorkingPage.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <QUuid>

namespace {

enum BrowseOp
{
    OpenOp = 10,
    ListOp = 11,
    DestinationsOp = 12,
    CopyOp = 13,
    CancelOp = 14,
    CloseOp = 15
};

const int InvalidCaller = -100;
const QString DefaultDestDir = "Recovered Files";

QJsonObject parse(const QString& text)
{
    return QJsonDocument::fromJson(text.toUtf8()).object();
}

// The response's data: a JSON text in the response.
QJsonObject dataOf(const QJsonObject& response)
{
    return parse(response.value("data").toString());
}

QString sizeText(const QJsonValue& bytes)
{
    return QLocale().formattedDataSize(qint64(bytes.toDouble()), 1);
}

} // namespace

BrowseFlow::BrowseFlow(FrameInterface* frame, ModuleInterface* module, ComMarlinDaemonRecoveryInterface* proxy,
                       QObject* parent)
    : QObject(parent), m_frame(frame), m_module(module), m_proxy(proxy), m_browsePage(new BrowseFilesPage),
      m_destinationPage(new CopyDestinationPage), m_workingPage(new WorkingPage), m_resultPage(new CopyResultPage)
{
    m_workingPage->setCancellable(true);
    connect(m_browsePage, &BrowseFilesPage::back, this, &BrowseFlow::leave);
    connect(m_browsePage, &BrowseFilesPage::folderWanted, this, &BrowseFlow::listFolder);
    connect(m_browsePage, &BrowseFilesPage::copyRequested, this, &BrowseFlow::showDestinations);
    connect(m_destinationPage, &CopyDestinationPage::back, this, &BrowseFlow::backToFiles);
    connect(m_destinationPage, &CopyDestinationPage::copyTo, this, &BrowseFlow::copyTo);
    connect(m_workingPage, &WorkingPage::cancelRequested, this, &BrowseFlow::cancelCopy);
    connect(m_resultPage, &CopyResultPage::backToFiles, this, &BrowseFlow::backToFiles);
    connect(m_resultPage, &CopyResultPage::home, this, &BrowseFlow::leave);
    connect(m_proxy, &ComMarlinDaemonRecoveryInterface::ReportProgress, this, &BrowseFlow::onReportProgress);
    connect(m_proxy, &ComMarlinDaemonRecoveryInterface::Success, this, &BrowseFlow::onSuccess);
    connect(m_proxy, &ComMarlinDaemonRecoveryInterface::Error, this, &BrowseFlow::onError);
}

BrowseFlow::~BrowseFlow()
{
    delete m_browsePage;
    delete m_destinationPage;
    delete m_workingPage;
    delete m_resultPage;
}

bool BrowseFlow::isBrowseOp(int opType)
{
    return opType >= OpenOp && opType <= CloseOp;
}

QString BrowseFlow::send(int opType, const QJsonObject& extra,
                         const std::function<QDBusPendingReply<int>(const QString&)>& call, QString* failure)
{
    QJsonObject request = extra;
    const QString id = QUuid::createUuid().toString();
    request.insert("operateID", id);
    request.insert("userName", "live@user");
    request.insert("opType", opType);
    // Remembered before the call: the outcome may come before the call returns.
    m_pending.insert(id, opType);
    QDBusPendingReply<int> reply = call(QString::fromUtf8(QJsonDocument(request).toJson(QJsonDocument::Compact)));
    reply.waitForFinished();
    if (!reply.isError() && reply.value() == 0) {
        return id;
    }
    m_pending.remove(id);
    qCritical().noquote() << "browse request " + QString::number(opType) + " not accepted: " +
                                 (reply.isError() ? reply.error().message() : QString::number(reply.value()));
    if (reply.isError()) {
        *failure = RecoveryModule::tr("The recovery service cannot be reached.");
    } else {
        *failure = reply.value() == InvalidCaller ? RecoveryModule::tr("Invalid Caller")
                                                  : RecoveryModule::tr("Invalid Argument");
    }
    return QString();
}

void BrowseFlow::showPage(QWidget* page)
{
    m_frame->showWidget(m_module, page);
    // Every page of the flow has its own way back.
    m_frame->setBackwardButtonVisible(false);
    page->setFocus(Qt::OtherFocusReason);
}

void BrowseFlow::openPersonal()
{
    open({{"source", "personal"}}, tr("Personal files of the installed system (read-only)"));
}

void BrowseFlow::openBackup(const QString& directory, const QString& backupUUID)
{
    QJsonObject source{{"source", "backup"}, {"backupDir", directory}};
    if (!backupUUID.isEmpty()) {
        source.insert("backupUUID", backupUUID);
    }
    open(source, tr("Files in the backup %1").arg(directory));
}

void BrowseFlow::open(const QJsonObject& source, const QString& title)
{
    m_pending.clear();
    m_folders.clear();
    m_copyID.clear();
    m_baseDepth = m_frame->pageCount();
    m_browsePage->setTitle(title);
    m_browsePage->startLoading();
    showPage(m_browsePage);
    QString failure;
    if (send(
            OpenOp, source, [this](const QString& req) { return m_proxy->OpenBrowse(req); }, &failure)
            .isEmpty()) {
        m_browsePage->showError(failure);
    }
}

void BrowseFlow::listFolder(const QString& path)
{
    QString failure;
    const QString id = send(
        ListOp, {{"path", path}}, [this](const QString& req) { return m_proxy->ListBrowseDirectory(req); }, &failure);
    if (id.isEmpty()) {
        m_browsePage->showFolderError(path, failure);
        return;
    }
    m_folders.insert(id, path);
}

void BrowseFlow::showDestinations()
{
    m_destinationPage->startLoading(m_browsePage->selectionText());
    showPage(m_destinationPage);
    QString failure;
    if (send(
            DestinationsOp, {}, [this](const QString& req) { return m_proxy->ListCopyDestinations(req); }, &failure)
            .isEmpty()) {
        m_destinationPage->showError(failure);
    }
}

void BrowseFlow::copyTo(const QString& uuid)
{
    const QJsonObject extra{{"paths", QJsonArray::fromStringList(m_browsePage->model()->checkedPaths())},
                            {"destUUID", uuid},
                            {"destDir", DefaultDestDir}};
    QString failure;
    const QString id = send(
        CopyOp, extra, [this](const QString& req) { return m_proxy->CopyBrowseFiles(req); }, &failure);
    if (id.isEmpty()) {
        m_destinationPage->showError(failure);
        return;
    }
    m_copyID = id;
    m_workingPage->restart();
    m_workingPage->setTitle(tr("Copying files, please wait..."));
    m_workingPage->setTip(tr("Do not remove the disk the files are copied to"));
    m_workingPage->setDetail(tr("Copying to %1").arg(m_destinationPage->chosenName()));
    showPage(m_workingPage);
}

void BrowseFlow::cancelCopy()
{
    QString failure;
    // Refused when the copy has just ended: its outcome is on its way.
    send(
        CancelOp, {}, [this](const QString& req) { return m_proxy->CancelBrowseCopy(req); }, &failure);
}

void BrowseFlow::closeBrowse()
{
    QString failure;
    send(
        CloseOp, {}, [this](const QString& req) { return m_proxy->CloseBrowse(req); }, &failure);
}

void BrowseFlow::leave()
{
    closeBrowse();
    m_folders.clear();
    while (m_frame->pageCount() > qMax(m_baseDepth, 1)) {
        m_frame->back();
    }
}

void BrowseFlow::backToFiles()
{
    while (m_frame->pageCount() > 1 && m_frame->topWidget() != m_browsePage) {
        m_frame->back();
    }
    m_frame->setBackwardButtonVisible(false);
    m_browsePage->setFocus(Qt::OtherFocusReason);
}

void BrowseFlow::onReportProgress(const QString& progress)
{
    const QJsonObject response = parse(progress);
    if (m_copyID.isEmpty() || response.value("operateID").toString() != m_copyID) {
        return;
    }
    m_workingPage->setProgressValue(response.value("progress").toInt(0));
    const QJsonObject data = dataOf(response);
    if (data.contains("bytesTotal")) {
        m_workingPage->setDetail(
            tr("%1 of %2 copied").arg(sizeText(data.value("bytesDone")), sizeText(data.value("bytesTotal"))));
    }
}

void BrowseFlow::onSuccess(const QString& msg)
{
    const QJsonObject response = parse(msg);
    const QString id = response.value("operateID").toString();
    if (!m_pending.contains(id)) {
        return;
    }
    const int opType = m_pending.take(id);
    const QString data = response.value("data").toString();
    if (opType == OpenOp) {
        m_browsePage->showVolumes(data);
    } else if (opType == ListOp) {
        m_folders.remove(id);
        m_browsePage->showEntries(data);
    } else if (opType == DestinationsOp) {
        m_destinationPage->setDestinations(data, m_browsePage->model()->checkedBytes(), m_browsePage->selectionText());
    } else if (opType == CopyOp && id == m_copyID) {
        showResult(true, response);
    }
}

void BrowseFlow::onError(const QString& errMsg)
{
    const QJsonObject response = parse(errMsg);
    const QString id = response.value("operateID").toString();
    if (!m_pending.contains(id)) {
        return;
    }
    const int opType = m_pending.take(id);
    const QString error = RecoveryModule::translatedError(response.value("errMsg").toString());
    qCritical().noquote() << "browse request " + QString::number(opType) + " failed: " + errMsg;
    if (opType == OpenOp) {
        m_browsePage->showError(tr("The files cannot be opened: %1").arg(error));
    } else if (opType == ListOp) {
        m_browsePage->showFolderError(m_folders.take(id), error);
    } else if (opType == DestinationsOp) {
        m_destinationPage->showError(error);
    } else if (opType == CopyOp && id == m_copyID) {
        showResult(false, response);
    }
}

void BrowseFlow::onServiceGone()
{
    m_pending.clear();
    m_folders.clear();
    if (m_copyID.isEmpty()) {
        return;
    }
    m_copyID.clear();
    backToFiles();
    m_resultPage->showOutcome(false, tr("Copy Failed"), tr("The recovery service stopped before the copy finished."));
    showPage(m_resultPage);
}

void BrowseFlow::showResult(bool success, const QJsonObject& response)
{
    m_copyID.clear();
    const QJsonObject data = dataOf(response);
    const int files = data.value("files").toInt();
    QString message;
    if (success) {
        message = tr("%n file(s) (%1) copied to \"%2\" on %3.", "", files)
                      .arg(sizeText(data.value("bytes")), data.value("destPath").toString(),
                           data.value("destination").toString());
        const QJsonArray renamed = data.value("renamed").toArray();
        if (!renamed.isEmpty()) {
            message += "\n\n" + tr("Names already taken there, so copied under new names:");
            for (const QJsonValue& value : renamed) {
                message +=
                    "\n" + tr("%1 as %2")
                               .arg(value.toObject().value("from").toString(), value.toObject().value("to").toString());
            }
        }
    } else {
        message = RecoveryModule::translatedError(response.value("errMsg").toString());
        if (data.contains("needed")) {
            message +=
                "\n" + tr("Needed: %1, free: %2").arg(sizeText(data.value("needed")), sizeText(data.value("free")));
        } else if (files > 0) {
            message += "\n" + tr("%n file(s) (%1) were copied completely before it stopped.", "", files)
                                  .arg(sizeText(data.value("bytes")));
        }
    }
    // Back to the files first, so the result page leads back to them.
    backToFiles();
    const bool cancelled = response.value("errMsg").toString() == QLatin1String("Copy cancelled");
    m_resultPage->showOutcome(success,
                              success     ? tr("Files Copied")
                              : cancelled ? tr("Copy Cancelled")
                                          : tr("Copy Failed"),
                              message);
    showPage(m_resultPage);
}
