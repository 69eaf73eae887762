// The record of a restore in progress: written to the recovery partition right before the first write, removed
// when the restore has succeeded. Whatever cuts a restore off (power, a crash) leaves it for the next start.

#include "tasks/ArchiveExtract.h"
#include "tasks/Task.h"

#include "utils.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>

void Task::setRestoreRequest(const QString& method, const QJsonObject& request)
{
    m_restoreMethod = method;
    m_restoreRequest = request;
}

QString Task::recoveryMountPoint()
{
    return mountDeviceFromUUID(m_recoveryUUID);
}

void Task::writeRestoreMark()
{
    QJsonArray targets;
    QDateTime backupTime;
    for (const Job& job : m_jobs) {
        targets.append(job.to);
        const QDateTime modified = QFileInfo(job.from).lastModified();
        if (job.type == ImageJob && modified.isValid() && (!backupTime.isValid() || modified > backupTime)) {
            backupTime = modified;
        }
    }
    const QJsonObject mark{{"method", m_restoreMethod},
                           {"request", m_restoreRequest},
                           {"started", QDateTime::currentDateTimeUtc().toString(Qt::ISODate)},
                           {"backupTime", backupTime.isValid() ? backupTime.toUTC().toString(Qt::ISODate) : QString()},
                           {"targets", targets}};
    const QString recoveryMount = recoveryMountPoint();
    // Without the mark the restore still runs: a broken recovery partition must not stand between a person and a
    // restore from another disk.
    if (recoveryMount.isEmpty() || !QDir().mkpath(recoveryMount + "/backup") ||
        !Utils::writeFileSynced(Utils::restoreMarkPath(recoveryMount),
                                QJsonDocument(mark).toJson(QJsonDocument::Indented))) {
        qWarning().noquote() << "could not record the restore in progress, recovery UUID: " + m_recoveryUUID;
        return;
    }
    m_markWritten = true;
    qInfo().noquote() << "restore in progress recorded: " + Utils::restoreMarkPath(recoveryMount);
}

void Task::removeRestoreMark()
{
    if (!m_markWritten) {
        return;
    }
    const QString recoveryMount = recoveryMountPoint();
    if (recoveryMount.isEmpty() || !Utils::removeFileSynced(Utils::restoreMarkPath(recoveryMount))) {
        qWarning().noquote() << "could not remove the record of the finished restore, recovery UUID: " + m_recoveryUUID;
        return;
    }
    m_markWritten = false;
    qInfo() << "restore finished: its record is removed";
}

void Task::clearExtractTarget(const QString& directory)
{
    // Only what the archives replace, and only right before the archive is written over it.
    const QString name = QFileInfo(directory).fileName();
    if (name != "opt" && name != "var") {
        return;
    }
    qDebug().noquote() << "removing before extraction: " + directory;
    removeForcibly(directory);
    removeExtractStaging(directory);
}

void Task::removeExtractStaging(const QString& directory)
{
    const QFileInfo target(directory);
    removeForcibly(target.path() + "/" + ArchiveExtract::stagingName(target.fileName()));
}
