// Grabs the main window, as it stands after start-up, to a PNG file.
//
//   vlx_screenshot [out.png] [width]
//
// The window runs on a MIDI service without ports and a profile folder of
// its own under the temporary folder; a width above 1070 widens the window
// (the port lists show beyond 1110 pixels). Runs headless by default.
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <cstdio>
#include <memory>

#include "app/Dialogs.h"
#include "app/Unit1.h"
#include "midi/FakeMidiService.h"

namespace {

// Nothing modal: questions are declined, notices and errors printed.
class QuietDialogs : public IDialogs {
 public:
  bool Ask(QWidget*, const QString&) override { return false; }
  void Notice(QWidget*, const QString& text) override { std::fprintf(stderr, "notice: %s\n", qPrintable(text)); }
  void Error(QWidget*, const QString& text) override { std::fprintf(stderr, "error: %s\n", qPrintable(text)); }
  std::optional<QString> OpenFile(QWidget*, const QString&, const QString&, const QString&,
                                  const QString&) override { return {}; }
  std::optional<QString> SaveFile(QWidget*, const QString&, const QString&, const QString&,
                                  const QString&) override { return {}; }
};

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setApplicationName(ApplicationTitle);
  const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screenshot.png");
  const int width = argc > 2 ? std::atoi(argv[2]) : 0;

  QTemporaryDir folder;
  if (!folder.isValid()) {
    std::fprintf(stderr, "no temporary folder\n");
    return 1;
  }
  TForm1::Services services;
  services.Dialogs = std::make_shared<QuietDialogs>();
  services.Midi = std::make_shared<vlx::FakeMidiService>();
  services.UsbDevicePresent = [] { return false; };
  services.AppDir = QDir(folder.path()).absolutePath().toStdString() + "/";

  TForm1 form(services);
  if (width > 0) form.resize(width, form.height());
  form.show();
  QApplication::processEvents();
  if (!form.grab().save(out)) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(out));
    return 1;
  }
  return 0;
}
