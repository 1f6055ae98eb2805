// The editor's window on the real MIDI service (RtMidi over the test JACK
// server), started before any controller: the virtual controller on JACK
// appears, vanishes (its ports go, the client stays; or the client closes)
// and comes back, and a second controller with another firmware takes its
// place. (In-process JACK clients: a test process that forks once it has
// threads is not supported by ThreadSanitizer.)
//
// The waits are bounded, not timed: the delays from a controller appearing
// or vanishing to the window showing it are printed for the record.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QLocale>
#include <iostream>
#include <memory>

#include "JackVirtualController.h"
#include "midi/RtMidiService.h"
#include "support/FormFixture.h"

using namespace vlx;

namespace {

const QString SyncPcDoneText = "      Device data successfully synchronized to the Editor software.     ";

std::unique_ptr<JackVirtualController> Controller(uint8_t major, uint8_t minor) {
  VirtualControllerOptions options;
  options.FirmwareMajor = major;
  options.FirmwareMinor = minor;
  return std::make_unique<JackVirtualController>(std::make_shared<VirtualController>(options));
}

struct ReplugOverJack : ::testing::Test {
  FormFixture f;
  TForm1* w = nullptr;
  QElapsedTimer clock;

  void SetUp() override {
    QLocale::setDefault(QLocale::c());
    w = &f.Make(CreateRtMidiService(MidiApiChoice::Jack));
  }
  void TearDown() override { f.Form.reset(); }

  bool Connected() const { return w->LbConnect->text() == "Connect" && w->DeviceOffline == 0; }

  // The controller has appeared; waits for the window to connect.
  void ExpectFound(const QString& version) {
    clock.start();
    ASSERT_TRUE(PumpUntil([&] { return Connected(); }, 6000)) << "the window never connected";
    std::cout << "controller appeared: \"Connect\" after " << clock.elapsed() << " ms\n";
    EXPECT_EQ(w->LbConnect->FontColor(), QColor(0, 255, 0));
    EXPECT_EQ(w->LbVersions->text(), version);
    EXPECT_TRUE(w->TimerCheckUSB->isActive());
    EXPECT_EQ(w->lbxOutputDevices->ItemText(w->DevicePort), "vellox");
    EXPECT_TRUE(w->lbxOutputDevices->Checked(w->DevicePort));
  }

  // The controller has vanished; waits for the window to see it.
  void ExpectLost() {
    clock.start();
    ASSERT_TRUE(PumpUntil([&] { return w->DeviceOffline == 1; }, 6000)) << "the window never noticed";
    std::cout << "controller vanished: \"Disconnect\" after " << clock.elapsed() << " ms\n";
    EXPECT_EQ(w->LbConnect->text(), "Disconnect");
    EXPECT_EQ(w->LbConnect->FontColor(), QColor(255, 0, 0));
    EXPECT_TRUE(w->LbVersions->text().isEmpty());
    for (int i = 0; i < w->InputPorts().Count(); ++i) EXPECT_FALSE(w->InputPorts().IsOpen(i)) << "input " << i;
    for (int i = 0; i < w->OutputPorts().Count(); ++i) EXPECT_FALSE(w->OutputPorts().IsOpen(i)) << "output " << i;
  }
};

TEST_F(ReplugOverJack, TheWindowFollowsTheControllerInAndOut) {
  ASSERT_EQ(w->LbConnect->text(), "Disconnect");
  ASSERT_EQ(w->DeviceOffline, 1) << "no controller at start-up";
  Pump(1200);  // the watcher looks at least once and finds nothing
  EXPECT_EQ(w->LbConnect->text(), "Disconnect");

  {
    auto first = Controller(1, 5);
    ASSERT_EQ(first->Peer().ClientName(), "vellox");
    ExpectFound("FW: V1.05");

    // SYNC TO PC reads the controller's (factory) profile.
    w->EdtValue->setText("12");
    f.Dialogs->Answers = {true};
    Click(w->BtnSyncPc);
    ASSERT_TRUE(PumpUntil([&] { return !f.Dialogs->Notices.empty(); }, 3000)) << "no dump seen";
    EXPECT_EQ(f.Dialogs->Notices, std::vector<QString>{SyncPcDoneText});
    EXPECT_EQ(w->EdtValue->text(), "7") << "the slider's factory value";
    f.Dialogs->Notices.clear();

    // Its ports go and come back (the client stays).
    first->Unplug();
    ExpectLost();
    ASSERT_TRUE(first->Plug());
    ExpectFound("FW: V1.05");
    // The client closes.
    first.reset();
    ExpectLost();
  }

  // Another client has taken the first place in the lists meanwhile.
  JackPeer::Options other;
  other.ClientName = "vlxother";
  JackPeer keyboard(other);
  auto second = Controller(2, 10);
  ASSERT_EQ(second->Peer().ClientName(), "vellox");
  ExpectFound("FW: V2.10");
  EXPECT_EQ(w->DevicePort, 1) << "the controller came back at another index";

  // SYNC TO FW reaches the second controller: its acknowledgement is shown.
  f.Dialogs->Answers = {true};
  Click(w->BtnSyncFw);
  ASSERT_TRUE(PumpUntil([&] { return !f.Dialogs->Notices.empty(); }, 3000)) << "no acknowledgement seen";
  EXPECT_TRUE(f.Dialogs->Errors.empty());
}

}  // namespace
