// The main window as it stands after start-up: every control at its place
// with its look and first contents, the pictures, the click areas and what a
// click reaches, the port lists beyond the client width, the timers.
#include <QAbstractItemView>
#include <QApplication>
#include <QFile>
#include <QFontInfo>
#include <QFontMetrics>
#include <QProgressBar>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <vector>

#include "app/Unit1.h"
#include "support/FormFixture.h"

namespace {

const QColor Back(0x23, 0x19, 0x16), Ink(0x21, 0x27, 0x21), Silver(0xC0, 0xC0, 0xC0), Panel(0x3F, 0x3A, 0x39),
    BankA(0x5B, 0xF0, 0xE1), BankB(0xF3, 0x72, 0xED), Red(0xFF, 0, 0), Green(0, 0xFF, 0), White(0xFF, 0xFF, 0xFF),
    Black(0, 0, 0);
const QColor NoFill;  // transparent

// Stand-in family for both the Arial and the bitmap sans serif texts.
const char* const Family = "Liberation Sans";

constexpr Qt::Alignment TopLeft = Qt::AlignLeft | Qt::AlignTop;
constexpr Qt::Alignment ButtonTop = Qt::AlignHCenter | Qt::AlignTop;
constexpr Qt::Alignment ButtonMid = Qt::AlignHCenter | Qt::AlignVCenter;
constexpr Qt::Alignment Centre = Qt::AlignCenter;

class LayoutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    form = &fx.Make();
    ASSERT_TRUE(fx.Dialogs->Errors.empty()) << fx.Dialogs->Errors.front().toStdString();
    shot = form->grab().toImage();
  }
  template <class W>
  W* Find(const char* name) const {
    return form->findChild<W*>(QString::fromLatin1(name), Qt::FindDirectChildrenOnly);
  }
  QColor PixelAt(QPoint p) const { return shot.pixelColor(p); }

  FormFixture fx;
  TForm1* form = nullptr;
  QImage shot;  // the window as drawn after start-up
};

void ExpectFont(const QFont& f, int pixels) {
  EXPECT_EQ(f.family(), Family);
  EXPECT_EQ(QFontInfo(f).family(), Family) << "font not installed";
  EXPECT_EQ(f.pixelSize(), pixels);
  EXPECT_TRUE(f.bold());
}

// ---------------------------------------------------------------- labels

struct LabelCase {
  const char* name;
  QRect box;            // width 0: sized to its text, only the corner is fixed
  const char* text;     // nullptr: start-up writes it
  int pixels;           // 0: the window's default font
  QColor color;
  QColor fill;
  Qt::Alignment align;
  bool hand;
  bool hidden;
};

