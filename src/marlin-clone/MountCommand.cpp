#include "MountCommand.h"

#include "Console.h"
#include "FileIo.h"
#include "ImageDeviceView.h"
#include "ImageFileSystem.h"
#include "ImageReader.h"
#include "LoopDevice.h"
#include "UniqueFd.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {
constexpr const char* kViewName = "view";
constexpr const char* kPidName = "pid";
// How long --unmount waits for the kernel to let go of the loop device and for the daemon to end.
constexpr auto kReleaseTimeout = std::chrono::seconds(20);
constexpr auto kPollStep = std::chrono::milliseconds(10);

// Read-only, and nothing replayed: the backup must be shown as it was stored, and cannot be written anyway.
bool mountOptions(const std::string& type, std::string& options)
{
    if (type == "ext2") {
        options.clear();
    } else if (type == "ext3" || type == "ext4") {
        options = "noload";
    } else if (type == "xfs") {
        // nouuid: the source itself may be mounted.
        options = "norecovery,nouuid";
    } else if (type == "btrfs") {
        options = "rescue=nologreplay";
    } else {
        return false;
    }
    return true;
}

std::string resolved(const std::string& path)
{
    char buffer[PATH_MAX];
    return ::realpath(path.c_str(), buffer) == nullptr ? std::string() : std::string(buffer);
}

bool isEmptyDirectory(const std::string& path)
{
    struct stat status
    {
    };
    if (::lstat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        return false;
    }
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr) {
        return false;
    }
    bool empty = true;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        empty = empty && (name == "." || name == "..");
    }
    ::closedir(dir);
    return empty;
}

void removePrivateDirectory(const std::string& dir)
{
    ::unlink((dir + "/" + kPidName).c_str());
    ::rmdir((dir + "/" + kViewName).c_str());
    ::rmdir(dir.c_str());
}

bool makePrivateDirectory(std::string& dir, std::string& error)
{
    ::mkdir(MountCommand::kRunDirectory, 0700);
    std::string pattern = std::string(MountCommand::kRunDirectory) + "/mount.XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr || ::mkdir((pattern + "/" + kViewName).c_str(), 0700) != 0) {
        error = "cannot make a directory under " + std::string(MountCommand::kRunDirectory) + ": " +
                FileIo::errorText(errno);
        return false;
    }
    dir = pattern;
    return true;
}

// Mounts the view, says so on the pipe ("1", or "0" and why), then serves it until it is unmounted.
bool serveView(const ImageReader& image, const std::string& dir, int reply)
{
    ImageDeviceView view(image);
    ImageFileSystem fileSystem(view);
    std::string error;
    const std::string pid = std::to_string(::getpid()) + "\n";
    UniqueFd pidFile(::open((dir + "/" + kPidName).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!pidFile.valid() || !FileIo::writeAll(pidFile.get(), pid.data(), pid.size())) {
        error = "cannot write the daemon's pid file";
    } else if (fileSystem.mount(dir + "/" + kViewName, error)) {
        FileIo::writeAll(reply, "1", 1);
    }
    if (!error.empty()) {
        const std::string message = "0" + error;
        FileIo::writeAll(reply, message.data(), message.size());
        return false;
    }
    ::close(reply);
    pidFile.reset();
    // Nobody reads our output any more; a caller waiting for the end of it must not wait for us.
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        ::dup2(null, fd);
    }
    // Our working directory must not keep a file system busy.
    const bool inRoot = ::chdir("/") == 0;
    fileSystem.serve();
    return inRoot;
}

// The daemon: out of the caller's process group and session, so that a caller that kills its group on a time-out
// does not end it, serving until the view is unmounted; then its directory goes.
[[noreturn]] void runDaemon(const ImageReader& image, const std::string& dir, int reply)
{
    ::setsid();
    const bool served = serveView(image, dir, reply);
    removePrivateDirectory(dir);
    ::_exit(served ? 0 : 1);
}

