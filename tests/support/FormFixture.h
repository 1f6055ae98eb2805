// The real window, headless, with test services: answers to questions and
// file dialogs are given in advance, notices and errors are recorded, MIDI is
// an in-process fake, and the program's folder is a fresh temporary folder.
#pragma once

#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QTest>
#include <gtest/gtest.h>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/Dialogs.h"
#include "app/Unit1.h"
#include "midi/FakeMidiService.h"
#include "support/TempDir.h"

// Readable failure messages for texts of the window.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

class FakeDialogs : public IDialogs {
 public:
  struct FileRequest {
    QString Title, Filter, Directory, FileName;
  };

  std::deque<bool> Answers;                    // for Ask, in order; No when empty
  std::deque<Answer> ThreeWayAnswers;          // for AskYesNoCancel, in order; Cancel when empty
  std::vector<QString> Questions, ThreeWayQuestions, Notices, Errors;
  std::optional<QString> OpenChoice, SaveChoice;  // nothing: the user cancels
  std::vector<FileRequest> OpenRequests, SaveRequests;
  // Runs while a notice is open (the box is modal: the caller waits).
  std::function<void(const QString&)> WhileNoticeOpen;

  bool Ask(QWidget*, const QString& text) override {
    Questions.push_back(text);
    if (Answers.empty()) return false;
    const bool yes = Answers.front();
    Answers.pop_front();
    return yes;
  }
  Answer AskYesNoCancel(QWidget*, const QString& text) override {
    ThreeWayQuestions.push_back(text);
    if (ThreeWayAnswers.empty()) return Answer::Cancel;
    const Answer a = ThreeWayAnswers.front();
    ThreeWayAnswers.pop_front();
    return a;
  }
  void Notice(QWidget*, const QString& text) override {
    Notices.push_back(text);
    if (WhileNoticeOpen) WhileNoticeOpen(text);
  }
  void Error(QWidget*, const QString& text) override { Errors.push_back(text); }
  std::optional<QString> OpenFile(QWidget*, const QString& title, const QString& filter, const QString& dir,
                                  const QString& name) override {
    OpenRequests.push_back({title, filter, dir, name});
    return OpenChoice;
  }
  std::optional<QString> SaveFile(QWidget*, const QString& title, const QString& filter, const QString& dir,
                                  const QString& name) override {
    SaveRequests.push_back({title, filter, dir, name});
    return SaveChoice;
  }
};

struct FormFixture {
  TempDir Dir;  // the program's folder
  std::shared_ptr<FakeDialogs> Dialogs = std::make_shared<FakeDialogs>();
  std::shared_ptr<vlx::FakeMidiService> Midi = std::make_shared<vlx::FakeMidiService>();
  bool UsbPresent = true;
  int UsbChecks = 0;  // how often discovery asked whether the controller is on USB
  bool StartMidiAfterFirstPaint = false;  // as the program entry does
  std::string OpenAtStart;                // a file named on the command line
  std::unique_ptr<TForm1> Form;

  // The window on the fake service, or on another MIDI service.
  TForm1& Make(std::shared_ptr<vlx::IMidiService> service = nullptr) {
    TForm1::Services s;
    s.Dialogs = Dialogs;
    s.Midi = service ? service : Midi;
    s.UsbDevicePresent = [this] {
      ++UsbChecks;
      return UsbPresent;
    };
    s.AppDir = Dir.Path;
    s.StartMidiAfterFirstPaint = StartMidiAfterFirstPaint;
    s.OpenAtStart = OpenAtStart;
    Form = std::make_unique<TForm1>(s);
    return *Form;
  }
  ~FormFixture() { Form.reset(); }

  std::string ProfileFile() const { return Dir.File("customer.cus"); }
};

// Lets queued calls and timers run for about ms milliseconds.
inline void Pump(int ms = 0) {
  QCoreApplication::processEvents();
  if (ms > 0) QTest::qWait(ms);
  QCoreApplication::processEvents();
}

// Processes events until pred holds or ms have passed; returns pred().
inline bool PumpUntil(const std::function<bool()>& pred, int ms = 3000) {
  return QTest::qWaitFor(pred, ms);
}

// A left click in the middle of a widget (or at pos), as a user would.
inline void Click(QWidget* w, QPoint pos = QPoint()) {
  QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, pos.isNull() ? w->rect().center() : pos);
}

// A label shows text as it is: the same text, as wide as its characters, not
// turned into markup or a mnemonic.
inline void ExpectShownLiterally(const QLabel* label, const QString& text) {
  EXPECT_EQ(label->text(), text);
  EXPECT_GE(label->sizeHint().width(), QFontMetrics(label->font()).horizontalAdvance(text))
      << label->objectName().toStdString() << " draws less than " << text.toStdString();
}
