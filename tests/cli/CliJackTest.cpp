// vellox-cli against the virtual controller on the JACK server: the program
// as users run it, over the real MIDI service.
#include <gtest/gtest.h>

#include <fstream>
#include <limits>
#include <sstream>

#include "cli/Run.h"
#include "cli/SomeProfile.h"
#include "e2e/RecordingJackController.h"
#include "profile/ProfileFormats.h"
#include "sync/SysEx.h"
#include "support/TempDir.h"

using namespace vlx;
using namespace std::chrono_literals;

namespace {

const std::vector<std::string> Jack = {"--midi-api", "jack", "--no-usb-check"};

CliResult Cli(std::vector<std::string> args, const CliSetup& setup = {}) {
  args.insert(args.begin(), Jack.begin(), Jack.end());
  return RunCli(args, setup);
}

// The resident memory of a process in KiB, 0 when it cannot be read.
long RssKb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return 0;
}

// The processor time a process has used, in clock ticks (user and system).
long CpuTicks(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  std::istringstream fields(text.substr(text.rfind(')') + 2));  // after the program's name
  std::string f;
  long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && fields >> f; ++i) {
    if (i == 14) utime = std::stol(f);
    if (i == 15) stime = std::stol(f);
  }
  return utime + stime;
}

// How many times over a sanitizer counts memory in the resident size.
#if defined(__SANITIZE_THREAD__)
constexpr long ResidentAllowance = 4;
#else
constexpr long ResidentAllowance = 1;
#endif

