// The window when things go wrong: profile writes that fail part-way, a
// controller that vanishes in the middle of a transfer or a flood, and
// hostile bytes and files.
#include <gtest/gtest.h>

#include <QLocale>
#include <atomic>
#include <climits>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>

#include "VirtualControllerService.h"
#include "profile/FileOps.h"
#include "profile/ProfileFile.h"
#include "support/FailingFileOps.h"
#include "support/FormFixture.h"

using namespace vlx;

namespace {

using Bytes = std::vector<uint8_t>;

bool IsDump(const Bytes& m) { return m.size() > 3 && m[0] == 0xF0 && m[1] == 0x34 && m[3] == 0x27; }
bool IsIdentityRequest(const Bytes& m) { return m.size() > 4 && m[0] == 0xF0 && m[1] == 0x7E && m[4] == 0x01; }
bool IsDumpRequest(const Bytes& m) { return m.size() > 4 && m[1] == 0x34 && m[3] == 0x00 && m[4] == 0x08; }

std::size_t FilesIn(const std::string& dir) {
  std::size_t n = 0;
  for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir)) ++n;
  return n;
}

// A profile unlike the factory one.
std::vector<uint8_t> OwnProfile() {
  TParaTable t;
  for (int n = 1; n <= ControlCount; ++n) {
    t[n].Name.assign("Own" + std::to_string(n));
    t[n].Value = 100 - n;
  }
  return EncodeProfile(t);
}

// ---- profile writes that fail part-way

FileOps DiskFullHalfWay() { return DiskFullAfter(2000); }

}  // namespace

// NEW, SYNC TO FW and EXPORT write a profile file; when that write fails, the
// error box says why and the file that was there stays whole.
TEST(FailedWrites, NewSyncToFirmwareAndExportKeepTheOldFileAndShowTheError) {
  struct Case {
    const char* command;
    FileOps ops;
    const char* error;
  };
  const Case cases[] = {
      {"NEW", DiskFullHalfWay(), "Disk full."},
      {"SYNC TO FW", NothingWritable(), "File access denied."},
      {"EXPORT", FileVanishesBeforeTheRename(), "File not found."},
      {"NEW", FileVanishesBeforeTheRename(), "File not found."},
      {"SYNC TO FW", DiskFullHalfWay(), "Disk full."},
      {"EXPORT", NothingWritable(), "File access denied."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.command) + ": " + c.error);
    FormFixture f;
    WriteBytes(f.ProfileFile(), OwnProfile());
    TForm1& w = f.Make();
    ASSERT_TRUE(f.Dialogs->Errors.empty());
    const std::string exported = f.Dir.File("exported.cus");
    WriteBytes(exported, {1, 2, 3});
    const std::string target = std::string(c.command) == "EXPORT" ? exported : f.ProfileFile();
    const auto before = ReadBytes(target);
    const std::size_t files = FilesIn(f.Dir.Path);

    w.EdtValue->setText("5");  // whatever is written differs from the file
    {
      ScopedFileOps broken(c.ops);
      f.Dialogs->Answers = {true};
      if (std::string(c.command) == "NEW") Click(w.BtnNEW);
      if (std::string(c.command) == "SYNC TO FW") Click(w.BtnSyncFw);
      if (std::string(c.command) == "EXPORT") {
        f.Dialogs->SaveChoice = QString::fromStdString(exported);
        Click(w.BtnExport);
      }
    }
    EXPECT_EQ(f.Dialogs->Errors, std::vector<QString>{c.error});
    EXPECT_EQ(ReadBytes(target), before) << "the previous file is whole";
    EXPECT_EQ(FilesIn(f.Dir.Path), files) << "no temporary file is left behind";
    EXPECT_EQ(w.ProfilePath, f.ProfileFile());
    if (target != f.ProfileFile()) {
      EXPECT_EQ(ReadBytes(f.ProfileFile()), OwnProfile());
    }

    // The next write that can succeed does.
    f.Dialogs->Errors.clear();
    w.EdtValue->setText("5");
    Click(w.BtnSave);
    EXPECT_TRUE(f.Dialogs->Errors.empty());
    TParaTable saved;
    LoadProfileFile(f.ProfileFile(), saved);
    EXPECT_EQ(saved[17].Value, 5);
  }
}

