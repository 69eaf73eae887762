#include "ImageFileSystem.h"

#define FUSE_USE_VERSION 35
#include <fuse.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace {
// The file never changes while mounted, so the kernel may keep everything it has read and looked up.
constexpr double kCacheSeconds = 86400;

ImageDeviceView& viewOf()
{
    return *static_cast<ImageDeviceView*>(fuse_get_context()->private_data);
}

bool isTheFile(const char* path)
{
    return path[0] == '/' && std::strcmp(path + 1, ImageFileSystem::kFileName) == 0;
}

void* init(fuse_conn_info*, fuse_config* config)
{
    config->kernel_cache = 1;
    config->entry_timeout = kCacheSeconds;
    config->attr_timeout = kCacheSeconds;
    config->negative_timeout = kCacheSeconds;
    return fuse_get_context()->private_data;
}

int getattr(const char* path, struct stat* status, fuse_file_info*)
{
    std::memset(status, 0, sizeof *status);
    if (std::strcmp(path, "/") == 0) {
        status->st_mode = S_IFDIR | 0500;
        status->st_nlink = 2;
        return 0;
    }
    if (!isTheFile(path)) {
        return -ENOENT;
    }
    status->st_mode = S_IFREG | 0400;
    status->st_nlink = 1;
    status->st_size = static_cast<off_t>(viewOf().size());
    return 0;
}

int readdir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*, fuse_readdir_flags)
{
    if (std::strcmp(path, "/") != 0) {
        return -ENOTDIR;
    }
    fill(buffer, ".", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    fill(buffer, "..", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    fill(buffer, ImageFileSystem::kFileName, nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    return 0;
}

int open(const char* path, fuse_file_info* info)
{
    if (!isTheFile(path)) {
        return -ENOENT;
    }
    // A backup is never written through its view.
    if ((info->flags & O_ACCMODE) != O_RDONLY) {
        return -EROFS;
    }
    info->keep_cache = 1;
    return 0;
}

int read(const char* path, char* buffer, size_t size, off_t offset, fuse_file_info*)
{
    if (!isTheFile(path) || offset < 0) {
        return -EINVAL;
    }
    return static_cast<int>(viewOf().read(reinterpret_cast<uint8_t*>(buffer), size, static_cast<uint64_t>(offset)));
}

fuse_operations operations()
{
    fuse_operations ops{};
    ops.init = init;
    ops.getattr = getattr;
    ops.readdir = readdir;
    ops.open = open;
    ops.read = read;
    return ops;
}
} // namespace

ImageFileSystem::ImageFileSystem(ImageDeviceView& view) : m_view(view) {}

ImageFileSystem::~ImageFileSystem()
{
    if (m_fuse == nullptr) {
        return;
    }
    if (m_mounted) {
        fuse_unmount(m_fuse);
    }
    fuse_destroy(m_fuse);
}

bool ImageFileSystem::mount(const std::string& dir, std::string& error)
{
    char program[] = "marlin-clone";
    char option[] = "-o";
    char options[] = "ro,fsname=marlin-clone";
    char* argv[] = {program, option, options, nullptr};
    fuse_args args = FUSE_ARGS_INIT(3, argv);
    const fuse_operations ops = operations();
    m_fuse = fuse_new(&args, &ops, sizeof ops, &m_view);
    if (m_fuse == nullptr) {
        error = "cannot set up the FUSE file system";
        return false;
    }
    if (fuse_mount(m_fuse, dir.c_str()) != 0) {
        error = "cannot mount the FUSE file system at " + dir;
        return false;
    }
    m_mounted = true;
    return true;
}

void ImageFileSystem::serve()
{
    fuse_session* session = fuse_get_session(m_fuse);
    fuse_set_signal_handlers(session);
    fuse_loop(m_fuse);
    fuse_remove_signal_handlers(session);
}
