#include "AsyncTask.h"
#include "FakeTools.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

// The partition check list built from recorded blkid output; the installed system's fstab is not reachable here
// (no bus), so the fstab columns are covered by the live-environment tests.
namespace {

QList<BlkIdInfo> recordedBlkId()
{
    FakeTools tools({"sudo", "blkid", "ls"});
    tools.setBehaviour("sudo", "--exec");
    tools.setBehaviour("blkid", "--out-file " MARLIN_FIXTURES_DIR "/blkid/check-list.txt");
    tools.setBehaviour("ls", "--out-file " MARLIN_FIXTURES_DIR "/blkid/mapper-listing.txt");
    QList<BlkIdInfo> list;
    QString err;
    Utils::getBlkIdInfoList(list, err);
    return list;
}

QStringList devicePaths(const QList<PartitionCheckItem>& items)
{
    QStringList paths;
    for (const PartitionCheckItem& item : items) {
        paths.append(item.devicePath + ":" + QString::number(item.status));
    }
    return paths;
}

} // namespace

class TestCheckList : public QObject
{
    Q_OBJECT

private slots:
    void skippingAndOrdering_data();
    void skippingAndOrdering();
    void jsonText();
};

void TestCheckList::skippingAndOrdering_data()
{
    QTest::addColumn<int>("liveType");
    QTest::addColumn<int>("deviceType");
    QTest::newRow("overlay live: fstab not read") << 2 << -1;
    QTest::newRow("recovery live, root not reachable") << 1 << -1;
}

void TestCheckList::skippingAndOrdering()
{
    QFETCH(int, liveType);
    QFETCH(int, deviceType);
    const QList<BlkIdInfo> blkId = recordedBlkId();
    QVERIFY(blkId.size() > 10);
    AsyncTask worker(AsyncTask::PartitionCheckList);
    worker.setRootUUID("5d0c1a6e-7f3b-4a29-9c1e-2b8d7f4e6a10");
    QList<PartitionCheckItem> items;
    QVERIFY(worker.GetPartitionCheckItemList(items, liveType, blkId));
    // File systems first in blkid order, then partitions without one. Left out: the live system's loop device,
    // LUKS and LVM members, the recovery partition and what follows it on its disk without a file system, a
    // second partition whose partition UUID ends like an earlier one, and the whole disk. Logical volumes blkid
    // did not describe come last, as devices without a recognised file system.
    QCOMPARE(devicePaths(items),
             (QStringList{"/dev/sda1:0", "/dev/sda2:0", "/dev/mapper/vg0-root:0", "/dev/sdb3:0", "/dev/loop1p3:0",
                          "/dev/sda7:-1", "/dev/sda9:-1", "/dev/mapper/vg0-home:-1", "/dev/mapper/vg0-swap:-1"}));
    const PartitionCheckItem& boot = items.at(1);
    QCOMPARE(boot.label, QString("Boot"));
    QCOMPARE(boot.uuid, QString("9a3e4c21-88b0-4d6f-a1c2-3e5f7a9b0c12"));
    QCOMPARE(boot.fsType, QString("ext4"));
    QCOMPARE(boot.deviceType, deviceType);
    QVERIFY(boot.mountPoint.isEmpty());
    QVERIFY(items.last().uuid.isEmpty() && items.last().label.isEmpty());
}

void TestCheckList::jsonText()
{
    PartitionCheckItem swap;
    swap.devicePath = "/dev/sda6";
    swap.uuid = "e1f2a3b4-c5d6-4e7f-8091-a2b3c4d5e6f7";
    swap.mountPoint = "SWAP";
    swap.fsType = "swap";
    swap.deviceType = 1;
    PartitionCheckItem bad;
    bad.devicePath = "/dev/sda9";
    bad.status = -1;
    const QString text = AsyncTask::checkListJson({swap, bad});
    QVERIFY(text.endsWith("}\n"));
    const QJsonArray list = QJsonDocument::fromJson(text.toUtf8()).object().value("PartitionCheckItemList").toArray();
    QCOMPARE(list.size(), 2);
    const QJsonObject first = list.at(0).toObject();
    QCOMPARE(first.keys(),
             (QStringList{"devicePath", "deviceType", "fsType", "label", "mountPoint", "status", "uuid"}));
    QCOMPARE(first.value("mountPoint").toString(), QString("SWAP"));
    QVERIFY(first.value("deviceType").isDouble());
    QCOMPARE(first.value("deviceType").toInt(), 1);
    QCOMPARE(list.at(1).toObject().value("status").toInt(), -1);
    QCOMPARE(list.at(1).toObject().value("label").toString(), QString());
}

QTEST_GUILESS_MAIN(TestCheckList)
#include "tst_checklist.moc"
