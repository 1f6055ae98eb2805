// The doctor's checks against the in-process virtual controller, with the
// sequencer device, the user and the USB devices made by the test.
#include "session/Doctor.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>

#include <filesystem>
#include <fstream>

#include "VirtualControllerService.h"
#include "midi/FakeMidiService.h"
#include "support/TempDir.h"

namespace vlx {
namespace {

using namespace std::chrono_literals;

// The device's owner is whoever runs the test; its group, "audio" to the
// doctor, one the test may give a file (any group as root, its own
// otherwise), never root's.
const uint32_t OwnerUid = ::geteuid();
const uint32_t AudioGid = ::geteuid() == 0 ? 29 : ::getegid();
// The user whose access is judged: not the owner (and not root) unless a
// case says so.
const uint32_t UserUid = OwnerUid + 1000;

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path) << text;
}

struct Doctor : ::testing::Test {
  TempDir dir;
  std::string seq = dir.File("seq");
  std::string usb = dir.File("usb");
  std::shared_ptr<VirtualControllerService> device = std::make_shared<VirtualControllerService>();
  TDoctorOptions o;
  std::vector<std::string> groupMembers;  // of the device's group, as the group database lists them

  void SetUp() override {
    // The sequencer device as a desktop has it: group audio, mode 0660.
    WriteFile(seq, "");
    ASSERT_NE(AudioGid, 0u);
    ASSERT_EQ(::chown(seq.c_str(), static_cast<uid_t>(-1), AudioGid), 0);
    ASSERT_EQ(::chmod(seq.c_str(), 0660), 0);
    // One USB device of the controller's id beside another device.
    for (const auto& [entry, vid, pid] : {std::tuple{"1-2", "2f1b", "0a07"}, std::tuple{"1-1", "1d6b", "0002"}}) {
      std::filesystem::create_directories(usb + "/" + entry);
      WriteFile(usb + "/" + entry + "/idVendor", std::string(vid) + "\n");
      WriteFile(usb + "/" + entry + "/idProduct", std::string(pid) + "\n");
    }
    WriteFile(usb + "/1-2/product", "vellox\n");
    o.SequencerDevice = seq;
    o.User = {UserUid, "ann", {AudioGid}, false};
    o.Group = [this](uint32_t gid) {
      return gid == AudioGid ? TGroupInfo{"audio", groupMembers} : TGroupInfo{"root", {}};
    };
    o.Connect = [this](bool) { return TDoctorService{device, "the ALSA sequencer"}; };
    o.UsbDevicesDir = usb;
    o.Timeout = 500ms;
  }

  std::vector<TDoctorLine> Run() { return RunDoctor(o); }
};

