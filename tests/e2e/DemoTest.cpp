// The demo's wiring: its folder, and the window it builds with the virtual
// controller plugged in.
#include <gtest/gtest.h>

#include <QLocale>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include "profile/Settings.h"
#include "support/FormFixture.h"
#include "tools/demo/DemoServices.h"

namespace {

// Sets an environment variable for one scope and puts the old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) setenv(name, value, 1);
    else unsetenv(name);
  }
  ~ScopedEnv() {
    if (old_) setenv(name_, old_->c_str(), 1);
    else unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(Demo, KeepsItsFilesInAFolderOfItsOwn) {
  TempDir dir;
  {
    ScopedEnv data("XDG_DATA_HOME", (dir.Path + "data").c_str());
    EXPECT_EQ(vlx::demo::DemoFolder(), dir.Path + "data/vellox-demo/");
    EXPECT_TRUE(std::filesystem::is_directory(dir.Path + "data/vellox-demo"));
  }
  {
    // A relative XDG_DATA_HOME does not count.
    ScopedEnv data("XDG_DATA_HOME", "relative");
    ScopedEnv home("HOME", (dir.Path + "home").c_str());
    EXPECT_EQ(vlx::demo::DemoFolder(), dir.Path + "home/.local/share/vellox-demo/");
    EXPECT_TRUE(std::filesystem::is_directory(dir.Path + "home/.local/share/vellox-demo"));
  }
  {
    ScopedEnv data("XDG_DATA_HOME", nullptr);
    ScopedEnv home("HOME", nullptr);
    EXPECT_THROW(vlx::demo::DemoFolder(), std::runtime_error);
  }
  {
    // A file where the folder should be.
    WriteBytes(dir.Path + "vellox-demo", {0x41});
    ScopedEnv data("XDG_DATA_HOME", dir.Path.c_str());
    EXPECT_THROW(vlx::demo::DemoFolder(), std::runtime_error);
  }
}

TEST(Demo, TheWindowFindsTheVirtualControllerAndTalksToIt) {
  QLocale::setDefault(QLocale::c());
  TempDir dir;
  auto dialogs = std::make_shared<FakeDialogs>();
  auto device = std::make_shared<vlx::VirtualControllerService>();
  TForm1 w(vlx::demo::MakeServices(dialogs, device, dir.Path));
  ASSERT_TRUE(PumpUntil([&] { return w.LbConnect->text() == "Connect"; }));
  EXPECT_EQ(w.LbVersions->text(), "FW: V1.05");
  EXPECT_TRUE(dialogs->Errors.empty());
  EXPECT_EQ(w.ProfilePath, dir.Path + "customer.cus");
  EXPECT_EQ(vlx::ReadIniString(dir.Path + "System.ini", "System", "FilePath"), dir.Path + "customer.cus");

  // SYNC TO FW reaches the controller and is acknowledged.
  w.EdtValue->setText("99");
  dialogs->Answers = {true};
  Click(w.BtnSyncFw);
  ASSERT_TRUE(PumpUntil([&] { return !dialogs->Notices.empty(); }));
  EXPECT_EQ(dialogs->Notices.back(), "      Editor data successfully synchronized to the device.     ");
  EXPECT_EQ(device->Controller().Profile()[16], 99);

  // The monitor shows what the controller plays.
  device->PlayShort(0xB0, 0x07, 0x40);
  EXPECT_TRUE(PumpUntil([&] { return w.LbStatus->text() == "176"; }));
  EXPECT_EQ(w.LbData1->text(), "7");
  EXPECT_EQ(w.LbData2->text(), "64");
}

}  // namespace
