#include "session/EditorPresence.h"

#include <algorithm>

#include "midi/ClientNames.h"

namespace vlx {

bool EditorIsConnected(const std::vector<MidiPortId>& inputs, const std::vector<MidiPortId>& outputs) {
  const auto editors = [](const MidiPortId& p) { return IsOwnClient(p.Name, EditorClientName); };
  return std::any_of(inputs.begin(), inputs.end(), editors) || std::any_of(outputs.begin(), outputs.end(), editors);
}

}  // namespace vlx
