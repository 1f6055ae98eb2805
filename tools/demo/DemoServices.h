// The demo's wiring: the editor's window with a virtual controller plugged
// in in-process, so that every command can be tried without the hardware.
#pragma once

#include <memory>
#include <string>

#include "VirtualControllerService.h"
#include "app/Dialogs.h"
#include "app/Unit1.h"

namespace vlx::demo {

// The demo's own folder for System.ini and the profiles, ending in '/':
// $XDG_DATA_HOME/vellox-demo/, or $HOME/.local/share/vellox-demo/ when
// XDG_DATA_HOME is unset or not an absolute path. Created when missing.
// Throws std::runtime_error when there is no such folder and it cannot be
// made (for example with neither variable set).
std::string DemoFolder();

// The window's services: the given dialogs, the virtual controller as the
// MIDI service, a USB check that always finds the controller, and folder as
// the program's folder.
TForm1::Services MakeServices(std::shared_ptr<IDialogs> dialogs, std::shared_ptr<VirtualControllerService> device,
                              const std::string& folder);

}  // namespace vlx::demo
