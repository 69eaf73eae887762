#include "MaliciousBackup.h"
#include "MountPath.h"
#include "tasks/ArchiveCheck.h"
#include "tasks/Task.h"

#include <QProcess>
#include <QtTest>

// What the service makes of names it did not choose: archive members and their datainfo, paths below a mount point,
// and how tar runs on a hostile archive with the arguments the restore gives it.
namespace {

using LiveTest::TarMember;

bool makeLink(const QString& target, const QString& link)
{
    return QFile::link(target, link);
}

// Runs tar as the extract job would (without sudo); true when it exited with 0.
bool extract(const QString& archive, const QString& parent, const QString& directory)
{
    const QStringList args = ArchiveCheck::extractArguments(archive, parent, directory);
    QProcess tar;
    tar.start(args.constFirst(), args.mid(1));
    return tar.waitForFinished(30000) && tar.exitStatus() == QProcess::NormalExit && tar.exitCode() == 0;
}

} // namespace

class TestUntrustedInput : public QObject
{
    Q_OBJECT

private slots:
    void members_data();
    void members();
    void dataInfoValues_data();
    void dataInfoValues();
    void pathsInsideAMount_data();
    void pathsInsideAMount();
    void pathsAsTheInstalledSystemSeesThem_data();
    void pathsAsTheInstalledSystemSeesThem();
    void extractionStaysInItsDirectory_data();
    void extractionStaysInItsDirectory();
    void linkedOptIsRemovedNotFollowed();
};

void TestUntrustedInput::members_data()
{
    QTest::addColumn<QString>("member");
    QTest::addColumn<QString>("directory");
    QTest::addColumn<bool>("inside");
    QTest::newRow("the directory") << "opt/"
                                   << "opt" << true;
    QTest::newRow("a file in it") << "opt/app/bin/tool"
                                  << "opt" << true;
    QTest::newRow("datainfo") << "datainfo"
                              << "var" << true;
    QTest::newRow("absolute") << "/etc/passwd"
                              << "opt" << false;
    QTest::newRow("absolute in the directory's name") << "/opt/x"
                                                      << "opt" << false;
    QTest::newRow("dot-dot inside") << "opt/../etc/passwd"
                                    << "opt" << false;
    QTest::newRow("dot-dot at the end") << "var/lib/.."
                                        << "var" << false;
    QTest::newRow("the other directory") << "var/lib/x"
                                         << "opt" << false;
    QTest::newRow("name prefix") << "optx/y"
                                 << "opt" << false;
    QTest::newRow("dot first") << "./opt/x"
                               << "opt" << false;
    QTest::newRow("directory not restorable") << "etc/passwd"
                                              << "etc" << false;
    QTest::newRow("directory an option") << "-P"
                                         << "-P" << false;
    QTest::newRow("dots in a name are fine") << "opt/..hidden/a..b"
                                             << "opt" << true;
}

void TestUntrustedInput::members()
{
    QFETCH(QString, member);
    QFETCH(QString, directory);
    QFETCH(bool, inside);
    QCOMPARE(ArchiveCheck::memberStaysInside(member, directory), inside);
    const QStringList members{"datainfo", directory + "/", member};
    QCOMPARE(ArchiveCheck::firstStrayMember(members, directory).isEmpty(),
             inside && ArchiveCheck::isRestorableDirectory(directory));
}

void TestUntrustedInput::dataInfoValues_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("uuid");
    QTest::addColumn<QString>("directory");
    QTest::newRow("as written by a backup") << "UUID=1234-abcd\nDirectory=opt\n"
                                            << "1234-abcd"
                                            << "opt";
    QTest::newRow("option as directory") << "UUID=1234-abcd\nDirectory=-P\n"
                                         << "1234-abcd"
                                         << "-P";
    QTest::newRow("said twice alike") << "UUID=u\nDirectory=var\nDirectory=var\n"
                                      << "u"
                                      << "var";
    QTest::newRow("said twice differently") << "UUID=u\nDirectory=var\nDirectory=../x\n"
                                            << "u" << QString();
    QTest::newRow("key inside another line") << "XUUID=u\nNoDirectory=opt\n" << QString() << QString();
    QTest::newRow("empty") << "" << QString() << QString();
}

void TestUntrustedInput::dataInfoValues()
{
    QFETCH(QString, text);
    QFETCH(QString, uuid);
    QFETCH(QString, directory);
    QCOMPARE(ArchiveCheck::dataInfoValue(text, "UUID"), uuid);
    QCOMPARE(ArchiveCheck::dataInfoValue(text, "Directory"), directory);
}

void TestUntrustedInput::pathsInsideAMount_data()
{
    QTest::addColumn<QString>("relative");
    // Relative to the mount point; "!" for a refusal, "@" for the place outside.
    QTest::addColumn<QString>("resolved");
    QTest::newRow("existing directory") << "/backups"
                                        << "/backups";
    QTest::newRow("not there yet") << "/backups/new/deeper"
                                   << "/backups/new/deeper";
    QTest::newRow("the mount point") << ""
                                     << "";
    QTest::newRow("dot") << "/./backups/."
                         << "/backups";
    QTest::newRow("dot-dot") << "/backups/../../etc"
                             << "!";
    QTest::newRow("dot-dot not yet there") << "/new/../x"
                                           << "!";
    QTest::newRow("link inside") << "/inside-link/x"
                                 << "/backups/x";
    QTest::newRow("absolute link out") << "/out-link/x"
                                       << "!";
    QTest::newRow("relative link out") << "/backups/up-link"
                                       << "!";
    QTest::newRow("dangling link") << "/dangling/x"
                                   << "!";
}

