// How the window talks to the user: questions, notices, error reports and
// the two file dialogs. The editor uses QtDialogs; tests give their own.
#pragma once

#include <QString>
#include <optional>

class QWidget;

class IDialogs {
 public:
  enum class Answer { Yes, No, Cancel };

  virtual ~IDialogs() = default;
  // A modal box titled "Hint" with Yes and No and no icon: true only for Yes.
  virtual bool Ask(QWidget* owner, const QString& text) = 0;
  // A modal box titled "Hint" with Yes, No and Cancel and no icon; Escape
  // or closing the box is Cancel. Dialogs without it answer through Ask
  // (Yes or No).
  virtual Answer AskYesNoCancel(QWidget* owner, const QString& text) {
    return Ask(owner, text) ? Answer::Yes : Answer::No;
  }
  // A modal box with OK, captioned with the application title.
  virtual void Notice(QWidget* owner, const QString& text) = 0;
  // The general error report: stop icon, captioned with the application
  // title; text is shown as given (the window adds the full stop).
  virtual void Error(QWidget* owner, const QString& text) = 0;
  // The file chosen, or nothing when the user cancels. filter is in Qt's form
  // ("cus files (*.cus)"); directory is the folder shown first.
  virtual std::optional<QString> OpenFile(QWidget* owner, const QString& title, const QString& filter,
                                          const QString& directory, const QString& fileName) = 0;
  // A save dialog that does not ask before overwriting an existing file.
  virtual std::optional<QString> SaveFile(QWidget* owner, const QString& title, const QString& filter,
                                          const QString& directory, const QString& fileName) = 0;
};

// QMessageBox and Qt's file dialogs.
class QtDialogs : public IDialogs {
 public:
  bool Ask(QWidget* owner, const QString& text) override;
  Answer AskYesNoCancel(QWidget* owner, const QString& text) override;
  void Notice(QWidget* owner, const QString& text) override;
  void Error(QWidget* owner, const QString& text) override;
  std::optional<QString> OpenFile(QWidget* owner, const QString& title, const QString& filter,
                                  const QString& directory, const QString& fileName) override;
  std::optional<QString> SaveFile(QWidget* owner, const QString& title, const QString& filter,
                                  const QString& directory, const QString& fileName) override;
};

// The application title, caption of notices and error reports.
inline const char* const ApplicationTitle = "VLX210";