const TDoctorLine& Line(const std::vector<TDoctorLine>& lines, const std::string& check) {
  for (const auto& l : lines)
    if (l.Check == check) return l;
  throw std::runtime_error("no line " + check);
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string Text(const std::vector<TDoctorLine>& lines) {
  std::string s;
  for (const auto& l : lines) s += FormatDoctorLine(l) + "\n";
  return s;
}

TEST_F(Doctor, EverythingInOrderIsOkWithTheControllerThere) {
  device->Controller().SetFirmware(1, 5);
  std::vector<std::string> reported;
  const auto lines = RunDoctor(o, [&](const TDoctorLine& l) { reported.push_back(l.Check); });
  const std::vector<std::string> order = {"sequencer device", "MIDI service", "USB device", "controller's ports",
                                          "identity",         "dump request", "editor"};
  EXPECT_EQ(reported, order);
  ASSERT_EQ(lines.size(), order.size());
  for (const auto& l : lines) EXPECT_EQ(l.Verdict, DoctorVerdict::Ok) << FormatDoctorLine(l);
  EXPECT_EQ(DoctorExitCode(lines), 0);
  EXPECT_EQ(Line(lines, "sequencer device").Found, seq + " is readable and writable by ann");
  EXPECT_EQ(Line(lines, "MIDI service").Found, "the ALSA sequencer");
  EXPECT_EQ(Line(lines, "USB device").Found, usb + "/1-2 (2F1B:0A07, vellox)");
  EXPECT_EQ(Line(lines, "controller's ports").Found, "input vellox, output vellox");
  EXPECT_TRUE(Has(Line(lines, "identity").Found, "firmware V1.05, answered in ")) << Text(lines);
  EXPECT_TRUE(Has(Line(lines, "identity").Found, " ms on vellox")) << Text(lines);
  EXPECT_TRUE(Has(Line(lines, "dump request").Found, "the profile came back in ")) << Text(lines);
  EXPECT_TRUE(Has(Line(lines, "editor").Found, "not running")) << Text(lines);
  EXPECT_EQ(device->OpenPortCount(), 0) << "the doctor closes what it opened";
  EXPECT_EQ(FormatDoctorLine(lines[1]), "ok       MIDI service: the ALSA sequencer");
}

TEST_F(Doctor, TheSequencerDeviceOfTheUserIsJudgedFromItsOwnerGroupAndMode) {
  struct Case {
    const char* What;
    bool UserOwnsIt;
    unsigned Mode;
    std::vector<uint32_t> Groups;
    std::vector<std::string> Members;
    bool Usable;
    std::string Advice;  // part of it
  };
  const Case cases[] = {
      {"in the group", false, 0660, {AudioGid}, {}, true, ""},
      {"readable by all", false, 0666, {}, {}, true, ""},
      {"the owner", true, 0600, {}, {}, true, ""},
      {"not in the group", false, 0660, {}, {}, false, "join the group audio with `sudo usermod -aG audio ann`"},
      {"in the group database only", false, 0660, {}, {"bob", "ann"}, false, "log out and in again"},
      {"the group may not", false, 0600, {AudioGid}, {}, false, "ask the administrator"},
      // The owner's bits hold for the owner, whatever the group's say.
      {"an owner without rights", true, 0060, {AudioGid}, {}, false, "ask the administrator"},
      {"the group reads only", false, 0640, {AudioGid}, {}, false, "ask the administrator"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    ASSERT_EQ(::chmod(seq.c_str(), c.Mode), 0);
    // As root the file is given to the user; otherwise the user is the one
    // who runs the test.
    const uint32_t owner = OwnerUid == 0 && c.UserOwnsIt ? UserUid : OwnerUid;
    ASSERT_EQ(::chown(seq.c_str(), owner, static_cast<gid_t>(-1)), 0);
    o.User.Uid = c.UserOwnsIt ? owner : UserUid;
    o.User.Groups = c.Groups;
    groupMembers = c.Members;
    bool usableSeen = false;
    o.Connect = [&](bool usable) {
      usableSeen = usable;
      return TDoctorService{device, "the ALSA sequencer"};
    };
    const auto lines = Run();
    const TDoctorLine& l = Line(lines, "sequencer device");
    EXPECT_EQ(l.Verdict, c.Usable ? DoctorVerdict::Ok : DoctorVerdict::Problem) << FormatDoctorLine(l);
    EXPECT_EQ(usableSeen, c.Usable);
    EXPECT_EQ(DoctorExitCode(lines), c.Usable ? 0 : 2);
    if (!c.Usable) {
      EXPECT_TRUE(Has(l.Found, seq + " is not readable and writable by ann (owner ")) << l.Found;
      EXPECT_TRUE(Has(l.Found, ", group audio, mode ")) << l.Found;
      EXPECT_TRUE(Has(l.Advice, c.Advice)) << l.Advice;
    }
  }
}

TEST_F(Doctor, EachFaultIsNamedWithItsAdviceAndGivesExitTwo) {
  struct Case {
    const char* What;
    std::function<void()> Make;
    std::string Check, Found, Advice;  // the failing line: parts of its texts
    std::vector<std::string> NotChecked;
  };
  const Case cases[] = {
      {"no sequencer device", [&] { std::filesystem::remove(seq); }, "sequencer device", " is missing",
       "sudo modprobe snd-seq", {}},
      {"no MIDI service",
       [&] {
         o.Connect = [](bool) -> TDoctorService {
           throw EMidiError("none: the ALSA sequencer cannot be opened and no JACK server is running");
         };
       },
       "MIDI service", "no JACK server is running", "start a JACK server",
       {"controller's ports", "identity", "dump request", "editor"}},
      {"no USB device", [&] { std::filesystem::remove_all(usb + "/1-2"); }, "USB device", "no device 2F1B:0A07 in ",
       "plug the controller in, or try another USB port", {}},
      {"no ports, the device on USB",
       [&] {
         auto empty = std::make_shared<FakeMidiService>();
         empty->AddInput("Other");
         o.Connect = [empty](bool) { return TDoctorService{empty, "the ALSA sequencer"}; };
       },
       "controller's ports", "no input and no output port named \"vellox\" (or beginning with \"USB\") among 1 inputs",
       "snd-usb-audio", {"identity", "dump request"}},
      {"no ports, no device",
       [&] {
         device->Unplug();
         std::filesystem::remove_all(usb + "/1-2");
       },
       "controller's ports", "no input and no output port", "plug the controller in", {"identity", "dump request"}},
      {"ports held by another program",
       [&] {
         auto held = std::make_shared<FakeMidiService>();
         const std::string in = held->AddInput("vellox");
         held->AddOutput("vellox");
         held->FailOpen(in, "Device or resource busy");
         o.Connect = [held](bool) { return TDoctorService{held, "the ALSA sequencer"}; };
       },
       "identity", "the controller's MIDI ports cannot be opened: Device or resource busy",
       "another program may hold the device", {"dump request"}},
      {"no identity answer", [&] { device->Controller().SetSilentIdentity(true); }, "identity",
       "did not answer the identity request on \"vellox\" within 500 ms", "unplug the controller and plug it in again",
       {"dump request"}},
      {"no dump", [&] { device->Controller().SetSilentDump(true); }, "dump request", "parameter dump",
       "sends no profile", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    SetUp();
    device = std::make_shared<VirtualControllerService>();
    c.Make();
    const auto lines = Run();
    EXPECT_EQ(DoctorExitCode(lines), 2) << Text(lines);
    for (const auto& l : lines) {
      if (l.Check == c.Check) {
        EXPECT_EQ(l.Verdict, DoctorVerdict::Problem);
        EXPECT_TRUE(Has(l.Found, c.Found)) << l.Found;
        EXPECT_TRUE(Has(l.Advice, c.Advice)) << l.Advice;
        EXPECT_TRUE(Has(FormatDoctorLine(l), "PROBLEM  " + c.Check + ": ")) << FormatDoctorLine(l);
        EXPECT_TRUE(Has(FormatDoctorLine(l), l.Found + " -- " + l.Advice)) << FormatDoctorLine(l);
      } else if (std::find(c.NotChecked.begin(), c.NotChecked.end(), l.Check) != c.NotChecked.end()) {
        EXPECT_EQ(l.Verdict, DoctorVerdict::NotChecked) << FormatDoctorLine(l);
      } else if (!(c.Check == "controller's ports" && l.Check == "USB device")) {
        EXPECT_EQ(l.Verdict, DoctorVerdict::Ok) << FormatDoctorLine(l);
      }
    }
    EXPECT_EQ(lines.size(), 7u) << Text(lines);
  }
}

TEST_F(Doctor, TheEditorIsSeenByItsOpenPorts) {
  auto service = std::make_shared<FakeMidiService>();
  o.Connect = [&](bool) { return TDoctorService{service, "a JACK server"}; };
  service->AddInput("VLX21");  // another client whose name only begins like the editor's
  auto lines = Run();
  EXPECT_TRUE(Has(Line(lines, "editor").Found, "not running")) << Text(lines);
  service->AddOutput("VLX210-02");
  lines = Run();
  EXPECT_EQ(Line(lines, "editor").Found, "running, with the controller's ports open");
  EXPECT_EQ(Line(lines, "editor").Verdict, DoctorVerdict::Ok);
}

TEST_F(Doctor, NoDumpIsAskedForWhileTheEditorListens) {
  // The controller would send its dump to the editor's window too.
  device->AddInput("VLX210");
  device->AddOutput("VLX210");
  const auto lines = Run();
  EXPECT_EQ(Line(lines, "identity").Verdict, DoctorVerdict::Ok) << Text(lines);
  EXPECT_EQ(Line(lines, "dump request").Verdict, DoctorVerdict::NotChecked) << Text(lines);
  EXPECT_TRUE(Has(Line(lines, "dump request").Found, "the editor is connected")) << Text(lines);
  EXPECT_EQ(Line(lines, "editor").Found, "running, with the controller's ports open");
  EXPECT_EQ(DoctorExitCode(lines), 0);
  const MidiMessage dumpRequest = {0xF0, 0x34, 0x00, 0x00, 0x08, 0xF7};
  for (const auto& m : device->Controller().Received())
    EXPECT_FALSE(m.size() >= dumpRequest.size() && std::equal(dumpRequest.begin(), dumpRequest.end(), m.begin()))
        << "a dump request went out";
  EXPECT_FALSE(device->Controller().Received().empty()) << "the identity request went out";
}

TEST(DoctorUsb, EveryDeviceOfTheIdIsFoundWithItsNames) {
  TempDir dir;
  const std::string usb = dir.File("usb");
  for (const char* e : {"3-1", "1-4.2", "2-1"}) std::filesystem::create_directories(usb + "/" + e);
  WriteFile(usb + "/3-1/idVendor", "2F1B\n");
  WriteFile(usb + "/3-1/idProduct", "0A07\n");
  WriteFile(usb + "/3-1/manufacturer", "Acme\n");
  WriteFile(usb + "/3-1/product", "vellox\n");
  WriteFile(usb + "/1-4.2/idVendor", "2f1b");
  WriteFile(usb + "/1-4.2/idProduct", "0a07");
  WriteFile(usb + "/2-1/idVendor", "2f1b");
  WriteFile(usb + "/2-1/idProduct", "0a08");  // another product of the same maker
  const auto found = FindControllerUsbDevices(usb);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].Path, usb + "/1-4.2");
  EXPECT_EQ(found[0].Vendor, "2F1B");
  EXPECT_EQ(found[0].Name, "");
  EXPECT_EQ(found[1].Path, usb + "/3-1");
  EXPECT_EQ(found[1].Product, "0A07");
  EXPECT_EQ(found[1].Name, "Acme vellox");
  EXPECT_TRUE(FindControllerUsbDevices(dir.File("none")).empty());
}

}  // namespace
}  // namespace vlx
