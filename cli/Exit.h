// vellox-cli's exit codes and its one way of telling the user something:
// every line on stderr begins with "vellox-cli: " and shows control
// characters escaped; every write to stdout is checked. A command in a
// file of its own uses these and throws Failure.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "profile/TerminalText.h"

namespace vlx::cli {

constexpr int ExitOk = 0;
constexpr int ExitUsage = 1;         // bad command line
constexpr int ExitNoController = 2;  // no controller, no answer, no MIDI service
constexpr int ExitMismatch = 3;      // verification failed; diff found differences
constexpr int ExitFile = 4;          // a file (standard output too) cannot be read or written, or is not a profile
constexpr int ExitCancelled = 5;     // reset not confirmed: no yes at the question, or no terminal and no --yes
constexpr int ExitInternal = 6;      // none of these: a fault of the program itself

inline const char kExitCodes[] =
    "\nExit codes:\n"
    "  0  success (diff: the profiles are the same)\n"
    "  1  usage error\n"
    "  2  no controller found, no answer in time, or no MIDI service\n"
    "  3  verification failed (a field read back differs), or diff found differences\n"
    "  4  a file cannot be read or written (standard output included), or is not a valid profile\n"
    "  5  reset not confirmed: not answered yes, or no terminal and no --yes\n"
    "  6  an internal error of vellox-cli\n";

// A failure with its exit code; main prints the text as one line.
struct Failure {
  int Code;
  std::string Text;
};

// One line on stderr: "vellox-cli: TEXT", control characters escaped.
inline void Say(const std::string& text) {
  const std::string line = "vellox-cli: " + TerminalSafe(text) + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

[[noreturn]] inline void FailOutput(int err) {
  throw Failure{ExitFile, std::string("cannot write to standard output: ") + std::strerror(err)};
}

// Writes to stdout and flushes; a failure (a full disk, a closed pipe)
// throws Failure with the system's reason.
inline void WriteOut(const std::string& text) {
  errno = 0;
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0)
    FailOutput(errno ? errno : EIO);
}

// The usual rule at exit: stdout flushed and closed, its error checked. A
// failure turns a success into ExitFile, with the reason on stderr.
inline int CloseStdout(int code) {
  errno = 0;
  const bool failed = std::ferror(stdout) != 0;
  const int err = errno;
  const bool closeFailed = std::fclose(stdout) != 0;
  if (failed || closeFailed) {
    // An output already reported (EPIPE at the monitor) is not told twice.
    if (code == ExitOk) {
      Say(std::string("cannot write to standard output: ") + std::strerror(closeFailed && errno ? errno : err ? err : EIO));
      return ExitFile;
    }
  }
  return code;
}

}  // namespace vlx::cli
