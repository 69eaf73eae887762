#pragma once

// The demo on the fabricated machine: prepares it as a user would have left it (two restore points made by the
// service, a changed system, a damaged file system), then either lets a person use the real window or walks it
// through a factory reset keeping personal files, a restore cut off halfway and run again, a file-system repair, and
// a whole-disk backup onto a second disk restored from the window, and tells what happened.

#include <QMap>
#include <QObject>
#include <QStringList>

#include <memory>

class LiveService;
class MainWindow;

class GuiDriver;

class DemoRun : public QObject
{
    Q_OBJECT

public:
    DemoRun(const QString& screenshotDir, bool scripted, QObject* parent = nullptr);
    // The second act, after the first run left a whole-disk backup on the second disk: the system disk is gone and a
    // new, larger one is fitted; the backup is restored onto it through the window's disk chooser.
    int runNewDisk();
    ~DemoRun() override;

    // Runs the whole demo; the process exit code: 0 when every step did what it should.
    int run();

private:
    // What a whole-disk restore must bring back: the system disk's partition table, every partition's file-system
    // UUID, the files of the root and boot file systems.
    struct DiskState
    {
        QString table;
        QMap<QString, QString> uuids;
        QMap<QString, QByteArray> root;
        QMap<QString, QByteArray> boot;
    };

    bool prepareMachine();
    bool makeRestorePoint(const QString& directory, const QString& createTime, const QString& marker);
    bool restartService();
    bool breakTheSystem();
    bool damageBootFileSystem();
    void openWindow(const QString& interruptedRestore = QString());
    // A second restore is cut off halfway over a root that no longer mounts; the window, started again, shows it
    // and runs it again.
    bool cutOffRestore();
    // Single files brought back through the window: alice's letter before the reset, a file of a restore point.
    void copyFilesOut(GuiDriver& gui);
    int runScripted();
    int runInteractive();
    bool checkFactoryReset();
    bool checkRepair();
    // The system disk imaged whole onto the second disk by the service, the system changed, and the image restored
    // through the window's "Restore from backup files".
    bool wholeDiskBackupAndRestore(QStringList* screenshots);
    bool makeWholeDiskBackup();
    bool changeAfterWholeDiskBackup();
    void checkWholeDiskRestore(const DiskState& atBackup);
    void checkNewDisk(const QString& disk);
    static DiskState diskState();
    void report(bool ok, const QString& text);

    QString m_screenshotDir;
    bool m_scripted;
    std::unique_ptr<LiveService> m_service;
    std::unique_ptr<MainWindow> m_window;
    QStringList m_restorePoints;
    int m_failures = 0;
};
