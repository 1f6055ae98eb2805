// The window's layout: every control at its fixed place, with its name, look
// and initial content. Positions are pixels from the top-left corner of the
// client area; nothing moves when the window is resized.
//
// Fonts: Arial is replaced by the metric-compatible Liberation Sans; the old
// bitmap sans serif by Liberation Sans as well (bold where it is bold), which
// keeps three digits inside the 43-pixel value box. Sizes are character
// heights in pixels, which is what QFont::setPixelSize sets (the em height).
#include <QApplication>
#include <QFont>
#include <QIcon>
#include <QPixmap>
#include <QString>
#include <initializer_list>

#include "app/Unit1.h"
#include "profile/Fields.h"

static void InitAssets() { Q_INIT_RESOURCE(assets); }

namespace {

// The palette of the window: every colour it shows is one of these.
const QColor Back(0x23, 0x19, 0x16);     // window background, bank fills
const QColor Ink(0x21, 0x27, 0x21);      // dark ink
const QColor Silver(0xC0, 0xC0, 0xC0);   // silver
const QColor Panel(0x3F, 0x3A, 0x39);    // status display panel
const QColor BankA(0x5B, 0xF0, 0xE1);
const QColor BankB(0xF3, 0x72, 0xED);
const QColor Red(0xFF, 0x00, 0x00);
const QColor Green(0x00, 0xFF, 0x00);
const QColor White(0xFF, 0xFF, 0xFF);
const QColor Black(0x00, 0x00, 0x00);

const char* const ArialFamily = "Liberation Sans";
const char* const SansFamily = "Liberation Sans";  // stands in for the bitmap sans serif

QFont MakeFont(const char* family, int pixels, bool bold) {
  QFont f(QString::fromLatin1(family));
  f.setPixelSize(pixels);
  f.setBold(bold);
  f.setStyleHint(QFont::SansSerif);
  return f;
}
QFont Arial(int pixels) { return MakeFont(ArialFamily, pixels, true); }
QFont Sans(int pixels) { return MakeFont(SansFamily, pixels, true); }

template <class W>
W* Make(QWidget* form, const char* name, int left, int top, int width, int height) {
  auto* w = new W(form);
  w->setObjectName(QString::fromLatin1(name));
  w->setGeometry(left, top, width, height);
  return w;
}

// A label with text colour, font and placement; fill only when given.
TLabel* Label(QWidget* form, const char* name, const QString& text, QRect box, const QFont& font,
              const QColor& color, Qt::Alignment align, const QColor* fill = nullptr) {
  auto* l = new TLabel(form);
  l->setObjectName(QString::fromLatin1(name));
  l->setText(text);
  l->setFont(font);
  l->SetFontColor(color);
  l->setAlignment(align);
  if (fill) l->SetFill(*fill); else l->SetTransparent();
  if (box.width() > 0) {
    l->setGeometry(box);
  } else {  // sized to its text
    l->move(box.topLeft());
    l->adjustSize();
  }
  return l;
}

TLabel* SectionHeader(QWidget* form, const char* name, const char* text, QRect box, int pixels) {
  return Label(form, name, QString::fromLatin1(text), box, Arial(pixels), Ink, Qt::AlignCenter, &Silver);
}

TLabel* FieldLabel(QWidget* form, const char* name, const char* text, QRect box) {
  return Label(form, name, QString::fromLatin1(text), box, Arial(19), Silver, Qt::AlignLeft | Qt::AlignTop);
}

TShape* Shape(QWidget* form, const char* name, QRect box, TShape::Kind kind, const QColor& fill,
              const QColor& pen, int penWidth) {
  auto* s = Make<TShape>(form, name, box.x(), box.y(), box.width(), box.height());
  s->Setup(kind, fill, pen, penWidth);
  return s;
}

// A label-button drawn on its frame shape: the shape first, the label above.
TLabel* LabelButton(QWidget* form, const char* name, const char* caption, QRect box, const char* frameName,
                    QRect frame, int pixels, bool vcentre, TShape*& shape) {
  shape = Shape(form, frameName, frame, TShape::Rectangle, Ink, Silver, 1);
  TLabel* l = Label(form, name, QString::fromLatin1(caption), box, Arial(pixels), Silver,
                    Qt::AlignHCenter | (vcentre ? Qt::AlignVCenter : Qt::AlignTop), &Ink);
  l->setCursor(Qt::PointingHandCursor);
  return l;
}

TComboBox* Combo(QWidget* form, const char* name, QRect box, std::initializer_list<const char*> items,
                 int index, int pixels = 21) {
  auto* c = Make<TComboBox>(form, name, box.x(), box.y(), box.width(), box.height());
  // The font before the items: they are measured once, in the font they
  // show in, and the window's regular face need not load for them.
  c->setFont(Arial(pixels));
  for (const char* item : items) c->addItem(QString::fromLatin1(item));
  c->SetItemIndex(index);
  c->SetColors(Silver, Ink);
  c->SetRowHeight(20);
  c->setMaxVisibleItems(8);
  c->setCursor(Qt::PointingHandCursor);
  return c;
}

// A list of the profile's fields, with the items of the table of fields.
TComboBox* FieldCombo(QWidget* form, const char* name, QRect box, const vlx::TField& field, int index) {
  auto* c = Combo(form, name, box, {}, -1);
  for (std::string_view item : vlx::FieldItems(field))
    c->addItem(QString::fromLatin1(item.data(), static_cast<qsizetype>(item.size())));
  c->SetItemIndex(index);
  return c;
}

QLineEdit* Edit(QWidget* form, const char* name, QRect box, const char* text) {
  auto* e = Make<QLineEdit>(form, name, box.x(), box.y(), box.width(), box.height());
  e->setFont(Sans(19));  // before the text, which is laid out in it
  e->setText(QString::fromLatin1(text));
  e->setFrame(false);
  QPalette p = e->palette();
  for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    p.setColor(group, QPalette::Base, Silver);
    p.setColor(group, QPalette::Text, Ink);
    p.setColor(group, QPalette::Highlight, Ink);
    p.setColor(group, QPalette::HighlightedText, Silver);
  }
  e->setPalette(p);
  return e;
}

