// Selecting controls and editing them, through clicks and typing.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QWindow>

#include "support/FormFixture.h"

using namespace vlx;

namespace {

struct Editing : ::testing::Test {
  FormFixture f;
  TForm1* w = nullptr;
  void SetUp() override { w = &f.Make(); }

  void Select(int n) { Click(w->mCode[n]); }
  void TypeName(const QString& s) {
    w->EdtNameEditor->clear();
    QTest::keyClicks(w->EdtNameEditor, s);
  }
  void SetValueText(const QString& s) { w->EdtValue->setText(s); }
  // The window on screen and active, for focus and for mouse events that go
  // through the window system.
  void Show() {
    w->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
    w->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w));
  }
  QStringList TypeItems() const {
    QStringList items;
    for (int i = 0; i < w->CmbDataType->count(); ++i) items << w->CmbDataType->itemText(i);
    return items;
  }
};

// How a double-click reaches a widget.
enum class DoubleClickPath {
  Widget,  // the events Qt hands the widget: press, release, double-click, release
  Window,  // two quick presses at one spot through the window system
};

void DoubleClick(QWidget* target, DoubleClickPath path, QPoint pos = QPoint()) {
  if (pos.isNull()) pos = target->rect().center();
  if (path == DoubleClickPath::Widget) {
    QTest::mousePress(target, Qt::LeftButton, Qt::NoModifier, pos);
    QTest::mouseRelease(target, Qt::LeftButton, Qt::NoModifier, pos);
    QTest::mouseDClick(target, Qt::LeftButton, Qt::NoModifier, pos);
    QTest::mouseRelease(target, Qt::LeftButton, Qt::NoModifier, pos);
  } else {
    QWidget* top = target->window();
    QTest::mouseDClick(top->windowHandle(), Qt::LeftButton, Qt::NoModifier, target->mapTo(top, pos));
  }
  Pump();
}

}  // namespace

TEST_F(Editing, SelectingMovesTheHighlightAndHandsTheEditorOver) {
  SetValueText("55");
  w->CmbChannel->setCurrentIndex(3);
  w->CmbDataType->setCurrentIndex(1);
  TypeName("Lead");
  Select(2);
  for (int n = 1; n <= 21; ++n) EXPECT_EQ(w->ImgData[n]->isVisibleTo(w), n == 2) << n;
  EXPECT_EQ(w->CurrentControl, 2);
  const TParaRecord& slider = w->ParaTable[17];
  EXPECT_EQ(slider.Value, 55);
  EXPECT_EQ(slider.Channel, 3);
  EXPECT_EQ(slider.DataType, 1);
  EXPECT_EQ(slider.Name.str(), "Lead");
  EXPECT_EQ(slider.NameEditorText.str(), "Lead");

  // The pad's record in the editor.
  EXPECT_EQ(w->BtnParaName->text(), "A|PAD2");
  EXPECT_EQ(w->EdtValue->text(), "31");
  EXPECT_EQ(w->EdtNameEditor->text(), "") << "a control with a name shows an empty name box";

  // Back to the slider: the new name, an empty name box.
  Select(17);
  EXPECT_EQ(w->BtnParaName->text(), "Lead");
  EXPECT_EQ(w->EdtNameEditor->text(), "");
  EXPECT_EQ(w->EdtValue->text(), "55");
  EXPECT_EQ(w->CmbChannel->currentIndex(), 3);
  EXPECT_EQ(w->CmbDataType->currentText(), "PC");
}

TEST_F(Editing, AnEmptyNameBoxOrThePlaceholderKeepsTheName) {
  for (const QString& text : {QString(), QString("[NAME]")}) {
    SCOPED_TRACE(text.toStdString());
    Select(5);
    TypeName(text);
    Select(6);
    EXPECT_EQ(w->ParaTable[5].Name.str(), "A|PAD5");
    EXPECT_EQ(w->ParaTable[5].NameEditorText.str(), "[NAME]");
  }
}

TEST_F(Editing, NamesAreCutToEightyCharactersAndEmptyNamesShowThePlaceholder) {
  Select(9);
  TypeName(QString(90, 'x'));
  Select(10);
  EXPECT_EQ(w->ParaTable[9].Name.str(), std::string(80, 'x'));
  EXPECT_EQ(w->ParaTable[9].NameEditorText.str(), std::string(80, 'x'));

  w->ParaTable[11].Name.assign("");
  Select(11);
  EXPECT_EQ(w->BtnParaName->text(), "");
  EXPECT_EQ(w->EdtNameEditor->text(), "[NAME]");
}

