#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <functional>
#include <vector>

#include <gtest/gtest.h>

#include "profile/FileOps.h"
#include "profile/ParaTable.h"
#include "profile/ProfileFile.h"
#include "support/FailingFileOps.h"
#include "support/TempDir.h"

using namespace vlx;

namespace {

void PutInt(std::vector<uint8_t>& b, std::size_t at, int32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i));
}

int32_t GetInt(const std::vector<uint8_t>& b, std::size_t at) {
  uint32_t u = 0;
  for (int i = 0; i < 4; ++i) u |= uint32_t(b[at + i]) << (8 * i);
  return static_cast<int32_t>(u);
}

// The factory profile written out by hand, byte by byte.
std::vector<uint8_t> HandMadeFactoryProfile() {
  std::vector<uint8_t> b(4536, 0);
  const char* names[21] = {"A|PAD1", "A|PAD2", "A|PAD3", "A|PAD4", "A|PAD5", "A|PAD6", "A|PAD7",
                           "A|PAD8", "B|PAD1", "B|PAD2", "B|PAD3", "B|PAD4", "B|PAD5", "B|PAD6",
                           "B|PAD7", "B|PAD8", "Slider", "Knob1",  "Knob2",  "Knob3",  "Knob4"};
  for (int k = 0; k < 21; ++k) {
    const std::size_t r = 216 * k;
    b[r] = static_cast<uint8_t>(std::strlen(names[k]));
    std::memcpy(&b[r + 1], names[k], std::strlen(names[k]));
    const int value = k < 16 ? 30 + k : (k == 16 ? 7 : 12 + (k - 17));
    PutInt(b, r + 164, k < 16 ? 0 : 4);
    PutInt(b, r + 172, value);
  }
  const int32_t globals[8] = {0, 2, 1, 0, 1, 0, 3, 0};
  for (int i = 0; i < 8; ++i) PutInt(b, 184 + 4 * i, globals[i]);
  return b;
}

TParaTable FactoryTable() {
  TParaTable t;
  ApplyFactoryValues(t);
  return t;
}

}  // namespace

TEST(ProfileFile, FactoryProfileIsByteForByteTheKnownImage) {
  TempDir dir;
  WriteProfileFile(dir.File("customer.cus"), FactoryTable());
  const auto bytes = ReadBytes(dir.File("customer.cus"));
  ASSERT_EQ(bytes.size(), 4536u);
  EXPECT_EQ(bytes, HandMadeFactoryProfile());
  const std::vector<uint8_t> start = {0x06, 0x41, 0x7C, 0x50, 0x41, 0x44, 0x31};
  EXPECT_TRUE(std::equal(start.begin(), start.end(), bytes.begin()));
}

TEST(ProfileFile, LoadAppliesUpperLimitsOnlyAndCutsNames) {
  TempDir dir;
  auto b = HandMadeFactoryProfile();
  PutInt(b, 172, 200);  // record 1: Value
  PutInt(b, 176, 20);   // Channel
  PutInt(b, 164, 9);    // DataType
  PutInt(b, 216 + 172, -5);
  PutInt(b, 216 + 168, INT_MIN);  // ControlMode: not limited
  PutInt(b, 216 + 180, INT_MAX);  // Disabled: not limited
  PutInt(b, 2 * 216 + 184 + 4 * 7, 999);  // Globals of record 3 travel unchanged
  b[3 * 216] = 90;                        // a name length beyond 80
  for (int i = 0; i < 80; ++i) b[3 * 216 + 1 + i] = static_cast<uint8_t>('a' + i % 26);
  b[3 * 216 + 81] = 255;  // NameEditorText length 255: its 80 bytes, then the filler
  WriteBytes(dir.File("p.cus"), b);

  TParaTable t;
  LoadProfileFile(dir.File("p.cus"), t);
  EXPECT_EQ(t[1].Value, 127);
  EXPECT_EQ(t[1].Channel, 15);
  EXPECT_EQ(t[1].DataType, 6);
  EXPECT_EQ(t[2].Value, -5);
  EXPECT_EQ(t[2].ControlMode, INT_MIN);
  EXPECT_EQ(t[2].Disabled, INT_MAX);
  EXPECT_EQ(t[3].Globals[7], 999);
  EXPECT_EQ(t[4].Name.str().size(), 80u);
  EXPECT_EQ(t[4].Name.str().substr(0, 3), "abc");
  EXPECT_EQ(t[4].NameEditorText.Length, 80);
  EXPECT_EQ(t[17].Name.str(), "Slider");
  EXPECT_EQ(t.GlobalBlock()[ARPTime], 2);
  EXPECT_EQ(t.GlobalBlock()[Beat], 3);
}

