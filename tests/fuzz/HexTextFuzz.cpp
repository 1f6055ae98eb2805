// HexTextToBytes on any text, checked against a model of the conversion, and
// the round trip bytes -> text -> bytes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "midi/HexCodec.h"

namespace {

// "0" and every character that is not a hexadecimal digit count as 0.
int ModelDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return 0;
}

bool IsUpperHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  // The stream is caller-owned and not empty before: it must be replaced.
  vlx::TByteStream stream;
  stream.Bytes.assign(7, 0xEE);
  stream.Position = 5;
  vlx::HexTextToBytes(text, stream);

  std::string digits;
  for (char c : text)
    if (c != ' ') digits.push_back(c);
  const std::size_t pairs = digits.size() / 2;
  const std::size_t expected = pairs > 0 ? pairs - 1 : 0;
  VLX_FUZZ_CHECK(stream.Position == 0);
  VLX_FUZZ_CHECK(stream.Size() == expected);
  for (std::size_t k = 0; k < expected; ++k)
    VLX_FUZZ_CHECK(stream.Bytes[k] == ModelDigit(digits[2 * k]) * 16 + ModelDigit(digits[2 * k + 1]));

  // Bytes to text: three characters a byte, upper-case digits and a blank.
  std::string back;
  vlx::BytesToHexText(stream, back);
  VLX_FUZZ_CHECK(stream.Position == 0);
  VLX_FUZZ_CHECK(back.size() == 3 * stream.Size());
  for (std::size_t i = 0; i < back.size(); ++i)
    VLX_FUZZ_CHECK(i % 3 == 2 ? back[i] == ' ' : IsUpperHex(back[i]));

  // Where the text spelled hexadecimal digits, the text read back spells the
  // same digits in upper case.
  for (std::size_t i = 0; i < 2 * expected; ++i) {
    const char c = digits[i];
    const char got = back[i / 2 * 3 + i % 2];
    if (IsUpperHex(c)) VLX_FUZZ_CHECK(got == c);
    else if (c >= 'a' && c <= 'f') VLX_FUZZ_CHECK(got == c - 'a' + 'A');
    else VLX_FUZZ_CHECK(got == '0');
  }

  // Text to bytes again: the last pair is never converted, so one more pair
  // gives back every byte.
  vlx::TByteStream again;
  vlx::HexTextToBytes(back + "00", again);
  VLX_FUZZ_CHECK(again.Bytes == stream.Bytes);
  return 0;
}
