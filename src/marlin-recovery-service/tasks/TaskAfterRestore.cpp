// What a task does around a restore besides copying: boot repair, event records and keeping the logs.

#include "tasks/Task.h"

#include "MountPath.h"
#include "core/command.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QJsonDocument>

namespace {

const QString ResetEfiScript = "/lib/marlin-recovery-gui/scripts/resetEFI";
const QString LiveLogDir = "/home/marlin/";

} // namespace

void Task::resetEFI()
{
    const QMap<QString, QString> uuidMap = getUUIDFromFstab();
    qInfo().noquote() << QString("Task::resetEFI , m_isUEFI = ") + (m_isUEFI ? "true" : "false");
    if (m_isUEFI) {
        if (m_osMinorVersion < 1 || m_osMinorVersion > 1039 || m_desktopType != "Professional") {
            qDebug() << "os-version is:" << m_osMinorVersion << " or not professional, will not reset efi!";
            return;
        }
        if (!uuidMap.contains("/boot/efi")) {
            qDebug() << "not found efi partition!";
            return;
        }
        const QString device = devicePathFromUUID(uuidMap.value("/boot/efi"));
        qDebug() << "Begin reset efi:" << device;
        SpawnCmd("sudo", {ResetEfiScript, device});
        return;
    }
    if (!uuidMap.contains("/boot")) {
        qDebug() << "Task::resetEFI not found boot partition!";
        return;
    }
    const QString bootDevice = devicePathFromUUID(uuidMap.value("/boot"));
    const QPair<QString, QString> driveAndDisk = driveAndDiskFromUUID(uuidMap.value("/boot"));
    qDebug() << "legacy: Begin reset grub, bootDevicePath:" << bootDevice << ", bootPknamePath: " << driveAndDisk;
    QString output;
    QString err;
    SpawnCmd("sudo", {ResetEfiScript, bootDevice, "legacy", driveAndDisk.second}, output, err);
    qDebug().noquote() << "legacy: reset grub end, output: " + output + ", error: " + err;
}

bool Task::writeEventLog(const QJsonObject& record, const QString& dir)
{
    const qint64 seconds = QDateTime::currentSecsSinceEpoch();
    const QString eventDir = QString("%1/event-log").arg(dir);
    const QString fileName = QString("%1/live_restore_%2.json").arg(eventDir).arg(seconds);
    QDir().mkpath(eventDir);
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        qWarning().noquote() << "writeEventLog, dataFile failed :" + fileName;
        return false;
    }
    file.write(QJsonDocument(record).toJson(QJsonDocument::Indented));
    file.close();
    return true;
}

void Task::saveLogToRecovery()
{
    const QString wtmp = privateTempPath("wtmp.bak");
    if (QFile::exists(wtmp)) {
        const QString dataMountPoint = mountDeviceFromUUID(m_dataUUID);
        // The restored var/log may be a link: the copy goes where it leads only inside the data partition.
        const QString logDir = MountPath::resolveInside(dataMountPoint, "var/log");
        qDebug().noquote() << "saved wtmp to recovery live, dataMountPoint: " + dataMountPoint + ", log dir: " + logDir;
        if (!logDir.isEmpty()) {
            SpawnCmd("sudo", {"cp", "-a", "--", wtmp, logDir + "/"});
        }
        if (!dataMountPoint.isEmpty()) {
            umountDeviceFromUUID(m_dataUUID);
        }
    }
    if (m_recoveryUUID.isEmpty()) {
        return;
    }
    const QString recoveryMountPoint = mountDeviceFromUUID(m_recoveryUUID);
    // Without a mount point the copies would land in the live system's root.
    if (recoveryMountPoint.isEmpty()) {
        qWarning().noquote() << "saveLogToRecovery, recovery partition not mounted, uuid: " + m_recoveryUUID;
        return;
    }
    SpawnCmd("sudo", {"cp", "-aR", "--", privateTempPath("event-log"), recoveryMountPoint + "/"});
    qDebug() << "saved event-log to recovery live";
    backupLog(LiveLogDir, "marlin-recovery-live", ".log", recoveryMountPoint);
    backupLog(LiveLogDir, "marlin-recovery-service", ".log", recoveryMountPoint);
    umountDeviceFromUUID(m_recoveryUUID);
    qDebug() << "saved log to recovery live";
}

QString privateTempPath(const QString& name)
{
    return QDir::current().absoluteFilePath(name);
}

void backupLog(const QString& dir, const QString& name, const QString& ext, const QString& destRoot)
{
    const QString recoveryLog = dir + name + ext;
    const QString recoveryOriginLog = destRoot + "/" + name + ext;
    const QString recoveryLogOld = destRoot + "/" + name + "-old" + ext;
    if (QFile::exists(recoveryOriginLog)) {
        SpawnCmd("sudo", {"cp", "-a", recoveryOriginLog, recoveryLogOld});
        qInfo().noquote() << "backupLog, backup recoveryOriginLog = " + recoveryOriginLog +
                                 ", recoveryLogOld = " + recoveryLogOld;
    }
    SpawnCmd("sudo", {"sed", "-i", "s?\\/home\\/.*\\/?\\/home\\/xxx\\/?g", recoveryLog});
    SpawnCmd("sudo", {"cp", "-a", recoveryLog, QString("%1/").arg(destRoot)});
    qInfo().noquote() << "backupLog, recoveryLog = " + recoveryLog + ", destPath = " + destRoot;
}
