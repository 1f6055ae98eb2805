// The editor's command line: an optional profile file to open, --help,
// --version, and the window-system options of Qt, which are left for Qt.
// Read before the application object exists, so that --help and --version
// work without a display.
#pragma once

#include <string>
#include <vector>

namespace vlx {

struct TEditorCommandLine {
  enum class Action {
    Run,      // open the window (with File, when one was given)
    Help,     // print the usage on stdout, exit 0
    Version,  // print the version on stdout, exit 0
    Error,    // print Error and the usage on stderr, exit 1
  };
  Action What = Action::Run;
  std::string File;   // the profile to open after start-up; empty: none
  std::string Error;  // what is wrong with the command line (Action::Error)
};

// args: the arguments after the program's name. Qt's own options (-platform
// NAME, -style NAME, -reverse, ... also written with two dashes) are
// skipped with their values; every other word beginning with '-' is an
// unknown option. "--" ends the options. At most one file.
TEditorCommandLine ParseEditorCommandLine(const std::vector<std::string>& args);

// The usage text, for a program of this name (its file name, no folder).
std::string EditorUsage(const std::string& program);
// "NAME VERSION" as --version prints it.
std::string EditorVersionLine(const std::string& program, const std::string& version);
// The file name part of argv[0], or fallback when it is empty.
std::string ProgramName(const char* argv0, const std::string& fallback);

}  // namespace vlx
