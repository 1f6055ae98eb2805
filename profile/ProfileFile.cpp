#include "profile/ProfileFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "profile/Fields.h"
#include "profile/FileOps.h"

namespace vlx {

namespace {

std::string ParentDir(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Closes fd on every path out of a scope unless released.
class FdGuard {
 public:
  explicit FdGuard(int fd) : fd_(fd) {}
  ~FdGuard() {
    if (fd_ >= 0) ActiveFileOps().Close(fd_);
  }
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  int Get() const { return fd_; }

 private:
  int fd_;
};

void CloseChecked(FdGuard& fd, const std::string& path) {
  if (ActiveFileOps().Close(fd.Release()) != 0) RaiseInOutError(errno, path);
}

// Reads exactly n bytes; a file that ends first is "Read beyond end of file".
void ReadExactly(int fd, uint8_t* buf, std::size_t n, const std::string& path) {
  std::size_t done = 0;
  while (done < n) {
    const ssize_t got = ActiveFileOps().Read(fd, buf + done, n - done);
    if (got < 0) {
      if (errno == EINTR) continue;
      RaiseInOutError(errno, path);
    }
    if (got == 0) throw EInOutError(100, "Read beyond end of file");
    done += static_cast<std::size_t>(got);
  }
}

void WriteAll(int fd, const uint8_t* buf, std::size_t n, const std::string& path) {
  std::size_t done = 0;
  while (done < n) {
    const ssize_t put = ActiveFileOps().Write(fd, buf + done, n - done);
    if (put < 0) {
      if (errno == EINTR) continue;
      RaiseInOutError(errno, path);
    }
    if (put == 0) RaiseInOutError(ENOSPC, path);
    done += static_cast<std::size_t>(put);
  }
}

}  // namespace

std::string InOutErrorText(int err, const std::string& path) {
  switch (err) {
    case ENOENT:
      if (!path.empty() && !IsDirectory(ParentDir(path))) return "Invalid filename";
      return "File not found";
    case ENOTDIR:
    case ENAMETOOLONG:
    case EINVAL:
    case ELOOP:
      return "Invalid filename";
    case EMFILE:
    case ENFILE:
      return "Too many open files";
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
      return "File access denied";
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return "Disk full";
    case ENXIO:
      return "No reader at the other end";
    default:
      return "I/O error " + std::to_string(err);
  }
}

void RaiseInOutError(int err, const std::string& path) { throw EInOutError(err, InOutErrorText(err, path)); }

bool FileExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

namespace {

// One record of a file into the table, as loading takes it.
void LoadRecord(const uint8_t* bytes, TParaRecord& r) {
  const TParaRecord scratch = DecodeRecord(bytes);
  // Upper limits only (Fields.h: LoadedFieldValue).
  r.Value = LoadedFieldValue(FieldKind::Value, scratch.Value);
  r.Channel = LoadedFieldValue(FieldKind::Channel, scratch.Channel);
  r.Disabled = LoadedFieldValue(FieldKind::Disabled, scratch.Disabled);
  r.Name.assign(scratch.Name.str());
  r.NameEditorText.assign(scratch.NameEditorText.str());
  r.DataType = LoadedFieldValue(FieldKind::DataType, scratch.DataType);
  r.ControlMode = LoadedFieldValue(FieldKind::ControlMode, scratch.ControlMode);
  std::memcpy(r.Globals, scratch.Globals, sizeof r.Globals);
}

}  // namespace

void LoadProfileFile(const std::string& path, TParaTable& table) {
  FdGuard fd(ActiveFileOps().Open(path.c_str(), O_RDWR, 0));
  if (fd.Get() < 0) RaiseInOutError(errno, path);

  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0) RaiseInOutError(errno, path);
  if (S_ISDIR(st.st_mode)) RaiseInOutError(EISDIR, path);
  const auto wholeRecords = static_cast<std::size_t>(st.st_size) / RecordSize;
  // Records after the 21st have no place in the table and are not read.
  const std::size_t toRead = std::min<std::size_t>(wholeRecords, ControlCount);

