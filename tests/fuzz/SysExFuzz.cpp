// Any bytes from a MIDI input port: through the port layer's collection of
// SysEx messages (a message longer than the port layer keeps arrives cut),
// the codec, the tokens and the three recognisers, into the table, and the
// dump that then goes out.
//
// Input: byte 0 is the size of the pieces the service hands over (0: all in
// one piece). Byte 1 from F8 on makes the input long without a long input:
// 16 KiB to 128 KiB of data bytes follow the first byte that arrives (in
// pieces of at least 1 KiB). The rest are the bytes that arrive.
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "midi/FakeMidiService.h"
#include "midi/Midi.h"
#include "profile/ParaTable.h"
#include "sync/SysEx.h"

namespace {

std::string Hex2(uint8_t b) {
  static const char digits[] = "0123456789ABCDEF";
  return {digits[b >> 4], digits[b & 15]};
}

struct Rig {
  vlx::FakeMidiService service;
  std::string inKey = service.AddInput("vellox");
  std::string outKey = service.AddOutput("vellox");
  std::atomic<int32_t> probe{0};
  vlx::TMidiInput in{service};
  vlx::TMidiOutput out{service, probe};

  // State of one run, as the window holds it.
  vlx::TParaTable table;
  vlx::TRxTokens tokens;
  int messages = 0;

  Rig() {
    in.OnSysExData = [this](int32_t port, vlx::TByteStream& stream) { SysEx(port, stream); };
    in.OnMidiData = [](int32_t port, uint8_t status, uint8_t, uint8_t) {
      VLX_FUZZ_CHECK(port == 0);
      VLX_FUZZ_CHECK(status >= 0x80 && status != 0xF0 && status != 0xF7);
    };
    in.Open(0);
    out.Open(0);
  }

  void SysEx(int32_t port, vlx::TByteStream& stream) {
    ++messages;
    const std::vector<uint8_t> bytes = stream.Bytes;  // the message as delivered
    const size_t n = bytes.size();
    VLX_FUZZ_CHECK(port == 0);
    VLX_FUZZ_CHECK(stream.Position == 0);
    VLX_FUZZ_CHECK(n >= 2 && n <= vlx::MaxSysExSize);
    VLX_FUZZ_CHECK(bytes.front() == 0xF0);
    // A whole message, F0 to its one F7, or the first MaxSysExSize bytes of a
    // longer one, without its F7.
    const bool cut = bytes.back() != 0xF7;
    VLX_FUZZ_CHECK(cut ? n == vlx::MaxSysExSize && std::find(bytes.begin(), bytes.end(), 0xF7) == bytes.end()
                       : std::find(bytes.begin(), bytes.end() - 1, 0xF7) == bytes.end() - 1);

    tokens.fill("junk");
    const vlx::TSysExKind kind = vlx::TokenizeSysEx(stream, tokens);
    VLX_FUZZ_CHECK(stream.Bytes == bytes && stream.Position == 0);
    for (size_t i = 0; i < tokens.size(); ++i)
      VLX_FUZZ_CHECK(i < n ? tokens[i] == Hex2(bytes[i]) : tokens[i].empty());

    const auto at = [&](size_t i) { return i < n ? int(bytes[i]) : -1; };
    const bool identity = at(0) == 0xF0 && at(1) == 0x7E && at(3) == 0x06 && at(5) == 0x1A && at(6) == 0x34 &&
                          at(9) == 0xF7;
    const bool ack = at(0) == 0xF0 && at(1) == 0x34 && at(2) == 0x01 && at(3) == 0x00 && at(4) == 0x09 &&
                     at(5) == 0xF7;
    const bool dump = at(0) == 0xF0 && at(1) == 0x34 && at(2) == 0x01 && at(3) == 0x27 && at(43) == 0xF7;
    VLX_FUZZ_CHECK(kind.IdentityReply == identity && kind.DumpAck == ack && kind.ParameterDump == dump);
    VLX_FUZZ_CHECK(!cut || !(identity || ack || dump));  // a cut message is never one of the controller's
    if (identity) VLX_FUZZ_CHECK(vlx::FirmwareVersion(tokens) == 100 * at(7) + at(8));
    if (!dump) return;

    // The dump goes into the table as received ...
    vlx::ApplyDump(tokens, table);
    int t = 4;
    for (int r = 1; r <= 16; ++r) VLX_FUZZ_CHECK(table[r].Value == at(t++));
    for (int r = 17; r <= 21; ++r) {
      VLX_FUZZ_CHECK(table[r].Value == at(t++));
      VLX_FUZZ_CHECK(table[r].Channel == at(t++));
      VLX_FUZZ_CHECK(table[r].DataType == at(t++));
    }
    for (int i = 0; i < 8; ++i) VLX_FUZZ_CHECK(table.GlobalBlock()[i] == at(t++));

    // ... and the next dump sent from it carries data bytes only.
    const std::string text = vlx::BuildDumpText(table);
    VLX_FUZZ_CHECK(text.size() == 143);
    service.ClearSent();
    out.SendSysEx(0, text);
    const auto sent = service.Sent(outKey);
    VLX_FUZZ_CHECK(sent.size() == 1 && sent[0].size() == 47);
    const auto& wire = sent[0];
    VLX_FUZZ_CHECK(wire[0] == 0xF0 && wire[1] == 0x34 && wire[2] == 0x00 && wire[3] == 0x27 && wire[43] == 0xF7);
    for (int i = 0; i < 39; ++i) VLX_FUZZ_CHECK(wire[4 + i] == std::min(at(4 + i), 127));
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Rig rig;
  if (size < 3) return 0;
  size_t chunk = data[0];
  std::vector<uint8_t> bytes(data + 2, data + size);
  if (data[1] >= 0xF8) {
    const size_t longer = size_t(data[1] - 0xF7) * 16 * 1024;
    bytes.insert(bytes.begin() + 1, longer, 0x11);
    if (chunk != 0) chunk = std::max<size_t>(chunk, 1024);
  }

  // Each run starts from a port with nothing collected and the factory table.
  rig.in.Close(0);
  rig.in.Open(0);
  vlx::ApplyFactoryValues(rig.table);
  rig.messages = 0;

  rig.service.Inject(rig.inKey, bytes, chunk);
  VLX_FUZZ_CHECK(rig.messages <= static_cast<int>(std::count(bytes.begin(), bytes.end(), 0xF7)));
  // What waits for its F7 stays bounded.
  VLX_FUZZ_CHECK(rig.in.SysExBuffer(0).Stream.Size() <= vlx::MaxSysExSize);
  return 0;
}
