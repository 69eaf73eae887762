#include "DemoRun.h"

#include "GuiDriver.h"
#include "HeldRootImage.h"
#include "LiveService.h"
#include "MainWindow.h"
#include "Mounted.h"
#include "Startup.h"
#include "modules/recovery/RecoveryModule.h"
#include "utils.h"

#include <QApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeySequence>
#include <QProcess>
#include <QShortcut>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

using namespace LiveTest;

namespace {

const int TaskTimeout = 900000;
const QString PlantedFile = "/usr/bin/left-by-malware";
const QString PersonalFile = "/home/alice/Documents/letter-to-keep.txt";
const QString WholeDiskDir = "/whole-disk/2026-12-07";
const QString IntruderFile = "/usr/bin/came-after-the-disk-backup";
const QString LateDataFile = "/home/bob/Documents/written-after-the-disk-backup.txt";

void say(const QString& text)
{
    std::fprintf(stdout, "%s\n", qPrintable(text));
    std::fflush(stdout);
}

QJsonObject task(const QString& command, const QStringList& args)
{
    return QJsonObject{{"command", command}, {"args", QJsonArray::fromStringList(args)}};
}

} // namespace

DemoRun::DemoRun(const QString& screenshotDir, bool scripted, QObject* parent)
    : QObject(parent), m_screenshotDir(screenshotDir), m_scripted(scripted)
{
}

DemoRun::~DemoRun() = default;

void DemoRun::report(bool ok, const QString& text)
{
    if (!ok) {
        ++m_failures;
    }
    say(QString(ok ? "  [ok]     " : "  [FAILED] ") + text);
}

int DemoRun::run()
{
    say("Preparing the machine: the real service makes two restore points, then the system gets broken.");
    if (!prepareMachine()) {
        say("The machine could not be prepared; see the messages above.");
        return 1;
    }
    openWindow();
    return m_scripted ? runScripted() : runInteractive();
}

bool DemoRun::restartService()
{
    // The service runs one task per process, as in the live system, where a reboot follows every task.
    m_service = std::make_unique<LiveService>();
    if (!m_service->start()) {
        report(false, "the recovery service did not start on the live environment's bus");
        return false;
    }
    return true;
}

bool DemoRun::makeRestorePoint(const QString& directory, const QString& createTime, const QString& marker)
{
    {
        const Mounted root(env("MARLIN_ROOT_UUID"));
        if (!root.isValid() || !writeFile(root + "/etc/motd", marker.toUtf8() + "\n")) {
            return false;
        }
    }
    if (!restartService()) {
        return false;
    }
    const QString root = "root:" + env("MARLIN_ROOT_UUID");
    const QString data = "data:" + env("MARLIN_DATA_UUID");
    const QJsonArray tasks{task("create-backup-image", {root, data, directory, "system.rbk"}),
                           task("create-backup-directory", {data, data, directory})};
    const QString order = QString::fromUtf8(QJsonDocument(QJsonObject{{"tasks", tasks}}).toJson());
    QSignalSpy success(m_service->proxy(), &ComMarlinDaemonRecoveryInterface::Success);
    QSignalSpy error(m_service->proxy(), &ComMarlinDaemonRecoveryInterface::Error);
    const int code =
        m_service->proxy()->SystemBackup(LiveService::request(4, "demo-" + createTime, {{"recoveryInfo", order}}));
    const bool ended =
        code == 0 && QTest::qWaitFor([&] { return !success.isEmpty() || !error.isEmpty(); }, TaskTimeout);
    m_service.reset();
    const bool ok = ended && !success.isEmpty();
    report(ok, "restore point " + directory + " on the data partition");
    if (ok) {
        m_restorePoints.append(createTime + ":" + directory);
    }
    return ok;
}

bool DemoRun::breakTheSystem()
{
    {
        const Mounted root(env("MARLIN_ROOT_UUID"));
        const Mounted data(env("MARLIN_DATA_UUID"));
        if (!root.isValid() || !data.isValid() || !writeFile(root + "/etc/hostname", "broken\n") ||
            !writeFile(root + PlantedFile, "#!/bin/sh\n") ||
            !writeFile(data + PersonalFile, "Dear Bob, this letter must survive the reset.\n")) {
            return false;
        }
    }
    report(true, "the system partition has a changed hostname and a planted program " + PlantedFile);
    report(true, "alice wrote " + PersonalFile + " on the data partition");
    return true;
}

