#include "dbus/CallerCheck.h"

#include <QFile>
#include <QList>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace {

// Field 22 of the stat line is the 20th after the command name's closing parenthesis.
const int StartTimeFieldAfterName = 19;

bool groupId(const char* name, gid_t& gid)
{
    std::vector<char> buffer(16384);
    group entry{};
    group* found = nullptr;
    if (getgrnam_r(name, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) {
        return false;
    }
    gid = found->gr_gid;
    return true;
}

} // namespace

namespace CallerCheck {

bool isAdministrator(uint uid)
{
    if (uid == 0) {
        return true;
    }
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    gid_t administrators = 0;
    if (getpwuid_r(uid_t(uid), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr ||
        !groupId(AdministratorsGroup, administrators)) {
        return false;
    }
    int count = 64;
    std::vector<gid_t> groups(size_t(count), 0);
    if (getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0) {
        groups.resize(size_t(count));
        if (getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0) {
            return false;
        }
    }
    groups.resize(size_t(count));
    for (const gid_t gid : groups) {
        if (gid == administrators) {
            return true;
        }
    }
    return false;
}

quint64 startTimeFromStat(const QByteArray& stat)
{
    const int nameEnd = stat.lastIndexOf(')');
    if (nameEnd < 0) {
        return 0;
    }
    const QList<QByteArray> fields = stat.mid(nameEnd + 1).simplified().split(' ');
    if (fields.size() <= StartTimeFieldAfterName) {
        return 0;
    }
    bool ok = false;
    const quint64 ticks = fields.at(StartTimeFieldAfterName).toULongLong(&ok);
    return ok ? ticks : 0;
}

quint64 processStartTime(uint pid)
{
    QFile stat(QString("/proc/%1/stat").arg(pid));
    if (pid == 0 || !stat.open(QIODevice::ReadOnly)) {
        return 0;
    }
    return startTimeFromStat(stat.readAll());
}

CallerProcess callerProcess(uint pid)
{
    CallerProcess process;
    process.pid = pid;
    process.startTime = processStartTime(pid);
    struct stat exe
    {
    };
    // stat() follows the link to the file itself, also when it was deleted or replaced since.
    if (pid != 0 && stat(QString("/proc/%1/exe").arg(pid).toLocal8Bit().constData(), &exe) == 0) {
        process.exeDevice = quint64(exe.st_dev);
        process.exeInode = quint64(exe.st_ino);
    }
    return process;
}

} // namespace CallerCheck
