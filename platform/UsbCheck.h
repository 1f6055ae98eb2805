// Whether the controller is plugged in, from the USB devices the kernel lists.
#pragma once

#include <string>
#include <string_view>

namespace vlx {

inline constexpr std::string_view ControllerUsbId = "USB\\VID_2F1B&PID_0A07";

// Each entry of devicesDir (normally /sys/bus/usb/devices) with idVendor and
// idProduct gives the id "USB\VID_vvvv&PID_pppp" (upper case); true when one
// begins with prefix. A missing folder means no device.
bool UsbDevicePresent(const std::string& devicesDir = "/sys/bus/usb/devices",
                      std::string_view prefix = ControllerUsbId);

}  // namespace vlx
