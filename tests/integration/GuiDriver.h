#pragma once

// Drives the real window of the live program the way a person would: clicks on the pages, answers the
// confirmation dialogs, waits for the service's answers. Shared by the end-to-end tests and the demo, so both walk
// exactly the same path. Every step answers false with a reason in error() when the GUI did not get where it
// should, and saves a screenshot of each state it reaches when a screenshot directory is set.

#include <QStringList>

#include <functional>

class MainWindow;
class QWidget;
class RecoveryModule;

class GuiDriver
{
public:
    explicit GuiDriver(MainWindow* window, const QString& screenshotDir = QString());

    QString error() const { return m_error; }
    QStringList screenshots() const { return m_screenshots; }
    RecoveryModule* module() const;

    // Home page → "System Restore" → Next, until the restore page is up.
    bool openRestorePage();
    // The factory reset with or without personal files, confirmed in its dialog; ends on the progress page.
    bool factoryReset(bool keepPersonalFiles);
    // Chooses "Restore from a restore point" and reports how many backups the table lists.
    bool showRestorePoints(int* count);
    // The restore point whose path ends with pathSuffix, chosen in the table; ends on the progress page.
    bool restoreFromRestorePoint(const QString& pathSuffix);
    // "Restore from backup files" with the directory entered in its chooser; ends on the progress page.
    bool restoreFromBackupFiles(const QString& directory);
    // The same for a whole-disk backup whose disk is gone: the disk with that drive name chosen in the disk chooser
    // (the whole disk used or the old sizes kept) and confirmed; ends on the progress page.
    bool restoreOntoNewDisk(const QString& directory, const QString& drive, bool keepSize);
    // On the page of a restore that was cut off: "Restore Again", confirmed in its dialog if it has one; ends on
    // the progress page.
    bool restoreAgain();
    // Waits for the result page and reports its title; progress is photographed on the way.
    bool waitForResult(QString* title, int timeoutMs);
    // Back to the home page, as when the program starts again.
    void backToHome();

    // "Copy Personal Files" on the home page, or "Browse Files" for the restore point whose path ends with
    // pathSuffix on the restore page: the browse page, filled with its volumes.
    bool browsePersonalFiles();
    bool browseRestorePoint(const QString& pathSuffix);
    // On the browse page: opens the folders on the way to each path ("volume/dir/file"), checks it, copies to the
    // destination with that UUID and reports the result page's title and message.
    bool copyFiles(const QStringList& paths, const QString& destUUID, QString* result, int timeoutMs);
    // From the copy's result page back to where the browse was opened.
    void leaveBrowse();

    // Opens the file-system repair page (reached through the controller's slot, as the live system does).
    bool openRepairPage(int timeoutMs);
    // Repairs the partition's file system through its row's repair button and reports the page's result line.
    bool repairPartition(const QString& devicePath, QString* resultText, int timeoutMs);

    // Saves the window as NN-name.png in the screenshot directory (no-op without one).
    void shot(const QString& name);

private:
    bool fail(const QString& reason);
    // Waits until the page the getter names exists and is on top (pages are made on first use).
    bool waitForTop(const std::function<QWidget*()>& page, int timeoutMs, const QString& what);
    // Expands the tree down to path's folder and checks path.
    bool checkBrowsePath(const QString& path);
    // "Restore from backup files" with the directory, and Restore Now clicked.
    bool clickRestoreFromFiles(const QString& directory);
    void shotOf(QWidget* widget, const QString& name);

    MainWindow* m_window;
    QString m_screenshotDir;
    QStringList m_screenshots;
    QString m_error;
};
