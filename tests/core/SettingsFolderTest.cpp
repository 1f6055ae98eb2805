// The folder that holds System.ini and customer.cus: beside a portable copy,
// the user's configuration folder for an installed editor.
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include <gtest/gtest.h>

#include "platform/SettingsFolder.h"
#include "support/TempDir.h"

using namespace vlx;

namespace {

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// Runs check with a program folder the process cannot write: as nobody in a
// child process when run as root (root may write anything), else with the
// folder's write permission taken away. check returns true on success.
bool WithUnwritableProgramFolder(const std::string& programDir, const std::function<bool()>& check) {
  ::chmod(programDir.c_str(), 0555);
  if (::geteuid() != 0) {
    const bool ok = check();
    ::chmod(programDir.c_str(), 0755);
    return ok;
  }
  const pid_t child = ::fork();
  if (child < 0) return false;
  if (child == 0) {
    if (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
        ::setresuid(65534, 65534, 65534) != 0)
      ::_exit(2);
    ::_exit(check() ? 0 : 1);
  }
  int status = 0;
  return ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

TEST(SettingsFolder, TheUsersFolderFollowsXdgConfigHomeThenHome) {
  struct Case {
    const char* xdg;
    const char* home;
    const char* folder;
  };
  const Case cases[] = {
      {"/x/cfg", "/home/u", "/x/cfg/vellox/"},
      {"/x/cfg/", "/home/u", "/x/cfg/vellox/"},
      {nullptr, "/home/u", "/home/u/.config/vellox/"},
      {"", "/home/u/", "/home/u/.config/vellox/"},
      {"relative/cfg", "/home/u", "/home/u/.config/vellox/"},  // not absolute: ignored
      {nullptr, nullptr, ""},
      {"", "", ""},
      {nullptr, "home", ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(UserSettingsFolder(c.xdg, c.home), c.folder)
        << (c.xdg ? c.xdg : "(unset)") << ", " << (c.home ? c.home : "(unset)");
}

TEST(SettingsFolder, APortableCopyKeepsItsFilesBesideTheProgram) {
  TempDir top;
  const std::string program = top.File("prog/"), user = top.File("cfg/vellox/");
  std::filesystem::create_directories(program);
  // A folder the program may write.
  EXPECT_EQ(ChooseSettingsFolder(program, "/usr/bin", user), program);
  EXPECT_FALSE(std::filesystem::exists(user)) << "the user's folder was made for nothing";
  // A folder that already holds a System.ini, even one that cannot be written
  // and even the folder the program is installed to.
  WriteBytes(program + "System.ini", {});
  EXPECT_EQ(ChooseSettingsFolder(program, program, user), program);
  ::chmod(top.Path.c_str(), 0755);
  EXPECT_TRUE(WithUnwritableProgramFolder(program, [&] { return ChooseSettingsFolder(program, "", user) == program; }));
  EXPECT_FALSE(std::filesystem::exists(user));
}

TEST(SettingsFolder, AnInstalledProgramUsesTheUsersFolderAndMakesIt) {
  TempDir top;
  ::chmod(top.Path.c_str(), 0755);
  const std::string program = top.File("usr/bin/");
  std::filesystem::create_directories(program);
  std::filesystem::create_symlink(top.File("usr"), top.File("link"));

  // The folder it is installed to, named through a link and without the
  // final '/': never the settings folder, even for a user who may write it.
  const std::string user = top.File("home/.config/vellox/");
  EXPECT_EQ(ChooseSettingsFolder(program, top.File("link/bin"), user), user);
  EXPECT_EQ(ModeOf(user), 0700u);
  EXPECT_EQ(ModeOf(top.File("home/.config")), 0700u);

  // Any folder the process cannot write.
  const std::string other = top.File("opt/vellox/"), user2 = top.File("cfg2/vellox/");
  std::filesystem::create_directories(other);
  ::chmod(top.Path.c_str(), 0777);  // nobody may make the user's folder here
  EXPECT_TRUE(WithUnwritableProgramFolder(other, [&] {
    return ChooseSettingsFolder(other, "/usr/bin", user2) == user2 && std::filesystem::is_directory(user2);
  }));

  // No user's folder known: the program's folder, whatever it is.
  EXPECT_EQ(ChooseSettingsFolder(program, program, ""), program);
}

TEST(SettingsFolder, AUsersFolderThatCannotBeMadeIsStillChosen) {
  // The first write into it then reports the failure to the user.
  TempDir top;
  WriteBytes(top.File("file"), {});
  const std::string user = top.File("file/vellox/");
  EXPECT_EQ(ChooseSettingsFolder(top.Path, top.Path, user), user);
  EXPECT_FALSE(std::filesystem::exists(user));
}
