#include "session/ControllerPorts.h"

#include "platform/UsbCheck.h"

namespace vlx {

std::string ControllerUsbIdText() {
  // "USB\VID_2F1B&PID_0A07": the vendor after "VID_", the product after "PID_".
  const std::string_view id = ControllerUsbId;
  const auto vid = id.find("VID_"), pid = id.find("PID_");
  return std::string(id.substr(vid + 4, 4)) + ":" + std::string(id.substr(pid + 4, 4));
}

bool IsFallbackPortName(std::string_view name) { return name.substr(0, FallbackPortPrefix.size()) == FallbackPortPrefix; }

bool IsControllerPortName(std::string_view name) { return name == ControllerPortName || IsFallbackPortName(name); }

std::string ControllerCauseText(ControllerCause cause) {
  const std::string id = ControllerUsbIdText(), name(ControllerPortName);
  switch (cause) {
    case ControllerCause::NoMidiService:
      return "No MIDI service: the ALSA sequencer cannot be opened and no JACK server is running.";
    case ControllerCause::NoInputPort:
      return "No MIDI input port at all: is the controller plugged in?";
    case ControllerCause::NoUsbDevice:
      return "MIDI ports are there, but no USB device " + id + ": is the controller plugged in?";
    case ControllerCause::NoControllerPort:
      return "The USB device " + id + " is there, but no MIDI port named \"" + name + "\".";
    case ControllerCause::NoAnswer:
      return "The controller's ports are open, but it did not answer the identity request.";
    case ControllerCause::Connected:
      return "The controller answers.";
    case ControllerCause::Found:
      break;
  }
  return "Asking the controller for its identity.";
}

TPortChoice ChooseControllerPorts(const std::vector<std::string>& inputs, const std::vector<std::string>& outputs,
                                  const std::function<bool()>& usbPresent, const std::string& portName) {
  TPortChoice c;
  const bool named = !portName.empty();
  const std::string_view wanted = named ? std::string_view(portName) : ControllerPortName;
  const auto count = [](const std::vector<std::string>& v) { return static_cast<int32_t>(v.size()); };

  // The first output of the name, and every input of it.
  for (int32_t i = 0; i < count(outputs); ++i) {
    if (outputs[static_cast<std::size_t>(i)] == wanted) {
      c.Outputs.push_back(i);
      c.Mode = 1;
      break;
    }
  }
  if (c.Mode == 1 || named) {
    for (int32_t i = 0; i < count(inputs); ++i)
      if (inputs[static_cast<std::size_t>(i)] == wanted) c.Inputs.push_back(i);
  } else {
    // No output of the name: every port whose name begins with "USB".
    for (int32_t i = 0; i < count(outputs); ++i)
      if (IsFallbackPortName(outputs[static_cast<std::size_t>(i)])) c.Outputs.push_back(i);
    for (int32_t i = 0; i < count(inputs); ++i)
      if (IsFallbackPortName(inputs[static_cast<std::size_t>(i)])) c.Inputs.push_back(i);
    if (!c.Outputs.empty() || !c.Inputs.empty()) c.Mode = 2;
  }

  if (!named && inputs.empty()) {
    c.Cause = ControllerCause::NoInputPort;
  } else if (!named && usbPresent && !usbPresent()) {
    c.Cause = ControllerCause::NoUsbDevice;
  } else if (c.Outputs.empty() && c.Inputs.empty()) {
    c.Cause = ControllerCause::NoControllerPort;
  }
  return c;
}

int32_t OutputOfAnsweringInput(const std::vector<std::string>& outputs, const std::string& inputName,
                               int32_t current) {
  for (std::size_t i = 0; i < outputs.size(); ++i)
    if (outputs[i] == inputName) current = static_cast<int32_t>(i);
  return current;
}

}  // namespace vlx
