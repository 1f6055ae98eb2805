// NEW, OPEN, SAVE, EXPORT and the hidden Save button.
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>

#include "app/Unit1.h"
#include "editor/ValueRule.h"
#include "profile/ProfileFile.h"

namespace {

// The chosen path with the extension of its file name replaced by ".cus".
QString WithProfileExtension(const QString& path) {
  const int slash = path.lastIndexOf('/');
  const int dot = path.lastIndexOf('.');
  if (dot > slash) return path.left(dot) + ".cus";
  return path + ".cus";
}

// The file name without its folder and without its extension.
QString ProfileCaption(const QString& path) {
  const QString name = QFileInfo(path).fileName();
  const int dot = name.lastIndexOf('.');
  return dot < 0 ? name : name.left(dot);
}

QString FolderOf(const std::string& path) { return QFileInfo(QString::fromStdString(path)).absolutePath(); }

}  // namespace

void TForm1::BtnNEWClick(QObject*) {
  if (!Dialogs().Ask(this, "     Do you want to reset Editor software data?    ")) return;
  UndoStep step(*this);
  ResetPara();
  SaveParaToFile();
}

void TForm1::BtnOpenClick(QObject*) {
  const auto chosen = Dialogs().OpenFile(this, "Open file", "cus files (*.cus)", FolderOf(ProfilePath), "*.cus");
  if (!chosen) return;
  OpenProfile(*chosen);
}

void TForm1::OpenProfile(const QString& path) {
  // Also a file that fails part-way is one step: what it changed comes back.
  UndoStep step(*this);
  LbProFile->setText(ProfileCaption(path));
  ProfilePath = path.toStdString();
  LoadParaFromFile(ProfilePath);
  RegainData();
}

void TForm1::BtnSaveClick(QObject*) {
  SaveCurrentPara();
  SaveParaToFile();
  Dialogs().Notice(this, "       Save the data successfully.     ");
}

void TForm1::BtnExportClick(QObject*) {
  const auto chosen = Dialogs().SaveFile(this, "Save file", "All files (*)", FolderOf(ProfilePath),
                                         QString::fromStdString(ProfilePath));
  if (!chosen) return;
  const std::string target = WithProfileExtension(*chosen).toStdString();
  SaveCurrentPara();
  vlx::WriteProfileFile(target, ParaTable);
}

void TForm1::BtselfSaveClick(QObject*) {
  UndoStep step(*this);
  vlx::TParaRecord& r = ParaTable[CurrentControl];
  r.Value = vlx::ValueTextRule(EdtValue->text().toStdString());
  r.Channel = CmbChannel->ItemIndex();
  r.Disabled = CbEnable->isChecked() ? 0 : 1;
  r.DataType = CmbDataType->ItemIndex();
  r.ControlMode = CmbControlMode->ItemIndex();
  const QString name = EdtNameEditor->text();
  if (!name.isEmpty() && name != vlx::NamePlaceholder) r.Name.assign(name.toLatin1().toStdString());
  const auto globals = GlobalCombos();
  for (int i = 0; i < 8; ++i) ParaTable.GlobalBlock()[i] = globals[i]->ItemIndex();
}

bool TForm1::ProfileDiffersFromFile() const {
  vlx::TParaTable saved = ParaTable;
  try {
    StorePendingInto(saved);
  } catch (const std::exception&) {
    return true;  // a value SAVE would refuse: the question lets the user see it
  }
  return !vlx::ProfileFileMatches(ProfilePath, saved);
}

void TForm1::FormCloseQuery(bool& canClose) {
  canClose = true;
  if (!ProfileDiffersFromFile()) return;
  const QString text = "Do you want to save the changes to " + QString::fromStdString(ProfilePath) + " before closing?";
  switch (Dialogs().AskYesNoCancel(this, text)) {
    case IDialogs::Answer::No: return;
    case IDialogs::Answer::Cancel: canClose = false; return;
    case IDialogs::Answer::Yes: break;
  }
  // As SAVE stores and writes; a failure keeps the window open with its error.
  canClose = false;
  SaveCurrentPara();
  SaveParaToFile();
  canClose = true;
}

void TForm1::closeEvent(QCloseEvent* event) {
  bool canClose = false;
  Guarded([&] { FormCloseQuery(canClose); });
  if (canClose)
    event->accept();
  else
    event->ignore();
}
