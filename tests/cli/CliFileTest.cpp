// vellox-cli's file commands (show, convert, diff) and its command line:
// exit codes, messages naming the file and the place, and output files that
// bad input never creates or overwrites.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "cli/Run.h"
#include <functional>

#include "profile/ProfileFormats.h"
#include "sync/SysEx.h"
#include "support/TempDir.h"

using namespace vlx;

namespace {

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
      {dir.File("missing.cus"), dir.File("missing.cus") + ": No such file or directory"},
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
  EXPECT_EQ(RunCli({"--version"}).Out, std::string("vellox-cli ") + VLX_VERSION_TEXT + "\n");
}

// Every message names what is wrong in words a user can act on, on one line
// that begins with the program's name.
TEST(Cli, MessagesSayWhatToDo) {
  TempDir dir;
  TParaTable t;
  ApplyFactoryValues(t);
  WriteProfile(dir.File("p.cus"), t);
  std::filesystem::create_directory(dir.File("folder.cus"));
  struct Case {
    std::vector<std::string> Args;
    int Code;
    std::string Message;
  };
  const std::vector<Case> cases = {
      {{"--timeout", "abc", "info"}, 1, "--timeout: \"abc\" is not a number"},
      {{"--timeout", "0", "info"}, 1, "--timeout: 0 is out of range 1..600000"},
      {{"monitor", "--count", "many"}, 1, "--count: \"many\" is not a number"},
      {{"monitor", "--channel", "1,x"}, 1, "--channel: \"x\" is not a number"},
      {{"--foo", "ports"}, 1, "no option \"--foo\" here"},
      {{"-V"}, 1, "no option \"-V\" here (vellox-cli --help lists them; a command's own options follow the command)"},
      {{"--count", "3", "monitor"}, 1, "no option \"--count\" here"},
      {{"show", "-"}, 1, "- (standard input or output) needs --format cus, json or syx"},
      {{"convert", dir.File("p.cus"), "-"}, 1, "- (standard input or output) needs --to cus, json or syx"},
      {{"convert", dir.File("p.cus"), dir.File("noext")}, 4,
       dir.File("noext") + ": the name has no extension; the known ones are .cus, .json and .syx (or give --to)"},
      {{"convert", dir.File("p.cus"), dir.File("no/such/folder/x.json")}, 4,
       dir.File("no/such/folder/x.json") + ": No such file or directory (there is no folder " +
           dir.File("no/such/folder") + ")"},
      {{"show", dir.File("gone/p.cus")}, 4,
       dir.File("gone/p.cus") + ": No such file or directory (there is no folder " + dir.File("gone") + ")"},
      {{"show", dir.File("folder.cus")}, 4, dir.File("folder.cus") + ": Is a directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Args[0] + " " + (c.Args.size() > 1 ? c.Args[1] : ""));
    const auto r = RunCli(c.Args);
    EXPECT_EQ(r.Code, c.Code) << r.Err;
    EXPECT_TRUE(Contains(r.Err, "vellox-cli: " + c.Message)) << r.Err;
    EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), 1) << r.Err;
    EXPECT_EQ(r.Out, "");
  }
}

