// Telling the editor's own MIDI clients from those of other programs: the
// RtMidi backend leaves them out of its listings, other programs look for
// them (session/EditorPresence.h).
#pragma once

#include <string>

namespace vlx {

// Whether a client name is the editor's own: its name, or its name followed
// by "-" and digits.
bool IsOwnClient(const std::string& client, const std::string& ownClientName);

}  // namespace vlx