QProgressBar* Bar(QWidget* form, const char* name, QRect box) {
  auto* b = Make<TProgressBar>(form, name, box.x(), box.y(), box.width(), box.height());
  b->setRange(0, 100);
  b->setValue(0);
  b->setTextVisible(false);
  // Continuous: one chunk without gaps, silver on dark ink in a silver frame.
  b->SetColors(Ink, Silver, Silver);
  return b;
}

// The artwork is compiled in; every picture is a BMP, the icon a PNG. Image
// readers are told the format, so none tries the other formats' plugins.
QString Artwork(const QString& file) { return QStringLiteral(":/vellox/") + file; }

enum class Decode { Now, WhenShown };

TImage* PictureBox(QWidget* form, const QString& name, QRect box, const QString& file, Decode when = Decode::Now) {
  auto* img = new TImage(form);
  img->setObjectName(name);
  img->setGeometry(box);
  if (when == Decode::Now)
    img->setPixmap(QPixmap(Artwork(file), "BMP"));
  else
    img->SetPictureFile(Artwork(file), "BMP");
  return img;
}

QTimer* Timer(QObject* form, const char* name, int interval, bool enabledAtCreation) {
  auto* t = new QTimer(form);
  t->setObjectName(QString::fromLatin1(name));
  t->setInterval(interval);
  t->setSingleShot(false);
  // Whether the timer runs from the window's creation; the start-up code
  // starts the ones that do (BuildLayout starts nothing).
  t->setProperty("enabledAtCreation", enabledAtCreation);
  return t;
}

}  // namespace

