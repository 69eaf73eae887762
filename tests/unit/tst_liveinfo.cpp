#include "utils.h"

#include <QtTest>

namespace {

const QString Fixtures = QStringLiteral(MARLIN_FIXTURES_DIR "/");
const QString RootUUID = "5d0c1a6e-7f3b-4a29-9c1e-2b8d7f4e6a10";

QString readFixture(const QString& name)
{
    QFile file(Fixtures + "cmdline/" + name);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

} // namespace

class TestLiveInfo : public QObject
{
    Q_OBJECT

private slots:
    void parsesRecordedCommandLines();
    void rootGivenAsDevicePath();
    void liveType_data();
    void liveType();
    void readsTheRunningSystem();
    void systemLocale_data();
    void systemLocale();
};

void TestLiveInfo::parsesRecordedCommandLines()
{
    CmdLineInfo live;
    Utils::parseCmdLine(readFixture("recovery-live"), live);
    QCOMPARE(live.bootImage, QString("/live/vmlinuz"));
    QCOMPARE(live.boot, QString("live"));
    QCOMPARE(live.toram, QString("filesystem.squashfs"));
    QCOMPARE(live.liveMediaPath, QString("usr/doppel"));
    QCOMPARE(live.rootUUID, RootUUID);
    QVERIFY(live.unionType.isEmpty());
    QVERIFY(live.bootFrom.isEmpty());

    CmdLineInfo media;
    Utils::parseCmdLine(readFixture("recovery-media"), media);
    // The last parameter of the line keeps no newline.
    QCOMPARE(media.bootFrom, QString("/dev/sdb1"));
    QCOMPARE(media.liveMediaPath, QString("recovery_live"));

    CmdLineInfo last;
    Utils::parseCmdLine("quiet root=UUID=1234-ABCD\n", last);
    QCOMPARE(last.rootUUID, QString("1234-ABCD"));
}

void TestLiveInfo::rootGivenAsDevicePath()
{
    CmdLineInfo plain;
    Utils::parseCmdLine("root=/nonexistent/sda2 ro", plain);
    QVERIFY(plain.rootUUID.isEmpty());

    QTemporaryDir dir;
    const QString link = dir.filePath("luks_crypt0");
    QVERIFY(QFile::link(dir.filePath("dm-no-such-target"), link));
    CmdLineInfo mapped;
    Utils::parseCmdLine("root=" + link + " ro", mapped);
    QVERIFY(mapped.rootUUID.isEmpty());
}

void TestLiveInfo::liveType_data()
{
    QTest::addColumn<QString>("cmdLine");
    QTest::addColumn<QString>("fstab");
    QTest::addColumn<int>("expected");
    const QString installed = Fixtures + "fstab/installed-system";
    QTest::newRow("recovery live") << readFixture("recovery-live") << installed << 1;
    QTest::newRow("recovery live, any kernel")
        << "BOOT_IMAGE=/boot/vmlinuz-x boot=live toram=filesystem.squashfs live-media-path=usr/doppel"
        << "" << 1;
    QTest::newRow("overlay live") << readFixture("overlay-live") << installed << 2;
    QTest::newRow("overlay from another kernel path") << "BOOT_IMAGE=/casper/vmlinuz boot=live union=overlay"
                                                      << "" << -1;
    QTest::newRow("recovery media") << readFixture("recovery-media") << installed << 3;
    QTest::newRow("recovery media, wrong kernel")
        << "BOOT_IMAGE=/live/vmlinuz boot=live live-media-path=recovery_live" << installed << -1;
    QTest::newRow("live without a known layout") << "boot=live quiet" << installed << -1;
    QTest::newRow("case matters") << "boot=Live toram=filesystem.squashfs live-media-path=usr/doppel" << installed
                                  << -1;
    QTest::newRow("installed system") << readFixture("installed-system") << installed << 0;
    QTest::newRow("root not in fstab") << "root=UUID=0000-1111 ro" << installed << 1;
    QTest::newRow("root mounted elsewhere") << "root=UUID=c7e1d2f3-0a4b-4c5d-8e9f-1a2b3c4d5e6f" << installed << 1;
    QTest::newRow("fstab missing") << readFixture("installed-system") << "/nonexistent/fstab" << -1;
    // The installed root named otherwise than by UUID= and not found on this machine: never the recovery system.
    for (const QString& name : {QString("label"), QString("partuuid"), QString("by-uuid-link")}) {
        QTest::newRow(qPrintable("fstab root by " + name))
            << readFixture("installed-system") << Fixtures + "fstab/root-by-" + name << -1;
    }
    QTest::newRow("neither boot nor root") << "BOOT_IMAGE=/vmlinuz quiet" << installed << -1;
    QTest::newRow("encrypted root path") << readFixture("encrypted-root") << installed << -1;
}

void TestLiveInfo::liveType()
{
    QFETCH(QString, cmdLine);
    QFETCH(QString, fstab);
    QFETCH(int, expected);
    CmdLineInfo info;
    Utils::parseCmdLine(cmdLine, info);
    QCOMPARE(Utils::liveTypeOf(info, fstab), expected);
}

void TestLiveInfo::readsTheRunningSystem()
{
    CmdLineInfo info;
    QVERIFY(Utils::getCmdLineInfo(info));
    QFile cmdline("/proc/cmdline");
    QVERIFY(cmdline.open(QIODevice::ReadOnly));
    CmdLineInfo expected;
    Utils::parseCmdLine(QString::fromUtf8(cmdline.readAll()), expected);
    QCOMPARE(info.boot, expected.boot);
    QCOMPARE(info.rootUUID, expected.rootUUID);
    QCOMPARE(Utils::getLiveType("/etc/fstab"), Utils::liveTypeOf(expected, "/etc/fstab"));
}

void TestLiveInfo::systemLocale_data()
{
    QTest::addColumn<QByteArray>("defaultLocale");
    QTest::addColumn<QByteArray>("installerConf");
    QTest::addColumn<QByteArray>("oldInstallerConf");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QString>("locale");
    QTest::newRow("LANGUAGE wins") << QByteArray("LANG=de_DE.UTF-8\nLANGUAGE=de_DE\n")
                                   << QByteArray("DI_LOCALE=en_US\n") << QByteArray() << true << "de_DE";
    QTest::newRow("empty LANGUAGE goes on")
        << QByteArray("LANGUAGE=\nLANG=de_DE.UTF-8\n") << QByteArray("DI_TIMEZONE=x\nDI_LOCALE=\"zh_CN\"\n")
        << QByteArray() << true << "\"zh_CN\"";
    QTest::newRow("installer first") << QByteArray() << QByteArray("DI_LOCALE=fr_FR\n")
                                     << QByteArray("DI_LOCALE=it_IT\n") << true << "fr_FR";
    QTest::newRow("old installer place") << QByteArray() << QByteArray() << QByteArray("DI_LOCALE=it_IT\n") << true
                                         << "it_IT";
    QTest::newRow("nothing") << QByteArray("LANG=C\n") << QByteArray("DI_TIMEZONE=x\n") << QByteArray() << false
                             << "unchanged";
}

void TestLiveInfo::systemLocale()
{
    QFETCH(QByteArray, defaultLocale);
    QFETCH(QByteArray, installerConf);
    QFETCH(QByteArray, oldInstallerConf);
    QFETCH(bool, found);
    QFETCH(QString, locale);
    QTemporaryDir root;
    if (!defaultLocale.isEmpty()) {
        QVERIFY(writeFile(root.filePath("etc/default/locale"), defaultLocale));
    }
    if (!installerConf.isEmpty()) {
        QVERIFY(writeFile(root.filePath("etc/marlin-installer/marlin-installer.conf"), installerConf));
    }
    if (!oldInstallerConf.isEmpty()) {
        QVERIFY(writeFile(root.filePath("etc/marlin-installer.conf"), oldInstallerConf));
    }
    QString result = "unchanged";
    QCOMPARE(Utils::getSystemLocale(root.path() + "/", result), found);
    QCOMPARE(result, locale);
    QString again = "unchanged";
    QCOMPARE(Utils::getSystemLocale(root.path(), again), found);
    QCOMPARE(again, locale);
    QVERIFY(!Utils::getSystemLocale("", again));
}

QTEST_GUILESS_MAIN(TestLiveInfo)
#include "tst_liveinfo.moc"
