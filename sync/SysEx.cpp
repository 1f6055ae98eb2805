#include "sync/SysEx.h"

#include <algorithm>

#include "profile/Fields.h"

namespace vlx {

namespace {

std::array<std::string, 128> MakeByteHexText() {
  static const char digits[] = "0123456789ABCDEF";
  std::array<std::string, 128> t;
  for (int i = 0; i < 128; ++i) t[i] = {digits[i >> 4], digits[i & 15], ' '};
  return t;
}

int HexValue(const std::string& token) {
  int v = 0;
  for (char c : token) {
    v <<= 4;
    if (c >= '0' && c <= '9') v |= c - '0';
    else if (c >= 'A' && c <= 'F') v |= c - 'A' + 10;
    else if (c >= 'a' && c <= 'f') v |= c - 'a' + 10;
  }
  return v;
}

}  // namespace

const std::array<std::string, 128> ByteHexText = MakeByteHexText();

void CutTokens(const std::string& text, TRxTokens& tokens) {
  std::size_t pos = 0;
  for (auto& token : tokens) {
    if (pos < text.size()) {
      token.assign(text, pos, 2);
      pos += 3;
    } else {
      token.clear();
    }
  }
}

bool IsIdentityReply(const TRxTokens& t) {
  return t[0] == "F0" && t[1] == "7E" && t[3] == "06" && t[5] == "1A" && t[6] == "34" && t[9] == "F7";
}

bool IsDumpAck(const TRxTokens& t) {
  return t[0] == "F0" && t[1] == "34" && t[2] == "01" && t[3] == "00" && t[4] == "09" && t[5] == "F7";
}

bool IsParameterDump(const TRxTokens& t) {
  return t[0] == "F0" && t[1] == "34" && t[2] == "01" && t[3] == "27" && t[43] == "F7";
}

TSysExKind TokenizeSysEx(TByteStream& stream, TRxTokens& tokens) {
  // Only the first 50 bytes become tokens; the text of a longer message is
  // never needed whole.
  TByteStream head;
  const std::size_t n = std::min<std::size_t>(stream.Size(), tokens.size());
  head.Bytes.assign(stream.Memory(), stream.Memory() + n);
  stream.Position = 0;
  std::string text;
  BytesToHexText(head, text);
  CutTokens(text, tokens);
  return {IsIdentityReply(tokens), IsDumpAck(tokens), IsParameterDump(tokens)};
}

int32_t FirmwareVersion(const TRxTokens& t) { return 100 * HexValue(t[7]) + HexValue(t[8]); }

std::string BuildDumpText(const TParaTable& table) {
  std::string body;
  body.reserve(DumpBodySize * 3);
  for (const TField& f : DumpLayout()) body += ByteHexText[DumpByte(FieldValue(table, f))];
  return "F0 34 00 27 " + body + "F7 00 00 00 00";
}

void ApplyDump(const TRxTokens& t, TParaTable& table) {
  // Body byte b is token b + 4.
  for (std::size_t b = 0; b < DumpBodySize; ++b) SetFieldValue(table, DumpLayout()[b], HexValue(t[b + 4]));
}

}  // namespace vlx
