#include "app/Unit1.h"

#include <QEvent>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QScreen>

#include "profile/ProfileFile.h"
#include "profile/Settings.h"

TForm1::TForm1(Services services, QWidget* parent)
    : QWidget(parent), services_(std::move(services)), midi_(std::make_unique<vlx::TMidiModule>(services_.Midi)) {
  if (services_.AppDir.empty()) services_.AppDir = vlx::ExecutableDir();
  if (services_.AppDir.back() != '/') services_.AppDir += '/';
  BuildLayout();
  ConnectEvents();
  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
  TimerCheckUSB->start();  // enabled from the window's creation
  Guarded([this] { FormCreate(); });
  if (!startControlShown_) Guarded([this] { FinishFailedStart(); });
  // A file named on the command line opens once the event loop runs, so
  // that its error box, if any, belongs to a window on the screen.
  if (!services_.OpenAtStart.empty()) {
    const QString path =
        QDir::cleanPath(QFileInfo(QString::fromStdString(services_.OpenAtStart)).absoluteFilePath());
    QMetaObject::invokeMethod(
        this, [this, path] { Guarded([this, &path] { OpenProfile(path); }); }, Qt::QueuedConnection);
  }
}

TForm1::~TForm1() {
  Guarded([this] { FormDestroy(); });
  // Every port still open is closed before the port lists go, so that no
  // callback can reach a released buffer or this window.
  midi_->Release();
}

void TForm1::ShowError(const std::exception& e) {
  QString text = QString::fromUtf8(e.what());
  if (!text.endsWith('.')) text += '.';
  Dialogs().Error(this, text);
}

void TForm1::Guarded(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    ShowError(e);
  }
}

void TForm1::FormCreate() {
  const std::string defaultPath = services_.AppDir + vlx::DefaultProfileName;
  const std::string ini = services_.AppDir + vlx::SettingsFileName;

  // 1. The profile named in the settings file, or the default one. On the
  // first start the key is written once: the second write would store the
  // same path again.
  ProfilePath = vlx::ReadIniString(ini, vlx::SettingsSection, vlx::SettingsKey, "");
  std::string written;
  if (ProfilePath.empty()) {
    ProfilePath = defaultPath;
    vlx::WriteIniString(ini, vlx::SettingsSection, vlx::SettingsKey, ProfilePath);
    written = ProfilePath;
  }
  if (!vlx::FileExists(ProfilePath)) {
    ProfilePath = defaultPath;
    if (written != ProfilePath) vlx::WriteIniString(ini, vlx::SettingsSection, vlx::SettingsKey, ProfilePath);
  }

  // 2. The value box: centred, at most three characters.
  EdtValue->setAlignment(Qt::AlignCenter);
  EdtValue->setMaxLength(3);

  // 3, 4. The slider is selected; load the profile or create the factory one.
  CurrentControl = vlx::SliderControl;
  if (vlx::FileExists(ProfilePath)) {
    LoadParaFromFile(ProfilePath);
  } else {
    ResetPara();
    ProfilePath = defaultPath;
    SaveParaToFile();
  }

  // 5. Control 17 and the global block in the editor.
  ShowStartControl();

  // 6. SysExLock exists with the window.
  if (services_.StartMidiAfterFirstPaint) {
    midiStartPending_ = true;
    return;
  }
  StartMidi();
}

void TForm1::StartMidi() {
  midiStartPending_ = false;
  // 7. The port lists, in device order.
  for (int32_t i = 0; i < InputPorts().Count(); ++i)
    lbxInputDevices->AddItem(QString::fromStdString(InputPorts().Name(i)));
  for (int32_t i = 0; i < OutputPorts().Count(); ++i)
    lbxOutputDevices->AddItem(QString::fromStdString(OutputPorts().Name(i)));

  // 8. Find the controller.
  Discovery();
}

void TForm1::StartMidiIfPending() {
  if (midiStartPending_) Guarded([this] { StartMidi(); });
}

void TForm1::paintEvent(QPaintEvent* event) {
  QWidget::paintEvent(event);
  // The first picture is on its way to the screen once this paint is over;
  // the MIDI start-up follows as the next queued call.
  if (midiStartPending_ && !midiStartQueued_) {
    midiStartQueued_ = true;
    QMetaObject::invokeMethod(this, [this] { StartMidiIfPending(); }, Qt::QueuedConnection);
  }
}

void TForm1::FormDestroy() {
  if (destroyed_) return;
  destroyed_ = true;
  if (DeviceOffline) return;
  for (int i = 0; i <= 6; ++i) {
    if (InputOpened[i] == 1) InputPorts().Close(i);
    if (OutputOpened[i] == 1) OutputPorts().Close(i);
  }
}

