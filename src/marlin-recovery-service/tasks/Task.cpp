#include "tasks/Task.h"

#include "core/ToolPath.h"
#include "core/ToolTimeout.h"
#include "core/command.h"
#include "tasks/ArchiveExtract.h"
#include "tasks/RestoreDisks.h"
#include "tasks/WholeDisk.h"
#include "utils.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStorageInfo>
#include <QTimer>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>

namespace {

// The check before writing and the restore itself must agree on how far a smaller disk takes the image.
QStringList fitArguments(const Job& job)
{
    return job.fitBytes > 0 ? QStringList{"--fit", QString::number(job.fitBytes)} : QStringList();
}

// What a failed job shows the user: where the preserved service log will be found.
const QString JobFailureText = "/recovery/marlin-recovery-service.log";

// The image tool's progress never goes back, across the jobs of the whole service run.
float g_lastImageProgress = 1.0f;

QString lastComponent(const QString& path)
{
    return path.split('/').constLast().simplified();
}

QString parentWithSlash(const QString& path)
{
    return path.left(path.lastIndexOf('/') + 1);
}

// An image job that writes a device (a backup writes a file below a mount point).
bool restoresImage(const Job& job)
{
    return job.type == ImageJob && job.to.startsWith("/dev/");
}

// The cloning tool's exit code (-1 when it did not end normally), its error output in err.
int runTool(const QStringList& args, QString& err)
{
    QProcessEnvironment environment;
    environment.insert("LC_ALL", "C");
    QString output;
    QString errors;
    const int code = SpawnCmdExitCode("sudo", args, environment, output, errors);
    err = errors.trimmed();
    return code;
}

// marlin-clone --verify-restore: the device is refused (missing, in use, too small).
const int TargetRefused = 4;

// The digest a checksum file of a backup names: read only from a regular file of at most 1 KiB (never through a
// link, which could make it the first word of any file of the system), and only when it is one. Empty otherwise.
QString digestIn(const QString& md5File)
{
    const int fd = ::open(QFile::encodeName(md5File).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    struct stat info
    {
    };
    QFile file;
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > 1024 ||
        !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        if (fd >= 0) {
            ::close(fd);
        }
        return QString();
    }
    const QString digest = QString::fromLatin1(file.read(1024)).split(' ').constFirst().trimmed();
    static const QRegularExpression md5Digest("^[0-9a-f]{32}$");
    return md5Digest.match(digest).hasMatch() ? digest : QString();
}

} // namespace

Task::Task(QObject* parent) : QObject(parent)
{
    m_jobTimer.setSingleShot(true);
    setJobTimeLimit(ToolTimeout::Long);
    connect(&m_jobTimer, &QTimer::timeout, this, &Task::onJobTimedOut);
    getSystemUUID();
    // First of all receivers: the record is gone before anyone hears of the success.
    connect(this, &Task::finished, this, &Task::removeRestoreMark);
}

Task::~Task() = default;

void Task::runTasks(const QJsonArray& tasks)
{
    Q_UNUSED(tasks)
}

Job& Task::addJob(const QString& from, const QString& to, int type)
{
    Job job;
    job.type = type;
    job.process = QSharedPointer<QProcess>(new QProcess(this));
    job.from = from;
    job.to = to;
    // After every job of a lower or equal type: images first, then archive creations, extractions, appends.
    auto at = m_jobs.begin();
    while (at != m_jobs.end() && at->type <= type) {
        ++at;
    }
    m_taskCount += 1;
    return *m_jobs.insert(at, job);
}

void Task::rememberJobMount(const QString& mountPoint, const QString& uuid)
{
    m_jobMounts.insert(mountPoint, uuid);
}

void Task::remountJobPaths(Job& job)
{
    for (auto it = m_jobMounts.begin(); it != m_jobMounts.end(); ++it) {
        const QString mountPoint = it.key();
        const bool concerned = job.to.startsWith(mountPoint + "/") || job.from.startsWith(mountPoint + "/");
        if (!concerned || QStorageInfo(mountPoint).rootPath() == mountPoint) {
            continue;
        }
        const QString mountedAgain = mountDeviceFromUUID(it.value());
        qInfo().noquote() << "mounted again for a job: " + it.value() + " at " + mountedAgain;
        if (mountedAgain.isEmpty()) {
            continue;
        }
        const auto follow = [&](QString& path) {
            if (path.startsWith(mountPoint + "/")) {
                path.replace(0, mountPoint.size(), mountedAgain);
            }
        };
        for (Job& pending : m_jobs) {
            follow(pending.to);
            follow(pending.from);
        }
        job = m_jobs.constFirst();
        m_jobMounts.insert(mountedAgain, it.value());
        m_jobMounts.erase(it);
        return;
    }
}

