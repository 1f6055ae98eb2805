#include "profile/ParaTable.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <stdexcept>

namespace vlx {

std::string TShortString80::str() const {
  return std::string(Chars, std::min<int>(Length, MaxLength));
}

void TShortString80::assign(std::string_view s) {
  const std::size_t n = std::min<std::size_t>(s.size(), MaxLength);
  std::memcpy(Chars, s.data(), n);
  Length = static_cast<uint8_t>(n);
}

namespace {

void PutInt(uint8_t* p, int32_t v) {
  const auto u = static_cast<uint32_t>(v);
  p[0] = static_cast<uint8_t>(u);
  p[1] = static_cast<uint8_t>(u >> 8);
  p[2] = static_cast<uint8_t>(u >> 16);
  p[3] = static_cast<uint8_t>(u >> 24);
}

int32_t GetInt(const uint8_t* p) {
  const uint32_t u = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
  return static_cast<int32_t>(u);
}

void PutShortString(uint8_t* p, const TShortString80& s) {
  p[0] = s.Length;
  std::memcpy(p + 1, s.Chars, TShortString80::MaxLength);
}

void GetShortString(const uint8_t* p, TShortString80& s) {
  s.Length = p[0];
  std::memcpy(s.Chars, p + 1, TShortString80::MaxLength);
}

}  // namespace

std::array<uint8_t, RecordSize> EncodeRecord(const TParaRecord& r) {
  std::array<uint8_t, RecordSize> b{};
  PutShortString(&b[offsetof(TParaRecord, Name)], r.Name);
  PutShortString(&b[offsetof(TParaRecord, NameEditorText)], r.NameEditorText);
  // The filler is always written as 0.
  PutInt(&b[offsetof(TParaRecord, DataType)], r.DataType);
  PutInt(&b[offsetof(TParaRecord, ControlMode)], r.ControlMode);
  PutInt(&b[offsetof(TParaRecord, Value)], r.Value);
  PutInt(&b[offsetof(TParaRecord, Channel)], r.Channel);
  PutInt(&b[offsetof(TParaRecord, Disabled)], r.Disabled);
  for (int i = 0; i < 8; ++i) PutInt(&b[offsetof(TParaRecord, Globals) + 4 * i], r.Globals[i]);
  return b;
}

TParaRecord DecodeRecord(const uint8_t* b) {
  TParaRecord r;
  GetShortString(b + offsetof(TParaRecord, Name), r.Name);
  GetShortString(b + offsetof(TParaRecord, NameEditorText), r.NameEditorText);
  r.Filler[0] = b[offsetof(TParaRecord, Filler)];
  r.Filler[1] = b[offsetof(TParaRecord, Filler) + 1];
  r.DataType = GetInt(b + offsetof(TParaRecord, DataType));
  r.ControlMode = GetInt(b + offsetof(TParaRecord, ControlMode));
  r.Value = GetInt(b + offsetof(TParaRecord, Value));
  r.Channel = GetInt(b + offsetof(TParaRecord, Channel));
  r.Disabled = GetInt(b + offsetof(TParaRecord, Disabled));
  for (int i = 0; i < 8; ++i) r.Globals[i] = GetInt(b + offsetof(TParaRecord, Globals) + 4 * i);
  return r;
}

TParaRecord& TParaTable::operator[](int n) {
  if (n < 1 || n > ControlCount) throw std::out_of_range("control number out of range");
  return Records[n];
}

const TParaRecord& TParaTable::operator[](int n) const {
  if (n < 1 || n > ControlCount) throw std::out_of_range("control number out of range");
  return Records[n];
}

namespace {
constexpr std::array<std::string_view, ControlCount> kDefaultNames = {
    "A|PAD1", "A|PAD2", "A|PAD3", "A|PAD4", "A|PAD5", "A|PAD6", "A|PAD7", "A|PAD8",
    "B|PAD1", "B|PAD2", "B|PAD3", "B|PAD4", "B|PAD5", "B|PAD6", "B|PAD7", "B|PAD8",
    "Slider", "Knob1",  "Knob2",  "Knob3",  "Knob4"};
}

std::string_view DefaultName(int n) {
  if (n < 1 || n > ControlCount) return {};
  return kDefaultNames[n - 1];
}

const std::array<std::string_view, 5> PadSliderDataTypes = {"NOTE", "PC", "PITCH BEND", "AFTER TOUCH", "CC"};
const std::array<std::string_view, 6> KnobDataTypes = {"NOTE",        "PC", "PITCH BEND",
                                                       "AFTER TOUCH", "CC(Relative)", "CC(Absolute)"};

int HighestDataType(int n) {
  return static_cast<int>(IsKnob(n) ? KnobDataTypes.size() : PadSliderDataTypes.size()) - 1;
}

void ApplyFactoryValues(TParaTable& table) {
  for (int n = 1; n <= 16; ++n) {
    TParaRecord& r = table[n];
    r.Value = n + 29;
    r.DataType = 0;
    r.Channel = 0;
    r.Name.assign(DefaultName(n));
  }
  TParaRecord& slider = table[SliderControl];
  slider.Value = 7;
  slider.DataType = 4;
  slider.Channel = 0;
  slider.Name.assign(DefaultName(SliderControl));
  for (int n = 18; n <= 21; ++n) {
    TParaRecord& r = table[n];
    r.Value = n - 6;  // 12, 13, 14, 15
    r.DataType = 4;
    r.Channel = 0;
    r.Name.assign(DefaultName(n));
  }
  int32_t* g = table.GlobalBlock();
  for (int i = 0; i < 8; ++i) g[i] = GlobalLists[i].FactoryIndex;
}

const std::array<GlobalList, 8> GlobalLists = {{
    {"CmbARPMode", "ARP MODE", {"UP", "DOWN", "RANDOM", "CHRN"}, 4, 0},
    {"CmbARPTime", "ARP TIME", {"1", "1/2", "1/4", "1/8", "1/16", "1/32"}, 6, 2},
    {"CmbARPOctave", "ARP OCTAVE", {"0", "1", "2", "3", "4"}, 5, 1},
    {"CmbScale", "SCALE", {"NORM", "MAJOR", "MINOR", "PENTA", "BLUES", "HINDU"}, 6, 0},
    {"CmbVelocity", "VELOCITY", {"VEL", "NORM", "HEAVY", "SOFT"}, 4, 1},
    {"CmbPadMode", "PAD MODE", {"PAD", "NOTE", "CC", "PC"}, 4, 0},
    {"CmbBeat", "BEAT TYPE", {"1 beat", "2 beat", "3 beat", "4 beat", "5 beat", "6 beat"}, 6, 3},
    {"CmbKeyChannel",
     "KEY CHANNEL",
     {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12", "13", "14", "15"},
     16,
     0},
}};

}  // namespace vlx