TEST(ProfileFile, RecordCountFollowsTheFileSize) {
  struct Case {
    const char* what;
    std::size_t bytes;
    int recordsLoaded;
  };
  const Case cases[] = {
      {"empty file", 0, 0},
      {"ten records", 10 * 216, 10},
      {"ten records and a part", 10 * 216 + 50, 10},
      {"21 records and 100 bytes", 21 * 216 + 100, 21},
      {"25 records", 25 * 216, 21},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    std::vector<uint8_t> b(c.bytes, 0);
    for (std::size_t k = 0; k < c.bytes / 216; ++k) PutInt(b, 216 * k + 172, 100 + static_cast<int>(k));
    WriteBytes(dir.File("p.cus"), b);
    TParaTable t;
    for (int n = 1; n <= 21; ++n) t[n].Value = -1;
    LoadProfileFile(dir.File("p.cus"), t);
    for (int n = 1; n <= 21; ++n) EXPECT_EQ(t[n].Value, n <= c.recordsLoaded ? 99 + n : -1) << "record " << n;
  }
}

TEST(ProfileFile, SavingWritesTwentyOneRecordsWithZeroFiller) {
  TempDir dir;
  std::vector<uint8_t> b(10 * 216, 0);
  b[162] = 0xAB;
  b[163] = 0xCD;
  b[1] = 'x';  // a meaningless byte after an empty name
  WriteBytes(dir.File("p.cus"), b);
  TParaTable t = FactoryTable();
  LoadProfileFile(dir.File("p.cus"), t);
  WriteProfileFile(dir.File("p.cus"), t);
  const auto saved = ReadBytes(dir.File("p.cus"));
  ASSERT_EQ(saved.size(), 4536u);
  EXPECT_EQ(saved[162], 0);
  EXPECT_EQ(saved[163], 0);
  EXPECT_EQ(GetInt(saved, 10 * 216 + 172), 40) << "record 11 keeps the factory value it held";
}

TEST(ProfileFile, LoadErrorsCarryTheUsersTexts) {
  TempDir dir;
  std::filesystem::create_directory(dir.File("folder.cus"));
  struct Case {
    std::string path;
    const char* text;
  };
  const Case cases[] = {
      {dir.File("missing.cus"), "File not found"},
      {dir.File("no/such/folder/p.cus"), "Invalid filename"},
      {dir.File("folder.cus"), "File access denied"},
  };
  for (const Case& c : cases) {
    TParaTable t;
    try {
      LoadProfileFile(c.path, t);
      ADD_FAILURE() << c.path << " loaded";
    } catch (const EInOutError& e) {
      EXPECT_STREQ(e.what(), c.text) << c.path;
    }
  }
}

TEST(ProfileFile, AFileThatCannotBeWrittenIsNotLoaded) {
  TempDir dir;
  WriteBytes(dir.File("ro.cus"), HandMadeFactoryProfile());
  ::chmod(dir.File("ro.cus").c_str(), 0444);
  // Root is refused nothing by permission bits, so the seam refuses the open
  // for writing as the system refuses it to any other user.
  FileOps ops = FileOps::Posix();
  const auto realOpen = ops.Open;
  ops.Open = [realOpen](const char* path, int flags, mode_t mode) {
    struct stat st {};
    if ((flags & O_ACCMODE) != O_RDONLY && ::stat(path, &st) == 0 && (st.st_mode & 0222) == 0) {
      errno = EACCES;
      return -1;
    }
    return realOpen(path, flags, mode);
  };
  ScopedFileOps guard(ops);
  TParaTable t;
  try {
    LoadProfileFile(dir.File("ro.cus"), t);
    FAIL() << "a read-only profile loaded";
  } catch (const EInOutError& e) {
    EXPECT_STREQ(e.what(), "File access denied");
  }
  EXPECT_EQ(t[1].Name.Length, 0) << "nothing was copied";
}

