// Text for a terminal and for the user: what comes from a file or from the
// device never reaches a terminal as control characters, and a failed file
// operation is told with the system's reason.
#pragma once

#include <string>
#include <string_view>

namespace vlx {

// The text with every control character shown escaped: C0 and DEL as \xHH
// (\n too unless keepNewlines), C1 (U+0080..U+009F) as \u00HH, a byte that
// is no part of valid UTF-8 as \xHH, and the backslash as \\. Everything
// else is kept as it is.
std::string TerminalSafe(std::string_view text, bool keepNewlines = false);

// The text as the characters of a JSON string (without the quotes): valid
// UTF-8 whatever the bytes, with '"', '\', C0, DEL and C1 escaped as \uXXXX
// or the short forms; a byte that is no part of valid UTF-8 is read as the
// Latin-1 character of that number.
void AppendJsonChars(std::string& out, std::string_view text);

// JSON text (valid UTF-8, as nlohmann writes it) with DEL and the C1
// characters, which JSON lets stand as they are, escaped as \u007f..\u009f
// too: the same document, safe on a terminal.
std::string JsonWithControlsEscaped(std::string_view json);

// "PATH: <the system's reason>", and for a missing folder the folder:
// "out/x.json: No such file or directory (there is no folder out)".
std::string FileErrorText(const std::string& path, int err);

}  // namespace vlx
