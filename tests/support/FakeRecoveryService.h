#pragma once

// A stand-in for the recovery service on a private bus, so GUI tests can drive the real window and controller
// through every answer the service can give: accepted, refused with a code, a D-Bus error, gone from the bus, or an
// answer held back until the test lets it go (a service slower than the caller's time-out).
// The object answers from a thread of its own, because the GUI blocks while it waits for an answer.

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QThread>

#include <climits>

// Starts a bus of its own (the live environment's permissive configuration) and makes it the system bus of this
// process. Must run before anything uses the system bus.
class PrivateBus
{
public:
    ~PrivateBus();
    bool start();
    QString address() const { return m_address; }

private:
    QProcess m_daemon;
    QString m_address;
};

class FakeRecoveryObject : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.marlin.daemon.recovery")

public:
    // An answer that is a D-Bus error instead of a value.
    static constexpr int DBusError = INT_MIN;

    void setAnswer(const QString& method, int answer);
    // The method's calls get their answer only when taken by takeHeld.
    void setHeld(const QString& method);
    // The replies held back so far, to be sent.
    QList<QDBusMessage> takeHeld();
    QStringList requests(const QString& method) const;
    void clear();
    // What an accepted ListRestoreDisks is answered with, as the service would, right after its reply: Success with
    // this listing, or, while none is set, Error as for a directory without a whole-disk backup. Empty data: no
    // outcome at all (the test sends it).
    void setDiskListing(const QString& data, bool answered = true);

public slots:
    int SystemRestore(const QString& req) { return answer("SystemRestore", req); }
    int ManualRestore(const QString& req) { return answer("ManualRestore", req); }
    int RestoreByTask(const QString& req) { return answer("RestoreByTask", req); }
    int ManualBackup(const QString& req) { return answer("ManualBackup", req); }
    int SystemBackup(const QString& req) { return answer("SystemBackup", req); }
    int InitLiveRestorePage(const QString& req) { return answer("InitLiveRestorePage", req); }
    int AsyncGetPartitionCheckItemLists(const QString& req) { return answer("AsyncGetPartitionCheckItemLists", req); }
    bool FixPartitionByFsck(const QString& req) { return answer("FixPartitionByFsck", req, 1) != 0; }
    int OpenBrowse(const QString& req) { return answer("OpenBrowse", req); }
    int ListBrowseDirectory(const QString& req) { return answer("ListBrowseDirectory", req); }
    int ListCopyDestinations(const QString& req) { return answer("ListCopyDestinations", req); }
    int CopyBrowseFiles(const QString& req) { return answer("CopyBrowseFiles", req); }
    int CancelBrowseCopy(const QString& req) { return answer("CancelBrowseCopy", req); }
    int CloseBrowse(const QString& req) { return answer("CloseBrowse", req); }
    int ListRestoreDisks(const QString& req) { return listRestoreDisks(req); }

private:
    int answer(const QString& method, const QString& req, int fallback = 0);
    int listRestoreDisks(const QString& req);

    mutable QMutex m_mutex;
    QMap<QString, int> m_answers;
    QStringList m_heldMethods;
    QList<QDBusMessage> m_held;
    QMap<QString, QStringList> m_requests;
    QString m_diskListing;
    bool m_listingAnswered = true;
};

class FakeRecoveryService
{
public:
    FakeRecoveryService();
    ~FakeRecoveryService();

    // Owns the service's name and object on the system bus; false when the bus refuses.
    bool start();
    // Leaves the bus: calls then fail as when the service is not there.
    void stop();

    void setAnswer(const QString& method, int answer) { m_object->setAnswer(method, answer); }
    void holdAnswers(const QString& method) { m_object->setHeld(method); }
    void setDiskListing(const QString& data, bool answered = true) { m_object->setDiskListing(data, answered); }
    // Sends the answers held back; the number sent.
    int releaseHeld();
    QStringList requests(const QString& method) const { return m_object->requests(method); }
    // Of the last request sent to the method; empty when none came.
    QString lastOperateID(const QString& method) const;
    // Sends one of the service's signals ("ReportProgress", "Success", "Error") with a response text.
    void send(const QString& signal, const QString& text);
    // A response text as the service writes it.
    static QString response(int opType, const QString& operateID, const QVariantMap& extra = QVariantMap());

private:
    QThread m_thread;
    FakeRecoveryObject* m_object;
    QDBusConnection m_connection;
};