const LabelCase Labels[] = {
    {"Label6", {320, 16, 537, 65}, "vellox MIDI Editor", 48, White, NoFill, TopLeft, false, false},
    {"LbVersions", {880, 17, 137, 27}, "", 24, Green, NoFill, TopLeft, false, false},
    {"LbConnect", {880, 41, 193, 27}, "Disconnect", 24, Red, NoFill, TopLeft, false, false},
    {"LbProFile", {16, 83, 473, 38}, "PROFILE", 32, Ink, Silver, Centre, false, false},
    {"BtnNEW", {14, 144, 218, 32}, "NEW", 29, Silver, Ink, ButtonTop, true, false},
    {"BtnOpen", {270, 143, 218, 32}, "OPEN", 29, Silver, Ink, ButtonTop, true, false},
    {"BtnReset", {14, 193, 103, 32}, "RESET", 24, Silver, Ink, ButtonMid, true, false},
    {"BtnExport", {130, 193, 103, 32}, "EXPORT", 24, Silver, Ink, ButtonMid, true, false},
    {"BtnSave", {270, 193, 218, 32}, "SAVE", 29, Silver, Ink, ButtonTop, true, false},
    {"BtnSyncPc", {14, 244, 218, 32}, "SYNC TO PC", 29, Silver, Ink, ButtonTop, true, false},
    {"BtnSyncFw", {270, 247, 218, 32}, "SYNC TO FW", 29, Silver, Ink, ButtonTop, true, false},
    {"LbBar1", {0, 312, 1073, 3}, "", 0, Silver, Silver, TopLeft, false, false},
    {"LbBar2", {520, 83, 3, 230}, "", 0, Silver, Silver, TopLeft, false, false},
    {"Label1", {552, 83, 505, 38}, "GLOBAL", 32, Ink, Silver, Centre, false, false},
    {"Label2", {680, 144, 0, 0}, "ARP MODE", 19, Silver, NoFill, TopLeft, false, false},
    {"Label9", {928, 144, 0, 0}, "ARP TIME", 19, Silver, NoFill, TopLeft, false, false},
    {"Label11", {928, 184, 0, 0}, "ARP OCTAVE", 19, Silver, NoFill, TopLeft, false, false},
    {"Label10", {680, 184, 0, 0}, "SCALE", 19, Silver, NoFill, TopLeft, false, false},
    {"Label5", {680, 224, 0, 0}, "VELOCITY", 19, Silver, NoFill, TopLeft, false, false},
    {"Label3", {928, 224, 0, 0}, "PAD MODE", 19, Silver, NoFill, TopLeft, false, false},
    {"Label7", {680, 264, 0, 0}, "BEAT TYPE", 19, Silver, NoFill, TopLeft, false, false},
    {"Label4", {928, 265, 0, 0}, "KEY CHANNEL", 19, Silver, NoFill, TopLeft, false, false},
    {"Label14", {600, 416, 25, 33}, "A", 24, BankA, NoFill, TopLeft, false, false},
    {"Label16", {600, 496, 25, 33}, "B", 24, BankB, NoFill, TopLeft, false, false},
    {"LbPARAMETER", {640, 331, 417, 35}, "PARAMETER", 29, Ink, Silver, Centre, false, false},
    {"BtnParaName", {640, 381, 201, 27}, nullptr, 24, Ink, Silver, Centre, false, false},
    {"LbVALUE", {688, 422, 73, 27}, "VALUE", 19, Silver, NoFill, TopLeft, false, false},
    {"LbCHANNEL", {976, 425, 105, 27}, "CHANNEL", 19, Silver, NoFill, TopLeft, false, false},
    {"LbType", {821, 465, 60, 27}, "TYPE", 19, Silver, NoFill, TopLeft, false, false},
    {"Label13", {645, 513, 76, 24}, "STATUS:", 16, Silver, NoFill, TopLeft, false, false},
    {"LbStatus", {717, 513, 30, 20}, "", 16, Black, Silver, Centre, false, false},
    {"Label15", {765, 513, 60, 24}, "DATA1:", 16, Silver, NoFill, TopLeft, false, false},
    {"LbData1", {824, 513, 30, 20}, "", 16, Black, Silver, Centre, false, false},
    {"Label17", {877, 513, 60, 24}, "DATA2:", 16, Silver, NoFill, TopLeft, false, false},
    {"LbData2", {935, 513, 30, 20}, "", 16, Black, Silver, Centre, false, false},
    {"LbInputD", {1110, 192, 0, 0}, "Input Device:", 13, Silver, NoFill, TopLeft, false, false},
    {"LbOutputD", {1110, 296, 0, 0}, "Output Device:", 13, Silver, NoFill, TopLeft, false, false},
    {"LbUSBNum", {672, 288, 81, 25}, nullptr, 16, Red, NoFill, TopLeft, false, true},
    {"Label12", {800, 633, 89, 27}, "BUTTON", 19, Silver, NoFill, TopLeft, false, true},
    {"LbENABLE", {960, 633, 81, 27}, "ENABLE", 19, Silver, NoFill, TopLeft, false, true},
    {"Label31", {911, 637, 43, 27}, "", 0, Silver, NoFill, TopLeft, false, true},
};

