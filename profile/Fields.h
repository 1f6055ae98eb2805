// Every field of a profile in one table: where it lives in the table, the
// items of its list in the window, whether the controller stores it (and in
// which byte of the parameter dump), and what each reader and writer does
// with a number outside its list.
//
// The rules for a number outside a field's list, all built on this table:
//  - the window: a list shows the item at a position it has; it shows no
//    selection for any other number, and stores a list left without a
//    selection as -1 (NoSelection). Selecting a control brings its data type
//    down to the last item of its kind's list (HighestDataType);
//  - loading a .cus file into the window (LoadedFieldValue) caps upper
//    values only: value 127, channel 15, data type 6; negative numbers and
//    every other field are kept as the file holds them;
//  - the parameter dump (DumpByte) clamps every number into one MIDI data
//    byte, 0..127, so NoSelection goes out as 0, as the window sends it;
//  - vellox-cli reads what the editor's files may hold (StoredFieldProblem:
//    every stored field 0..127, a stored list field also NoSelection) and
//    refuses to send or convert a stored list field at a position the
//    window has no item for (ListPositionProblem) unless it is told to take
//    the numbers as they are.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "profile/ParaTable.h"

namespace vlx {

enum class FieldKind : uint8_t { Value, Channel, DataType, ControlMode, Disabled, Global };

// One field of the table: a number of control record Control (1..21), or
// element Global of the global block (record 1's Globals).
struct TField {
  int Control = 1;
  FieldKind Kind = FieldKind::Value;
  int Global = 0;
  bool operator==(const TField&) const = default;
};

inline constexpr TField GlobalField(int index) { return {1, FieldKind::Global, index}; }

int32_t FieldValue(const TParaTable& table, const TField& f);
void SetFieldValue(TParaTable& table, const TField& f, int32_t v);

// The position a window list stores when it shows no selection.
inline constexpr int32_t NoSelection = -1;

// The items of the window's list for the field, position 0 first: the
// channels "0".."15", the data types of the control's kind, "Toggle" and
// "Momentary", a global list's items. Empty for the value and the enable
// flag, which have no list.
std::span<const std::string_view> FieldItems(const TField& f);
inline bool HasList(const TField& f) { return !FieldItems(f).empty(); }
// Whether v is a position of the field's list.
bool InList(const TField& f, int32_t v);

// The 39 body bytes of a parameter dump, in body order: body byte b holds
// field DumpLayout()[b]. Every dump is built and read through this table.
inline constexpr std::size_t DumpBodySize = 39;
const std::array<TField, DumpBodySize>& DumpLayout();
// Whether the controller stores the field (it is one of the body bytes).
bool IsStored(const TField& f);

// The window's rule for loading a .cus record: upper limits only.
int32_t LoadedFieldValue(FieldKind kind, int32_t v);
// The dump's rule: every number becomes one MIDI data byte, 0..127.
uint8_t DumpByte(int32_t v);

// "value", "channel", "data type", "control mode", "disabled", or the
// global's label ("ARP MODE").
std::string FieldName(const TField& f);
// "pad A1" .. "pad B8", "slider", "knob 1" .. "knob 4"; "globals" for a global.
std::string FieldPlace(const TField& f);
// The number as the window shows it: its list's item, "no selection" for
// NoSelection in a list, otherwise the number.
std::string FieldValueText(const TField& f, int32_t v);
// The items in words: "UP, DOWN, RANDOM, CHRN" ("0..15" for the channels).
std::string FieldItemsText(const TField& f);

// What vellox-cli refuses on reading: a stored field outside 0..127 (a
// stored list field may also be NoSelection). The sentence names the place,
// the field and the number; nothing when the table holds none.
std::optional<std::string> StoredFieldProblem(const TParaTable& table);
// What vellox-cli refuses to send or convert unless told otherwise: a stored
// list field at a position the window has no item for (NoSelection is no
// such position). The sentence names the field and its items.
std::optional<std::string> ListPositionProblem(const TParaTable& table);

// The stored list fields without a selection, in words ("globals: ARP MODE,
// slider: channel"); empty when there are none. The dump carries 0 for them.
std::string FieldsWithoutSelection(const TParaTable& table);

// "pad A1" .. "pad B8", "slider", "knob 1" .. "knob 4".
std::string ControlLabel(int control);
// "pad", "slider" or "knob".
const char* ControlKind(int control);
// A data type as the window shows it for the control's kind.
std::string DataTypeText(int control, int32_t dataType);
// A global setting as its list shows it.
std::string GlobalText(int index, int32_t value);

}  // namespace vlx
