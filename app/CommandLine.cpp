#include "app/CommandLine.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace vlx {

namespace {

// The options QGuiApplication, QApplication and the X11 platform plug-in
// take from the command line: those followed by a value, and those without.
constexpr std::array<std::string_view, 13> QtOptionsWithValue = {
    "platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry", "qwindowicon", "qwindowtitle",
    "session",  "display",            "geometry",      "style",  "stylesheet",      "name"};
constexpr std::array<std::string_view, 5> QtFlags = {"reverse", "widgetcount", "nograb", "dograb", "sync"};
// Given as -NAME=VALUE only.
constexpr std::array<std::string_view, 5> QtOptionsWithEquals = {"style=", "stylesheet=", "qmljsdebugger=", "dialogs=",
                                                                 "fontengine="};

template <std::size_t N>
bool OneOf(const std::array<std::string_view, N>& names, std::string_view name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

}  // namespace

TEditorCommandLine ParseEditorCommandLine(const std::vector<std::string>& args) {
  TEditorCommandLine cl;
  const auto fail = [&cl](std::string text) {
    cl.What = TEditorCommandLine::Action::Error;
    cl.Error = std::move(text);
    cl.File.clear();
    return cl;
  };
  bool filesOnly = false;
  bool help = false, version = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!filesOnly && arg == "--") {
      filesOnly = true;
      continue;
    }
    if (!filesOnly && arg.size() > 1 && arg[0] == '-') {
      if (arg == "--help" || arg == "-h") {
        help = true;
        continue;
      }
      if (arg == "--version" || arg == "-v") {
        version = true;
        continue;
      }
      // Qt takes -NAME and --NAME alike.
      const std::string_view name = std::string_view(arg).substr(arg.compare(0, 2, "--") == 0 ? 2 : 1);
      if (OneOf(QtOptionsWithValue, name)) {
        if (i + 1 >= args.size()) return fail("option " + arg + " needs a value");
        ++i;
        continue;
      }
      if (OneOf(QtFlags, name)) continue;
      if (std::any_of(QtOptionsWithEquals.begin(), QtOptionsWithEquals.end(),
                      [name](std::string_view p) { return name.substr(0, p.size()) == p; }))
        continue;
      return fail("unknown option " + arg);
    }
    if (arg.empty()) return fail("an empty file name");
    if (!cl.File.empty()) return fail("more than one file: " + cl.File + " and " + arg);
    cl.File = arg;
  }
  if (help || version) {
    cl.What = help ? TEditorCommandLine::Action::Help : TEditorCommandLine::Action::Version;
    cl.File.clear();
  }
  return cl;
}

std::string EditorUsage(const std::string& program) {
  return "usage: " + program +
         " [options] [FILE]\n"
         "The editor of the vellox USB MIDI controller. FILE, a .cus profile, is opened once the window is\n"
         "up, as OPEN opens one; without it the profile named in System.ini is loaded.\n"
         "  -h, --help     print this text and exit\n"
         "  -v, --version  print the version and exit\n"
         "  --             what follows is a file name, even when it begins with '-'\n"
         "Qt's options, such as -platform NAME, -style NAME, -display NAME, -reverse, are passed to Qt.\n";
}

std::string EditorVersionLine(const std::string& program, const std::string& version) {
  return program + " " + version + "\n";
}

std::string ProgramName(const char* argv0, const std::string& fallback) {
  if (argv0 == nullptr || argv0[0] == '\0') return fallback;
  const std::string_view s(argv0);
  const std::size_t slash = s.find_last_of('/');
  const std::string_view name = slash == std::string_view::npos ? s : s.substr(slash + 1);
  return name.empty() ? fallback : std::string(name);
}

}  // namespace vlx
