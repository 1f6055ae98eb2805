// Reading and writing the controller, and the factory reset, with a virtual
// controller plugged into the window in-process.
#include <gtest/gtest.h>

#include "VirtualControllerService.h"
#include "profile/ProfileFile.h"
#include "support/FormFixture.h"

using namespace vlx;

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes FactoryDump = {0xF0, 0x34, 0x00, 0x27, 0x1E, 0x1F, 0x20, 0x21, 0x22, 0x23, 0x24, 0x25,
                           0x26, 0x27, 0x28, 0x29, 0x2A, 0x2B, 0x2C, 0x2D, 0x07, 0x00, 0x04, 0x0C,
                           0x00, 0x04, 0x0D, 0x00, 0x04, 0x0E, 0x00, 0x04, 0x0F, 0x00, 0x04, 0x00,
                           0x02, 0x01, 0x00, 0x01, 0x00, 0x03, 0x00, 0xF7, 0x00, 0x00, 0x00};
const Bytes DumpRequest = {0xF0, 0x34, 0x00, 0x00, 0x08, 0xF7, 0x00, 0x00, 0x00};

// Passes everything to the controller's service and keeps a copy of every
// message the window sends, exactly as handed to the service.
class RecordingService : public IMidiService {
 public:
  explicit RecordingService(std::shared_ptr<IMidiService> inner) : inner_(std::move(inner)) {}
  std::vector<MidiPortId> Inputs() override { return inner_->Inputs(); }
  std::vector<MidiPortId> Outputs() override { return inner_->Outputs(); }
  bool AnyInputLeft() override { return inner_->AnyInputLeft(); }
  std::unique_ptr<IMidiInPort> OpenInput(const MidiPortId& port, MidiBytesCallback cb) override {
    return inner_->OpenInput(port, std::move(cb));
  }
  std::unique_ptr<IMidiOutPort> OpenOutput(const MidiPortId& port) override {
    struct Out : IMidiOutPort {
      std::unique_ptr<IMidiOutPort> inner;
      RecordingService* owner;
      void Send(const uint8_t* data, std::size_t size) override {
        {
          std::lock_guard<std::mutex> lock(owner->mutex_);
          owner->sent_.emplace_back(data, data + size);
        }
        inner->Send(data, size);
      }
    };
    auto out = std::make_unique<Out>();
    out->inner = inner_->OpenOutput(port);
    out->owner = this;
    return out;
  }
  std::vector<Bytes> Sent() {
    std::lock_guard<std::mutex> lock(mutex_);
    return sent_;
  }

 private:
  std::shared_ptr<IMidiService> inner_;
  std::mutex mutex_;
  std::vector<Bytes> sent_;
};

struct Transfers : ::testing::Test {
  FormFixture f;
  std::shared_ptr<VirtualControllerService> device = std::make_shared<VirtualControllerService>();
  std::shared_ptr<RecordingService> recorder = std::make_shared<RecordingService>(device);
  TForm1* w = nullptr;

  void SetUp() override {
    w = &f.Make(recorder);
    ASSERT_TRUE(PumpUntil([&] { return w->LbConnect->text() == "Connect"; })) << "no identity reply seen";
    device->WaitIdle();
    f.Dialogs->Notices.clear();
  }

  std::vector<Bytes> SentToDevice() const { return recorder->Sent(); }
  std::vector<Bytes> DumpsSent() const {
    std::vector<Bytes> dumps;
    for (const auto& m : SentToDevice())
      if (m.size() > 3 && m[1] == 0x34 && m[3] == 0x27) dumps.push_back(m);
    return dumps;
  }
  // Waits for a wait of eleven ticks to be over.
  void WaitOut(QTimer* timer) {
    EXPECT_TRUE(PumpUntil([&] { return !timer->isActive(); }, 3000));
    Pump(50);
  }
};

}  // namespace

TEST_F(Transfers, TheControllerIsFoundAndShowsItsFirmware) {
  EXPECT_EQ(w->LbVersions->text(), "FW: V1.05");
  EXPECT_EQ(w->LbConnect->FontColor(), QColor(0, 255, 0));
  EXPECT_FALSE(w->Timer3->isActive());
  EXPECT_EQ(w->DeviceOffline, 0);
}

