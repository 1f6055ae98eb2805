// The editor's window on the real MIDI service (RtMidi on a JACK server),
// talking to a controller that is another JACK client named "vellox".
#include <gtest/gtest.h>

#include <QLocale>
#include <iostream>

#include "RecordingJackController.h"
#include "cli/Run.h"
#include "midi/RtMidiService.h"
#include "profile/ProfileFile.h"
#include "support/FormFixture.h"

using namespace vlx;

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes FactoryDump = ParseHexBytes(
    "F0 34 00 27 1E 1F 20 21 22 23 24 25 26 27 28 29 2A 2B 2C 2D 07 00 04 0C 00 04 0D 00 04 0E 00 04 0F 00 04 "
    "00 02 01 00 01 00 03 00 F7 00 00 00");
const Bytes DumpRequest = ParseHexBytes("F0 34 00 00 08 F7 00 00 00");
const QString SyncFwDone = "      Editor data successfully synchronized to the device.     ";
const QString SyncPcDoneText = "      Device data successfully synchronized to the Editor software.     ";
const QString Disconnected = "       The Device is disconnected, please check!     ";

// A profile unlike the factory one in the fields the editor shows for the
// slider and in the global lists.
VirtualController::Body ControllerProfile() {
  VirtualController::Body body = VirtualController::FactoryBody();
  body[0] = 0x40;   // pad A1
  body[16] = 0x55;  // slider value
  body[17] = 0x03;  // slider channel
  body[18] = 0x01;  // slider data type
  body[34] = 0x02;  // scale
  body[38] = 0x0B;  // key channel
  return body;
}

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    QLocale::setDefault(QLocale::c());  // the firmware version's decimal point
    // A JACK server without real-time scheduling on a busy machine now and
    // then refuses a new client. Such a start is made again (at most three
    // times); a window whose ports did connect must find the controller.
    for (int attempt = 1;; ++attempt) {
      const std::string trouble = Start();
      if (trouble.empty()) break;
      ASSERT_LT(attempt, 3) << trouble;
      std::cerr << "start-up " << attempt << " failed, again: " << trouble << "\n";
      f.Form.reset();
      device.reset();
      f.Dialogs->Errors.clear();
      Pump(200);
    }
    ASSERT_EQ(device->Peer().ClientName(), "vellox") << "another client holds the name";
    // The first request may have gone out before the connection carried
    // traffic; the polling asks again.
    ASSERT_TRUE(PumpUntil([&] { return w->LbConnect->text() == "Connect"; })) << "no identity reply seen";
    Pump(100);  // the last request of the polling and its reply land
    device->ClearRaw();
    f.Dialogs->Notices.clear();
  }

  // The controller, then the window (it lists the ports once, at start-up),
  // then the connections the window makes when it opens its ports, which
  // JACK shows from a later cycle on. What went wrong, or nothing.
  std::string Start() {
    try {
      device = std::make_unique<RecordingJackController>();
    } catch (const std::exception& e) {
      return e.what();
    }
    w = &f.Make(CreateRtMidiService(MidiApiChoice::Jack));
    if (!f.Dialogs->Errors.empty()) return "the window reported " + f.Dialogs->Errors.front().toStdString();
    if (!PumpUntil([&] { return device->Peer().InConnections() == 1 && device->Peer().OutConnections() == 1; }))
      return "the window's ports did not connect to the controller's (in " +
             std::to_string(device->Peer().InConnections()) + ", out " +
             std::to_string(device->Peer().OutConnections()) + ")";
    return {};
  }

  void TearDown() override { f.Form.reset(); }  // the window goes before the controller

  std::unique_ptr<RecordingJackController> device;
  FormFixture f;
  TForm1* w = nullptr;
};