// A write that fails part-way leaves the previous profile whole and no
// temporary file behind.
TEST(ProfileFile, FailedWritesLeaveThePreviousProfileWhole) {
  struct Case {
    const char* what;
    std::function<void(FileOps&)> breakIt;
    const char* text;
  };
  const Case cases[] = {
      {"disk full half-way", [](FileOps& ops) { ops = DiskFullAfter(2000); },
       "Disk full"},
      {"neither folder nor file can be written", [](FileOps& ops) { ops = NothingWritable(); },
       "File access denied"},
      {"read-only file system",
       [](FileOps& ops) {
         ops.MkStemp = [](char*) {
           errno = EROFS;
           return -1;
         };
       },
       "File access denied"},
      {"flush fails",
       [](FileOps& ops) {
         ops.FSync = [](int) {
           errno = EIO;
           return -1;
         };
       },
       "I/O error 5"},
      {"file vanishes before the rename",
       [](FileOps& ops) {
         ops.Rename = [](const char* from, const char*) {
           ::unlink(from);
           errno = ENOENT;
           return -1;
         };
       },
       "File not found"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string path = dir.File("customer.cus");
    const auto before = HandMadeFactoryProfile();
    WriteBytes(path, before);
    TParaTable t;
    for (int n = 1; n <= 21; ++n) t[n].Name.assign("changed");
    FileOps ops = FileOps::Posix();
    c.breakIt(ops);
    {
      ScopedFileOps guard(ops);
      try {
        WriteProfileFile(path, t);
        ADD_FAILURE() << "the write was reported as done";
      } catch (const EInOutError& e) {
        EXPECT_STREQ(e.what(), c.text);
      }
    }
    EXPECT_EQ(ReadBytes(path), before);
    std::size_t files = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir.Path)) ++files;
    EXPECT_EQ(files, 1u) << "a temporary file was left behind";
  }
}

