#pragma once

#include <QDBusPendingReply>
#include <QHash>
#include <QJsonObject>
#include <QObject>

#include <functional>

class BrowseFilesPage;
class ComMarlinDaemonRecoveryInterface;
class CopyDestinationPage;
class CopyResultPage;
class FrameInterface;
class ModuleInterface;
class WorkingPage;

// Bringing back single files: opens a browse of the installed system's homes or of a backup, lists folders as they
// are opened, lists the destinations, runs and cancels the copy and shows how it ended. Its requests and answers are
// its own: they never touch the restore and backup tasks the module follows.
class BrowseFlow : public QObject
{
    Q_OBJECT
public:
    BrowseFlow(FrameInterface* frame, ModuleInterface* module, ComMarlinDaemonRecoveryInterface* proxy,
               QObject* parent = nullptr);
    ~BrowseFlow() override;

    static bool isBrowseOp(int opType);

    BrowseFilesPage* browsePage() const { return m_browsePage; }
    CopyDestinationPage* destinationPage() const { return m_destinationPage; }
    WorkingPage* workingPage() const { return m_workingPage; }
    CopyResultPage* resultPage() const { return m_resultPage; }

public slots:
    // The installed system's homes, read-only.
    void openPersonal();
    // A backup directory, on the device with that UUID when one is given (as a restore of it would name it).
    void openBackup(const QString& directory, const QString& backupUUID);
    void onReportProgress(const QString& progress);
    void onSuccess(const QString& msg);
    void onError(const QString& errMsg);
    void onServiceGone();

private:
    void open(const QJsonObject& source, const QString& title);
    // Sends a request; its operateID when the service accepted it, else empty with the reason shown by failed.
    QString send(int opType, const QJsonObject& extra,
                 const std::function<QDBusPendingReply<int>(const QString&)>& call, QString* failure);
    void showPage(QWidget* page);
    void listFolder(const QString& path);
    void showDestinations();
    void copyTo(const QString& uuid);
    void cancelCopy();
    void closeBrowse();
    // Back to the page the browse was opened from.
    void leave();
    void backToFiles();
    void showResult(bool success, const QJsonObject& response);

    FrameInterface* m_frame;
    ModuleInterface* m_module;
    ComMarlinDaemonRecoveryInterface* m_proxy;
    BrowseFilesPage* m_browsePage;
    CopyDestinationPage* m_destinationPage;
    WorkingPage* m_workingPage;
    CopyResultPage* m_resultPage;
    // Requests sent and not yet answered: operateID to opType.
    QHash<QString, int> m_pending;
    // Folder listings asked for: operateID to path.
    QHash<QString, QString> m_folders;
    QString m_copyID;
    // How many pages lay under the browse page.
    int m_baseDepth = 0;
};
