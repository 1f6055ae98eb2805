#include "app/Dialogs.h"

#include <QFileDialog>
#include <QMessageBox>

namespace {

// A message box whose text is shown as it is: a file name or an error text
// with "<", "&" or markup in it is not rich text.
int ShowBox(QMessageBox::Icon icon, const QString& title, const QString& text, QMessageBox::StandardButtons buttons,
            QWidget* owner) {
  QMessageBox box(icon, title, text, buttons, owner);
  box.setTextFormat(Qt::PlainText);
  if (buttons & QMessageBox::Cancel) box.setEscapeButton(QMessageBox::Cancel);
  return box.exec();
}

}  // namespace

bool QtDialogs::Ask(QWidget* owner, const QString& text) {
  return ShowBox(QMessageBox::NoIcon, "Hint", text, QMessageBox::Yes | QMessageBox::No, owner) == QMessageBox::Yes;
}

IDialogs::Answer QtDialogs::AskYesNoCancel(QWidget* owner, const QString& text) {
  switch (ShowBox(QMessageBox::NoIcon, "Hint", text, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, owner)) {
    case QMessageBox::Yes: return Answer::Yes;
    case QMessageBox::No: return Answer::No;
    default: return Answer::Cancel;
  }
}

void QtDialogs::Notice(QWidget* owner, const QString& text) {
  ShowBox(QMessageBox::Information, ApplicationTitle, text, QMessageBox::Ok, owner);
}

void QtDialogs::Error(QWidget* owner, const QString& text) {
  ShowBox(QMessageBox::Critical, ApplicationTitle, text, QMessageBox::Ok, owner);
}

std::optional<QString> QtDialogs::OpenFile(QWidget* owner, const QString& title, const QString& filter,
                                           const QString& directory, const QString& fileName) {
  QFileDialog dialog(owner, title, directory, filter);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.selectFile(fileName);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().first();
}

std::optional<QString> QtDialogs::SaveFile(QWidget* owner, const QString& title, const QString& filter,
                                           const QString& directory, const QString& fileName) {
  QFileDialog dialog(owner, title, directory, filter);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
  dialog.selectFile(fileName);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().first();
}