TEST(ProfileFile, WriteKeepsTheFilesModeAndWritesThroughALink) {
  TempDir dir;
  const std::string real = dir.File("real.cus"), link = dir.File("link.cus");
  WriteBytes(real, {1, 2, 3});
  ::chmod(real.c_str(), 0640);
  std::filesystem::create_symlink(real, link);
  WriteProfileFile(link, FactoryTable());
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(ReadBytes(real), HandMadeFactoryProfile());
  struct stat st {};
  ASSERT_EQ(::stat(real.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

namespace {

ino_t Inode(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

std::size_t FilesIn(const std::string& dir) {
  std::size_t n = 0;
  for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir)) ++n;
  return n;
}

}  // namespace

// A folder that refuses a temporary file beside the profile, or refuses
// replacing it, gets the profile written in place: the same file, the new
// bytes, nothing left behind.
TEST(ProfileFile, AFolderThatRefusesTheReplacementGetsTheFileWrittenInPlace) {
  struct Case {
    const char* what;
    FileOps ops;
  };
  const Case cases[] = {
      {"no temporary file in the folder", FolderNotWritable()},
      {"sticky folder of another owner", RenameFailsWith(EPERM)},
      {"rename refused", RenameFailsWith(EACCES)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string path = dir.File("customer.cus");
    WriteBytes(path, std::vector<uint8_t>(6000, 0xEE));  // longer than a profile: cut to size
    ::chmod(path.c_str(), 0604);
    const ino_t before = Inode(path);
    {
      ScopedFileOps guard(c.ops);
      WriteProfileFile(path, FactoryTable());
    }
    EXPECT_EQ(ReadBytes(path), HandMadeFactoryProfile());
    EXPECT_EQ(Inode(path), before) << "the file was replaced, not written in place";
    EXPECT_EQ(FilesIn(dir.Path), 1u) << "a temporary file was left behind";
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0604u);
  }
}

// The in-place write reports its own failures with the usual texts; a new
// file in a folder that refuses it is still refused.
TEST(ProfileFile, InPlaceWriteFailuresAreReported) {
  {
    TempDir dir;
    FileOps ops = DiskFullAfter(1000);
    ops.MkStemp = FolderNotWritable().MkStemp;
    WriteBytes(dir.File("p.cus"), HandMadeFactoryProfile());
    ScopedFileOps guard(ops);
    try {
      WriteProfileFile(dir.File("p.cus"), FactoryTable());
      ADD_FAILURE() << "a full disk was reported as a write";
    } catch (const EInOutError& e) {
      EXPECT_STREQ(e.what(), "Disk full");
    }
  }
  {
    TempDir dir;
    ScopedFileOps guard(NothingWritable());
    try {
      WriteProfileFile(dir.File("new.cus"), FactoryTable());
      ADD_FAILURE() << "a file was created in a folder that refuses it";
    } catch (const EInOutError& e) {
      EXPECT_STREQ(e.what(), "File access denied");
    }
    EXPECT_EQ(FilesIn(dir.Path), 0u);
  }
}

// The same refusals made by the system itself: a user who may write the file
// but not its folder, or whose folder is sticky and owned by another user.
// Needs root, to act as another user in a child process.
TEST(ProfileFile, AnotherUsersFolderGetsTheFileWrittenInPlace) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to write as another user";
  const uid_t nobody = 65534;
  for (const mode_t folderMode : {mode_t(0755), mode_t(01777)}) {
    SCOPED_TRACE(folderMode == 0755 ? "folder without write permission" : "sticky folder of another owner");
    TempDir top;
    ::chmod(top.Path.c_str(), 0755);
    const std::string folder = top.File("f"), path = folder + "/customer.cus";
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    ::chmod(folder.c_str(), folderMode);
    WriteBytes(path, std::vector<uint8_t>(100, 1));
    ::chmod(path.c_str(), 0666);
    const ino_t before = Inode(path);

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      if (::setgroups(0, nullptr) != 0 || ::setresgid(nobody, nobody, nobody) != 0 ||
          ::setresuid(nobody, nobody, nobody) != 0)
        ::_exit(2);
      try {
        WriteProfileFile(path, FactoryTable());
      } catch (...) {
        ::_exit(1);
      }
      ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the write failed (1) or the child could not become nobody (2)";
    EXPECT_EQ(ReadBytes(path), HandMadeFactoryProfile());
    EXPECT_EQ(Inode(path), before);
    EXPECT_EQ(FilesIn(folder), 1u);
  }
}

// Root saving a user's file: the replacement keeps the owner, the group and
// the mode.
TEST(ProfileFile, AReplacedFileKeepsItsOwnerAndGroup) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a file to another user";
  TempDir dir;
  const std::string path = dir.File("customer.cus");
  WriteBytes(path, {1, 2, 3});
  ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
  ::chmod(path.c_str(), 02640);
  const ino_t before = Inode(path);
  WriteProfileFile(path, FactoryTable());
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_NE(st.st_ino, before) << "the file was written in place, not replaced";
  EXPECT_EQ(st.st_uid, 65534u);
  EXPECT_EQ(st.st_gid, 65534u);
  EXPECT_EQ(st.st_mode & 07777, 02640u);
  EXPECT_EQ(ReadBytes(path), HandMadeFactoryProfile());
}

