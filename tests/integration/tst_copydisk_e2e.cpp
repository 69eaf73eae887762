#include "LiveService.h"
#include "Mounted.h"
#include "utils.h"

#include <QtTest>

// A byte copy of the installed root on another disk (a USB backup made with dd, a cloned disk left attached)
// carries the root's UUID. A restore must write the system's own disk and leave the copy as it is, whether the
// root is intact or lost its start.
using namespace LiveTest;

class TestCopyDiskE2E : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
    void restoreWritesTheSystemDiskNotTheCopy_data();
    void restoreWritesTheSystemDiskNotTheCopy();
    void systemThatCannotBeToldFromACopyIsRefused();

private:
    LiveService* m_service = nullptr;
    QString m_copy;
};

namespace {

bool liveEnv(const QStringList& args)
{
    return run(env("MARLIN_LIVE_ENV_TOOL"), QStringList{args.constFirst(), env("MARLIN_LIVE_ENV_STATE")} + args.mid(1));
}

} // namespace

void TestCopyDiskE2E::initTestCase()
{
    if (env("MARLIN_LIVE_ENV") != "1" || env("MARLIN_LIVE_ENV_TOOL").isEmpty()) {
        QSKIP("needs the fabricated live environment (tests/live-env/marlin-live-env exec) and its tool");
    }
    QVERIFY(liveEnv({"add-copy-disk", "ROOT"}));
    m_copy = QString::fromUtf8(readFile(env("MARLIN_LIVE_ENV_STATE") + "/copy-loop").trimmed()) + "p1";
    QCOMPARE(output("blkid", {"-p", "-o", "value", "-s", "UUID", m_copy}).trimmed(), env("MARLIN_ROOT_UUID"));
}

void TestCopyDiskE2E::cleanupTestCase()
{
    if (!m_copy.isEmpty()) {
        QVERIFY(liveEnv({"remove-copy-disk"}));
    }
}

void TestCopyDiskE2E::cleanup()
{
    if (m_service != nullptr) {
        m_service->showOutputOnFailure();
        delete m_service;
        m_service = nullptr;
    }
}

void TestCopyDiskE2E::restoreWritesTheSystemDiskNotTheCopy_data()
{
    QTest::addColumn<bool>("rootBroken");
    QTest::newRow("root intact") << false;
    QTest::newRow("root's start zeroed") << true;
}

void TestCopyDiskE2E::restoreWritesTheSystemDiskNotTheCopy()
{
    QFETCH(bool, rootBroken);
    const QString copy = m_copy;
    {
        const Mounted data(env("MARLIN_DATA_UUID"));
        QVERIFY(writeFile(data + "/home/alice/Documents/kept.txt", "mine\n"));
    }
    if (rootBroken) {
        QVERIFY(breakRoot());
    } else {
        const Mounted root(env("MARLIN_ROOT_DEV"));
        QVERIFY(writeFile(root + "/etc/hostname", "changed\n"));
    }
    const QString copyBefore = output("md5sum", {copy});
    m_service = new LiveService;
    QVERIFY(m_service->start());
    bool ok = false;
    const QJsonObject outcome = m_service->runTask(
        [](ComMarlinDaemonRecoveryInterface* proxy) {
            return proxy->SystemRestore(LiveService::request(1, "copy-disk", {{"formatData", false}})).value();
        },
        &ok);
    QVERIFY2(ok, qPrintable(outcome.value("errMsg").toString()));
    QCOMPARE(output("md5sum", {copy}), copyBefore);
    QCOMPARE(exitCodeOf("fsck", {"-n", env("MARLIN_ROOT_DEV")}), 0);
    const Mounted root(env("MARLIN_ROOT_DEV"));
    QCOMPARE(readFile(root + "/etc/hostname"), QByteArray("marlin-pc\n"));
    const Mounted data(env("MARLIN_DATA_UUID"));
    QCOMPARE(readFile(data + "/home/alice/Documents/kept.txt"), QByteArray("mine\n"));
}

// A clone of the root and the recovery partition both: nothing tells which disk is the system's, so nothing is
// written and the person is told which devices to look at.
void TestCopyDiskE2E::systemThatCannotBeToldFromACopyIsRefused()
{
    QVERIFY(liveEnv({"remove-copy-disk"}));
    m_copy.clear();
    QVERIFY(liveEnv({"add-copy-disk", "ROOT", "RECOVERY"}));
    m_copy = QString::fromUtf8(readFile(env("MARLIN_LIVE_ENV_STATE") + "/copy-loop").trimmed()) + "p1";
    const QStringList devices{env("MARLIN_ROOT_DEV"), m_copy};
    QStringList before;
    for (const QString& device : devices) {
        before.append(output("md5sum", {device}));
    }
    m_service = new LiveService;
    QVERIFY(m_service->start());
    bool ok = true;
    const QJsonObject outcome = m_service->runTask(
        [](ComMarlinDaemonRecoveryInterface* proxy) {
            return proxy->SystemRestore(LiveService::request(1, "clone", {{"formatData", false}})).value();
        },
        &ok);
    QVERIFY(!ok);
    const QString message = outcome.value("errMsg").toString();
    QVERIFY2(message.startsWith("The system's partitions are found on more than one device (") &&
                 message.contains(devices.at(0)) && message.contains(devices.at(1)),
             qPrintable(message));
    QVERIFY(!m_service->takeOutput().contains("job start:"));
    for (int i = 0; i < devices.size(); ++i) {
        QCOMPARE(output("md5sum", {devices.at(i)}), before.at(i));
    }
}

QTEST_GUILESS_MAIN(TestCopyDiskE2E)
#include "tst_copydisk_e2e.moc"
