#pragma once

// Base of the service's long operations: runs a list of copy jobs (partition images, tar archives) one after another
// through "sudo", turns their advance into progress, and offers what every task needs to know and do about the
// installed system (its partitions, mounting, boot repair, log preservation).

#include "FsTab.h"
#include "InstalledSystem.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPair>
#include <QProcess>
#include <QSet>
#include <QSharedPointer>
#include <QStringList>
#include <QTimer>

#include <chrono>

enum JobType
{
    ImageJob = 0,
    ArchiveCreateJob = 1,
    ArchiveExtractJob = 2,
    ArchiveAppendJob = 3,
    // tar writes the archive on its standard output, which the task that queued the job points at the archive's
    // file: "datainfo" of leadDir first, then the directory from.
    ArchiveStreamJob = 4,
};

struct Job
{
    int type = ImageJob;
    QSharedPointer<QProcess> process;
    QString to;
    QString from;
    QString leadDir;
    // An image job's chunk store; empty for a self-contained image.
    QString store;
    // A whole-disk image onto a smaller disk: the bytes its partitions need (marlin-clone --fit); 0 otherwise.
    qint64 fitBytes = 0;
};

class Task : public QObject
{
    Q_OBJECT

public:
    explicit Task(QObject* parent = nullptr);
    ~Task() override;

    // The job queued, to be completed by the caller before the task starts.
    Job& addJob(const QString& from, const QString& to, int type);
    // Archive paths below this mount point belong to the file system with uuid: should an image job unmount it
    // before the archive runs, it is mounted again (possibly elsewhere) and the paths follow.
    void rememberJobMount(const QString& mountPoint, const QString& uuid);
    void checkJobs();
    // Before the first write of a restore: every image job's image verified chunk by chunk and its target checked as
    // the job would (a block device, unmounted, opened exclusively, large enough), by the cloning tool itself. On a
    // refusal the task fails (a damaged image with damagedImageText) and false is returned. start() runs it too,
    // for a task that did not.
    bool checkImageJobs(const QString& damagedImageText);
    void start();
    // How long one job may run before it is stopped and the task fails (a day unless set).
    void setJobTimeLimit(std::chrono::seconds limit);
    void reportFailure(const QString& message);
    // A failure of the work itself: the person is pointed to the preserved log.
    void reportJobFailure();
    float progressRatio() const;
    bool compareVersion(const QString& ver1, const QString& ver2) const;
    bool checkMD5(const QString& rbkFile, const QString& rbkMd5File);
    void deleteOptAndVar(const QString& path);
    // chattr -i and rm -rf of one path through sudo, never following it when it is a link; rm's result.
    static bool removeForcibly(const QString& path);

    // The installed system's partitions and edition, from the command line, its root and its recovery partition.
    void getSystemUUID();
    // After the images are written: what only the installed root tells (fstab, edition, locale), when the root
    // could not be read before.
    void refreshRootFacts();
    QString mountDeviceFromUUID(const QString& uuid) const;
    // Mounts it read-only, now and whenever a job mounts it again (unless it was mounted already, as it is).
    QString mountReadOnlyFromUUID(const QString& uuid);
    // Unmounts what mountReadOnlyFromUUID mounted: left so, the partition could not be written afterwards.
    void releaseReadOnlyMounts();
    QString devicePathFromUUID(const QString& uuid);
    // Where an image of the file system with this UUID goes back: its device, or the partition that held it when
    // its start is destroyed (a root that no longer mounts, a restore cut off).
    QString targetPathFromUUID(const QString& uuid);
    void umountDeviceFromUUID(const QString& uuid);
    bool isMountedUUID(const QString& uuid) const;
    // The disk the installed system lives on and the look-ups by UUID restricted to it.
    const InstalledSystem& installedSystem() const { return m_system; }
    // Fails the task when the system's disk or one of its partitions could not be told from a copy; true then.
    bool refuseAmbiguousSystem();
    // One of the installed system's own partitions: its root, its data or recovery partition, or one its fstab
    // names. Never the empty UUID.
    bool isSystemPartition(const QString& uuid) const;
    // Unmounts a block device, or every partition of it when it is a whole disk.
    void umountDevicePath(const QString& devicePath);
    QPair<QString, QString> driveAndDiskFromUUID(const QString& uuid);
    QString diskPathFromDrive(const QString& drive);
    QStringList getDevicePathsFromDrive(const QString& drive);
    QMap<QString, QString> getUUIDFromFstab();
    bool convertVersion(const QString& rootUUID);

