// Input nobody here controls: bytes from whatever is plugged in, and profile
// files from anywhere. Each case has a defined result, and nothing outside
// 0..127 ever goes out in a dump.
#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "midi/FakeMidiService.h"
#include "midi/Midi.h"
#include "profile/ParaTable.h"
#include "profile/ProfileFile.h"
#include "support/TempDir.h"
#include "sync/SysEx.h"

using namespace vlx;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Dump(uint8_t fill) {
  Bytes d = {0xF0, 0x34, 0x01, 0x27};
  d.insert(d.end(), 39, fill);
  d.push_back(0xF7);
  return d;
}

Bytes Message(std::size_t size) {  // F0, data bytes, F7: size bytes in all
  Bytes m(size, 0x11);
  m.front() = 0xF0;
  m.back() = 0xF7;
  return m;
}

// One input port, what reaches the SysEx handler, and a table the handler
// writes received dumps into, as the window does.
struct Receiver {
  FakeMidiService service;
  std::string key = service.AddInput("vellox");
  std::string outKey = service.AddOutput("vellox");
  std::atomic<int32_t> probe{0};
  TMidiInput in{service};
  TMidiOutput out{service, probe};
  std::vector<Bytes> delivered;
  std::vector<uint8_t> statuses;
  TRxTokens tokens;
  TParaTable table;

  Receiver() {
    ApplyFactoryValues(table);
    in.OnSysExData = [this](int32_t, TByteStream& s) {
      delivered.push_back(s.Bytes);
      if (TokenizeSysEx(s, tokens).ParameterDump) ApplyDump(tokens, table);
    };
    in.OnMidiData = [this](int32_t, uint8_t status, uint8_t, uint8_t) { statuses.push_back(status); };
    in.Open(0);
    out.Open(0);
  }
  void Play(const Bytes& bytes, std::size_t chunk = 0) { ASSERT_TRUE(service.Inject(key, bytes, chunk)); }

  // The dump that SYNC TO FW would send now, as it reaches the port.
  Bytes SentDump() {
    service.ClearSent();
    out.SendSysEx(0, BuildDumpText(table));
    const auto sent = service.Sent(outKey);
    return sent.size() == 1 ? sent[0] : Bytes{};
  }
};

void ExpectDataBytesOnly(const Bytes& wire) {
  ASSERT_EQ(wire.size(), 47u);
  EXPECT_EQ(Bytes(wire.begin(), wire.begin() + 4), Bytes({0xF0, 0x34, 0x00, 0x27}));
  EXPECT_EQ(Bytes(wire.begin() + 43, wire.end()), Bytes({0xF7, 0x00, 0x00, 0x00}));
  for (std::size_t i = 4; i < 43; ++i) EXPECT_LE(wire[i], 0x7F) << "body byte " << i - 4;
}

}  // namespace

// An F0 whose F7 never comes holds at most MaxSysExSize bytes, however much
// follows, and the next message is received as if nothing had happened.
TEST(HostileInput, ASysExMessageWithoutItsEndStaysBoundedAndTheNextOneGetsThrough) {
  for (std::size_t chunk : {std::size_t(0), std::size_t(2048), std::size_t(1)}) {
    SCOPED_TRACE("pieces of " + std::to_string(chunk));
    Receiver r;
    Bytes endless(chunk == 1 ? 100000 : 1 << 20, 0x11);
    endless[0] = 0xF0;
    r.Play(endless, chunk);
    r.Play(Bytes(3 * MaxSysExSize, 0x22), chunk == 0 ? 0 : 4096);  // and it goes on
    EXPECT_TRUE(r.delivered.empty());
    EXPECT_LE(r.in.SysExBuffer(0).Stream.Size(), MaxSysExSize);

    r.Play(Dump(0x40), chunk == 1 ? 1 : 0);
    ASSERT_EQ(r.delivered.size(), 1u);
    EXPECT_EQ(r.delivered[0], Dump(0x40));
    EXPECT_EQ(r.table[17].Value, 0x40);
    EXPECT_TRUE(r.in.SysExBuffer(0).Stream.Bytes.empty());
  }
}

// A status byte ends an unfinished message: it is dropped, the short message
// goes to the monitor.
TEST(HostileInput, AStatusByteDropsTheUnfinishedMessage) {
  Receiver r;
  Bytes unfinished = Dump(0x40);
  unfinished.pop_back();
  r.Play(unfinished);
  r.Play({0x90, 0x3C, 0x64});
  r.Play({0x10, 0x20, 0xF7});  // its would-be end
  EXPECT_TRUE(r.delivered.empty());
  EXPECT_EQ(r.statuses, std::vector<uint8_t>{0x90});
  EXPECT_EQ(r.table[1].Value, 30);
}

