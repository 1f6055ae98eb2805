// The dialogs of a window under a benchmark: questions get a fixed answer,
// notices and error boxes are counted, and error boxes are printed on
// stderr; no file is ever chosen.
#pragma once

#include <cstdio>
#include <optional>

#include "app/Dialogs.h"

namespace vlx::bench {

class BenchDialogs : public IDialogs {
 public:
  explicit BenchDialogs(bool answer = false) : answer_(answer) {}

  int Notices = 0, Errors = 0;

  bool Ask(QWidget*, const QString&) override { return answer_; }
  void Notice(QWidget*, const QString&) override { ++Notices; }
  void Error(QWidget*, const QString& text) override {
    ++Errors;
    std::fprintf(stderr, "error box: %s\n", text.toUtf8().constData());
  }
  std::optional<QString> OpenFile(QWidget*, const QString&, const QString&, const QString&, const QString&) override {
    return std::nullopt;
  }
  std::optional<QString> SaveFile(QWidget*, const QString&, const QString&, const QString&, const QString&) override {
    return std::nullopt;
  }

 private:
  bool answer_;
};

}  // namespace vlx::bench
