// The editor: one window, the MIDI service of the machine, the USB check of
// the kernel's device list. Command-line arguments are ignored.
#include <QApplication>

#include "app/Dialogs.h"
#include "app/Unit1.h"
#include "app/UsbCheck.h"
#include "midi/RtMidiService.h"
#include "profile/Settings.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(ApplicationTitle);

  TForm1::Services services;
  services.Dialogs = std::make_shared<QtDialogs>();
  services.Midi = vlx::CreateRtMidiService(vlx::MidiApiChoice::Auto);
  services.UsbDevicePresent = [] { return vlx::UsbDevicePresent(); };
  services.AppDir = vlx::ExecutableDir();
  services.StartMidiAfterFirstPaint = true;  // the window first, then the MIDI service

  TForm1 form(services);
  form.show();
  return app.exec();
}
