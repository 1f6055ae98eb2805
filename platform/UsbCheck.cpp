#include "platform/UsbCheck.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>

namespace vlx {

namespace {

// The first word of a small sysfs attribute file, or empty.
std::string ReadAttribute(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::string word;
  if (!(in >> word)) return {};
  std::transform(word.begin(), word.end(), word.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return word;
}

}  // namespace

bool UsbDevicePresent(const std::string& devicesDir, std::string_view prefix) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::directory_iterator it(devicesDir, ec), end;
  bool found = false;
  for (; !ec && it != end; it.increment(ec)) {
    const std::string vid = ReadAttribute(it->path() / "idVendor");
    const std::string pid = ReadAttribute(it->path() / "idProduct");
    if (vid.empty() || pid.empty()) continue;
    const std::string id = "USB\\VID_" + vid + "&PID_" + pid;
    if (id.size() >= prefix.size() && std::string_view(id).substr(0, prefix.size()) == prefix) found = true;
  }
  return found;
}

}  // namespace vlx
