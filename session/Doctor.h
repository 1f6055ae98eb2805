// vellox-cli doctor: why a program sees no controller. Checks, in order, the
// sequencer device, the MIDI service, the USB device, the controller's
// ports, its identity answer, a dump request and whether the editor has the
// controller open; one line each, with what to do for a problem.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "midi/MidiService.h"

namespace vlx {

// The user whose access to the sequencer device is judged.
struct TUserIdentity {
  uint32_t Uid = 0;
  std::string Name;
  std::vector<uint32_t> Groups;  // primary and supplementary groups of the process
  // This process's own identity: the kernel is asked too, so that access
  // granted otherwise than by the mode bits (an ACL a desktop gives the
  // logged-in user) counts.
  bool IsProcess = false;
};
TUserIdentity CurrentUser();

struct TGroupInfo {
  std::string Name;                  // empty: unknown group
  std::vector<std::string> Members;  // as the group database lists them
};
TGroupInfo LookUpGroup(uint32_t gid);

// One USB device of the controller's id, as sysfs lists it.
struct TUsbDeviceInfo {
  std::string Path;            // the entry under the devices folder
  std::string Vendor, Product;  // idVendor and idProduct, upper case
  std::string Name;            // manufacturer and product strings, where given
};
// Every device of the controller's USB id under devicesDir.
std::vector<TUsbDeviceInfo> FindControllerUsbDevices(const std::string& devicesDir);

// A MIDI service the doctor reached, and how it is called for the user.
struct TDoctorService {
  std::shared_ptr<IMidiService> Service;
  std::string What;  // "the ALSA sequencer", "the JACK server"
};

struct TDoctorOptions {
  // The ALSA sequencer's device; not checked when CheckSequencer is false
  // (JACK chosen).
  std::string SequencerDevice = "/dev/snd/seq";
  bool CheckSequencer = true;
  TUserIdentity User;
  std::function<TGroupInfo(uint32_t gid)> Group = LookUpGroup;
  // Reaches the MIDI service; whether the sequencer device may be used is
  // passed in. Throws EMidiError with a sentence for the user when there is
  // none.
  std::function<TDoctorService(bool sequencerUsable)> Connect;
  std::string UsbDevicesDir = "/sys/bus/usb/devices";
  bool UsbCheck = true;  // false: a virtual controller, found by its ports
  std::string PortName;  // empty: "vellox", then "USB..." as the editor finds it
  std::chrono::milliseconds Timeout{1000};
};

enum class DoctorVerdict { Ok, Problem, NotChecked };

struct TDoctorLine {
  DoctorVerdict Verdict;
  std::string Check;   // "sequencer device", "MIDI service", ...
  std::string Found;   // what was found
  std::string Advice;  // for a problem: what to do
};

// Runs every check; each line goes to report as soon as it is known.
// Returns the lines.
std::vector<TDoctorLine> RunDoctor(const TDoctorOptions& options,
                                   const std::function<void(const TDoctorLine&)>& report = {});

// One line: "ok       CHECK: FOUND", "PROBLEM  CHECK: FOUND -- ADVICE",
// "-        CHECK: FOUND".
std::string FormatDoctorLine(const TDoctorLine& line);

// 0 when every check holds, 2 otherwise.
int DoctorExitCode(const std::vector<TDoctorLine>& lines);

}  // namespace vlx
