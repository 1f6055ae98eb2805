#include "app/Dialogs.h"

#include <QFileDialog>
#include <QMessageBox>

bool QtDialogs::Ask(QWidget* owner, const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, "Hint", text, QMessageBox::Yes | QMessageBox::No, owner);
  return box.exec() == QMessageBox::Yes;
}

void QtDialogs::Notice(QWidget* owner, const QString& text) {
  QMessageBox box(QMessageBox::Information, ApplicationTitle, text, QMessageBox::Ok, owner);
  box.exec();
}

void QtDialogs::Error(QWidget* owner, const QString& text) {
  QMessageBox box(QMessageBox::Critical, ApplicationTitle, text, QMessageBox::Ok, owner);
  box.exec();
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