// Output that is lost is an error with the system's reason, for a command's
// own output and for help alike.
TEST_F(CliFiles, OutputThatCannotBeWrittenFails) {
  CliSetup full;
  full.StdoutPath = "/dev/full";
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"show", dir.File("factory.cus")},
           {"convert", dir.File("factory.cus"), "-", "--to", "json"},
           {"diff", dir.File("factory.cus"), dir.File("factory.json")},
           {"--help"}}) {
    SCOPED_TRACE(args[0]);
    if (args[0] == "diff") {
      TParaTable t = factory;
      t[3].Value = 1;
      WriteProfile(dir.File("factory.json"), t);
    }
    const auto r = RunCli(args, full);
    EXPECT_EQ(r.Code, 4) << r.Err;
    EXPECT_TRUE(Contains(r.Err, "vellox-cli: cannot write to standard output: No space left on device")) << r.Err;
  }
  // Where it can be written, the same commands succeed.
  CliSetup null;
  null.StdoutPath = "/dev/null";
  EXPECT_EQ(RunCli({"show", dir.File("factory.cus")}, null).Code, 0);
  // A device named as the output file is written to, never replaced.
  const auto r = RunCli({"convert", dir.File("factory.cus"), "/dev/full", "--to", "json"});
  EXPECT_EQ(r.Code, 4);
  EXPECT_TRUE(Contains(r.Err, "/dev/full: No space left on device")) << r.Err;
  struct stat st {};
  ASSERT_EQ(::stat("/dev/full", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
}

// "-" is standard input and standard output, with the format named.
TEST_F(CliFiles, DashIsStandardInputAndOutput) {
  TParaTable t = factory;
  t[2].Name.assign("Snare drum");
  t[19].Value = 40;
  WriteProfile(dir.File("a.cus"), t);
  WriteProfile(dir.File("a.json"), t);

  auto r = RunCli({"convert", dir.File("a.cus"), "-", "--to", "json"});
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(r.Out, ReadText(dir.File("a.json")));

  CliSetup in;
  in.StdinPath = dir.File("a.json");
  r = RunCli({"convert", "-", dir.File("b.cus"), "--from", "json"}, in);
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(ReadBytes(dir.File("b.cus")), ReadBytes(dir.File("a.cus")));

  r = RunCli({"show", "-", "--format", "json"}, in);
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(r.Out, RunCli({"show", dir.File("a.cus")}).Out);

  // Binary forms go to a pipe as they are.
  in.StdinPath = dir.File("a.cus");
  r = RunCli({"convert", "-", "-", "--from", "cus", "--to", "syx"}, in);
  ASSERT_EQ(r.Code, 0) << r.Err;
  const auto syx = EncodeProfileAs(t, ProfileFormat::Syx);
  EXPECT_EQ(r.Out, std::string(syx.begin(), syx.end()));

  // A binary form is not written to a terminal; JSON is.
  const int terminal = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_TRUE(terminal >= 0 && ::grantpt(terminal) == 0 && ::unlockpt(terminal) == 0);
  CliSetup onTerminal;
  onTerminal.StdoutPath = ::ptsname(terminal);
  r = RunCli({"convert", dir.File("a.cus"), "-", "--to", "syx"}, onTerminal);
  EXPECT_EQ(r.Code, 1);
  EXPECT_TRUE(Contains(r.Err, "a .syx profile is binary: it is not written to a terminal")) << r.Err;
  EXPECT_EQ(RunCli({"convert", dir.File("a.cus"), "-", "--to", "json"}, onTerminal).Code, 0);
  ::close(terminal);

  // What standard input holds is checked as a file's content is.
  in.StdinPath = dir.File("a.json");
  r = RunCli({"show", "-", "--format", "cus"}, in);
  EXPECT_EQ(r.Code, 4);
  EXPECT_TRUE(Contains(r.Err, "vellox-cli: standard input: ")) << r.Err;
}

// Reading a profile costs time linear in its size and no more than the
// size limit: hostile files are refused quickly, from a file and from a
// pipe. (The figures are in tools/bench/hostile_json.)
TEST_F(CliFiles, HostileProfilesAreRefusedQuickly) {
  const auto objects = [](std::size_t n) {
    std::string s = "[";
    for (std::size_t i = 0; i < n; ++i) s += i ? ",{}" : "{}";
    return s + "]";
  };
  struct Case {
    std::string Name, Text, Message;
  };
  const std::vector<Case> cases = {
      {"million.json", objects(1000000), "more than 1 MiB; no profile is that large"},
      {"many.json", objects(340000), "not a profile: more than 10000 values"},
      {"deep.json", std::string(500000, '[') + std::string(500000, ']'), "not a profile: nested more than 16 levels deep"},
      {"long-name.json", "{\"a\":\"" + std::string(1000000, 'x') + "\"}", "unknown key"},
      {"big.cus", std::string(1u << 20, '\0'), "bytes; a profile file has 4536 bytes"},
      {"big.syx", std::string(1u << 20, '\xF0'), "bytes; a parameter dump has 44"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    WriteBytes(dir.File(c.Name), std::vector<uint8_t>(c.Text.begin(), c.Text.end()));
    const auto start = std::chrono::steady_clock::now();
    const auto r = RunCli({"show", dir.File(c.Name)});
    // Only a hang or a quadratic cost comes near this (it takes well under
    // a second).
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_EQ(r.Code, 4);
    EXPECT_TRUE(Contains(r.Err, c.Message)) << r.Err.substr(0, 300);
  }
  // A stream without end is read no further than the limit.
  CliSetup zero;
  zero.StdinPath = "/dev/zero";
  const auto r = RunCli({"show", "-", "--format", "json"}, zero);
  EXPECT_EQ(r.Code, 4);
  EXPECT_TRUE(Contains(r.Err, "vellox-cli: standard input: more than 1 MiB; no profile is that large")) << r.Err;
}

// Text from a file reaches the terminal with its control characters shown
// escaped; JSON stays JSON, with the name intact.
TEST_F(CliFiles, ControlCharactersInNamesAreShownEscaped) {
  TParaTable t = factory;
  t[1].Name.assign("\x1b]0;owned\x07");
  t[2].Name.assign("\x1b[2J\nA2 forged\x7f");
  t[3].Name.assign(std::string("a\x9b") + "b");  // Latin-1 C1 (CSI)
  WriteProfile(dir.File("evil.json"), t);

  auto r = RunCli({"show", dir.File("evil.json")});
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_TRUE(Contains(r.Out, "\\x1B]0;owned\\x07")) << r.Out;
  EXPECT_TRUE(Contains(r.Out, "\\x1B[2J\\x0AA2 forged\\x7F")) << r.Out;
  EXPECT_TRUE(Contains(r.Out, "a\\u009Bb")) << r.Out;
  for (const std::string& out : {r.Out, RunCli({"diff", dir.File("factory.cus"), dir.File("evil.json")}).Out}) {
    EXPECT_EQ(out.find('\x1b'), std::string::npos);
    EXPECT_EQ(out.find('\x07'), std::string::npos);
    EXPECT_EQ(out.find("\xc2\x9b"), std::string::npos);
    EXPECT_EQ(out.find("\nA2 forged"), std::string::npos) << out;
  }

  r = RunCli({"convert", dir.File("evil.json"), "-", "--to", "json"});
  ASSERT_EQ(r.Code, 0) << r.Err;
  for (const char* raw : {"\x1b", "\x7f", "\xc2\x9b"}) EXPECT_EQ(r.Out.find(raw), std::string::npos) << r.Out;
  const auto doc = nlohmann::json::parse(r.Out);
  EXPECT_EQ(doc["controls"][1]["name"], "\x1b[2J\nA2 forged\x7f");
  EXPECT_EQ(doc["controls"][2]["name"], "a\xc2\x9b" "b");

  // A key from the file in an error message.
  WriteBytes(dir.File("key.json"), {'{', '"', '\\', 'u', '0', '0', '1', 'b', '[', '2', 'J', '"', ':', '1', '}'});
  r = RunCli({"show", dir.File("key.json")});
  EXPECT_EQ(r.Code, 4);
  EXPECT_EQ(r.Err.find('\x1b'), std::string::npos) << r.Err;
  EXPECT_TRUE(Contains(r.Err, "\\x1B[2J")) << r.Err;
}

// Without any MIDI service every command that needs one exits 2 naming the
// service that is missing, and nothing of libasound's or RtMidi's own
// reaches stderr.
TEST(CliNoService, EveryCommandExits2NamingTheService) {
  CliSetup noServer;
  noServer.Env = {"JACK_DEFAULT_SERVER=vlx-no-such-server-" + std::to_string(::getpid())};
  const bool sequencer = ::access("/dev/snd/seq", R_OK | W_OK) == 0;
  struct Case {
    std::string Api, Message;
  };
  std::vector<Case> cases = {{"jack", "vellox-cli: no JACK server is running"}};
  if (!sequencer) {
    cases.push_back({"alsa", "vellox-cli: no MIDI service: the ALSA sequencer cannot be opened"});
    cases.push_back({"auto", "vellox-cli: no MIDI service: the ALSA sequencer (/dev/snd/seq) cannot be opened and "
                             "no JACK server is running"});
  }
  for (const Case& c : cases) {
    for (const std::vector<std::string>& command :
         std::vector<std::vector<std::string>>{{"ports"}, {"info"}, {"read"}, {"reset", "--yes"}, {"monitor"}}) {
      SCOPED_TRACE(c.Api + " " + command[0]);
      std::vector<std::string> args = {"--midi-api", c.Api};
      args.insert(args.end(), command.begin(), command.end());
      const auto r = RunCli(args, noServer);
      EXPECT_EQ(r.Code, 2) << r.Err;
      EXPECT_EQ(r.Err.rfind(c.Message, 0), 0u) << r.Err;
      EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), 1) << r.Err;
      EXPECT_EQ(r.Out, "");
    }
  }
  if (!sequencer) {
    const auto r = RunCli({"--midi-api", "alsa", "ports"}, noServer);
    EXPECT_TRUE(Contains(r.Err, "snd-seq") && Contains(r.Err, "audio group")) << r.Err;
  }
}

}  // namespace
