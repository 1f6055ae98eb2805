// Undo and redo in the window, through its keys and its real widgets, with a
// virtual controller plugged in in-process; and the question before closing.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include "VirtualControllerService.h"
#include "profile/ProfileFile.h"
#include "support/FailingFileOps.h"
#include "support/FormFixture.h"

using namespace vlx;

namespace {

// Counts what the window sends to the controller.
class CountingService : public IMidiService {
 public:
  explicit CountingService(std::shared_ptr<IMidiService> inner) : inner_(std::move(inner)) {}
  std::vector<MidiPortId> Inputs() override { return inner_->Inputs(); }
  std::vector<MidiPortId> Outputs() override { return inner_->Outputs(); }
  bool AnyInputLeft() override { return inner_->AnyInputLeft(); }
  std::unique_ptr<IMidiInPort> OpenInput(const MidiPortId& port, MidiBytesCallback cb) override {
    return inner_->OpenInput(port, std::move(cb));
  }
  std::unique_ptr<IMidiOutPort> OpenOutput(const MidiPortId& port) override {
    struct Out : IMidiOutPort {
      std::unique_ptr<IMidiOutPort> inner;
      std::atomic<int>* sent;
      void Send(const uint8_t* data, std::size_t size) override {
        ++*sent;
        inner->Send(data, size);
      }
    };
    auto out = std::make_unique<Out>();
    out->inner = inner_->OpenOutput(port);
    out->sent = &sent_;
    return out;
  }
  int Sent() const { return sent_; }

 private:
  std::shared_ptr<IMidiService> inner_;
  std::atomic<int> sent_{0};
};

struct Undo : ::testing::Test {
  FormFixture f;
  std::shared_ptr<VirtualControllerService> device = std::make_shared<VirtualControllerService>();
  std::shared_ptr<CountingService> counter = std::make_shared<CountingService>(device);
  TForm1* w = nullptr;

  void SetUp() override {
    w = &f.Make(counter);
    ASSERT_TRUE(PumpUntil([&] { return w->LbConnect->text() == "Connect"; })) << "no identity reply seen";
    device->WaitIdle();
    w->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
    w->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w));
  }

  // A key as the user presses it: to the widget with the focus.
  void Press(Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : w;
    QTest::keyClick(target, key, mods);
    Pump();
  }
  void CtrlZ() { Press(Qt::Key_Z, Qt::ControlModifier); }
  void Select(int n) { Click(w->mCode[n]); }
  void Type(QLineEdit* box, const QString& text) {
    box->setFocus();
    box->selectAll();
    QTest::keyClicks(box, text);
  }
  // A GLOBAL list picked from with the keyboard.
  void PickNext(TComboBox* list) {
    list->setFocus();
    Press(Qt::Key_Down);
  }
  // A dump the controller sends without being asked by the window.
  void DumpFromElsewhere(VirtualController::Body body) {
    const int applied = ++dumpsSeen_;
    device->PlayRaw(VirtualController::DumpMessage(body));
    device->WaitIdle();
    ASSERT_TRUE(PumpUntil([&] { return w->SyncPcDone == 1; })) << "dump " << applied << " was not applied";
    w->SyncPcDone = 0;
  }
  int Shown() const {
    int shown = 0;
    for (int n = 1; n <= 21; ++n)
      if (w->ImgData[n]->isVisibleTo(w)) shown = shown == 0 ? n : -1;
    return shown;  // the one highlighted control, -1 for several
  }
  // What the user sees of the profile, for the checks after each step.
  struct View {
    int Selected, Highlighted;
    QString Value, Name, Caption, DataType, ArpTime;
    bool TypeShown;
    std::vector<uint8_t> Table;
    bool operator==(const View&) const = default;
  };
  View Seen() const {
    return {w->CurrentControl, Shown(), w->EdtValue->text(), w->EdtNameEditor->text(), w->BtnParaName->text(),
            w->CmbDataType->currentText(), w->CmbARPTime->currentText(), w->CmbDataType->isVisibleTo(w),
            EncodeProfile(w->ParaTable)};
  }

  int dumpsSeen_ = 0;
};

void PrintTo(const Undo::View& v, std::ostream* os) {
  *os << "{control " << v.Selected << ", highlight " << v.Highlighted << ", value \"" << v.Value.toStdString()
      << "\", name \"" << v.Name.toStdString() << "\", caption \"" << v.Caption.toStdString() << "\", type \""
      << v.DataType.toStdString() << "\", ARP TIME \"" << v.ArpTime.toStdString() << "\"}";
}

}  // namespace