namespace {

// ---- a controller that vanishes

// Passes everything to the controller's service. Records what the window
// sends, and can unplug the controller as a given message goes out or after
// a given number of received pieces.
class UnpluggingService : public IMidiService {
 public:
  explicit UnpluggingService(std::shared_ptr<VirtualControllerService> device) : device_(std::move(device)) {}

  std::vector<MidiPortId> Inputs() override { return device_->Inputs(); }
  std::vector<MidiPortId> Outputs() override { return device_->Outputs(); }
  bool AnyInputLeft() override { return device_->AnyInputLeft(); }

  std::unique_ptr<IMidiInPort> OpenInput(const MidiPortId& port, MidiBytesCallback cb) override {
    return device_->OpenInput(port, [this, cb = std::move(cb)](const uint8_t* data, std::size_t size) {
      cb(data, size);
      if (++pieces_ == UnplugAfterPieces.load()) device_->Unplug();  // from the delivery thread
    });
  }

  std::unique_ptr<IMidiOutPort> OpenOutput(const MidiPortId& port) override {
    struct Out : IMidiOutPort {
      std::unique_ptr<IMidiOutPort> inner;
      UnpluggingService* owner = nullptr;
      void Send(const uint8_t* data, std::size_t size) override {
        const Bytes m(data, data + size);
        {
          std::lock_guard<std::mutex> lock(owner->mutex_);
          owner->sent_.push_back(m);
        }
        if (owner->UnplugBeforeSending && owner->UnplugBeforeSending(m)) owner->device_->Unplug();
        inner->Send(data, size);
      }
    };
    auto out = std::make_unique<Out>();
    out->inner = device_->OpenOutput(port);
    out->owner = this;
    return out;
  }

  // Counting starts again from 0; -1: never.
  void UnplugAfter(int pieces) {
    UnplugAfterPieces = -1;
    pieces_ = 0;
    UnplugAfterPieces = pieces;
  }
  std::atomic<int> UnplugAfterPieces{-1};
  // Called on the sending thread (the window's); set it before the window exists.
  std::function<bool(const Bytes&)> UnplugBeforeSending;

  std::vector<Bytes> Sent() {
    std::lock_guard<std::mutex> lock(mutex_);
    return sent_;
  }

 private:
  std::shared_ptr<VirtualControllerService> device_;
  std::atomic<int> pieces_{0};
  std::mutex mutex_;
  std::vector<Bytes> sent_;
};

struct Vanishing : ::testing::Test {
  FormFixture f;
  std::shared_ptr<VirtualControllerService> device = std::make_shared<VirtualControllerService>();
  std::shared_ptr<UnpluggingService> service = std::make_shared<UnpluggingService>(device);
  TForm1* w = nullptr;
  std::vector<uint8_t> profileBefore;

  void SetUp() override { WriteBytes(f.ProfileFile(), OwnProfile()); }

  void Connect() {
    w = &f.Make(service);
    ASSERT_TRUE(PumpUntil([&] { return w->LbConnect->text() == "Connect"; })) << "no identity reply seen";
    device->WaitIdle();
    profileBefore = ReadBytes(f.ProfileFile());
  }

