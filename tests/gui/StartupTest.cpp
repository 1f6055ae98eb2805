// Start-up: the settings file, the profile it names, and the editor.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>

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

// On the first start the settings file is written once, with the default
// profile's path.
TEST(Startup, FirstStartWritesTheSettingsFileOnce) {
  FormFixture f;
  FileOps ops = FileOps::Posix();
  auto settingsWrites = std::make_shared<int>(0);
  const auto realMkStemp = ops.MkStemp;
  ops.MkStemp = [settingsWrites, realMkStemp](char* pattern) {
    if (std::strstr(pattern, "/.System.ini.") != nullptr) ++*settingsWrites;
    return realMkStemp(pattern);
  };
  {
    ScopedFileOps guard(ops);
    f.Make();
  }
  EXPECT_TRUE(f.Dialogs->Errors.empty());
  EXPECT_EQ(*settingsWrites, 1);
  EXPECT_EQ(ReadText(f.Dir.File("System.ini")), "[System]\nFilePath=" + f.ProfileFile() + "\n");
}

// Whichever step of the start-up fails, the error is shown once and the
// editor then works: control 17 on show, a control can be selected, changed
// and saved, and NEW and SYNC TO FW write the profile.
TEST(Startup, AFailingStepLeavesAWorkingEditor) {
  struct Case {
    const char* what;
    std::function<void(FormFixture&)> prepare;
    std::function<void(FileOps&)> breakIt;
    std::function<std::string(FormFixture&)> error;
    std::function<std::string(FormFixture&)> profile;  // ProfilePath afterwards
  };
  const auto named = [](FormFixture& f) { return f.Dir.File("named.cus"); };
  const auto nameAProfile = [named](FormFixture& f) {
    WriteBytes(named(f), FactoryBytes());
    WriteIniString(f.Dir.File("System.ini"), "System", "FilePath", named(f));
  };
  const auto defaultProfile = [](FormFixture& f) { return f.ProfileFile(); };
  const Case cases[] = {
      {"the settings file cannot be written", [](FormFixture&) {},
       [](FileOps& ops) {
         const auto real = ops.MkStemp;
         ops.MkStemp = [real](char* pattern) {
           if (std::strstr(pattern, "/.System.ini.") == nullptr) return real(pattern);
           errno = EROFS;
           return -1;
         };
       },
       [](FormFixture& f) { return "Unable to write to " + f.Dir.File("System.ini") + "."; }, defaultProfile},
      {"the profile cannot be opened", nameAProfile,
       [](FileOps& ops) {
         ops.Open = [](const char*, int, mode_t) {
           errno = EACCES;
           return -1;
         };
       },
       [](FormFixture&) { return std::string("File access denied."); }, named},
      {"the factory profile cannot be written", [](FormFixture&) {},
       [](FileOps& ops) {
         const auto real = ops.MkStemp;
         ops.MkStemp = [real](char* pattern) {
           if (std::strstr(pattern, "/.customer.cus.") == nullptr) return real(pattern);
           errno = ENOSPC;
           return -1;
         };
       },
       [](FormFixture&) { return std::string("Disk full."); }, defaultProfile},
      {"the port lists cannot be read", [](FormFixture& f) { f.Midi->FailEnumeration("no MIDI here"); },
       [](FileOps&) {}, [](FormFixture&) { return std::string("no MIDI here."); }, defaultProfile},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FormFixture f;
    f.Midi->AddInput("vellox");
    f.Midi->AddOutput("vellox");
    c.prepare(f);
    FileOps ops = FileOps::Posix();
    c.breakIt(ops);
    {
      ScopedFileOps guard(ops);
      f.Make();
    }
    f.Midi->FailEnumeration("");
    TForm1& w = *f.Form;
    EXPECT_EQ(f.Dialogs->Errors, std::vector<QString>{QString::fromStdString(c.error(f))});
    f.Dialogs->Errors.clear();

    // Control 17 of the table in memory (the factory profile: nothing was
    // read) is on show.
    EXPECT_EQ(w.CurrentControl, 17);
    EXPECT_EQ(w.ProfilePath, c.profile(f));
    EXPECT_EQ(w.BtnParaName->text(), "Slider");
    EXPECT_EQ(w.EdtValue->text(), "7");
    EXPECT_EQ(w.CmbBeat->currentText(), "4 beat");
    for (int n = 1; n <= 21; ++n) EXPECT_EQ(w.ImgData[n]->isVisibleTo(&w), n == 17) << n;
    EXPECT_EQ(w.EdtValue->maxLength(), 3);
    EXPECT_FALSE(w.CmbControlMode->isEnabled());

    // Select, change, save.
    Click(w.mCode[3]);
    EXPECT_EQ(w.CurrentControl, 3);
    EXPECT_EQ(w.BtnParaName->text(), "A|PAD3");
    w.EdtValue->setText("99");
    Click(w.BtnSave);
    EXPECT_TRUE(f.Dialogs->Errors.empty()) << f.Dialogs->Errors.front().toStdString();
    EXPECT_EQ(f.Dialogs->Notices, std::vector<QString>{"       Save the data successfully.     "});
    EXPECT_EQ(w.ParaTable[3].Value, 99);
    EXPECT_EQ(ReadBytes(w.ProfilePath), EncodeProfile(w.ParaTable));

    // NEW and SYNC TO FW.
    f.Dialogs->Answers = {true};
    Click(w.BtnNEW);
    EXPECT_EQ(w.ParaTable[3].Value, 32);
    EXPECT_EQ(ReadBytes(w.ProfilePath), EncodeProfile(w.ParaTable));
    w.EdtValue->setText("77");
    f.Dialogs->Answers = {true};
    Click(w.BtnSyncFw);
    EXPECT_EQ(w.ParaTable[3].Value, 77);
    EXPECT_EQ(ReadBytes(w.ProfilePath), EncodeProfile(w.ParaTable));
    EXPECT_TRUE(f.Dialogs->Errors.empty()) << f.Dialogs->Errors.front().toStdString();
  }
}

