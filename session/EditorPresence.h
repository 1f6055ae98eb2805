// Whether the editor runs with the controller's ports open, seen from
// another program's MIDI service.
#pragma once

#include <vector>

#include "midi/MidiService.h"

namespace vlx {
// Whether the editor is running and has the controller's ports open, judged from the ports a MIDI service lists
// (the editor's MIDI client is "VLX210"; on JACK its open ports have clients "VLX210-01", "VLX210-02", ...).
bool EditorIsConnected(const std::vector<MidiPortId>& inputs, const std::vector<MidiPortId>& outputs);
}  // namespace vlx