TEST_F(EndToEnd, ConnectsAndShowsWhatTheControllerSends) {
  EXPECT_EQ(w->LbVersions->text(), "FW: V1.05");
  EXPECT_EQ(w->LbConnect->FontColor(), QColor(0, 255, 0));
  EXPECT_EQ(w->DeviceOffline, 0);
  EXPECT_EQ(w->DiscoveryMode, 1);
  EXPECT_EQ(w->lbxOutputDevices->ItemText(w->DevicePort), "vellox");
  EXPECT_TRUE(w->lbxOutputDevices->Checked(w->DevicePort));

  // A Note On, shown in decimal and then in hexadecimal.
  ASSERT_TRUE(device->Play({0x90, 0x3C, 0x64}));
  ASSERT_TRUE(PumpUntil([&] { return w->LbStatus->text() == "144"; }, 3000));
  EXPECT_EQ(w->LbData1->text(), "60");
  EXPECT_EQ(w->LbData2->text(), "100");
  QTest::keyClick(w->CmbDataDis, Qt::Key_Down);  // picks HEX
  ASSERT_EQ(w->CmbDataDis->currentText(), "HEX");
  EXPECT_EQ(w->LbStatus->text(), "90");
  EXPECT_EQ(w->LbData1->text(), "3C");
  EXPECT_EQ(w->LbData2->text(), "64");

  // A dump the controller sends on its own is applied to the table and shown.
  const VirtualController::Body body = ControllerProfile();
  ASSERT_TRUE(device->Play(VirtualController::DumpMessage(body)));
  ASSERT_TRUE(PumpUntil([&] { return w->SyncPcDone == 1; }, 3000));
  EXPECT_EQ(w->ParaTable[1].Value, 0x40);
  EXPECT_EQ(w->ParaTable[17].Value, 0x55);
  EXPECT_EQ(w->ParaTable.GlobalBlock()[Scale], 2);
  EXPECT_EQ(w->EdtValue->text(), "85");
  EXPECT_EQ(w->CmbChannel->currentIndex(), 3);
  EXPECT_EQ(w->CmbDataType->currentText(), "PC");
  EXPECT_EQ(w->CmbKeyChannel->currentText(), "11");

  // An acknowledgement sets the flag; nothing was waiting, so nothing is shown.
  ASSERT_TRUE(device->Play(VirtualController::DumpAck()));
  ASSERT_TRUE(PumpUntil([&] { return w->SyncFwAcked == 1; }, 3000));
  Pump(250);
  EXPECT_TRUE(f.Dialogs->Notices.empty());
  EXPECT_TRUE(f.Dialogs->Errors.empty());
}

TEST_F(EndToEnd, UnpluggedTheWindowGoesOfflineAndTheDeviceCommandsSendNothing) {
  device->Unplug();
  ASSERT_TRUE(PumpUntil([&] { return w->LbConnect->text() == "Disconnect"; }, 3000));
  EXPECT_EQ(w->LbConnect->FontColor(), QColor(255, 0, 0));
  EXPECT_TRUE(w->LbVersions->text().isEmpty());
  EXPECT_EQ(w->DeviceOffline, 1);
  EXPECT_FALSE(w->TimerCheckUSB->isActive());

  // The ports the window had opened are closed: none of the editor's is
  // left in the JACK graph for a message sent anyway.
  EXPECT_TRUE(PumpUntil(
      [&] { return device->Peer().FindPorts("VLX210", true).empty() && device->Peer().FindPorts("VLX210", false).empty(); },
      3000));

  Click(w->BtnSyncPc);
  Click(w->BtnReset);
  EXPECT_EQ(f.Dialogs->Notices, std::vector<QString>(2, Disconnected));
  EXPECT_TRUE(f.Dialogs->Questions.empty());
  EXPECT_EQ(w->ParaTable[1].Value, 0x1E) << "RESET changed the table";

  // SYNC TO FW does not look at the connection state: it stores and writes
  // the profile, but nothing can reach the wire.
  w->EdtValue->setText("42");
  f.Dialogs->Answers = {true};
  Click(w->BtnSyncFw);
  EXPECT_EQ(f.Dialogs->Questions.size(), 1u);
  TParaTable file;
  LoadProfileFile(f.ProfileFile(), file);
  EXPECT_EQ(file[17].Value, 42);
  EXPECT_TRUE(f.Dialogs->Errors.empty());
}