  uint8_t buf[RecordSize];
  for (std::size_t k = 1; k <= toRead; ++k) {
    ReadExactly(fd.Get(), buf, RecordSize, path);
    LoadRecord(buf, table[static_cast<int>(k)]);
  }
  CloseChecked(fd, path);
}

bool ProfileFileMatches(const std::string& path, const TParaTable& table) {
  // Only a regular file can hold what SAVE writes; a FIFO or a device is
  // never opened here (opening a FIFO would wait for a writer).
  struct stat named {};
  if (::stat(path.c_str(), &named) != 0 || !S_ISREG(named.st_mode)) return false;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return false;
  struct stat st {};
  const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  std::vector<uint8_t> bytes;
  if (regular && static_cast<std::size_t>(st.st_size) <= 16 * ProfileSize) {
    uint8_t buf[4096];
    for (ssize_t got; (got = ::read(fd, buf, sizeof buf)) != 0;) {
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) break;
      bytes.insert(bytes.end(), buf, buf + got);
    }
  }
  ::close(fd);
  // SAVE writes 21 whole records: a file of any other size is not what it
  // would write.
  if (bytes.size() != ProfileSize) return false;
  TParaTable loaded = table;
  for (int k = 1; k <= ControlCount; ++k) LoadRecord(&bytes[(k - 1) * RecordSize], loaded[k]);
  return std::memcmp(loaded.Records.data(), table.Records.data(), sizeof table.Records) == 0;
}

std::vector<uint8_t> EncodeProfile(const TParaTable& table) {
  std::vector<uint8_t> bytes;
  bytes.reserve(ProfileSize);
  for (int n = 1; n <= ControlCount; ++n) {
    const auto rec = EncodeRecord(table[n]);
    bytes.insert(bytes.end(), rec.begin(), rec.end());
  }
  return bytes;
}

namespace {

// The folder refuses a file of ours (no write permission on it, or a sticky
// folder where another user's file cannot be replaced).
bool FolderRefuses(int err) { return err == EACCES || err == EPERM; }

// Writes bytes over the file itself: written from its start, cut to their
// length, flushed. The file keeps its owner, group, mode and links; a failure
// part-way can leave it mixed or short.
void WriteInPlace(const std::string& path, const std::vector<uint8_t>& bytes) {
  FdGuard fd(ActiveFileOps().Open(path.c_str(), O_WRONLY | O_CREAT, 0666));
  if (fd.Get() < 0) RaiseInOutError(errno, path);
  WriteAll(fd.Get(), bytes.data(), bytes.size(), path);
  if (::ftruncate(fd.Get(), static_cast<off_t>(bytes.size())) != 0) RaiseInOutError(errno, path);
  if (ActiveFileOps().FSync(fd.Get()) != 0) RaiseInOutError(errno, path);
  CloseChecked(fd, path);
}

// Writes bytes into what is no regular file: a FIFO gets them for the
// process reading it, a character device as it takes them. The open never
// waits: a FIFO that nobody reads is refused ("No reader at the other end")
// instead of hanging, and nothing is cut or made.
void WriteIntoSpecialFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  FdGuard fd(ActiveFileOps().Open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY, 0));
  if (fd.Get() < 0) RaiseInOutError(errno, path);
  // Once open, the bytes are written as to any file: waiting while the
  // reader takes them.
  const int flags = ::fcntl(fd.Get(), F_GETFL);
  if (flags < 0 || ::fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK) != 0) RaiseInOutError(errno, path);
  WriteAll(fd.Get(), bytes.data(), bytes.size(), path);
  // A pipe or a terminal has nothing to flush to a disk.
  if (ActiveFileOps().FSync(fd.Get()) != 0 && errno != EINVAL && errno != EROFS && errno != ENOTSUP)
    RaiseInOutError(errno, path);
  CloseChecked(fd, path);
}

// The name a chain of symbolic links ends in when that name does not exist
// yet; path itself when it is no link (or the chain loops or breaks).
std::string DanglingLinkTarget(const std::string& path) {
  std::string name = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (::lstat(name.c_str(), &st) != 0) return hops == 0 ? path : name;
    if (!S_ISLNK(st.st_mode)) return path;  // an existing file: realpath's business
    char buf[PATH_MAX];
    const ssize_t n = ::readlink(name.c_str(), buf, sizeof buf - 1);
    if (n <= 0) return path;
    std::string next(buf, static_cast<std::size_t>(n));
    if (next[0] != '/') {
      const auto slash = name.rfind('/');
      if (slash != std::string::npos) next = name.substr(0, slash + 1) + next;
    }
    name = next;
  }
  return path;
}

