// vellox-cli doctor: the checks of session/Doctor.h on this machine.
#pragma once

#include <string>

namespace vlx::cli {

struct DoctorArgs {
  std::string Port;         // --port
  int TimeoutMs = 1000;     // --timeout
  bool NoUsbCheck = false;  // --no-usb-check
  std::string Api = "auto"; // --midi-api: auto, alsa or jack
};

// Prints one line per check on stdout; returns the exit code (0: all ok, 2:
// a problem).
int Doctor(const DoctorArgs& args);

}  // namespace vlx::cli
