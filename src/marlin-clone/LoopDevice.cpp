#include "LoopDevice.h"

#include "FileIo.h"
#include "UniqueFd.h"

#include <fcntl.h>
#include <linux/loop.h>
#include <sys/ioctl.h>

#include <cerrno>

namespace {
// Another process may take the free device between asking and configuring it; then ask again.
constexpr int kAttempts = 16;
} // namespace

int LoopDevice::attachReadOnly(int fileFd, std::string& device, std::string& error)
{
    UniqueFd control(::open("/dev/loop-control", O_RDWR | O_CLOEXEC));
    if (!control.valid()) {
        error = "cannot open /dev/loop-control: " + FileIo::errorText(errno);
        return -1;
    }
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const int number = ::ioctl(control.get(), LOOP_CTL_GET_FREE);
        if (number < 0) {
            error = "no free loop device: " + FileIo::errorText(errno);
            return -1;
        }
        device = "/dev/loop" + std::to_string(number);
        UniqueFd loop(::open(device.c_str(), O_RDONLY | O_CLOEXEC));
        if (!loop.valid()) {
            error = "cannot open " + device + ": " + FileIo::errorText(errno);
            return -1;
        }
        loop_config config{};
        config.fd = static_cast<__u32>(fileFd);
        config.info.lo_flags = LO_FLAGS_READ_ONLY | LO_FLAGS_AUTOCLEAR;
        if (::ioctl(loop.get(), LOOP_CONFIGURE, &config) == 0) {
            return loop.release();
        }
        if (errno != EBUSY) {
            error = "cannot attach " + device + ": " + FileIo::errorText(errno);
            return -1;
        }
    }
    error = "no loop device stayed free";
    return -1;
}

std::string LoopDevice::backingFile(const std::string& device)
{
    const std::string name = FileIo::baseName(device);
    std::string content;
    if (name.compare(0, 4, "loop") != 0 ||
        !FileIo::readWholeFile("/sys/block/" + name + "/loop/backing_file", content, 4096)) {
        return std::string();
    }
    while (!content.empty() && content.back() == '\n') {
        content.pop_back();
    }
    return content;
}