TEST_F(LayoutTest, LabelsStandAtTheirPlacesWithTheirLook) {
  for (const LabelCase& c : Labels) {
    SCOPED_TRACE(c.name);
    auto* l = Find<TLabel>(c.name);
    ASSERT_NE(l, nullptr);
    if (c.text) {
      EXPECT_EQ(l->text(), QString::fromLatin1(c.text));
    }
    const QFontMetrics fm(l->font());
    if (c.box.width() > 0) {
      EXPECT_EQ(l->geometry(), c.box);
      if (c.text) {
        EXPECT_LE(fm.horizontalAdvance(l->text()), c.box.width()) << "text cut off";
      }
    } else {
      EXPECT_EQ(l->pos(), c.box.topLeft());
      EXPECT_GE(l->width(), fm.horizontalAdvance(l->text()));
      EXPECT_GE(l->height(), fm.height());
    }
    if (c.pixels) ExpectFont(l->font(), c.pixels);
    EXPECT_EQ(l->FontColor(), c.color);
    EXPECT_EQ(l->alignment(), c.align);
    EXPECT_EQ(l->cursor().shape(), c.hand ? Qt::PointingHandCursor : Qt::ArrowCursor);
    EXPECT_EQ(l->isHidden(), c.hidden);
    if (c.fill.isValid()) {
      EXPECT_FALSE(l->IsTransparent());
      EXPECT_EQ(l->Fill(), c.fill);
      EXPECT_EQ(PixelAt(c.box.topLeft() + QPoint(1, 1)), c.fill) << "fill as drawn";
    } else {
      EXPECT_TRUE(l->IsTransparent());
    }
  }
}

// ---------------------------------------------------------------- shapes

struct ShapeCase {
  const char* name;
  QRect box;
  TShape::Kind kind;
  QColor fill, pen;
  int penWidth;
  QPoint fillAt;  // a point of the fill not covered by other controls, in the shape
};

const ShapeCase Shapes[] = {
    {"ShNEW", {13, 143, 220, 35}, TShape::Rectangle, Ink, Silver, 1, {110, 33}},
    {"ShPOEN", {269, 142, 220, 35}, TShape::Rectangle, Ink, Silver, 1, {110, 33}},
    {"ShRESET", {13, 192, 105, 35}, TShape::Rectangle, Ink, Silver, 1, {50, 33}},
    {"ShEXPORT", {128, 192, 106, 35}, TShape::Rectangle, Ink, Silver, 1, {50, 33}},
    {"ShSAVE", {269, 192, 220, 35}, TShape::Rectangle, Ink, Silver, 1, {110, 33}},
    {"ShSyncPC", {13, 243, 220, 35}, TShape::Rectangle, Ink, Silver, 1, {110, 33}},
    {"ShSyncFW", {269, 243, 220, 35}, TShape::Rectangle, Ink, Silver, 1, {110, 2}},
    {"Shape1", {19, 391, 606, 76}, TShape::RoundRect, Back, BankA, 3, {4, 38}},
    {"Shape2", {19, 471, 606, 76}, TShape::RoundRect, Back, BankB, 3, {4, 38}},
    {"ShDisplay", {640, 503, 417, 38}, TShape::RoundRect, Panel, Silver, 3, {412, 19}},
};

TEST_F(LayoutTest, ShapesDrawFramesOutlinesAndThePanel) {
  for (const ShapeCase& c : Shapes) {
    SCOPED_TRACE(c.name);
    auto* s = Find<TShape>(c.name);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->geometry(), c.box);
    EXPECT_EQ(s->ShapeKind(), c.kind);
    EXPECT_EQ(s->Fill(), c.fill);
    EXPECT_EQ(s->Pen(), c.pen);
    EXPECT_EQ(s->PenWidth(), c.penWidth);
    EXPECT_FALSE(s->isHidden());
    // As drawn: the middle of the top edge is outline, the chosen point fill.
    EXPECT_EQ(PixelAt(c.box.topLeft() + QPoint(c.box.width() / 2, c.penWidth / 2)), c.pen);
    EXPECT_EQ(PixelAt(c.box.topLeft() + c.fillAt), c.fill);
  }
  // Each label-button lies above its frame.
  const std::pair<const char*, const char*> framed[] = {
      {"BtnNEW", "ShNEW"},   {"BtnOpen", "ShPOEN"},      {"BtnReset", "ShRESET"},   {"BtnExport", "ShEXPORT"},
      {"BtnSave", "ShSAVE"}, {"BtnSyncPc", "ShSyncPC"}, {"BtnSyncFw", "ShSyncFW"},
  };
  const QObjectList& z = form->children();
  for (auto [button, frame] : framed) {
    SCOPED_TRACE(button);
    EXPECT_GT(z.indexOf(Find<TLabel>(button)), z.indexOf(Find<TShape>(frame)));
  }
}