void Task::checkJobs()
{
    // A target found on a copy of the system's partitions is never written.
    if (m_isError || refuseAmbiguousSystem()) {
        return;
    }
    if (m_jobs.isEmpty()) {
        m_isError = true;
        Q_EMIT failed(QCoreApplication::translate("Task", "Failed to initialize the task"));
        return;
    }
    qDebug() << "task count:" << m_taskCount;
}

bool Task::checkImageJobs(const QString& damagedImageText)
{
    m_imagesChecked = true;
    bool restores = false;
    for (const Job& job : std::as_const(m_jobs)) {
        restores = restores || restoresImage(job);
    }
    if (!restores) {
        return !m_isError;
    }
    // What the service holds itself comes off first, as before every image job: the checks see the targets as
    // the jobs will.
    if (!m_openedMapperPath.isEmpty() && !closeOpenedMapping()) {
        reportJobFailure();
        return false;
    }
    for (const Job& job : std::as_const(m_jobs)) {
        if (restoresImage(job)) {
            umountDevicePath(job.to);
        }
    }
    for (const Job& job : std::as_const(m_jobs)) {
        if (restoresImage(job) && !checkImageJob(job, damagedImageText)) {
            return false;
        }
    }
    return !m_isError;
}

bool Task::checkImageJob(const Job& job, const QString& damagedImageText)
{
    QString err;
    const int code =
        runTool(QStringList{"marlin-clone", "--verify-restore"} + fitArguments(job) << job.from << job.to, err);
    if (code == 0) {
        qInfo().noquote() << "checked before writing: " + job.from + " onto " + job.to;
        return true;
    }
    qCritical().noquote() << "refused before the first write: " + job.from + " onto " + job.to + ": " + err;
    if (code == TargetRefused) {
        reportFailure(QCoreApplication::translate("Task", "The restore cannot write %1: it is missing, in use or too "
                                                          "small. Nothing was written.")
                          .arg(job.to));
    } else {
        reportFailure(damagedImageText);
    }
    return false;
}

void Task::reportFailure(const QString& message)
{
    m_isError = true;
    Q_EMIT failed(message);
}

void Task::reportJobFailure()
{
    reportFailure(jobFailureText());
}

QString Task::jobFailureText() const
{
    return JobFailureText;
}

float Task::progressRatio() const
{
    for (const Job& job : m_jobs) {
        if (job.type != ImageJob) {
            return m_currentIndex <= 2.0f ? 2 * m_currentIndex / m_taskCount : 1.0f;
        }
    }
    return m_currentIndex / m_taskCount;
}

QStringList Task::jobArguments(const Job& job) const
{
    const QStringList tar{"tar", "--xattrs", "--xattrs-include=*"};
    switch (job.type) {
    case ImageJob: {
        QStringList args{"marlin-clone", "--tui"};
        if (!job.store.isEmpty()) {
            args << "--store" << job.store;
        }
        return args + fitArguments(job) << job.from << job.to;
    }
    case ArchiveCreateJob:
        return tar + QStringList{"-cpf", job.to, "-C", parentWithSlash(job.from), lastComponent(job.from)};
    case ArchiveExtractJob:
        return ArchiveExtract::arguments(job.from, parentWithSlash(job.to), lastComponent(job.to));
    case ArchiveAppendJob:
        return tar + QStringList{"-rpf", job.to, "-C", parentWithSlash(job.from), lastComponent(job.from)};
    case ArchiveStreamJob:
        // In the C locale past sudo, which keeps none: the task reads tar's complaint of a full disk.
        return QStringList{"env", "LC_ALL=C"} + tar + QStringList{"-cpf",
                                                                  "-",
                                                                  "-C",
                                                                  job.leadDir,
                                                                  "datainfo",
                                                                  "-C",
                                                                  parentWithSlash(job.from),
                                                                  lastComponent(job.from)};
    default:
        return {};
    }
}