bool DemoRun::damageBootFileSystem()
{
    // The boot file system loses an inode and is marked as having errors.
    const QString boot = env("MARLIN_BOOT_DEV");
    for (const QString& request : {QString("mkdir /lost-inode"), QString("clri /lost-inode"), QString("ssv state 2")}) {
        if (exitCodeOf("debugfs", {"-w", "-R", request, boot}) != 0) {
            report(false, "debugfs could not damage " + boot);
            return false;
        }
    }
    const bool damaged = exitCodeOf("fsck", {"-n", boot}) != 0;
    report(damaged, "the boot file system " + boot + " is damaged (fsck -n finds errors)");
    return damaged;
}

bool DemoRun::prepareMachine()
{
    QJsonObject points;
    if (!makeRestorePoint("/backups/2026-11-02", "1793577600", "restore point of November") ||
        !makeRestorePoint("/backups/2026-12-01", "1796083200", "restore point of December")) {
        return false;
    }
    for (const QString& point : m_restorePoints) {
        points.insert(point.section(':', 0, 0), point.section(':', 1));
    }
    {
        // Where the installed system records its backups for the restore page.
        const Mounted recovery(env("MARLIN_RECOVERY_UUID"));
        const QJsonObject history{{env("MARLIN_DATA_UUID"), points}};
        if (!recovery.isValid() || !writeFile(recovery + "/backup/savePath.json", QJsonDocument(history).toJson())) {
            return false;
        }
    }
    // In the scripted run the reset comes first and rewrites the boot partition: the damage is done after it.
    return breakTheSystem() && (m_scripted || damageBootFileSystem()) && restartService();
}

void DemoRun::openWindow(const QString& interruptedRestore)
{
    CmdLineInfo cmdLine;
    Utils::getCmdLineInfo(cmdLine);
    m_window.reset();
    m_window = std::make_unique<MainWindow>(cmdLine, false, QString());
    m_window->setInterruptedRestore(interruptedRestore);
    m_window->show();
    // The window builds its module once the event loop runs.
    if (!QTest::qWaitFor([this] { return m_window->recoveryModule() != nullptr; }, 10000)) {
        m_window->initAllModule();
    }
}

int DemoRun::runScripted()
{
    GuiDriver gui(m_window.get(), m_screenshotDir);
    copyFilesOut(gui);
    say("Factory reset keeping personal files, through the window:");
    bool ok = gui.openRestorePage();
    int points = 0;
    // The restore points are in the table; the reset is chosen afterwards.
    ok = ok && gui.showRestorePoints(&points);
    report(ok && points == m_restorePoints.size(), QString("the restore page lists %1 restore points").arg(points));
    QString title;
    ok = ok && gui.factoryReset(true) && gui.waitForResult(&title, TaskTimeout);
    report(ok && title == "Restore Successful", "result page: " + (ok ? title : gui.error()));
    if (ok) {
        checkFactoryReset();
    }
    QStringList screenshots = gui.screenshots();
    cutOffRestore();

    say("File-system repair, through the window:");
    GuiDriver repair(m_window.get(), m_screenshotDir + "/repair");
    repair.backToHome();
    QString result;
    ok = damageBootFileSystem() && repair.openRepairPage(180000) &&
         repair.repairPartition(env("MARLIN_BOOT_DEV"), &result, 300000);
    report(ok && result == "Repair completed. Reboot to enter the system.",
           "repair page: " + (ok ? result : repair.error()));
    if (ok) {
        checkRepair();
    }
    screenshots += repair.screenshots();
    wholeDiskBackupAndRestore(&screenshots);
    say(QString("Screenshots (%1): %2").arg(screenshots.size()).arg(m_screenshotDir));
    for (const QString& file : screenshots) {
        say("  " + file);
    }
    return m_failures == 0 ? 0 : 1;
}

void DemoRun::copyFilesOut(GuiDriver& gui)
{
    say("Single files brought back onto the second disk, through the window:");
    const QString letter = PersonalFile.section('/', -1);
    QString result;
    bool ok = gui.browsePersonalFiles() && gui.copyFiles({"home" + PersonalFile.mid(QString("/home").size())},
                                                         env("MARLIN_BACKUP_UUID"), &result, TaskTimeout);
    report(ok, "Copy Personal Files: alice's letter; " + (ok ? result : gui.error()));
    gui.leaveBrowse();
    ok = ok && gui.browseRestorePoint("2026-11-02") &&
         gui.copyFiles({"system/etc/motd"}, env("MARLIN_BACKUP_UUID"), &result, TaskTimeout);
    report(ok, "Browse Files of the November restore point: its /etc/motd; " + (ok ? result : gui.error()));
    gui.leaveBrowse();
    gui.backToHome();
    const Mounted disk(env("MARLIN_BACKUP_UUID"));
    const bool copied = disk.isValid() && readFile(disk + "/Recovered Files/" + letter).startsWith("Dear Bob") &&
                        readFile(disk + "/Recovered Files/motd") == "restore point of November\n";
    report(copied, "the second disk holds both under \"Recovered Files\", as they were");
}

