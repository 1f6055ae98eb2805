// The System Exclusive messages exchanged with the controller.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "midi/HexCodec.h"
#include "profile/ParaTable.h"

namespace vlx {

// "00 " .. "7F ": two upper-case digits and a blank for 0..127.
extern const std::array<std::string, 128> ByteHexText;

// The tokens of the last received SysEx message: two upper-case digits per
// byte, the first 50 bytes; empty beyond the end of the message.
using TRxTokens = std::array<std::string, 50>;

// Messages the editor sends, as hex text.
inline constexpr const char* IdentityRequestText = "F0 7E 00 06 01 F7 00 00 00 00";
inline constexpr const char* DumpRequestText = "F0 34 00 00 08 F7 00 00 00 00";

// What the commands that need the controller say while it is marked offline.
inline constexpr const char* DeviceDisconnectedText = "       The Device is disconnected, please check!     ";

// Cuts a hex text (as BytesToHexText writes it) into the 50 tokens.
void CutTokens(const std::string& text, TRxTokens& tokens);

// The three recognisers, tested in this order on every message.
bool IsIdentityReply(const TRxTokens& t);
bool IsDumpAck(const TRxTokens& t);
bool IsParameterDump(const TRxTokens& t);

// What a received message was recognised as.
struct TSysExKind {
  bool IdentityReply = false;
  bool DumpAck = false;
  bool ParameterDump = false;
};

// Cuts a received message into the tokens (replacing all 50 of them) and
// applies the three recognisers. The stream's position is set to 0.
TSysExKind TokenizeSysEx(TByteStream& stream, TRxTokens& tokens);

// 100 x token 7 + token 8 of an identity reply.
int32_t FirmwareVersion(const TRxTokens& t);

// The parameter dump text of the table: 143 characters, "F0 34 00 27 ", 39
// body bytes (profile/Fields.h: DumpLayout), "F7 00 00 00 00". A number
// outside 0..127 is brought into it (DumpByte): -1, a list without a
// selection, goes out as 0.
std::string BuildDumpText(const TParaTable& table);

// Writes the 39 body bytes of a received dump (tokens 4..42) into the table,
// as received.
void ApplyDump(const TRxTokens& t, TParaTable& table);

}  // namespace vlx