// ---------------------------------------------------------------- lists

struct ComboCase {
  const char* name;
  QRect box;
  std::vector<const char*> items;  // empty: "0" to "15"
  int index;                       // -2: start-up sets it from the profile
  int pixels;
  bool hidden;
};

const ComboCase Combos[] = {
    {"CmbARPMode", {551, 141, 122, 29}, {"UP", "DOWN", "RANDOM", "CHRN"}, 0, 21, false},
    {"CmbARPTime", {831, 141, 90, 29}, {"1", "1/2", "1/4", "1/8", "1/16", "1/32"}, 2, 21, false},
    {"CmbARPOctave", {831, 181, 90, 29}, {"0", "1", "2", "3", "4"}, 1, 21, false},
    {"CmbScale", {551, 181, 122, 29}, {"NORM", "MAJOR", "MINOR", "PENTA", "BLUES", "HINDU"}, 0, 21, false},
    {"CmbVelocity", {551, 221, 122, 29}, {"VEL", "NORM", "HEAVY", "SOFT"}, 1, 21, false},
    {"CmbPadMode", {831, 221, 90, 29}, {"PAD", "NOTE", "CC", "PC"}, 0, 21, false},
    {"CmbBeat", {551, 261, 122, 29}, {"1 beat", "2 beat", "3 beat", "4 beat", "5 beat", "6 beat"}, 3, 21, false},
    {"CmbKeyChannel", {831, 261, 90, 29}, {}, 0, 21, false},
    {"CmbChannel", {879, 421, 90, 26}, {}, -2, 21, false},
    {"CmbDataType", {639, 461, 178, 27}, {"NOTE", "PC", "PITCH BEND", "AFTER TOUCH", "CC"}, -2, 21, false},
    {"CmbDataDis", {983, 513, 66, 20}, {"DEC", "HEX"}, 0, 16, false},
    {"CmbControlMode", {655, 629, 138, 29}, {"Toggle", "Momentary"}, -2, 21, true},
};

