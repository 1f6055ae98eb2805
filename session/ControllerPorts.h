// Which MIDI ports are the controller's, and why there is no controller to
// talk to: one choice for the window's discovery, its re-plug watcher and
// the session of vellox-cli.
//
// The controller's input and output ports are named "vellox". Without an
// output of that name, every port whose name begins with "USB" (three
// capital letters) is taken, and the output that has the name of the input
// that answers the identity request is used. The controller's USB device,
// 2F1B:0A07, must be present too (platform/UsbCheck.h).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vlx {

inline constexpr std::string_view ControllerPortName = "vellox";
inline constexpr std::string_view FallbackPortPrefix = "USB";
// The controller's USB vendor and product id (platform/UsbCheck.h) as lsusb
// writes it: "2F1B:0A07".
std::string ControllerUsbIdText();

// "USB MIDI", "USB2.0-MIDI"; not "usb midi" or "US".
bool IsFallbackPortName(std::string_view name);
// "vellox" or a fallback name: a port that may be the controller's.
bool IsControllerPortName(std::string_view name);

// What stands between the editor and the controller, in the order the
// checks are made.
enum class ControllerCause {
  Found,             // ports chosen (Connected once the identity reply came)
  NoMidiService,     // neither the ALSA sequencer nor a JACK server
  NoInputPort,       // the MIDI service lists no input port at all
  NoUsbDevice,       // ports, but no USB device 2F1B:0A07
  NoControllerPort,  // the USB device, but no port named "vellox" (or "USB...")
  NoAnswer,          // the ports are open, the identity request unanswered
  Connected,         // the controller answered
};

// A sentence for the user: what is missing, or that the controller answers.
std::string ControllerCauseText(ControllerCause cause);

struct TPortChoice {
  // The first failed check, or Found. The port lists below hold the choice
  // by name whatever the checks found.
  ControllerCause Cause = ControllerCause::Found;
  // 0: no output of the name and no fallback port; 1: the output of the
  // name was found; 2: ports beginning with "USB" were taken.
  int32_t Mode = 0;
  // Mode 1: the first output of the name; mode 2: every "USB" output.
  std::vector<int32_t> Outputs;
  // Mode 1 (or a port named by the user): every input of the name; mode 2:
  // every "USB" input.
  std::vector<int32_t> Inputs;
};

// Chooses among the port names (in the service's order). With portName
// empty: the controller's name, with the fallback, and the checks: no input
// port at all, then the USB check (asked only when there is an input port;
// unset: not made), then whether any port was chosen. With portName given:
// exactly the ports of that name, no fallback and no checks but the last.
TPortChoice ChooseControllerPorts(const std::vector<std::string>& inputs, const std::vector<std::string>& outputs,
                                  const std::function<bool()>& usbPresent, const std::string& portName = {});

// In mode 2, the output whose name is the name of the input that delivered
// the identity reply (the last of several), or current when there is none.
int32_t OutputOfAnsweringInput(const std::vector<std::string>& outputs, const std::string& inputName, int32_t current);

}  // namespace vlx
