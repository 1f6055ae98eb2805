#include <climits>

#include <gtest/gtest.h>

#include "midi/HexCodec.h"
#include "profile/ParaTable.h"
#include "sync/SysEx.h"

using namespace vlx;

namespace {

TRxTokens TokensOf(std::vector<uint8_t> bytes) {
  TByteStream s;
  s.Bytes = std::move(bytes);
  TRxTokens t;
  t.fill("XX");  // every token is replaced
  const TSysExKind kind = TokenizeSysEx(s, t);
  EXPECT_EQ(kind.IdentityReply, IsIdentityReply(t));
  EXPECT_EQ(kind.DumpAck, IsDumpAck(t));
  EXPECT_EQ(kind.ParameterDump, IsParameterDump(t));
  return t;
}

std::vector<uint8_t> BytesOf(const std::string& text) {
  TByteStream s;
  HexTextToBytes(text, s);
  return s.Bytes;
}

}  // namespace

TEST(SysEx, ByteHexTextCoversTheDataBytes) {
  EXPECT_EQ(ByteHexText[0], "00 ");
  EXPECT_EQ(ByteHexText[15], "0F ");
  EXPECT_EQ(ByteHexText[16], "10 ");
  EXPECT_EQ(ByteHexText[127], "7F ");
}

TEST(SysEx, FactoryDumpIsTheKnownMessage) {
  TParaTable t;
  ApplyFactoryValues(t);
  const std::string text = BuildDumpText(t);
  EXPECT_EQ(text,
            "F0 34 00 27 1E 1F 20 21 22 23 24 25 26 27 28 29 2A 2B 2C 2D 07 00 04 0C 00 04 0D 00 04 0E 00 04 0F 00 04 "
            "00 02 01 00 01 00 03 00 F7 00 00 00 00");
  EXPECT_EQ(text.size(), 143u);
  EXPECT_EQ(BytesOf(text).size(), 47u);
}

TEST(SysEx, NumbersOutsideTheDataRangeAreBroughtIntoIt) {
  TParaTable t;
  const int32_t values[] = {-1, 128, 255, INT_MIN, INT_MAX, 200, -5};
  int k = 0;
  for (int n = 1; n <= 21; ++n) {
    t[n].Value = values[k++ % 7];
    t[n].Channel = values[k++ % 7];
    t[n].DataType = values[k++ % 7];
  }
  for (int i = 0; i < 8; ++i) t.GlobalBlock()[i] = values[i % 7];
  const std::string text = BuildDumpText(t);
  ASSERT_EQ(text.size(), 143u);
  EXPECT_EQ(text.substr(0, 12), "F0 34 00 27 ");
  EXPECT_EQ(text.substr(129), "F7 00 00 00 00");
  const auto bytes = BytesOf(text);
  for (std::size_t i = 4; i < 43; ++i) {
    EXPECT_TRUE(bytes[i] == 0 || bytes[i] == 0x7F) << "body byte " << i - 4 << " = " << int(bytes[i]);
  }
}

TEST(SysEx, ADumpSentAndReadBackLeavesTheCarriedFieldsUnchanged) {
  TParaTable sent;
  for (int n = 1; n <= 21; ++n) {
    sent[n].Value = (n * 37) % 128;
    sent[n].Channel = n % 16;
    sent[n].DataType = n % 6;
  }
  for (int i = 0; i < 8; ++i) sent.GlobalBlock()[i] = i * 3;
  auto bytes = BytesOf(BuildDumpText(sent));
  bytes.resize(44);  // up to and including F7
  bytes[2] = 0x01;   // as the controller sends it
  const TRxTokens tokens = TokensOf(bytes);
  ASSERT_TRUE(IsParameterDump(tokens));

  TParaTable got;
  for (int n = 1; n <= 21; ++n) {
    got[n].Name.assign("kept");
    got[n].Channel = 9;
    got[n].DataType = 9;
  }
  ApplyDump(tokens, got);
  for (int n = 1; n <= 21; ++n) {
    EXPECT_EQ(got[n].Value, sent[n].Value) << n;
    EXPECT_EQ(got[n].Name.str(), "kept");
    if (n >= 17) {
      EXPECT_EQ(got[n].Channel, sent[n].Channel) << n;
      EXPECT_EQ(got[n].DataType, sent[n].DataType) << n;
    } else {
      EXPECT_EQ(got[n].Channel, 9) << "pads carry no channel";
      EXPECT_EQ(got[n].DataType, 9) << "pads carry no data type";
    }
  }
  for (int i = 0; i < 8; ++i) EXPECT_EQ(got.GlobalBlock()[i], i * 3);
}