void TForm1::ShowStartControl() {
  const vlx::TParaRecord& r = ParaTable[vlx::SliderControl];
  ClealAll();
  ImgData[vlx::SliderControl]->show();
  EdtValue->setText(QString::number(r.Value));
  CmbChannel->SetItemIndex(r.Channel);
  CbEnable->setChecked(r.Disabled == 0);
  BtnParaName->setText(QString::fromLatin1(r.Name.str()));
  EdtNameEditor->setText(QString::fromLatin1(r.NameEditorText.str()));
  CmbDataType->SetItemIndex(r.DataType);
  CmbControlMode->SetItemIndex(-1);
  CmbControlMode->setEnabled(false);
  const auto globals = GlobalCombos();
  for (int i = 0; i < 8; ++i) globals[i]->SetItemIndex(ParaTable.GlobalBlock()[i]);
  startControlShown_ = true;
}

void TForm1::FinishFailedStart() {
  EdtValue->setAlignment(Qt::AlignCenter);
  EdtValue->setMaxLength(3);
  CurrentControl = vlx::SliderControl;
  if (ProfilePath.empty()) ProfilePath = services_.AppDir + vlx::DefaultProfileName;
  // Nothing was read into the table: the editor works on the factory
  // profile, which is not written until the user saves it.
  if (vlx::EncodeProfile(ParaTable) == vlx::EncodeProfile(vlx::TParaTable{})) vlx::ApplyFactoryValues(ParaTable);
  ShowStartControl();
}

void TForm1::ConnectEvents() {
  const auto click = [this](TLabel* label, void (TForm1::*handler)(QObject*)) {
    connect(label, &TLabel::clicked, this, [this, label, handler] { Guarded([this, label, handler] { (this->*handler)(label); }); });
  };
  click(BtnNEW, &TForm1::BtnNEWClick);
  click(BtnOpen, &TForm1::BtnOpenClick);
  click(BtnSave, &TForm1::BtnSaveClick);
  click(BtnExport, &TForm1::BtnExportClick);
  click(BtnSyncPc, &TForm1::BtnSyncPcClick);
  click(BtnSyncFw, &TForm1::BtnSyncFwClick);
  click(BtnReset, &TForm1::BtnResetClick);
  connect(BtselfSave, &QPushButton::clicked, this, [this] { Guarded([this] { BtselfSaveClick(BtselfSave); }); });
  for (int n = 1; n <= vlx::ControlCount; ++n) {
    TImage* area = mCode[n];
    connect(area, &TImage::clicked, this, [this, area] { Guarded([this, area] { mCode1Click(area); }); });
  }
  connect(CmbDataDis, &QComboBox::activated, this, [this] { Guarded([this] { CmbDataDisClick(CmbDataDis); }); });
  EdtValue->installEventFilter(this);
  ConnectUndo();

  const auto tick = [this](QTimer* timer, void (TForm1::*handler)()) {
    connect(timer, &QTimer::timeout, this, [this, handler] { Guarded([this, handler] { (this->*handler)(); }); });
  };
  tick(Timer3, &TForm1::Timer3Timer);
  tick(TimerSyncPC, &TForm1::TimerSyncPCTimer);
  tick(TimerSyncFW, &TForm1::TimerSyncFWTimer);
  // The presence probe never comes before discovery, even when the window
  // has not been painted by its first tick.
  connect(TimerCheckUSB, &QTimer::timeout, this, [this] { StartMidiIfPending(); });
  tick(TimerCheckUSB, &TForm1::TimerCheckUSBTimer);
}

namespace {

// The character a key press types, as the value box's filter sees it: the
// control characters of copy (3), paste (22), Backspace (8) and Enter (13),
// Ctrl with a letter as its control code, and 0 for keys that type nothing.
// Tab and Shift+Tab move the focus and Escape belongs to the window: they
// type nothing into the box.
char16_t TypedCharacter(const QKeyEvent* e) {
  if (e->matches(QKeySequence::Copy)) return 3;
  if (e->matches(QKeySequence::Paste)) return 22;
  switch (e->key()) {
    case Qt::Key_Backspace: return 8;
    case Qt::Key_Return:
    case Qt::Key_Enter: return 13;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Escape: return 0;
    default: break;
  }
  if ((e->modifiers() & Qt::ControlModifier) && e->key() >= Qt::Key_A && e->key() <= Qt::Key_Z)
    return static_cast<char16_t>(e->key() - Qt::Key_A + 1);
  const QString text = e->text();
  if (text.isEmpty() || text.at(0) == QChar(0x7F)) return 0;
  return text.at(0).unicode();
}

}  // namespace

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (UndoKeyEvent(watched, event)) return true;
  if (watched == EdtValue && event->type() == QEvent::KeyPress) {
    char16_t key = TypedCharacter(static_cast<QKeyEvent*>(event));
    if (key == 0) return false;  // keys that type nothing pass unfiltered
    EdtValueKeyPress(EdtValue, key);
    return key == 0;  // a discarded character never reaches the box
  }
  return QWidget::eventFilter(watched, event);
}
