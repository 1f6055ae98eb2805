// The editor: one window, the MIDI service of the machine, the USB check of
// the kernel's device list. Command-line arguments are ignored.
#include <pwd.h>
#include <unistd.h>

#include <QApplication>
#include <cstdlib>

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

  TForm1 form(services);
  form.show();
  return app.exec();
}
