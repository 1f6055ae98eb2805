// Whether the editor's window is running and listening to the controller,
// as another program sees it in the MIDI service's port listing.
#pragma once

#include <string>
#include <vector>

#include "midi/MidiService.h"

namespace vlx {

// The editor's MIDI client name. On the ALSA sequencer every open port of
// the editor belongs to a client of this name; JACK gives further clients
// of the same name the names "VLX210-01", "VLX210-02", ...
inline constexpr const char* EditorClientName = "VLX210";

// Whether the editor is running and has the controller's ports open, judged
// from the ports a MIDI service lists (the editor's MIDI client is "VLX210";
// on JACK its open ports have clients "VLX210-01", "VLX210-02", ...). The
// editor's input port, which takes every dump the controller sends, is
// listed among the outputs of another program, its output port among the
// inputs: either one counts.
bool EditorIsConnected(const std::vector<MidiPortId>& inputs, const std::vector<MidiPortId>& outputs);

}  // namespace vlx
