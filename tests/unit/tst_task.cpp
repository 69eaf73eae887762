#include "FakeTools.h"
#include "core/ToolPath.h"
#include "tasks/BackupOutput.h"
#include "tasks/BackupTask.h"
#include "tasks/Task.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString JobFailureText = "/recovery/marlin-recovery-service.log";

QList<int> progressValues(const QSignalSpy& spy)
{
    QList<int> values;
    for (const QList<QVariant>& args : spy) {
        values.append(args.constFirst().toInt());
    }
    return values;
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A restore whose recovery partition is a directory of the test's.
class RecordedTask : public Task
{
public:
    explicit RecordedTask(const QString& recovery) : m_recovery(recovery) {}

protected:
    QString recoveryMountPoint() override { return m_recovery; }

private:
    QString m_recovery;
};

QStringList entriesOf(const QString& dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

// A restore whose root is an opened encrypted mapping, as the system restore finds one.
class EncryptedRootTask : public Task
{
public:
    explicit EncryptedRootTask(const QString& mapping) { m_openedMapperPath = mapping; }
};

// Writes its working file with a stand-in of the package's script, found among the fake tools.
class StandInScriptTask : public BackupTask
{
public:
    explicit StandInScriptTask(const QString& writeFile) : BackupTask(QJsonArray(), OpManualBackup)
    {
        m_writeFileScript = writeFile;
    }
};

} // namespace

class TestTask : public QObject
{
    Q_OBJECT

private slots:
    void jobsRunImagesFirstThenByType();
    void archiveJobsReportTheRatio();
    void imageJobScalesTheToolsPercentage();
    void restoreRecord_data();
    void restoreRecord();
    void firstBadJobFailsTheTask();
    void hungJobFailsTheTask();
    void unstartableJobFailsTheTask();
    void emptyJobListFails();
    void compareVersion_data();
    void compareVersion();
    void md5Check();
    void optAndVarRemoval();
    void diskInformationIsWrittenAfresh_data();
    void diskInformationIsWrittenAfresh();
    void encryptedRootIsClosedBeforeItsContainerIsWritten_data();
    void encryptedRootIsClosedBeforeItsContainerIsWritten();
    void backupTakesItsPlaceOnlyWhenComplete_data();
    void backupTakesItsPlaceOnlyWhenComplete();
    void workLeftByAPowerCutIsRemoved();
    void backupRefusedBelowADirectoryOthersCanChange_data();
    void backupRefusedBelowADirectoryOthersCanChange();
    void everyImageIsCheckedBeforeTheFirstWrite_data();
    void everyImageIsCheckedBeforeTheFirstWrite();
};

void TestTask::restoreRecord_data()
{
    QTest::addColumn<int>("toolExit");
    QTest::addColumn<bool>("recordLeft");
    QTest::newRow("succeeded") << 0 << false;
    // The image fails while it is written, after every check passed.
    QTest::newRow("failed") << 1 << true;
}

// Recorded before the first job runs, removed on success alone: a cut-off or failed restore must be offered again.
void TestTask::restoreRecord()
{
    QFETCH(int, toolExit);
    QFETCH(bool, recordLeft);
    QTemporaryDir recovery;
    FakeTools tools({"sudo", "marlin-clone"});
    tools.setBehaviour("sudo", "--exec");
    tools.setBehaviour("marlin-clone", "--exit-if --tui " + QString::number(toolExit));
    RecordedTask task(recovery.path());
    task.setRestoreRequest("SystemRestore", QJsonObject{{"opType", 1}});
    task.addJob("/backup/root.rbk", "/dev/sda3", ImageJob);
    const QString record = recovery.filePath("backup/restore-in-progress.json");
    bool recordedBeforeTheEnd = false;
    connect(&task, &Task::taskFinished, this, [&] { recordedBeforeTheEnd = QFile::exists(record); });
    connect(&task, &Task::failed, this, [&] { recordedBeforeTheEnd = QFile::exists(record); });
    QSignalSpy finished(&task, &Task::taskFinished);
    QSignalSpy failed(&task, &Task::failed);
    task.start();
    QVERIFY(QTest::qWaitFor([&] { return !finished.isEmpty() || !failed.isEmpty(); }, 20000));
    QVERIFY(recordedBeforeTheEnd);
    QCOMPARE(QJsonDocument::fromJson(readFile(record)).object().value("method").toString(), QString("SystemRestore"));
    if (toolExit == 0) {
        Q_EMIT task.finished();
    }
    QCOMPARE(QFile::exists(record), recordLeft);
}

void TestTask::jobsRunImagesFirstThenByType()
{
    FakeTools tools({"sudo", "tar", "marlin-clone", "marlin-archive-extract"});
    tools.setBehaviour("sudo", "--exec");
    Task task;
    task.addJob("/data/var", "/backup/var.tar", ArchiveExtractJob);
    task.addJob("/dev/sda3", "/backup/root.rbk", ImageJob);
    task.addJob("/data/opt", "/backup/opt.tar", ArchiveCreateJob);
    task.addJob("/dev/sda5", "/backup/data.rbk", ImageJob);
    QStringList order;
    for (const Job& job : task.jobs()) {
        order.append(QString::number(job.type) + ":" + job.from);
    }
    QCOMPARE(order, (QStringList{"0:/dev/sda3", "0:/dev/sda5", "1:/data/opt", "2:/data/var"}));

    QSignalSpy finished(&task, &Task::taskFinished);
    task.checkJobs();
    task.start();
    QVERIFY(finished.wait(20000));
    QCOMPARE(tools.calls(), (QStringList{
                                "sudo marlin-clone --tui /dev/sda3 /backup/root.rbk",
                                "marlin-clone --tui /dev/sda3 /backup/root.rbk",
                                "sudo marlin-clone --tui /dev/sda5 /backup/data.rbk",
                                "marlin-clone --tui /dev/sda5 /backup/data.rbk",
                                "sudo tar --xattrs --xattrs-include=* -cpf /backup/opt.tar -C /data/ opt",
                                "tar --xattrs --xattrs-include=* -cpf /backup/opt.tar -C /data/ opt",
                                "sudo marlin-archive-extract -- /data/var /backup/ var.tar",
                                "marlin-archive-extract -- /data/var /backup/ var.tar",
                            }));
    QVERIFY(task.jobs().isEmpty());
}

void TestTask::archiveJobsReportTheRatio()
{
    FakeTools tools({"sudo", "tar"});
    tools.setBehaviour("sudo", "--exec");
    Task task;
    task.addJob("/mnt/data/opt", "/backup/opt.tar", ArchiveCreateJob);
    task.addJob("/mnt/data/var", "/backup/var.tar", ArchiveCreateJob);
    task.addJob("/mnt/data/var/lib", "/backup/var.tar", ArchiveAppendJob);
    QSignalSpy progress(&task, &Task::progressChanged);
    QSignalSpy finished(&task, &Task::taskFinished);
    QSignalSpy failed(&task, &Task::failed);
    task.start();
    QVERIFY(finished.wait(20000));
    QCOMPARE(progressValues(progress), (QList<int>{66, 132, 99}));
    QVERIFY(failed.isEmpty());
    QCOMPARE(tools.calls().last(),
             QString("tar --xattrs --xattrs-include=* -rpf /backup/var.tar -C /mnt/data/var/ lib"));
}

void TestTask::imageJobScalesTheToolsPercentage()
{
    FakeTools tools({"sudo", "tar", "marlin-clone"});
    tools.setBehaviour("sudo", "--env --exec");
    tools.setBehaviour("marlin-clone", "--out 'Elapsed: 00:00:09 Completed: 45.73%'");
    Task task;
    task.addJob("/dev/sda3", "/backup/root.rbk", ImageJob);
    task.addJob("/mnt/data/opt", "/backup/opt.tar", ArchiveCreateJob);
    QSignalSpy progress(&task, &Task::progressChanged);
    QSignalSpy finished(&task, &Task::taskFinished);
    task.start();
    QVERIFY(finished.wait(20000));
    const QList<int> values = progressValues(progress);
    QVERIFY2(values.size() >= 2, qPrintable(QString::number(values.size())));
    // 45.7 (four characters of "45.73%") scaled by 2 x 1/2, then 198 before the archive job.
    QCOMPARE(values.at(values.size() - 2), 46);
    QCOMPARE(values.last(), 198);

    // The job runs with nothing but LC_ALL=C and the tools' search list as PATH in its environment.
    QFile env(tools.dir() + "/sudo.env");
    QVERIFY(env.open(QIODevice::ReadOnly));
    const QStringList variables = QString::fromUtf8(env.readAll()).split('\n', Qt::SkipEmptyParts);
    QVERIFY(variables.contains("LC_ALL=C"));
    QVERIFY(variables.contains("PATH=" + ToolPath::childPath()));
    QVERIFY(!variables.filter(QRegularExpression("^(HOME|USER|LANG)=")).size());
}

void TestTask::firstBadJobFailsTheTask()
{
    FakeTools tools({"sudo", "tar", "marlin-clone"});
    tools.setBehaviour("sudo", "--exec");
    tools.setBehaviour("marlin-clone", "--err 'write error' --exit 1");
    Task task;
    task.addJob("/dev/sda3", "/backup/root.rbk", ImageJob);
    task.addJob("/dev/sda5", "/backup/data.rbk", ImageJob);
    task.addJob("/mnt/data/opt", "/backup/opt.tar", ArchiveCreateJob);
    QSignalSpy failed(&task, &Task::failed);
    QSignalSpy finished(&task, &Task::taskFinished);
    task.start();
    QVERIFY(failed.wait(20000));
    QCOMPARE(failed.size(), 1);
    QCOMPARE(failed.constFirst().constFirst().toString(), JobFailureText);
    QVERIFY(task.isError());
    QCOMPARE(task.jobs().size(), 3);
    // Nothing more runs, not even on a later start().
    task.start();
    QTest::qWait(200);
    QCOMPARE(tools.calls().size(), 2);
    QVERIFY(finished.isEmpty());
    QCOMPARE(failed.size(), 1);
}

void TestTask::hungJobFailsTheTask()
{
    FakeTools tools({"sudo", "tar"});
    tools.setBehaviour("sudo", "--exec");
    tools.setBehaviour("tar", "--hang");
    Task task;
    task.setJobTimeLimit(std::chrono::seconds(1));
    task.addJob("/mnt/data/opt", "/backup/opt.tar", ArchiveCreateJob);
    QSignalSpy failed(&task, &Task::failed);
    task.start();
    QVERIFY(failed.wait(20000));
    QCOMPARE(failed.constFirst().constFirst().toString(), JobFailureText);
    QVERIFY(task.isError());
}

void TestTask::unstartableJobFailsTheTask()
{
    ToolPath::setSearchPath({"/nonexistent"});
    Task task;
    task.addJob("/mnt/data/opt", "/backup/opt.tar", ArchiveCreateJob);
    QSignalSpy failed(&task, &Task::failed);
    task.start();
    ToolPath::setSearchPath({});
    QVERIFY(failed.size() == 1 || failed.wait(10000));
    QCOMPARE(failed.constFirst().constFirst().toString(), JobFailureText);
}

void TestTask::emptyJobListFails()
{
    Task task;
    QSignalSpy failed(&task, &Task::failed);
    task.checkJobs();
    QCOMPARE(failed.size(), 1);
    QCOMPARE(failed.constFirst().constFirst().toString(), QString("Failed to initialize the task"));
    QVERIFY(task.isError());
    task.checkJobs();
    QCOMPARE(failed.size(), 1);
}

void TestTask::compareVersion_data()
{
    QTest::addColumn<QString>("ver1");
    QTest::addColumn<QString>("ver2");
    QTest::addColumn<bool>("result");
    QTest::newRow("text order, not numbers") << "20"
                                             << "1030" << false;
    QTest::newRow("equal first parts") << "1030.1"
                                       << "1030" << true;
    QTest::newRow("older") << "1020"
                           << "1030.2" << true;
    QTest::newRow("blanks simplified") << " 1030 "
                                       << "1030" << true;
    QTest::newRow("empty first") << ""
                                 << "1030" << false;
    QTest::newRow("empty second") << "1030"
                                  << "" << false;
}

void TestTask::compareVersion()
{
    QFETCH(QString, ver1);
    QFETCH(QString, ver2);
    QFETCH(bool, result);
    Task task;
    QCOMPARE(task.compareVersion(ver1, ver2), result);
}

void TestTask::md5Check()
{
    QTemporaryDir dir;
    // Paths with blanks are used as they are.
    const QString image = dir.filePath("backup dir/system.rbk");
    QVERIFY(QDir(dir.path()).mkpath("backup dir"));
    QVERIFY(writeFile(image, "partition image bytes"));
    const QString md5File = image.left(image.size() - 4) + ".md5";
    Task task;
    QVERIFY(writeFile(md5File, "0d6b1ab42a9b7e1f4e7a5bb0ec2c4a4a  " + image.toUtf8() + "\n"));
    QVERIFY(!task.checkMD5(image, md5File));
    QVERIFY(writeFile(md5File, QCryptographicHash::hash("partition image bytes", QCryptographicHash::Md5).toHex() +
                                   "  " + image.toUtf8() + "\n"));
    QVERIFY(task.checkMD5(image, md5File));
    QVERIFY(!task.checkMD5(image, dir.filePath("missing.md5")));
    QVERIFY(!task.checkMD5(dir.filePath("missing.rbk"), md5File));
    // Only a small regular file is read as a checksum: a link to one (or to a secret), or a large file, is none, and
    // nothing of what it points to reaches the log.
    const QString link = dir.filePath("link.md5");
    QVERIFY(QFile::link(md5File, link));
    QVERIFY(!task.checkMD5(image, link));
    const QString secret = dir.filePath("shadow");
    QVERIFY(writeFile(secret, "root:$6$secret-hash:19000:0:99999:7:::\n"));
    QVERIFY(QFile::remove(link) && QFile::link(secret, link));
    QTest::failOnWarning(QRegularExpression("secret-hash"));
    QVERIFY(!task.checkMD5(image, link));
    const QByteArray digest = readFile(md5File);
    QVERIFY(writeFile(md5File, digest + QByteArray(2048, ' ')));
    QVERIFY(!task.checkMD5(image, md5File));
}

void TestTask::optAndVarRemoval()
{
    FakeTools tools({"sudo", "chattr", "rm"});
    Task task;
    task.deleteOptAndVar("/media/root/data dir");
    QCOMPARE(tools.calls(),
             (QStringList{"sudo chattr -R -i -- /media/root/data\\ dir/opt",
                          "sudo chattr -R -i -- /media/root/data\\ dir/var",
                          "sudo rm -rf -- /media/root/data\\ dir/opt", "sudo rm -rf -- /media/root/data\\ dir/var"}));
}

void TestTask::diskInformationIsWrittenAfresh_data()
{
    const QString writeFile = "write-file";
    QTest::addColumn<QString>("sudo");
    QTest::addColumn<bool>("stored");
    QTest::addColumn<bool>("toolCalled");
    QTest::newRow("written and stored") << "--write DiskInfo UUID=new" << true << true;
    QTest::newRow("the working file cannot be written") << "--exit-if " + writeFile + " 1" << false << false;
    QTest::newRow("the tool cannot store it") << "--write DiskInfo UUID=new --exit-if marlin-clone 1" << false << true;
}

void TestTask::diskInformationIsWrittenAfresh()
{
    QFETCH(QString, sudo);
    QFETCH(bool, stored);
    QFETCH(bool, toolCalled);
    FakeTools tools({"sudo", "marlin-clone", "write-file"});
    tools.setBehaviour("sudo", sudo);
    QTemporaryDir work;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(work.path());
    // What the image before left: it must never go into this one.
    QVERIFY(writeFile("DiskInfo", "UUID=previous-image\n"));
    StandInScriptTask task(tools.dir() + "/write-file");
    const bool answer = task.writeDiskInfo("/backups/b/data.rbk", "UUID=new\\nVersion=1.1");
    const bool leftOver = QFile::exists("DiskInfo");
    QDir::setCurrent(previous);
    QCOMPARE(answer, stored);
    QVERIFY(!leftOver);
    const QStringList calls = tools.calls();
    QVERIFY(calls.constFirst().startsWith("sudo write-file DiskInfo "));
    QCOMPARE(calls.contains("sudo marlin-clone --write-custom-file rbk:///backups/b/data.rbk/DiskInfo DiskInfo"),
             toolCalled);
}

void TestTask::encryptedRootIsClosedBeforeItsContainerIsWritten_data()
{
    QTest::addColumn<QString>("cryptsetup");
    QTest::newRow("closed") << "--exit 0";
    QTest::newRow("cannot be closed") << "--err 'Device luks-1 is still in use.' --exit 5";
}

void TestTask::encryptedRootIsClosedBeforeItsContainerIsWritten()
{
    QFETCH(QString, cryptsetup);
    FakeTools tools({"sudo", "marlin-clone", "cryptsetup"});
    tools.setBehaviour("sudo", "--exec");
    tools.setBehaviour("cryptsetup", cryptsetup);
    EncryptedRootTask task("/dev/mapper/luks-1");
    task.addJob("/recovery/backup/system.rbk", "/dev/sdz3", ImageJob);
    QSignalSpy finished(&task, &Task::taskFinished);
    QSignalSpy failed(&task, &Task::failed);
    task.start();
    QVERIFY(QTest::qWaitFor([&]() { return !finished.isEmpty() || !failed.isEmpty(); }, 20000));
    const QStringList calls = tools.calls().filter(QRegularExpression("^(cryptsetup|sudo marlin-clone|marlin-clone) "));
    QCOMPARE(calls.constFirst(), QString("cryptsetup close /dev/mapper/luks-1"));
    const bool closed = cryptsetup == "--exit 0";
    // Checked and written only once the mapping is gone; never when it could not be closed.
    QCOMPARE(calls.size(), closed ? 5 : 1);
    QCOMPARE(finished.size(), closed ? 1 : 0);
    QCOMPARE(failed.size(), closed ? 0 : 1);
    if (closed) {
        QCOMPARE(calls.at(1), QString("sudo marlin-clone --verify-restore /recovery/backup/system.rbk /dev/sdz3"));
        QCOMPARE(calls.at(3), QString("sudo marlin-clone --tui /recovery/backup/system.rbk /dev/sdz3"));
    }
}

// A directory above the backup that another account can change could have what is built below it swapped for a
// link: refused, and nothing is made.
void TestTask::backupRefusedBelowADirectoryOthersCanChange_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("writable by all") << "mode";
    QTest::newRow("owned by another account") << "owner";
}

