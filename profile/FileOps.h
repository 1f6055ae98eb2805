// The file-system calls the profile and settings files go through. Tests
// swap single calls for failing ones (a full disk, a folder that cannot be
// written, a file that vanishes) while everything else stays the real path.
#pragma once

#include <sys/types.h>

#include <functional>

namespace vlx {

struct FileOps {
  std::function<int(const char* path, int flags, mode_t mode)> Open;
  std::function<int(char* pattern)> MkStemp;
  std::function<ssize_t(int fd, void* buf, size_t n)> Read;
  std::function<ssize_t(int fd, const void* buf, size_t n)> Write;
  std::function<int(int fd)> FSync;
  std::function<int(int fd)> Close;
  std::function<int(const char* from, const char* to)> Rename;

  static FileOps Posix();
};

// The calls in use; Posix() unless a test has put others in place.
FileOps& ActiveFileOps();

// Puts ops in place for the lifetime of the guard.
class ScopedFileOps {
 public:
  explicit ScopedFileOps(FileOps ops);
  ~ScopedFileOps();
  ScopedFileOps(const ScopedFileOps&) = delete;
  ScopedFileOps& operator=(const ScopedFileOps&) = delete;

 private:
  FileOps saved_;
};

}  // namespace vlx