bool DemoRun::cutOffRestore()
{
    say("A power cut during a restore of a system that no longer starts:");
    bool ok = breakRoot();
    report(ok, "the system partition " + env("MARLIN_ROOT_DEV") + " lost its first 4 MiB: it no longer mounts");
    {
        HeldRootImage held;
        ok = ok && held.isValid() && restartService();
        const QString request = LiveService::request(1, "demo-cut-off", {{"formatData", false}});
        ok = ok && m_service->proxy()->SystemRestore(request).value() == 0 && held.waitUntilHeld(TaskTimeout);
        if (m_service) {
            m_service->kill();
        }
        held.cut();
    }
    report(ok, "a restore keeping personal files was cut off while it wrote the system partition");
    ok = ok && breakRoot() && restartService();
    CmdLineInfo cmdLine;
    Utils::getCmdLineInfo(cmdLine);
    const QString mark = ok ? Startup::findInterruptedRestore(cmdLine) : QString();
    report(!mark.isEmpty(), "the recovery partition holds the record of the cut-off restore");
    say("The window is started again:");
    openWindow(mark);
    GuiDriver gui(m_window.get(), m_screenshotDir + "/cut-off");
    QString title;
    ok = !mark.isEmpty() && gui.restoreAgain();
    report(ok, "it shows \"The last restore did not finish\"; Restore Again, confirmed");
    ok = ok && gui.waitForResult(&title, TaskTimeout);
    report(ok && title == "Restore Successful", "result page: " + (ok ? title : gui.error()));
    if (ok) {
        ok = checkFactoryReset();
        const Mounted recovery(env("MARLIN_RECOVERY_UUID"));
        const bool gone = !QFile::exists(recovery + "/backup/restore-in-progress.json");
        report(gone, "the record of the cut-off restore is gone");
        ok = ok && gone && exitCodeOf("fsck", {"-n", env("MARLIN_ROOT_DEV")}) == 0;
        report(ok, "fsck -n finds the system partition clean");
    }
    for (const QString& file : gui.screenshots()) {
        say("  screenshot: " + file);
    }
    // The repair step gets a service of its own, as after the reboot that follows a restore.
    return restartService() && ok;
}

bool DemoRun::checkFactoryReset()
{
    const Mounted root(env("MARLIN_ROOT_UUID"));
    const Mounted data(env("MARLIN_DATA_UUID"));
    const bool reset = readFile(root + "/etc/hostname") == "marlin-pc\n" && !QFile::exists(root + PlantedFile);
    report(reset, "the system partition is back to its initial backup (hostname marlin-pc, planted program gone)");
    const bool kept = readFile(data + PersonalFile).startsWith("Dear Bob");
    report(kept, "alice's letter is still on the data partition");
    return reset && kept;
}

bool DemoRun::checkRepair()
{
    const bool clean = exitCodeOf("fsck", {"-n", env("MARLIN_BOOT_DEV")}) == 0;
    report(clean, "fsck -n finds the boot file system clean");
    return clean;
}

DemoRun::DiskState DemoRun::diskState()
{
    DiskState state;
    state.table = output("sfdisk", {"--dump", env("MARLIN_LOOP")});
    state.uuids = fileSystemUuids();
    const Mounted root(env("MARLIN_ROOT_UUID"));
    const Mounted boot(env("MARLIN_BOOT_UUID"));
    if (root.isValid() && boot.isValid()) {
        state.root = treeOf(root.path());
        state.boot = treeOf(boot.path());
    }
    return state;
}

