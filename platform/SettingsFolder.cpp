#include "platform/SettingsFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "profile/ProfileFile.h"
#include "profile/Settings.h"

namespace vlx {

namespace {

std::string WithSlash(std::string dir) {
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

bool IsAbsolute(const char* path) { return path != nullptr && path[0] == '/'; }

// The folder with every link and "." or ".." resolved; as given when it does
// not exist.
std::string Canonical(const std::string& dir) {
  char resolved[PATH_MAX];
  if (::realpath(dir.c_str(), resolved) == nullptr) return WithSlash(dir);
  return WithSlash(resolved);
}

// Whether this process (its effective ids) may create files in dir.
bool CanCreateFilesIn(const std::string& dir) {
  return ::faccessat(AT_FDCWD, dir.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

// Creates dir and its missing parents, each with mode 0700.
void MakeFolders(const std::string& dir) {
  std::string partial;
  std::size_t at = 0;
  while (at < dir.size()) {
    const auto slash = dir.find('/', at + 1);
    partial = dir.substr(0, slash == std::string::npos ? dir.size() : slash);
    at = slash == std::string::npos ? dir.size() : slash;
    if (partial.empty()) continue;
    if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) return;
  }
}

}  // namespace

std::string UserSettingsFolder(const char* xdgConfigHome, const char* home) {
  if (IsAbsolute(xdgConfigHome)) return WithSlash(xdgConfigHome) + "vellox/";
  if (IsAbsolute(home)) return WithSlash(home) + ".config/vellox/";
  return {};
}

std::string ChooseSettingsFolder(const std::string& programDir, const std::string& systemProgramDir,
                                 const std::string& userFolder) {
  const std::string program = WithSlash(programDir);
  if (FileExists(program + SettingsFileName)) return program;
  if (userFolder.empty()) return program;
  const bool installed = !systemProgramDir.empty() && Canonical(program) == Canonical(systemProgramDir);
  if (!installed && CanCreateFilesIn(program)) return program;
  const std::string user = WithSlash(userFolder);
  MakeFolders(user);
  return user;
}

}  // namespace vlx