// Waits until the monitor's input is connected to the controller's output.
bool Connected(RecordingJackController& device) {
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (device.Peer().OutConnections() == 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(10ms);
  return device.Peer().OutConnections() == 1;
}

class CliJack : public ::testing::Test {
 protected:
  void SetUp() override {
    device = std::make_unique<RecordingJackController>();
    ASSERT_EQ(device->Peer().ClientName(), "vellox") << "another client holds the name";
  }
  // The dumps that reached the controller, as they came off the wire.
  std::vector<RecordingJackController::Bytes> DumpsReceived() {
    std::vector<RecordingJackController::Bytes> out;
    for (const auto& e : device->Raw())
      if (e.size() >= 4 && e[0] == 0xF0 && e[1] == 0x34 && e[2] == 0x00 && e[3] == 0x27) out.push_back(e);
    return out;
  }

  TempDir dir;
  std::unique_ptr<RecordingJackController> device;
};

TEST_F(CliJack, InfoAndPortsFindTheController) {
  device->Controller().SetFirmware(2, 10);
  auto r = Cli({"info"});
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(r.Out, "FW: V2.10\ninput: vellox\noutput: vellox\n");
  r = Cli({"ports"});
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_TRUE(Contains(r.Out, "input  0  vellox  (controller)")) << r.Out;
  EXPECT_TRUE(Contains(r.Out, "output 0  vellox  (controller)")) << r.Out;
}

TEST_F(CliJack, ReadGivesExactlyTheProfileTheControllerHolds) {
  device->Controller().SetProfile(SomeProfile());
  for (const char* name : {"r.json", "r.syx", "r.cus"}) {
    SCOPED_TRACE(name);
    const auto r = Cli({"read", "-o", dir.File(name)});
    ASSERT_EQ(r.Code, 0) << r.Err;
    const TDumpBody body = DumpBodyOf(ReadProfile(dir.File(name)).Table);
    EXPECT_TRUE(std::equal(body.begin(), body.end(), SomeProfile().begin()));
  }
  const auto r = Cli({"read"});
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_FALSE(Contains(r.Err, "editor")) << "a warning without the editor: " << r.Err;
  EXPECT_TRUE(Contains(r.Out, "slider       85       0  PC")) << r.Out;
  EXPECT_TRUE(Contains(r.Out, "SCALE        MINOR")) << r.Out;
}

TEST_F(CliJack, WriteDeliversTheExact47BytesAndVerifies) {
  TParaTable t = TableOfDumpBody(SomeProfile());
  t[1].Name.assign("Kick");
  WriteProfile(dir.File("w.json"), t);
  device->ClearRaw();
  const auto r = Cli({"write", dir.File("w.json")});
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_TRUE(Contains(r.Err, "verified")) << r.Err;
  const auto dumps = DumpsReceived();
  ASSERT_EQ(dumps.size(), 1u);
  auto expected = DumpMessageOf(DumpBodyOf(t));
  expected.insert(expected.end(), {0, 0, 0});
  EXPECT_EQ(dumps[0], expected);
  EXPECT_EQ(device->Controller().Profile(), SomeProfile());
}

TEST_F(CliJack, WriteSendsWhatTheEditorSendsForAListWithoutASelection) {
  // As the editor stores lists it shows without a selection.
  TParaTable t = TableOfDumpBody(SomeProfile());
  t.GlobalBlock()[Velocity] = NoSelection;
  t[19].Channel = NoSelection;
  WriteProfile(dir.File("editor.cus"), t);
  device->ClearRaw();
  auto r = Cli({"write", dir.File("editor.cus")});
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_TRUE(Contains(r.Err, "no selection in knob 2: channel, globals: VELOCITY: sent as 0")) << r.Err;
  EXPECT_TRUE(Contains(r.Err, "verified")) << r.Err;
  // The window's SYNC TO FW hands BuildDumpText's text to the port.
  TByteStream windowSends;
  HexTextToBytes(BuildDumpText(t), windowSends);
  auto dumps = DumpsReceived();
  ASSERT_EQ(dumps.size(), 1u);
  EXPECT_EQ(dumps[0], windowSends.Bytes);

  // A position the editor's list has no item for goes only when asked for.
  t = TableOfDumpBody(SomeProfile());
  t.GlobalBlock()[ARPMode] = 5;
  WriteProfile(dir.File("arp5.cus"), t);
  device->ClearRaw();
  r = Cli({"write", dir.File("arp5.cus")});
  EXPECT_EQ(r.Code, 4);
  EXPECT_TRUE(Contains(r.Err, "ARP MODE 5 is no item of the editor's list (UP, DOWN, RANDOM, CHRN")) << r.Err;
  EXPECT_TRUE(DumpsReceived().empty());
  r = Cli({"write", "--raw", dir.File("arp5.cus")});
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(device->Controller().Profile()[31], 5);
  // Read back, it is kept as it is, and said.
  r = Cli({"read", "-o", dir.File("back.cus")});
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_TRUE(Contains(r.Err, "the controller holds globals: ARP MODE 5 is no item")) << r.Err;
  EXPECT_EQ(ReadProfile(dir.File("back.cus")).Table.GlobalBlock()[ARPMode], 5);
}

TEST_F(CliJack, AControllerThatStoresAByteWronglyFailsTheWrite) {
  device->Controller().SetStoreWrongByte(22);  // knob 2's value
  TParaTable t = TableOfDumpBody(SomeProfile());
  WriteProfile(dir.File("w.syx"), t);
  auto r = Cli({"write", dir.File("w.syx")});
  EXPECT_EQ(r.Code, 3);
  EXPECT_TRUE(Contains(r.Err, "vellox-cli: knob 2: value sent 40, read back 41\n")) << r.Err;
  EXPECT_TRUE(Contains(r.Err, "verification failed")) << r.Err;
  // Without the read-back the acknowledgement is all there is.
  r = Cli({"write", "--no-verify", dir.File("w.syx")});
  EXPECT_EQ(r.Code, 0) << r.Err;
  // The slider's data type, a field with a list text.
  device->Controller().SetStoreWrongByte(18);
  r = Cli({"reset", "--yes"});
  EXPECT_EQ(r.Code, 3);
  EXPECT_TRUE(Contains(r.Err, "slider: data type sent CC, read back 5")) << r.Err;
}

TEST_F(CliJack, ResetSendsTheFactoryProfileAndVerifies) {
  device->Controller().SetProfile(SomeProfile());
  device->ClearRaw();
  // stdin is not a terminal: nothing to ask on, so nothing is sent without
  // --yes.
  auto r = Cli({"reset"});
  EXPECT_EQ(r.Code, 5);
  EXPECT_TRUE(Contains(r.Err, "vellox-cli: reset not confirmed: standard input is no terminal")) << r.Err;
  EXPECT_TRUE(device->Raw().empty());
  r = Cli({"reset", "--yes"});
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(device->Controller().Profile(), VirtualController::FactoryBody());
  const auto dumps = DumpsReceived();
  ASSERT_EQ(dumps.size(), 1u);
  EXPECT_EQ(dumps[0], ParseHexBytes("F0 34 00 27 1E 1F 20 21 22 23 24 25 26 27 28 29 2A 2B 2C 2D 07 00 04 0C 00 04 "
                                    "0D 00 04 0E 00 04 0F 00 04 00 02 01 00 01 00 03 00 F7 00 00 00"));
}

// When stdin is a terminal reset asks first, on the terminal, before it
// looks for the controller, whatever stderr is; only a yes sends anything.
TEST_F(CliJack, ResetOnATerminalAsksFirst) {
  device->Controller().SetProfile(SomeProfile());
  device->ClearRaw();
  struct Case {
    CliSetup::Terminal tty;
    const char* answer;
    int code;
  };
  using T = CliSetup::Terminal;
  for (const Case c : {Case{T::Stdin, "n\n", 5}, Case{T::StdinStderr, "n\n", 5}, Case{T::Stdin, "\n", 5},
                       Case{T::Stdin, "yes please\n", 5}, Case{T::Stdin, "y\n", 0}}) {
    SCOPED_TRACE(std::string(c.answer) + (c.tty == T::Stdin ? " (stderr a pipe)" : " (stderr the terminal)"));
    CliSetup setup;
    setup.Tty = c.tty;
    CliProcess reset({VLX_CLI_PATH, "--midi-api", "jack", "--no-usb-check", "reset"}, setup);
    const auto terminal = [&] { return c.tty == T::Stdin ? reset.Tty() : reset.Err(); };
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!Contains(terminal(), "[y/N] ") && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(10ms);
    ASSERT_TRUE(Contains(terminal(), "Send the factory profile to the controller? [y/N] ")) << terminal();
    reset.Type(c.answer);
    EXPECT_EQ(reset.Wait(), c.code) << reset.Err();
    if (c.tty == T::Stdin) {
      EXPECT_FALSE(Contains(reset.Err(), "[y/N]")) << reset.Err();
    }
    if (c.code == 5) {
      EXPECT_TRUE(Contains(reset.Err(), "vellox-cli: reset cancelled: nothing was sent")) << reset.Err();
      EXPECT_TRUE(device->Raw().empty());
    }
  }
  EXPECT_EQ(DumpsReceived().size(), 1u);
  EXPECT_EQ(device->Controller().Profile(), VirtualController::FactoryBody());
}

TEST_F(CliJack, DiffAgainstTheDevice) {
  TParaTable t = TableOfDumpBody(SomeProfile());
  WriteProfile(dir.File("same.cus"), t);
  t[20].Channel = 4;
  WriteProfile(dir.File("other.cus"), t);
  device->Controller().SetProfile(SomeProfile());
  EXPECT_EQ(Cli({"diff", dir.File("same.cus"), "device"}).Code, 0);
  const auto r = Cli({"diff", "device", dir.File("other.cus")});
  EXPECT_EQ(r.Code, 3);
  EXPECT_EQ(r.Out, "knob 3: channel 0 in device, 4 in " + dir.File("other.cus") + "\n");
}

TEST_F(CliJack, NoAnswerIsExitCode2AndWritesNothing) {
  device->Controller().SetSilentIdentity(true);
  const auto r = Cli({"--timeout", "300", "read", "-o", dir.File("never.json")});
  EXPECT_EQ(r.Code, 2);
  EXPECT_TRUE(Contains(r.Err, "no answer: the controller did not answer the identity request on \"vellox\" within 300 ms"))
      << r.Err;
  EXPECT_FALSE(std::filesystem::exists(dir.File("never.json")));
}

TEST_F(CliJack, MonitorDecodesWhatTheControllerSendsAndEndsOnCtrlC) {
  // The last message passes every filter below: once it is shown, every
  // message before it has been shown or left out.
  const std::vector<RecordingJackController::Bytes> played = {
      ParseHexBytes("90 3C 64"), ParseHexBytes("B0 07 7F"), ParseHexBytes("E0 00 60"),
      ParseHexBytes("F0 7E 00 06 01 F7"), ParseHexBytes("F8"), ParseHexBytes("B0 01 00")};
  struct Case {
    std::vector<std::string> options;
    std::vector<std::string> lines;
  };
  const std::vector<Case> cases = {
      {{},
       {"ch 1 note on C4 (60) velocity 100", "ch 1 control change controller 7 value 127", "ch 1 pitch bend +4096",
        "sysex F0 7E 00 06 01 F7 (6 bytes)", "clock", "ch 1 control change controller 1 value 0"}},
      {{"--json"},
       {R"({"port":"vellox","kind":"note on","channel":1,"note":60,"note_name":"C4","velocity":100,"bytes":[144,60,100]})",
        R"({"port":"vellox","kind":"control change","channel":1,"controller":7,"value":127,"bytes":[176,7,127]})",
        R"({"port":"vellox","kind":"pitch bend","channel":1,"bend":4096,"bytes":[224,0,96]})",
        R"({"port":"vellox","kind":"sysex","hex":"F0 7E 00 06 01 F7","length":6})",
        R"({"port":"vellox","kind":"clock","bytes":[248]})",
        R"({"port":"vellox","kind":"control change","channel":1,"controller":1,"value":0,"bytes":[176,1,0]})"}},
      {{"--dec", "--kind", "cc,bend"}, {"176 7 127", "224 0 96", "176 1 0"}},
      // A channel filter keeps channel messages only.
      {{"--hex", "--channel", "1"}, {"90 3C 64", "B0 07 7F", "E0 00 60", "B0 01 00"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {VLX_CLI_PATH, "--midi-api", "jack", "--no-usb-check", "monitor"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    SCOPED_TRACE(c.options.empty() ? "decoded" : c.options[0]);
    CliProcess monitor(args);
    // The monitor's input is connected to the controller's output.
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (device->Peer().OutConnections() == 0 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(10ms);
    ASSERT_EQ(device->Peer().OutConnections(), 1) << monitor.Err();
    for (const auto& m : played) ASSERT_TRUE(device->Play(m));
    while (Lines(monitor.Out()).size() < c.lines.size() && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(10ms);
    monitor.Signal(SIGINT);
    EXPECT_EQ(monitor.Wait(), 0) << monitor.Err();
    EXPECT_EQ(Lines(monitor.Out()), c.lines);
    device->Peer().ClearReceived();
    // The monitor's port leaves the graph with it.
    while (device->Peer().OutConnections() != 0 && std::chrono::steady_clock::now() < deadline + 5s)
      std::this_thread::sleep_for(10ms);
  }
}

TEST_F(CliJack, MonitorLosesNothingInAFlood) {
  constexpr int N = 20000;
  CliProcess monitor({VLX_CLI_PATH, "--midi-api", "jack", "--no-usb-check", "--quiet", "monitor", "--hex", "--count",
                      std::to_string(N)});
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (device->Peer().OutConnections() == 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(10ms);
  ASSERT_EQ(device->Peer().OutConnections(), 1) << monitor.Err();
  for (int i = 0; i < N; ++i) {
    const RecordingJackController::Bytes m = {static_cast<uint8_t>(0x90 | (i >> 14)), static_cast<uint8_t>((i >> 7) & 127),
                                              static_cast<uint8_t>(i & 127)};
    // As fast as JACK takes them: a full buffer is tried again.
    while (!device->Play(m)) std::this_thread::sleep_for(1ms);
  }
  ASSERT_EQ(monitor.Wait(60s), 0) << monitor.Err();
  const auto lines = Lines(monitor.Out());
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(N));
  for (int i = 0; i < N; ++i) {
    char expected[16];
    std::snprintf(expected, sizeof expected, "%02X %02X %02X", 0x90 | (i >> 14), (i >> 7) & 127, i & 127);
    ASSERT_EQ(lines[static_cast<std::size_t>(i)], expected) << "message " << i;
  }
}


// What cannot be written to stdout is an error, and the command says why.
TEST_F(CliJack, OutputThatCannotBeWrittenFails) {
  CliSetup full;
  full.StdoutPath = "/dev/full";
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"info"}, {"read"}, {"read", "-o", "-", "--format", "json"}, {"ports"}}) {
    SCOPED_TRACE(args.back());
    const auto r = Cli(args, full);
    EXPECT_EQ(r.Code, 4) << r.Err;
    EXPECT_TRUE(Contains(r.Err, "vellox-cli: cannot write to standard output: No space left on device")) << r.Err;
  }
  // read -o - gives what read -o FILE gives.
  device->Controller().SetProfile(SomeProfile());
  const auto r = Cli({"read", "-o", "-", "--format", "json"});
  ASSERT_EQ(r.Code, 0) << r.Err;
  ASSERT_EQ(Cli({"read", "-o", dir.File("r.json")}).Code, 0);
  EXPECT_EQ(r.Out, ReadText(dir.File("r.json")));
}

TEST_F(CliJack, APortThatMatchesNothingPointsToThePortList) {
  const auto r = Cli({"--port", "nonexistent", "info"});
  EXPECT_EQ(r.Code, 2);
  EXPECT_TRUE(Contains(r.Err, "\"nonexistent\"")) << r.Err;
  EXPECT_TRUE(Contains(r.Err, "(vellox-cli ports lists the ports there are)")) << r.Err;
}

// Active sensing comes through the MIDI layer when real-time messages are
// asked for, and stays out otherwise.
TEST_F(CliJack, MonitorShowsActiveSensingOnlyWhenAskedFor) {
  struct Case {
    std::vector<std::string> options;
    std::vector<std::string> lines;
  };
  const std::vector<Case> cases = {
      {{"--kind", "realtime"}, {"active sensing", "clock", "active sensing", "stop"}},
      {{"--hex", "--kind", "realtime,note"}, {"FE 00 00", "F8 00 00", "FE 00 00", "FC 00 00"}},
      {{}, {"clock", "stop"}},
      {{"--hex"}, {"F8 00 00", "FC 00 00"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options.empty() ? "decoded" : c.options.back());
    std::vector<std::string> args = {VLX_CLI_PATH, "--midi-api", "jack", "--no-usb-check", "monitor"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    CliProcess monitor(args);
    ASSERT_TRUE(Connected(*device)) << monitor.Err();
    for (const char* m : {"FE", "F8", "FE", "FC"}) ASSERT_TRUE(device->Play(ParseHexBytes(m)));
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (Lines(monitor.Out()).size() < c.lines.size() && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(10ms);
    std::this_thread::sleep_for(100ms);  // a line too many would come now
    monitor.Signal(SIGINT);
    EXPECT_EQ(monitor.Wait(), 0) << monitor.Err();
    EXPECT_EQ(Lines(monitor.Out()), c.lines);
    while (device->Peer().OutConnections() != 0 && std::chrono::steady_clock::now() < deadline + 5s)
      std::this_thread::sleep_for(10ms);
  }
}

// Into a pipe nobody reads, the monitor keeps its memory within its budget
// and still ends at once on SIGTERM, SIGINT or SIGPIPE, saying what it
// dropped.
TEST_F(CliJack, MonitorIntoAFullPipeStaysBoundedAndEndsOnASignal) {
  RecordingJackController::Bytes sysex(2000, 0x55);
  sysex.front() = 0xF0;
  sysex.back() = 0xF7;
  for (int sig : {SIGTERM, SIGINT, SIGPIPE}) {
    SCOPED_TRACE(sig);
    CliSetup unread;
    unread.UnreadStdout = true;
    CliProcess monitor({VLX_CLI_PATH, "--midi-api", "jack", "--no-usb-check", "monitor"}, unread);
    ASSERT_TRUE(Connected(*device)) << monitor.Err();
    const long before = RssKb(monitor.Pid());
    long most = before;
    // Every line is 6 KB: the pipe is full after a few, and for the rest of
    // the flood the monitor cannot write at all.
    // For SIGTERM, 3,000 of them, however long a loaded machine takes: the
    // queue (4 MiB, about 2,100 of them), the text (1 MiB, about 170 lines)
    // and the pipe (about 10 lines) hold some 2,300 together.
    const auto until = std::chrono::steady_clock::now() + (sig == SIGTERM ? 120s : 500ms);
    const int enough = sig == SIGTERM ? 3000 : std::numeric_limits<int>::max();
    int sent = 0;
    while (sent < enough && std::chrono::steady_clock::now() < until) {
      if (device->Play(sysex)) {
        ++sent;
      } else {
        std::this_thread::sleep_for(1ms);
      }
      if (sent % 64 == 0) most = std::max(most, RssKb(monitor.Pid()));
    }
    std::this_thread::sleep_for(100ms);
    most = std::max(most, RssKb(monitor.Pid()));
    if (sig == SIGTERM) {
      // Blocked, it waits: a second costs it little processor time.
      const long ticks = CpuTicks(monitor.Pid());
      std::this_thread::sleep_for(1s);
      EXPECT_LT(CpuTicks(monitor.Pid()) - ticks, ::sysconf(_SC_CLK_TCK) / 2) << "the monitor spins while blocked";
    }
    const auto stopAt = std::chrono::steady_clock::now();
    monitor.Signal(sig);
    EXPECT_EQ(monitor.Wait(10s), 0) << monitor.Err();
    EXPECT_LT(std::chrono::steady_clock::now() - stopAt, 5s);
    // Its queue (4 MiB) and its text (1 MiB) at most, with room to spare
    // (ThreadSanitizer's shadow of the program's memory counts several times
    // over).
    EXPECT_LT(most - before, ResidentAllowance * 40 * 1024)
        << "before " << before << " KiB, at most " << most << " KiB, " << sent << " messages sent";
    if (sig == SIGTERM) {
      EXPECT_EQ(sent, enough);
      EXPECT_TRUE(Contains(monitor.Err(), "messages were dropped: the output could not keep up")) << monitor.Err();
    }
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (device->Peer().OutConnections() != 0 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(10ms);
  }
}

// The controller program: vellox-cli finds it, SIGUSR1 unplugs it (no
// controller any more) and plugs it in again, firmware and all.
TEST(CliJackSim, TheControllerProgramUnplugsAndPlugsInOnSignal) {
  SimProcess sim({VLX_SIM_PATH, "--fw", "3.02"});
  ASSERT_TRUE(Contains(sim.Out(), "vellox-sim: JACK client \"vellox\"")) << sim.Out() << sim.Err();
  // Asks until the answer has the code wanted, for at most 20 s (the
  // controller program may be slow to answer on a loaded machine).
  const auto infoUntil = [](int code) {
    CliResult r{};
    const auto until = std::chrono::steady_clock::now() + 20s;
    do {
      r = Cli({"info"});
    } while (r.Code != code && std::chrono::steady_clock::now() < until);
    return r;
  };
  auto r = infoUntil(0);
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(r.Out, "FW: V3.02\ninput: vellox\noutput: vellox\n");

  sim.Signal(SIGUSR1);
  r = infoUntil(2);
  ASSERT_EQ(r.Code, 2) << r.Out << r.Err;
  EXPECT_TRUE(Contains(r.Err, "vellox-cli: no controller: ")) << r.Err;
  EXPECT_TRUE(Contains(sim.Out(), "vellox-sim: unplugged\n")) << sim.Out();

  sim.Signal(SIGUSR1);
  r = infoUntil(0);
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(r.Out, "FW: V3.02\ninput: vellox\noutput: vellox\n");
  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.Wait(), 0) << sim.Err();
}

// The monitor says on stderr when the controller goes away and when it
// comes back, and goes on monitoring it.
TEST(CliJackSim, TheMonitorFollowsTheControllerAwayAndBack) {
  SimProcess sim({VLX_SIM_PATH});
  ASSERT_TRUE(Contains(sim.Out(), "vellox-sim: JACK client \"vellox\"")) << sim.Out() << sim.Err();
  CliProcess monitor({VLX_CLI_PATH, "--midi-api", "jack", "--no-usb-check", "monitor"});
  const auto waitFor = [&](CliProcess& p, const std::string& text) {
    const auto until = std::chrono::steady_clock::now() + 20s;
    while (!Contains(p.Err(), text) && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(10ms);
    return Contains(p.Err(), text);
  };
  ASSERT_TRUE(waitFor(monitor, "vellox-cli: monitoring vellox")) << monitor.Err();
  sim.Signal(SIGUSR1);
  EXPECT_TRUE(waitFor(monitor, "vellox-cli: the controller has gone (vellox is no longer listed)")) << monitor.Err();
  sim.Signal(SIGUSR1);
  EXPECT_TRUE(waitFor(monitor, "vellox-cli: the controller is back: monitoring vellox")) << monitor.Err();
  monitor.Signal(SIGTERM);
  EXPECT_EQ(monitor.Wait(), 0) << monitor.Err();
}

// Without any controller on the server every command that needs one fails
// with exit code 2 and a clear message, and writes nothing.
TEST(CliJackNoController, EveryDeviceCommandFailsCleanly) {
  TempDir dir;
  TParaTable t;
  ApplyFactoryValues(t);
  WriteProfile(dir.File("p.cus"), t);
  const std::vector<std::vector<std::string>> commands = {
      {"info"}, {"read"}, {"read", "-o", dir.File("out.json")}, {"write", dir.File("p.cus")},
      {"reset", "--yes"}, {"diff", dir.File("p.cus"), "device"}, {"monitor"}};
  for (const auto& command : commands) {
    SCOPED_TRACE(command[0]);
    const auto r = Cli(command);
    EXPECT_EQ(r.Code, 2);
    EXPECT_TRUE(Contains(r.Err, "vellox-cli: no controller: ")) << r.Err;
    EXPECT_EQ(r.Out, "");
  }
  EXPECT_FALSE(std::filesystem::exists(dir.File("out.json")));
  // Without --no-usb-check the missing USB device is named.
  const auto r = RunCli({"--midi-api", "jack", "info"});
  EXPECT_EQ(r.Code, 2);
  EXPECT_TRUE(Contains(r.Err, "no USB device 2F1B:0A07") || Contains(r.Err, "no MIDI input port at all")) << r.Err;
}

}  // namespace