TEST_F(LayoutTest, DropDownListsArePickOnlyWithTheirItems) {
  for (const ComboCase& c : Combos) {
    SCOPED_TRACE(c.name);
    auto* cmb = Find<TComboBox>(c.name);
    ASSERT_NE(cmb, nullptr);
    EXPECT_EQ(cmb->geometry(), c.box);
    QStringList want;
    for (const char* item : c.items) want << QString::fromLatin1(item);
    if (c.items.empty())
      for (int i = 0; i < 16; ++i) want << QString::number(i);
    QStringList have;
    for (int i = 0; i < cmb->count(); ++i) have << cmb->itemText(i);
    EXPECT_EQ(have, want);
    if (c.index != -2) {
      EXPECT_EQ(cmb->ItemIndex(), c.index);
    }
    EXPECT_FALSE(cmb->isEditable());
    ExpectFont(cmb->font(), c.pixels);
    EXPECT_EQ(cmb->palette().color(QPalette::Button), Silver);
    EXPECT_EQ(cmb->palette().color(QPalette::ButtonText), Ink);
    EXPECT_EQ(cmb->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(cmb->maxVisibleItems(), 8);
    EXPECT_EQ(cmb->RowHeight(), 20);
    EXPECT_EQ(cmb->isHidden(), c.hidden);
    if (!c.hidden) {
      EXPECT_EQ(PixelAt(c.box.topLeft() + QPoint(1, 1)), Silver) << "face as drawn";
    }
  }
}

TEST_F(LayoutTest, GlobalListsFollowTheGlobalBlock) {
  const auto combos = form->GlobalCombos();
  for (int i = 0; i < 8; ++i) {
    const vlx::GlobalList& g = vlx::GlobalLists[i];
    SCOPED_TRACE(g.Name);
    ASSERT_NE(combos[i], nullptr);
    EXPECT_EQ(combos[i]->objectName(), QString::fromLatin1(g.Name));
    ASSERT_EQ(combos[i]->count(), g.Count);
    for (int k = 0; k < g.Count; ++k)
      EXPECT_EQ(combos[i]->itemText(k).toStdString(), std::string(g.Items[k]));
    EXPECT_EQ(combos[i]->ItemIndex(), g.FactoryIndex);
  }
}

TEST_F(LayoutTest, OpenedListShowsEightRowsOfTwentyPixelsThenScrolls) {
  auto* cmb = Find<TComboBox>("CmbKeyChannel");  // 16 items
  form->show();
  cmb->showPopup();
  QAbstractItemView* view = cmb->view();
  ASSERT_TRUE(view->isVisible());
  EXPECT_EQ(view->visualRect(cmb->model()->index(0, 0)).height(), 20);
  EXPECT_EQ(view->viewport()->height() / 20, 8);
  EXPECT_GT(view->verticalScrollBar()->maximum(), 0);
  cmb->hidePopup();
}

// ---------------------------------------------------------------- edit boxes, bars

TEST_F(LayoutTest, EditBoxesAndProgressBars) {
  struct EditCase {
    const char* name;
    QRect box;
  };
  for (const EditCase& c : {EditCase{"EdtNameEditor", {880, 381, 177, 27}}, EditCase{"EdtValue", {640, 419, 43, 26}}}) {
    SCOPED_TRACE(c.name);
    auto* e = Find<QLineEdit>(c.name);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->geometry(), c.box);
    ExpectFont(e->font(), 19);
    EXPECT_EQ(e->palette().color(QPalette::Base), Silver);
    EXPECT_EQ(e->palette().color(QPalette::Text), Ink);
    EXPECT_EQ(PixelAt(c.box.topLeft() + QPoint(1, 1)), Silver);
    EXPECT_FALSE(e->isHidden());
  }
  // Three digits fit the value box.
  auto* value = Find<QLineEdit>("EdtValue");
  EXPECT_LE(QFontMetrics(value->font()).horizontalAdvance(QStringLiteral("127")), value->width() - 4);

  for (auto [name, box] : {std::pair{"ProBarToPC", QRect(13, 277, 220, 16)}, std::pair{"ProBarToFW", QRect(269, 277, 220, 16)}}) {
    SCOPED_TRACE(name);
    auto* bar = Find<QProgressBar>(name);
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->geometry(), box);
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), 100);
    EXPECT_EQ(bar->value(), 0);
    EXPECT_FALSE(bar->isHidden());
    // Continuous: at half, the left half is one unbroken silver run.
    bar->setValue(50);
    const QImage img = bar->grab().toImage();
    const int y = box.height() / 2;
    for (int x = 2; x < box.width() / 2 - 2; ++x) ASSERT_EQ(img.pixelColor(x, y), Silver) << "x " << x;
    EXPECT_NE(img.pixelColor(box.width() - 4, y), Silver);
  }
}

// The bars draw what a style sheet of a background, a one-pixel frame and a
// chunk draws, at every value, without a style sheet's cost at start-up.
TEST_F(LayoutTest, ProgressBarsDrawAsTheirStyleSheet) {
  QProgressBar sheet;
  sheet.setTextVisible(false);
  sheet.setRange(0, 100);
  sheet.setStyleSheet(QStringLiteral("QProgressBar { background-color: #212721; border: 1px solid #C0C0C0; }"
                                     "QProgressBar::chunk { background-color: #C0C0C0; }"));
  auto* bar = Find<QProgressBar>("ProBarToFW");
  ASSERT_NE(bar, nullptr);
  sheet.resize(bar->size());
  for (int v = 0; v <= 100; ++v) {
    bar->setValue(v);
    sheet.setValue(v);
    ASSERT_EQ(bar->grab().toImage().convertToFormat(QImage::Format_RGB32),
              sheet.grab().toImage().convertToFormat(QImage::Format_RGB32))
        << "value " << v;
  }
  bar->setValue(0);
}

TEST_F(LayoutTest, TheValueBoxNeverHoldsMoreThanThreeCharacters) {
  auto* value = Find<QLineEdit>("EdtValue");
  value->clear();
  QTest::keyClicks(value, QStringLiteral("12345"));
  EXPECT_LE(value->text().size(), 3);
  value->selectAll();
  value->insert(QStringLiteral("98765"));
  EXPECT_LE(value->text().size(), 3);
  value->setText(QStringLiteral("4444"));
  EXPECT_LE(value->text().size(), 3);
}

