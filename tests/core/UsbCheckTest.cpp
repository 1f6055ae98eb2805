#include <filesystem>

#include <gtest/gtest.h>

#include "platform/UsbCheck.h"
#include "support/TempDir.h"

using namespace vlx;

namespace {
void Device(const TempDir& root, const std::string& name, const std::string& vid, const std::string& pid) {
  std::filesystem::create_directories(root.File(name));
  if (!vid.empty()) WriteBytes(root.File(name + "/idVendor"), std::vector<uint8_t>(vid.begin(), vid.end()));
  if (!pid.empty()) WriteBytes(root.File(name + "/idProduct"), std::vector<uint8_t>(pid.begin(), pid.end()));
}
}  // namespace

TEST(UsbCheck, FindsTheControllerAmongTheDevices) {
  TempDir root;
  Device(root, "usb1", "1d6b\n", "0002\n");
  Device(root, "1-0:1.0", "", "");  // an interface: no ids
  EXPECT_FALSE(UsbDevicePresent(root.Path));
  Device(root, "1-1", "2f1b\n", "0a07\n");
  EXPECT_TRUE(UsbDevicePresent(root.Path));
}

TEST(UsbCheck, OtherIdsAndMissingFoldersAreNoController) {
  TempDir root;
  Device(root, "1-1", "2f1b\n", "0a08\n");
  Device(root, "1-2", "2f1c\n", "0a07\n");
  EXPECT_FALSE(UsbDevicePresent(root.Path));
  EXPECT_FALSE(UsbDevicePresent(root.File("does-not-exist")));
  EXPECT_TRUE(UsbDevicePresent(root.Path, "USB\\VID_2F1B&PID_0A0")) << "the comparison is on the prefix";
}
