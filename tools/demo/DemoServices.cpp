#include "tools/demo/DemoServices.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace vlx::demo {

std::string DemoFolder() {
  namespace fs = std::filesystem;
  fs::path base;
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data != nullptr && fs::path(data).is_absolute()) {
    base = data;
  } else {
    const char* home = std::getenv("HOME");
    if (home == nullptr || !fs::path(home).is_absolute())
      throw std::runtime_error("Neither XDG_DATA_HOME nor HOME names a folder for the demo's files");
    base = fs::path(home) / ".local" / "share";
  }
  const fs::path folder = base / "vellox-demo";
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (!fs::is_directory(folder))
    throw std::runtime_error("Cannot create the demo's folder " + folder.string() + (ec ? ": " + ec.message() : ""));
  return folder.string() + "/";
}

TForm1::Services MakeServices(std::shared_ptr<IDialogs> dialogs, std::shared_ptr<VirtualControllerService> device,
                              const std::string& folder) {
  TForm1::Services s;
  s.Dialogs = std::move(dialogs);
  s.Midi = std::move(device);
  s.UsbDevicePresent = [] { return true; };
  s.AppDir = folder;
  return s;
}

}  // namespace vlx::demo
