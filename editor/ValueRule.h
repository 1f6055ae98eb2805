// The rules of the editor's value box, without the window.
#pragma once

#include <cstdint>
#include <string>

namespace vlx {

// The placeholder of the name box; stored as NameEditorText, never as Name.
inline constexpr const char* NamePlaceholder = "[NAME]";

// The value box's text as a MIDI number: empty gives 0, above 127 gives 127,
// below 0 gives 0. A text that is not a whole decimal number raises
// EVlxError "'<text>' is not a valid integer value".
int32_t ValueTextRule(const std::string& text);

// Whether a typed character reaches the value box: copy (3), Backspace (8),
// Enter (13), paste (22) and the digits.
bool ValueKeyPasses(char16_t key);

}  // namespace vlx
