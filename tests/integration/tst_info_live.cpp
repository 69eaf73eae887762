#include "LiveService.h"
#include "core/partitionusage.h"
#include "utils.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QSignalSpy>
#include <QStorageInfo>
#include <QtTest>

// What the service tells the GUI about the fabricated machine: the partition check list and the restore page
// information; and the usage probes on its real partitions.
namespace {

using namespace LiveTest;

QJsonObject itemWithUuid(const QJsonArray& items, const QString& uuid)
{
    for (const QJsonValue& item : items) {
        if (item.toObject().value("uuid").toString() == uuid) {
            return item.toObject();
        }
    }
    return QJsonObject();
}

bool makeBackupDir(const QString& dir, int rbkCount, int tarCount)
{
    // Each with its checksum file, as a backup that was not cut off has them.
    for (int i = 0; i < rbkCount; ++i) {
        const QString image = dir + QString("/part%1.rbk").arg(i);
        if (!writeFile(image, "image") || !writeFile(image + ".md5", "sum")) {
            return false;
        }
    }
    for (int i = 0; i < tarCount; ++i) {
        const QString archive = dir + QString("/archive%1.tar").arg(i);
        if (!writeFile(archive, "archive") || !writeFile(archive + ".md5", "sum")) {
            return false;
        }
    }
    return true;
}

} // namespace

class TestInfoLive : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void cleanupTestCase();
    void checkListOfTheMachine();
    void restorePageWithoutInitialBackup();
    void restorePageWithBackupsAndAPendingOrder();
    void usageOfRealPartitions_data();
    void usageOfRealPartitions();
    void usageOfAnActiveSwapArea();

private:
    QJsonObject askRestorePage(const QString& operateID);
    void clearRecoveryBackupDir();

    LiveService m_service;
    ComMarlinDaemonRecoveryInterface* m_proxy = nullptr;
};

void TestInfoLive::initTestCase()
{
    if (env("MARLIN_LIVE_ENV") != "1") {
        QSKIP("needs the fabricated live environment (tests/live-env/marlin-live-env exec)");
    }
    QVERIFY(m_service.start());
    m_proxy = m_service.proxy();
    // The installer's initial backup is kept aside while these tests shape the backup directory.
    const QString recovery = Utils::mountDeviceByUUID(env("MARLIN_RECOVERY_UUID"));
    QVERIFY(!recovery.isEmpty());
    QDir(recovery + "/backup-kept").removeRecursively();
    QVERIFY(QDir(recovery).rename("backup", "backup-kept"));
    QVERIFY(QDir(recovery).mkdir("backup"));
    Utils::umountDeviceByUUID(env("MARLIN_RECOVERY_UUID"));
}

void TestInfoLive::cleanup()
{
    m_service.showOutputOnFailure();
}

void TestInfoLive::cleanupTestCase()
{
    const QString recovery = Utils::mountDeviceByUUID(env("MARLIN_RECOVERY_UUID"));
    QDir(recovery + "/backup").removeRecursively();
    QDir(recovery).rename("backup-kept", "backup");
    Utils::umountDeviceByUUID(env("MARLIN_RECOVERY_UUID"));
}

void TestInfoLive::checkListOfTheMachine()
{
    const QString spare = env("MARLIN_SPARE_DEV");
    QVERIFY(run("debugfs", {"-w", "-R", "mkdir /check-victim", spare}));
    QVERIFY(run("debugfs", {"-w", "-R", "clri /check-victim", spare}));
    QVERIFY(run("debugfs", {"-w", "-R", "ssv state 2", spare}));

    QSignalSpy success(m_proxy, &ComMarlinDaemonRecoveryInterface::Success);
    QCOMPARE(m_proxy->AsyncGetPartitionCheckItemLists(LiveService::request(7, "check-1")).value(), 0);
    QVERIFY(success.wait(120000));
    const QJsonObject rsp = Utils::stringToJson(success.constFirst().constFirst().toString());
    QCOMPARE(rsp.value("operateID").toString(), QString("check-1"));
    const QJsonArray items = QJsonDocument::fromJson(rsp.value("data").toString().toUtf8())
                                 .object()
                                 .value("PartitionCheckItemList")
                                 .toArray();

    const QJsonObject root = itemWithUuid(items, env("MARLIN_ROOT_UUID"));
    QCOMPARE(root.value("mountPoint").toString(), QString("/"));
    QCOMPARE(root.value("deviceType").toInt(), 1);
    QCOMPARE(root.value("status").toInt(), 0);
    QCOMPARE(root.value("devicePath").toString(), env("MARLIN_ROOT_DEV"));
    QCOMPARE(root.value("label").toString(), QString("Roota"));
    QCOMPARE(itemWithUuid(items, env("MARLIN_DATA_UUID")).value("mountPoint").toString(), QString("/data"));
    QCOMPARE(itemWithUuid(items, env("MARLIN_DATA_UUID")).value("deviceType").toInt(), 1);
    const QJsonObject swap = itemWithUuid(items, env("MARLIN_SWAP_UUID"));
    QCOMPARE(swap.value("mountPoint").toString(), QString("SWAP"));
    QCOMPARE(swap.value("deviceType").toInt(), 1);
    QCOMPARE(swap.value("fsType").toString(), QString("swap"));
    const QJsonObject damaged = itemWithUuid(items, env("MARLIN_SPARE_UUID"));
    QCOMPARE(damaged.value("status").toInt(), -1);
    QCOMPARE(damaged.value("deviceType").toInt(), 0);
    QVERIFY(damaged.value("mountPoint").toString().isEmpty());
    QCOMPARE(itemWithUuid(items, env("MARLIN_XFS_UUID")).value("deviceType").toInt(), 0);
    // The OEM recovery partition is never offered for checking.
    QVERIFY(itemWithUuid(items, env("MARLIN_OEM_UUID")).isEmpty());
    // The installed root is left as it was found: unmounted.
    QVERIFY(!isMounted(env("MARLIN_ROOT_DEV")));

    QString output;
    QString err;
    QVERIFY(Utils::fixPartitionByFsck(spare, output, err));
}

