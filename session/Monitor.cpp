#include "session/Monitor.h"

#include <cstdio>

#include "profile/TerminalText.h"

namespace vlx {

namespace {

const char* const NoteNames[12] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};

struct KindName {
  const char* Name;
  uint32_t Kind;
};
constexpr KindName KindNames[] = {{"note", KindNote},     {"poly-pressure", KindPolyPressure},
                                  {"cc", KindControl},    {"program", KindProgram},
                                  {"pressure", KindPressure}, {"bend", KindBend},
                                  {"sysex", KindSysEx},   {"system", KindSystem},
                                  {"realtime", KindRealtime}};

// Number of bytes of a short message with this status.
int ShortSize(uint8_t s) {
  if (s < 0xF0) return (s & 0xE0) == 0xC0 ? 2 : 3;
  if (s == 0xF1 || s == 0xF3) return 2;
  if (s == 0xF2) return 3;
  return 1;
}

uint32_t KindOf(uint8_t s) {
  switch (s & 0xF0) {
    case 0x80: case 0x90: return KindNote;
    case 0xA0: return KindPolyPressure;
    case 0xB0: return KindControl;
    case 0xC0: return KindProgram;
    case 0xD0: return KindPressure;
    case 0xE0: return KindBend;
    default: return s >= 0xF8 ? KindRealtime : KindSystem;
  }
}

const char* SystemName(uint8_t s) {
  switch (s) {
    case 0xF1: return "time code";
    case 0xF2: return "song position";
    case 0xF3: return "song select";
    case 0xF6: return "tune request";
    case 0xF8: return "clock";
    case 0xFA: return "start";
    case 0xFB: return "continue";
    case 0xFC: return "stop";
    case 0xFE: return "active sensing";
    case 0xFF: return "reset";
    default: return "undefined";
  }
}

void Append(std::string& out, const char* fmt, auto... args) {
  char buf[160];
  const int n = std::snprintf(buf, sizeof buf, fmt, args...);
  if (n > 0) out.append(buf, static_cast<std::size_t>(n < static_cast<int>(sizeof buf) ? n : sizeof buf - 1));
}

// A port's name comes from the MIDI system: any bytes.
void AppendJsonString(std::string& out, const std::string& s) {
  out.push_back('"');
  AppendJsonChars(out, s);
  out.push_back('"');
}

void AppendBytes(std::string& out, const uint8_t* b, std::size_t n, bool hex) {
  for (std::size_t i = 0; i < n; ++i) {
    if (i) out.push_back(' ');
    Append(out, hex ? "%02X" : "%u", b[i]);
  }
}

void FormatShortDecoded(const uint8_t* m, std::string& out) {
  const uint8_t s = m[0];
  const int ch = (s & 0x0F) + 1;
  switch (s & 0xF0) {
    case 0x80: Append(out, "ch %d note off %s (%d) velocity %d", ch, NoteName(m[1]).c_str(), m[1], m[2]); return;
    case 0x90: Append(out, "ch %d note on %s (%d) velocity %d", ch, NoteName(m[1]).c_str(), m[1], m[2]); return;
    case 0xA0: Append(out, "ch %d poly pressure %s (%d) pressure %d", ch, NoteName(m[1]).c_str(), m[1], m[2]); return;
    case 0xB0: Append(out, "ch %d control change controller %d value %d", ch, m[1], m[2]); return;
    case 0xC0: Append(out, "ch %d program change program %d", ch, m[1]); return;
    case 0xD0: Append(out, "ch %d channel pressure pressure %d", ch, m[1]); return;
    case 0xE0: Append(out, "ch %d pitch bend %+d", ch, (m[2] << 7 | m[1]) - 8192); return;
    default: break;
  }
  if (s == 0xF2) {
    Append(out, "song position %d", m[2] << 7 | m[1]);
  } else if (s == 0xF1 || s == 0xF3) {
    Append(out, "%s %d", SystemName(s), m[1]);
  } else {
    Append(out, "%s", SystemName(s));
  }
}

void FormatShortJson(const uint8_t* m, const std::string& port, std::string& out) {
  const uint8_t s = m[0];
  const int ch = (s & 0x0F) + 1;
  out += "{\"port\":";
  AppendJsonString(out, port);
  switch (s & 0xF0) {
    case 0x80:
    case 0x90:
    case 0xA0:
      Append(out, ",\"kind\":\"%s\",\"channel\":%d,\"note\":%d,\"note_name\":\"%s\",\"%s\":%d",
             (s & 0xF0) == 0x80 ? "note off" : (s & 0xF0) == 0x90 ? "note on" : "poly pressure", ch, m[1],
             NoteName(m[1]).c_str(), (s & 0xF0) == 0xA0 ? "pressure" : "velocity", m[2]);
      break;
    case 0xB0: Append(out, ",\"kind\":\"control change\",\"channel\":%d,\"controller\":%d,\"value\":%d", ch, m[1], m[2]); break;
    case 0xC0: Append(out, ",\"kind\":\"program change\",\"channel\":%d,\"program\":%d", ch, m[1]); break;
    case 0xD0: Append(out, ",\"kind\":\"channel pressure\",\"channel\":%d,\"pressure\":%d", ch, m[1]); break;
    case 0xE0: Append(out, ",\"kind\":\"pitch bend\",\"channel\":%d,\"bend\":%d", ch, (m[2] << 7 | m[1]) - 8192); break;
    default:
      Append(out, ",\"kind\":\"%s\"", SystemName(s));
      if (s == 0xF2) Append(out, ",\"value\":%d", m[2] << 7 | m[1]);
      if (s == 0xF1 || s == 0xF3) Append(out, ",\"value\":%d", m[1]);
      break;
  }
  out += ",\"bytes\":[";
  const int n = ShortSize(s);
  for (int i = 0; i < n; ++i) Append(out, i ? ",%u" : "%u", m[i]);
  out += "]}";
}

}  // namespace