TEST_F(Transfers, SyncToFirmwareSendsTheEditorAndWritesTheFile) {
  w->EdtValue->setText("99");  // typed, not stored yet
  f.Dialogs->Answers = {true};
  int barWhileOpen = -1;
  f.Dialogs->WhileNoticeOpen = [&](const QString&) { barWhileOpen = w->ProBarToFW->value(); };
  Click(w->BtnSyncFw);
  EXPECT_EQ(f.Dialogs->Questions.back(), "   Do you want to synchronize data to the device firmware?   ");

  ASSERT_EQ(DumpsSent().size(), 1u);
  const Bytes dump = DumpsSent()[0];
  ASSERT_EQ(dump.size(), 47u);
  EXPECT_EQ(Bytes(dump.begin(), dump.begin() + 4), Bytes({0xF0, 0x34, 0x00, 0x27}));
  EXPECT_EQ(Bytes(dump.end() - 4, dump.end()), Bytes({0xF7, 0x00, 0x00, 0x00}));
  EXPECT_EQ(dump[4 + 16], 99) << "the slider's value travels as body byte 16";
  TParaTable file;
  LoadProfileFile(f.ProfileFile(), file);
  EXPECT_EQ(file[17].Value, 99);

  ASSERT_TRUE(PumpUntil([&] { return !f.Dialogs->Notices.empty(); }, 2000));
  EXPECT_EQ(f.Dialogs->Notices, std::vector<QString>{"      Editor data successfully synchronized to the device.     "});
  EXPECT_EQ(barWhileOpen, 100);
  EXPECT_EQ(w->ProBarToFW->value(), 0);
  EXPECT_FALSE(w->TimerSyncFW->isActive());
  EXPECT_EQ(device->Controller().Profile()[16], 99);
}

TEST_F(Transfers, AnsweringNoTouchesNothing) {
  const auto before = ReadBytes(f.ProfileFile());
  const std::size_t sent = SentToDevice().size();
  w->EdtValue->setText("98");
  Click(w->BtnSyncFw);  // No
  Click(w->BtnSyncPc);  // No
  Click(w->BtnReset);   // No
  EXPECT_EQ(f.Dialogs->Questions.size(), 3u);
  EXPECT_EQ(SentToDevice().size(), sent);
  EXPECT_EQ(ReadBytes(f.ProfileFile()), before);
  EXPECT_EQ(w->ParaTable[17].Value, 7);
  EXPECT_EQ(w->EdtValue->text(), "98") << "the pending edit stays in the editor";
  EXPECT_FALSE(w->TimerSyncFW->isActive());
  EXPECT_FALSE(w->TimerSyncPC->isActive());
}

TEST_F(Transfers, ResetSendsTheFactoryProfileAndWritesNoFile) {
  Click(w->mCode[19]);
  w->EdtValue->setText("77");
  f.Dialogs->Answers = {true};
  Click(w->BtnSave);
  const auto saved = ReadBytes(f.ProfileFile());
  f.Dialogs->Notices.clear();
  w->ParaTable[3].Value = 100;
  w->ParaTable.GlobalBlock()[Scale] = 5;

  f.Dialogs->Answers = {true};
  Click(w->BtnReset);
  EXPECT_EQ(f.Dialogs->Questions.back(), "Do you want to reset the factory parameters?");
  ASSERT_FALSE(DumpsSent().empty());
  EXPECT_EQ(DumpsSent().back(), FactoryDump);
  EXPECT_EQ(ReadBytes(f.ProfileFile()), saved);
  EXPECT_EQ(w->ParaTable[3].Value, 32);
  EXPECT_EQ(w->CmbDataType->currentText(), "CC(Relative)") << "knob 2 stays selected";
  EXPECT_EQ(w->EdtValue->text(), "13");
  ASSERT_TRUE(PumpUntil([&] { return !f.Dialogs->Notices.empty(); }, 2000));
  EXPECT_EQ(f.Dialogs->Notices.back(), "      Editor data successfully synchronized to the device.     ");
}

TEST_F(Transfers, SyncToPcFillsTheTableAndTheEditor) {
  VirtualController::Body body = VirtualController::FactoryBody();
  body[16] = 0x55;  // slider value
  body[17] = 0x03;  // slider channel
  body[18] = 0x01;  // slider data type
  body[38] = 0x0B;  // key channel
  device->Controller().SetProfile(body);
  w->EdtValue->setText("12");  // a pending edit, overwritten by the dump
  int barWhileOpen = -1;
  f.Dialogs->WhileNoticeOpen = [&](const QString&) { barWhileOpen = w->ProBarToPC->value(); };
  f.Dialogs->Answers = {true};
  Click(w->BtnSyncPc);
  EXPECT_EQ(f.Dialogs->Questions.back(), "    Do you want to synchronize device  data to Editor software?    ");
  EXPECT_EQ(SentToDevice().back(), DumpRequest);
  ASSERT_TRUE(PumpUntil([&] { return !f.Dialogs->Notices.empty(); }, 2000));
  EXPECT_EQ(f.Dialogs->Notices,
            std::vector<QString>{"      Device data successfully synchronized to the Editor software.     "});
  EXPECT_EQ(barWhileOpen, 100);
  EXPECT_EQ(w->ProBarToPC->value(), 0);
  EXPECT_EQ(w->ParaTable[17].Value, 0x55);
  EXPECT_EQ(w->EdtValue->text(), "85");
  EXPECT_EQ(w->CmbChannel->currentIndex(), 3);
  EXPECT_EQ(w->CmbDataType->currentText(), "PC");
  EXPECT_EQ(w->CmbKeyChannel->currentText(), "11");
  EXPECT_EQ(w->SyncPcDone, 0);
}

