// VLX210_MIDI_Editor_demo: the editor with a virtual vellox plugged in
// in-process. Its settings and profiles live in a folder of its own (see
// DemoFolder), never beside the real editor. Arguments are ignored.
#include <QApplication>
#include <cstdio>
#include <exception>

#include "tools/demo/DemoServices.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(ApplicationTitle);

  std::string folder;
  try {
    folder = vlx::demo::DemoFolder();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "VLX210_MIDI_Editor_demo: %s\n", e.what());
    QtDialogs().Error(nullptr, QString::fromStdString(e.what()) + '.');
    return 1;
  }
  std::printf("VLX210_MIDI_Editor_demo: a virtual controller is plugged in; files are kept in %s\n", folder.c_str());
  std::fflush(stdout);

  // The controller outlives the window, which closes its ports first.
  auto device = std::make_shared<vlx::VirtualControllerService>();
  TForm1 form(vlx::demo::MakeServices(std::make_shared<QtDialogs>(), device, folder));
  form.setWindowTitle(form.windowTitle() + " (demo)");
  form.show();
  return app.exec();
}
