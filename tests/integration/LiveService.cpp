#include "LiveService.h"

#include "utils.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QtTest>

LiveService::~LiveService()
{
    stop();
}

bool LiveService::start()
{
    if (!m_output.open()) {
        return false;
    }
    m_service.setProcessChannelMode(QProcess::MergedChannels);
    m_service.setStandardOutputFile(m_output.fileName());
    m_service.start(QStringLiteral(MARLIN_BINARY_DIR "/src/marlin-recovery-service/marlin-recovery-service"));
    if (!m_service.waitForStarted()) {
        return false;
    }
    QDBusConnectionInterface* bus = QDBusConnection::systemBus().interface();
    QDeadlineTimer deadline(20000);
    while (!bus->isServiceRegistered("com.marlin.recovery").value()) {
        if (deadline.hasExpired() || m_service.state() == QProcess::NotRunning) {
            return false;
        }
        QTest::qWait(20);
    }
    m_proxy = new ComMarlinDaemonRecoveryInterface("com.marlin.recovery", "/com/marlin/recovery",
                                                   QDBusConnection::systemBus());
    m_proxy->setTimeout(120000);
    return m_proxy->isValid();
}

void LiveService::stop()
{
    delete m_proxy;
    m_proxy = nullptr;
    if (m_service.state() != QProcess::NotRunning) {
        m_service.terminate();
        m_service.waitForFinished(10000);
    }
}

QByteArray LiveService::takeOutput()
{
    QFile output(m_output.fileName());
    if (!output.open(QIODevice::ReadOnly) || !output.seek(m_shown)) {
        return QByteArray();
    }
    const QByteArray text = output.readAll();
    m_shown += text.size();
    return text;
}

void LiveService::showOutputOnFailure()
{
    const QByteArray text = takeOutput();
    if (QTest::currentTestFailed()) {
        qWarning().noquote() << "service output:\n" + QString::fromUtf8(text.right(20000));
    }
}

QString LiveService::env(const char* name)
{
    return QString::fromLocal8Bit(qgetenv(name));
}

QString LiveService::request(int opType, const QString& operateID, const QJsonObject& extra)
{
    QJsonObject obj = extra;
    obj.insert("opType", opType);
    obj.insert("operateID", operateID);
    return Utils::jsonToString(obj);
}