void TForm1::BuildLayout() {
  InitAssets();

  // ---- the window
  setWindowTitle(QStringLiteral("vellox MIDI Editor V0.3"));
  resize(1070, 562);
  setFont(MakeFont(SansFamily, 11, false));
  // The application's default font (message boxes, file dialogs, the
  // opened lists) takes the window's family at its own size, so that the
  // process loads one font family, not two.
  {
    QFont appFont = QApplication::font();
    appFont.setFamily(font().family());
    QApplication::setFont(appFont);
  }
  {
    QPalette p = palette();
    p.setColor(QPalette::Window, Back);
    setPalette(p);
    setAutoFillBackground(true);
  }
  setWindowOpacity(240.0 / 255.0);
  setWindowIcon(QIcon(QPixmap(Artwork(QStringLiteral("MAINICON.png")), "PNG")));

  const Qt::Alignment topLeft = Qt::AlignLeft | Qt::AlignTop;

  // ---- header
  OrvantaLogo = PictureBox(this, QStringLiteral("OrvantaLogo"), {64, 16, 241, 49}, QStringLiteral("logo.bmp"));
  Label6 = Label(this, "Label6", QStringLiteral("vellox MIDI Editor"), {320, 16, 537, 65}, Arial(48), White, topLeft);
  LbVersions = Label(this, "LbVersions", QString(), {880, 17, 137, 27}, Arial(24), Green, topLeft);
  LbConnect = Label(this, "LbConnect", QStringLiteral("Disconnect"), {880, 41, 193, 27}, Arial(24), Red, topLeft);

  // ---- PROFILE
  LbProFile = SectionHeader(this, "LbProFile", "PROFILE", {16, 83, 473, 38}, 32);
  BtnNEW = LabelButton(this, "BtnNEW", "NEW", {14, 144, 218, 32}, "ShNEW", {13, 143, 220, 35}, 29, false, ShNEW);
  BtnOpen = LabelButton(this, "BtnOpen", "OPEN", {270, 143, 218, 32}, "ShPOEN", {269, 142, 220, 35}, 29, false, ShPOEN);
  BtnReset = LabelButton(this, "BtnReset", "RESET", {14, 193, 103, 32}, "ShRESET", {13, 192, 105, 35}, 24, true,
                         ShRESET);
  BtnExport = LabelButton(this, "BtnExport", "EXPORT", {130, 193, 103, 32}, "ShEXPORT", {128, 192, 106, 35}, 24, true,
                          ShEXPORT);
  BtnSave = LabelButton(this, "BtnSave", "SAVE", {270, 193, 218, 32}, "ShSAVE", {269, 192, 220, 35}, 29, false, ShSAVE);
  BtnSyncPc = LabelButton(this, "BtnSyncPc", "SYNC TO PC", {14, 244, 218, 32}, "ShSyncPC", {13, 243, 220, 35}, 29,
                          false, ShSyncPC);
  BtnSyncFw = LabelButton(this, "BtnSyncFw", "SYNC TO FW", {270, 247, 218, 32}, "ShSyncFW", {269, 243, 220, 35}, 29,
                          false, ShSyncFW);
  ProBarToPC = Bar(this, "ProBarToPC", {13, 277, 220, 16});
  ProBarToFW = Bar(this, "ProBarToFW", {269, 277, 220, 16});

  // ---- dividers
  LbBar1 = Label(this, "LbBar1", QString(), {0, 312, 1073, 3}, Arial(11), Silver, topLeft, &Silver);
  LbBar2 = Label(this, "LbBar2", QString(), {520, 83, 3, 230}, Arial(11), Silver, topLeft, &Silver);

  // ---- GLOBAL
  Label1 = SectionHeader(this, "Label1", "GLOBAL", {552, 83, 505, 38}, 32);
  CmbARPMode = FieldCombo(this, "CmbARPMode", {551, 141, 122, 29}, vlx::GlobalField(vlx::ARPMode), 0);
  Label2 = FieldLabel(this, "Label2", "ARP MODE", {680, 144, 0, 0});
  CmbARPTime = FieldCombo(this, "CmbARPTime", {831, 141, 90, 29}, vlx::GlobalField(vlx::ARPTime), 2);
  Label9 = FieldLabel(this, "Label9", "ARP TIME", {928, 144, 0, 0});
  CmbARPOctave = FieldCombo(this, "CmbARPOctave", {831, 181, 90, 29}, vlx::GlobalField(vlx::ARPOctave), 1);
  Label11 = FieldLabel(this, "Label11", "ARP OCTAVE", {928, 184, 0, 0});
  CmbScale = FieldCombo(this, "CmbScale", {551, 181, 122, 29}, vlx::GlobalField(vlx::Scale), 0);
  Label10 = FieldLabel(this, "Label10", "SCALE", {680, 184, 0, 0});
  CmbVelocity = FieldCombo(this, "CmbVelocity", {551, 221, 122, 29}, vlx::GlobalField(vlx::Velocity), 1);
  Label5 = FieldLabel(this, "Label5", "VELOCITY", {680, 224, 0, 0});
  CmbPadMode = FieldCombo(this, "CmbPadMode", {831, 221, 90, 29}, vlx::GlobalField(vlx::PadMode), 0);
  Label3 = FieldLabel(this, "Label3", "PAD MODE", {928, 224, 0, 0});
  CmbBeat = FieldCombo(this, "CmbBeat", {551, 261, 122, 29}, vlx::GlobalField(vlx::Beat), 3);
  Label7 = FieldLabel(this, "Label7", "BEAT TYPE", {680, 264, 0, 0});
  CmbKeyChannel = FieldCombo(this, "CmbKeyChannel", {831, 261, 90, 29}, vlx::GlobalField(vlx::KeyChannel), 0);
  Label4 = FieldLabel(this, "Label4", "KEY CHANNEL", {928, 265, 0, 0});

  // ---- controller picture: the bank outlines, their letters, then per
  // control the normal picture, the highlight above it and the click area
  // on top.
  Shape1 = Shape(this, "Shape1", {19, 391, 606, 76}, TShape::RoundRect, Back, BankA, 3);
  Shape2 = Shape(this, "Shape2", {19, 471, 606, 76}, TShape::RoundRect, Back, BankB, 3);
  Label14 = Label(this, "Label14", QStringLiteral("A"), {600, 416, 25, 33}, Sans(24), BankA, topLeft);
  Label16 = Label(this, "Label16", QStringLiteral("B"), {600, 496, 25, 33}, Sans(24), BankB, topLeft);
  for (int n = 1; n <= 21; ++n) {
    QRect picture, area;
    if (n <= 8) {
      picture = {24 + 72 * (n - 1), 394, 70, 70};
      area = {33 + 72 * (n - 1), 402, 52, 52};
    } else if (n <= 16) {
      picture = {24 + 72 * (n - 9), 474, 70, 70};
      area = {33 + 72 * (n - 9), 482, 52, 52};
    } else if (n == 17) {
      picture = {32, 330, 129, 47};
      area = {33, 330, 128, 47};
    } else {
      picture = {200 + 112 * (n - 18), 322, 75, 65};
      area = {203 + 112 * (n - 18), 325, 70, 62};
    }
    ImgbData[n] = PictureBox(this, QStringLiteral("ImgbData%1").arg(n), picture, QStringLiteral("ImgbData%1.bmp").arg(n));
    // Start-up shows one highlight (the selected control's); the others are
    // decoded when a click first shows them.
    ImgData[n] = PictureBox(this, QStringLiteral("ImgData%1").arg(n), picture, QStringLiteral("ImgData%1.bmp").arg(n),
                            Decode::WhenShown);
    mCode[n] = Make<TImage>(this, "", area.x(), area.y(), area.width(), area.height());
    mCode[n]->setObjectName(QStringLiteral("mCode%1").arg(n));
    mCode[n]->SetTag(n);
    mCode[n]->setCursor(Qt::PointingHandCursor);
  }

  // ---- PARAMETER
  LbPARAMETER = SectionHeader(this, "LbPARAMETER", "PARAMETER", {640, 331, 417, 35}, 29);
  BtnParaName = Label(this, "BtnParaName", QString(), {640, 381, 201, 27}, Arial(24), Ink, Qt::AlignCenter, &Silver);
  EdtNameEditor = Edit(this, "EdtNameEditor", {880, 381, 177, 27}, "[NAME]");
  EdtValue = Edit(this, "EdtValue", {640, 419, 43, 26}, "1");
  EdtValue->setMaxLength(3);
  EdtValue->setAlignment(Qt::AlignCenter);
  LbVALUE = FieldLabel(this, "LbVALUE", "VALUE", {688, 422, 73, 27});
  CmbChannel = FieldCombo(this, "CmbChannel", {879, 421, 90, 26}, {vlx::SliderControl, vlx::FieldKind::Channel}, 0);
  LbCHANNEL = FieldLabel(this, "LbCHANNEL", "CHANNEL", {976, 425, 105, 27});
  CmbDataType =
      FieldCombo(this, "CmbDataType", {639, 461, 178, 27}, {vlx::SliderControl, vlx::FieldKind::DataType}, 4);
  LbType = FieldLabel(this, "LbType", "TYPE", {821, 465, 60, 27});

  // ---- status display
  ShDisplay = Shape(this, "ShDisplay", {640, 503, 417, 38}, TShape::RoundRect, Panel, Silver, 3);
  auto caption = [this](const char* name, const char* text, int left) {
    return Label(this, name, QString::fromLatin1(text), {left, 513, left == 645 ? 76 : 60, 24}, Arial(16), Silver,
                 Qt::AlignLeft | Qt::AlignTop);
  };
  auto valueBox = [this](const char* name, int left) {
    return Label(this, name, QString(), {left, 513, 30, 20}, Arial(16), Black, Qt::AlignCenter, &Silver);
  };
  Label13 = caption("Label13", "STATUS:", 645);
  LbStatus = valueBox("LbStatus", 717);
  Label15 = caption("Label15", "DATA1:", 765);
  LbData1 = valueBox("LbData1", 824);
  Label17 = caption("Label17", "DATA2:", 877);
  LbData2 = valueBox("LbData2", 935);
  CmbDataDis = Combo(this, "CmbDataDis", {983, 513, 66, 20}, {"DEC", "HEX"}, 0, 16);

  // ---- port lists, right of the client width
  LbInputD = Label(this, "LbInputD", QStringLiteral("Input Device:"), {1110, 192, 0, 0}, Sans(13), Silver, topLeft);
  lbxInputDevices = Make<TCheckListBox>(this, "lbxInputDevices", 1111, 208, 256, 81);
  lbxInputDevices->SetRowHeight(13);
  LbOutputD = Label(this, "LbOutputD", QStringLiteral("Output Device:"), {1110, 296, 0, 0}, Sans(13), Silver, topLeft);
  lbxOutputDevices = Make<TCheckListBox>(this, "lbxOutputDevices", 1112, 312, 255, 89);
  lbxOutputDevices->SetRowHeight(13);

  // ---- port number label, hidden
  LbUSBNum = Label(this, "LbUSBNum", QStringLiteral("LbUSBNum"), {672, 288, 81, 25}, Sans(16), Red, topLeft);
  LbUSBNum->setVisible(false);

  // ---- controls that are never shown
  CmbControlMode =
      FieldCombo(this, "CmbControlMode", {655, 629, 138, 29}, {vlx::SliderControl, vlx::FieldKind::ControlMode}, 1);
  CbEnable = Make<QCheckBox>(this, "CbEnable", 926, 638, 19, 25);
  CbEnable->setText(QStringLiteral("ENABLE"));
  CbEnable->setChecked(true);
  Label12 = FieldLabel(this, "Label12", "BUTTON", {800, 633, 89, 27});
  LbENABLE = FieldLabel(this, "LbENABLE", "ENABLE", {960, 633, 81, 27});
  Label31 = Label(this, "Label31", QString(), {911, 637, 43, 27}, font(), Silver, topLeft);
  BtselfSave = Make<QPushButton>(this, "BtselfSave", 496, 192, 41, 25);
  BtselfSave->setText(QStringLiteral("Save"));
  for (QWidget* w : std::initializer_list<QWidget*>{CmbControlMode, CbEnable, Label12, LbENABLE, Label31, BtselfSave})
    w->setVisible(false);

  // ---- timers; TimerCheckUSB runs from the window's creation (started by
  // the start-up code), the others are started by their commands.
  Timer3 = Timer(this, "Timer3", 300, false);
  TimerSyncPC = Timer(this, "TimerSyncPC", 100, false);
  TimerSyncFW = Timer(this, "TimerSyncFW", 100, false);
  TimerCheckUSB = Timer(this, "TimerCheckUSB", 1000, true);
}

std::array<TComboBox*, 8> TForm1::GlobalCombos() const {
  return {CmbARPMode, CmbARPTime, CmbARPOctave, CmbScale, CmbVelocity, CmbPadMode, CmbBeat, CmbKeyChannel};
}