// An encrypted root's container is written only with its mapping closed: the tool opens the device exclusively,
// and a mapping left open would write its stale view over the new image.
bool Task::closeOpenedMapping()
{
    umountDevicePath(m_openedMapperPath);
    QString out;
    QString err;
    if (!SpawnCmd("cryptsetup", {"close", m_openedMapperPath}, out, err)) {
        qCritical().noquote() << "cannot close " + m_openedMapperPath + " before writing its container: " + err;
        return false;
    }
    qInfo().noquote() << "closed " + m_openedMapperPath + " before writing its container";
    m_openedMapperPath.clear();
    return true;
}

void Task::start()
{
    qDebug() << "is error:" << m_isError;
    if (m_isError) {
        return;
    }
    if (m_jobs.isEmpty()) {
        ::sync();
        Q_EMIT taskFinished();
        return;
    }
    if (!m_imagesChecked && !checkImageJobs(JobFailureText)) {
        return;
    }
    m_currentIndex = std::min(m_currentIndex + 1, m_taskCount);
    qDebug() << "currentIndex:" << m_currentIndex << "taskCount:" << m_taskCount;

    if (!m_restoreMethod.isEmpty() && !m_markWritten) {
        writeRestoreMark();
    }
    Job job = m_jobs.constFirst();
    if (job.type == ImageJob && !m_openedMapperPath.isEmpty() && !closeOpenedMapping()) {
        reportJobFailure();
        return;
    }
    if (job.type != ImageJob) {
        remountJobPaths(job);
    }
    if (job.type == ArchiveExtractJob) {
        clearExtractTarget(job.to);
    }
    m_process = job.process;
    QProcessEnvironment environment;
    environment.insert("LC_ALL", "C");
    environment.insert("PATH", ToolPath::childPath());
    m_process->setProcessEnvironment(environment);
    if (job.type != ImageJob) {
        Q_EMIT progressChanged(int(std::trunc(progressRatio() * 99)));
    }
    QProcess* process = m_process.data();
    connect(process, &QProcess::finished, this, &Task::onJobFinished);
    m_jobErrors.clear();
    connect(process, &QProcess::readyReadStandardError, this, [this, process]() {
        const QString text = QString::fromUtf8(process->readAllStandardError());
        m_jobErrors += text;
        qWarning().noquote() << text;
    });
    // A job that cannot even start gives no finished notification: fail instead of waiting forever.
    connect(process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            m_jobTimer.stop();
            reportJobFailure();
        }
    });
    if (job.type == ImageJob) {
        connect(process, &QProcess::readyReadStandardOutput, this, &Task::onImageJobOutput);
    }
    qDebug() << "job start:" << job.from << "to" << job.to;
    // Writing an image under a mounted file system corrupts it: the target must be free.
    if (job.type == ImageJob && Utils::isBlockDevice(job.to)) {
        umountDevicePath(job.to);
    }
    // Nor may a file system change while it is imaged: the copy would be torn. Archives made later mount it again.
    if (job.type == ImageJob && Utils::isBlockDevice(job.from)) {
        umountDevicePath(job.from);
    }
    const QStringList args = jobArguments(job);
    if (!args.isEmpty()) {
        startJobProcess(args);
    }
}

void Task::setJobTimeLimit(std::chrono::seconds limit)
{
    m_jobTimeLimit = limit;
    m_jobTimer.setInterval(std::chrono::milliseconds(limit));
}

// The job's tools by their absolute paths, and a bound on its time: a job that hangs fails the task instead of
// holding the service (and the person waiting) for ever.
void Task::startJobProcess(QStringList args)
{
    QString program = "sudo";
    int commandIndex = -1;
    if (!ToolPath::resolveCommand(program, args, &commandIndex)) {
        reportJobFailure();
        return;
    }
    m_jobTool = commandIndex < 0 ? program : args.at(commandIndex);
    m_jobTimedOut = false;
    m_jobTimer.start();
    m_process->start(program, args, QIODevice::ReadWrite);
}

void Task::onJobTimedOut()
{
    qCritical().noquote() << QString("timed out after %1 s: %2").arg(m_jobTimeLimit.count()).arg(m_jobTool);
    m_jobTimedOut = true;
    m_process->terminate();
    QProcess* process = m_process.data();
    QTimer::singleShot(std::chrono::milliseconds(ToolTimeout::Grace), process, [process] { process->kill(); });
}

void Task::onImageJobOutput()
{
    const QString text = QString::fromUtf8(m_process->readAllStandardOutput());
    const QString lastWord = text.split(' ').constLast().left(4);
    bool ok = false;
    float value = lastWord.toFloat(&ok);
    if (!ok) {
        value = 0;
    }
    const float progress = std::max(progressRatio() * value, g_lastImageProgress);
    g_lastImageProgress = progress;
    Q_EMIT progressChanged(int(std::trunc(progress + 0.5f)));
}

