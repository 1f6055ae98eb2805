// The second half of the installed-editor test, run as the same user as the
// installed editor: with the program folder of the installed tree, the
// folder choice of the program entry gives the user's folder; the window
// opens there without an error, finds the byte-exact factory profile that
// the installed editor wrote, and a control is selected, changed and saved.
//
//   vlx_edit_in_user_folder <installed bin folder>
//
// Exit status 0 when all holds; otherwise each failure is printed.
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/SettingsFolder.h"
#include "profile/ParaTable.h"
#include "profile/ProfileFile.h"
#include "support/FormFixture.h"

namespace {

int failures = 0;

void Check(bool ok, const std::string& what) {
  if (ok) return;
  std::fprintf(stderr, "FAILED: %s\n", what.c_str());
  ++failures;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: vlx_edit_in_user_folder <installed bin folder>\n");
    return 2;
  }
  QApplication app(argc, argv);

  const std::string user = vlx::UserSettingsFolder(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
  const std::string folder = vlx::ChooseSettingsFolder(argv[1], "", user);
  Check(!user.empty() && folder == user, "the settings folder is the user's: " + folder);

  vlx::TParaTable factory;
  vlx::ApplyFactoryValues(factory);
  const std::string profile = folder + "customer.cus";
  Check(ReadBytes(profile) == vlx::EncodeProfile(factory), "the installed editor wrote the factory profile");

  auto dialogs = std::make_shared<FakeDialogs>();
  TForm1::Services s;
  s.Dialogs = dialogs;
  s.Midi = std::make_shared<vlx::FakeMidiService>();
  s.UsbDevicePresent = [] { return false; };
  s.AppDir = folder;
  {
    TForm1 w(s);
    w.show();
    Check(dialogs->Errors.empty(), "no error box at start-up" +
                                       (dialogs->Errors.empty() ? "" : ": " + dialogs->Errors[0].toStdString()));
    Check(w.ProfilePath == profile, "the profile is the user's customer.cus: " + w.ProfilePath);
    Check(w.CurrentControl == 17 && w.BtnParaName->text() == "Slider", "control 17 is on show");

    Click(w.mCode[5]);
    Check(w.CurrentControl == 5 && w.BtnParaName->text() == "A|PAD5", "pad 5 is selected");
    w.EdtValue->setText("99");
    Click(w.BtnSave);
    Check(dialogs->Errors.empty(), "SAVE shows no error");
    Check(dialogs->Notices.size() == 1, "SAVE announces the save");
  }
  vlx::TParaTable saved;
  vlx::LoadProfileFile(profile, saved);
  Check(saved[5].Value == 99, "pad 5's value 99 is in the user's customer.cus");
  Check(saved[1].Name.str() == "A|PAD1" && saved[17].Value == 7 && saved.GlobalBlock()[vlx::Beat] == 3,
        "the other controls keep the factory profile");
  return failures == 0 ? 0 : 1;
}
