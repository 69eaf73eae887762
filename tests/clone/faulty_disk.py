#!/usr/bin/python3
"""Serves a single file, "disk", backed by a real file, whose reads fail with EIO inside one byte range.

A loop device on it is a source disk with a bad region. Runs in the background once the mount is ready:
    faulty_disk.py BACKING_FILE MOUNT_POINT BAD_START BAD_END
"""
import errno
import os
import stat
import sys

from fusepy import FUSE, FuseOSError, Operations


class FaultyDisk(Operations):
    def __init__(self, backing, bad_start, bad_end):
        self.fd = os.open(backing, os.O_RDONLY)
        self.size = os.fstat(self.fd).st_size
        self.bad_start = bad_start
        self.bad_end = bad_end

    def getattr(self, path, fh=None):
        if path == "/":
            return {"st_mode": stat.S_IFDIR | 0o755, "st_nlink": 2}
        if path == "/disk":
            return {"st_mode": stat.S_IFREG | 0o444, "st_nlink": 1, "st_size": self.size}
        raise FuseOSError(errno.ENOENT)

    def readdir(self, path, fh):
        return [".", "..", "disk"]

    def open(self, path, flags):
        return 0

    def read(self, path, size, offset, fh):
        if offset < self.bad_end and offset + size > self.bad_start:
            raise FuseOSError(errno.EIO)
        return os.pread(self.fd, size, offset)


if __name__ == "__main__":
    backing, mount_point, bad_start, bad_end = sys.argv[1:5]
    # Not in the foreground: the call returns once the file system is mounted.
    FUSE(FaultyDisk(backing, int(bad_start), int(bad_end)), mount_point, foreground=False, nothreads=True, ro=True)