// ---------------------------------------------------------------- the controller picture

struct ControlBoxes {
  QRect picture, area;
  QSize normal, highlight;  // pixel sizes of the artwork
};

ControlBoxes BoxesOf(int n) {
  if (n <= 8) return {{24 + 72 * (n - 1), 394, 70, 70}, {33 + 72 * (n - 1), 402, 52, 52}, {70, 70}, {70, 70}};
  if (n <= 16) return {{24 + 72 * (n - 9), 474, 70, 70}, {33 + 72 * (n - 9), 482, 52, 52}, {70, 70}, {70, 70}};
  if (n == 17) return {{32, 330, 129, 47}, {33, 330, 128, 47}, {180, 60}, {110, 40}};
  return {{200 + 112 * (n - 18), 322, 75, 65}, {203 + 112 * (n - 18), 325, 70, 62}, {70, 60}, {70, 60}};
}

// Bits per pixel of a BMP file in the resources, or nothing when it is not one.
std::optional<int> BmpBitsPerPixel(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return std::nullopt;
  const QByteArray head = f.read(30);
  if (head.size() < 30 || !head.startsWith("BM")) return std::nullopt;
  return static_cast<uint8_t>(head[28]) | static_cast<uint8_t>(head[29]) << 8;
}

// Pixels of the drawing's line colours (lines are smoothed, so near enough).
bool Whitish(const QColor& c) { return c.red() > 200 && c.green() > 200 && c.blue() > 200; }
bool Reddish(const QColor& c) { return c.red() > 150 && c.green() < 60 && c.blue() < 60; }
int Count(const QImage& img, QRect box, bool (*is)(const QColor&)) {
  int count = 0;
  for (int y = box.top(); y <= box.bottom(); ++y)
    for (int x = box.left(); x <= box.right(); ++x) count += is(img.pixelColor(x, y));
  return count;
}

