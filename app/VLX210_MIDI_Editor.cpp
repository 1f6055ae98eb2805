// The editor: one window, the MIDI service of the machine, the USB check of
// the kernel's device list. The command line may name a profile to open;
// --help and --version print without opening a window.
#include <pwd.h>
#include <unistd.h>

#include <QApplication>
#include <QFile>
#include <cstdio>
#include <cstdlib>

#include "app/CommandLine.h"
#include "app/Dialogs.h"
#include "platform/SettingsFolder.h"
#include "app/Unit1.h"
#include "platform/UsbCheck.h"
#include "midi/DeferredMidiService.h"
#include "midi/RtMidiService.h"
#include "profile/Settings.h"

namespace {

// The folder of System.ini and customer.cus: beside the program for a copy
// in a folder of its own, the user's configuration folder for an installed
// program.
std::string SettingsFolder() {
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] != '/') {
    if (const passwd* pw = ::getpwuid(::geteuid())) home = pw->pw_dir;
  }
  return vlx::ChooseSettingsFolder(vlx::ExecutableDir(), VLX_INSTALL_FULL_BINDIR,
                                   vlx::UserSettingsFolder(std::getenv("XDG_CONFIG_HOME"), home));
}

}  // namespace

int main(int argc, char** argv) {
  // Before Qt: --help and --version need no display.
  const std::string program = vlx::ProgramName(argc > 0 ? argv[0] : nullptr, "vellox-editor");
  const vlx::TEditorCommandLine cl = vlx::ParseEditorCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  switch (cl.What) {
    case vlx::TEditorCommandLine::Action::Help:
      std::fputs(vlx::EditorUsage(program).c_str(), stdout);
      return 0;
    case vlx::TEditorCommandLine::Action::Version:
      std::fputs(vlx::EditorVersionLine(program, VLX_VERSION).c_str(), stdout);
      return 0;
    case vlx::TEditorCommandLine::Action::Error:
      std::fprintf(stderr, "%s: %s\n%s", program.c_str(), cl.Error.c_str(), vlx::EditorUsage(program).c_str());
      return 1;
    case vlx::TEditorCommandLine::Action::Run:
      break;
  }

  QApplication app(argc, argv);
  QApplication::setApplicationName(ApplicationTitle);
  QGuiApplication::setDesktopFileName(QStringLiteral(VLX_DESKTOP_ID));

  TForm1::Services services;
  services.Dialogs = std::make_shared<QtDialogs>();
  // Reached by the first listing, after the first paint.
  services.Midi = std::make_shared<vlx::TDeferredMidiService>(
      [] { return vlx::CreateRtMidiService(vlx::MidiApiChoice::Auto); });
  services.UsbDevicePresent = [] { return vlx::UsbDevicePresent(); };
  services.AppDir = SettingsFolder();
  services.StartMidiAfterFirstPaint = true;  // the window first, then the MIDI service
  // The file name as the file system has it, held as UTF-8 like every path.
  if (!cl.File.empty()) services.OpenAtStart = QFile::decodeName(cl.File.c_str()).toStdString();

  TForm1 form(services);
  form.show();
  return app.exec();
}
