#pragma once

// The real recovery service, started by a test inside the live environment, and a proxy to it. Its console output
// goes to a file (a pipe would fill up while the test blocks in a call) and is shown when a test function fails.

#include "comMarlinDaemonRecoveryInterface.h"

#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QTemporaryFile>

#include <functional>

// Small helpers the live tests share.
namespace LiveTest {
QString env(const char* name);
// Runs a program to its end (a minute at most), its output shown; true on a clean exit with code 0.
bool run(const QString& program, const QStringList& args);
QByteArray readFile(const QString& path);
// Writes a whole file, creating its directory.
bool writeFile(const QString& path, const QByteArray& content);
// The mount options of a device in this namespace's mount table; empty when it is not mounted.
QString mountOptionsOf(const QString& device);
bool isMounted(const QString& device);
// The fabricated system disk's partitions, by the keys of the environment's MARLIN_<KEY>_DEV variables.
extern const QStringList PartitionKeys;
// Those that hold ext4.
extern const QStringList Ext4Keys;
QString partitionDevice(const QString& key);
// The keys of the system disk's partitions mounted in this namespace (udisksd's mounts show up here).
QStringList mountedPartitions();
// Each partition's file-system UUID as the disk says it (blkid -p), by key.
QMap<QString, QString> fileSystemUuids();
// Runs a program to its end (ten minutes at most) and hands back its standard output, and its exit code (-1 when it
// did not end normally).
QString output(const QString& program, const QStringList& args, int* exitCode = nullptr);
int exitCodeOf(const QString& program, const QStringList& args);
// Relative path → checksum of every file, and the link targets, below a directory.
QMap<QString, QByteArray> treeOf(const QString& dir);
// The installed root as a crash leaves it: its first 4 MiB gone, so that it no longer mounts and shows no file
// system; returns once UDisks2 no longer sees its UUID.
bool breakRoot();
} // namespace LiveTest

class LiveService
{
public:
    ~LiveService();

    // Starts the service and waits until it owns its name; false when it does not come up.
    bool start();
    void stop();
    // SIGKILL, as a power cut would end it; returns once its name has left the bus.
    void kill();
    // true once no process owns the service's name (at most 20 s).
    static bool waitUntilNameLeaves();
    ComMarlinDaemonRecoveryInterface* proxy() const { return m_proxy; }
    // The output written since the last call.
    QByteArray takeOutput();
    // Prints the recent output when the current test function failed.
    void showOutputOnFailure();

    // Sends one request through call and waits for its outcome (ten minutes at most): the outcome's payload, or
    // empty when the call was not accepted or nothing came. progress receives the reported percentages.
    QJsonObject runTask(const std::function<int(ComMarlinDaemonRecoveryInterface*)>& call, bool* succeeded,
                        QList<int>* progress = nullptr);

    static QString env(const char* name);
    static QString request(int opType, const QString& operateID, const QJsonObject& extra = QJsonObject());

private:
    QProcess m_service;
    QTemporaryFile m_output;
    qint64 m_shown = 0;
    ComMarlinDaemonRecoveryInterface* m_proxy = nullptr;
};
