// The editor's command line, read before Qt starts.
#include <gtest/gtest.h>

#include "app/CommandLine.h"

using namespace vlx;
using Action = TEditorCommandLine::Action;

TEST(EditorCommandLine, WordsGiveTheActionAndTheFile) {
  struct Case {
    std::vector<std::string> Args;
    Action What;
    std::string File;
  };
  const Case cases[] = {
      {{}, Action::Run, ""},
      {{"live.cus"}, Action::Run, "live.cus"},
      {{"/home/u/My Set.cus"}, Action::Run, "/home/u/My Set.cus"},
      {{"--help"}, Action::Help, ""},
      {{"-h"}, Action::Help, ""},
      {{"--version"}, Action::Version, ""},
      {{"-v"}, Action::Version, ""},
      // --help wins over --version and over a file, wherever it stands.
      {{"live.cus", "--version", "--help"}, Action::Help, ""},
      // Qt's options are Qt's, with their values, with one dash or two.
      {{"-platform", "offscreen", "live.cus"}, Action::Run, "live.cus"},
      {{"--platform", "wayland"}, Action::Run, ""},
      {{"-style", "fusion", "-reverse", "-display", ":1", "a.cus"}, Action::Run, "a.cus"},
      {{"-style=fusion", "-qmljsdebugger=port:1234", "a.cus"}, Action::Run, "a.cus"},
      // A value that looks like a file is taken by its option.
      {{"-qwindowtitle", "x.cus"}, Action::Run, ""},
      // After "--" every word is a file.
      {{"--", "-odd.cus"}, Action::Run, "-odd.cus"},
      {{"--"}, Action::Run, ""},  // the menu entry started without a file
      {{"-"}, Action::Run, "-"},
  };
  for (const Case& c : cases) {
    std::string trace;
    for (const auto& a : c.Args) trace += a + " ";
    SCOPED_TRACE(trace);
    const TEditorCommandLine cl = ParseEditorCommandLine(c.Args);
    EXPECT_EQ(cl.What, c.What);
    EXPECT_EQ(cl.File, c.File);
    EXPECT_EQ(cl.Error, "");
  }
}

TEST(EditorCommandLine, BadCommandLinesAreNamed) {
  struct Case {
    std::vector<std::string> Args;
    std::string Error;
  };
  const Case cases[] = {
      {{"--bogus"}, "unknown option --bogus"},
      {{"-x", "live.cus"}, "unknown option -x"},
      {{"--platformx", "offscreen"}, "unknown option --platformx"},
      {{"a.cus", "b.cus"}, "more than one file: a.cus and b.cus"},
      {{"-platform"}, "option -platform needs a value"},
      {{""}, "an empty file name"},
      // An unknown option is an error even beside --help.
      {{"--help", "--bogus"}, "unknown option --bogus"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Error);
    const TEditorCommandLine cl = ParseEditorCommandLine(c.Args);
    EXPECT_EQ(cl.What, Action::Error);
    EXPECT_EQ(cl.Error, c.Error);
    EXPECT_EQ(cl.File, "");
  }
}

TEST(EditorCommandLine, ProgramNameIsTheFileNameOfArgvZero) {
  EXPECT_EQ(ProgramName("/usr/bin/vellox-editor", "x"), "vellox-editor");
  EXPECT_EQ(ProgramName("VLX210_MIDI_Editor", "x"), "VLX210_MIDI_Editor");
  EXPECT_EQ(ProgramName("", "x"), "x");
  EXPECT_EQ(ProgramName(nullptr, "x"), "x");
  EXPECT_EQ(ProgramName("/odd/", "x"), "x");
  EXPECT_NE(EditorUsage("vellox-editor").find("usage: vellox-editor [options] [FILE]\n"), std::string::npos);
  EXPECT_EQ(EditorVersionLine("vellox-editor", "0.3"), "vellox-editor 0.3\n");
}
