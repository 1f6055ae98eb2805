#include "session/EditorPresence.h"

#include <algorithm>
#include <string>

namespace vlx {

namespace {

// "VLX210", or "VLX210-" followed by digits.
bool IsEditorClient(const std::string& name) {
  static const std::string editor = "VLX210";
  if (name.compare(0, editor.size(), editor) != 0) return false;
  if (name.size() == editor.size()) return true;
  if (name[editor.size()] != '-' || name.size() == editor.size() + 1) return false;
  return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(editor.size()) + 1, name.end(),
                     [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

bool EditorIsConnected(const std::vector<MidiPortId>& inputs, const std::vector<MidiPortId>& outputs) {
  const auto editors = [](const MidiPortId& p) { return IsEditorClient(p.Name); };
  // The editor's open input is listed among the outputs others may send to,
  // and its open output among the inputs.
  return std::any_of(inputs.begin(), inputs.end(), editors) && std::any_of(outputs.begin(), outputs.end(), editors);
}

}  // namespace vlx
