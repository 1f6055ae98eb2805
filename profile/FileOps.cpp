#include "profile/FileOps.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>

namespace vlx {

FileOps FileOps::Posix() {
  FileOps ops;
  ops.Open = [](const char* path, int flags, mode_t mode) { return ::open(path, flags | O_CLOEXEC, mode); };
  ops.MkStemp = [](char* pattern) { return ::mkostemp(pattern, O_CLOEXEC); };
  ops.Read = [](int fd, void* buf, size_t n) { return ::read(fd, buf, n); };
  ops.Write = [](int fd, const void* buf, size_t n) { return ::write(fd, buf, n); };
  ops.FSync = [](int fd) { return ::fsync(fd); };
  ops.Close = [](int fd) { return ::close(fd); };
  ops.Rename = [](const char* from, const char* to) { return std::rename(from, to); };
  return ops;
}

FileOps& ActiveFileOps() {
  static FileOps ops = FileOps::Posix();
  return ops;
}

ScopedFileOps::ScopedFileOps(FileOps ops) : saved_(ActiveFileOps()) { ActiveFileOps() = std::move(ops); }

ScopedFileOps::~ScopedFileOps() { ActiveFileOps() = std::move(saved_); }

}  // namespace vlx