// Starts the daemon; its pid once the view is mounted, -1 with error otherwise (then it is gone).
pid_t startDaemon(const ImageReader& image, const std::string& dir, std::string& error)
{
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        error = "cannot make a pipe: " + FileIo::errorText(errno);
        return -1;
    }
    UniqueFd readEnd(pipeFds[0]);
    UniqueFd writeEnd(pipeFds[1]);
    const pid_t pid = ::fork();
    if (pid < 0) {
        error = "cannot start the daemon: " + FileIo::errorText(errno);
        return -1;
    }
    if (pid == 0) {
        readEnd.reset();
        runDaemon(image, dir, writeEnd.release());
    }
    writeEnd.reset();
    std::string reply;
    char buffer[512];
    ssize_t done = 0;
    while ((done = ::read(readEnd.get(), buffer, sizeof buffer)) > 0 || (done < 0 && errno == EINTR)) {
        reply.append(buffer, static_cast<size_t>(std::max<ssize_t>(done, 0)));
    }
    if (reply == "1") {
        return pid;
    }
    ::waitpid(pid, nullptr, 0);
    error = reply.size() > 1 ? reply.substr(1) : "the daemon ended before serving the image";
    return -1;
}

// Unmounts the view, waiting while the kernel still holds it (a loop device letting go); true when it is gone.
bool unmountView(const std::string& view)
{
    const auto deadline = std::chrono::steady_clock::now() + kReleaseTimeout;
    while (::umount2(view.c_str(), 0) != 0) {
        if (errno == EINVAL || errno == ENOENT) {
            return true; // not mounted (any more)
        }
        if (errno != EBUSY || std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(kPollStep);
    }
    return true;
}

// Waits until the process ends (it is not our child); true when it did within the time-out.
bool waitForExit(pid_t pid)
{
    UniqueFd process(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    if (!process.valid()) {
        return errno == ESRCH;
    }
    pollfd entry{process.get(), POLLIN, 0};
    const int milliseconds = static_cast<int>(std::chrono::milliseconds(kReleaseTimeout).count());
    int ready = 0;
    while ((ready = ::poll(&entry, 1, milliseconds)) < 0 && errno == EINTR) {
    }
    return ready == 1;
}

// The file system on the loop device; the loop device stays only as long as the mount.
bool mountFromView(const std::string& view, const std::string& type, const std::string& dir, std::string& device,
                   std::string& error)
{
    std::string options;
    mountOptions(type, options);
    UniqueFd file(::open((view + "/" + ImageFileSystem::kFileName).c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.valid()) {
        error = "cannot open the image's device view: " + FileIo::errorText(errno);
        return false;
    }
    UniqueFd loop(LoopDevice::attachReadOnly(file.get(), device, error));
    if (!loop.valid()) {
        return false;
    }
    if (::mount(device.c_str(), dir.c_str(), type.c_str(), MS_RDONLY | MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
        error = "cannot mount the image's " + type + " file system: " + FileIo::errorText(errno);
        return false;
    }
    return true;
}

// Mount table fields write space, tab, newline and backslash as \\ooo.
std::string unescapeMountField(const std::string& field)
{
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            out += static_cast<char>(std::strtol(field.substr(i + 1, 3).c_str(), nullptr, 8));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

// The mount point's entry in /proc/self/mountinfo (the topmost when several): its source device.
std::string mountSource(const std::string& mountPoint)
{
    std::string table;
    if (!FileIo::readWholeFile("/proc/self/mountinfo", table, 64u << 20)) {
        return std::string();
    }
    std::string source;
    size_t start = 0;
    while (start < table.size()) {
        size_t end = table.find('\n', start);
        end = end == std::string::npos ? table.size() : end;
        const std::string line = table.substr(start, end - start);
        start = end + 1;
        std::vector<std::string> fields;
        size_t from = 0;
        while (from <= line.size()) {
            const size_t space = std::min(line.find(' ', from), line.size());
            fields.push_back(line.substr(from, space - from));
            from = space + 1;
        }
        size_t separator = 6;
        while (separator < fields.size() && fields[separator] != "-") {
            ++separator;
        }
        if (separator + 2 < fields.size() && unescapeMountField(fields[4]) == mountPoint) {
            source = unescapeMountField(fields[separator + 2]);
        }
    }
    return source;
}
} // namespace

int MountCommand::mount(const std::string& imagePath, const std::string& dirPath, const std::string& storeOverride)
{
    const std::string dir = resolved(dirPath);
    if (dir.empty() || !isEmptyDirectory(dir)) {
        Console::error("refusing to mount: " + dirPath + " is not an empty directory");
        return 1;
    }
    ImageReader image;
    image.useStore(storeOverride, true);
    std::string error;
    if (!image.open(imagePath, false, error)) {
        Console::error(imagePath + " is not a valid image (" + error + ")");
        return 1;
    }
    if (image.isStoreImage() && !image.store().isOpen()) {
        Console::error("the chunk store of " + imagePath + " cannot be used: " + image.storeError());
        return 1;
    }
    const std::string type = image.header().fsType;
    std::string options;
    if (!mountOptions(type, options)) {
        Console::error("refusing to mount: " + imagePath + " holds " + (type.empty() ? "nothing known" : type) +
                       ", not an ext2/3/4, xfs or btrfs file system");
        return 1;
    }
    std::string privateDir;
    if (!makePrivateDirectory(privateDir, error)) {
        Console::error(error);
        return 1;
    }
    const std::string view = privateDir + "/" + kViewName;
    const pid_t daemon = startDaemon(image, privateDir, error);
    std::string device;
    if (daemon < 0 || !mountFromView(view, type, dir, device, error)) {
        if (daemon >= 0) {
            // The loop device went with its last descriptor (autoclear); the view and the daemon follow.
            unmountView(view);
            ::waitpid(daemon, nullptr, 0);
        }
        removePrivateDirectory(privateDir);
        Console::error("cannot mount " + imagePath + ": " + error);
        return 1;
    }
    Console::info(imagePath + " (" + type + ") mounted read-only at " + dir + " from " + device);
    return 0;
}

int MountCommand::unmount(const std::string& dirPath)
{
    const std::string dir = resolved(dirPath);
    const std::string device = dir.empty() ? std::string() : mountSource(dir);
    const std::string backing = LoopDevice::backingFile(device);
    const std::string prefix = std::string(kRunDirectory) + "/";
    const std::string suffix = "/" + std::string(kViewName) + "/" + ImageFileSystem::kFileName;
    const bool ours = backing.size() > prefix.size() + suffix.size() &&
                      backing.compare(0, prefix.size(), prefix) == 0 &&
                      backing.compare(backing.size() - suffix.size(), suffix.size(), suffix) == 0;
    if (!ours) {
        Console::error("refusing to unmount: " + dirPath + " is no image mounted by marlin-clone --mount");
        return 1;
    }
    const std::string privateDir = backing.substr(0, backing.size() - suffix.size());
    std::string pidText;
    FileIo::readWholeFile(privateDir + "/" + kPidName, pidText, 64);
    const pid_t daemon = static_cast<pid_t>(std::atol(pidText.c_str()));
    if (::umount2(dir.c_str(), 0) != 0) {
        Console::error("cannot unmount " + dir + ": " + FileIo::errorText(errno));
        return 1;
    }
    // The loop device goes by itself (autoclear), maybe a moment after the unmount; the view is busy until then.
    const bool released = unmountView(privateDir + "/" + kViewName);
    const bool ended = daemon <= 0 || waitForExit(daemon);
    removePrivateDirectory(privateDir);
    if (!released || !ended) {
        Console::error(dir + " is unmounted, but " +
                       (released ? "the image's daemon did not end" : "its loop device did not let go of the image"));
        return 1;
    }
    Console::info(dir + " unmounted");
    return 0;
}
