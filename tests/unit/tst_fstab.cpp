#include "FsTab.h"

#include <QtTest>

namespace {

const QString Fixtures = QStringLiteral(MARLIN_FIXTURES_DIR "/fstab/");
const QString RootUUID = "5d0c1a6e-7f3b-4a29-9c1e-2b8d7f4e6a10";
const QString DataUUID = "c7e1d2f3-0a4b-4c5d-8e9f-1a2b3c4d5e6f";
const QString RecoveryUUID = "0b1c2d3e-4f50-4617-8293-a4b5c6d7e8f9";
const QString SwapUUID = "6c7c5569-33ed-45b5-83d4-f658d52f6526";

FSTabInfoList parse(const QByteArray& content)
{
    QTemporaryFile file;
    if (!file.open()) {
        return FSTabInfoList();
    }
    file.write(content);
    file.close();
    return FSTab::getFSTabFromFile(file.fileName());
}

} // namespace

class TestFSTab : public QObject
{
    Q_OBJECT

private slots:
    void lineRecords_data();
    void lineRecords();
    void mirrorsTheFileLineByLine();
    void missingFileIsEmpty();
    void uuidListLeavesOutBindMounts();
    void findByUUID();
    void swapUUID_data();
    void swapUUID();
};

void TestFSTab::lineRecords_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("isComment");
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<QString>("uuid");
    const QStringList unset{"", "", "", "", "0", "0"};
    QTest::newRow("entry") << QByteArray("UUID=abcd / ext4 errors=remount-ro 0 1") << false
                           << QStringList{"UUID=abcd", "/", "ext4", "errors=remount-ro", "0", "1"} << "abcd";
    QTest::newRow("tabs") << QByteArray("UUID=abcd\t/data\text4\tdefaults\t0\t2") << false
                          << QStringList{"UUID=abcd", "/data", "ext4", "defaults", "0", "2"} << "abcd";
    QTest::newRow("repeated blanks") << QByteArray("  UUID=x   /  xfs defaults  0  0 ") << false
                                     << QStringList{"UUID=x", "/", "xfs", "defaults", "0", "0"} << "x";
    QTest::newRow("four fields") << QByteArray("UUID=abcd / ext4 defaults") << false << unset << "";
    QTest::newRow("seven fields") << QByteArray("UUID=abcd / ext4 defaults 0 1 extra") << false << unset << "";
    QTest::newRow("indented comment") << QByteArray("   # comment") << true << unset << "";
    QTest::newRow("equals in uuid") << QByteArray("UUID=a=b / ext4 defaults 0 0") << false
                                    << QStringList{"UUID=a=b", "/", "ext4", "defaults", "0", "0"} << "";
    QTest::newRow("label") << QByteArray("LABEL=Backup /recovery ext4 defaults 0 2") << false
                           << QStringList{"LABEL=Backup", "/recovery", "ext4", "defaults", "0", "2"} << "";
    QTest::newRow("device path") << QByteArray("/dev/sda1 / ext4 defaults 0 1") << false
                                 << QStringList{"/dev/sda1", "/", "ext4", "defaults", "0", "1"} << "";
    QTest::newRow("lower-case uuid key") << QByteArray("uuid=abcd / ext4 defaults 0 1") << false
                                         << QStringList{"uuid=abcd", "/", "ext4", "defaults", "0", "1"} << "";
}

void TestFSTab::lineRecords()
{
    QFETCH(QByteArray, line);
    QFETCH(bool, isComment);
    QFETCH(QStringList, fields);
    QFETCH(QString, uuid);
    const FSTabInfoList list = parse(line);
    QCOMPARE(list.size(), 1);
    const FSTabInfoPtr info = list.constFirst();
    QCOMPARE(info->isComment, isComment);
    QVERIFY(!info->isEmpty);
    QCOMPARE(info->line, QString::fromUtf8(line));
    const QStringList actual{info->device, info->mountPoint, info->type, info->options, info->dump, info->pass};
    QCOMPARE(actual, fields);
    QCOMPARE(FSTab::getUUIDFromInfo(info), uuid);
}

void TestFSTab::mirrorsTheFileLineByLine()
{
    const FSTabInfoList list = FSTab::getFSTabFromFile(Fixtures + "installed-system");
    // Thirteen text lines and the empty piece after the final newline.
    QCOMPARE(list.size(), 14);
    QVERIFY(list.at(0)->isComment);
    QCOMPARE(list.at(0)->line, QString("# /etc/fstab: static file system information."));
    QVERIFY(list.at(3)->isEmpty);
    QVERIFY(list.at(3)->line.isEmpty());
    QVERIFY(list.constLast()->isEmpty);
    QCOMPARE(list.at(4)->line, QString("UUID=%1\t/\text4\trw,relatime\t0\t1").arg(RootUUID));
    QCOMPARE(list.at(6)->device, QString("UUID=4F2A-1C3D"));
    QCOMPARE(list.at(6)->type, QString("vfat"));
}