uint32_t MonitorKindOfName(const std::string& name) {
  for (const auto& k : KindNames)
    if (name == k.Name) return k.Kind;
  return 0;
}

const char* MonitorKindNames() { return "note, poly-pressure, cc, program, pressure, bend, sysex, system, realtime"; }

std::string NoteName(int note) {
  if (note < 0 || note > 127) return "?";
  return std::string(NoteNames[note % 12]) + std::to_string(note / 12 - 1);
}

bool FormatMonitorEvent(const TMonitorEvent& e, MonitorStyle style, const TMonitorFilter& filter,
                        const std::vector<std::string>& portNames, std::string& out) {
  const bool sysex = !e.SysEx.empty();
  const uint8_t s = sysex ? 0xF0 : e.Short[0];
  const uint32_t kind = sysex ? KindSysEx : KindOf(s);
  if (!(filter.Kinds & kind)) return false;
  if (s == 0xFE && !filter.KindsGiven) return false;  // active sensing, as the window ignores it
  if (!sysex && s < 0xF0 && !(filter.Channels & (1u << (s & 0x0F)))) return false;
  if (s >= 0xF0 && filter.Channels != 0xFFFF) return false;  // a channel filter leaves only channel messages
  const std::string port =
      e.Port >= 0 && static_cast<std::size_t>(e.Port) < portNames.size() ? portNames[e.Port] : std::to_string(e.Port);

  switch (style) {
    case MonitorStyle::Dec:
    case MonitorStyle::Hex:
      // Three bytes for a short message, as the window's three boxes show it.
      if (sysex) {
        AppendBytes(out, e.SysEx.data(), e.SysEx.size(), style == MonitorStyle::Hex);
      } else {
        AppendBytes(out, e.Short, 3, style == MonitorStyle::Hex);
      }
      break;
    case MonitorStyle::Json:
      if (sysex) {
        out += "{\"port\":";
        AppendJsonString(out, port);
        out += ",\"kind\":\"sysex\",\"hex\":\"";
        AppendBytes(out, e.SysEx.data(), e.SysEx.size(), true);
        Append(out, "\",\"length\":%zu%s}", e.SysEx.size(), e.SysEx.back() == 0xF7 ? "" : ",\"cut\":true");
      } else {
        FormatShortJson(e.Short, port, out);
      }
      break;
    case MonitorStyle::Decoded:
      if (sysex) {
        out += "sysex ";
        AppendBytes(out, e.SysEx.data(), e.SysEx.size(), true);
        // Without its F7 the message was cut (too long to keep) or damaged
        // (bytes of it lost on the way).
        Append(out, e.SysEx.back() == 0xF7 ? " (%zu bytes)" : " (%zu bytes, cut or damaged: its end is missing)",
               e.SysEx.size());
      } else {
        FormatShortDecoded(e.Short, out);
      }
      break;
  }
  out.push_back('\n');
  return true;
}

bool TMonitorQueue::Room(std::size_t cost) {
  if (cost <= budget_ - bytes_) {
    bytes_ += cost;
    return true;
  }
  ++dropped_;
  return false;
}

std::size_t TMonitorQueue::Bytes() {
  std::lock_guard lock(mutex_);
  return bytes_;
}

void TMonitorQueue::PushShort(int32_t port, uint8_t status, uint8_t data1, uint8_t data2) {
  bool wake;
  {
    std::lock_guard lock(mutex_);
    if (!Room(sizeof(TMonitorEvent))) return;
    TMonitorEvent& e = queue_.emplace_back();
    e.Port = port;
    e.Short[0] = status;
    e.Short[1] = data1;
    e.Short[2] = data2;
    wake = waiting_;
    waiting_ = false;
  }
  ++pushed_;
  if (wake) arrived_.notify_one();
}

void TMonitorQueue::PushSysEx(int32_t port, const uint8_t* data, std::size_t size) {
  if (size == 0) return;
  {
    // A message beyond the budget is dropped before it is copied.
    std::lock_guard lock(mutex_);
    if (sizeof(TMonitorEvent) + size > budget_ - bytes_) {
      ++dropped_;
      return;
    }
  }
  std::vector<uint8_t> bytes(data, data + size);  // outside the lock
  bool wake;
  {
    std::lock_guard lock(mutex_);
    if (!Room(sizeof(TMonitorEvent) + size)) return;
    TMonitorEvent& e = queue_.emplace_back();
    e.Port = port;
    e.SysEx = std::move(bytes);
    wake = waiting_;
    waiting_ = false;
  }
  ++pushed_;
  if (wake) arrived_.notify_one();
}

void TMonitorQueue::TakeAll(std::vector<TMonitorEvent>& out, std::chrono::milliseconds wait) {
  out.clear();
  std::unique_lock lock(mutex_);
  if (queue_.empty()) {
    // Only a waiting reader is woken: a flood costs no wake-up per message.
    waiting_ = true;
    arrived_.wait_for(lock, wait, [&] { return !queue_.empty(); });
    waiting_ = false;
  }
  out.swap(queue_);
  bytes_ = 0;
}

}  // namespace vlx