void TestTask::backupRefusedBelowADirectoryOthersCanChange()
{
    QFETCH(QString, how);
    QTemporaryDir mount;
    const QString shared = mount.filePath("shared");
    QVERIFY(QDir().mkpath(shared));
    if (how == "mode") {
        QVERIFY(::chmod(QFile::encodeName(shared).constData(), 01777) == 0);
    } else {
        QVERIFY(::chown(QFile::encodeName(shared).constData(), 65534, 65534) == 0);
    }
    BackupOutput output;
    QVERIFY(!output.open(mount.path(), "shared/backups/b"));
    QCOMPARE(output.lastError(), EPERM);
    QCOMPARE(entriesOf(shared), QStringList());
}

void TestTask::everyImageIsCheckedBeforeTheFirstWrite_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QString>("failure");
    QTest::newRow("both pass") << "--exit 0" << QString();
    QTest::newRow("the second target refused")
        << "--exit-if /dev/sdz3 4"
        << "The restore cannot write /dev/sdz3: it is missing, in use or too small. "
           "Nothing was written.";
    QTest::newRow("the second image damaged") << "--exit-if /backup/system.rbk 1"
                                              << "damaged";
}

void TestTask::everyImageIsCheckedBeforeTheFirstWrite()
{
    QFETCH(QString, tool);
    QFETCH(QString, failure);
    FakeTools tools({"sudo", "marlin-clone"});
    tools.setBehaviour("sudo", "--exec");
    tools.setBehaviour("marlin-clone", tool);
    Task task;
    task.addJob("/backup/data.rbk", "/dev/sdz5", ImageJob);
    task.addJob("/backup/system.rbk", "/dev/sdz3", ImageJob);
    QSignalSpy finished(&task, &Task::taskFinished);
    QSignalSpy failed(&task, &Task::failed);
    const bool checked = task.checkImageJobs("damaged");
    QCOMPARE(checked, failure.isEmpty());
    task.start();
    QVERIFY(QTest::qWaitFor([&]() { return !finished.isEmpty() || !failed.isEmpty(); }, 20000));
    QCOMPARE(failed.isEmpty() ? QString() : failed.constFirst().constFirst().toString(), failure);
    const QStringList calls = tools.calls().filter(QRegularExpression("^marlin-clone"));
    const QStringList checks{"marlin-clone --verify-restore /backup/data.rbk /dev/sdz5",
                             "marlin-clone --verify-restore /backup/system.rbk /dev/sdz3"};
    // Both checked once, before the first write; nothing written after a refusal.
    QCOMPARE(calls.mid(0, 2), checks);
    QCOMPARE(calls.size(), failure.isEmpty() ? 4 : 2);
}

