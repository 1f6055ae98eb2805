#include "midi/HexCodec.h"

namespace vlx {

namespace {

// "0" and any character that is not a hexadecimal digit read as 0.
uint8_t DigitValue(char c) {
  if (c >= '1' && c <= '9') return static_cast<uint8_t>(c - '0');
  if (c >= 'A' && c <= 'F') return static_cast<uint8_t>(c - 'A' + 10);
  if (c >= 'a' && c <= 'f') return static_cast<uint8_t>(c - 'a' + 10);
  return 0;
}

}  // namespace

void BytesToHexText(TByteStream& stream, std::string& text) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  text.clear();
  stream.Position = 0;
  text.reserve(stream.Size() * 3);
  for (uint8_t b : stream.Bytes) {
    text.push_back(kDigits[b >> 4]);
    text.push_back(kDigits[b & 0x0F]);
    text.push_back(' ');
  }
}

void HexTextToBytes(const std::string& text, TByteStream& stream) {
  std::string digits;
  digits.reserve(text.size());
  for (char c : text)
    if (c != ' ') digits.push_back(c);  // only the blank goes; a tab stays and reads as 0

  // One byte fewer than the complete digit pairs: the last pair is never
  // converted (every message text ends in "F7 00 00 00 00", so F7 00 00 00 go
  // out). A text too short for that gives an empty stream.
  const std::size_t pairs = digits.size() / 2;
  const std::size_t count = pairs > 0 ? pairs - 1 : 0;

  stream.Bytes.assign(count, 0);
  stream.Position = 0;
  for (std::size_t k = 0; k < count; ++k)
    stream.Bytes[k] = static_cast<uint8_t>(DigitValue(digits[2 * k]) * 16 + DigitValue(digits[2 * k + 1]));
}

}  // namespace vlx
