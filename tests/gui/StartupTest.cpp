// Start-up: the settings file, the profile it names, and the editor.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "profile/FileOps.h"
#include "profile/ParaTable.h"
#include "profile/ProfileFile.h"
#include "profile/Settings.h"
#include "support/FormFixture.h"

using namespace vlx;

namespace {

std::vector<uint8_t> FactoryBytes() {
  TParaTable t;
  ApplyFactoryValues(t);
  return EncodeProfile(t);
}

void PutInt(std::vector<uint8_t>& b, std::size_t at, int32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i));
}

}  // namespace

TEST(Startup, FirstStartCreatesTheSettingsAndTheFactoryProfile) {
  FormFixture f;
  TForm1& w = f.Make();
  EXPECT_TRUE(f.Dialogs->Errors.empty()) << f.Dialogs->Errors.front().toStdString();
  EXPECT_EQ(ReadText(f.Dir.File("System.ini")), "[System]\nFilePath=" + f.ProfileFile() + "\n");
  EXPECT_EQ(ReadBytes(f.ProfileFile()), FactoryBytes());
  EXPECT_EQ(w.ProfilePath, f.ProfileFile());

  EXPECT_EQ(w.CurrentControl, 17);
  EXPECT_EQ(w.BtnParaName->text(), "Slider");
  EXPECT_EQ(w.EdtValue->text(), "7");
  EXPECT_EQ(w.CmbDataType->currentText(), "CC");
  EXPECT_EQ(w.CmbChannel->currentText(), "0");
  EXPECT_EQ(w.EdtNameEditor->text(), "");
  const char* globals[] = {"UP", "1/4", "1", "NORM", "NORM", "PAD", "4 beat", "0"};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(w.GlobalCombos()[i]->currentText(), globals[i]) << i;
  for (int n = 1; n <= 21; ++n) EXPECT_EQ(w.ImgData[n]->isVisibleTo(&w), n == 17) << n;
  EXPECT_EQ(w.CmbControlMode->currentIndex(), -1);
  EXPECT_FALSE(w.CmbControlMode->isEnabled());
  EXPECT_EQ(w.EdtValue->maxLength(), 3);
  EXPECT_TRUE(w.EdtValue->alignment() & Qt::AlignHCenter);
}

TEST(Startup, AnExistingProfileIsLoadedAndNotRewritten) {
  FormFixture f;
  auto b = FactoryBytes();
  const std::size_t slider = 16 * 216;
  PutInt(b, slider + 172, 200);  // Value, limited to 127
  PutInt(b, slider + 176, 20);   // Channel, limited to 15
  PutInt(b, slider + 180, 1);    // Disabled
  b[slider + 81] = 4;
  std::memcpy(&b[slider + 82], "Fade", 4);
  PutInt(b, 184 + 4 * Beat, 5);  // record 1's global block
  b[slider + 162] = 0x55;        // filler: left as it is on disk
  const std::string path = f.Dir.File("mine.cus");
  WriteBytes(path, b);
  WriteIniString(f.Dir.File("System.ini"), "System", "FilePath", path);

  TForm1& w = f.Make();
  EXPECT_TRUE(f.Dialogs->Errors.empty());
  EXPECT_EQ(w.ProfilePath, path);
  EXPECT_EQ(ReadBytes(path), b) << "start-up rewrote the profile";
  EXPECT_FALSE(FileExists(f.ProfileFile()));
  EXPECT_EQ(w.EdtValue->text(), "127");
  EXPECT_EQ(w.CmbChannel->currentIndex(), 15);
  EXPECT_FALSE(w.CbEnable->isChecked());
  EXPECT_EQ(w.EdtNameEditor->text(), "Fade");
  EXPECT_EQ(w.CmbBeat->currentText(), "6 beat");
}

TEST(Startup, AMissingProfileFallsBackToTheDefaultPath) {
  struct Case {
    const char* what;
    bool defaultExists;
  };
  for (const Case& c : {Case{"default exists", true}, Case{"nothing exists", false}}) {
    SCOPED_TRACE(c.what);
    FormFixture f;
    WriteIniString(f.Dir.File("System.ini"), "System", "FilePath", f.Dir.File("gone/away.cus"));
    auto b = FactoryBytes();
    PutInt(b, 16 * 216 + 172, 99);
    if (c.defaultExists) WriteBytes(f.ProfileFile(), b);
    TForm1& w = f.Make();
    EXPECT_EQ(ReadIniString(f.Dir.File("System.ini"), "System", "FilePath"), f.ProfileFile());
    EXPECT_EQ(w.ProfilePath, f.ProfileFile());
    EXPECT_EQ(w.EdtValue->text(), c.defaultExists ? "99" : "7");
    EXPECT_EQ(ReadBytes(f.ProfileFile()), c.defaultExists ? b : FactoryBytes());
  }
}

