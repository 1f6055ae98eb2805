#include "profile/Fields.h"

#include <algorithm>

namespace vlx {

namespace {

constexpr std::array<std::string_view, 16> ChannelItems = {"0", "1", "2",  "3",  "4",  "5",  "6",  "7",
                                                           "8", "9", "10", "11", "12", "13", "14", "15"};
constexpr std::array<std::string_view, 2> ControlModeItems = {"Toggle", "Momentary"};

int32_t& FieldRef(TParaTable& t, const TField& f) {
  TParaRecord& r = t[f.Control];
  switch (f.Kind) {
    case FieldKind::Value: return r.Value;
    case FieldKind::Channel: return r.Channel;
    case FieldKind::DataType: return r.DataType;
    case FieldKind::ControlMode: return r.ControlMode;
    case FieldKind::Disabled: return r.Disabled;
    case FieldKind::Global: break;
  }
  return t.GlobalBlock()[std::clamp(f.Global, 0, 7)];
}

std::array<TField, DumpBodySize> MakeDumpLayout() {
  std::array<TField, DumpBodySize> layout{};
  std::size_t b = 0;
  // The values of the sixteen pads, then value, channel and data type of the
  // slider and the four knobs, then the global block in its order.
  for (int n = 1; n <= 16; ++n) layout[b++] = {n, FieldKind::Value};
  for (int n = SliderControl; n <= ControlCount; ++n) {
    layout[b++] = {n, FieldKind::Value};
    layout[b++] = {n, FieldKind::Channel};
    layout[b++] = {n, FieldKind::DataType};
  }
  for (int g = 0; g < 8; ++g) layout[b++] = GlobalField(g);
  return layout;
}

}  // namespace

int32_t FieldValue(const TParaTable& table, const TField& f) { return FieldRef(const_cast<TParaTable&>(table), f); }

void SetFieldValue(TParaTable& table, const TField& f, int32_t v) { FieldRef(table, f) = v; }

std::span<const std::string_view> FieldItems(const TField& f) {
  switch (f.Kind) {
    case FieldKind::Channel: return ChannelItems;
    case FieldKind::DataType:
      if (IsKnob(f.Control)) return KnobDataTypes;
      return PadSliderDataTypes;
    case FieldKind::ControlMode: return ControlModeItems;
    case FieldKind::Global:
      if (f.Global < 0 || f.Global >= 8) return {};
      return std::span<const std::string_view>(GlobalLists[f.Global].Items.data(),
                                               static_cast<std::size_t>(GlobalLists[f.Global].Count));
    default: return {};
  }
}

bool InList(const TField& f, int32_t v) { return v >= 0 && static_cast<std::size_t>(v) < FieldItems(f).size(); }

const std::array<TField, DumpBodySize>& DumpLayout() {
  static const std::array<TField, DumpBodySize> layout = MakeDumpLayout();
  return layout;
}

bool IsStored(const TField& f) {
  const auto& layout = DumpLayout();
  return std::find(layout.begin(), layout.end(), f) != layout.end();
}

int32_t LoadedFieldValue(FieldKind kind, int32_t v) {
  switch (kind) {
    case FieldKind::Value: return std::min<int32_t>(v, 127);
    case FieldKind::Channel: return std::min<int32_t>(v, 15);
    case FieldKind::DataType: return std::min<int32_t>(v, 6);
    default: return v;
  }
}

uint8_t DumpByte(int32_t v) { return static_cast<uint8_t>(std::clamp<int32_t>(v, 0, 127)); }

std::string FieldName(const TField& f) {
  switch (f.Kind) {
    case FieldKind::Value: return "value";
    case FieldKind::Channel: return "channel";
    case FieldKind::DataType: return "data type";
    case FieldKind::ControlMode: return "control mode";
    case FieldKind::Disabled: return "disabled";
    case FieldKind::Global: break;
  }
  return f.Global >= 0 && f.Global < 8 ? GlobalLists[f.Global].Caption : "global";
}

std::string FieldPlace(const TField& f) {
  return f.Kind == FieldKind::Global ? std::string("globals") : ControlLabel(f.Control);
}

std::string FieldValueText(const TField& f, int32_t v) {
  const auto items = FieldItems(f);
  if (InList(f, v)) return std::string(items[static_cast<std::size_t>(v)]);
  if (!items.empty() && v == NoSelection) return "no selection";
  return std::to_string(v);
}

std::string FieldItemsText(const TField& f) {
  if (f.Kind == FieldKind::Channel) return "0..15";
  std::string text;
  for (std::string_view item : FieldItems(f)) text += (text.empty() ? "" : ", ") + std::string(item);
  return text;
}

namespace {

std::string Where(const TField& f) {
  return f.Kind == FieldKind::Global ? "globals: " + FieldName(f)
                                     : ControlLabel(f.Control) + " (record " + std::to_string(f.Control) +
                                           "): " + FieldName(f);
}

}  // namespace

std::optional<std::string> StoredFieldProblem(const TParaTable& table) {
  for (const TField& f : DumpLayout()) {
    const int32_t v = FieldValue(table, f);
    if ((v >= 0 && v <= 127) || (v == NoSelection && HasList(f))) continue;
    return Where(f) + " " + std::to_string(v) + " is out of range 0..127 (the controller stores one data byte" +
           (HasList(f) ? "; -1 is a list without a selection)" : ")");
  }
  return std::nullopt;
}

std::optional<std::string> ListPositionProblem(const TParaTable& table) {
  for (const TField& f : DumpLayout()) {
    const int32_t v = FieldValue(table, f);
    if (!HasList(f) || v == NoSelection || InList(f, v)) continue;
    return Where(f) + " " + std::to_string(v) + " is no item of the editor's list (" + FieldItemsText(f) +
           "; positions 0.." + std::to_string(FieldItems(f).size() - 1) + ")";
  }
  return std::nullopt;
}

std::string FieldsWithoutSelection(const TParaTable& table) {
  std::string text;
  for (const TField& f : DumpLayout())
    if (HasList(f) && FieldValue(table, f) == NoSelection)
      text += (text.empty() ? "" : ", ") + FieldPlace(f) + ": " + FieldName(f);
  return text;
}

std::string ControlLabel(int n) {
  if (n >= 1 && n <= 8) return "pad A" + std::to_string(n);
  if (n >= 9 && n <= 16) return "pad B" + std::to_string(n - 8);
  if (n == SliderControl) return "slider";
  if (IsKnob(n)) return "knob " + std::to_string(n - 17);
  return "control " + std::to_string(n);
}

const char* ControlKind(int n) { return IsPad(n) ? "pad" : IsKnob(n) ? "knob" : "slider"; }

std::string DataTypeText(int control, int32_t v) { return FieldValueText({control, FieldKind::DataType}, v); }

std::string GlobalText(int index, int32_t v) {
  if (index < 0 || index >= 8) return std::to_string(v);
  return FieldValueText(GlobalField(index), v);
}

}  // namespace vlx
