#include "FakeRecoveryService.h"

#include <QDBusMessage>
#include <QJsonDocument>
#include <QJsonObject>

#include <utility>

namespace {
const QString ServiceName = "com.marlin.recovery";
const QString ObjectPath = "/com/marlin/recovery";
const QString Interface = "com.marlin.daemon.recovery";
const QString ConnectionName = "fake-recovery-service";
} // namespace

PrivateBus::~PrivateBus()
{
    if (m_daemon.state() != QProcess::NotRunning) {
        m_daemon.kill();
        m_daemon.waitForFinished(10000);
    }
}

bool PrivateBus::start()
{
    m_daemon.start("dbus-daemon", {"--config-file=" MARLIN_SOURCE_DIR "/tests/live-env/system-bus.conf", "--nofork",
                                   "--nopidfile", "--address=unix:tmpdir=/tmp", "--print-address"});
    if (!m_daemon.waitForStarted(10000)) {
        return false;
    }
    while (!m_daemon.canReadLine() && m_daemon.waitForReadyRead(10000)) {
    }
    m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    if (m_address.isEmpty()) {
        return false;
    }
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_address.toUtf8());
    return true;
}

void FakeRecoveryObject::setAnswer(const QString& method, int answer)
{
    const QMutexLocker lock(&m_mutex);
    m_answers.insert(method, answer);
}

void FakeRecoveryObject::setHeld(const QString& method)
{
    const QMutexLocker lock(&m_mutex);
    m_heldMethods.append(method);
}

QList<QDBusMessage> FakeRecoveryObject::takeHeld()
{
    const QMutexLocker lock(&m_mutex);
    return std::exchange(m_held, {});
}

QStringList FakeRecoveryObject::requests(const QString& method) const
{
    const QMutexLocker lock(&m_mutex);
    return m_requests.value(method);
}

int FakeRecoveryObject::answer(const QString& method, const QString& req, int fallback)
{
    const QMutexLocker lock(&m_mutex);
    m_requests[method].append(req);
    const int value = m_answers.value(method, fallback);
    if (m_heldMethods.contains(method)) {
        setDelayedReply(true);
        m_held.append(message().createReply(value));
    } else if (value == DBusError) {
        sendErrorReply(QDBusError::Failed, "the fake service fails " + method);
    }
    return value;
}

void FakeRecoveryObject::setDiskListing(const QString& data, bool answered)
{
    const QMutexLocker lock(&m_mutex);
    m_diskListing = data;
    m_listingAnswered = answered;
}

int FakeRecoveryObject::listRestoreDisks(const QString& req)
{
    const int value = answer("ListRestoreDisks", req);
    const QMutexLocker lock(&m_mutex);
    if (value != 0 || m_heldMethods.contains("ListRestoreDisks") || !m_listingAnswered) {
        return value;
    }
    const QString id = QJsonDocument::fromJson(req.toUtf8()).object().value("operateID").toString();
    const bool listed = !m_diskListing.isEmpty();
    const QString text =
        FakeRecoveryService::response(16, id,
                                      listed ? QVariantMap{{"data", m_diskListing}}
                                             : QVariantMap{{"errMsg", "no whole-disk backup there"}, {"retCode", -1}});
    QDBusConnection bus = connection();
    // After the reply, as the service answers first and lists afterwards.
    QMetaObject::invokeMethod(
        this,
        [bus, text, listed]() mutable {
            QDBusMessage signal = QDBusMessage::createSignal(ObjectPath, Interface, listed ? "Success" : "Error");
            signal << text;
            bus.send(signal);
        },
        Qt::QueuedConnection);
    return value;
}

FakeRecoveryService::FakeRecoveryService()
    : m_object(new FakeRecoveryObject),
      m_connection(QDBusConnection::connectToBus(QDBusConnection::SystemBus, ConnectionName))
{
    m_object->moveToThread(&m_thread);
    QObject::connect(&m_thread, &QThread::finished, m_object, &QObject::deleteLater);
    m_thread.start();
}

FakeRecoveryService::~FakeRecoveryService()
{
    stop();
    m_thread.quit();
    m_thread.wait();
    QDBusConnection::disconnectFromBus(ConnectionName);
}

bool FakeRecoveryService::start()
{
    return m_connection.registerObject(ObjectPath, m_object, QDBusConnection::ExportAllSlots) &&
           m_connection.registerService(ServiceName);
}

void FakeRecoveryService::stop()
{
    m_connection.unregisterService(ServiceName);
    m_connection.unregisterObject(ObjectPath);
}

int FakeRecoveryService::releaseHeld()
{
    const QList<QDBusMessage> replies = m_object->takeHeld();
    for (const QDBusMessage& reply : replies) {
        m_connection.send(reply);
    }
    return int(replies.size());
}

QString FakeRecoveryService::lastOperateID(const QString& method) const
{
    const QStringList all = requests(method);
    return all.isEmpty() ? QString()
                         : QJsonDocument::fromJson(all.last().toUtf8()).object().value("operateID").toString();
}

void FakeRecoveryService::send(const QString& signal, const QString& text)
{
    QDBusMessage message = QDBusMessage::createSignal(ObjectPath, Interface, signal);
    message << text;
    m_connection.send(message);
}

QString FakeRecoveryService::response(int opType, const QString& operateID, const QVariantMap& extra)
{
    QJsonObject obj = QJsonObject::fromVariantMap(extra);
    obj.insert("operateID", operateID);
    obj.insert("userName", "live@user");
    obj.insert("opType", opType);
    if (!obj.contains("retCode")) {
        obj.insert("retCode", 0);
    }
    return QString::fromUtf8(QJsonDocument(obj).toJson());
}