void TestFSTab::missingFileIsEmpty()
{
    QTest::ignoreMessage(QtWarningMsg, "getFSTabFromFile file not exists, fileName: /nonexistent/fstab");
    QVERIFY(FSTab::getFSTabFromFile("/nonexistent/fstab").isEmpty());
}

void TestFSTab::uuidListLeavesOutBindMounts()
{
    const QStringList installed = FSTab::getUUIDList(FSTab::getFSTabFromFile(Fixtures + "installed-system"));
    QCOMPARE(installed, (QStringList{RootUUID, "9a3e4c21-88b0-4d6f-a1c2-3e5f7a9b0c12", "4F2A-1C3D", DataUUID,
                                     RecoveryUUID, "e1f2a3b4-c5d6-4e7f-8091-a2b3c4d5e6f7"}));
    const QStringList binds = FSTab::getUUIDList(FSTab::getFSTabFromFile(Fixtures + "bind-mounts"));
    QCOMPARE(binds, (QStringList{RootUUID, RecoveryUUID}));
}

void TestFSTab::findByUUID()
{
    const FSTabInfoList list = FSTab::getFSTabFromFile(Fixtures + "bind-mounts");
    const FSTabInfoPtr root = FSTab::findByUUID(list, RootUUID);
    QVERIFY(root);
    QCOMPARE(root->mountPoint, QString("/"));
    // Bind mounts are still found.
    const FSTabInfoPtr data = FSTab::findByUUID(list, DataUUID);
    QVERIFY(data);
    QCOMPARE(data->options, QString("defaults,bind"));
    QVERIFY(!FSTab::findByUUID(list, RootUUID.toUpper()));
    QVERIFY(!FSTab::findByUUID(list, "a=b"));
    QVERIFY(!FSTab::findByUUID(list, ""));
}

// The UUID a restored system expects its swap area to carry: only a well-formed UUID of a real swap entry, never a
// comment, a device path or another line that merely mentions swap (each would end up as mkswap's -U).
void TestFSTab::swapUUID_data()
{
    const QByteArray swap = "UUID=" + SwapUUID.toUtf8() + "\tnone\tswap\tdefaults,pri=-2\t0\t0\n";
    QTest::addColumn<QByteArray>("fstab");
    QTest::addColumn<QString>("uuid");
    QTest::newRow("installed system") << QByteArray("UUID=" + RootUUID.toUtf8() + " / ext4 rw 0 1\n" + swap)
                                      << SwapUUID;
    QTest::newRow("comment about swap first")
        << QByteArray("# swap was on /dev/sda5 during installation\n" + swap) << SwapUUID;
    QTest::newRow("mount point named after swap first")
        << QByteArray("UUID=" + DataUUID.toUtf8() + " /mnt/swapdisk ext4 defaults 0 2\n" + swap) << SwapUUID;
    QTest::newRow("commented-out swap line")
        << QByteArray("#UUID=" + DataUUID.toUtf8() + " none swap sw 0 0\n" + swap) << SwapUUID;
    QTest::newRow("device path") << QByteArray("/dev/sda5 none swap sw 0 0\n") << QString();
    QTest::newRow("swap file") << QByteArray("/swapfile none swap sw 0 0\n") << QString();
    QTest::newRow("label") << QByteArray("LABEL=SWAP none swap sw 0 0\n") << QString();
    QTest::newRow("partition UUID") << QByteArray("PARTUUID=" + SwapUUID.toUtf8() + " none swap sw 0 0\n") << QString();
    QTest::newRow("no UUID after the equals sign") << QByteArray("UUID=--force none swap sw 0 0\n") << QString();
    QTest::newRow("first swap entry wins")
        << QByteArray(swap + "UUID=" + DataUUID.toUtf8() + " none swap sw 0 0\n") << SwapUUID;
    QTest::newRow("no swap") << QByteArray("UUID=" + RootUUID.toUtf8() + " / ext4 rw 0 1\n") << QString();
    QTest::newRow("empty") << QByteArray() << QString();
}

void TestFSTab::swapUUID()
{
    QFETCH(QByteArray, fstab);
    QFETCH(QString, uuid);
    QCOMPARE(FSTab::swapUUID(FSTab::fromText(fstab)), uuid);
}

QTEST_GUILESS_MAIN(TestFSTab)
#include "tst_fstab.moc"