TEST_F(EndToEnd, SyncToFirmwareDeliversTheEditorsProfileAndWritesTheFile) {
  w->EdtValue->selectAll();
  QTest::keyClicks(w->EdtValue, "99");  // typed, not stored yet
  ASSERT_EQ(w->EdtValue->text(), "99");
  f.Dialogs->Answers = {true};
  int barWhileOpen = -1;
  f.Dialogs->WhileNoticeOpen = [&](const QString&) { barWhileOpen = w->ProBarToFW->value(); };
  Click(w->BtnSyncFw);

  ASSERT_TRUE(PumpUntil([&] { return !f.Dialogs->Notices.empty(); }, 3000)) << "no acknowledgement seen";
  EXPECT_EQ(f.Dialogs->Notices, std::vector<QString>{SyncFwDone});
  EXPECT_EQ(barWhileOpen, 100);
  EXPECT_EQ(w->ProBarToFW->value(), 0);

  Bytes expected = FactoryDump;
  expected[4 + 16] = 99;  // the slider's value
  ASSERT_EQ(expected.size(), 47u);
  EXPECT_EQ(device->Raw(), std::vector<Bytes>{expected});
  EXPECT_EQ(device->Controller().Profile()[16], 99);

  TParaTable file;
  LoadProfileFile(f.ProfileFile(), file);
  EXPECT_EQ(file[17].Value, 99);
  EXPECT_EQ(w->ParaTable[17].Value, 99);
}

TEST_F(EndToEnd, ResetDeliversTheFactoryProfileAndLeavesTheFile) {
  // A stored profile that is not the factory one.
  Click(w->mCode[19]);
  w->EdtValue->setText("77");
  Click(w->BtnSave);
  const Bytes saved = ReadBytes(f.ProfileFile());
  TParaTable file;
  LoadProfileFile(f.ProfileFile(), file);
  ASSERT_EQ(file[19].Value, 77);
  f.Dialogs->Notices.clear();

  f.Dialogs->Answers = {true};
  Click(w->BtnReset);
  ASSERT_TRUE(PumpUntil([&] { return !f.Dialogs->Notices.empty(); }, 3000)) << "no acknowledgement seen";
  EXPECT_EQ(f.Dialogs->Notices, std::vector<QString>{SyncFwDone});
  EXPECT_EQ(device->Raw(), std::vector<Bytes>{FactoryDump});
  EXPECT_EQ(device->Controller().Profile(), VirtualController::FactoryBody());
  EXPECT_EQ(ReadBytes(f.ProfileFile()), saved);
  EXPECT_EQ(w->EdtValue->text(), "13") << "knob 2 shows its factory value";
}

TEST_F(EndToEnd, SyncToPcFillsTheTableAndTheEditorFromTheController) {
  device->Controller().SetProfile(ControllerProfile());
  w->EdtValue->setText("12");  // a pending edit, overwritten by the dump
  f.Dialogs->Answers = {true};
  int barWhileOpen = -1;
  f.Dialogs->WhileNoticeOpen = [&](const QString&) { barWhileOpen = w->ProBarToPC->value(); };
  Click(w->BtnSyncPc);

  ASSERT_TRUE(PumpUntil([&] { return !f.Dialogs->Notices.empty(); }, 3000)) << "no dump seen";
  EXPECT_EQ(f.Dialogs->Notices, std::vector<QString>{SyncPcDoneText});
  EXPECT_EQ(barWhileOpen, 100);
  EXPECT_EQ(w->ProBarToPC->value(), 0);
  EXPECT_EQ(device->Raw(), std::vector<Bytes>{DumpRequest});
  EXPECT_EQ(w->ParaTable[1].Value, 0x40);
  EXPECT_EQ(w->ParaTable[17].Value, 0x55);
  EXPECT_EQ(w->EdtValue->text(), "85");
  EXPECT_EQ(w->CmbChannel->currentIndex(), 3);
  EXPECT_EQ(w->CmbDataType->currentText(), "PC");
  EXPECT_EQ(w->CmbScale->currentIndex(), 2);
  EXPECT_EQ(w->CmbKeyChannel->currentText(), "11");
}

