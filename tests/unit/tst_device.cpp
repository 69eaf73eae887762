#include "Device.h"
#include "FakeTools.h"

#include <QtTest>

namespace {

const QString Fixtures = QStringLiteral(MARLIN_FIXTURES_DIR "/lsblk/");

QList<DeviceInfoPtr> parseFixture(const QString& name)
{
    QFile file(Fixtures + name);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return Device::parseLsblkOutput(QString::fromUtf8(file.readAll()));
}

DeviceInfoPtr byName(const QList<DeviceInfoPtr>& devices, const QString& name)
{
    for (const DeviceInfoPtr& device : devices) {
        if (device->name == name) {
            return device;
        }
    }
    return DeviceInfoPtr();
}

QStringList names(const QList<DeviceInfoPtr>& devices)
{
    QStringList result;
    for (const DeviceInfoPtr& device : devices) {
        result.append(device->name);
    }
    return result;
}

struct Kinds
{
    QList<DeviceInfoPtr> disks, containers, pvPartitions, partitions, volumes, encryptedFileSystems;
};

Kinds kindsOf(const QList<DeviceInfoPtr>& devices)
{
    Kinds k;
    Device::sortByKind(devices, k.disks, k.containers, k.pvPartitions, k.partitions, k.volumes, k.encryptedFileSystems);
    return k;
}

} // namespace

class TestDevice : public QObject
{
    Q_OBJECT

private slots:
    void fieldsOfARecord();
    void bothMajorMinorSpellings();
    void linesThatDoNotMatchAreSkipped();
    void classification();
    void treeOfAnEncryptedLvmLaptop();
    void treeOfAnEncryptedRoot();
    void encryptionInfo_data();
    void encryptionInfo();
    void lsblkCommandLine();
    void mountPointByUUIDNeverUsesAShell();
};

void TestDevice::fieldsOfARecord()
{
    const QList<DeviceInfoPtr> devices = parseFixture("luks-lvm-laptop.txt");
    QCOMPARE(devices.size(), 11);
    const DeviceInfoPtr backup = byName(devices, "nvme0n1p4");
    QVERIFY(backup);
    QCOMPARE(backup->deviceFile, QString("/dev/nvme0n1p4"));
    QCOMPARE(backup->kname, QString("nvme0n1p4"));
    QCOMPARE(backup->pkname, QString("nvme0n1"));
    QCOMPARE(backup->label, QString("Backup"));
    QCOMPARE(backup->fsType, QString("ext4"));
    QCOMPARE(backup->size, qint64(25) * 1024 * 1024 * 1024);
    QCOMPARE(backup->fsUsed, quint64(9) * 1024 * 1024 * 1024);
    QCOMPARE(backup->fsAvail, quint64(15) * 1024 * 1024 * 1024);
    QCOMPARE(backup->logicalSectorSize, quint64(512));
    QCOMPARE(backup->mountPoint, QString("/media/marlin/Backup"));
    QCOMPARE(backup->major, 259);
    QCOMPARE(backup->minor, 4);
    QCOMPARE(backup->rotational, 0);
    QCOMPARE(backup->byUuidPath, QString("/dev/disk/by-uuid/0b1c2d3e-4f50-4617-8293-a4b5c6d7e8f9"));
    QCOMPARE(backup->byLabelPath, QString("/dev/disk/by-label/Backup"));
    QCOMPARE(backup->byPartLabelPath, QString("/dev/disk/by-partlabel/Backup"));
    QCOMPARE(backup->byPartUuidPath, QString("/dev/disk/by-partuuid/4d5e6f70-8192-4a34-b5c6-d7e8f90a1b23"));

    const DeviceInfoPtr container = byName(devices, "nvme0n1p3");
    QCOMPARE(container->fsType, QString("luks"));
    QVERIFY(container->label.isEmpty() && container->byLabelPath.isEmpty());
    QCOMPARE(container->fsUsed, quint64(0));
    const DeviceInfoPtr mapping = byName(devices, "luks_crypt0");
    QCOMPARE(mapping->fsType, QString("lvm2"));
    QCOMPARE(mapping->deviceFile, QString("/dev/dm-0"));
    QCOMPARE(mapping->path, QString("/dev/mapper/luks_crypt0"));

    const DeviceInfoPtr rom = byName(devices, "sr0");
    QVERIFY(rom->hotplug);
    QCOMPARE(rom->vendor, QString("HL-DT-ST"));
    QVERIFY(byName(devices, "loop0")->readOnly);
}

