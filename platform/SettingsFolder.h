// Where the editor keeps System.ini and its default profile. A copy run from
// a folder of its own keeps them beside the program; an installed program,
// whose folder the user cannot write, keeps them in a folder of the user's.
#pragma once

#include <string>

namespace vlx {

// The per-user folder: $XDG_CONFIG_HOME/vellox/, or $HOME/.config/vellox/
// when XDG_CONFIG_HOME is unset, empty or not an absolute path. Empty when
// neither names an absolute folder. Ends in '/'.
std::string UserSettingsFolder(const char* xdgConfigHome, const char* home);

// The folder for System.ini and customer.cus, ending in '/':
// - programDir when it already holds a System.ini (a portable copy);
// - userFolder when programDir is systemProgramDir, the folder the editor is
//   installed to (so that root starting it never leaves files there);
// - programDir when this process may create files in it;
// - userFolder otherwise, or programDir when userFolder is empty.
// userFolder is created with its missing parents (mode 0700) when it is
// chosen; a folder that cannot be created is still returned, and the first
// write into it reports the failure.
std::string ChooseSettingsFolder(const std::string& programDir, const std::string& systemProgramDir,
                                 const std::string& userFolder);

}  // namespace vlx
