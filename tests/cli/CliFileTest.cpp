// vellox-cli's file commands (show, convert, diff) and its command line:
// exit codes, messages naming the file and the place, and output files that
// bad input never creates or overwrites.
#include <gtest/gtest.h>

#include "cli/Run.h"
#include <functional>

#include "profile/ProfileFormats.h"
#include "sync/SysEx.h"
#include "support/TempDir.h"

using namespace vlx;

namespace {

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class CliFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    ApplyFactoryValues(factory);
    WriteProfile(dir.File("factory.cus"), factory);
  }
  TempDir dir;
  TParaTable factory;
};

TEST_F(CliFiles, ConvertsBetweenTheThreeForms) {
  TParaTable t = factory;
  t[2].Name.assign("Snare drum");  // longer than the name it replaces
  t[19].Value = 40;
  t.GlobalBlock()[Scale] = 4;
  WriteProfile(dir.File("a.cus"), t);

  auto r = RunCli({"convert", dir.File("a.cus"), dir.File("a.json")});
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_TRUE(Contains(ReadText(dir.File("a.json")), "\"SCALE\": \"BLUES\""));
  r = RunCli({"convert", dir.File("a.json"), dir.File("b.cus")});
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(ReadBytes(dir.File("b.cus")), ReadBytes(dir.File("a.cus")));

  r = RunCli({"convert", dir.File("a.cus"), dir.File("a.syx")});
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(ReadBytes(dir.File("a.syx")).size(), 44u);
  r = RunCli({"convert", dir.File("a.syx"), dir.File("c.cus")});
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_TRUE(Contains(r.Err, "factory defaults")) << r.Err;  // the names are not in a dump
  const TParaTable c = ReadProfile(dir.File("c.cus")).Table;
  EXPECT_TRUE(CompareDumpFields(t, c).empty());
  EXPECT_EQ(c[2].Name.str(), "A|PAD2");

  // --quiet keeps the note off stderr.
  r = RunCli({"--quiet", "convert", dir.File("a.syx"), dir.File("d.json")});
  EXPECT_EQ(r.Code, 0);
  EXPECT_EQ(r.Err, "");
}

TEST_F(CliFiles, ShowAndDiffSpeakInWords) {
  TParaTable t = factory;
  t[19].Value = 39;
  t[1].Name.assign("Kick");
  WriteProfile(dir.File("b.json"), t);

  auto r = RunCli({"show", dir.File("b.json")});
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_TRUE(Contains(r.Out, "knob 2    Knob2                   39       0  CC(Relative)")) << r.Out;
  EXPECT_TRUE(Contains(r.Out, "BEAT TYPE    4 beat")) << r.Out;

  r = RunCli({"diff", dir.File("factory.cus"), dir.File("b.json")});
  EXPECT_EQ(r.Code, 3);
  EXPECT_EQ(r.Out, "knob 2: value 13 in " + dir.File("factory.cus") + ", 39 in " + dir.File("b.json") + "\n" +
                       "pad A1: name \"A|PAD1\" in " + dir.File("factory.cus") + ", \"Kick\" in " + dir.File("b.json") +
                       "\n");
  r = RunCli({"diff", dir.File("factory.cus"), dir.File("factory.cus")});
  EXPECT_EQ(r.Code, 0);
  EXPECT_EQ(r.Out, "");
}

TEST_F(CliFiles, BadInputFailsWithExitCode4AndWritesNothing) {
  WriteBytes(dir.File("short.cus"), std::vector<uint8_t>(4000, 0));
  WriteBytes(dir.File("broken.json"), {'{', '"', 'a'});
  WriteBytes(dir.File("other.syx"), {0xF0, 0x7E, 0x00, 0x06, 0x01, 0xF7});
  WriteBytes(dir.File("out.json"), {'k', 'e', 'e', 'p'});
  struct Case {
    std::string In, Message;
  };
  const Case cases[] = {
      {dir.File("short.cus"), dir.File("short.cus") + ": 4000 bytes; a profile file has 4536 bytes"},
      {dir.File("broken.json"), dir.File("broken.json") + ": not valid JSON: parse error at line 1, column 4"},
      {dir.File("other.syx"), dir.File("other.syx") + ": 6 bytes; a parameter dump has 44"},
      {dir.File("missing.cus"), dir.File("missing.cus") + ": File not found"},
      {dir.File("factory.txt"), dir.File("factory.txt") + ": unknown file type \".txt\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.In);
    for (const char* out : {"out.json", "new.cus"}) {
      const auto r = RunCli({"convert", c.In, dir.File(out)});
      EXPECT_EQ(r.Code, 4);
      EXPECT_EQ(r.Err.rfind("vellox-cli: " + c.Message, 0), 0u) << r.Err;
    }
    EXPECT_EQ(ReadText(dir.File("out.json")), "keep");
    EXPECT_FALSE(std::filesystem::exists(dir.File("new.cus")));
    EXPECT_EQ(RunCli({"show", c.In}).Code, 4);
  }
  // An output of no known form is refused before anything is read.
  const auto r = RunCli({"convert", dir.File("factory.cus"), dir.File("out.txt")});
  EXPECT_EQ(r.Code, 4);
  EXPECT_FALSE(std::filesystem::exists(dir.File("out.txt")));
  // No temporary files are left behind.
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.Path)) ++files;
  EXPECT_EQ(files, 5u);
}