TEST_F(EndToEnd, ASilentControllerLetsBothWaitsEndAfterElevenTicks) {
  device->Controller().SetSilentDump(true);
  device->Controller().SetSilentAck(true);
  f.Dialogs->Answers = {true, true};
  Click(w->BtnSyncPc);
  Click(w->BtnSyncFw);
  EXPECT_TRUE(w->TimerSyncPC->isActive());
  EXPECT_TRUE(w->TimerSyncFW->isActive());

  ASSERT_TRUE(PumpUntil([&] { return !w->TimerSyncPC->isActive() && !w->TimerSyncFW->isActive(); }, 3000));
  Pump(200);
  EXPECT_EQ(w->SyncPcTicks, 11);
  EXPECT_EQ(w->SyncFwTicks, 11);
  EXPECT_TRUE(f.Dialogs->Notices.empty());
  EXPECT_EQ(w->ProBarToPC->value(), 0);
  EXPECT_EQ(w->ProBarToFW->value(), 0);
  EXPECT_EQ(w->ParaTable[17].Value, 7) << "the table kept its contents";
  // Both messages reached the controller: the silence was its own.
  EXPECT_EQ(device->Raw(), (std::vector<Bytes>{DumpRequest, FactoryDump}));
}

}  // namespace

// Another program asks the controller for its dump while the window holds
// an unsaved edit: the window takes the controller's profile, vellox-cli
// says so, and one Ctrl+Z in the window brings the edit back for SAVE.
TEST_F(EndToEnd, AReadByVelloxCliIsOneStepTheWindowUndoes) {
  VirtualController::Body body = VirtualController::FactoryBody();
  body[25] = 14;  // knob 3
  body[32] = 5;   // ARP TIME 1/32
  device->Controller().SetProfile(body);
  w->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
  w->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(w));
  Click(w->mCode[20]);
  w->EdtValue->setFocus();
  w->EdtValue->selectAll();
  QTest::keyClicks(w->EdtValue, "99");
  ASSERT_EQ(w->EdtValue->text(), "99");
  const QString arpTime = w->CmbARPTime->currentText();

  const CliResult r = RunCli({"--midi-api", "jack", "--no-usb-check", "read"});
  ASSERT_EQ(r.Code, 0) << r.Err;
  const std::string warning =
      "vellox-cli: warning: the editor is running and connected to the controller: its window will take the "
      "controller's profile now; Ctrl+Z there brings its own back\n";
  const auto at = r.Err.find(warning);
  EXPECT_NE(at, std::string::npos) << r.Err;
  EXPECT_EQ(r.Err.find(warning, at + 1), std::string::npos) << "said more than once: " << r.Err;

  ASSERT_TRUE(PumpUntil([&] { return w->EdtValue->text() == "14"; }, 3000)) << "the window did not take the dump";
  EXPECT_EQ(w->CmbARPTime->currentText(), "1/32");
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Z, Qt::ControlModifier);
  Pump();
  EXPECT_EQ(w->EdtValue->text(), "99");
  EXPECT_EQ(w->CurrentControl, 20);
  EXPECT_EQ(w->CmbARPTime->currentText(), arpTime);

  Click(w->BtnSave);
  TParaTable saved;
  LoadProfileFile(w->ProfilePath, saved);
  EXPECT_EQ(saved[20].Value, 99);
  EXPECT_EQ(saved.GlobalBlock()[ARPTime], w->CmbARPTime->currentIndex());
  EXPECT_TRUE(f.Dialogs->Errors.empty());
}