TEST(Startup, AFailingStepIsReportedAndTheWindowStillOpens) {
  FormFixture f;
  // The profile named by the settings file is a folder: it exists, but
  // cannot be loaded.
  std::filesystem::create_directories(f.Dir.File("dir.cus"));
  const std::string bad = f.Dir.File("dir.cus");
  WriteIniString(f.Dir.File("System.ini"), "System", "FilePath", bad);
  f.Midi->AddInput("vellox");
  f.Midi->AddOutput("vellox");
  TForm1& w = f.Make();
  // A folder is no file, so the default profile is created instead.
  EXPECT_TRUE(f.Dialogs->Errors.empty());
  EXPECT_EQ(w.ProfilePath, f.ProfileFile());

  FormFixture g;
  const std::string unreadable = g.Dir.File("p.cus");
  WriteBytes(unreadable, FactoryBytes());
  WriteIniString(g.Dir.File("System.ini"), "System", "FilePath", unreadable);
  g.Midi->AddInput("vellox");
  g.Midi->AddOutput("vellox");
  FileOps ops = FileOps::Posix();
  ops.Open = [](const char*, int, mode_t) {
    errno = EACCES;
    return -1;
  };
  {
    ScopedFileOps guard(ops);
    g.Make();
  }
  ASSERT_EQ(g.Dialogs->Errors.size(), 1u);
  EXPECT_EQ(g.Dialogs->Errors[0], "File access denied.");
  // The later steps did not run: no port was listed or opened.
  EXPECT_EQ(g.Form->lbxInputDevices->count(), 0);
  EXPECT_EQ(g.Midi->OpenInputCount(), 0);
  EXPECT_EQ(g.Form->LbConnect->text(), "Disconnect");
  EXPECT_EQ(g.Form->DeviceOffline, 0);
  EXPECT_TRUE(g.Form->isEnabled());
}

// The program entry shows the window first and starts MIDI just after its
// first paint: until then no port is listed, no USB check runs and nothing
// is sent; then discovery runs as it does within FormCreate.
TEST(Startup, TheMidiStartFollowsTheFirstPaint) {
  FormFixture f;
  f.StartMidiAfterFirstPaint = true;
  const std::string in = f.Midi->AddInput("vellox", "in0");
  const std::string out = f.Midi->AddOutput("vellox", "out0");
  TForm1& w = f.Make();
  Pump();
  EXPECT_EQ(w.lbxInputDevices->count(), 0);
  EXPECT_EQ(f.UsbChecks, 0);
  EXPECT_EQ(f.Midi->OpenInputCount() + f.Midi->OpenOutputCount(), 0);
  EXPECT_EQ(w.CurrentControl, 17) << "the profile is in the editor before the first paint";

  w.show();
  // Well before the first presence probe, which would start it too.
  ASSERT_TRUE(PumpUntil([&] { return f.Midi->Sent(out).size() == 1; }, 500));
  EXPECT_EQ(w.lbxInputDevices->ItemText(0), "vellox");
  EXPECT_EQ(w.lbxOutputDevices->ItemText(0), "vellox");
  EXPECT_TRUE(f.Midi->IsInputOpen(in));
  EXPECT_TRUE(w.lbxInputDevices->Checked(0) && w.lbxOutputDevices->Checked(0));
  EXPECT_TRUE(w.Timer3->isActive());
  EXPECT_EQ(f.UsbChecks, 1);
  // Later paints start nothing again.
  w.repaint();
  Pump(50);
  EXPECT_EQ(f.UsbChecks, 1);
  EXPECT_EQ(w.lbxInputDevices->count(), 1);
  EXPECT_TRUE(f.Dialogs->Errors.empty());
}

TEST(Startup, AWindowNeverPaintedStartsMidiBeforeTheFirstPresenceProbe) {
  FormFixture f;
  f.StartMidiAfterFirstPaint = true;
  f.Midi->AddInput("vellox", "in0");
  const std::string out = f.Midi->AddOutput("vellox", "out0");
  TForm1& w = f.Make();  // never shown
  ASSERT_TRUE(PumpUntil([&] { return f.UsbChecks == 1; }, 3000));
  EXPECT_EQ(f.Midi->Sent(out).size(), 1u);
  EXPECT_EQ(w.DeviceOffline, 0) << "the probe found the port discovery had opened";
}

TEST(Startup, AFailedStartUpStepLeavesTheMidiStartOut) {
  FormFixture f;
  f.StartMidiAfterFirstPaint = true;
  const std::string unreadable = f.Dir.File("p.cus");
  WriteBytes(unreadable, FactoryBytes());
  WriteIniString(f.Dir.File("System.ini"), "System", "FilePath", unreadable);
  f.Midi->AddInput("vellox");
  f.Midi->AddOutput("vellox");
  FileOps ops = FileOps::Posix();
  ops.Open = [](const char*, int, mode_t) {
    errno = EACCES;
    return -1;
  };
  {
    ScopedFileOps guard(ops);
    f.Make();
  }
  f.Form->show();
  Pump(1200);  // the first paint and the first presence probe
  ASSERT_EQ(f.Dialogs->Errors.size(), 1u);
  EXPECT_EQ(f.Form->lbxInputDevices->count(), 0);
  EXPECT_EQ(f.UsbChecks, 0);
  EXPECT_EQ(f.Midi->OpenInputCount(), 0);
}