  // The probe finds no input left: "Disconnect", and every wait is over.
  void ExpectDisconnected() {
    EXPECT_TRUE(PumpUntil([&] { return w->DeviceOffline == 1; }, 3000)) << "the probe never saw the device go";
    EXPECT_EQ(w->LbConnect->text(), "Disconnect");
    EXPECT_EQ(w->LbConnect->FontColor(), QColor(255, 0, 0));
    EXPECT_TRUE(w->LbVersions->text().isEmpty());
    EXPECT_TRUE(PumpUntil(
        [&] { return !w->Timer3->isActive() && !w->TimerSyncPC->isActive() && !w->TimerSyncFW->isActive(); }, 3000));
    EXPECT_FALSE(w->TimerCheckUSB->isActive());
    EXPECT_TRUE(f.Dialogs->Errors.empty());

    // Commands that need the controller now say it is gone.
    f.Dialogs->Notices.clear();
    Click(w->BtnSyncPc);
    EXPECT_EQ(f.Dialogs->Notices, std::vector<QString>{"       The Device is disconnected, please check!     "});
    EXPECT_EQ(device->OpenPortCount(), 0) << "the ports of the controller that went are closed";
  }

  // Plugged in again (behind another client's ports this time): "Connect"
  // and the version come back, only the new ports are open, SYNC TO PC
  // works, and the profile file is as it was.
  void ExpectBackAfterReplug() {
    service->UnplugBeforeSending = nullptr;
    service->UnplugAfter(-1);
    device->Controller().SetSilentIdentity(false);
    device->Controller().SetSilentDump(false);
    const Bytes fileBefore = ReadBytes(f.ProfileFile());
    device->AddInput("Keyboard", 0);
    device->AddOutput("Keyboard", 0);
    device->Plug();
    ASSERT_TRUE(PumpUntil([&] { return w->LbConnect->text() == "Connect"; }, 3000)) << "not found again";
    EXPECT_EQ(w->LbVersions->text(), "FW: V1.05");
    EXPECT_EQ(w->DeviceOffline, 0);
    EXPECT_TRUE(w->TimerCheckUSB->isActive());
    EXPECT_EQ(w->DevicePort, 1);
    EXPECT_EQ(device->OpenPortCount(), 2);

    VirtualController::Body body = VirtualController::FactoryBody();
    body[16] = 0x21;  // the slider's value
    device->Controller().SetProfile(body);
    f.Dialogs->Notices.clear();
    f.Dialogs->Answers = {true};
    Click(w->BtnSyncPc);
    ASSERT_TRUE(PumpUntil([&] { return !f.Dialogs->Notices.empty(); }, 3000)) << "no dump after the re-plug";
    EXPECT_EQ(f.Dialogs->Notices,
              std::vector<QString>{"      Device data successfully synchronized to the Editor software.     "});
    EXPECT_EQ(w->ParaTable[17].Value, 0x21);
    EXPECT_EQ(ReadBytes(f.ProfileFile()), fileBefore);
    EXPECT_TRUE(f.Dialogs->Errors.empty());
  }
};

}  // namespace

// The dump of SYNC TO PC is cut off by the unplugging: nothing of it reaches
// the table, and the wait ends silently.
TEST_F(Vanishing, InTheMiddleOfSyncToPc) {
  Connect();
  const TParaTable table = w->ParaTable;
  device->Controller().SetSilentDump(true);
  VirtualController::Body body = VirtualController::FactoryBody();
  body.fill(0x55);
  service->UnplugBeforeSending = nullptr;
  // The controller's dump comes in pieces of 8 bytes; it is unplugged after
  // the third.
  service->UnplugAfter(3);
  f.Dialogs->Answers = {true};
  Click(w->BtnSyncPc);
  ASSERT_TRUE(IsDumpRequest(service->Sent().back()));
  device->PlayRaw(VirtualController::DumpMessage(body), 8);

  EXPECT_TRUE(PumpUntil([&] { return !w->TimerSyncPC->isActive(); }, 3000));
  EXPECT_FALSE(device->Plugged());
  EXPECT_TRUE(f.Dialogs->Notices.empty()) << "no success notice";
  EXPECT_EQ(EncodeProfile(w->ParaTable), EncodeProfile(table)) << "nothing of the cut-off dump was applied";
  EXPECT_EQ(ReadBytes(f.ProfileFile()), profileBefore);
  ExpectDisconnected();
  ExpectBackAfterReplug();
}