// A load that fails part-way keeps the records it read, as any failed load
// does; the editor shows control 17 of that table.
TEST(Startup, AProfileThatFailsPartWayKeepsTheRecordsRead) {
  FormFixture f;
  auto b = FactoryBytes();
  PutInt(b, 172, 55);  // record 1's Value
  WriteBytes(f.ProfileFile(), b);
  FileOps ops = FileOps::Posix();
  auto readSoFar = std::make_shared<std::size_t>(0);
  const auto realRead = ops.Read;
  ops.Read = [readSoFar, realRead](int fd, void* buf, size_t n) -> ssize_t {
    if (*readSoFar >= 2 * 216) {
      errno = EIO;
      return -1;
    }
    const ssize_t got = realRead(fd, buf, n);
    if (got > 0) *readSoFar += static_cast<std::size_t>(got);
    return got;
  };
  {
    ScopedFileOps guard(ops);
    f.Make();
  }
  TForm1& w = *f.Form;
  EXPECT_EQ(f.Dialogs->Errors, std::vector<QString>{"I/O error 5."});
  f.Dialogs->Errors.clear();
  EXPECT_EQ(w.CurrentControl, 17);
  EXPECT_EQ(w.ParaTable[1].Value, 55);
  EXPECT_EQ(w.ParaTable[2].Name.str(), "A|PAD2");
  EXPECT_EQ(w.ParaTable[17].Name.str(), "") << "records after the failure were not read";
  EXPECT_EQ(w.BtnParaName->text(), "");
  EXPECT_TRUE(w.ImgData[17]->isVisibleTo(&w));
  Click(w.mCode[1]);
  EXPECT_EQ(w.EdtValue->text(), "55");
  Click(w.BtnSave);
  EXPECT_TRUE(f.Dialogs->Errors.empty()) << f.Dialogs->Errors.front().toStdString();
  EXPECT_EQ(ReadBytes(f.ProfileFile()), EncodeProfile(w.ParaTable));
}
