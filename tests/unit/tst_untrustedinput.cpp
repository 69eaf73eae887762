#include "FakeTools.h"
#include "MaliciousBackup.h"
#include "MountPath.h"
#include "TarListing.h"
#include "tasks/ArchiveCheck.h"
#include "tasks/ArchiveExtract.h"
#include "tasks/Task.h"

#include <QDirIterator>
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

// Every entry below dir, as "name" or "name -> target": what an extraction may not change outside its directory.
QStringList treeOf(const QString& dir)
{
    QStringList entries;
    QDirIterator it(dir, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        entries.append(info.filePath().mid(dir.size()) + (info.isSymLink() ? " -> " + info.symLinkTarget() : ""));
    }
    entries.sort();
    return entries;
}

} // namespace

Q_DECLARE_METATYPE(LiveTest::TarMember)

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
    void insideARoot_data();
    void insideARoot();
    void pathsAsTheInstalledSystemSeesThem_data();
    void pathsAsTheInstalledSystemSeesThem();
    void extractionStaysInItsDirectory_data();
    void extractionStaysInItsDirectory();
    void extractionKeepsWhatTarKept();
    void linkedOptIsRemovedNotFollowed();
    void archiveEndsWhole_data();
    void archiveEndsWhole();
    void membersThatAreNotPlain_data();
    void membersThatAreNotPlain();
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
    // Named like the mount point with more after it: outside, though its path starts with the mount point's.
    QTest::newRow("link into a sibling named alike") << "/sibling-link/x"
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
    QVERIFY(QDir().mkpath(mount + "-other") && makeLink("../mnt-other", mount + "/sibling-link"));
    const QString canonicalMount = QFileInfo(mount).canonicalFilePath();
    const QString expected = resolved == "!" ? QString() : canonicalMount + resolved;
    QCOMPARE(MountPath::resolveInside(mount, relative), expected);
    QCOMPARE(MountPath::resolveInside(QString(), relative), QString());
}

void TestUntrustedInput::insideARoot_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("root");
    QTest::addColumn<bool>("inside");
    QTest::newRow("the root itself") << "/mnt/a"
                                     << "/mnt/a" << true;
    QTest::newRow("below it") << "/mnt/a/var/b"
                              << "/mnt/a" << true;
    QTest::newRow("root with a slash at the end") << "/mnt/a/b"
                                                  << "/mnt/a/" << true;
    QTest::newRow("below /") << "/etc"
                             << "/" << true;
    // The canonical path of a directory that does not exist.
    QTest::newRow("empty root") << "/mnt/a/b"
                                << "" << false;
    QTest::newRow("empty path") << ""
                                << "/" << false;
    QTest::newRow("a longer name beside it") << "/mnt/ab"
                                             << "/mnt/a" << false;
    QTest::newRow("above it") << "/mnt"
                              << "/mnt/a" << false;
    QTest::newRow("relative") << "mnt/a/b"
                              << "mnt/a" << false;
}

void TestUntrustedInput::insideARoot()
{
    QFETCH(QString, path);
    QFETCH(QString, root);
    QFETCH(bool, inside);
    QCOMPARE(MountPath::isInside(path, root), inside);
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
    QTest::addColumn<QString>("planted");
    QTest::newRow("directory -P, absolute member") << "-P"
                                                   << "absolute" << QString();
    QTest::newRow("opt, absolute member") << "opt"
                                          << "absolute" << QString();
    QTest::newRow("opt, dot-dot member") << "opt"
                                         << "dotdot" << QString();
    QTest::newRow("the staging name planted as a link") << "opt"
                                                        << "plain"
                                                        << ".marlin-extract-opt";
    QTest::newRow("the target planted as a link") << "opt"
                                                  << "plain"
                                                  << "opt";
}

