// Undo and redo in the window: every change the window makes to the profile
// (a hand-over that changed a record, a GLOBAL list pick, NEW, OPEN, a dump
// from the controller, RESET) is one step; a step brings back the table, the
// selection, the editor's fields as they stood and the GLOBAL lists.
#include <QKeyEvent>
#include <QShortcut>

#include "app/Unit1.h"

namespace {

// What the window shows is kept as UTF-8, whatever its characters (a file
// name, typed text); the table keeps its own bytes.
std::string Utf8(const QString& s) { return s.toStdString(); }

// The keys of a standard action on this platform, with the ones given.
QList<QKeySequence> KeysOf(QKeySequence::StandardKey key, std::initializer_list<QKeySequence> more) {
  QList<QKeySequence> keys = QKeySequence::keyBindings(key);
  for (const QKeySequence& k : more)
    if (!keys.contains(k)) keys.append(k);
  return keys;
}

bool Matches(const QKeyEvent* e, const QList<QKeySequence>& keys) {
  const QKeySequence pressed(e->keyCombination());
  for (const QKeySequence& k : keys)
    if (k.matches(pressed) == QKeySequence::ExactMatch) return true;
  return false;
}

}  // namespace

TForm1::UndoStep::UndoStep(TForm1& form, bool tableOnly)
    : form_(form), before_(form.CaptureState()), tableOnly_(tableOnly) {}

TForm1::UndoStep::~UndoStep() {
  const vlx::TEditorState now = form_.CaptureState();
  const bool changed = tableOnly_ ? !vlx::TablesEqual(now.Table, before_.Table) : !(now == before_);
  if (changed) form_.History.Record(std::move(before_));
}

vlx::TEditorState TForm1::CaptureState() const {
  vlx::TEditorState s;
  s.Table = ParaTable;
  s.CurrentControl = CurrentControl;
  s.ProfilePath = ProfilePath;
  s.ProfileCaption = Utf8(LbProFile->text());
  s.ValueText = Utf8(EdtValue->text());
  s.NameText = Utf8(EdtNameEditor->text());
  s.NameCaption = Utf8(BtnParaName->text());
  s.Channel = CmbChannel->ItemIndex();
  s.DataType = CmbDataType->ItemIndex();
  s.ControlMode = CmbControlMode->ItemIndex();
  s.Enabled = CbEnable->isChecked();
  const auto globals = GlobalCombos();
  for (int i = 0; i < 8; ++i) s.Globals[i] = globals[i]->ItemIndex();
  return s;
}

void TForm1::ShowState(const vlx::TEditorState& s) {
  ParaTable = s.Table;
  ProfilePath = s.ProfilePath;
  LbProFile->setText(QString::fromStdString(s.ProfileCaption));
  const int n = s.CurrentControl;
  if (n >= 1 && n <= vlx::ControlCount && n != CurrentControl) {
    ClealAll();
    ImgData[n]->show();
    ShowKindOf(n);
  }
  CurrentControl = n;
  EdtValue->setText(QString::fromStdString(s.ValueText));
  EdtNameEditor->setText(QString::fromStdString(s.NameText));
  BtnParaName->setText(QString::fromStdString(s.NameCaption));
  CmbChannel->SetItemIndex(s.Channel);
  CmbDataType->SetItemIndex(s.DataType);
  CmbControlMode->SetItemIndex(s.ControlMode);
  CbEnable->setChecked(s.Enabled);
  const auto globals = GlobalCombos();
  for (int i = 0; i < 8; ++i) globals[i]->SetItemIndex(s.Globals[i]);
}

void TForm1::Undo() {
  if (auto s = History.Undo(CaptureState())) ShowState(*s);
}

void TForm1::Redo() {
  if (auto s = History.Redo(CaptureState())) ShowState(*s);
}

void TForm1::GlobalListPicked(int index) {
  // The list shows the pick already; the step holds what it showed before.
  vlx::TEditorState before = CaptureState();
  const int32_t picked = before.Globals[index];
  before.Globals[index] = globalIndexAtPress_[index];
  globalIndexAtPress_[index] = picked;
  if (before.Globals[index] != picked) History.Record(std::move(before));
}

void TForm1::ConnectUndo() {
  undoKeys_ = KeysOf(QKeySequence::Undo, {QKeySequence(Qt::CTRL | Qt::Key_Z)});
  redoKeys_ = KeysOf(QKeySequence::Redo, {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
  auto* undo = new QShortcut(this);
  undo->setKeys(undoKeys_);
  undo->setContext(Qt::WindowShortcut);
  connect(undo, &QShortcut::activated, this, [this] { Guarded([this] { Undo(); }); });
  auto* redo = new QShortcut(this);
  redo->setKeys(redoKeys_);
  redo->setContext(Qt::WindowShortcut);
  connect(redo, &QShortcut::activated, this, [this] { Guarded([this] { Redo(); }); });

  EdtNameEditor->installEventFilter(this);
  const auto globals = GlobalCombos();
  for (int i = 0; i < 8; ++i) {
    globals[i]->installEventFilter(this);
    connect(globals[i], &QComboBox::activated, this, [this, i] { Guarded([this, i] { GlobalListPicked(i); }); });
  }
}

bool TForm1::UndoKeyEvent(QObject* watched, QEvent* event) {
  // A GLOBAL list about to be picked from: what it shows before the pick.
  const auto globals = GlobalCombos();
  for (int i = 0; i < 8; ++i) {
    if (watched != globals[i]) continue;
    const QEvent::Type t = event->type();
    if (t == QEvent::MouseButtonPress || t == QEvent::KeyPress || t == QEvent::Wheel)
      globalIndexAtPress_[i] = globals[i]->ItemIndex();
    return false;
  }

  // An edit box with text of its own to undo (or redo) takes the key first;
  // otherwise the key is the window's.
  auto* edit = qobject_cast<QLineEdit*>(watched);
  if (edit == nullptr || (edit != EdtValue && edit != EdtNameEditor)) return false;
  if (event->type() != QEvent::ShortcutOverride && event->type() != QEvent::KeyPress) return false;
  auto* key = static_cast<QKeyEvent*>(event);
  const bool undo = Matches(key, undoKeys_), redo = !undo && Matches(key, redoKeys_);
  if (!undo && !redo) return false;
  const bool own = undo ? edit->isUndoAvailable() : edit->isRedoAvailable();
  if (event->type() == QEvent::ShortcutOverride) {
    if (own)
      event->accept();  // the box gets the key press
    else
      event->ignore();  // the window's shortcut runs
    return true;
  }
  if (own) {
    if (undo)
      edit->undo();
    else
      edit->redo();
  }
  return true;  // an undo key types nothing into the box
}
