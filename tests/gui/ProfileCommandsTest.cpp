// NEW, OPEN, SAVE, EXPORT and the hidden Save button.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QMessageBox>
#include <QTimer>

#include "profile/FileOps.h"
#include "profile/ProfileFile.h"
#include "profile/Settings.h"
#include "support/FormFixture.h"

using namespace vlx;

namespace {

struct Commands : ::testing::Test {
  FormFixture f;
  TForm1* w = nullptr;
  void SetUp() override { w = &f.Make(); }

  // A profile whose every record differs from the factory one.
  std::string WriteProfile(const std::string& name, int records = 21, int base = 50) {
    TParaTable t;
    for (int n = 1; n <= 21; ++n) {
      t[n].Name.assign("P" + std::to_string(n));
      t[n].NameEditorText.assign("E" + std::to_string(n));
      t[n].Value = base + n;
      t[n].Channel = n % 16;
      t[n].DataType = n % 4;
    }
    t.GlobalBlock()[Scale] = 4;
    auto bytes = EncodeProfile(t);
    bytes.resize(216 * records);
    const std::string path = f.Dir.File(name);
    WriteBytes(path, bytes);
    return path;
  }
};

std::vector<uint8_t> Factory() {
  TParaTable t;
  ApplyFactoryValues(t);
  return EncodeProfile(t);
}

}  // namespace

TEST_F(Commands, NewAsksAndOnYesWritesTheFactoryProfile) {
  const std::string live = WriteProfile("live.cus");
  f.Dialogs->OpenChoice = QString::fromStdString(live);
  Click(w->BtnOpen);
  ASSERT_EQ(w->BtnParaName->text(), "P17");

  Click(w->BtnNEW);  // No
  ASSERT_EQ(f.Dialogs->Questions.size(), 1u);
  EXPECT_EQ(f.Dialogs->Questions[0], "     Do you want to reset Editor software data?    ");
  EXPECT_EQ(w->BtnParaName->text(), "P17");
  EXPECT_NE(ReadBytes(live), Factory());

  f.Dialogs->Answers = {true};
  Click(w->BtnNEW);
  EXPECT_EQ(w->BtnParaName->text(), "Slider");
  EXPECT_EQ(w->EdtNameEditor->text(), "E17") << "NameEditorText is not a factory value";
  EXPECT_EQ(w->CmbScale->currentText(), "NORM");
  EXPECT_EQ(w->LbProFile->text(), "live");
  EXPECT_EQ(w->ProfilePath, live);
  const auto written = ReadBytes(live);
  ASSERT_EQ(written.size(), 4536u);
  TParaTable back;
  LoadProfileFile(live, back);
  EXPECT_EQ(back[17].Name.str(), "Slider");
  EXPECT_EQ(back[17].Value, 7);
  EXPECT_TRUE(f.Dialogs->Notices.empty());
}

TEST_F(Commands, OpenLoadsTheChosenFileAndNamesIt) {
  const std::string path = WriteProfile("My.Set.cus");
  f.Dialogs->OpenChoice = QString::fromStdString(path);
  Click(w->BtnOpen);
  ASSERT_EQ(f.Dialogs->OpenRequests.size(), 1u);
  EXPECT_EQ(f.Dialogs->OpenRequests[0].Title, "Open file");
  EXPECT_EQ(f.Dialogs->OpenRequests[0].FileName, "*.cus");
  EXPECT_EQ(f.Dialogs->OpenRequests[0].Filter, "cus files (*.cus)");
  EXPECT_EQ(w->LbProFile->text(), "My.Set");
  EXPECT_EQ(w->ProfilePath, path);
  EXPECT_EQ(w->CurrentControl, 17);
  EXPECT_EQ(w->BtnParaName->text(), "P17");
  EXPECT_EQ(w->EdtNameEditor->text(), "E17");
  EXPECT_EQ(w->EdtValue->text(), "67");
  EXPECT_EQ(w->CmbScale->currentText(), "BLUES");
  // The settings file still names the default profile.
  EXPECT_EQ(ReadIniString(f.Dir.File("System.ini"), "System", "FilePath"), f.ProfileFile());
}