// Gives the temporary file the owner and group of the file it replaces, as
// far as this process may (root may give both; a user may give his own file
// a group he belongs to). True when both are as they were.
bool TakeOwnerAndGroup(int fd, const struct stat& was) {
  struct stat now {};
  if (::fstat(fd, &now) != 0) return false;
  if (now.st_uid != was.st_uid || now.st_gid != was.st_gid) {
    // One call for both, and where the owner cannot be given, the group on
    // its own. (A new file may have another group than the process's, in a
    // folder that passes its group on.)
    if (::fchown(fd, was.st_uid, was.st_gid) != 0 && now.st_gid != was.st_gid) {
      [[maybe_unused]] const int groupOnly = ::fchown(fd, static_cast<uid_t>(-1), was.st_gid);
    }
    if (::fstat(fd, &now) != 0) return false;
  }
  return now.st_uid == was.st_uid && now.st_gid == was.st_gid;
}

}  // namespace

void WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes) {
  // Write through a symbolic link to the file it names, not over the link;
  // a link to a file not made yet makes that file.
  std::string target = path;
  if (char resolved[PATH_MAX]; ::realpath(path.c_str(), resolved) != nullptr)
    target = resolved;
  else
    target = DanglingLinkTarget(path);

  struct stat st {};
  const bool exists = ::stat(target.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) RaiseInOutError(EISDIR, target);
  // A file the user may not write stays refused, as an in-place write would be.
  if (exists && ::access(target.c_str(), W_OK) != 0) RaiseInOutError(errno, target);
  if (exists && !S_ISREG(st.st_mode)) {
    // A FIFO or a character device is written into; a block device or a
    // socket is no place for a profile.
    if (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode)) return WriteIntoSpecialFile(target, bytes);
    RaiseInOutError(EACCES, target);
  }
  // A file with more names than this one stays one file under all of them.
  if (exists && st.st_nlink > 1) return WriteInPlace(target, bytes);

  const auto slash = target.rfind('/');
  const std::string dir = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  std::string pattern = dir + "." + base + ".XXXXXX";
  FdGuard fd(ActiveFileOps().MkStemp(pattern.data()));
  if (fd.Get() < 0) {
    // No temporary file beside it: the file is written in place.
    if (FolderRefuses(errno)) return WriteInPlace(target, bytes);
    RaiseInOutError(errno, target);
  }
  const std::string temp = pattern;

  try {
    if (exists) {
      // The replacement keeps the file's owner and group (root saving a
      // user's file, a member saving a file shared by its group). Where this
      // process may not give them, the file itself is written instead.
      if (!TakeOwnerAndGroup(fd.Get(), st)) {
        ActiveFileOps().Close(fd.Release());
        ::unlink(temp.c_str());
        return WriteInPlace(target, bytes);
      }
      // Then its mode, which a change of owner may have cut.
      ::fchmod(fd.Get(), st.st_mode & 07777);
    } else {
      const mode_t mask = ::umask(0);
      ::umask(mask);
      ::fchmod(fd.Get(), 0666 & ~mask);
    }
    WriteAll(fd.Get(), bytes.data(), bytes.size(), target);
    if (ActiveFileOps().FSync(fd.Get()) != 0) RaiseInOutError(errno, target);
    CloseChecked(fd, target);
    if (ActiveFileOps().Rename(temp.c_str(), target.c_str()) != 0) {
      const int err = errno;
      if (!FolderRefuses(err)) RaiseInOutError(err, target);
      // The folder keeps the file from being replaced: write it in place.
      ::unlink(temp.c_str());
      return WriteInPlace(target, bytes);
    }
  } catch (...) {
    ::unlink(temp.c_str());
    throw;
  }
  // Make the rename itself durable; a folder that cannot be synced is no error.
  if (int dfd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
}

void WriteProfileFile(const std::string& path, const TParaTable& table) {
  WriteFileAtomically(path, EncodeProfile(table));
}

}  // namespace vlx