namespace {

// Runs write() in a child process as user uid with primary group gid and the
// supplementary groups given; numeric ids need no entry in /etc/passwd.
// The child's exit code: 0 the write went through, 1 it threw, 2 the child
// could not take the ids.
int WriteAs(uid_t uid, gid_t gid, std::vector<gid_t> groups, const std::function<void()>& write) {
  const pid_t child = ::fork();
  if (child < 0) return -1;
  if (child == 0) {
    if (::setgroups(groups.size(), groups.data()) != 0 || ::setresgid(gid, gid, gid) != 0 ||
        ::setresuid(uid, uid, uid) != 0)
      ::_exit(2);
    try {
      write();
    } catch (...) {
      ::_exit(1);
    }
    ::_exit(0);
  }
  int status = 0;
  if (::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

}  // namespace

// A file saved by a user other than its owner keeps owner, group and mode:
// replaced where the process may give them, written in place where it may
// not. Needs root, to act as the other user in a child process.
TEST(ProfileFile, ASavedFileKeepsItsOwnerGroupAndMode) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to write as other users and groups";
  struct Case {
    const char* what;
    uid_t fileUid;
    gid_t fileGid;
    uid_t writerUid;
    gid_t writerGid;
    std::vector<gid_t> writerGroups;
    bool replaced;  // a new file under the name, or the same one written in place
  };
  const Case cases[] = {
      {"a member of the file's group, not its owner", 1000, 1234, 2000, 2000, {1234}, false},
      {"the owner, the file in another of his groups", 1000, 1234, 1000, 1000, {1000, 1234}, true},
      {"the owner, the file in a group he left", 1000, 1234, 1000, 1000, {1000}, false},
      {"root", 1000, 1234, 0, 0, {0}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir top;
    ::chmod(top.Path.c_str(), 0755);
    const std::string folder = top.File("shared"), path = folder + "/profile.cus";
    ASSERT_EQ(::mkdir(folder.c_str(), 0777), 0);
    ::chmod(folder.c_str(), 0777);  // anyone may make files here: the replacement is possible
    WriteBytes(path, {1, 2, 3});
    ASSERT_EQ(::chown(path.c_str(), c.fileUid, c.fileGid), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0664), 0);
    const ino_t before = Inode(path);

    ASSERT_EQ(WriteAs(c.writerUid, c.writerGid, c.writerGroups, [&] { WriteProfileFile(path, FactoryTable()); }), 0)
        << "the write failed (1) or the child could not take the ids (2)";
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, c.fileUid);
    EXPECT_EQ(st.st_gid, c.fileGid);
    EXPECT_EQ(st.st_mode & 07777, 0664u);
    EXPECT_EQ(st.st_ino != before, c.replaced);
    EXPECT_EQ(ReadBytes(path), HandMadeFactoryProfile());
    EXPECT_EQ(FilesIn(folder), 1u) << "a temporary file was left behind";
    // The owner can still write it.
    EXPECT_EQ(WriteAs(c.fileUid, c.fileUid, {c.fileUid}, [&] { WriteProfileFile(path, TParaTable{}); }), 0);
  }
}

// A file with two names stays one file under both; a link stays a link to
// the file it named, also when that file has a second name.
TEST(ProfileFile, HardAndSymbolicLinksStayWhatTheyWere) {
  TempDir dir;
  const std::string one = dir.File("one.cus"), two = dir.File("two.cus"), link = dir.File("link.cus");
  WriteBytes(one, std::vector<uint8_t>(5000, 0xEE));
  ASSERT_EQ(::link(one.c_str(), two.c_str()), 0);
  std::filesystem::create_symlink(one, link);
  const ino_t before = Inode(one);
  for (const std::string& name : {two, link}) {
    SCOPED_TRACE(name);
    WriteProfileFile(name, FactoryTable());
    EXPECT_EQ(Inode(one), before);
    EXPECT_EQ(Inode(two), before);
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(ReadBytes(one), HandMadeFactoryProfile());
    struct stat st {};
    ASSERT_EQ(::stat(one.c_str(), &st), 0);
    EXPECT_EQ(st.st_nlink, 2u);
    EXPECT_EQ(FilesIn(dir.Path), 3u);
  }
}

// A link to a file not made yet (directly or through another link) makes
// that file and stays a link.
TEST(ProfileFile, ALinkToAFileNotMadeYetMakesIt) {
  TempDir dir;
  ASSERT_EQ(::mkdir(dir.File("sub").c_str(), 0700), 0);
  const std::string real = dir.File("sub/real.cus"), link = dir.File("link.cus"), chain = dir.File("chain.cus");
  std::filesystem::create_symlink("sub/real.cus", link);  // relative to the link's folder
  std::filesystem::create_symlink(link, chain);
  WriteProfileFile(chain, FactoryTable());
  EXPECT_TRUE(std::filesystem::is_symlink(chain));
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(ReadBytes(real), HandMadeFactoryProfile());
  EXPECT_EQ(FilesIn(dir.File("sub")), 1u);
}