void TestUntrustedInput::pathsInsideAMount()
{
    QFETCH(QString, relative);
    QFETCH(QString, resolved);
    QTemporaryDir work;
    const QString mount = work.filePath("mnt");
    const QString outside = work.filePath("outside");
    QVERIFY(QDir().mkpath(mount + "/backups") && QDir().mkpath(outside));
    QVERIFY(makeLink("backups", mount + "/inside-link"));
    QVERIFY(makeLink(outside, mount + "/out-link"));
    QVERIFY(makeLink("../../outside", mount + "/backups/up-link"));
    QVERIFY(makeLink(mount + "/nothing-here", mount + "/dangling"));
    const QString canonicalMount = QFileInfo(mount).canonicalFilePath();
    const QString expected = resolved == "!" ? QString() : canonicalMount + resolved;
    QCOMPARE(MountPath::resolveInside(mount, relative), expected);
    QCOMPARE(MountPath::resolveInside(QString(), relative), QString());
}

void TestUntrustedInput::pathsAsTheInstalledSystemSeesThem_data()
{
    QTest::addColumn<QString>("link");
    QTest::addColumn<QString>("resolved");
    QTest::newRow("absolute") << "/usr/lib/os-version"
                              << "/usr/lib/os-version";
    QTest::newRow("relative") << "../usr/lib/os-version"
                              << "/usr/lib/os-version";
    QTest::newRow("above the root stays at it") << "../../../../usr/lib/os-version"
                                                << "/usr/lib/os-version";
    QTest::newRow("through a linked directory") << "/lib/os-version"
                                                << "/usr/lib/os-version";
    QTest::newRow("to another link") << "os-version.link"
                                     << "/usr/lib/os-version";
    QTest::newRow("not there yet") << "/usr/share/missing/file"
                                   << "/usr/share/missing/file";
    QTest::newRow("loop") << "/etc/loop"
                          << "!";
}

void TestUntrustedInput::pathsAsTheInstalledSystemSeesThem()
{
    QFETCH(QString, link);
    QFETCH(QString, resolved);
    QTemporaryDir root;
    QVERIFY(QDir().mkpath(root.filePath("etc")) && QDir().mkpath(root.filePath("usr/lib")));
    QVERIFY(makeLink("usr/lib", root.filePath("lib")));
    QVERIFY(makeLink("/usr/lib/os-version", root.filePath("etc/os-version.link")));
    QVERIFY(makeLink("loop", root.filePath("etc/loop")));
    QVERIFY(makeLink(link, root.filePath("etc/os-version")));
    const QString expected = resolved == "!" ? QString() : root.path() + resolved;
    QCOMPARE(MountPath::resolveInRoot(root.path(), "/etc/os-version"), expected);
    QCOMPARE(MountPath::resolveInRoot(root.path() + "/", "etc/os-version"), expected);
    QCOMPARE(MountPath::resolveInRoot(root.path(), "/etc"), root.path() + "/etc");
    QCOMPARE(MountPath::resolveInRoot(QString(), "/etc/os-version"), QString());
}

void TestUntrustedInput::extractionStaysInItsDirectory_data()
{
    QTest::addColumn<QString>("directory");
    QTest::addColumn<QString>("memberKind");
    QTest::newRow("directory -P, absolute member") << "-P"
                                                   << "absolute";
    QTest::newRow("directory --absolute-names") << "--absolute-names"
                                                << "absolute";
    QTest::newRow("opt, absolute member") << "opt"
                                          << "absolute";
    QTest::newRow("opt, dot-dot member") << "opt"
                                         << "dotdot";
}

// Even if a hostile archive got past the checks, tar run with the job's arguments writes nothing outside.
void TestUntrustedInput::extractionStaysInItsDirectory()
{
    QFETCH(QString, directory);
    QFETCH(QString, memberKind);
    QTemporaryDir work;
    const QString victim = work.filePath("live-root/etc/victim");
    const QString parent = work.filePath("partition/");
    QVERIFY(QDir().mkpath(parent) && QDir().mkpath(QFileInfo(victim).absolutePath()));
    const QString archive = work.filePath("opt.tar");
    const QString relativeToParent = "opt/" + QString("../").repeated(6) + victim.mid(1);
    QVERIFY(LiveTest::MaliciousBackup::writeArchive(
        archive, LiveTest::MaliciousBackup::dataInfo("u", directory),
        {{"opt/app/ok.txt", "ok\n", QString()},
         {memberKind == "absolute" ? victim : relativeToParent, "overwritten\n", QString()}}));
    extract(archive, parent, directory);
    QVERIFY(!QFile::exists(victim));
    if (directory == "opt") {
        QVERIFY(QFile::exists(parent + "opt/app/ok.txt"));
    }
    QCOMPARE(QDir(parent).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             directory == "opt" ? QStringList{"opt"} : QStringList());
}

// A restored opt that is a link (an archive may carry one) goes; what it points to in the live system stays.
void TestUntrustedInput::linkedOptIsRemovedNotFollowed()
{
    QTemporaryDir work;
    const QString mount = work.filePath("partition");
    const QString victim = work.filePath("live-etc");
    QVERIFY(QDir().mkpath(mount + "/var/lib") && QDir().mkpath(victim));
    QFile keep(victim + "/keep");
    QVERIFY(keep.open(QIODevice::WriteOnly) && keep.write("keep\n") == 5);
    keep.close();
    QVERIFY(makeLink(victim, mount + "/opt"));
    Task task;
    task.deleteOptAndVar(mount);
    QVERIFY(QFile::exists(victim + "/keep"));
    QVERIFY(!QFileInfo(mount + "/opt").isSymLink() && !QFileInfo::exists(mount + "/opt"));
    QVERIFY(!QFileInfo::exists(mount + "/var"));
}

QTEST_GUILESS_MAIN(TestUntrustedInput)
#include "tst_untrustedinput.moc"
