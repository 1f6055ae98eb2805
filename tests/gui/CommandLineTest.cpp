// A profile named on the editor's command line opens after start-up as OPEN
// opens one.
#include <gtest/gtest.h>

#include <QDir>

#include "profile/ProfileFile.h"
#include "profile/Settings.h"
#include "support/FormFixture.h"

using namespace vlx;

namespace {

// A profile whose slider record differs from the factory one.
std::string WriteProfile(const TempDir& dir, const std::string& name) {
  TParaTable t;
  ApplyFactoryValues(t);
  t[17].Name.assign("Fader");
  t[17].Value = 99;
  t.GlobalBlock()[Scale] = 4;
  const std::string path = dir.File(name);
  WriteBytes(path, EncodeProfile(t));
  return path;
}

}  // namespace

TEST(OpenAtStart, TheNamedFileReplacesTheStartProfile) {
  FormFixture f;
  TempDir elsewhere;
  f.OpenAtStart = WriteProfile(elsewhere, "My.Set.cus");
  TForm1& w = f.Make();
  // The start-up profile came first; the file follows once events run.
  EXPECT_EQ(w.ProfilePath, f.ProfileFile());
  ASSERT_TRUE(PumpUntil([&] { return w.LbProFile->text() == "My.Set"; }));
  EXPECT_EQ(w.ProfilePath, f.OpenAtStart);
  EXPECT_EQ(w.BtnParaName->text(), "Fader");
  EXPECT_EQ(w.EdtValue->text(), "99");
  EXPECT_EQ(w.CmbScale->currentText(), "BLUES");
  EXPECT_TRUE(f.Dialogs->Errors.empty());
  EXPECT_TRUE(f.Dialogs->OpenRequests.empty()) << "no dialog is shown for it";
  // As after OPEN: the settings file still names the start-up profile, which
  // is left as it was, and SAVE writes into the opened file.
  EXPECT_EQ(ReadIniString(f.Dir.File("System.ini"), "System", "FilePath"), f.ProfileFile());
  w.EdtValue->setText("12");
  Click(w.BtnSave);
  TParaTable saved;
  LoadProfileFile(f.OpenAtStart, saved);
  EXPECT_EQ(saved[17].Value, 12);
  TParaTable factory;
  ApplyFactoryValues(factory);
  EXPECT_EQ(ReadBytes(f.ProfileFile()), EncodeProfile(factory));
}

TEST(OpenAtStart, ARelativeNameIsTakenFromTheCurrentFolder) {
  FormFixture f;
  TempDir cwd;
  WriteProfile(cwd, "rel.cus");
  struct Back {
    QString Folder = QDir::currentPath();
    ~Back() { QDir::setCurrent(Folder); }
  } back;
  ASSERT_TRUE(QDir::setCurrent(QString::fromStdString(cwd.Path)));
  f.OpenAtStart = "./sub/../rel.cus";
  QDir().mkdir("sub");
  TForm1& w = f.Make();
  ASSERT_TRUE(PumpUntil([&] { return w.LbProFile->text() == "rel"; }));
  QDir::setCurrent(back.Folder);
  EXPECT_EQ(w.ProfilePath, QDir(QString::fromStdString(cwd.Path)).canonicalPath().toStdString() + "/rel.cus");
  EXPECT_EQ(w.BtnParaName->text(), "Fader");
  // Later work in another folder still finds it.
  Click(w.BtnSave);
  EXPECT_TRUE(f.Dialogs->Errors.empty());
}

TEST(OpenAtStart, AFileThatCannotBeReadGivesOpensErrorAndAUsableWindow) {
  FormFixture f;
  f.OpenAtStart = f.Dir.File("vanished.cus");
  TForm1& w = f.Make();
  ASSERT_TRUE(PumpUntil([&] { return !f.Dialogs->Errors.empty(); }));
  EXPECT_EQ(f.Dialogs->Errors, std::vector<QString>{"File not found."});
  EXPECT_EQ(w.LbProFile->text(), "vanished");
  EXPECT_EQ(w.ProfilePath, f.OpenAtStart);
  // The start-up profile stays in the editor, and every command works.
  EXPECT_EQ(w.BtnParaName->text(), "Slider");
  Click(w.mCode[18]);
  EXPECT_EQ(w.CurrentControl, 18);
  Click(w.BtnSave);
  EXPECT_EQ(f.Dialogs->Notices.size(), 1u);
  EXPECT_EQ(ReadBytes(f.OpenAtStart).size(), 21u * 216u);
}

TEST(OpenAtStart, WithoutAFileNothingMoreHappens) {
  FormFixture f;
  TForm1& w = f.Make();
  Pump(50);
  EXPECT_EQ(w.LbProFile->text(), "PROFILE");
  EXPECT_EQ(w.ProfilePath, f.ProfileFile());
  EXPECT_TRUE(f.Dialogs->Errors.empty());
}
