#include "BlockDevice.h"

#include "FileIo.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <vector>

namespace {
std::string canonical(const std::string& path)
{
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

bool deviceOf(const std::string& path, dev_t& device)
{
    struct stat status
    {
    };
    if (::stat(path.c_str(), &status) != 0 || !S_ISBLK(status.st_mode)) {
        return false;
    }
    device = status.st_rdev;
    return true;
}

std::string sysfsDir(dev_t device)
{
    return "/sys/dev/block/" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
}

// The partitions of a whole disk, as device numbers read from sysfs.
std::vector<dev_t> partitionsOf(dev_t disk)
{
    std::vector<dev_t> found;
    const std::string base = sysfsDir(disk);
    DIR* dir = ::opendir(base.c_str());
    if (!dir) {
        return found;
    }
    while (const dirent* entry = ::readdir(dir)) {
        std::string text;
        const std::string child = base + "/" + entry->d_name;
        if (entry->d_name[0] == '.' || ::access((child + "/partition").c_str(), F_OK) != 0 ||
            !FileIo::readWholeFile(child + "/dev", text, 64)) {
            continue;
        }
        unsigned int maj = 0;
        unsigned int min = 0;
        if (std::sscanf(text.c_str(), "%u:%u", &maj, &min) == 2) {
            found.push_back(makedev(maj, min));
        }
    }
    ::closedir(dir);
    return found;
}
} // namespace

bool BlockDevice::isBlockDevice(const std::string& path)
{
    dev_t device = 0;
    return deviceOf(path, device);
}

bool BlockDevice::sizeOf(int fd, uint64_t& bytes)
{
    return ::ioctl(fd, BLKGETSIZE64, &bytes) == 0;
}

uint32_t BlockDevice::logicalSectorSize(int fd)
{
    int size = 0;
    if (::ioctl(fd, BLKSSZGET, &size) != 0 || size < 512) {
        return 512;
    }
    return static_cast<uint32_t>(size);
}

std::string BlockDevice::usage(const std::string& path)
{
    dev_t device = 0;
    if (!deviceOf(path, device)) {
        return {};
    }
    const std::string canonicalPath = canonical(path);
    std::string where = mountPointOf(device, canonicalPath);
    if (!where.empty()) {
        return "mounted on " + where;
    }
    if (isActiveSwap(canonicalPath)) {
        return "in use as swap";
    }
    for (const dev_t partition : partitionsOf(device)) {
        where = mountPointOf(partition, {});
        if (!where.empty()) {
            return "has a partition mounted on " + where;
        }
    }
    return {};
}

std::string BlockDevice::writableMountOf(const std::string& path)
{
    dev_t device = 0;
    if (!deviceOf(path, device)) {
        return {};
    }
    std::string where = mountPointOf(device, canonical(path), true);
    for (const dev_t partition : partitionsOf(device)) {
        where = where.empty() ? mountPointOf(partition, {}, true) : where;
    }
    return where;
}

std::string BlockDevice::mountPointOf(dev_t device, const std::string& canonicalPath, bool writableOnly)
{
    std::string table;
    if (!FileIo::readWholeFile("/proc/self/mountinfo", table, 64u << 20)) {
        return {};
    }
    const std::string number = std::to_string(major(device)) + ":" + std::to_string(minor(device));
    std::istringstream lines(table);
    std::string line;
    while (std::getline(lines, line)) {
        // id parent major:minor root mount-point options [optional...] - type source super-options
        std::istringstream fields(line);
        std::string id, parent, devNumber, root, mountPoint, field;
        fields >> id >> parent >> devNumber >> root >> mountPoint;
        std::string source;
        std::string superOptions;
        while (fields >> field) {
            if (field == "-") {
                fields >> field >> source >> superOptions;
                break;
            }
        }
        // The file system's own options: a read-only bind of a writable file system still changes underneath.
        const bool writable = superOptions.compare(0, 2, "rw") == 0;
        // btrfs reports an anonymous device number, so the mount source is compared as well.
        const bool matches =
            devNumber == number || (!canonicalPath.empty() && !source.empty() && canonical(source) == canonicalPath);
        if (matches && (writable || !writableOnly)) {
            return mountPoint;
        }
    }
    return {};
}

bool BlockDevice::isActiveSwap(const std::string& canonicalPath)
{
    std::string table;
    if (!FileIo::readWholeFile("/proc/swaps", table, 1u << 20)) {
        return false;
    }
    std::istringstream lines(table);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string name;
        fields >> name;
        if (!name.empty() && name[0] == '/' && canonical(name) == canonicalPath) {
            return true;
        }
    }
    return false;
}

int BlockDevice::openExclusive(const std::string& path, int flags)
{
    return ::open(path.c_str(), flags | O_EXCL | O_CLOEXEC);
}

bool BlockDevice::isWholeDisk(const std::string& path)
{
    dev_t device = 0;
    if (!deviceOf(path, device)) {
        return false;
    }
    return ::access((sysfsDir(device) + "/partition").c_str(), F_OK) != 0;
}

bool BlockDevice::rereadPartitions(int fd)
{
    return ::ioctl(fd, BLKRRPART) == 0;
}
