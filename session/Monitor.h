// The command-line monitor: every message that arrives on the controller's
// input ports, decoded into one line of text or JSON. The MIDI thread only
// appends to a queue bounded in bytes; the printing thread takes everything that has
// arrived at once, so a flood of messages costs one lock per message on the
// MIDI thread and nothing is lost or reordered while the queue has room.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace vlx {

// Kinds of message, for filtering (bits of TMonitorFilter::Kinds).
enum MonitorKind : uint32_t {
  KindNote = 1u << 0,       // note on, note off
  KindPolyPressure = 1u << 1,
  KindControl = 1u << 2,    // control change
  KindProgram = 1u << 3,
  KindPressure = 1u << 4,   // channel pressure
  KindBend = 1u << 5,       // pitch bend
  KindSysEx = 1u << 6,
  KindSystem = 1u << 7,     // system common: song position, song select, tune request, time code
  KindRealtime = 1u << 8,   // clock, start, continue, stop, reset (active sensing only when asked for)
  KindAll = (1u << 9) - 1,
};

// "note", "poly-pressure", "cc", "program", "pressure", "bend", "sysex",
// "system", "realtime"; 0 for an unknown name.
uint32_t MonitorKindOfName(const std::string& name);
const char* MonitorKindNames();  // the names above, for help texts

enum class MonitorStyle {
  Decoded,  // "ch 1 note on C4 (60) velocity 100"
  Dec,      // "144 60 100", as the window shows it in DEC
  Hex,      // "90 3C 64", as the window shows it in HEX
  Json,     // one JSON object per line
};

struct TMonitorEvent {
  int32_t Port = 0;
  uint8_t Short[3] = {};      // a short message: status, data1, data2
  std::vector<uint8_t> SysEx;  // a SysEx message, F0..F7 (Short unused)
};

struct TMonitorFilter {
  uint32_t Kinds = KindAll;
  bool KindsGiven = false;    // active sensing only shows when kinds were named
  uint16_t Channels = 0xFFFF;  // bit c-1 for channel c (1..16)
};

// The note name, "C4" for 60 (C-1 is 0).
std::string NoteName(int note);

// Whether the event passes the filter; appends its line (with '\n') when so.
bool FormatMonitorEvent(const TMonitorEvent& e, MonitorStyle style, const TMonitorFilter& filter,
                        const std::vector<std::string>& portNames, std::string& out);

class TMonitorQueue {
 public:
  // budget: the bytes the queued events may hold, each counted as
  // sizeof(TMonitorEvent) plus its SysEx bytes; an event beyond it is dropped.
  explicit TMonitorQueue(std::size_t budget = 32u << 20) : budget_(budget) {}

  // The MIDI thread's side; never blocks for long, never allocates for a
  // short message once the queue has grown.
  void PushShort(int32_t port, uint8_t status, uint8_t data1, uint8_t data2);
  void PushSysEx(int32_t port, const uint8_t* data, std::size_t size);

  // Everything that has arrived, oldest first, waiting up to `wait` for the
  // first event. The vector handed in is reused.
  void TakeAll(std::vector<TMonitorEvent>& out, std::chrono::milliseconds wait);
  // The bytes the queued events hold now (at most the budget).
  std::size_t Bytes();
  // Events refused because the queue was full.
  uint64_t Dropped() const { return dropped_; }
  uint64_t Pushed() const { return pushed_; }

 private:
  bool Room(std::size_t cost);  // mutex_ held; counts the cost in when there is room

  const std::size_t budget_;
  std::size_t bytes_ = 0;  // guarded by mutex_
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<TMonitorEvent> queue_;  // guarded by mutex_
  std::atomic<uint64_t> dropped_{0};
  std::atomic<uint64_t> pushed_{0};
  bool waiting_ = false;  // guarded by mutex_
};

}  // namespace vlx