void Task::onJobFinished(int exitCode, QProcess::ExitStatus exitStatus)
{
    m_jobTimer.stop();
    if (exitCode == 0 && exitStatus == QProcess::NormalExit && !m_jobTimedOut) {
        const Job done = m_jobs.takeFirst();
        const bool wholeDisk = done.type == ImageJob && WholeDisk::isWholeDisk(done.to);
        // A GPT cut short on a smaller disk names sectors past its end: no tool takes it until its backup is moved.
        if (wholeDisk && done.fitBytes > 0 && !RestoreDisks::mendCutTable(done.to)) {
            reportJobFailure();
            return;
        }
        if (wholeDisk && !settleWrittenDisk(done.to)) {
            reportJobFailure();
            return;
        }
        // What comes next finds the written file system by its UUID.
        if (restoresImage(done) && !WholeDisk::isWholeDisk(done.to) && !WholeDisk::rereadFileSystem(done.to)) {
            qWarning().noquote() << "udisksd does not know the file system just written on " + done.to;
        }
        start();
        return;
    }
    if (!m_jobs.isEmpty() && m_jobs.constFirst().type == ArchiveExtractJob) {
        removeExtractStaging(m_jobs.constFirst().to);
    }
    reportJobFailure();
}

// Nothing opens a partition of a disk just written whole before the kernel's partitions and their buffers are those
// of the new table, and the restore counts only when every file system on it checks clean.
bool Task::settleWrittenDisk(const QString& disk)
{
    QStringList damaged;
    if (!WholeDisk::refreshPartitions(disk) || !WholeDisk::partitionsMatchTable(disk) ||
        !WholeDisk::waitForFileSystems(disk) || !WholeDisk::verifyFileSystems(disk, damaged)) {
        qCritical().noquote() << "the disk written whole is not sound: " + disk + ", damaged: " + damaged.join(' ');
        return false;
    }
    return true;
}

bool Task::compareVersion(const QString& ver1, const QString& ver2) const
{
    if (ver1.isEmpty() || ver2.isEmpty()) {
        qDebug() << "ver1 or ver2 is empty, can not compare!";
        return false;
    }
    const QString first1 = ver1.simplified().split('.').constFirst();
    const QString first2 = ver2.simplified().split('.').constFirst();
    return !(first1 > first2);
}

bool Task::checkMD5(const QString& rbkFile, const QString& rbkMd5File)
{
    qWarning().noquote().nospace() << "checkMD5, rbkFile:" << rbkFile << ", rbkMd5File:" << rbkMd5File;
    const QString md5 = digestIn(rbkMd5File);
    if (md5.isEmpty()) {
        qCritical().noquote() << "no digest in " + rbkMd5File + " (not a small regular file holding one)";
        return false;
    }
    QString output;
    QString err;
    if (!SpawnCmd("md5sum", {rbkFile}, output, err)) {
        qCritical().noquote().nospace() << "checkMD5 call md5sum failed: currMd5:" << output << ", err:" << err;
        return false;
    }
    const QString currMd5 = output.trimmed().split(' ').constFirst().trimmed();
    qWarning().noquote().nospace() << "md5:" << md5 << ", currMd5:" << currMd5;
    if (md5 == currMd5) {
        return true;
    }
    qCritical().noquote().nospace() << "check md5sum failed, md5:" << md5 << ", currMd5:" << currMd5;
    return false;
}

bool Task::removeForcibly(const QString& path)
{
    SpawnCmd("sudo", {"chattr", "-R", "-i", "--", path});
    return SpawnCmd("sudo", {"rm", "-rf", "--", path});
}

void Task::deleteOptAndVar(const QString& path)
{
    qDebug() << "start remove 'opt' and 'var' directory!";
    // No slash at the end: a restored opt or var that is a link is removed itself, never what it points to.
    SpawnCmd("sudo", {"chattr", "-R", "-i", "--", QString("%1/opt").arg(path)});
    SpawnCmd("sudo", {"chattr", "-R", "-i", "--", QString("%1/var").arg(path)});
    SpawnCmd("sudo", {"rm", "-rf", "--", QString("%1/opt").arg(path)});
    SpawnCmd("sudo", {"rm", "-rf", "--", QString("%1/var").arg(path)});
}