// Whatever an archive holds and whatever the partition holds already, nothing is written outside the directory,
// and what was planted on the partition stays as it was.
void TestUntrustedInput::extractionStaysInItsDirectory()
{
    QFETCH(QString, directory);
    QFETCH(QString, memberKind);
    QFETCH(QString, planted);
    QTemporaryDir work;
    const QString victim = work.filePath("live-root/etc/victim");
    const QString parent = work.filePath("partition/");
    QVERIFY(QDir().mkpath(parent) && QDir().mkpath(QFileInfo(victim).absolutePath()));
    if (!planted.isEmpty()) {
        QVERIFY(makeLink(QFileInfo(victim).absolutePath(), parent + planted));
    }
    const QString archive = work.filePath("opt.tar");
    const QString relativeToParent = "opt/" + QString("../").repeated(6) + victim.mid(1);
    const QString hostile =
        memberKind == "absolute" ? victim : (memberKind == "dotdot" ? relativeToParent : "opt/app/victim");
    QVERIFY(LiveTest::MaliciousBackup::writeArchive(
        archive, LiveTest::MaliciousBackup::dataInfo("u", directory),
        {{"opt/", {}, {}, '5'}, {"opt/app/ok.txt", "ok\n", QString()}, {hostile, "overwritten\n", QString()}}));
    const QStringList before = treeOf(work.filePath("live-root"));
    QString why;
    QVERIFY(!ArchiveExtract::extract(archive, parent, directory, why));
    QCOMPARE(treeOf(work.filePath("live-root")), before);
    QCOMPARE(QFileInfo(parent + "opt").isSymLink(), planted == "opt");
}

// A shell line's standard output; empty when it fails.
QByteArray shell(const QString& line)
{
    QProcess process;
    process.start("sh", {"-ec", line});
    const bool ok =
        process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    return ok ? process.readAllStandardOutput() : QByteArray();
}

