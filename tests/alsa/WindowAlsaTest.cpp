// The editor's window on the real MIDI service over a real ALSA sequencer
// (run inside the test VM, under Xvfb): Connect with the firmware version,
// SYNC TO PC and SYNC TO FW with the controller's SysEx in 3-byte pieces as
// a USB device's comes, the controller's client leaving and coming back, a
// 100,000-byte SysEx in 256-byte pieces, and two clients named "vellox".
#include <gtest/gtest.h>
#include <unistd.h>

#include <QLocale>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>

#include "AlsaVirtualController.h"
#include "midi/RtMidiService.h"
#include "profile/ProfileFormats.h"
#include "support/FormFixture.h"

using namespace vlx;

namespace {

using Bytes = AlsaVirtualController::Bytes;

const QString SyncPcDoneText = "      Device data successfully synchronized to the Editor software.     ";
const QString SyncFwDone = "      Editor data successfully synchronized to the device.     ";

std::unique_ptr<AlsaVirtualController> Controller(uint8_t major, uint8_t minor, std::size_t piece = 3) {
  VirtualControllerOptions options;
  options.FirmwareMajor = major;
  options.FirmwareMinor = minor;
  AlsaVirtualController::Options o;
  o.SysExPiece = piece;
  o.RawLogSize = 1000;
  return std::make_unique<AlsaVirtualController>(std::make_shared<VirtualController>(options), o);
}

// What the process writes to stderr while it lives, in a file.
class StderrCapture {
 public:
  StderrCapture() {
    std::fflush(stderr);
    saved_ = ::dup(2);
    std::FILE* f = std::tmpfile();
    file_ = f;
    ::dup2(::fileno(f), 2);
  }
  ~StderrCapture() { Restore(); }
  std::string Text() {
    Restore();
    std::rewind(file_);
    std::string text;
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, file_)) > 0;) text.append(buf, n);
    return text;
  }

 private:
  void Restore() {
    if (saved_ < 0) return;
    std::fflush(stderr);
    std::cerr.flush();
    ::dup2(saved_, 2);
    ::close(saved_);
    saved_ = -1;
  }
  int saved_ = -1;
  std::FILE* file_ = nullptr;
};

struct WindowOverAlsa : ::testing::Test {
  StderrCapture err;  // first: it sees everything
  FormFixture f;
  TForm1* w = nullptr;

  void SetUp() override { QLocale::setDefault(QLocale::c()); }
  void Start() { w = &f.Make(CreateRtMidiService(MidiApiChoice::Alsa)); }
  void TearDown() override {
    f.Form.reset();
    const std::string text = err.Text();
    for (const char* word : {"MidiInAlsa", "MidiOutAlsa", "RtMidi", "ALSA lib", "overrun"})
      EXPECT_EQ(text.find(word), std::string::npos) << text;
  }

  bool Connected() const { return w->LbConnect->text() == "Connect" && w->DeviceOffline == 0; }
  void ExpectFound(const QString& version) {
    ASSERT_TRUE(PumpUntil([&] { return Connected(); }, 10000)) << "the window never connected";
    EXPECT_EQ(w->LbVersions->text(), version);
    EXPECT_EQ(w->lbxOutputDevices->ItemText(w->DevicePort), "vellox");
  }
  void ExpectLost() {
    ASSERT_TRUE(PumpUntil([&] { return w->DeviceOffline == 1; }, 10000)) << "the window never noticed";
    EXPECT_EQ(w->LbConnect->text(), "Disconnect");
    EXPECT_TRUE(w->LbVersions->text().isEmpty());
  }
  QStringList Items(TCheckListBox* list) const {
    QStringList items;
    for (int i = 0; i < list->count(); ++i) items << list->ItemText(i);
    return items;
  }
  bool SyncToPc() {
    f.Dialogs->Notices.clear();
    f.Dialogs->Answers = {true};
    Click(w->BtnSyncPc);
    return PumpUntil([&] { return !f.Dialogs->Notices.empty(); }, 5000) &&
           f.Dialogs->Notices == std::vector<QString>{SyncPcDoneText};
  }
};

VirtualController::Body SomeProfile() {
  VirtualController::Body b = VirtualController::FactoryBody();
  b[16] = 0x55;  // slider value
  return b;
}