    void resetEFI();

    bool writeEventLog(const QJsonObject& record, const QString& dir);
    void saveLogToRecovery();

    QString rootUUID() const { return m_rootUUID; }
    QString dataUUID() const { return m_dataUUID; }
    QString recoveryUUID() const { return m_recoveryUUID; }
    QString originRootUUID() const { return m_originRootUUID; }
    QString desktopType() const { return m_desktopType; }
    QString systemLocale() const { return m_systemLocale; }
    QString curVerSysType() const { return m_curVerSysType; }
    int osMinorVersion() const { return m_osMinorVersion; }
    bool isUEFI() const { return m_isUEFI; }
    bool isError() const { return m_isError; }
    // Whether the installed root could be read (its fstab, edition and locale are known).
    bool rootFactsRead() const { return m_rootFactsRead; }
    // What this restore is, recorded on the recovery partition before its first write and removed when it
    // succeeds, so that a run cut off halfway can be told and repeated.
    void setRestoreRequest(const QString& method, const QJsonObject& request);
    QList<Job> jobs() const { return m_jobs; }

signals:
    void taskFinished();
    void finished();
    void failed(QString error);
    void progressChanged(int value);

public slots:
    virtual void runTasks(const QJsonArray& tasks);

private:
    void onJobFinished(int exitCode, QProcess::ExitStatus exitStatus);
    void onImageJobOutput();
    void startJobProcess(QStringList args);
    void onJobTimedOut();
    bool settleWrittenDisk(const QString& disk);
    QStringList jobArguments(const Job& job) const;
    void remountJobPaths(Job& job);
    QString osVersionFile(const QString& mountPoint) const;
    void readRootFacts(const QString& rootPath);
    QString dataUUIDFromFstab() const;
    BlockEntry deviceOfUUID(const QString& uuid) const;
    QString mountEntry(const BlockEntry& entry, const QVariantMap& options) const;
    void readRecoveryRecords();
    void writeRestoreMark();
    void removeRestoreMark();
    void clearExtractTarget(const QString& directory);
    // What an extraction into directory cut off or failed left beside it.
    void removeExtractStaging(const QString& directory);
    bool closeOpenedMapping();
    bool checkImageJob(const Job& job, const QString& damagedImageText);

protected:
    // Where the recovery partition is mounted (mounted now when it was not), for the record of a restore.
    virtual QString recoveryMountPoint();
    // What a failed job tells the person.
    virtual QString jobFailureText() const;

    QString m_mountBaseDir = "/tmp/ivy";
    QString m_diskInfoName = "DiskInfo";
    QString m_infoVersion = "1.1";
    QSharedPointer<QProcess> m_process;
    QList<Job> m_jobs;
    float m_currentIndex = 0;
    float m_taskCount = 0;
    bool m_isError = false;
    // What the running job printed on its standard error.
    QString m_jobErrors;
    QTimer m_jobTimer;
    std::chrono::seconds m_jobTimeLimit{0};
    // The tool the running job runs under sudo, for the log.
    QString m_jobTool;
    bool m_jobTimedOut = false;

    InstalledSystem m_system;
    QString m_rootUUID;
    QString m_recoveryUUID;
    QString m_dataUUID;
    QString m_desktopType;
    QString m_systemLocale;
    QString m_originRootUUID;
    FSTabInfoList m_fstabList;
    QStringList m_fstabUUIDs;
    QMap<QString, FSTabInfo> m_uuidMap;
    int m_osMinorVersion = 0;
    bool m_isUEFI = false;
    QString m_curVerSysType;
    QString m_restoreVerSysType;
    QString m_openedMapperPath;
    QMap<QString, QString> m_jobMounts;
    QSet<QString> m_readOnlyUUIDs;
    bool m_rootFactsRead = false;
    QString m_restoreMethod;
    QJsonObject m_restoreRequest;
    bool m_markWritten = false;
    bool m_imagesChecked = false;
};

// name in the service's private working directory (made by main, readable by root alone): what root keeps aside for
// a moment never lies at a path that another account could have planted a link on.
QString privateTempPath(const QString& name);
// Copies the live log dir + name + ext into destRoot, keeping the previous copy under name + "-old" + ext.
void backupLog(const QString& dir, const QString& name, const QString& ext, const QString& destRoot);