// The editor stores a list it shows without a selection as -1: a global, the
// slider's channel, a knob's data type.
TParaTable WithoutSelections(const TParaTable& factory) {
  TParaTable t = factory;
  t.GlobalBlock()[ARPMode] = NoSelection;
  t[SliderControl].Channel = NoSelection;
  t[20].DataType = NoSelection;
  return t;
}

TEST_F(CliFiles, ListsWithoutASelectionAreShownAndKeptThroughEveryForm) {
  const TParaTable t = WithoutSelections(factory);
  WriteProfile(dir.File("editor.cus"), t);

  auto r = RunCli({"show", dir.File("editor.cus")});
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_TRUE(Contains(r.Out, "ARP MODE     no selection\n")) << r.Out;
  EXPECT_TRUE(Contains(r.Out, "slider    Slider                   7 no selection  CC\n")) << r.Out;
  EXPECT_TRUE(Contains(r.Out, "knob 3    Knob3                   14       0  no selection\n")) << r.Out;

  r = RunCli({"convert", dir.File("editor.cus"), dir.File("editor.json")});
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_TRUE(Contains(ReadText(dir.File("editor.json")), "\"ARP MODE\": null")) << ReadText(dir.File("editor.json"));
  r = RunCli({"convert", dir.File("editor.json"), dir.File("back.cus")});
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(ReadBytes(dir.File("back.cus")), ReadBytes(dir.File("editor.cus")));

  // The dump holds what the editor sends for them.
  r = RunCli({"convert", dir.File("editor.cus"), dir.File("editor.syx")});
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_TRUE(Contains(r.Err, "no selection in slider: channel, knob 3: data type, globals: ARP MODE")) << r.Err;
  std::vector<uint8_t> sent;
  TByteStream stream;
  HexTextToBytes(BuildDumpText(t), stream);
  sent.assign(stream.Bytes.begin(), stream.Bytes.begin() + 44);
  EXPECT_EQ(ReadBytes(dir.File("editor.syx")), sent);
  EXPECT_EQ(sent[4 + 31], 0);  // ARP MODE
}

TEST_F(CliFiles, AListPositionTheEditorHasNoItemForIsConvertedOnlyWhenAskedFor) {
  struct Case {
    const char* Name;
    std::function<void(TParaTable&)> Set;
    const char* Message;
  } cases[] = {
      {"arp", [](TParaTable& t) { t.GlobalBlock()[ARPMode] = 5; },
       "globals: ARP MODE 5 is no item of the editor's list (UP, DOWN, RANDOM, CHRN; positions 0..3)"},
      {"slider", [](TParaTable& t) { t[SliderControl].DataType = 5; },
       "slider (record 17): data type 5 is no item of the editor's list (NOTE, PC, PITCH BEND, AFTER TOUCH, CC;"},
      {"channel", [](TParaTable& t) { t[21].Channel = 16; },
       "knob 4 (record 21): channel 16 is no item of the editor's list (0..15;"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TParaTable t = factory;
    c.Set(t);
    const std::string in = dir.File(std::string(c.Name) + ".cus"), out = dir.File(std::string(c.Name) + ".json");
    WriteProfile(in, t);
    // Read and shown as it is; refused where it would go on.
    EXPECT_EQ(RunCli({"show", in}).Code, 0);
    auto r = RunCli({"convert", in, out});
    EXPECT_EQ(r.Code, 4);
    EXPECT_TRUE(Contains(r.Err, "vellox-cli: " + in + ": " + c.Message)) << r.Err;
    EXPECT_TRUE(Contains(r.Err, "--raw")) << r.Err;
    EXPECT_FALSE(std::filesystem::exists(out));
    r = RunCli({"convert", "--raw", in, out});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(EncodeProfile(ReadProfile(out).Table), EncodeProfile(t));
  }
  // A knob has a sixth data type.
  TParaTable t = factory;
  t[18].DataType = 5;
  WriteProfile(dir.File("knob.cus"), t);
  EXPECT_EQ(RunCli({"convert", dir.File("knob.cus"), dir.File("knob.json")}).Code, 0);
}

TEST(Cli, UsageErrorsExitWith1AndHelpListsTheExitCodes) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {}, {"frobnicate"}, {"write"}, {"--timeout", "0", "info"}, {"monitor", "--hex", "--json"},
           {"monitor", "--channel", "17"}, {"--midi-api", "oss", "ports"}}) {
    const auto r = RunCli(args);
    EXPECT_EQ(r.Code, 1) << r.Err;
    EXPECT_NE(r.Err, "");
  }
  EXPECT_TRUE(Contains(RunCli({"--quiet", "frobnicate"}).Err, "vellox-cli: no command \"frobnicate\"; the commands are"));
  const auto help = RunCli({"--help"});
  EXPECT_EQ(help.Code, 0);
  EXPECT_TRUE(Contains(help.Out, "3  verification failed")) << help.Out;
  EXPECT_TRUE(Contains(RunCli({"write", "--help"}).Out, "--no-verify"));
}

}  // namespace