TEST_F(Editing, ValueTextRule) {
  const std::pair<QString, int> cases[] = {{"", 0}, {"999", 127}, {"127", 127}, {"12", 12}, {"-5", 0}};
  for (const auto& [text, value] : cases) {
    Select(3);
    SetValueText(text);
    Select(4);
    EXPECT_EQ(w->ParaTable[3].Value, value) << text.toStdString();
  }
}

TEST_F(Editing, ANonNumberIsReportedAndNothingIsStored) {
  Select(3);
  const TParaRecord before = w->ParaTable[3];
  SetValueText("1x");
  TypeName("New");
  Select(4);
  ASSERT_EQ(f.Dialogs->Errors.size(), 1u);
  EXPECT_EQ(f.Dialogs->Errors[0], "'1x' is not a valid integer value.");
  EXPECT_EQ(w->CurrentControl, 3) << "the selection stays";
  EXPECT_TRUE(w->ImgData[4]->isVisibleTo(w)) << "the highlight has moved already";
  EXPECT_EQ(w->ParaTable[3].Name.str(), before.Name.str());
  EXPECT_EQ(w->ParaTable[3].Value, before.Value);
}

TEST_F(Editing, TheDataTypeListFollowsTheKindAndClampsTheRecord) {
  struct Case {
    int control;
    int storedType;
    int shownType;
    int items;
    bool typeVisible;
  };
  const Case cases[] = {
      {1, 5, 4, 5, false}, {16, 6, 4, 5, false}, {17, 6, 4, 5, true},
      {18, 6, 5, 6, true}, {21, 5, 5, 6, true},  {19, 2, 2, 6, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.control);
    w->ParaTable[c.control].DataType = c.storedType;
    Select(c.control == 1 ? 2 : 1);
    Select(c.control);
    EXPECT_EQ(w->ParaTable[c.control].DataType, c.shownType);
    EXPECT_EQ(w->CmbDataType->currentIndex(), c.shownType);
    EXPECT_EQ(w->CmbDataType->count(), c.items);
    for (QWidget* x : {static_cast<QWidget*>(w->CmbDataType), static_cast<QWidget*>(w->LbType),
                       static_cast<QWidget*>(w->CmbChannel), static_cast<QWidget*>(w->LbCHANNEL)})
      EXPECT_EQ(x->isVisibleTo(w), c.typeVisible) << x->objectName().toStdString();
  }
  Select(18);
  EXPECT_EQ(TypeItems(), QStringList({"NOTE", "PC", "PITCH BEND", "AFTER TOUCH", "CC(Relative)", "CC(Absolute)"}));
  Select(17);
  EXPECT_EQ(TypeItems(), QStringList({"NOTE", "PC", "PITCH BEND", "AFTER TOUCH", "CC"}));
}

TEST_F(Editing, APadCarriesItsHiddenTypeAndChannelThroughTheHandOver) {
  w->ParaTable[7].Channel = 9;
  w->ParaTable[7].DataType = 3;
  Select(7);
  Select(8);
  EXPECT_EQ(w->ParaTable[7].Channel, 9);
  EXPECT_EQ(w->ParaTable[7].DataType, 3);
}

TEST_F(Editing, ClickingTheSelectedControlCommitsIntoItsOwnRecord) {
  SetValueText("99");
  TypeName("Mine");
  Select(17);
  EXPECT_EQ(w->ParaTable[17].Value, 99);
  EXPECT_EQ(w->ParaTable[17].Name.str(), "Mine");
  EXPECT_EQ(w->EdtNameEditor->text(), "");
}

TEST_F(Editing, GlobalListsReachTheTableOnlyThroughSave) {
  w->CmbARPMode->setCurrentIndex(3);
  w->CmbKeyChannel->setCurrentIndex(9);
  Select(1);
  Select(18);
  EXPECT_EQ(w->ParaTable.GlobalBlock()[ARPMode], 0);
  w->SaveCurrentPara();
  EXPECT_EQ(w->ParaTable.GlobalBlock()[ARPMode], 3);
  EXPECT_EQ(w->ParaTable.GlobalBlock()[KeyChannel], 9);
}

