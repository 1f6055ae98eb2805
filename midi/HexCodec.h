// System Exclusive messages as hexadecimal text, and back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vlx {

// The port layer's in-memory byte buffer.
struct TByteStream {
  std::vector<uint8_t> Bytes;
  std::size_t Position = 0;

  std::size_t Size() const { return Bytes.size(); }
  uint8_t* Memory() { return Bytes.data(); }
  const uint8_t* Memory() const { return Bytes.data(); }
};

// Two upper-case digits and one blank per byte ("F0 7E 00 "); text is
// replaced; the stream's position is set to 0.
void BytesToHexText(TByteStream& stream, std::string& text);

// Blanks are ignored, lower case counts as upper case, any other character
// reads as the digit 0. The byte count is (L div 2) - 1 for L digits left
// after the blanks: the last complete pair is never converted. A text of
// fewer than four digits gives an empty stream. Position is set to 0.
void HexTextToBytes(const std::string& text, TByteStream& stream);

}  // namespace vlx
