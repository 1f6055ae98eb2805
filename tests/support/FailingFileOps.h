// File-system calls that fail the way real disks and folders do, for tests
// of the profile writes. Everything not replaced is the real call.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "profile/FileOps.h"

// The disk fills up after `bytes` bytes have been written.
inline vlx::FileOps DiskFullAfter(std::size_t bytes) {
  vlx::FileOps ops = vlx::FileOps::Posix();
  auto written = std::make_shared<std::size_t>(0);
  auto realWrite = ops.Write;
  ops.Write = [written, realWrite, bytes](int fd, const void* buf, size_t n) -> ssize_t {
    if (*written >= bytes) {
      errno = ENOSPC;
      return -1;
    }
    const ssize_t put = realWrite(fd, buf, std::min<size_t>(n, bytes - *written));
    if (put > 0) *written += static_cast<std::size_t>(put);
    return put;
  };
  return ops;
}

// No new file can be made in the folder (the file itself may be written).
inline vlx::FileOps FolderNotWritable() {
  vlx::FileOps ops = vlx::FileOps::Posix();
  ops.MkStemp = [](char*) {
    errno = EACCES;
    return -1;
  };
  return ops;
}

// Neither a new file in the folder nor the file itself can be written, as
// for a user who owns neither.
inline vlx::FileOps NothingWritable() {
  vlx::FileOps ops = FolderNotWritable();
  auto realOpen = ops.Open;
  ops.Open = [realOpen](const char* path, int flags, mode_t mode) {
    if ((flags & O_ACCMODE) != O_RDONLY) {
      errno = EACCES;
      return -1;
    }
    return realOpen(path, flags, mode);
  };
  return ops;
}

// The folder refuses replacing the file by renaming (EPERM for a sticky
// folder of another owner, EACCES for a folder without write permission).
inline vlx::FileOps RenameFailsWith(int error) {
  vlx::FileOps ops = vlx::FileOps::Posix();
  ops.Rename = [error](const char*, const char*) {
    errno = error;
    return -1;
  };
  return ops;
}

// The temporary file is gone when it is to replace the file.
inline vlx::FileOps FileVanishesBeforeTheRename() {
  vlx::FileOps ops = vlx::FileOps::Posix();
  ops.Rename = [](const char* from, const char*) {
    ::unlink(from);
    errno = ENOENT;
    return -1;
  };
  return ops;
}