// Each kind of step, made on a window with a pending edit: Ctrl+Z shows
// exactly what was there before, Ctrl+Shift+Z and Ctrl+Y what came after,
// and neither writes the file nor sends anything.
TEST_F(Undo, EveryKindOfStepIsUndoneAndRedone) {
  TParaTable other;
  ApplyFactoryValues(other);
  other[20].Value = 77;
  other[17].Name.assign("Other");
  other.GlobalBlock()[ARPTime] = 5;
  const std::string otherFile = f.Dir.File("other.cus");
  WriteProfileFile(otherFile, other);

  VirtualController::Body body = VirtualController::FactoryBody();
  body[16] = 0x55;  // slider value
  body[25] = 14;    // knob 3 value
  body[32] = 0x04;  // ARP TIME 1/16

  struct Case {
    const char* what;
    std::function<void()> step;
  };
  const std::vector<Case> cases = {
      {"a hand-over that changed the record", [&] { Select(2); }},
      {"a GLOBAL list pick", [&] { PickNext(w->CmbARPTime); }},
      {"NEW", [&] { f.Dialogs->Answers = {true}; Click(w->BtnNEW); }},
      {"OPEN", [&] { f.Dialogs->OpenChoice = QString::fromStdString(otherFile); Click(w->BtnOpen); }},
      {"RESET", [&] { f.Dialogs->Answers = {true}; Click(w->BtnReset); }},
      {"SYNC TO PC",
       [&] {
         device->Controller().SetProfile(body);
         f.Dialogs->Answers = {true};
         Click(w->BtnSyncPc);
         ASSERT_TRUE(PumpUntil([&] { return !f.Dialogs->Notices.empty(); }));
       }},
      {"a dump from elsewhere", [&] { DumpFromElsewhere(body); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // Knob 3 with an edit of its own: a new value, a name typed.
    Select(20);
    ASSERT_EQ(w->CurrentControl, 20);
    Type(w->EdtValue, "99");
    Type(w->EdtNameEditor, "Lead");
    w->setFocus();
    const View before = Seen();
    const std::string pathBefore = w->ProfilePath;

    c.step();
    Pump();
    const View after = Seen();
    ASSERT_NE(after, before) << "the step changed nothing";
    const std::string pathAfter = w->ProfilePath;
    const auto fileBefore = ReadBytes(pathBefore), fileAfter = ReadBytes(pathAfter);
    const int sentAfter = counter->Sent();

    CtrlZ();
    EXPECT_EQ(Seen(), before);
    EXPECT_EQ(w->ProfilePath, pathBefore);
    Press(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(Seen(), after);
    CtrlZ();
    EXPECT_EQ(Seen(), before);
    Press(Qt::Key_Y, Qt::ControlModifier);
    EXPECT_EQ(Seen(), after);
    CtrlZ();
    EXPECT_EQ(Seen(), before);

    EXPECT_EQ(ReadBytes(pathBefore), fileBefore) << "undo or redo wrote the file";
    EXPECT_EQ(ReadBytes(pathAfter), fileAfter) << "undo or redo wrote the file";
    EXPECT_EQ(counter->Sent(), sentAfter) << "undo or redo sent something";
    EXPECT_TRUE(f.Dialogs->Errors.empty()) << f.Dialogs->Errors.front().toStdString();
    f.Dialogs->Notices.clear();
  }
}

// The edit of knob 3 (99, a name) replaced by a dump that another program
// asked for comes back with one Ctrl+Z, and SAVE then writes it.
TEST_F(Undo, TypedTextADumpReplacedComesBack) {
  Select(20);
  Type(w->EdtValue, "99");
  // Typed text comes back as it was, also characters the table cannot hold.
  const QString typed = QString::fromUtf8("Lead \u20AC\u00E9");
  Type(w->EdtNameEditor, "Lead ");  // the focus stays in the name box
  w->EdtNameEditor->insert(QString::fromUtf8("\u20AC\u00E9"));  // as an input method types them
  ASSERT_EQ(w->EdtNameEditor->text(), typed);
  VirtualController::Body body = VirtualController::FactoryBody();
  body[25] = 14;  // knob 3
  body[33] = 2;   // ARP OCTAVE
  DumpFromElsewhere(body);
  EXPECT_EQ(w->EdtValue->text(), "14");
  EXPECT_EQ(w->EdtNameEditor->text(), QString::fromLatin1(w->ParaTable[20].NameEditorText.str()));
  EXPECT_EQ(w->CmbARPOctave->currentText(), "2");

  CtrlZ();
  EXPECT_EQ(w->CurrentControl, 20);
  EXPECT_EQ(w->EdtValue->text(), "99");
  EXPECT_EQ(w->EdtNameEditor->text(), typed);
  Type(w->EdtNameEditor, "Lead");
  EXPECT_EQ(w->CmbARPOctave->currentText(), "1");
  EXPECT_EQ(w->ParaTable[20].Value, 14) << "the typed value is still waiting in the editor, as before the dump";

  Click(w->BtnSave);
  TParaTable saved;
  LoadProfileFile(w->ProfilePath, saved);
  EXPECT_EQ(saved[20].Value, 99);
  EXPECT_EQ(saved[20].Name.str(), "Lead");
  EXPECT_EQ(saved.GlobalBlock()[ARPOctave], 1);
}

// 150 hand-overs, each storing a new value: all of them are undone, one by
// one, down to the first, and redone again.
TEST_F(Undo, AHundredAndFiftyStepsAndMore) {
  const int steps = 150;
  std::vector<std::vector<uint8_t>> tables{EncodeProfile(w->ParaTable)};
  for (int i = 1; i <= steps; ++i) {
    w->EdtValue->setText(QString::number(i % 100 + 1));
    Select(i % 2 == 0 ? 17 : 18);
    tables.push_back(EncodeProfile(w->ParaTable));
  }
  w->setFocus();
  for (int i = steps - 1; i >= 0; --i) {
    CtrlZ();
    ASSERT_EQ(EncodeProfile(w->ParaTable), tables[i]) << "after undoing down to step " << i;
  }
  CtrlZ();  // nothing more to undo: nothing happens
  EXPECT_EQ(EncodeProfile(w->ParaTable), tables[0]);
  EXPECT_EQ(w->CurrentControl, 17);
  for (int i = 1; i <= steps; ++i) Press(Qt::Key_Y, Qt::ControlModifier);
  EXPECT_EQ(EncodeProfile(w->ParaTable), tables[steps]);
}

// An edit box with text of its own to undo takes Ctrl+Z first; once it has
// none, Ctrl+Z undoes the window's last step.
TEST_F(Undo, AnEditBoxUndoesItsOwnTextFirst) {
  PickNext(w->CmbARPTime);
  const QString picked = w->CmbARPTime->currentText();
  for (QLineEdit* box : {w->EdtNameEditor, w->EdtValue}) {
    SCOPED_TRACE(box->objectName().toStdString());
    const QString was = box->text();
    box->setFocus();
    box->end(false);
    QTest::keyClicks(box, box == w->EdtValue ? "" : "xy");
    if (box == w->EdtValue) {
      box->selectAll();
      QTest::keyClicks(box, "42");
    }
    ASSERT_NE(box->text(), was);
    ASSERT_TRUE(box->isUndoAvailable());
    int presses = 0;
    while (box->isUndoAvailable() && presses < 10) {
      CtrlZ();
      ++presses;
      EXPECT_EQ(w->CmbARPTime->currentText(), picked) << "the window undid a step while the box had its own";
    }
    EXPECT_EQ(box->text(), was);
    EXPECT_EQ(box->text().contains(QChar(26)), false);
    // Its own redo first too.
    Press(Qt::Key_Y, Qt::ControlModifier);
    EXPECT_NE(box->text(), was);
    box->setText(was);  // no text of its own left
  }
  w->EdtNameEditor->setFocus();
  CtrlZ();
  EXPECT_NE(w->CmbARPTime->currentText(), picked) << "the window's step was not undone";
}

// A hand-over that stores nothing new and a pick of the item already shown
// are no steps: Ctrl+Z goes past them to the change before.
TEST_F(Undo, WhatChangesNothingIsNoStep) {
  // The first visit of a control stores its name box's text: a change.
  Select(1);
  Select(17);
  const QString factoryBeat = w->CmbBeat->currentText();
  PickNext(w->CmbBeat);
  const int picked = w->CmbBeat->currentIndex();
  ASSERT_NE(w->CmbBeat->currentText(), factoryBeat);
  const std::size_t steps = w->History.UndoSteps();

  Select(1);
  Select(17);
  w->CmbBeat->SetItemIndex(w->CmbBeat->count() - 1);  // as the window sets a list: no pick
  PickNext(w->CmbBeat);                               // the last item already: it stays
  EXPECT_EQ(w->History.UndoSteps(), steps);

  w->CmbBeat->SetItemIndex(picked);
  w->setFocus();
  CtrlZ();
  EXPECT_EQ(w->CmbBeat->currentText(), factoryBeat) << "the pick was not the step undone";
}

// ---- closing the window

namespace {

struct Closing : ::testing::Test {
  FormFixture f;
  TForm1* w = nullptr;
  void SetUp() override {
    w = &f.Make();
    w->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
  }
  QString Question() const {
    return "Do you want to save the changes to " + QString::fromStdString(w->ProfilePath) + " before closing?";
  }
};

}  // namespace

TEST_F(Closing, NoQuestionWhenNothingDiffers) {
  // Edits that were saved, and a hand-over that changed nothing, are no
  // changes.
  for (int n : {3, 17, 3}) Click(w->mCode[n]);  // the name boxes' texts stored
  w->EdtValue->setText("64");
  Click(w->BtnSave);
  Click(w->mCode[17]);
  EXPECT_TRUE(w->close());
  EXPECT_TRUE(f.Dialogs->ThreeWayQuestions.empty());
}

TEST_F(Closing, TheAnswerDecides) {
  const std::string file = f.ProfileFile();
  const auto saved = ReadBytes(file);
  struct Case {
    const char* what;
    std::function<void()> edit;
    IDialogs::Answer answer;
    bool closes;
    int sliderInFile;  // what the file holds afterwards
  };
  const Case cases[] = {
      {"a pending value, Yes", [&] { w->EdtValue->setText("99"); }, IDialogs::Answer::Yes, true, 99},
      {"a pending value, No", [&] { w->EdtValue->setText("99"); }, IDialogs::Answer::No, true, 7},
      {"a pending value, Cancel", [&] { w->EdtValue->setText("99"); }, IDialogs::Answer::Cancel, false, 7},
      {"a GLOBAL list, No", [&] { w->CmbScale->SetItemIndex(3); }, IDialogs::Answer::No, true, 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteBytes(file, saved);
    f.Dialogs->ThreeWayQuestions.clear();
    w->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
    c.edit();
    const auto edited = w->CaptureState();
    f.Dialogs->ThreeWayAnswers = {c.answer};
    EXPECT_EQ(w->close(), c.closes);
    EXPECT_EQ(w->isVisible(), !c.closes);
    EXPECT_EQ(f.Dialogs->ThreeWayQuestions, std::vector<QString>{Question()});
    TParaTable inFile;
    LoadProfileFile(file, inFile);
    EXPECT_EQ(inFile[17].Value, c.sliderInFile);
    if (!c.closes) {
      EXPECT_TRUE(w->CaptureState() == edited) << "Cancel changed the window";
    }
    EXPECT_TRUE(f.Dialogs->Errors.empty());
    // The window as it came from the file again.
    w->EdtValue->setText("7");
    w->CmbScale->SetItemIndex(0);
  }
}

TEST_F(Closing, AFailedSaveKeepsTheWindowOpen) {
  w->EdtValue->setText("99");
  f.Dialogs->ThreeWayAnswers = {IDialogs::Answer::Yes};
  {
    ScopedFileOps guard(DiskFullAfter(100));
    EXPECT_FALSE(w->close());
  }
  EXPECT_TRUE(w->isVisible());
  EXPECT_EQ(f.Dialogs->Errors, std::vector<QString>{"Disk full."});
  EXPECT_EQ(w->EdtValue->text(), "99");
  // Asked again, No closes.
  f.Dialogs->ThreeWayAnswers = {IDialogs::Answer::No};
  EXPECT_TRUE(w->close());
}

// The real box: titled "Hint", no icon, Yes, No and Cancel; Escape is Cancel.
TEST(ThreeWayBox, EachButtonGivesItsAnswerAndEscapeCancels) {
  struct Case {
    const char* what;
    std::function<void(QMessageBox*)> act;
    IDialogs::Answer answer;
  };
  const Case cases[] = {
      {"Yes", [](QMessageBox* b) { b->button(QMessageBox::Yes)->click(); }, IDialogs::Answer::Yes},
      {"No", [](QMessageBox* b) { b->button(QMessageBox::No)->click(); }, IDialogs::Answer::No},
      {"Cancel", [](QMessageBox* b) { b->button(QMessageBox::Cancel)->click(); }, IDialogs::Answer::Cancel},
      {"Escape", [](QMessageBox* b) { QTest::keyClick(b, Qt::Key_Escape); }, IDialogs::Answer::Cancel},
  };
  QtDialogs dialogs;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::Warning;
    QMessageBox::StandardButtons buttons;
    // Looked for until it is open (it opens once the call below runs its
    // own event loop), then answered.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr) return;
      poll.stop();
      title = box->windowTitle();
      text = box->text();
      icon = box->icon();
      buttons = box->standardButtons();
      c.act(box);
    });
    poll.start(10);
    // A box that did not open or close would end the test run by its time-out.
    EXPECT_EQ(dialogs.AskYesNoCancel(nullptr, "Save <b>a&b</b>?"), c.answer);
    EXPECT_EQ(title, "Hint");
    EXPECT_EQ(text, "Save <b>a&b</b>?");
    EXPECT_EQ(icon, QMessageBox::NoIcon);
    EXPECT_EQ(buttons, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
  }
}
