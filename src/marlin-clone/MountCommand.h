#pragma once

// --mount and --unmount: the file system of an image shown read-only at a directory, and taken away again.
//
// --mount serves the image's device view from a FUSE daemon (its own session, so that it outlives the caller's
// process group) in a private directory under kRunDirectory, attaches that file read-only to a loop device with
// autoclear and mounts the file system from it read-only without replaying its journal. --unmount finds all of it
// from the directory's mount: its loop device's backing file is the view in the private directory.

#include <string>

class MountCommand
{
public:
    static constexpr const char* kRunDirectory = "/run/marlin-clone";

    // 0 once dir shows the image's file system; 1 (with nothing left mounted or running) otherwise.
    static int mount(const std::string& image, const std::string& dir, const std::string& storeOverride);
    // 0 once the file system, its loop device, the view and its daemon are gone; 1 otherwise.
    static int unmount(const std::string& dir);
};