bool DemoRun::makeWholeDiskBackup()
{
    if (!restartService()) {
        return false;
    }
    const QJsonArray tasks{
        task("create-backup-image",
             {"root:" + env("MARLIN_ROOT_UUID"), "backup:" + env("MARLIN_BACKUP_UUID"), WholeDiskDir, "system.rbk"})};
    const QString order = QString::fromUtf8(
        QJsonDocument(QJsonObject{{"auto_reboot", false}, {"tasks", tasks}}).toJson(QJsonDocument::Compact));
    bool ok = false;
    const QJsonObject outcome = m_service->runTask(
        [&](ComMarlinDaemonRecoveryInterface* proxy) {
            return proxy->ManualBackup(LiveService::request(3, "demo-whole-disk", {{"recoveryInfo", order}})).value();
        },
        &ok);
    m_service.reset();
    report(ok, "whole-disk backup of " + env("MARLIN_LOOP") + " onto the second disk, " + env("MARLIN_BACKUP_DEV") +
                   ":" + WholeDiskDir + (ok ? QString() : ": " + outcome.value("errMsg").toString()));
    if (!ok) {
        return false;
    }
    const Mounted saved(env("MARLIN_BACKUP_UUID"));
    const QString image = saved + WholeDiskDir + "/system.rbk";
    QTemporaryDir work;
    output("marlin-clone", {"--read-custom-file", "rbk://" + image + "/DiskInfo", work.filePath("DiskInfo")});
    const bool whole =
        readFile(work.filePath("DiskInfo")).startsWith("DiskDrive=" + env("MARLIN_SYSTEM_DRIVE").toUtf8() + "\n");
    const bool intact = exitCodeOf("md5sum", {"-c", "--", image + ".md5"}) == 0;
    report(whole && intact, "one image of the whole drive " + env("MARLIN_SYSTEM_DRIVE") + ", its md5sum checks");
    return whole && intact;
}

bool DemoRun::changeAfterWholeDiskBackup()
{
    {
        const Mounted root(env("MARLIN_ROOT_UUID"));
        const Mounted data(env("MARLIN_DATA_UUID"));
        if (!root.isValid() || !data.isValid() || !writeFile(root + "/etc/hostname", "changed-after-the-backup\n") ||
            !writeFile(root + IntruderFile, "#!/bin/sh\n") || !QFile::remove(root + "/etc/motd") ||
            !writeFile(data + LateDataFile, "Not in the disk backup.\n")) {
            report(false, "the system could not be changed after the whole-disk backup");
            return false;
        }
    }
    report(true,
           "then the hostname changed, /etc/motd removed, " + IntruderFile + " planted, " + LateDataFile + " written");
    return true;
}

void DemoRun::checkWholeDiskRestore(const DiskState& atBackup)
{
    report(mountedPartitions().isEmpty(), "nothing on the system disk is left mounted");
    const DiskState now = diskState();
    report(now.table == atBackup.table, "the partition table is as at the backup");
    report(now.uuids == atBackup.uuids,
           QString("the %1 partitions' file-system UUIDs are unchanged").arg(atBackup.uuids.size()));
    report(!now.root.isEmpty() && now.root == atBackup.root && now.boot == atBackup.boot,
           "every file on the system and boot partitions is as at the backup (hostname, motd, planted program gone)");
    {
        const Mounted data(env("MARLIN_DATA_UUID"));
        report(data.isValid() && !QFile::exists(data + LateDataFile),
               "the file written on the data partition after the backup is gone");
    }
    QStringList unclean;
    for (const QString& key : Ext4Keys) {
        if (exitCodeOf("e2fsck", {"-n", "-f", partitionDevice(key)}) != 0) {
            unclean.append(key);
        }
    }
    report(unclean.isEmpty(), "e2fsck -n -f finds every ext4 file system clean" +
                                  (unclean.isEmpty() ? QString() : ", not: " + unclean.join(' ')));
}

bool DemoRun::wholeDiskBackupAndRestore(QStringList* screenshots)
{
    say("A whole-disk backup onto a second disk, then its restore through the window:");
    {
        const Mounted root(env("MARLIN_ROOT_UUID"));
        if (!root.isValid() || !writeFile(root + "/etc/motd", "whole-disk backup of December 7\n")) {
            report(false, "the system partition could not be marked before the whole-disk backup");
            return false;
        }
    }
    const DiskState atBackup = diskState();
    if (atBackup.root.isEmpty() || atBackup.table.isEmpty()) {
        report(false, "the system disk could not be read before the whole-disk backup");
        return false;
    }
    if (!makeWholeDiskBackup() || !changeAfterWholeDiskBackup() || !restartService()) {
        return false;
    }
    GuiDriver gui(m_window.get(), m_screenshotDir + "/whole-disk");
    gui.backToHome();
    QString title;
    bool ok = false;
    {
        // The second disk mounted, as for a person choosing the backup's directory in the window.
        const Mounted saved(env("MARLIN_BACKUP_UUID"));
        const QString directory = saved + WholeDiskDir;
        ok = saved.isValid() && gui.openRestorePage() && gui.restoreFromBackupFiles(directory);
        report(ok, "Restore from backup files, " + directory + ": " + (ok ? "started" : gui.error()));
        ok = ok && gui.waitForResult(&title, TaskTimeout);
    }
    report(ok && title == "Restore Successful", "result page: " + (ok ? title : gui.error()));
    if (ok) {
        checkWholeDiskRestore(atBackup);
    }
    *screenshots += gui.screenshots();
    return ok;
}