void TestTask::backupTakesItsPlaceOnlyWhenComplete_data()
{
    QTest::addColumn<bool>("older");
    QTest::addColumn<bool>("complete");
    QTest::newRow("new directory, complete") << false << true;
    QTest::newRow("new directory, failed") << false << false;
    QTest::newRow("over an older backup, complete") << true << true;
    QTest::newRow("over an older backup, failed") << true << false;
}

// Under its name there is the older backup (or nothing) until the new one is complete, then the new one alone; a
// failed one leaves nothing of its own, and the person's own files in the directory stay.
void TestTask::backupTakesItsPlaceOnlyWhenComplete()
{
    QFETCH(bool, older);
    QFETCH(bool, complete);
    QTemporaryDir mount;
    const QString backup = mount.filePath("backups/b");
    if (older) {
        QVERIFY(QDir().mkpath(backup));
        for (const QString& name : {QString("old.rbk"), QString("old.rbk.md5"), QString("notes.txt")}) {
            QVERIFY(writeFile(backup + "/" + name, name.toUtf8()));
        }
    }
    const QStringList before = entriesOf(backup);
    {
        BackupOutput output;
        QVERIFY(output.open(mount.path(), "backups/b"));
        QCOMPARE(output.finalPath(), backup);
        const int fd = output.createTemporary("opt.tar");
        QVERIFY(fd >= 0 && ::write(fd, "archive", 7) == 7);
        QVERIFY(output.placeTemporary("opt.tar") && output.writeChecksum("opt.tar"));
        QCOMPARE(entriesOf(backup), before);
        if (complete) {
            QVERIFY(output.commit());
        } else {
            output.discard();
        }
    }
    // Nothing of a failed run stays, not even the directories made for it.
    QCOMPARE(entriesOf(mount.path()), older || complete ? QStringList{"backups"} : QStringList());
    QCOMPARE(entriesOf(mount.filePath("backups")), older || complete ? QStringList{"b"} : QStringList());
    if (!complete) {
        QCOMPARE(entriesOf(backup), before);
        return;
    }
    QCOMPARE(entriesOf(backup),
             older ? (QStringList{"notes.txt", "opt.tar", "opt.tar.md5"}) : (QStringList{"opt.tar", "opt.tar.md5"}));
    QVERIFY(!(QFileInfo(backup).permissions() & QFile::WriteOther));
    const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther;
    QCOMPARE(QFile::permissions(backup + "/opt.tar") & others, QFile::Permissions());
    QProcess md5sum;
    md5sum.start("md5sum", {"-c", backup + "/opt.tar.md5"});
    QVERIFY(md5sum.waitForFinished(10000));
    QCOMPARE(md5sum.exitCode(), 0);
}

// The private working directory of a backup cut off goes with the next backup to the same place; an older backup
// stepped aside (opened up already) and what is not a working directory stay.
void TestTask::workLeftByAPowerCutIsRemoved()
{
    QTemporaryDir mount;
    const QString backups = mount.filePath("backups");
    const QStringList kept{".b.new-0000000b", ".b.new-notmine", ".c.new-0000000c"};
    for (const QString& dir : kept + QStringList{".b.new-0000000a"}) {
        QVERIFY(QDir().mkpath(backups + "/" + dir) && writeFile(backups + "/" + dir + "/system.rbk", "part"));
        QVERIFY(::chmod(QFile::encodeName(backups + "/" + dir).constData(), dir == ".b.new-0000000b" ? 0755 : 0700) ==
                0);
    }
    BackupOutput output;
    QVERIFY(output.open(mount.path(), "backups/b"));
    QVERIFY(output.commit());
    QCOMPARE(entriesOf(backups), QStringList(kept + QStringList{"b"}));
}

QTEST_GUILESS_MAIN(TestTask)
#include "tst_task.moc"