TEST(SysEx, ADumpFullOf7FStores127AndAnFFDumpStoresWhatCame) {
  std::vector<uint8_t> dump = {0xF0, 0x34, 0x01, 0x27};
  dump.insert(dump.end(), 39, 0x7F);
  dump.push_back(0xF7);
  TParaTable t;
  ApplyDump(TokensOf(dump), t);
  EXPECT_EQ(t[1].Value, 127);
  EXPECT_EQ(t[21].DataType, 127);
  EXPECT_EQ(t.GlobalBlock()[KeyChannel], 127);

  // The controller never sends data bytes above 7F; if one does, the table
  // holds what came, and the next dump built from it still carries data bytes.
  std::fill(dump.begin() + 4, dump.begin() + 43, 0xFF);
  ApplyDump(TokensOf(dump), t);
  EXPECT_EQ(t[5].Value, 255);
  const auto out = BytesOf(BuildDumpText(t));
  for (std::size_t i = 4; i < 43; ++i) EXPECT_EQ(out[i], 0x7F);
}

TEST(SysEx, Recognisers) {
  struct Case {
    std::vector<uint8_t> bytes;
    bool identity, ack, dump;
  };
  std::vector<uint8_t> dump = {0xF0, 0x34, 0x01, 0x27};
  dump.insert(dump.end(), 39, 0x10);
  dump.push_back(0xF7);
  std::vector<uint8_t> shortDump(dump.begin(), dump.end() - 2);
  shortDump.push_back(0xF7);
  const Case cases[] = {
      {{0xF0, 0x7E, 0x00, 0x06, 0x02, 0x1A, 0x34, 0x01, 0x05, 0xF7}, true, false, false},
      {{0xF0, 0x7E, 0x7F, 0x06, 0x55, 0x1A, 0x34, 0x7F, 0x7F, 0xF7}, true, false, false},
      {{0xF0, 0x7E, 0x00, 0x7F, 0x02, 0x1A, 0x34, 0x01, 0x05, 0xF7}, false, false, false},
      {{0xF0, 0x7E, 0x00, 0x02, 0x02, 0x1A, 0x34, 0x01, 0x05, 0xF7}, false, false, false},
      {{0xF0, 0x7E, 0x00, 0x06, 0x02, 0x1A, 0x34, 0x01, 0x05}, false, false, false},
      {{0xF0, 0x34, 0x01, 0x00, 0x09, 0xF7}, false, true, false},
      {{0xF0, 0x34, 0x02, 0x00, 0x09, 0xF7}, false, false, false},
      {{0xF0, 0x34, 0x01, 0x00, 0x09}, false, false, false},
      {dump, false, false, true},
      {shortDump, false, false, false},
      {{}, false, false, false},
  };
  for (const Case& c : cases) {
    const TRxTokens t = TokensOf(c.bytes);
    SCOPED_TRACE(testing::PrintToString(c.bytes));
    EXPECT_EQ(IsIdentityReply(t), c.identity);
    EXPECT_EQ(IsDumpAck(t), c.ack);
    EXPECT_EQ(IsParameterDump(t), c.dump);
  }
}

TEST(SysEx, TokensHoldTheFirstFiftyBytes) {
  std::vector<uint8_t> longMessage(100000);
  for (int i = 0; i < 60; ++i) longMessage[i] = static_cast<uint8_t>(i + 0xA0);  // and zeros after them
  TRxTokens t = TokensOf(longMessage);
  EXPECT_EQ(t[0], "A0");
  EXPECT_EQ(t[49], "D1");

  t = TokensOf({0xF0, 0x34, 0x01, 0x00, 0x09, 0xF7});
  EXPECT_EQ(t[5], "F7");
  for (int i = 6; i < 50; ++i) EXPECT_TRUE(t[i].empty()) << i;
}

TEST(SysEx, FirmwareVersion) {
  const std::pair<std::pair<uint8_t, uint8_t>, int> cases[] = {
      {{0x01, 0x05}, 105}, {{0x02, 0x0A}, 210}, {{0x01, 0x64}, 200}, {{0x00, 0x00}, 0}, {{0x7F, 0x7F}, 12827}};
  for (const auto& [v, n] : cases)
    EXPECT_EQ(FirmwareVersion(TokensOf({0xF0, 0x7E, 0x00, 0x06, 0x02, 0x1A, 0x34, v.first, v.second, 0xF7})), n);
}
