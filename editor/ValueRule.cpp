#include "editor/ValueRule.h"

#include "profile/ProfileFile.h"

namespace vlx {

int32_t ValueTextRule(const std::string& text) {
  if (text.empty()) return 0;
  std::size_t i = 0;
  bool negative = false;
  if (text[0] == '-' || text[0] == '+') {
    negative = text[0] == '-';
    i = 1;
  }
  if (i == text.size()) throw EVlxError("'" + text + "' is not a valid integer value");
  int64_t v = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') throw EVlxError("'" + text + "' is not a valid integer value");
    if (v <= 127) v = v * 10 + (c - '0');
  }
  if (negative) return 0;  // a pasted negative number counts as 0
  return v > 127 ? 127 : static_cast<int32_t>(v);
}

bool ValueKeyPasses(char16_t key) { return key == 3 || key == 8 || key == 13 || key == 22 || (key >= '0' && key <= '9'); }

}  // namespace vlx
