#include <gtest/gtest.h>

#include "midi/HexCodec.h"

namespace {

using vlx::TByteStream;
using Bytes = std::vector<uint8_t>;

Bytes Decode(const std::string& text) {
  TByteStream stream;
  stream.Bytes = {0xAA, 0xBB, 0xCC, 0xDD, 0xEE};  // replaced, never appended to
  stream.Position = 3;
  vlx::HexTextToBytes(text, stream);
  EXPECT_EQ(stream.Position, 0u) << text;
  return stream.Bytes;
}

struct DecodeCase {
  const char* text;
  Bytes bytes;
};

TEST(HexTextToBytes, LeavesOutTheLastPairAndReadsOddCharactersAsZero) {
  const DecodeCase cases[] = {
      // The identity request: ten byte texts, nine bytes (F7 and three 00).
      {"F0 7E 00 06 01 F7 00 00 00 00", {0xF0, 0x7E, 0x00, 0x06, 0x01, 0xF7, 0x00, 0x00, 0x00}},
      // L = 21 gives 9 bytes as well: the odd digit is ignored.
      {"F0 7E 00 06 01 F7 00 00 00 00 5", {0xF0, 0x7E, 0x00, 0x06, 0x01, 0xF7, 0x00, 0x00, 0x00}},
      {"f0 7e 00 00", {0xF0, 0x7E, 0x00}},
      {"F07E", {0xF0}},
      {"  F 0   7 E  ", {0xF0}},  // blanks anywhere
      {"F0", {}},
      {"F07", {}},
      {"", {}},
      {"   ", {}},
      {"7", {}},
      {"G1 00", {0x01}},   // G counts as 0
      {"xz 00", {0x00}},
      {"ab CD eF 00", {0xAB, 0xCD, 0xEF}},
      // A tab is no blank: it takes a digit's place and shifts every later pair.
      {"F0\t7E 00 00", {0xF0, 0x07, 0xE0}},
      {"F0\n7E 00", {0xF0, 0x07}},
  };
  for (const auto& c : cases) EXPECT_EQ(Decode(c.text), c.bytes) << '"' << c.text << '"';
}

TEST(HexTextToBytes, TooShortTextGivesEmptyBufferWithoutTouchingMemory) {
  // Run under AddressSanitizer this also shows no read outside the text.
  for (const char* text : {"", "F", "F0", "F07", " F 0 7 "}) {
    TByteStream stream;
    vlx::HexTextToBytes(text, stream);
    EXPECT_EQ(stream.Size(), 0u) << text;
  }
}

TEST(BytesToHexText, TwoUpperCaseDigitsAndABlankPerByte) {
  TByteStream stream;
  stream.Bytes = {0x00, 0x0A, 0x7F, 0xF0, 0xFF};
  stream.Position = 4;
  std::string text = "old text";
  vlx::BytesToHexText(stream, text);
  EXPECT_EQ(text, "00 0A 7F F0 FF ");
  EXPECT_EQ(stream.Position, 0u);

  TByteStream empty;
  vlx::BytesToHexText(empty, text);
  EXPECT_EQ(text, "");
}

TEST(HexCodec, RoundTripGivesAllButTheLastByte) {
  TByteStream all;
  for (int b = 0; b < 256; ++b) all.Bytes.push_back(static_cast<uint8_t>(b));
  std::string text;
  vlx::BytesToHexText(all, text);
  ASSERT_EQ(text.size(), 256u * 3);

  TByteStream back;
  vlx::HexTextToBytes(text, back);
  EXPECT_EQ(back.Bytes, Bytes(all.Bytes.begin(), all.Bytes.end() - 1));
}

}  // namespace
