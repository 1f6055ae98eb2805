// vellox-cli doctor as users run it: against the virtual controller on the
// JACK server, and with each fault that can be made here.
#include <gtest/gtest.h>

#include <unistd.h>

#include <sstream>

#include "cli/Run.h"
#include "e2e/RecordingJackController.h"

using namespace std::chrono_literals;

namespace {

// The first word of each line and the check it names, "ok identity".
std::vector<std::string> Verdicts(const std::string& out) {
  std::vector<std::string> v;
  for (const auto& line : Lines(out)) {
    const std::size_t colon = line.find(':');
    std::string head = line.substr(0, colon);
    std::string verdict = head.substr(0, head.find(' '));
    std::string check = head.substr(9);
    v.push_back(verdict + " " + check);
  }
  return v;
}

CliResult Doctor(std::vector<std::string> args) {
  args.push_back("doctor");
  return RunCli(args);
}

}  // namespace

// The shipped virtual controller, as a user without hardware tries it.
TEST(CliDoctor, AgainstTheVirtualControllerEverythingIsOk) {
  SimProcess sim({VLX_SIM_PATH, "--fw", "1.07"});
  ASSERT_TRUE(Contains(sim.Out(), "vellox-sim: JACK client \"vellox\"")) << sim.Out() << sim.Err();

  const auto r = Doctor({"--midi-api", "jack", "--no-usb-check", "--timeout", "5000"});
  EXPECT_EQ(r.Code, 0) << r.Out << r.Err;
  EXPECT_EQ(r.Err, "");
  const std::vector<std::string> expected = {"- sequencer device",  "ok MIDI service", "- USB device",
                                             "ok controller's ports", "ok identity",     "ok dump request",
                                             "ok editor"};
  EXPECT_EQ(Verdicts(r.Out), expected) << r.Out;
  const auto lines = Lines(r.Out);
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[0], "-        sequencer device: not used (JACK chosen)");
  EXPECT_EQ(lines[1], "ok       MIDI service: a JACK server");
  EXPECT_EQ(lines[2], "-        USB device: not checked (--no-usb-check)");
  EXPECT_EQ(lines[3], "ok       controller's ports: input vellox, output vellox");
  EXPECT_TRUE(Contains(lines[4], "ok       identity: firmware V1.07, answered in ")) << lines[4];
  EXPECT_TRUE(Contains(lines[5], "ok       dump request: the profile came back in ")) << lines[5];
}

class CliDoctorFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    device = std::make_unique<RecordingJackController>();
    ASSERT_EQ(device->Peer().ClientName(), "vellox") << "another client holds the name";
  }
  std::unique_ptr<RecordingJackController> device;
};

TEST_F(CliDoctorFaults, EachFaultIsTheOneProblemWithItsAdvice) {
  struct Case {
    const char* What;
    std::vector<std::string> Args;
    std::function<void()> Make;
    std::string Problem;  // the problem line begins so
    std::string Advice;   // and holds this
  };
  const Case cases[] = {
      {"no USB id", {"--midi-api", "jack", "--timeout", "5000"}, [] {},
       "PROBLEM  USB device: no device 2F1B:0A07 in /sys/bus/usb/devices -- ", "for a virtual controller use --no-usb-check"},
      {"no answer", {"--midi-api", "jack", "--no-usb-check", "--timeout", "300"},
       [this] { device->Controller().SetSilentIdentity(true); },
       "PROBLEM  identity: no answer: the controller did not answer the identity request on \"vellox\" within 300 ms",
       "unplug the controller and plug it in again"},
      {"no ports", {"--midi-api", "jack", "--no-usb-check"}, [this] { device.reset(); },
       "PROBLEM  controller's ports: no input and no output port named \"vellox\"", "vellox-sim"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    if (!device) SetUp();
    c.Make();
    const auto r = Doctor(c.Args);
    EXPECT_EQ(r.Code, 2) << r.Out << r.Err;
    int problems = 0;
    for (const auto& line : Lines(r.Out)) {
      if (line.rfind("PROBLEM", 0) != 0) continue;
      ++problems;
      EXPECT_EQ(line.rfind(c.Problem, 0), 0u) << line;
      EXPECT_TRUE(Contains(line, c.Advice)) << line;
    }
    EXPECT_EQ(problems, 1) << r.Out;
    EXPECT_EQ(Lines(r.Out).size(), 7u) << r.Out;
  }
}

TEST(CliDoctor, NoMidiServiceLeavesTheLaterChecksOut) {
  // A JACK server of a name nobody runs, for the program only.
  const char* before = std::getenv("JACK_DEFAULT_SERVER");
  const std::string saved = before ? before : "";
  ::setenv("JACK_DEFAULT_SERVER", ("vlx-no-server-" + std::to_string(::getpid())).c_str(), 1);
  const auto r = Doctor({"--midi-api", "jack", "--no-usb-check"});
  if (before) {
    ::setenv("JACK_DEFAULT_SERVER", saved.c_str(), 1);
  } else {
    ::unsetenv("JACK_DEFAULT_SERVER");
  }
  EXPECT_EQ(r.Code, 2) << r.Out << r.Err;
  EXPECT_EQ(r.Err, "") << "nothing of libjack's reaches the terminal";
  const auto lines = Lines(r.Out);
  ASSERT_EQ(lines.size(), 7u) << r.Out;
  EXPECT_EQ(lines[1], "PROBLEM  MIDI service: no JACK server is running -- start a JACK server, or load the ALSA "
                      "sequencer (`sudo modprobe snd-seq`)");
  for (std::size_t i = 3; i < lines.size(); ++i) EXPECT_TRUE(Contains(lines[i], ": not checked: no MIDI service")) << lines[i];
}

// Where this machine has no sequencer device, the automatic choice says so
// first.
TEST(CliDoctor, AMissingSequencerDeviceIsNamed) {
  if (::access("/dev/snd/seq", F_OK) == 0) GTEST_SKIP() << "this machine has a sequencer device";
  const auto r = Doctor({"--no-usb-check"});
  EXPECT_EQ(r.Code, 2) << r.Out << r.Err;
  const auto lines = Lines(r.Out);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], "PROBLEM  sequencer device: /dev/snd/seq is missing: the ALSA sequencer is not loaded -- load it "
                      "with `sudo modprobe snd-seq` (and name snd-seq in /etc/modules to load it at every start), or "
                      "start a JACK server");
}