// The controller goes as the dump of SYNC TO FW goes out: the send fails
// silently, the profile is still written to its file, no success is shown.
TEST_F(Vanishing, InTheMiddleOfSyncToFirmware) {
  service->UnplugBeforeSending = [](const Bytes& m) { return IsDump(m); };
  Connect();
  const auto controllerBefore = device->Controller().Profile();
  w->EdtValue->setText("99");
  f.Dialogs->Answers = {true};
  Click(w->BtnSyncFw);
  EXPECT_EQ(device->Controller().Profile(), controllerBefore) << "the dump never reached the controller";
  TParaTable file;
  LoadProfileFile(f.ProfileFile(), file);
  EXPECT_EQ(file[17].Value, 99) << "the profile is kept in its file";
  EXPECT_EQ(file[1].Name.str(), "Own1");
  EXPECT_TRUE(PumpUntil([&] { return !w->TimerSyncFW->isActive(); }, 3000));
  EXPECT_TRUE(f.Dialogs->Notices.empty()) << "no success notice";
  ExpectDisconnected();
  ExpectBackAfterReplug();
}

// The controller does not answer the identity request and is unplugged while
// the window still asks: the polling ends, no version is shown.
TEST_F(Vanishing, DuringTheIdentityPolling) {
  device->Controller().SetSilentIdentity(true);
  auto requests = std::make_shared<std::atomic<int>>(0);
  service->UnplugBeforeSending = [requests](const Bytes& m) { return IsIdentityRequest(m) && ++*requests == 3; };
  w = &f.Make(service);
  EXPECT_TRUE(PumpUntil([&] { return !device->Plugged(); }, 3000));
  EXPECT_TRUE(PumpUntil([&] { return !w->Timer3->isActive(); }, 3000));
  EXPECT_EQ(w->PollTicks, 7) << "the polling ran its course";
  ExpectDisconnected();
  EXPECT_EQ(ReadBytes(f.ProfileFile()), OwnProfile());
  ExpectBackAfterReplug();
}

// The controller floods the window with short messages and dumps (each
// dump all of one value) from its own thread and is unplugged in the middle
// of it: the table holds one whole dump, the monitor a message that came.
TEST_F(Vanishing, WhileFloodingShortMessagesAndSysEx) {
  Connect();
  std::atomic<bool> stop{false};
  std::atomic<int> bursts{0};
  std::thread flood([&] {
    for (int burst = 0; !stop; ++burst) {
      for (int i = 0; i < 200; ++i) device->PlayShort(0x90 | (i & 15), static_cast<uint8_t>(i & 0x7F), 100);
      VirtualController::Body body;
      body.fill(static_cast<uint8_t>(burst % 128));
      device->PlayRaw(VirtualController::DumpMessage(body), 1 + burst % 9);
      device->PlayRaw({0xF0, 0x11, 0x22}, 2);  // never ends
      device->WaitIdle();
      ++bursts;
    }
  });
  EXPECT_TRUE(PumpUntil([&] { return bursts >= 5; }, 5000));
  Pump(100);
  device->Unplug();
  Pump(100);
  stop = true;
  flood.join();

  ASSERT_GE(bursts.load(), 5);
  Pump(50);  // the last dump handed over is applied
  const TParaTable& t = w->ParaTable;
  const int k = t[1].Value;
  EXPECT_GE(k, 0);
  EXPECT_LT(k, 128);
  for (int n = 1; n <= ControlCount; ++n) EXPECT_EQ(t[n].Value, k) << "record " << n << " is from another dump";
  for (int n = 17; n <= ControlCount; ++n) {
    EXPECT_EQ(t[n].Channel, k);
    EXPECT_EQ(t[n].DataType, k);
  }
  for (int i = 0; i < 8; ++i) EXPECT_EQ(t.GlobalBlock()[i], k);
  EXPECT_EQ(w->LbStatus->text().toInt() & 0xF0, 0x90);
  EXPECT_EQ(w->LbData2->text(), "100");
  EXPECT_EQ(ReadBytes(f.ProfileFile()), profileBefore) << "receiving writes no file";
  ExpectDisconnected();
  ExpectBackAfterReplug();
}