// File names are shown as they are, "&" and "<b>" included.
TEST_F(Commands, OpenNamesTheProfileLiterally) {
  for (const char* name : {"a&b.cus", "<b>Kit.cus"}) {
    SCOPED_TRACE(name);
    f.Dialogs->OpenChoice = QString::fromStdString(WriteProfile(name));
    Click(w->BtnOpen);
    ExpectShownLiterally(w->LbProFile, QString::fromStdString(name).chopped(4));
    EXPECT_EQ(w->BtnParaName->text(), "P17");
  }
}

TEST_F(Commands, OpenOfAShortFileReplacesOnlyItsRecords) {
  const std::string five = WriteProfile("five.cus", 5, 90);
  f.Dialogs->OpenChoice = QString::fromStdString(five);
  Click(w->BtnOpen);
  EXPECT_EQ(w->ParaTable[5].Value, 95);
  EXPECT_EQ(w->ParaTable[6].Value, 35) << "record 6 keeps the profile loaded before";
  EXPECT_EQ(w->ParaTable[17].Name.str(), "Slider");
}

TEST_F(Commands, OpenCancelledOrFailingChangesWhatItShould) {
  Click(w->BtnOpen);  // cancelled
  EXPECT_EQ(w->LbProFile->text(), "PROFILE");
  EXPECT_EQ(w->ProfilePath, f.ProfileFile());

  f.Dialogs->OpenChoice = QString::fromStdString(f.Dir.File("vanished.cus"));
  Click(w->BtnOpen);
  ASSERT_EQ(f.Dialogs->Errors.size(), 1u);
  EXPECT_EQ(f.Dialogs->Errors[0], "File not found.");
  EXPECT_EQ(w->LbProFile->text(), "vanished");
  EXPECT_EQ(w->ProfilePath, f.Dir.File("vanished.cus"));
  // A SAVE after that writes into the chosen file.
  Click(w->BtnSave);
  EXPECT_EQ(ReadBytes(f.Dir.File("vanished.cus")).size(), 4536u);
}

TEST_F(Commands, SaveStoresTheEditorAndWritesTheCurrentProfile) {
  w->EdtValue->setText("100");
  w->CmbVelocity->setCurrentIndex(3);
  Click(w->BtnSave);
  ASSERT_EQ(f.Dialogs->Notices.size(), 1u);
  EXPECT_EQ(f.Dialogs->Notices[0], "       Save the data successfully.     ");
  EXPECT_TRUE(f.Dialogs->Questions.empty()) << "SAVE asks nothing";
  TParaTable back;
  LoadProfileFile(f.ProfileFile(), back);
  EXPECT_EQ(back[17].Value, 100);
  EXPECT_EQ(back.GlobalBlock()[Velocity], 3);
}

TEST_F(Commands, SaveOfANonNumberStopsBeforeWriting) {
  const auto before = ReadBytes(f.ProfileFile());
  w->EdtValue->setText("x");
  Click(w->BtnSave);
  ASSERT_EQ(f.Dialogs->Errors.size(), 1u);
  EXPECT_EQ(f.Dialogs->Errors[0], "'x' is not a valid integer value.");
  EXPECT_TRUE(f.Dialogs->Notices.empty());
  EXPECT_EQ(ReadBytes(f.ProfileFile()), before);
}

TEST_F(Commands, AFailedSaveShowsTheErrorAndKeepsThePreviousFile) {
  const auto before = ReadBytes(f.ProfileFile());
  w->EdtValue->setText("1");
  FileOps ops = FileOps::Posix();
  ops.Write = [](int, const void*, size_t) -> ssize_t {
    errno = ENOSPC;
    return -1;
  };
  {
    ScopedFileOps guard(ops);
    Click(w->BtnSave);
  }
  ASSERT_EQ(f.Dialogs->Errors.size(), 1u);
  EXPECT_EQ(f.Dialogs->Errors[0], "Disk full.");
  EXPECT_TRUE(f.Dialogs->Notices.empty());
  EXPECT_EQ(ReadBytes(f.ProfileFile()), before);
  EXPECT_EQ(w->ParaTable[17].Value, 1) << "the table holds the editor's fields";
}

