#pragma once

// A FUSE file system holding one read-only file, the image's device view: what the loop device of a mounted image
// reads. Served on the calling thread, one request at a time, until the file system is unmounted.

#include "ImageDeviceView.h"

#include <string>

struct fuse;

class ImageFileSystem
{
public:
    static constexpr const char* kFileName = "device";

    explicit ImageFileSystem(ImageDeviceView& view);
    ~ImageFileSystem();
    ImageFileSystem(const ImageFileSystem&) = delete;
    ImageFileSystem& operator=(const ImageFileSystem&) = delete;

    bool mount(const std::string& dir, std::string& error);
    // Returns when the file system is unmounted (or the process is told to stop).
    void serve();

private:
    ImageDeviceView& m_view;
    struct fuse* m_fuse = nullptr;
    bool m_mounted = false;
};
