// vellox-cli against the virtual controller on a real ALSA sequencer (run
// inside the test VM): the port names as the sequencer gives them, every
// SysEx cut at its F7, "Midi Through" and the program's own client left
// out, and SysEx arriving in pieces as a USB device's does.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "AlsaVirtualController.h"
#include "cli/Run.h"
#include "cli/SomeProfile.h"
#include "profile/ProfileFormats.h"
#include "support/TempDir.h"

using namespace vlx;
using namespace std::chrono_literals;

namespace {

using Bytes = AlsaVirtualController::Bytes;

const std::vector<std::string> Alsa = {"--midi-api", "alsa", "--no-usb-check"};

CliResult Cli(std::vector<std::string> args) {
  args.insert(args.begin(), Alsa.begin(), Alsa.end());
  return RunCli(args);
}

std::vector<std::string> CliArgs(std::vector<std::string> args) {
  args.insert(args.begin(), Alsa.begin(), Alsa.end());
  args.insert(args.begin(), VLX_CLI_PATH);
  return args;
}

// Nothing of RtMidi's or libasound's own text reaches stderr.
void ExpectNoLibraryText(const std::string& err) {
  for (const char* word : {"MidiInAlsa", "MidiOutAlsa", "RtMidi", "ALSA lib", "overrun"})
    EXPECT_FALSE(Contains(err, word)) << err;
}

// Waits until a just-started monitor (showing one line per message) has
// shown a first message, which the controller sends again until it has;
// returns the number of lines shown by then. The sequencer lists a new
// connection on the sending port a moment before it delivers through it
// (the receiving side is joined second): on a loaded VM, messages sent
// at once have been seen to reach nobody.
template <class Out>
std::size_t MonitorReady(AlsaVirtualController& device, Out out, const Bytes& hello) {
  const auto count = [&] {
    const std::string text = out();
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
  };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (count() == 0 && std::chrono::steady_clock::now() < deadline) {
    device.Play(hello);
    for (int i = 0; i < 100 && count() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the last ones sent
  return count();
}

// The kernel's list of sequencer clients and their ports.
std::string SequencerClients() {
  std::ifstream f("/proc/asound/seq/clients");
  return std::string(std::istreambuf_iterator<char>(f), {});
}

template <class F>
bool WaitFor(F&& done, std::chrono::milliseconds limit = 10s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

std::unique_ptr<AlsaVirtualController> Controller(std::size_t piece = 0, std::string name = "vellox") {
  AlsaVirtualController::Options o;
  o.ClientName = std::move(name);
  o.SysExPiece = piece;
  o.RawLogSize = 1000;
  return std::make_unique<AlsaVirtualController>(nullptr, o);
}

bool IsDump(const Bytes& e) { return e.size() >= 4 && e[0] == 0xF0 && e[1] == 0x34 && e[2] == 0x00 && e[3] == 0x27; }

// The controller's replies in whole messages and in the 3-byte pieces a USB
// device's SysEx comes in.
class CliAlsa : public ::testing::TestWithParam<std::size_t> {
 protected:
  void SetUp() override { device = Controller(GetParam()); }
  std::vector<Bytes> DumpsReceived() {
    std::vector<Bytes> out;
    for (const auto& e : device->Raw())
      if (IsDump(e)) out.push_back(e);
    return out;
  }

  TempDir dir;
  std::unique_ptr<AlsaVirtualController> device;
};

INSTANTIATE_TEST_SUITE_P(Pieces, CliAlsa, ::testing::Values(0, 3), [](const auto& info) {
  return info.param == 0 ? std::string("Whole") : "InPiecesOf" + std::to_string(info.param);
});

TEST_P(CliAlsa, InfoAndPortsShowTheControllerAloneByItsClientName) {
  device->Controller().SetFirmware(2, 10);
  auto r = Cli({"info"});
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(r.Out, "FW: V2.10\ninput: vellox\noutput: vellox\n");
  ExpectNoLibraryText(r.Err);
  r = Cli({"ports"});
  ASSERT_EQ(r.Code, 0) << r.Err;
  // The kernel's "Midi Through" is there, and so is the program's own client
  // while it lists; neither is shown.
  EXPECT_TRUE(Contains(SequencerClients(), "\"Midi Through\"")) << SequencerClients();
  EXPECT_EQ(r.Out, "input  0  vellox  (controller)\noutput 0  vellox  (controller)\n");
}

TEST_P(CliAlsa, ReadGivesExactlyTheProfileTheControllerHolds) {
  device->Controller().SetProfile(SomeProfile());
  for (const char* name : {"r.json", "r.syx", "r.cus"}) {
    SCOPED_TRACE(name);
    const auto r = Cli({"read", "-o", dir.File(name)});
    ASSERT_EQ(r.Code, 0) << r.Err;
    const TDumpBody body = DumpBodyOf(ReadProfile(dir.File(name)).Table);
    EXPECT_TRUE(std::equal(body.begin(), body.end(), SomeProfile().begin()));
  }
}

TEST_P(CliAlsa, WriteDeliversTheDumpEndingAtF7AndVerifies) {
  TParaTable t = TableOfDumpBody(SomeProfile());
  WriteProfile(dir.File("w.json"), t);
  device->ClearRaw();
  const auto r = Cli({"write", dir.File("w.json")});
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_TRUE(Contains(r.Err, "verified")) << r.Err;
  const auto dumps = DumpsReceived();
  ASSERT_EQ(dumps.size(), 1u);
  // On the sequencer a SysEx event ends at its F7: the bytes after it in
  // the message text never leave.
  EXPECT_EQ(dumps[0], DumpMessageOf(DumpBodyOf(t)));
  for (const auto& e : device->Raw()) {
    if (e[0] == 0xF0) {
      EXPECT_EQ(e.back(), 0xF7) << HexBytes(e);
    }
  }
  EXPECT_EQ(device->Controller().Profile(), SomeProfile());
}

TEST_P(CliAlsa, AFaultyControllerIsRefusedByField) {
  device->Controller().SetStoreWrongByte(22);  // knob 2's value
  WriteProfile(dir.File("w.syx"), TableOfDumpBody(SomeProfile()));
  auto r = Cli({"write", dir.File("w.syx")});
  EXPECT_EQ(r.Code, 3);
  EXPECT_TRUE(Contains(r.Err, "vellox-cli: knob 2: value sent 40, read back 41\n")) << r.Err;
  device->Controller().SetStoreWrongByte(-1);
  device->Controller().SetProfile(SomeProfile());
  device->ClearRaw();
  r = Cli({"reset", "--yes"});
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(device->Controller().Profile(), VirtualController::FactoryBody());
  ASSERT_EQ(DumpsReceived().size(), 1u);
  EXPECT_EQ(DumpsReceived()[0],
            ParseHexBytes("F0 34 00 27 1E 1F 20 21 22 23 24 25 26 27 28 29 2A 2B 2C 2D 07 00 04 0C 00 04 "
                          "0D 00 04 0E 00 04 0F 00 04 00 02 01 00 01 00 03 00 F7"));
}

TEST_P(CliAlsa, MonitorDecodesWhatTheControllerSends) {
  const std::vector<Bytes> played = {ParseHexBytes("90 3C 64"), ParseHexBytes("B0 07 7F"),
                                     ParseHexBytes("E0 00 60"), ParseHexBytes("F0 7E 00 06 01 F7"),
                                     ParseHexBytes("F8"),       ParseHexBytes("B0 01 00")};
  const std::vector<std::string> expected = {
      "ch 1 note on C4 (60) velocity 100", "ch 1 control change controller 7 value 127", "ch 1 pitch bend +4096",
      "sysex F0 7E 00 06 01 F7 (6 bytes)", "clock", "ch 1 control change controller 1 value 0"};
  CliProcess monitor(CliArgs({"monitor"}));
  ASSERT_TRUE(WaitFor([&] { return device->OutConnections() == 1; })) << monitor.Err();
  for (const auto& m : played) ASSERT_TRUE(device->Play(m));
  WaitFor([&] { return Lines(monitor.Out()).size() >= expected.size(); });
  monitor.Signal(SIGINT);
  EXPECT_EQ(monitor.Wait(), 0) << monitor.Err();
  EXPECT_EQ(Lines(monitor.Out()), expected);
  ExpectNoLibraryText(monitor.Err());
  // The monitor's client leaves the sequencer with it.
  EXPECT_TRUE(WaitFor([&] { return device->OutConnections() == 0; }));
}

// Active sensing reaches the monitor through the sequencer only when it is
// asked for; the window's inputs never pass it.
TEST(CliAlsaSensing, ActiveSensingOnlyWhenAskedFor) {
  struct Case {
    std::vector<std::string> options;
    std::vector<std::string> lines;
  };
  const std::vector<Case> cases = {
      {{"--kind", "realtime"}, {"active sensing", "clock", "active sensing", "stop"}},
      {{}, {"clock", "stop"}},
  };
  auto device = Controller();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options.empty() ? "decoded" : c.options.back());
    std::vector<std::string> args = {"monitor"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    CliProcess monitor(CliArgs(args));
    ASSERT_TRUE(WaitFor([&] { return device->OutConnections() == 1; })) << monitor.Err();
    const std::size_t hellos = MonitorReady(*device, [&] { return monitor.Out(); }, ParseHexBytes("F8"));
    ASSERT_GT(hellos, 0u) << "the monitor showed nothing: " << monitor.Err();
    for (const char* m : {"FE", "F8", "FE", "FC"}) ASSERT_TRUE(device->Play(ParseHexBytes(m)));
    WaitFor([&] { return Lines(monitor.Out()).size() >= hellos + c.lines.size(); });
    std::this_thread::sleep_for(200ms);  // a line too many would come now
    monitor.Signal(SIGINT);
    EXPECT_EQ(monitor.Wait(), 0) << monitor.Err();
    std::vector<std::string> lines = Lines(monitor.Out());
    ASSERT_GE(lines.size(), hellos);
    lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(hellos));
    EXPECT_EQ(lines, c.lines);
    ExpectNoLibraryText(monitor.Err());
    EXPECT_TRUE(WaitFor([&] { return device->OutConnections() == 0; }));
  }
}

// A flood at the rate the sequencer carries to a reader that keeps up: in
// bursts that fit the reader's input pool, each burst sent once the one
// before has been read.
TEST(CliAlsaFlood, MonitorLosesNothingAndKeepsTheOrder) {
  constexpr int N = 20000;
  auto device = Controller();
  CliProcess monitor(CliArgs({"--quiet", "monitor", "--hex"}));
  ASSERT_TRUE(WaitFor([&] { return device->OutConnections() == 1; })) << monitor.Err();
  const auto lineCount = [&] {
    const std::string out = monitor.Out();
    return static_cast<std::size_t>(std::count(out.begin(), out.end(), '\n'));
  };
  const std::size_t hellos = MonitorReady(*device, [&] { return monitor.Out(); }, ParseHexBytes("B0 7F 7F"));
  ASSERT_GT(hellos, 0u) << "the monitor showed nothing: " << monitor.Err() << "\n" << SequencerClients();

  const auto start = std::chrono::steady_clock::now();
  constexpr int Burst = 100;
  for (int i = 0; i < N; ++i) {
    const Bytes m = {static_cast<uint8_t>(0x90 | (i >> 14)), static_cast<uint8_t>((i >> 7) & 127),
                     static_cast<uint8_t>(i & 127)};
    ASSERT_TRUE(device->Play(m)) << "message " << i;
    if ((i + 1) % Burst == 0) {
      // Until the monitor has shown the burst before this one (bounded: a
      // lost message shows below as a short or wrong output).
      const std::size_t lines = hellos + static_cast<std::size_t>(i + 1 - Burst);
      ASSERT_TRUE(WaitFor([&] { return lineCount() >= lines; }, 30s))
          << "the monitor stopped before message " << lines - hellos << ": " << monitor.Err() << "\n"
          << SequencerClients();
    }
  }
  WaitFor([&] { return lineCount() >= hellos + N; }, 30s);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::this_thread::sleep_for(200ms);  // anything more would show now
  monitor.Signal(SIGINT);
  ASSERT_EQ(monitor.Wait(), 0) << monitor.Err();
  auto lines = Lines(monitor.Out());
  // The first messages, sent until one was shown.
  while (!lines.empty() && lines.front() == "B0 7F 7F") lines.erase(lines.begin());
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(N));
  for (int i = 0; i < N; ++i) {
    char expected[16];
    std::snprintf(expected, sizeof expected, "%02X %02X %02X", 0x90 | (i >> 14), (i >> 7) & 127, i & 127);
    ASSERT_EQ(lines[static_cast<std::size_t>(i)], expected) << "message " << i;
  }
  std::printf("flood over the ALSA sequencer: %d messages in %.2f s, %.0f messages a second, none lost\n", N, seconds,
              N / seconds);
}

// A long SysEx handed over in 256-byte pieces, as the kernel hands over a
// device's, then a note. The monitor shows the message whole, or says that
// it was cut (longer than the 64 KiB kept) or damaged (bytes lost when the
// input overran); the note after it arrives; nothing of the libraries' own
// text reaches stderr.
TEST(CliAlsaLongSysEx, IsShownWholeOrSaidToBeCutAndTheNextMessageArrives) {
  auto device = Controller(256);
  for (const std::size_t size : {std::size_t(20000), std::size_t(100000)}) {
    SCOPED_TRACE(size);
    Bytes message(size, 0x55);
    message.front() = 0xF0;
    message.back() = 0xF7;
    CliProcess monitor(CliArgs({"monitor"}));
    ASSERT_TRUE(WaitFor([&] { return device->OutConnections() == 1; })) << monitor.Err();
    const std::size_t hellos = MonitorReady(*device, [&] { return monitor.Out(); }, ParseHexBytes("B0 7F 7F"));
    ASSERT_GT(hellos, 0u) << "the monitor showed nothing: " << monitor.Err();
    ASSERT_TRUE(device->Play(message));
    ASSERT_TRUE(device->Play(ParseHexBytes("90 3C 64")));
    WaitFor([&] { return Contains(monitor.Out(), "note on"); }, 20s);
    monitor.Signal(SIGINT);
    EXPECT_EQ(monitor.Wait(), 0) << monitor.Err();
    auto lines = Lines(monitor.Out());
    while (!lines.empty() && lines.front() == "ch 1 control change controller 127 value 127") lines.erase(lines.begin());
    // The message, whole or said to be damaged; an input that overran more
    // than once within it says so for each piece it lost the start of.
    ASSERT_GE(lines.size(), 2u) << monitor.Out().substr(0, 300) << monitor.Err();
    for (std::size_t i = 0; i + 1 < lines.size(); ++i)
      ASSERT_EQ(lines[i].rfind("sysex F0 ", 0), 0u) << lines[i].substr(0, 100);
    const std::string end = " F7 (" + std::to_string(size) + " bytes)";
    const bool whole = lines.size() == 2 && lines[0].size() == 6 + 3 * size - 1 + end.size() - 3 &&
                       lines[0].compare(lines[0].size() - end.size(), end.size(), end) == 0;
    bool said = true;
    for (std::size_t i = 0; i + 1 < lines.size(); ++i)
      said = said && Contains(lines[i], "bytes, cut or damaged: its end is missing)");
    EXPECT_TRUE(whole || said) << lines[0].substr(lines[0].size() - std::min<std::size_t>(lines[0].size(), 100));
    // Longer than the monitor keeps: never whole.
    if (size > 65536) {
      EXPECT_TRUE(said);
    }
    std::printf("a %zu-byte SysEx in 256-byte pieces: %s%s\n", size, lines[0].substr(lines[0].rfind('(')).c_str(),
                lines.size() > 2 ? (" and " + std::to_string(lines.size() - 2) + " more damaged pieces").c_str() : "");
    EXPECT_EQ(lines.back(), "ch 1 note on C4 (60) velocity 100");
    ExpectNoLibraryText(monitor.Err());
    ASSERT_TRUE(WaitFor([&] { return device->OutConnections() == 0; }));
  }
}

// Two clients named "vellox": the first output is the one used, and every
// input of that name is opened.
TEST(CliAlsaTwoControllers, TheFirstAnswersAndBothAreHeard) {
  auto first = Controller();
  auto second = Controller();
  ASSERT_LT(first->ClientId(), second->ClientId());
  first->Controller().SetFirmware(1, 5);
  second->Controller().SetFirmware(2, 10);
  auto r = Cli({"ports"});
  EXPECT_EQ(r.Out,
            "input  0  vellox  (controller)\ninput  1  vellox  (controller)\n"
            "output 0  vellox  (controller)\noutput 1  vellox\n");
  r = Cli({"info"});
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(r.Out, "FW: V1.05\ninput: vellox, vellox\noutput: vellox\n");

  TempDir dir;
  WriteProfile(dir.File("w.json"), TableOfDumpBody(SomeProfile()));
  r = Cli({"write", dir.File("w.json")});
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(first->Controller().Profile(), SomeProfile());
  EXPECT_EQ(second->Controller().Profile(), VirtualController::FactoryBody());
  EXPECT_EQ(second->Controller().DumpsStored(), 0u);

  CliProcess monitor(CliArgs({"monitor", "--hex", "--count", "2"}));
  ASSERT_TRUE(WaitFor([&] { return first->OutConnections() == 1 && second->OutConnections() == 1; }))
      << monitor.Err();
  ASSERT_TRUE(first->Play(ParseHexBytes("90 01 01")));
  ASSERT_TRUE(WaitFor([&] { return Contains(monitor.Out(), "90 01 01"); }));
  ASSERT_TRUE(second->Play(ParseHexBytes("90 02 02")));
  ASSERT_EQ(monitor.Wait(), 0) << monitor.Err();
  EXPECT_EQ(monitor.Out(), "90 01 01\n90 02 02\n");
}

// Another client named "vellox" that is no controller, first in the list:
// its output is the one used, nothing answers, and the program says so.
TEST(CliAlsaTwoControllers, AFirstClientThatDoesNotAnswerMeansNoAnswer) {
  auto other = Controller();
  other->Controller().SetSilentIdentity(true);
  auto device = Controller();
  const auto r = Cli({"--timeout", "300", "info"});
  EXPECT_EQ(r.Code, 2);
  EXPECT_TRUE(Contains(r.Err, "no answer: the controller did not answer the identity request on \"vellox\""))
      << r.Err;
  EXPECT_EQ(device->Controller().Received().size(), 0u);
}

// The controller program on the sequencer: found, unplugged (its client
// leaves) and plugged in again on SIGUSR1; --play reaches the first reader.
TEST(CliAlsaSim, TheControllerProgramUnplugsAndPlugsInOnSignal) {
  CliProcess sim({VLX_SIM_PATH, "--midi-api", "alsa", "--fw", "3.02", "--sysex-piece", "3", "--play", "90 3C 64"});
  ASSERT_TRUE(WaitFor([&] { return Contains(sim.Out(), "vellox-sim: ALSA sequencer client"); }, 20s)) << sim.Err();
  EXPECT_TRUE(Contains(sim.Out(), "vellox-sim: ALSA sequencer client \"vellox\" (")) << sim.Out();
  EXPECT_TRUE(Contains(sim.Out(), "port \"vellox MIDI 1\", firmware 3.02")) << sim.Out();
  auto r = Cli({"--quiet", "monitor", "--count", "1"});
  EXPECT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(r.Out, "ch 1 note on C4 (60) velocity 100\n");
  const auto infoUntil = [](int code) {
    CliResult r{};
    const auto until = std::chrono::steady_clock::now() + 20s;
    do {
      r = Cli({"info"});
    } while (r.Code != code && std::chrono::steady_clock::now() < until);
    return r;
  };
  r = infoUntil(0);
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(r.Out, "FW: V3.02\ninput: vellox\noutput: vellox\n");
  sim.Signal(SIGUSR1);
  r = infoUntil(2);
  EXPECT_EQ(r.Code, 2) << r.Out << r.Err;
  EXPECT_TRUE(Contains(r.Err, "vellox-cli: no controller: ")) << r.Err;
  EXPECT_EQ(Cli({"ports"}).Out, "");
  sim.Signal(SIGUSR1);
  r = infoUntil(0);
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(r.Out, "FW: V3.02\ninput: vellox\noutput: vellox\n");
  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.Wait(), 0) << sim.Err();
  EXPECT_TRUE(Contains(sim.Out(), "vellox-sim: unplugged\nvellox-sim: plugged in\n")) << sim.Out();
}

}  // namespace
