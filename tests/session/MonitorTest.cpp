// The monitor's decoding and its queue under a flood from the in-process
// virtual controller.
#include "session/Monitor.h"

#include <gtest/gtest.h>

#include "VirtualControllerService.h"
#include "session/Session.h"

namespace vlx {
namespace {

using namespace std::chrono_literals;

std::string Line(std::vector<uint8_t> bytes, MonitorStyle style, TMonitorFilter filter = {}) {
  TMonitorEvent e;
  e.Port = 0;
  if (bytes[0] == 0xF0) {
    e.SysEx = bytes;
  } else {
    for (std::size_t i = 0; i < 3 && i < bytes.size(); ++i) e.Short[i] = bytes[i];
  }
  std::string out;
  FormatMonitorEvent(e, style, filter, {"vellox"}, out);
  return out;
}

TEST(Monitor, DecodesEveryKindOfMessage) {
  struct Case {
    std::vector<uint8_t> Bytes;
    const char* Decoded;
    const char* Json;
  };
  const Case cases[] = {
      {{0x90, 60, 100}, "ch 1 note on C4 (60) velocity 100",
       R"({"port":"vellox","kind":"note on","channel":1,"note":60,"note_name":"C4","velocity":100,"bytes":[144,60,100]})"},
      {{0x8F, 0, 64}, "ch 16 note off C-1 (0) velocity 64", nullptr},
      {{0x91, 61, 0}, "ch 2 note on C#4 (61) velocity 0", nullptr},
      {{0xB3, 7, 127}, "ch 4 control change controller 7 value 127",
       R"({"port":"vellox","kind":"control change","channel":4,"controller":7,"value":127,"bytes":[179,7,127]})"},
      {{0xC0, 5}, "ch 1 program change program 5",
       R"({"port":"vellox","kind":"program change","channel":1,"program":5,"bytes":[192,5]})"},
      {{0xE0, 0x00, 0x40}, "ch 1 pitch bend +0", nullptr},
      {{0xE1, 0x7F, 0x7F}, "ch 2 pitch bend +8191",
       R"({"port":"vellox","kind":"pitch bend","channel":2,"bend":8191,"bytes":[225,127,127]})"},
      {{0xE0, 0x00, 0x00}, "ch 1 pitch bend -8192", nullptr},
      {{0xD2, 33}, "ch 3 channel pressure pressure 33", nullptr},
      {{0xA0, 127, 1}, "ch 1 poly pressure G9 (127) pressure 1", nullptr},
      {{0xF8}, "clock", R"({"port":"vellox","kind":"clock","bytes":[248]})"},
      {{0xF2, 0x01, 0x01}, "song position 129", nullptr},
      {{0xF0, 0x7E, 0x00, 0x06, 0x01, 0xF7}, "sysex F0 7E 00 06 01 F7 (6 bytes)",
       R"({"port":"vellox","kind":"sysex","hex":"F0 7E 00 06 01 F7","length":6})"},
      // Delivered without its F7: cut, or damaged on the way.
      {{0xF0, 0x7E, 0x00}, "sysex F0 7E 00 (3 bytes, cut or damaged: its end is missing)",
       R"({"port":"vellox","kind":"sysex","hex":"F0 7E 00","length":3,"cut":true})"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Line(c.Bytes, MonitorStyle::Decoded), std::string(c.Decoded) + "\n");
    if (c.Json) {
      EXPECT_EQ(Line(c.Bytes, MonitorStyle::Json), std::string(c.Json) + "\n");
    }
  }
  // The raw bytes as the window's three boxes show them.
  EXPECT_EQ(Line({0x90, 60, 100}, MonitorStyle::Dec), "144 60 100\n");
  EXPECT_EQ(Line({0x90, 60, 100}, MonitorStyle::Hex), "90 3C 64\n");
  EXPECT_EQ(Line({0xC0, 5}, MonitorStyle::Hex), "C0 05 00\n");
  EXPECT_EQ(Line({0xF0, 0x01, 0xF7}, MonitorStyle::Dec), "240 1 247\n");
}

TEST(Monitor, FiltersByKindAndChannel) {
  TMonitorFilter notes;
  notes.Kinds = KindNote;
  notes.KindsGiven = true;
  EXPECT_NE(Line({0x90, 1, 1}, MonitorStyle::Dec, notes), "");
  EXPECT_EQ(Line({0xB0, 1, 1}, MonitorStyle::Dec, notes), "");
  TMonitorFilter ch2;
  ch2.Channels = 1u << 1;
  EXPECT_NE(Line({0x91, 1, 1}, MonitorStyle::Dec, ch2), "");
  EXPECT_EQ(Line({0x90, 1, 1}, MonitorStyle::Dec, ch2), "");
  EXPECT_EQ(Line({0xF0, 1, 0xF7}, MonitorStyle::Dec, ch2), "");
  // System and real-time messages belong to no channel either.
  EXPECT_EQ(Line({0xF8}, MonitorStyle::Dec, ch2), "");
  EXPECT_EQ(Line({0xF2, 1, 1}, MonitorStyle::Dec, ch2), "");
  // Active sensing is left out unless real-time messages were asked for.
  EXPECT_EQ(Line({0xFE}, MonitorStyle::Dec), "");
  TMonitorFilter realtime;
  realtime.Kinds = KindRealtime;
  realtime.KindsGiven = true;
  EXPECT_EQ(Line({0xFE}, MonitorStyle::Decoded, realtime), "active sensing\n");
  EXPECT_EQ(MonitorKindOfName("bend"), KindBend);
  EXPECT_EQ(MonitorKindOfName("bends"), 0u);
}

// Every message of a flood arrives once and in order, SysEx messages in
// their places among the short ones.
TEST(Monitor, LosesAndReordersNothingInAFlood) {
  auto service = std::make_shared<VirtualControllerService>();
  TSessionOptions o;
  o.UsbPresent = [] { return true; };
  TSession session(service, o);
  TMonitorQueue queue;
  session.OpenInputs([&](int32_t port, uint8_t s, uint8_t d1, uint8_t d2) { queue.PushShort(port, s, d1, d2); },
                     [&](int32_t port, TByteStream& st) { queue.PushSysEx(port, st.Memory(), st.Size()); });

  constexpr int N = 200000;  // 2^18 different messages: 16 channels x 128 x 128
  std::thread player([&] {
    for (int i = 0; i < N; ++i) {
      if (i % 50000 == 0) service->PlayRaw({0xF0, 0x7D, static_cast<uint8_t>(i / 50000), 0xF7});
      service->PlayShort(static_cast<uint8_t>(0x90 | ((i >> 14) & 15)), (i >> 7) & 127, i & 127);
    }
  });
  std::vector<TMonitorEvent> events;
  int next = 0, sysex = 0;
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  while ((next < N || sysex < 4) && std::chrono::steady_clock::now() < deadline) {
    queue.TakeAll(events, 20ms);
    for (const TMonitorEvent& e : events) {
      if (!e.SysEx.empty()) {
        ASSERT_EQ(e.SysEx, (std::vector<uint8_t>{0xF0, 0x7D, static_cast<uint8_t>(sysex), 0xF7}));
        ASSERT_EQ(next, sysex * 50000) << "a SysEx message out of its place";
        ++sysex;
        continue;
      }
      const int got = (e.Short[0] & 15) << 14 | e.Short[1] << 7 | e.Short[2];
      ASSERT_EQ(got, next) << "lost or reordered";
      ++next;
    }
  }
  player.join();
  EXPECT_EQ(next, N);
  EXPECT_EQ(sysex, 4);
  EXPECT_EQ(queue.Dropped(), 0u);
  session.Close();
}

// The queue holds at most its budget in bytes, SysEx bytes counted: a flood
// of large messages that nobody takes is dropped and counted, not kept.
TEST(Monitor, AFullQueueCountsWhatItDrops) {
  TMonitorQueue queue(3 * sizeof(TMonitorEvent));
  for (int i = 0; i < 5; ++i) queue.PushShort(0, 0x90, static_cast<uint8_t>(i), 1);
  std::vector<TMonitorEvent> events;
  queue.TakeAll(events, 0ms);
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[2].Short[1], 2);
  EXPECT_EQ(queue.Dropped(), 2u);

  constexpr std::size_t Budget = 100000;
  TMonitorQueue big(Budget);
  std::vector<uint8_t> sysex(30000, 0x11);
  sysex.front() = 0xF0;
  sysex.back() = 0xF7;
  for (int i = 0; i < 1000; ++i) big.PushSysEx(0, sysex.data(), sysex.size());
  EXPECT_EQ(big.Dropped(), 997u);
  EXPECT_LE(big.Bytes(), Budget);
  big.TakeAll(events, 0ms);
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].SysEx, sysex);
  EXPECT_EQ(big.Bytes(), 0u);
  // Taken, the budget is free again; a message larger than all of it never fits.
  big.PushSysEx(0, sysex.data(), sysex.size());
  std::vector<uint8_t> huge(Budget, 0x22);
  big.PushSysEx(0, huge.data(), huge.size());
  EXPECT_EQ(big.Dropped(), 998u);
  big.TakeAll(events, 0ms);
  EXPECT_EQ(events.size(), 1u);
}

}  // namespace
}  // namespace vlx