TEST_F(LayoutTest, EachControlHasItsPicturesAndClickAreaStackedInOrder) {
  const QObjectList& z = form->children();
  for (int n = 1; n <= 21; ++n) {
    SCOPED_TRACE(n);
    const ControlBoxes b = BoxesOf(n);
    auto* normal = form->findChild<TImage*>(QStringLiteral("ImgbData%1").arg(n));
    auto* highlight = form->findChild<TImage*>(QStringLiteral("ImgData%1").arg(n));
    auto* area = form->findChild<TImage*>(QStringLiteral("mCode%1").arg(n));
    ASSERT_TRUE(normal && highlight && area);
    EXPECT_EQ(normal, form->ImgbData[n]);
    EXPECT_EQ(highlight, form->ImgData[n]);
    EXPECT_EQ(area, form->mCode[n]);

    EXPECT_EQ(normal->geometry(), b.picture);
    EXPECT_EQ(highlight->geometry(), b.picture);
    EXPECT_EQ(area->geometry(), b.area);
    EXPECT_EQ(area->Tag(), n);
    EXPECT_EQ(area->property("Tag").toInt(), n);
    EXPECT_EQ(area->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_TRUE(area->pixmap().isNull()) << "a click area draws nothing";
    EXPECT_LT(z.indexOf(normal), z.indexOf(highlight));
    EXPECT_LT(z.indexOf(highlight), z.indexOf(area));

    EXPECT_TRUE(normal->hasScaledContents());
    EXPECT_EQ(normal->pixmap().size(), b.normal);
    // A highlight hidden at start-up is decoded when first shown.
    if (n != 17) {
      EXPECT_TRUE(highlight->pixmap().isNull()) << "decoded before it was needed";
      highlight->show();
    }
    EXPECT_EQ(highlight->pixmap().size(), b.highlight);
    if (n != 17) highlight->hide();
    EXPECT_EQ(BmpBitsPerPixel(QStringLiteral(":/vellox/ImgbData%1.bmp").arg(n)), 24);
    EXPECT_EQ(BmpBitsPerPixel(QStringLiteral(":/vellox/ImgData%1.bmp").arg(n)), 24);

    // At start only the slider's highlight shows.
    EXPECT_EQ(highlight->isHidden(), n != 17);
    EXPECT_FALSE(normal->isHidden());
    EXPECT_FALSE(area->isHidden());
    // As drawn: white lines for a normal picture, red for the shown highlight.
    if (n == 17) {
      EXPECT_GT(Count(shot, b.picture, Reddish), 50);
      EXPECT_EQ(Count(shot, b.picture, Whitish), 0);
    } else {
      EXPECT_GT(Count(shot, b.picture, Whitish), 50);
      EXPECT_EQ(Count(shot, b.picture, Reddish), 0);
    }
  }
  EXPECT_EQ(BmpBitsPerPixel(QStringLiteral(":/vellox/logo.bmp")), 24);
  auto* logo = Find<TImage>("OrvantaLogo");
  ASSERT_NE(logo, nullptr);
  EXPECT_EQ(logo->geometry(), QRect(64, 16, 241, 49));
  EXPECT_EQ(logo->pixmap().size(), QSize(530, 101));
  EXPECT_TRUE(logo->hasScaledContents());
}

TEST_F(LayoutTest, AClickReachesAPadOnlyInsideItsClickArea) {
  form->show();
  for (int n : {1, 8, 9, 16}) {
    SCOPED_TRACE(n);
    const QRect area = BoxesOf(n).area;
    QSignalSpy spy(form->mCode[n], &TImage::clicked);
    // Corners inside the area and just outside it, on the pad's picture.
    for (QPoint p : {area.topLeft(), area.bottomRight(), area.center()}) {
      QWidget* hit = form->childAt(p);
      EXPECT_EQ(hit, form->mCode[n]) << p.x() << "," << p.y();
      if (hit) QTest::mouseClick(hit, Qt::LeftButton, {}, hit->mapFrom(form, p));
    }
    EXPECT_EQ(spy.count(), 3);
    for (QPoint p : {area.topLeft() - QPoint(1, 1), area.bottomRight() + QPoint(1, 1)}) {
      QWidget* hit = form->childAt(p);
      ASSERT_NE(hit, nullptr);
      EXPECT_NE(hit, form->mCode[n]) << p.x() << "," << p.y();
      EXPECT_TRUE(hit == form->ImgbData[n] || hit == form->ImgData[n]);
      QTest::mouseClick(hit, Qt::LeftButton, {}, hit->mapFrom(form, p));
    }
    EXPECT_EQ(spy.count(), 3);
  }
  // A press inside that is released outside is no click, nor is the right button.
  QSignalSpy spy(form->mCode[1], &TImage::clicked);
  QTest::mousePress(form->mCode[1], Qt::LeftButton, {}, QPoint(10, 10));
  QTest::mouseRelease(form->mCode[1], Qt::LeftButton, {}, QPoint(-5, 10));
  QTest::mouseClick(form->mCode[1], Qt::RightButton, {}, QPoint(10, 10));
  EXPECT_EQ(spy.count(), 0);
}

// ---------------------------------------------------------------- window, ports, hidden, timers

TEST_F(LayoutTest, WindowIsAFixedTranslucentLayoutWithThePortListsBeyondItsWidth) {
  EXPECT_EQ(form->windowTitle(), QStringLiteral("vellox MIDI Editor V0.3"));
  EXPECT_EQ(form->size(), QSize(1070, 562));
  EXPECT_NEAR(form->windowOpacity(), 240.0 / 255.0, 0.002);
  EXPECT_FALSE(form->windowIcon().isNull());
  EXPECT_EQ(form->font().family(), Family);  // the window's default font
  EXPECT_EQ(form->font().pixelSize(), 11);
  EXPECT_FALSE(form->font().bold());
  EXPECT_TRUE(form->autoFillBackground());
  EXPECT_EQ(form->palette().color(QPalette::Window), Back);
  EXPECT_EQ(PixelAt({5, 75}), Back);
  EXPECT_TRUE(form->findChildren<QScrollArea*>().isEmpty());

  struct PortList {
    const char* name;
    QRect box;
  };
  for (const PortList& c : {PortList{"lbxInputDevices", {1111, 208, 256, 81}},
                            PortList{"lbxOutputDevices", {1112, 312, 255, 89}}}) {
    SCOPED_TRACE(c.name);
    auto* list = Find<TCheckListBox>(c.name);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->geometry(), c.box);
    EXPECT_FALSE(list->isHidden());
    EXPECT_FALSE(form->rect().intersects(list->geometry())) << "outside the client area";
    list->AddItem(QStringLiteral("vellox"));
    EXPECT_EQ(list->visualItemRect(list->item(list->count() - 1)).height(), 13);
  }

  // Narrowing cuts the layout off and moves nothing; widening shows the lists.
  const QRect saveBox = Find<TLabel>("BtnSave")->geometry();
  form->show();
  form->resize(400, 300);
  QApplication::processEvents();
  EXPECT_EQ(Find<TLabel>("BtnSave")->geometry(), saveBox);
  form->resize(1400, 562);
  QApplication::processEvents();
  for (const char* name : {"lbxInputDevices", "lbxOutputDevices", "LbInputD", "LbOutputD"}) {
    SCOPED_TRACE(name);
    QWidget* w = form->findChild<QWidget*>(QString::fromLatin1(name));
    EXPECT_TRUE(form->rect().contains(w->geometry()));
    EXPECT_TRUE(w->isVisible());
  }
}