QJsonObject TestInfoLive::askRestorePage(const QString& operateID)
{
    QSignalSpy success(m_proxy, &ComMarlinDaemonRecoveryInterface::Success);
    if (m_proxy->InitLiveRestorePage(LiveService::request(8, operateID)).value() != 0 || !success.wait(120000)) {
        return QJsonObject();
    }
    const QJsonObject rsp = Utils::stringToJson(success.constFirst().constFirst().toString());
    if (rsp.value("operateID").toString() != operateID) {
        return QJsonObject();
    }
    return Utils::stringToJson(rsp.value("data").toString());
}

void TestInfoLive::clearRecoveryBackupDir()
{
    const QString recovery = Utils::mountDeviceByUUID(env("MARLIN_RECOVERY_UUID"));
    if (recovery.isEmpty()) {
        return;
    }
    QDir backup(recovery + "/backup");
    for (const QString& name : backup.entryList(QDir::Files)) {
        backup.remove(name);
    }
    Utils::umountDeviceByUUID(env("MARLIN_RECOVERY_UUID"));
}

void TestInfoLive::restorePageWithoutInitialBackup()
{
    clearRecoveryBackupDir();
    const QJsonObject page = askRestorePage("page-1");
    QVERIFY(!page.isEmpty());
    QCOMPARE(page.value("recoveryUUID").toString(), env("MARLIN_RECOVERY_UUID"));
    QCOMPARE(page.value("osType").toString(), QString("Professional"));
    QCOMPARE(page.value("osVersion").toInt(), 1000);
    QVERIFY(page.value("osVersion").isDouble());
    QCOMPARE(page.value("isExitsInitBackup").toBool(true), false);
    QCOMPARE(page.value("isDeviceOS").toBool(true), false);
    QCOMPARE(page.value("isLvm").toBool(true), false);
    QCOMPARE(page.value("isEncrypted").toBool(true), false);
    QCOMPARE(page.value("isFileManagerEncrypted").toBool(true), false);
    QCOMPARE(page.value("recoveryInfo").toString(), QString());
    const QJsonObject backupInfo = Utils::stringToJson(page.value("backupInfo").toString());
    QVERIFY(backupInfo.value("BackupFileInfoList").isArray());
    QCOMPARE(backupInfo.value("BackupFileInfoList").toArray().size(), 0);
    // The ten keys of the page, and the record of a cut-off restore: none here.
    QCOMPARE(page.value("interruptedRestore").toString(), QString());
    QCOMPARE(page.keys().size(), 11);
    QVERIFY(!isMounted(env("MARLIN_ROOT_DEV")));
    QVERIFY(!isMounted(env("MARLIN_RECOVERY_DEV")));
}