TEST(HostileInput, LongMessages) {
  struct Case {
    std::size_t size, chunk;
  };
  // Every message replaces the tokens with its first 50 bytes: 60 bytes is a
  // message like any other; 100,000 bytes is longer than any message of the
  // controller's and arrives cut to its first MaxSysExSize bytes.
  const Case cases[] = {{60, 0}, {60, 7}, {100000, 0}, {100000, 2048}, {100000, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.size) + " bytes in pieces of " + std::to_string(c.chunk));
    Receiver r;
    r.Play(Dump(0x40));
    Bytes m = Message(c.size);
    for (std::size_t i = 1; i < 50; ++i) m[i] = static_cast<uint8_t>(i);
    r.Play(m, c.chunk);
    ASSERT_EQ(r.delivered.size(), 2u);
    const std::size_t kept = std::min(c.size, MaxSysExSize);
    EXPECT_EQ(r.delivered[1], Bytes(m.begin(), m.begin() + kept));
    EXPECT_EQ(r.tokens[0], "F0");
    EXPECT_EQ(r.tokens[43], "2B") << "the dump's tokens are gone";
    EXPECT_EQ(r.tokens[49], "31");
    EXPECT_EQ(r.table[17].Value, 0x40) << "and nothing else changes";
    EXPECT_TRUE(r.in.SysExBuffer(0).Stream.Bytes.empty()) << "nothing is kept after the F7";
    r.Play(Dump(0x05));
    EXPECT_EQ(r.delivered.back(), Dump(0x05));
    EXPECT_EQ(r.table[21].DataType, 5);
  }
}

// Data bytes above 7F are no MIDI, but a dump of them is stored as received;
// the next dump sent from that table carries data bytes only.
TEST(HostileInput, ADumpFullOfFFGoesOutAsDataBytes) {
  Receiver r;
  r.Play(Dump(0xFF));
  ASSERT_EQ(r.delivered.size(), 1u);
  EXPECT_EQ(r.table[1].Value, 255);
  EXPECT_EQ(r.table[20].Channel, 255);
  EXPECT_EQ(r.table.GlobalBlock()[KeyChannel], 255);
  const Bytes wire = r.SentDump();
  ExpectDataBytesOnly(wire);
  EXPECT_EQ(wire[4], 0x7F);
  EXPECT_EQ(wire[42], 0x7F);
}

// A file of records whose name lengths are 255 and whose integers are the
// extremes: names of 80 characters, the upper limits, negatives as they are,
// and a dump of data bytes only (negatives go out as 0, the rest as 7F).
TEST(HostileInput, AProfileOfLongNamesAndExtremeIntegers) {
  std::vector<uint8_t> file(ProfileSize, 0);
  for (int k = 0; k < ControlCount; ++k) {
    uint8_t* rec = &file[RecordSize * k];
    rec[0] = 255;
    std::memset(rec + 1, 'N', 80);
    rec[81] = 255;
    std::memset(rec + 82, 'E', 80);
    const int32_t extreme = k % 2 ? INT_MAX : INT_MIN;
    for (std::size_t at = 164; at < RecordSize; at += 4) std::memcpy(rec + at, &extreme, 4);
  }
  TempDir dir;
  WriteBytes(dir.File("hostile.cus"), file);
  Receiver r;
  LoadProfileFile(dir.File("hostile.cus"), r.table);

  for (int n = 1; n <= ControlCount; ++n) {
    SCOPED_TRACE(n);
    const TParaRecord& rec = r.table[n];
    EXPECT_EQ(rec.Name.str(), std::string(80, 'N'));
    EXPECT_EQ(rec.NameEditorText.str(), std::string(80, 'E'));
    const bool max = (n - 1) % 2;
    EXPECT_EQ(rec.Value, max ? 127 : INT_MIN);
    EXPECT_EQ(rec.Channel, max ? 15 : INT_MIN);
    EXPECT_EQ(rec.DataType, max ? 6 : INT_MIN);
    EXPECT_EQ(rec.ControlMode, max ? INT_MAX : INT_MIN);
    EXPECT_EQ(rec.Globals[7], max ? INT_MAX : INT_MIN);
  }
  const std::string text = BuildDumpText(r.table);
  EXPECT_EQ(text.size(), 143u);
  const Bytes wire = r.SentDump();
  ExpectDataBytesOnly(wire);
  EXPECT_EQ(wire[4 + 0], 0x00) << "record 1's value is INT_MIN";
  EXPECT_EQ(wire[4 + 1], 0x7F) << "record 2's value is limited to 127";
  EXPECT_EQ(wire[4 + 31], 0x00) << "ARP mode of record 1 is INT_MIN";

  // Saved and loaded again, the table is the same.
  WriteProfileFile(dir.File("again.cus"), r.table);
  TParaTable again;
  LoadProfileFile(dir.File("again.cus"), again);
  EXPECT_EQ(EncodeProfile(again), EncodeProfile(r.table));
}