// Owners by number, modes, times, links, extended attributes and ACLs come back as the backup's tar kept them.
void TestUntrustedInput::extractionKeepsWhatTarKept()
{
    QTemporaryDir work;
    const QString script = "cd '" + work.path() +
                           "'; mkdir -p src/var/lib/app dst; echo UUID=u > src/datainfo;"
                           "echo hi > src/var/lib/app/f; ln src/var/lib/app/f src/var/lib/app/g;"
                           "ln -s /run src/var/run; chown 1234:4321 src/var/lib/app/f; chmod 2750 src/var/lib/app;"
                           "setfattr -n user.k -v v src/var/lib/app/f; setfacl -m u:33:rwx src/var/lib/app/f;"
                           "setfacl -m u:33:rx -d -m g:44:rwx src/var/lib/app; touch -d 2001-01-01 src/var/lib/app;"
                           "tar --xattrs --xattrs-include='*' -cpf a.tar -C src datainfo var";
    QVERIFY(!shell(script + "; echo made").isEmpty());
    QString why;
    QVERIFY2(ArchiveExtract::extract(work.filePath("a.tar"), work.filePath("dst"), "var", why), qPrintable(why));
    const QString facts = "cd '" + work.path() +
                          "/%1/var'; find . -printf '%p %U %G %m %l %T@ %n\\n' | sort;"
                          "getfattr -h -d -m - -R . | sort; getfacl -n -R . | sort";
    const QByteArray source = shell(facts.arg("src"));
    QVERIFY(source.contains("user:33:rwx") && source.contains("default:group:44:rwx") && source.contains("1234"));
    QCOMPARE(shell(facts.arg("dst")), source);
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

void TestUntrustedInput::archiveEndsWhole_data()
{
    // The hand-made archive's blocks: datainfo 0-1, var/log/wtmp (zero bytes) 2-4, var/a 5-6, the marker 7-8.
    QTest::addColumn<int>("blocks");
    QTest::addColumn<QByteArray>("tail");
    QTest::addColumn<bool>("whole");
    QTest::newRow("whole") << 9 << QByteArray() << true;
    QTest::newRow("padded to a record") << 9 << QByteArray(10240 - 9 * 512, '\0') << true;
    // The two blocks before the cut are wtmp's zero data: only tar's own reading tells them from the marker.
    QTest::newRow("cut at a member header") << 5 << QByteArray() << false;
    QTest::newRow("cut after the last member") << 7 << QByteArray() << false;
    QTest::newRow("one block of the marker") << 8 << QByteArray() << false;
    QTest::newRow("data after the marker") << 9 << QByteArray(512, 'x') << false;
}

void TestUntrustedInput::archiveEndsWhole()
{
    QFETCH(int, blocks);
    QFETCH(QByteArray, tail);
    QFETCH(bool, whole);
    FakeTools tools({"sudo"});
    tools.setBehaviour("sudo", "--exec");
    QTemporaryDir work;
    const QString archive = work.filePath("var.tar");
    QVERIFY(LiveTest::MaliciousBackup::writeArchive(
        archive, LiveTest::MaliciousBackup::dataInfo("u", "var"),
        {{"var/log/wtmp", QByteArray(768, '\0'), QString()}, {"var/a", "a\n", QString()}}));
    QFile file(archive);
    QVERIFY(file.open(QIODevice::ReadWrite) && file.size() == 9 * 512);
    QVERIFY(file.resize(blocks * 512) && file.seek(file.size()) && file.write(tail) == tail.size());
    file.close();
    QStringList members;
    QCOMPARE(TarListing::listWhole(archive, members), whole);
    if (whole) {
        QCOMPARE(members, (QStringList{"datainfo", "var/log/wtmp", "var/a"}));
    }
}

QTEST_GUILESS_MAIN(TestUntrustedInput)
void TestUntrustedInput::membersThatAreNotPlain_data()
{
    using LiveTest::TarMember;
    QTest::addColumn<QList<TarMember>>("members");
    QTest::addColumn<bool>("refused");
    const TarMember var{"var/", {}, {}, '5'};
    const TarMember file{"var/log/x", "x\n", {}};
    QTest::newRow("plain directory, file and links") << QList<TarMember>{var,
                                                                         file,
                                                                         {"var/run", {}, "/run"},
                                                                         {"var/lock", {}, "../run/lock"},
                                                                         {"var/log/y", {}, "var/log/x", '1'}}
                                                     << false;
    QTest::newRow("var a link to itself, then var/escaped")
        << QList<TarMember>{{"var", {}, "."}, {"var/escaped", "out\n", {}}} << true;
    QTest::newRow("a file below a link") << QList<TarMember>{var, {"var/a", {}, "/etc"}, {"var/a/cron", "x", {}}}
                                         << true;
    QTest::newRow("a file below a file") << QList<TarMember>{var, file, {"var/log/x/y", "y", {}}} << true;
    QTest::newRow("hard link out of var") << QList<TarMember>{var, {"var/shadow", {}, "etc/shadow", '1'}} << true;
    QTest::newRow("hard link by ..") << QList<TarMember>{var, {"var/shadow", {}, "var/../etc/shadow", '1'}} << true;
    QTest::newRow("character device") << QList<TarMember>{var, {"var/mem", {}, {}, '3'}} << true;
    QTest::newRow("FIFO") << QList<TarMember>{var, {"var/pipe", {}, {}, '6'}} << true;
}

// Names alone do not tell where an extraction writes: what a member is can lead it out of its directory.
void TestUntrustedInput::membersThatAreNotPlain()
{
    QFETCH(QList<LiveTest::TarMember>, members);
    QFETCH(bool, refused);
    QTemporaryDir dir;
    const QString archive = dir.filePath("var.tar");
    QVERIFY(LiveTest::MaliciousBackup::writeArchive(archive, "UUID=x\nDirectory=var\n", members));
    QString why = ArchiveCheck::firstUnsafeMember(archive, "var");
    QVERIFY2(why.isEmpty() != refused, qPrintable(why));
    // The extraction refuses the same on its own, and writes nothing outside its staging directory.
    const QString parent = dir.filePath("partition");
    QVERIFY(QDir().mkpath(parent + "/etc"));
    QCOMPARE(ArchiveExtract::extract(archive, parent, "var", why), !refused);
    QCOMPARE(treeOf(parent + "/etc"), QStringList());
    const QStringList top = QDir(parent).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    QCOMPARE(top, refused ? (QStringList{".marlin-extract-var", "etc"}) : (QStringList{"etc", "var"}));
    if (!refused) {
        QCOMPARE(treeOf(parent + "/var"),
                 (QStringList{"/lock -> " + parent + "/run/lock", "/log", "/log/x", "/log/y", "/run -> /run"}));
    }
}

#include "tst_untrustedinput.moc"