TEST_F(Commands, ExportWritesACusFileAndLeavesTheCurrentProfile) {
  struct Case {
    const char* typed;
    const char* written;
  };
  for (const Case& c : {Case{"backup.txt", "backup.cus"}, Case{"backup", "backup.cus"},
                        Case{"a.b/c", "a.b/c.cus"}, Case{"two.dots.cus", "two.dots.cus"}}) {
    SCOPED_TRACE(c.typed);
    std::filesystem::create_directories(f.Dir.File("a.b"));
    w->EdtValue->setText("42");
    f.Dialogs->SaveChoice = QString::fromStdString(f.Dir.File(c.typed));
    Click(w->BtnExport);
    EXPECT_TRUE(f.Dialogs->Errors.empty());
    TParaTable back;
    LoadProfileFile(f.Dir.File(c.written), back);
    EXPECT_EQ(back[17].Value, 42);
  }
  ASSERT_FALSE(f.Dialogs->SaveRequests.empty());
  EXPECT_EQ(f.Dialogs->SaveRequests[0].Title, "Save file");
  EXPECT_EQ(f.Dialogs->SaveRequests[0].FileName.toStdString(), f.ProfileFile());
  EXPECT_TRUE(f.Dialogs->Notices.empty()) << "EXPORT shows nothing on success";
  EXPECT_EQ(w->ProfilePath, f.ProfileFile());
  EXPECT_EQ(w->LbProFile->text(), "PROFILE");
  EXPECT_FALSE(FileExists(f.Dir.File("backup.txt")));
}

TEST_F(Commands, SaveAfterExportWritesTheProfileThatWasCurrent) {
  f.Dialogs->SaveChoice = QString::fromStdString(f.Dir.File("other.cus"));
  w->EdtValue->setText("11");
  Click(w->BtnExport);
  w->EdtValue->setText("12");
  Click(w->BtnSave);
  TParaTable current, exported;
  LoadProfileFile(f.ProfileFile(), current);
  LoadProfileFile(f.Dir.File("other.cus"), exported);
  EXPECT_EQ(current[17].Value, 12);
  EXPECT_EQ(exported[17].Value, 11);
}

TEST_F(Commands, ExportCancelledWritesNothing) {
  w->EdtValue->setText("1");
  Click(w->BtnExport);
  EXPECT_EQ(w->ParaTable[17].Value, 7) << "a cancelled export stores nothing";
}

TEST_F(Commands, TheHiddenSaveButtonStoresModeAndEnableToo) {
  w->CmbControlMode->setEnabled(true);
  w->CmbControlMode->setCurrentIndex(0);
  w->CbEnable->setChecked(false);
  w->EdtValue->setText("5");
  w->EdtNameEditor->setText("[NAME]");
  const auto before = ReadBytes(f.ProfileFile());
  w->BtselfSave->click();
  const TParaRecord& r = w->ParaTable[17];
  EXPECT_EQ(r.Value, 5);
  EXPECT_EQ(r.Disabled, 1);
  EXPECT_EQ(r.ControlMode, 0);
  EXPECT_EQ(r.Name.str(), "Slider");
  EXPECT_EQ(ReadBytes(f.ProfileFile()), before) << "it writes no file";
  EXPECT_TRUE(f.Dialogs->Notices.empty());
}

// The real message boxes show their texts as they are: a file name or an
// error text with "&", "<" or markup in it is no rich text.
TEST(MessageBoxes, ShowTheirTextsLiterally) {
  const QString text = "Unable to write to /home/a&b/<b>Kit</b> <i>2.cus";
  struct Seen {
    QString title, label;
    bool literal = false;
  };
  // Looks at the box that the call opens and closes it with its first
  // button (Yes, or OK).
  const auto watch = [](Seen& seen) {
    QTimer::singleShot(0, [&seen] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_NE(box, nullptr);
      seen.title = box->windowTitle();
      if (auto* label = box->findChild<QLabel*>("qt_msgbox_label")) {
        seen.label = label->text();
        seen.literal = label->sizeHint().width() >= QFontMetrics(label->font()).horizontalAdvance(label->text());
      }
      box->button(box->buttons().contains(box->button(QMessageBox::Yes)) ? QMessageBox::Yes : QMessageBox::Ok)
          ->click();
    });
  };
  QtDialogs dialogs;
  Seen ask, notice, error;
  watch(ask);
  EXPECT_TRUE(dialogs.Ask(nullptr, text));
  watch(notice);
  dialogs.Notice(nullptr, text);
  watch(error);
  dialogs.Error(nullptr, text);
  for (const Seen* s : {&ask, &notice, &error}) {
    EXPECT_EQ(s->label, text);
    EXPECT_TRUE(s->literal) << s->title.toStdString();
  }
  EXPECT_EQ(ask.title, "Hint");
  EXPECT_EQ(error.title, ApplicationTitle);
}