namespace {

// ---- hostile bytes and files, through the window

struct Hostile : ::testing::Test {
  FormFixture f;
  std::shared_ptr<VirtualControllerService> device;
  std::shared_ptr<UnpluggingService> service;
  TForm1* w = nullptr;

  void Connect(const VirtualControllerOptions& options = {}) {
    device = std::make_shared<VirtualControllerService>(std::make_shared<VirtualController>(options));
    service = std::make_shared<UnpluggingService>(device);
    w = &f.Make(service);
    ASSERT_TRUE(PumpUntil([&] { return w->LbConnect->text() == "Connect"; })) << "no identity reply seen";
    device->WaitIdle();
  }
  void Play(const Bytes& bytes, std::size_t chunk = 0) {
    device->PlayRaw(bytes, chunk);
    device->WaitIdle();
    Pump(20);
  }
  TRxTokens Tokens() {
    std::lock_guard<std::recursive_mutex> lock(w->SysExLock);
    return w->RxTokens;
  }
  // SYNC TO FW, acknowledged; returns the dump as it went out.
  Bytes SyncToFirmware() {
    const std::size_t before = f.Dialogs->Notices.size();
    f.Dialogs->Answers = {true};
    Click(w->BtnSyncFw);
    EXPECT_TRUE(PumpUntil([&] { return f.Dialogs->Notices.size() > before; }, 2000));
    Bytes dump;
    for (const Bytes& m : service->Sent())
      if (IsDump(m)) dump = m;
    return dump;
  }
};

void ExpectDataBytesOnly(const Bytes& wire) {
  ASSERT_EQ(wire.size(), 47u);
  EXPECT_EQ(wire[0], 0xF0);
  EXPECT_EQ(wire[43], 0xF7);
  for (std::size_t i = 1; i < wire.size(); ++i) {
    if (i != 43) {
      EXPECT_LE(wire[i], 0x7F) << "byte " << i;
    }
  }
}

}  // namespace

TEST_F(Hostile, AnIdentityReplyWithVersionBytes7F7F) {
  VirtualControllerOptions o;
  o.FirmwareMajor = 0x7F;
  o.FirmwareMinor = 0x7F;
  Connect(o);
  // 127 and 127 hundredths.
  EXPECT_EQ(w->LbVersions->text(), QString("FW: V128%1").arg(QLocale().decimalPoint()) + "27");
}