void TestDevice::bothMajorMinorSpellings()
{
    const QList<DeviceInfoPtr> devices = parseFixture("luks-root.txt");
    QCOMPARE(devices.size(), 8);
    const DeviceInfoPtr boot = byName(devices, "sda2");
    QCOMPARE(boot->majMin, QString("8:2"));
    QCOMPARE(boot->major, 8);
    QCOMPARE(boot->minor, 2);
    // Vendor names come padded from the kernel.
    QCOMPARE(byName(devices, "sda")->vendor, QString("ATA"));
}

void TestDevice::linesThatDoNotMatchAreSkipped()
{
    const QList<DeviceInfoPtr> devices = parseFixture("plain-gpt.txt");
    // Six good lines; one without REV and one with its keys in another order give nothing.
    QCOMPARE(devices.size(), 6);
    const DeviceInfoPtr root = byName(devices, "sda3");
    QCOMPARE(root->rotational, -1);
    // The partition label is kept as the table has it.
    QCOMPARE(root->partLabel, QString("Roota "));
    QCOMPARE(root->byPartLabelPath, QString("/dev/disk/by-partlabel/Roota "));
}

void TestDevice::classification()
{
    const Kinds laptop = kindsOf(parseFixture("luks-lvm-laptop.txt"));
    QCOMPARE(names(laptop.disks), QStringList{"nvme0n1"});
    QCOMPARE(names(laptop.containers), (QStringList{"nvme0n1p3", "luks_crypt0"}));
    QCOMPARE(names(laptop.partitions), (QStringList{"nvme0n1p1", "nvme0n1p2", "nvme0n1p4"}));
    QCOMPARE(names(laptop.volumes), (QStringList{"vg0-root", "vg0-swap", "vg0-home"}));
    QVERIFY(laptop.pvPartitions.isEmpty());
    QVERIFY(laptop.encryptedFileSystems.isEmpty());

    const Kinds root = kindsOf(parseFixture("luks-root.txt"));
    QCOMPARE(names(root.containers), QStringList{"sda3"});
    QCOMPARE(names(root.encryptedFileSystems), QStringList{"luks_crypt0"});
    QCOMPARE(root.partitions.size(), 5);
}

void TestDevice::treeOfAnEncryptedLvmLaptop()
{
    const Kinds k = kindsOf(parseFixture("luks-lvm-laptop.txt"));
    const QList<DeviceInfoPtr> disks =
        Device::getDiskTree(k.disks, k.containers, k.pvPartitions, k.partitions, k.volumes, k.encryptedFileSystems);
    QCOMPARE(disks.size(), 1);
    // Children in minor order, whatever the inventory order.
    QCOMPARE(names(disks.constFirst()->children), (QStringList{"nvme0n1p1", "nvme0n1p2", "nvme0n1p3", "nvme0n1p4"}));
    const DeviceInfoPtr container = byName(k.containers, "nvme0n1p3");
    QCOMPARE(container->parent(), disks.constFirst());
    QCOMPARE(names(container->children), QStringList{"luks_crypt0"});
    const DeviceInfoPtr mapping = byName(k.containers, "luks_crypt0");
    QCOMPARE(mapping->parent(), container);
    QCOMPARE(names(mapping->children), (QStringList{"vg0-root", "vg0-home", "vg0-swap"}));
    QCOMPARE(byName(k.volumes, "vg0-home")->parent(), mapping);
}

void TestDevice::treeOfAnEncryptedRoot()
{
    const Kinds k = kindsOf(parseFixture("luks-root.txt"));
    Device::getDiskTree(k.disks, k.containers, k.pvPartitions, k.partitions, k.volumes, k.encryptedFileSystems);
    // The system restore finds the container partition of the opened root through this link.
    const DeviceInfoPtr root = k.encryptedFileSystems.constFirst();
    QVERIFY(root->parent());
    QCOMPARE(root->parent()->deviceFile, QString("/dev/sda3"));
    QCOMPARE(root->parent()->parent()->name, QString("sda"));
    QCOMPARE(names(k.disks.constFirst()->children), (QStringList{"sda1", "sda2", "sda3", "sda4", "sda5", "sda6"}));
}

