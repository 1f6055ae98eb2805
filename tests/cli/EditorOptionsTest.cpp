// The editor's --help, --version and unknown options: printed and ended
// before any window exists. The programs run where no window system can be
// reached, so a program that tried to open its window would fail instead.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "cli/Run.h"
#include "support/TempDir.h"

namespace {

struct Result {
  int Code;
  std::string Out, Err;
};

Result RunProgram(const std::string& program, std::vector<std::string> args) {
  args.insert(args.begin(), program);
  CliProcess p(args);
  const int code = p.Wait();
  return {code, p.Out(), p.Err()};
}

class EditorOptions : public ::testing::Test {
 protected:
  void SetUp() override {
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    // The package's other name for the program.
    std::filesystem::create_symlink(VLX_EDITOR_PATH, link);
  }
  TempDir dir;
  const std::string link = dir.File("vellox-editor");
};

bool StartsWith(const std::string& s, const std::string& prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

}  // namespace

TEST_F(EditorOptions, HelpAndVersionPrintUnderEveryNameWithoutAWindow) {
  for (const std::string& program : {std::string(VLX_EDITOR_PATH), link}) {
    const std::string name = program.substr(program.find_last_of('/') + 1);
    SCOPED_TRACE(name);
    auto r = RunProgram(program, {"--help"});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_TRUE(StartsWith(r.Out, "usage: " + name + " [options] [FILE]\n")) << r.Out;
    EXPECT_EQ(r.Err, "");
    r = RunProgram(program, {"--version"});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(r.Out, name + " " VLX_VERSION "\n");
    EXPECT_EQ(r.Err, "");
  }
}

TEST_F(EditorOptions, AnUnknownOptionPrintsTheUsageOnStderrAndExitsOne) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--bogus"}, {"-platform", "xcb", "--bogus", "a.cus"}, {"a.cus", "b.cus"}}) {
    SCOPED_TRACE(args.front());
    const auto r = RunProgram(link, args);
    EXPECT_EQ(r.Code, 1);
    EXPECT_EQ(r.Out, "");
    EXPECT_TRUE(StartsWith(r.Err, "vellox-editor: ")) << r.Err;
    EXPECT_NE(r.Err.find("\nusage: vellox-editor [options] [FILE]\n"), std::string::npos) << r.Err;
  }
}

// The proof that the runs above could not have opened a window: here the
// editor is asked to, and cannot.
TEST_F(EditorOptions, WithoutOptionsTheProgramWouldNeedTheWindowSystem) {
  const auto r = RunProgram(VLX_EDITOR_PATH, {});
  EXPECT_NE(r.Code, 0);
  EXPECT_EQ(r.Out, "");
}
