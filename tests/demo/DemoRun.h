#pragma once

// The demo on the fabricated machine: prepares it as a user would have left it (two restore points made by the
// service, a changed system, a damaged file system), then either lets a person use the real window or walks it
// through a factory reset keeping personal files, a restore cut off halfway and run again, and a file-system repair,
// and tells what happened.

#include <QObject>
#include <QStringList>

#include <memory>

class LiveService;
class MainWindow;

class DemoRun : public QObject
{
    Q_OBJECT

public:
    DemoRun(const QString& screenshotDir, bool scripted, QObject* parent = nullptr);
    ~DemoRun() override;

    // Runs the whole demo; the process exit code: 0 when every step did what it should.
    int run();

private:
    bool prepareMachine();
    bool makeRestorePoint(const QString& directory, const QString& createTime, const QString& marker);
    bool restartService();
    bool breakTheSystem();
    bool damageBootFileSystem();
    void openWindow(const QString& interruptedRestore = QString());
    // A second restore is cut off halfway over a root that no longer mounts; the window, started again, shows it
    // and runs it again.
    bool cutOffRestore();
    int runScripted();
    int runInteractive();
    bool checkFactoryReset();
    bool checkRepair();
    void report(bool ok, const QString& text);

    QString m_screenshotDir;
    bool m_scripted;
    std::unique_ptr<LiveService> m_service;
    std::unique_ptr<MainWindow> m_window;
    QStringList m_restorePoints;
    int m_failures = 0;
};
