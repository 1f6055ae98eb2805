// The profile held in memory: one record per physical control.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vlx {

// A short string: one length byte, then 80 single-byte characters. Only the
// characters within the length mean anything.
struct TShortString80 {
  static constexpr int MaxLength = 80;
  uint8_t Length = 0;
  char Chars[MaxLength] = {};

  // The characters within the length (a length byte above 80 counts as 80).
  std::string str() const;
  // Stores the first 80 characters of s; the bytes after them are left alone.
  void assign(std::string_view s);
};

// The settings of one control. The same 216-byte image is a record of a
// profile file (integers little-endian).
struct TParaRecord {
  TShortString80 Name;
  TShortString80 NameEditorText;
  uint8_t Filler[2] = {};
  int32_t DataType = 0;
  int32_t ControlMode = 0;
  int32_t Value = 0;
  int32_t Channel = 0;
  int32_t Disabled = 0;
  int32_t Globals[8] = {};
};

static_assert(sizeof(TShortString80) == 81);
static_assert(sizeof(TParaRecord) == 216, "a profile record is 216 bytes");
static_assert(offsetof(TParaRecord, Name) == 0);
static_assert(offsetof(TParaRecord, NameEditorText) == 81);
static_assert(offsetof(TParaRecord, Filler) == 162);
static_assert(offsetof(TParaRecord, DataType) == 164);
static_assert(offsetof(TParaRecord, ControlMode) == 168);
static_assert(offsetof(TParaRecord, Value) == 172);
static_assert(offsetof(TParaRecord, Channel) == 176);
static_assert(offsetof(TParaRecord, Disabled) == 180);
static_assert(offsetof(TParaRecord, Globals) == 184);

constexpr std::size_t RecordSize = 216;
constexpr int ControlCount = 21;
constexpr std::size_t ProfileSize = RecordSize * ControlCount;  // 4,536 bytes

// The record as it stands in a file, and back.
std::array<uint8_t, RecordSize> EncodeRecord(const TParaRecord& r);
TParaRecord DecodeRecord(const uint8_t* bytes);

// Elements of the global block (record 1's Globals).
enum GlobalIndex : int {
  ARPMode = 0, ARPTime, ARPOctave, Scale, Velocity, PadMode, Beat, KeyChannel
};

// Control numbers: 1..8 bank A pads, 9..16 bank B pads, 17 slider, 18..21 knobs.
constexpr int SliderControl = 17;
inline bool IsPad(int n) { return n >= 1 && n <= 16; }
inline bool IsKnob(int n) { return n >= 18 && n <= 21; }

// ParaTable: records 1..21, indexed by control number.
struct TParaTable {
  std::array<TParaRecord, ControlCount + 1> Records{};  // [0] is unused

  TParaRecord& operator[](int n);
  const TParaRecord& operator[](int n) const;
  int32_t* GlobalBlock() { return Records[1].Globals; }
  const int32_t* GlobalBlock() const { return Records[1].Globals; }
};

// Default names, "A|PAD1" .. "Knob4", for control numbers 1..21.
std::string_view DefaultName(int n);

// Data-type lists by kind of control.
extern const std::array<std::string_view, 5> PadSliderDataTypes;
extern const std::array<std::string_view, 6> KnobDataTypes;
// The highest data-type position of control n's kind (5 for knobs, 4 otherwise).
int HighestDataType(int n);

// The factory values: names, values, data types and channels of all 21
// records, and the global block 0, 2, 1, 0, 1, 0, 3, 0. Nothing else changes.
void ApplyFactoryValues(TParaTable& table);

// Items of the eight GLOBAL lists, in the order of the global block.
struct GlobalList {
  const char* Name;          // the list control's name, "CmbARPMode"
  const char* Caption;       // its field label, "ARP MODE"
  std::array<std::string_view, 16> Items;
  int Count;
  int FactoryIndex;
};
extern const std::array<GlobalList, 8> GlobalLists;

// Latin-1 is the single-byte character set of names.
}  // namespace vlx