TEST_F(Transfers, WithoutAnAnswerBothWaitsEndSilently) {
  device->Controller().SetSilentDump(true);
  device->Controller().SetSilentAck(true);
  const auto before = w->ParaTable[17].Value;
  f.Dialogs->Answers = {true, true};
  Click(w->BtnSyncPc);
  Click(w->BtnSyncFw);
  EXPECT_TRUE(w->TimerSyncPC->isActive());
  EXPECT_TRUE(w->TimerSyncFW->isActive());
  WaitOut(w->TimerSyncPC);
  WaitOut(w->TimerSyncFW);
  EXPECT_EQ(w->SyncPcTicks, 11);
  EXPECT_EQ(w->SyncFwTicks, 11);
  EXPECT_TRUE(f.Dialogs->Notices.empty());
  EXPECT_EQ(w->ProBarToPC->value(), 0);
  EXPECT_EQ(w->ProBarToFW->value(), 0);
  EXPECT_EQ(w->ParaTable[17].Value, before);
}

TEST_F(Transfers, OfflineCommandsSayTheDeviceIsDisconnected) {
  w->DeviceOffline = 1;
  const std::size_t sent = SentToDevice().size();
  Click(w->BtnSyncPc);
  Click(w->BtnReset);
  EXPECT_EQ(f.Dialogs->Notices, std::vector<QString>(2, "       The Device is disconnected, please check!     "));
  EXPECT_TRUE(f.Dialogs->Questions.empty());
  EXPECT_EQ(SentToDevice().size(), sent);
  EXPECT_EQ(w->ParaTable[1].Name.str(), "A|PAD1");

  // SYNC TO FW does not look at the connection state.
  f.Dialogs->Answers = {true};
  Click(w->BtnSyncFw);
  EXPECT_EQ(DumpsSent().size(), 1u);
}

TEST_F(Transfers, ASecondCommandRestartsTheWaitAndOneNoticeFollows) {
  device->Controller().SetSilentAck(true);
  f.Dialogs->Answers = {true};
  Click(w->BtnSyncFw);
  Pump(500);
  EXPECT_GT(w->SyncFwTicks, 0);
  device->Controller().SetSilentAck(false);
  f.Dialogs->Answers = {true};
  Click(w->BtnReset);
  EXPECT_EQ(w->SyncFwTicks, 0) << "the wait starts again";
  // A second acknowledgement arrives while the success notice is open.
  f.Dialogs->WhileNoticeOpen = [&](const QString&) {
    device->PlayRaw(VirtualController::DumpAck());
    device->WaitIdle();
    Pump(250);
  };
  ASSERT_TRUE(PumpUntil([&] { return !f.Dialogs->Notices.empty(); }, 2000));
  WaitOut(w->TimerSyncFW);
  EXPECT_EQ(f.Dialogs->Notices.size(), 1u);
}

TEST_F(Transfers, ADumpWhileTheNoticeIsOpenIsAppliedWithoutASecondNotice) {
  f.Dialogs->Answers = {true};
  f.Dialogs->WhileNoticeOpen = [&](const QString&) {
    VirtualController::Body body = VirtualController::FactoryBody();
    body[0] = 0x60;
    device->PlayRaw(VirtualController::DumpMessage(body));
    device->WaitIdle();
    Pump(250);
  };
  Click(w->BtnSyncPc);
  ASSERT_TRUE(PumpUntil([&] { return !f.Dialogs->Notices.empty(); }, 2000));
  WaitOut(w->TimerSyncPC);
  EXPECT_EQ(f.Dialogs->Notices.size(), 1u);
  EXPECT_EQ(w->ParaTable[1].Value, 0x60);
}

TEST_F(Transfers, TheMonitorShowsWhatTheControllerPlays) {
  device->PlayShort(0x90, 0x3C, 0x64);
  ASSERT_TRUE(PumpUntil([&] { return w->LbStatus->text() == "144"; }, 2000));
  EXPECT_EQ(w->LbData1->text(), "60");
  EXPECT_EQ(w->LbData2->text(), "100");
  w->CmbDataDis->setCurrentIndex(1);
  emit w->CmbDataDis->activated(1);
  EXPECT_EQ(w->LbStatus->text(), "90");
  EXPECT_EQ(w->LbData1->text(), "3C");
  EXPECT_EQ(w->LbData2->text(), "64");
}