void TestDevice::encryptionInfo_data()
{
    QTest::addColumn<QString>("fixture");
    QTest::addColumn<QStringList>("uuids");
    QTest::addColumn<bool>("onLvm");
    QTest::addColumn<bool>("encrypted");
    QTest::addColumn<bool>("partly");
    const QString lvRoot = "5d0c1a6e-7f3b-4a29-9c1e-2b8d7f4e6a10";
    const QString lvHome = "c7e1d2f3-0a4b-4c5d-8e9f-1a2b3c4d5e6f";
    const QString plainBoot = "9a3e4c21-88b0-4d6f-a1c2-3e5f7a9b0c12";
    QTest::newRow("volumes in LUKS and a plain partition, all found")
        << "luks-lvm-laptop.txt" << QStringList{lvRoot, lvHome, plainBoot} << true << true << false;
    QTest::newRow("one more UUID found nowhere")
        << "luks-lvm-laptop.txt" << QStringList{lvRoot, plainBoot, "ffffffff-0000-0000-0000-000000000000"} << true
        << true << true;
    QTest::newRow("only plain partitions")
        << "luks-lvm-laptop.txt" << QStringList{plainBoot} << false << false << false;
    QTest::newRow("plain partition and opened LUKS file system")
        << "luks-root.txt"
        << QStringList{"6a7b8c9d-0e1f-4a2b-9c3d-4e5f6a7b8c90", "8c9d0e1f-2a3b-4c4d-9e5f-6a7b8c9d0e12"} << false << true
        << true;
    QTest::newRow("no encryption on the machine")
        << "plain-gpt.txt" << QStringList{"3b4c5d6e-7f80-4192-a3b4-c5d6e7f80912", "0000-missing"} << false << false
        << false;
}

void TestDevice::encryptionInfo()
{
    QFETCH(QString, fixture);
    QFETCH(QStringList, uuids);
    QFETCH(bool, onLvm);
    QFETCH(bool, encrypted);
    QFETCH(bool, partly);
    bool isEncrypted = !encrypted;
    bool isPartly = !partly;
    QCOMPARE(Device::encryptionInfoOf(parseFixture(fixture), uuids, isEncrypted, isPartly), onLvm);
    QCOMPARE(isEncrypted, encrypted);
    QCOMPARE(isPartly, partly);
}

void TestDevice::lsblkCommandLine()
{
    FakeTools tools({"lsblk", "dmsetup"});
    tools.setBehaviour("lsblk", "--out-file " + Fixtures + "luks-root.txt --exit 1");
    tools.setBehaviour("dmsetup", "--exit 1");
    // A failing lsblk still hands over what it printed.
    QCOMPARE(Device::getDeviceInfoList().size(), 8);
    QCOMPARE(
        tools.calls().constFirst(),
        QString("lsblk --bytes --pairs --output NAME,KNAME,LABEL,UUID,TYPE,FSTYPE,SIZE,FSUSED,FSAVAIL,LOG-SEC,"
                "PHY-SEC,MOUNTPOINT,MODEL,RO,HOTPLUG,MAJ:MIN,PARTLABEL,PARTUUID,PKNAME,PATH,VENDOR,SERIAL,REV,ROTA"));
}

void TestDevice::mountPointByUUIDNeverUsesAShell()
{
    FakeTools tools({"lsblk", "bash"});
    tools.setBehaviour("lsblk", "--out 'UUID                                 PATH' --out '5d0c1a6e /dev/vda'");
    QString mountPoint = "unchanged";
    QVERIFY(!Device::getMountPointByUUID("x; touch /tmp/marlin-pwned", mountPoint));
    QCOMPARE(mountPoint, QString("unchanged"));
    QCOMPARE(tools.calls(), QStringList{"lsblk --output UUID,PATH"});
    QVERIFY(!QFile::exists("/tmp/marlin-pwned"));
}

QTEST_GUILESS_MAIN(TestDevice)
#include "tst_device.moc"