int DemoRun::runNewDisk()
{
    say("The system disk died: a new, larger disk is fitted and the whole-disk backup restored onto it:");
    const QString disk = env("MARLIN_NEW_BIG_DISK");
    report(!disk.isEmpty() && !QFile::exists(env("MARLIN_LOOP") + "p1"),
           "the system disk is gone; the new disk " + disk + " (" +
               output("blockdev", {"--getsize64", disk}).trimmed() + " bytes) holds nothing");
    if (disk.isEmpty() || !restartService()) {
        return 1;
    }
    openWindow();
    GuiDriver gui(m_window.get(), m_screenshotDir);
    QString title;
    bool ok = false;
    {
        const Mounted saved(env("MARLIN_BACKUP_UUID"));
        const QString directory = saved + WholeDiskDir;
        ok = saved.isValid() && gui.openRestorePage() &&
             gui.restoreOntoNewDisk(directory, env("MARLIN_NEW_BIG_DRIVE"), false);
        report(ok, "Restore from backup files, " + directory +
                       ", onto the new disk chosen in the disk chooser: " + (ok ? "started" : gui.error()));
        ok = ok && gui.waitForResult(&title, TaskTimeout);
    }
    report(ok && title == "Restore Successful", "result page: " + (ok ? title : gui.error()));
    if (ok) {
        checkNewDisk(disk);
    }
    say(QString("Screenshots (%1): %2").arg(gui.screenshots().size()).arg(m_screenshotDir));
    for (const QString& file : gui.screenshots()) {
        say("  " + file);
    }
    return m_failures == 0 ? 0 : 1;
}

void DemoRun::checkNewDisk(const QString& disk)
{
    int code = -1;
    const QString verdict = output("sfdisk", {"--verify", disk}, &code);
    report(code == 0 && verdict.contains("No errors detected"),
           "sfdisk --verify finds the new disk's partition table sound, its backup at the disk's end");
    QStringList differing;
    for (int n = 0; n < PartitionKeys.size(); ++n) {
        const QString uuid =
            output("blkid", {"-p", "-o", "value", "-s", "UUID", disk + "p" + QString::number(n + 1)}).trimmed();
        if (uuid != env(qPrintable("MARLIN_" + PartitionKeys.at(n) + "_UUID"))) {
            differing.append(PartitionKeys.at(n));
        }
    }
    report(differing.isEmpty(), QString("the %1 partitions have the file-system UUIDs of the old disk, so the restored "
                                        "fstab and boot loader find them")
                                        .arg(PartitionKeys.size()) +
                                    (differing.isEmpty() ? QString() : ", not: " + differing.join(' ')));
    QStringList unclean;
    for (int n = 0; n < PartitionKeys.size(); ++n) {
        const QString device = disk + "p" + QString::number(n + 1);
        if (Ext4Keys.contains(PartitionKeys.at(n)) && exitCodeOf("e2fsck", {"-n", "-f", device}) != 0) {
            unclean.append(PartitionKeys.at(n));
        }
    }
    report(unclean.isEmpty(), "e2fsck -n -f finds every ext4 file system on the new disk clean" +
                                  (unclean.isEmpty() ? QString() : ", not: " + unclean.join(' ')));
    const Mounted root(env("MARLIN_ROOT_UUID"));
    report(root.isValid() && readFile(root + "/etc/motd") == "whole-disk backup of December 7\n",
           "its system partition holds the files of the backup (/etc/motd of December 7)");
}

int DemoRun::runInteractive()
{
    say("The recovery program is open on the fabricated machine. Try:");
    say("  - System Restore > Reset to factory settings (keep or clear personal files), or a restore point;");
    say("  - Ctrl+R opens the file-system repair page (the live system reaches it without a home-page button),");
    say("    where the damaged boot partition can be repaired (a factory reset rewrites it: repair first);");
    say("  - Ctrl+Q ends the demo. Reboot and power off only leave a line in the environment's power.log.");
    say("The service runs one restore per start, as in the live system: run the demo again for another.");
    auto* repair = new QShortcut(QKeySequence("Ctrl+R"), m_window.get());
    connect(repair, &QShortcut::activated, this,
            [this] { QMetaObject::invokeMethod(m_window->recoveryModule(), "onRepairFileSystem"); });
    auto* quit = new QShortcut(QKeySequence("Ctrl+Q"), m_window.get());
    connect(quit, &QShortcut::activated, qApp, &QApplication::quit);
    return QApplication::exec();
}