void TestInfoLive::restorePageWithBackupsAndAPendingOrder()
{
    const QString dataUUID = env("MARLIN_DATA_UUID");
    const QString data = Utils::mountDeviceByUUID(dataUUID);
    const QString recovery = Utils::mountDeviceByUUID(env("MARLIN_RECOVERY_UUID"));
    QVERIFY(!data.isEmpty() && !recovery.isEmpty());
    QVERIFY(makeBackupDir(data + "/backups/2023-11-14", 2, 2));
    QVERIFY(makeBackupDir(data + "/backups/2024-03-09", 3, 2));
    QVERIFY(makeBackupDir(data + "/backups/unfinished", 1, 1));
    QVERIFY(writeFile(recovery + "/backup/system.rbk", "initial image"));
    QVERIFY(writeFile(recovery + "/backup/savePath.json", QString(R"({"%1": {
        "1699960000": "/backups/2023-11-14", "1709980000": "/backups/2024-03-09", "1705000000": "/backups/unfinished"}})")
                                                              .arg(dataUUID)
                                                              .toUtf8()));
    QVERIFY(writeFile(recovery + "/backup/recovery.json",
                      R"({"type": 2, "locale": "de_DE", "auto_reboot": true, "tasks": []})"));
    qint64 newestBytes = 0;
    for (const QFileInfo& file : QDir(data + "/backups/2024-03-09").entryInfoList(QDir::Files)) {
        newestBytes += file.size();
    }
    Utils::umountDeviceByUUID(dataUUID);
    Utils::umountDeviceByUUID(env("MARLIN_RECOVERY_UUID"));

    const QJsonObject page = askRestorePage("page-2");
    QCOMPARE(page.value("isExitsInitBackup").toBool(), true);
    const QJsonArray backups =
        Utils::stringToJson(page.value("backupInfo").toString()).value("BackupFileInfoList").toArray();
    QCOMPARE(backups.size(), 2);
    const QJsonObject newest = backups.at(0).toObject();
    QCOMPARE(newest.value("createTime").toString(), QString("1709980000"));
    QCOMPARE(newest.value("backupUUID").toString(), dataUUID);
    QVERIFY(newest.value("backupPath").toString().endsWith("/backups/2024-03-09"));
    QCOMPARE(newest.value("backupTime").toString(), QDateTime::fromSecsSinceEpoch(1709980000).toString("yyyy/MM/dd"));
    QVERIFY(newestBytes > 0);
    QCOMPARE(qint64(newest.value("backupSize").toDouble()), newestBytes);
    QCOMPARE(backups.at(1).toObject().value("createTime").toString(), QString("1699960000"));
    const QJsonObject order = Utils::stringToJson(page.value("recoveryInfo").toString());
    QCOMPARE(order.value("type").toInt(), 2);
    QCOMPARE(order.value("auto_reboot").toBool(), true);
    QVERIFY(!isMounted(env("MARLIN_ROOT_DEV")));
    QVERIFY(!isMounted(env("MARLIN_RECOVERY_DEV")));
    QVERIFY(!isMounted(env("MARLIN_DATA_DEV")));

    // The pending order is handed over once.
    const QJsonObject again = askRestorePage("page-3");
    QCOMPARE(again.value("recoveryInfo").toString(), QString());
    QCOMPARE(Utils::stringToJson(again.value("backupInfo").toString()).value("BackupFileInfoList").toArray().size(), 2);
}

void TestInfoLive::usageOfRealPartitions_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<int>("type");
    QTest::addColumn<double>("tolerance");
    QTest::newRow("ext4") << "DATA" << int(FsType::Ext4) << 0.01;
    // xfs keeps a reserve that df does not count as free.
    QTest::newRow("xfs") << "XFS" << int(FsType::Xfs) << 0.08;
    QTest::newRow("btrfs") << "BTRFS" << int(FsType::Btrfs) << 0.15;
}

void TestInfoLive::usageOfRealPartitions()
{
    QFETCH(QString, key);
    QFETCH(int, type);
    QFETCH(double, tolerance);
    const QString device = env(qPrintable("MARLIN_" + key + "_DEV"));
    const QString uuid = env(qPrintable("MARLIN_" + key + "_UUID"));
    qint64 freeSpace = 0;
    qint64 total = 0;
    QVERIFY(ReadUsage(device, FsType(type), freeSpace, total));
    const QString mountPath = Utils::mountDeviceByUUID(uuid);
    QVERIFY(!mountPath.isEmpty());
    const QStorageInfo df(mountPath);
    const double dfFree = double(df.bytesFree());
    Utils::umountDeviceByUUID(uuid);
    // The file system spans its partition; df leaves its own metadata out of the total, so compare that with the
    // partition and the free space with df.
    QFile sectors("/sys/class/block/" + QFileInfo(device).fileName() + "/size");
    QVERIFY(sectors.open(QIODevice::ReadOnly));
    const double partitionSize = sectors.readAll().trimmed().toDouble() * 512;
    QVERIFY2(qAbs(total - partitionSize) <= tolerance * partitionSize,
             qPrintable(QString("probe %1, partition %2").arg(total).arg(qint64(partitionSize))));
    QVERIFY2(qAbs(freeSpace - dfFree) <= tolerance * partitionSize,
             qPrintable(QString("probe %1, df %2").arg(freeSpace).arg(qint64(dfFree))));
}

void TestInfoLive::usageOfAnActiveSwapArea()
{
    const QString swap = env("MARLIN_SWAP_DEV");
    QVERIFY(run("swapon", {swap}));
    qint64 freeSpace = 0;
    qint64 total = 0;
    const bool read = ReadUsage(swap, FsType::LinuxSwap, freeSpace, total);
    const QString swaps = ReadFile("/proc/swaps");
    QVERIFY(run("swapoff", {swap}));
    QVERIFY(read);
    qint64 kib = 0;
    for (const QString& line : swaps.split('\n')) {
        const QStringList fields = line.split(QRegularExpression("\\s+"), Qt::SkipEmptyParts);
        if (fields.size() >= 4 && fields.at(0) == swap) {
            kib = fields.at(2).toLongLong();
        }
    }
    QVERIFY(kib > 0);
    QCOMPARE(total, kib * 1024);
    QVERIFY(freeSpace <= total && freeSpace > total / 2);
}

QTEST_GUILESS_MAIN(TestInfoLive)
#include "tst_info_live.moc"
