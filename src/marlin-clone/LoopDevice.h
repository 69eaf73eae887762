#pragma once

// Loop devices set up without a tool: a free one is taken from /dev/loop-control and configured in one step.

#include <string>

class LoopDevice
{
public:
    // Attaches the open file read-only with autoclear (the device goes when its last user closes it); the open
    // device, or -1 with error. device receives its path.
    static int attachReadOnly(int fileFd, std::string& device, std::string& error);
    // The file a loop device (e.g. "/dev/loop3") is attached to; empty when it is none or free.
    static std::string backingFile(const std::string& device);
};