TEST_F(Editing, SaveCurrentParaWritesOnlyTheName) {
  Select(20);
  TypeName("Cutoff");
  SetValueText("64");
  w->SaveCurrentPara();
  EXPECT_EQ(w->ParaTable[20].Name.str(), "Cutoff");
  EXPECT_EQ(w->ParaTable[20].NameEditorText.str(), "") << "SaveCurrentPara leaves NameEditorText alone";
  EXPECT_EQ(w->ParaTable[20].Value, 64);
}

TEST_F(Editing, TheValueBoxTakesDigitsAndEditingKeysOnly) {
  w->EdtValue->clear();
  w->EdtValue->setFocus();
  QTest::keyClicks(w->EdtValue, "a1-b 2.c");
  EXPECT_EQ(w->EdtValue->text(), "12");
  QTest::keyClick(w->EdtValue, Qt::Key_Backspace);
  EXPECT_EQ(w->EdtValue->text(), "1");
  QTest::keyClicks(w->EdtValue, "2345");
  EXPECT_EQ(w->EdtValue->text(), "123") << "at most three characters";

  // Copy and paste keep working.
  w->EdtValue->selectAll();
  QTest::keyClick(w->EdtValue, Qt::Key_C, Qt::ControlModifier);
  w->EdtValue->clear();
  QTest::keyClick(w->EdtValue, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(w->EdtValue->text(), "123");
  // Keys that type nothing are not filtered.
  QTest::keyClick(w->EdtValue, Qt::Key_Home);
  QTest::keyClick(w->EdtValue, Qt::Key_Delete);
  EXPECT_EQ(w->EdtValue->text(), "23");

  char16_t key = u'x';
  w->EdtValueKeyPress(w->EdtValue, key);
  EXPECT_EQ(key, 0);
  key = 22;
  w->EdtValueKeyPress(w->EdtValue, key);
  EXPECT_EQ(key, 22);
}

TEST_F(Editing, ClicksOutsideAPadsClickAreaSelectNothing) {
  // Pad 1's picture is at 24, 394 (70 x 70); its click area at 33, 402 (52 x 52).
  QWidget* hit = w->childAt(26, 396);
  EXPECT_NE(hit, w->mCode[1]);
  EXPECT_EQ(w->childAt(33 + 51, 402 + 51), w->mCode[1]);
  if (hit) Click(hit, hit->mapFrom(w, QPoint(26, 396)));
  EXPECT_EQ(w->CurrentControl, 17);
}

TEST_F(Editing, SelectingAndEditingWritesAndSendsNothing) {
  f.Form.reset();
  FormFixture g;
  g.Midi->AddInput("vellox");
  const std::string out = g.Midi->AddOutput("vellox");
  TForm1& x = g.Make();
  g.Midi->ClearSent();
  const auto before = ReadBytes(g.ProfileFile());
  const auto modified = std::filesystem::last_write_time(g.ProfileFile());
  for (int n = 1; n <= 21; ++n) {
    Click(x.mCode[n]);
    x.EdtValue->setText(QString::number(n));
    x.EdtNameEditor->setText(QString("N%1").arg(n));
  }
  x.CmbScale->setCurrentIndex(2);
  const std::vector<uint8_t> identity = {0xF0, 0x7E, 0x00, 0x06, 0x01, 0xF7, 0x00, 0x00, 0x00};
  for (const auto& m : g.Midi->Sent(out)) EXPECT_EQ(m, identity) << "only the identity polling goes out";
  EXPECT_EQ(ReadBytes(g.ProfileFile()), before);
  EXPECT_EQ(std::filesystem::last_write_time(g.ProfileFile()), modified);
}

// The second press of a double-click is no second click: the click areas and
// the label-buttons act once, and a double-click on an item of an opened list
// picks it once.
TEST_F(Editing, ADoubleClickIsOneClick) {
  Show();
  for (DoubleClickPath path : {DoubleClickPath::Widget, DoubleClickPath::Window}) {
    SCOPED_TRACE(path == DoubleClickPath::Widget ? "widget events" : "window events");
    Select(1);
    w->ParaTable[3].NameEditorText.assign("Three's own");
    const TParaRecord pad3 = w->ParaTable[3];
    Select(2);
    TypeName("Snare");
    DoubleClick(w->mCode[3], path);
    EXPECT_EQ(w->CurrentControl, 3);
    EXPECT_EQ(w->ParaTable[2].Name.str(), "Snare");
    EXPECT_EQ(w->ParaTable[3].NameEditorText.str(), pad3.NameEditorText.str()) << "a second hand-over into pad 3";
    EXPECT_EQ(w->ParaTable[3].Name.str(), pad3.Name.str());
    EXPECT_EQ(w->EdtNameEditor->text(), "") << "pad 3 has a name";

    // A label-button: SAVE stores and tells so once.
    f.Dialogs->Notices.clear();
    DoubleClick(w->BtnSave, path);
    EXPECT_EQ(f.Dialogs->Notices.size(), 1u);
  }

  // Two clicks apart are two clicks; a double-click whose first press was
  // let go outside (no click) clicks with its second press.
  int clicks = 0;
  QObject::connect(w->mCode[5], &TImage::clicked, [&] { ++clicks; });
  Click(w->mCode[5]);
  Click(w->mCode[5]);
  EXPECT_EQ(clicks, 2);
  const QPoint inside = w->mCode[5]->rect().center(), outside(-5, -5);
  QTest::mousePress(w->mCode[5], Qt::LeftButton, Qt::NoModifier, inside);
  QTest::mouseRelease(w->mCode[5], Qt::LeftButton, Qt::NoModifier, outside);
  QTest::mouseDClick(w->mCode[5], Qt::LeftButton, Qt::NoModifier, inside);
  QTest::mouseRelease(w->mCode[5], Qt::LeftButton, Qt::NoModifier, inside);
  EXPECT_EQ(clicks, 3);

  // The monitor's list: open it, double-click "HEX"; its handler runs once.
  int picked = 0;
  QObject::connect(w->CmbDataDis, &QComboBox::activated, [&] { ++picked; });
  Click(w->CmbDataDis);
  QAbstractItemView* view = w->CmbDataDis->view();
  ASSERT_TRUE(PumpUntil([&] { return view->isVisible(); }, 2000));
  DoubleClick(view->viewport(), DoubleClickPath::Window, view->visualRect(view->model()->index(1, 0)).center());
  Pump(50);
  EXPECT_EQ(picked, 1);
  EXPECT_EQ(w->CmbDataDis->currentText(), "HEX");
  EXPECT_FALSE(view->isVisible());
}

// Tab and Shift+Tab leave the value box and Escape goes on to the window;
// what the box filters stays out.
TEST_F(Editing, TabLeavesTheValueBoxAndLettersStayOut) {
  Show();
  int escapes = 0;
  struct EscapeCounter : QObject {
    int& count;
    explicit EscapeCounter(int& c) : count(c) {}
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(e)->key() == Qt::Key_Escape) ++count;
      return false;
    }
  } counter(escapes);
  w->installEventFilter(&counter);

  w->EdtValue->setText("64");
  w->EdtValue->setFocus();
  ASSERT_EQ(w->focusWidget(), w->EdtValue);
  QTest::keyClicks(w->EdtValue, "x ");
  QTest::keyClick(w->EdtValue, Qt::Key_Escape);
  EXPECT_EQ(escapes, 1) << "Escape reaches the window";
  EXPECT_EQ(w->focusWidget(), w->EdtValue);

  QTest::keyClick(w->EdtValue, Qt::Key_Tab);
  EXPECT_EQ(w->focusWidget(), w->CmbChannel) << "the next control after the value box";
  w->EdtValue->setFocus();
  QTest::keyClick(w->EdtValue, Qt::Key_Backtab, Qt::ShiftModifier);
  EXPECT_EQ(w->focusWidget(), w->EdtNameEditor);
  EXPECT_EQ(w->EdtValue->text(), "64");

  w->EdtValue->setFocus();
  QTest::keyClicks(w->EdtValue, "q-1");
  EXPECT_EQ(w->EdtValue->text(), "641");
  w->removeEventFilter(&counter);
}

// A name with markup or an ampersand is shown as typed.
TEST_F(Editing, NamesAreShownLiterally) {
  for (const QString& name : {QString("<b>Kick</b>"), QString("R&B <i>hat")}) {
    SCOPED_TRACE(name.toStdString());
    Select(4);
    TypeName(name);
    Select(5);
    Select(4);
    EXPECT_EQ(w->ParaTable[4].Name.str(), name.toStdString());
    ExpectShownLiterally(w->BtnParaName, name);
  }
}