TEST_F(LayoutTest, HiddenControlsAndTimers) {
  auto* enable = Find<QCheckBox>("CbEnable");
  ASSERT_NE(enable, nullptr);
  EXPECT_EQ(enable->geometry(), QRect(926, 638, 19, 25));
  EXPECT_EQ(enable->text(), QStringLiteral("ENABLE"));
  EXPECT_TRUE(enable->isHidden());
  auto* save = Find<QPushButton>("BtselfSave");
  ASSERT_NE(save, nullptr);
  EXPECT_EQ(save->geometry(), QRect(496, 192, 41, 25));
  EXPECT_EQ(save->text(), QStringLiteral("Save"));
  EXPECT_TRUE(save->isHidden());
  // Everything hidden but the Save button lies below the client height.
  for (const char* name : {"CmbControlMode", "CbEnable", "Label12", "LbENABLE", "Label31"})
    EXPECT_GE(form->findChild<QWidget*>(QString::fromLatin1(name))->y(), 562) << name;

  struct TimerCase {
    const char* name;
    int interval;
    bool fromCreation;
  };
  for (const TimerCase& c : {TimerCase{"Timer3", 300, false}, TimerCase{"TimerSyncPC", 100, false},
                             TimerCase{"TimerSyncFW", 100, false}, TimerCase{"TimerCheckUSB", 1000, true}}) {
    SCOPED_TRACE(c.name);
    auto* t = form->findChild<QTimer*>(QString::fromLatin1(c.name));
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->interval(), c.interval);
    EXPECT_FALSE(t->isSingleShot());
    EXPECT_EQ(t->property("enabledAtCreation").toBool(), c.fromCreation);
  }
}

// ---------------------------------------------------------------- first paint

// The window's first picture, pixel for pixel: the reference was drawn by
// vlx_screenshot before start-up was made cheaper. Pictures decoded late and
// the MIDI start-up after the first paint change nothing on screen. (A change
// of the look on purpose redraws it: vlx_screenshot tests/gui/data/first_paint.png.)
TEST(FirstPaint, IsPixelForPixelTheReference) {
  const QImage reference = QImage(QStringLiteral(VLX_TEST_DATA "/first_paint.png")).convertToFormat(QImage::Format_RGB32);
  ASSERT_FALSE(reference.isNull());
  for (bool deferred : {false, true}) {
    SCOPED_TRACE(deferred ? "MIDI after the first paint" : "MIDI within FormCreate");
    FormFixture fx;
    fx.StartMidiAfterFirstPaint = deferred;
    TForm1& w = fx.Make();
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    const QImage shot = w.grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shot.size(), reference.size());
    int differing = 0;
    QPoint first(-1, -1);
    for (int y = 0; y < shot.height(); ++y)
      for (int x = 0; x < shot.width(); ++x)
        if (shot.pixel(x, y) != reference.pixel(x, y) && differing++ == 0) first = {x, y};
    EXPECT_EQ(differing, 0) << "first at " << first.x() << "," << first.y();
  }
}

}  // namespace