// Every message that ends replaces the tokens with its first 50 bytes: an
// identity reply, then one of 100,000 bytes (longer than the port layer
// keeps), then one of 60 bytes. A message without its end never reaches the
// tokens. A dump after them is applied as usual, and nothing is shown.
TEST_F(Hostile, EndlessAndLongMessages) {
  Connect();
  const QString version = w->LbVersions->text();
  const auto expectTokens = [&](const Bytes& m, const char* what) {
    const TRxTokens t = Tokens();
    for (std::size_t i = 0; i < t.size(); ++i)
      EXPECT_EQ(t[i], i < m.size() ? QString("%1").arg(m[i], 2, 16, QChar('0')).toUpper().toStdString() : "")
          << what << ", token " << i;
  };
  const Bytes reply = VirtualController::IdentityReply(2, 7);
  Play(reply);
  expectTokens(reply, "identity reply");

  Bytes huge(100000, 0x22);
  huge.front() = 0xF0;
  for (uint8_t i = 1; i < 50; ++i) huge[i] = i;
  huge.back() = 0xF7;
  Play(huge);
  expectTokens(Bytes(huge.begin(), huge.begin() + 50), "100,000 bytes");

  Bytes endless(200000, 0x11);
  endless[0] = 0xF0;
  Play(endless, 2048);
  expectTokens(Bytes(huge.begin(), huge.begin() + 50), "a message without its end");

  VirtualController::Body body;
  body.fill(0x33);
  Play(VirtualController::DumpMessage(body));
  EXPECT_TRUE(PumpUntil([&] { return w->ParaTable[17].Value == 0x33; }, 2000));
  EXPECT_EQ(Tokens()[43], "F7");

  Bytes sixty(60, 0x44);
  sixty.front() = 0xF0;
  sixty.back() = 0xF7;
  Play(sixty, 16);
  expectTokens(Bytes(sixty.begin(), sixty.begin() + 50), "60 bytes");
  EXPECT_EQ(w->ParaTable[17].Value, 0x33);
  EXPECT_EQ(w->LbConnect->text(), "Connect");
  EXPECT_EQ(w->LbVersions->text(), version);
  EXPECT_TRUE(f.Dialogs->Errors.empty());
  EXPECT_TRUE(f.Dialogs->Notices.empty());
}

// A dump full of FF from the controller is shown as it came; the dump sent
// back from the editor carries data bytes only, and the controller takes it.
TEST_F(Hostile, ADumpFullOfFFAndBack) {
  Connect();
  Bytes dump = {0xF0, 0x34, 0x01, 0x27};
  dump.insert(dump.end(), 39, 0xFF);
  dump.push_back(0xF7);
  Play(dump);
  ASSERT_TRUE(PumpUntil([&] { return w->ParaTable[17].Value == 255; }, 2000));
  EXPECT_EQ(w->EdtValue->text(), "255");
  const Bytes wire = SyncToFirmware();
  ExpectDataBytesOnly(wire);
  EXPECT_EQ(wire[4 + 16], 0x7F) << "the slider's value is limited";
  EXPECT_EQ(wire[4 + 0], 0x7F) << "pad 1's value of 255 goes out as 127";
  EXPECT_EQ(device->Controller().Profile()[16], 0x7F);
  EXPECT_TRUE(f.Dialogs->Errors.empty());
}

// A profile whose name lengths are 255 and whose integers are INT_MIN and
// INT_MAX opens without an error, and what goes out from it are data bytes.
TEST_F(Hostile, AProfileOfExtremeRecords) {
  std::vector<uint8_t> file(ProfileSize, 0);
  for (int k = 0; k < ControlCount; ++k) {
    uint8_t* rec = &file[RecordSize * k];
    rec[0] = rec[81] = 255;
    std::memset(rec + 1, 'N', 80);
    std::memset(rec + 82, 'E', 80);
    const int32_t extreme = k % 2 ? INT_MAX : INT_MIN;
    for (std::size_t at = 164; at < RecordSize; at += 4) std::memcpy(rec + at, &extreme, 4);
  }
  WriteBytes(f.ProfileFile(), file);
  Connect();
  EXPECT_TRUE(f.Dialogs->Errors.empty());
  EXPECT_EQ(w->BtnParaName->text(), QString(80, 'N'));
  ExpectDataBytesOnly(SyncToFirmware());
  Click(w->mCode[18]);  // a knob whose data type is INT_MAX
  EXPECT_EQ(w->ParaTable[18].DataType, 5);
  Click(w->mCode[5]);
  ExpectDataBytesOnly(SyncToFirmware());
  EXPECT_TRUE(f.Dialogs->Errors.empty());
  TParaTable saved;
  LoadProfileFile(f.ProfileFile(), saved);
  EXPECT_EQ(saved[18].DataType, 5);
  EXPECT_EQ(saved[2].Name.str(), std::string(80, 'N'));
}