// A FIFO named as the output stays a FIFO: its reader gets the bytes, and
// with nobody reading the write is refused at once instead of waiting.
// A character device is written into, never replaced by a file.
TEST(ProfileFile, AFifoOrADeviceIsWrittenIntoNotReplaced) {
  TempDir dir;
  const std::string fifo = dir.File("out.cus"), link = dir.File("link.cus");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::filesystem::create_symlink(fifo, link);
  for (const std::string& name : {fifo, link}) {
    SCOPED_TRACE(name);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    WriteProfileFile(name, FactoryTable());  // fits in the pipe: no wait for the reader
    std::vector<uint8_t> got(ProfileSize + 1);
    const ssize_t n = ::read(reader, got.data(), got.size());
    ::close(reader);
    ASSERT_EQ(n, static_cast<ssize_t>(ProfileSize));
    got.resize(ProfileSize);
    EXPECT_EQ(got, HandMadeFactoryProfile());
    struct stat st {};
    ASSERT_EQ(::lstat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
  }

  try {
    WriteProfileFile(fifo, FactoryTable());
    ADD_FAILURE() << "a FIFO nobody reads was reported as written";
  } catch (const EInOutError& e) {
    EXPECT_STREQ(e.what(), "No reader at the other end");
  }
  struct stat st {};
  ASSERT_EQ(::lstat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  EXPECT_EQ(FilesIn(dir.Path), 2u) << "a temporary file was left behind";

  // /dev/null takes the bytes and stays the device.
  WriteProfileFile("/dev/null", FactoryTable());
  ASSERT_EQ(::stat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));

  // The question before closing compares the window with its file: a FIFO
  // or a device is never what SAVE wrote, and is not opened to find out
  // (a FIFO without a writer would keep the window from closing).
  EXPECT_FALSE(ProfileFileMatches(fifo, FactoryTable()));
  EXPECT_FALSE(ProfileFileMatches(link, FactoryTable()));
  EXPECT_FALSE(ProfileFileMatches("/dev/zero", FactoryTable()));
}

TEST(ProfileFile, ErrorNumbersMapToTheUsersTexts) {
  const std::pair<int, const char*> cases[] = {
      {ENOENT, "File not found"},   {ENOTDIR, "Invalid filename"}, {ENAMETOOLONG, "Invalid filename"},
      {EMFILE, "Too many open files"}, {EACCES, "File access denied"}, {EROFS, "File access denied"},
      {ENOSPC, "Disk full"},        {EDQUOT, "Disk full"},          {EIO, "I/O error 5"},
  };
  for (const auto& [err, text] : cases) EXPECT_EQ(InOutErrorText(err), text) << err;
}

TEST(ParaTable, ShortStringsKeepEightyCharacters) {
  TShortString80 s;
  s.assign(std::string(90, 'n'));
  EXPECT_EQ(s.Length, 80);
  EXPECT_EQ(s.str(), std::string(80, 'n'));
  s.assign("ab");
  EXPECT_EQ(s.str(), "ab");
  s.Length = 200;  // from a file the editor did not write
  EXPECT_EQ(s.str().size(), 80u);
}

TEST(ParaTable, FactoryValuesLeaveTheRestAlone) {
  TParaTable t;
  for (int n = 1; n <= 21; ++n) {
    t[n].NameEditorText.assign("mine");
    t[n].ControlMode = 1;
    t[n].Disabled = 1;
    t[n].Globals[3] = 42;
  }
  ApplyFactoryValues(t);
  for (int n = 1; n <= 21; ++n) {
    EXPECT_EQ(t[n].Name.str(), std::string(DefaultName(n)));
    EXPECT_EQ(t[n].NameEditorText.str(), "mine");
    EXPECT_EQ(t[n].ControlMode, 1);
    EXPECT_EQ(t[n].Disabled, 1);
    EXPECT_EQ(t[n].Globals[3], n == 1 ? 0 : 42);
  }
  EXPECT_THROW(t[0], std::out_of_range);
  EXPECT_THROW(t[22], std::out_of_range);
}