TEST_F(WindowOverAlsa, ConnectsSyncsBothWaysAndFollowsTheControllersClient) {
  auto device = Controller(2, 10);
  device->Controller().SetProfile(SomeProfile());
  Start();
  ExpectFound("FW: V2.10");
  // The kernel's "Midi Through" and the editor's own clients are not listed.
  EXPECT_EQ(Items(w->lbxInputDevices), QStringList{"vellox"});
  EXPECT_EQ(Items(w->lbxOutputDevices), QStringList{"vellox"});

  // SYNC TO PC: the dump in 3-byte pieces; the slider is the control shown.
  ASSERT_TRUE(SyncToPc()) << (f.Dialogs->Notices.empty() ? "no dump seen" : f.Dialogs->Notices[0].toStdString());
  EXPECT_EQ(w->EdtValue->text(), "85");

  // SYNC TO FW: what reaches the controller ends at F7.
  w->EdtValue->setText("42");
  device->ClearRaw();
  f.Dialogs->Notices.clear();
  f.Dialogs->Answers = {true};
  Click(w->BtnSyncFw);
  ASSERT_TRUE(PumpUntil([&] { return !f.Dialogs->Notices.empty(); }, 5000)) << "no acknowledgement seen";
  EXPECT_EQ(f.Dialogs->Notices, std::vector<QString>{SyncFwDone});
  EXPECT_EQ(device->Controller().Profile()[16], 42);
  std::size_t dumps = 0;
  for (const Bytes& e : device->Raw()) {
    if (e.size() > 3 && e[0] == 0xF0 && e[1] == 0x34 && e[3] == 0x27) {
      ++dumps;
      EXPECT_EQ(e.size(), 44u);
      EXPECT_EQ(e.back(), 0xF7);
    }
  }
  EXPECT_EQ(dumps, 1u);

  // The controller's client leaves the sequencer, and comes back with a new
  // client number.
  device->Unplug();
  ExpectLost();
  ASSERT_TRUE(device->Plug());
  ExpectFound("FW: V2.10");
  EXPECT_TRUE(SyncToPc());
}

// A 100,000-byte SysEx in 256-byte pieces is longer than the window keeps:
// it is cut (or damaged, when the input overran), recognised as nothing and
// shown nowhere; the next message reaches the monitor and the controller
// still answers.
TEST_F(WindowOverAlsa, AHugeSysExInPiecesLeavesTheWindowWorking) {
  auto device = Controller(1, 5);
  Start();
  ExpectFound("FW: V1.05");
  w->CmbDataDis->setCurrentIndex(0);
  emit w->CmbDataDis->activated(0);
  Bytes huge(100000, 0x22);
  huge.front() = 0xF0;
  huge.back() = 0xF7;
  device->SetSysExPiece(256);
  ASSERT_TRUE(device->Play(huge));
  ASSERT_TRUE(device->Play({0x90, 0x3C, 0x64}));
  ASSERT_TRUE(PumpUntil([&] { return w->LbStatus->text() == "144"; }, 10000)) << "the note never arrived";
  EXPECT_EQ(w->LbData1->text(), "60");
  EXPECT_EQ(w->LbData2->text(), "100");
  EXPECT_TRUE(f.Dialogs->Notices.empty());
  EXPECT_TRUE(f.Dialogs->Errors.empty());
  EXPECT_TRUE(Connected());
  device->SetSysExPiece(3);
  EXPECT_TRUE(SyncToPc());
}

// Two clients named "vellox": the first output is the one used and both
// inputs are opened, so the monitor hears both.
TEST_F(WindowOverAlsa, TwoClientsNamedVelloxTheFirstIsUsedBothAreHeard) {
  auto first = Controller(1, 5);
  auto second = Controller(2, 10);
  Start();
  ExpectFound("FW: V1.05");
  EXPECT_EQ(Items(w->lbxInputDevices), (QStringList{"vellox", "vellox"}));
  EXPECT_EQ(w->DevicePort, 0);
  EXPECT_TRUE(w->InputPorts().IsOpen(0) && w->InputPorts().IsOpen(1));
  EXPECT_FALSE(w->OutputPorts().IsOpen(1));
  ASSERT_TRUE(second->Play({0x90, 0x02, 0x02}));
  EXPECT_TRUE(PumpUntil([&] { return w->LbData1->text() == "2"; }, 5000));
  ASSERT_TRUE(first->Play({0x90, 0x01, 0x01}));
  EXPECT_TRUE(PumpUntil([&] { return w->LbData1->text() == "1"; }, 5000));
  EXPECT_EQ(second->Controller().Received().size(), 0u) << "the second client was asked";
}

}  // namespace
