#include "profile/ProfileFormats.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "profile/FileOps.h"
#include "profile/TerminalText.h"

namespace vlx {

namespace {

using nlohmann::ordered_json;

constexpr std::size_t DumpSize = 44;  // F0 34 dd 27, 39 body bytes, F7
constexpr int JsonFormatVersion = 1;

[[noreturn]] void Fail(const std::string& name, const std::string& place, const std::string& what) {
  throw EProfileFormatError(name + ": " + (place.empty() ? what : place + ": " + what));
}

std::string Hex2(unsigned v) {
  char buf[4];
  std::snprintf(buf, sizeof buf, "%02X", v & 0xFFu);
  return buf;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// ---- names: single-byte (Latin-1) in the table, UTF-8 in JSON.

std::string Latin1ToUtf8(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

// Empty optional-like result through the bool.
bool Utf8ToLatin1(const std::string& s, std::string& out) {
  out.clear();
  for (std::size_t i = 0; i < s.size(); ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if ((c == 0xC2 || c == 0xC3) && i + 1 < s.size() &&
               (static_cast<unsigned char>(s[i + 1]) & 0xC0) == 0x80) {
      out.push_back(static_cast<char>(((c & 0x03) << 6) | (static_cast<unsigned char>(s[i + 1]) & 0x3F)));
      ++i;
    } else {
      return false;  // a character beyond U+00FF
    }
  }
  return true;
}

// ---- the fields of the dump body (Fields.h), in words

std::string BodyFieldText(const TField& f, int32_t v) {
  return f.Kind == FieldKind::Value ? std::to_string(v) : FieldValueText(f, v);
}

// ---- .cus

TLoadedProfile DecodeCus(const std::vector<uint8_t>& bytes, const std::string& name) {
  if (bytes.size() != ProfileSize)
    Fail(name, "", std::to_string(bytes.size()) + " bytes; a profile file has " + std::to_string(ProfileSize) +
                       " bytes (21 records of 216)");
  TLoadedProfile p;
  for (int n = 1; n <= ControlCount; ++n) {
    TParaRecord r = DecodeRecord(bytes.data() + (n - 1) * RecordSize);
    // As the editor loads it: a name's length byte above 80 counts as 80,
    // and the bytes after the characters mean nothing.
    TParaRecord& dst = p.Table[n];
    dst = r;
    dst.Name = {};
    dst.Name.assign(r.Name.str());
    dst.NameEditorText = {};
    dst.NameEditorText.assign(r.NameEditorText.str());
    dst.Filler[0] = dst.Filler[1] = 0;
  }
  CheckProfile(p.Table, name);
  return p;
}

// ---- .syx

TLoadedProfile DecodeSyx(const std::vector<uint8_t>& bytes, const std::string& name) {
  // The controller sends F0 34 01 27 ... F7; the editor sends F0 34 00 27 ...
  // F7 followed by 00 00 00.
  std::size_t size = bytes.size();
  if (size == DumpSize + 3 && bytes[DumpSize] == 0 && bytes[DumpSize + 1] == 0 && bytes[DumpSize + 2] == 0)
    size = DumpSize;
  if (size != DumpSize)
    Fail(name, "", std::to_string(bytes.size()) +
                       " bytes; a parameter dump has 44 (F0 34 00 27, 39 body bytes, F7), or 47 with 00 00 00 after F7");
  static const std::array<std::pair<std::size_t, const char*>, 4> header = {
      {{0, "F0"}, {1, "34"}, {3, "27"}, {DumpSize - 1, "F7"}}};
  for (const auto& [at, want] : header) {
    if (Hex2(bytes[at]) != want)
      Fail(name, "byte " + std::to_string(at), Hex2(bytes[at]) + " where a parameter dump of the vellox has " + want);
  }
  if (bytes[2] != 0x00 && bytes[2] != 0x01)
    Fail(name, "byte 2", Hex2(bytes[2]) + " where a parameter dump of the vellox has 00 or 01");
  TDumpBody body{};
  for (std::size_t b = 0; b < body.size(); ++b) {
    const uint8_t v = bytes[4 + b];
    if (v > 0x7F)
      Fail(name, "byte " + std::to_string(4 + b) + " (body byte " + std::to_string(b) + ")",
           Hex2(v) + " is not a MIDI data byte (00..7F)");
    body[b] = v;
  }
  TLoadedProfile p;
  p.Table = TableOfDumpBody(body);
  p.FromDumpOnly = true;
  p.Notes.push_back(name +
                    ": a parameter dump holds no names, pad channels and data types, control modes or enable flags: "
                    "the factory defaults are filled in");
  return p;
}

// ---- .json

// A list field: its item's text, null for a list without a selection, the
// number for a position the list has no item for.
ordered_json ListValue(const TField& f, int32_t v) {
  if (InList(f, v)) return std::string(FieldItems(f)[static_cast<std::size_t>(v)]);
  if (v == NoSelection) return nullptr;
  return v;
}

ordered_json EncodeJsonDoc(const TParaTable& t) {
  ordered_json doc;
  doc["vellox_profile"] = JsonFormatVersion;
  ordered_json controls = ordered_json::array();
  for (int n = 1; n <= ControlCount; ++n) {
    const TParaRecord& r = t[n];
    ordered_json c;
    c["control"] = n;
    c["kind"] = ControlKind(n);
    c["label"] = ControlLabel(n);
    c["name"] = Latin1ToUtf8(r.Name.str());
    c["name_editor_text"] = Latin1ToUtf8(r.NameEditorText.str());
    c["value"] = r.Value;
    // The channel is written as its number, which is its list's text.
    c["channel"] = r.Channel == NoSelection ? ordered_json(nullptr) : ordered_json(r.Channel);
    c["data_type"] = ListValue({n, FieldKind::DataType}, r.DataType);
    c["control_mode"] = ListValue({n, FieldKind::ControlMode}, r.ControlMode);
    c["disabled"] = r.Disabled;
    if (n > 1 && std::any_of(std::begin(r.Globals), std::end(r.Globals), [](int32_t g) { return g != 0; }))
      c["record_globals"] = std::vector<int32_t>(std::begin(r.Globals), std::end(r.Globals));
    controls.push_back(std::move(c));
  }
  doc["controls"] = std::move(controls);
  ordered_json globals;
  for (int g = 0; g < 8; ++g) globals[GlobalLists[g].Caption] = ListValue(GlobalField(g), t.GlobalBlock()[g]);
  doc["globals"] = std::move(globals);
  return doc;
}

class JsonReader {
 public:
  explicit JsonReader(std::string name) : name_(std::move(name)) {}

  int32_t Integer(const ordered_json& v, const std::string& place, int64_t lo, int64_t hi) {
    if (!v.is_number_integer())
      Fail(name_, place, "expected a whole number, found " + Show(v));
    // A whole number above the largest int64 is read as unsigned; as int64 it
    // would turn negative and be reported as such.
    if (v.is_number_unsigned() && v.get<uint64_t>() > static_cast<uint64_t>(hi))
      Fail(name_, place, std::to_string(v.get<uint64_t>()) + " is out of range " + std::to_string(lo) + ".." +
                             std::to_string(hi));
    const auto n = v.get<int64_t>();
    if (n < lo || n > hi)
      Fail(name_, place, std::to_string(n) + " is out of range " + std::to_string(lo) + ".." + std::to_string(hi));
    return static_cast<int32_t>(n);
  }

  // A list field: one of its list's texts; null or -1 for a list without a
  // selection; a number in lo..hi for a position the list has no item for.
  int32_t ListPosition(const ordered_json& v, const std::string& place, const TField& f, int64_t lo, int64_t hi) {
    const auto items = FieldItems(f);
    if (v.is_string()) {
      const auto s = v.get<std::string>();
      for (std::size_t i = 0; i < items.size(); ++i)
        if (items[i] == s) return static_cast<int32_t>(i);
      std::string known;
      for (std::string_view item : items) known += (known.empty() ? "\"" : ", \"") + std::string(item) + "\"";
      Fail(name_, place, "unknown text \"" + s + "\" (one of " + known + ", or null for no selection)");
    }
    if (v.is_null() || (v.is_number_integer() && !v.is_number_unsigned() && v.get<int64_t>() == NoSelection))
      return NoSelection;
    if (!v.is_number_integer()) Fail(name_, place, "expected a list text, null or a number, found " + Show(v));
    return Integer(v, place, lo, hi);
  }

  std::string Name(const ordered_json& v, const std::string& place) {
    if (!v.is_string()) Fail(name_, place, "expected a text, found " + Show(v));
    std::string latin1;
    if (!Utf8ToLatin1(v.get<std::string>(), latin1))
      Fail(name_, place, "holds a character outside Latin-1 (U+0000..U+00FF)");
    if (latin1.size() > static_cast<std::size_t>(TShortString80::MaxLength))
      Fail(name_, place, std::to_string(latin1.size()) + " characters; at most 80");
    return latin1;
  }

  void OnlyKeys(const ordered_json& obj, const std::string& place, std::initializer_list<const char*> keys) {
    for (const auto& item : obj.items()) {
      if (std::none_of(keys.begin(), keys.end(), [&](const char* k) { return item.key() == k; }))
        Fail(name_, place.empty() ? item.key() : place + "." + item.key(), "unknown key");
    }
  }

  const ordered_json& Need(const ordered_json& obj, const char* key, const std::string& place) {
    const auto it = obj.find(key);
    if (it == obj.end()) Fail(name_, place, std::string("missing \"") + key + "\"");
    return *it;
  }

  static std::string Show(const ordered_json& v) {
    std::string s = v.dump();
    if (s.size() <= 40) return s;
    std::size_t cut = 37;  // not inside a UTF-8 sequence
    while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80) --cut;
    return s.substr(0, cut) + "...";
  }

  const std::string& name() const { return name_; }

 private:
  std::string name_;
};

// A profile nests four levels and holds about 400 values. Before the
// document is built, one pass over it, without building anything, refuses
// one nested deeper than MaxJsonDepth (turning it back into text, as the
// messages do for a wrong value, would take one stack frame per level) or
// holding more than MaxJsonValues values. The pass costs time linear in the
// size and no memory beyond the parser's own; the document built afterwards
// is bounded by those limits and by MaxProfileFileSize.
constexpr int MaxJsonDepth = 16;
constexpr std::size_t MaxJsonValues = 10000;

class JsonShapeCheck : public nlohmann::json_sax<ordered_json> {
 public:
  enum class Verdict { Fine, TooDeep, TooMany, Invalid };
  Verdict verdict = Verdict::Fine;
  std::string error;

  bool null() override { return Value(); }
  bool boolean(bool) override { return Value(); }
  bool number_integer(number_integer_t) override { return Value(); }
  bool number_unsigned(number_unsigned_t) override { return Value(); }
  bool number_float(number_float_t, const string_t&) override { return Value(); }
  bool string(string_t&) override { return Value(); }
  bool binary(binary_t&) override { return Value(); }
  bool start_object(std::size_t) override { return Open(); }
  bool key(string_t&) override { return true; }
  bool end_object() override { return Close(); }
  bool start_array(std::size_t) override { return Open(); }
  bool end_array() override { return Close(); }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) override {
    verdict = Verdict::Invalid;
    error = e.what();
    return false;
  }

 private:
  bool Value() {
    if (++values_ <= MaxJsonValues) return true;
    verdict = Verdict::TooMany;
    return false;
  }
  bool Open() {
    if (++depth_ > MaxJsonDepth) {
      verdict = Verdict::TooDeep;
      return false;
    }
    return Value();
  }
  bool Close() {
    --depth_;
    return true;
  }
  int depth_ = 0;
  std::size_t values_ = 0;
};

// "[json.exception.parse_error.101] parse error at line 3, column 5: ..."
// or, for a number beyond a double, "[json.exception.out_of_range.406]
// number overflow parsing '1e999'": the text after the bracket.
[[noreturn]] void FailNotJson(const std::string& name, std::string what) {
  if (const auto at = what.find("] "); at != std::string::npos) what = what.substr(at + 2);
  Fail(name, "", "not valid JSON: " + what);
}

TLoadedProfile DecodeJson(const std::vector<uint8_t>& bytes, const std::string& name) {
  if (bytes.size() > MaxProfileFileSize)
    Fail(name, "", "more than 1 MiB; no profile is that large");
  JsonShapeCheck shape;
  try {
    ordered_json::sax_parse(bytes.begin(), bytes.end(), &shape);
  } catch (const nlohmann::json::exception& e) {
    FailNotJson(name, e.what());
  }
  switch (shape.verdict) {
    case JsonShapeCheck::Verdict::TooDeep:
      Fail(name, "", "not a profile: nested more than " + std::to_string(MaxJsonDepth) + " levels deep");
    case JsonShapeCheck::Verdict::TooMany:
      Fail(name, "", "not a profile: more than " + std::to_string(MaxJsonValues) + " values");
    case JsonShapeCheck::Verdict::Invalid: FailNotJson(name, shape.error);
    case JsonShapeCheck::Verdict::Fine: break;
  }
  ordered_json doc;
  try {
    doc = ordered_json::parse(bytes.begin(), bytes.end());
  } catch (const nlohmann::json::exception& e) {
    FailNotJson(name, e.what());
  }
  JsonReader in(name);
  if (!doc.is_object()) Fail(name, "", "expected a JSON object at the top");
  in.OnlyKeys(doc, "", {"vellox_profile", "controls", "globals"});
  const auto& version = in.Need(doc, "vellox_profile", "");
  if (!version.is_number_integer() || version.get<int64_t>() != JsonFormatVersion)
    Fail(name, "vellox_profile", "this program reads version 1, found " + JsonReader::Show(version));

  TLoadedProfile p;
  const auto& controls = in.Need(doc, "controls", "");
  if (!controls.is_array()) Fail(name, "controls", "expected an array of 21 controls");
  if (controls.size() != ControlCount)
    Fail(name, "controls", std::to_string(controls.size()) + " entries; a profile has 21 controls");
  std::set<int> seen;
  for (std::size_t i = 0; i < controls.size(); ++i) {
    const std::string at = "controls[" + std::to_string(i) + "]";
    const auto& c = controls[i];
    if (!c.is_object()) Fail(name, at, "expected an object");
    in.OnlyKeys(c, at, {"control", "kind", "label", "name", "name_editor_text", "value", "channel", "data_type",
                        "control_mode", "disabled", "record_globals"});
    const int n = in.Integer(in.Need(c, "control", at), at + ".control", 1, ControlCount);
    if (!seen.insert(n).second) Fail(name, at + ".control", "control " + std::to_string(n) + " appears twice");
    if (const auto k = c.find("kind"); k != c.end() && *k != ControlKind(n))
      Fail(name, at + ".kind", JsonReader::Show(*k) + " but control " + std::to_string(n) + " is a " + ControlKind(n));
    if (const auto l = c.find("label"); l != c.end() && *l != ControlLabel(n))
      Fail(name, at + ".label", JsonReader::Show(*l) + " but control " + std::to_string(n) + " is \"" +
                                    ControlLabel(n) + "\"");
    TParaRecord& r = p.Table[n];
    r.Name.assign(c.contains("name") ? in.Name(c["name"], at + ".name") : std::string(DefaultName(n)));
    if (c.contains("name_editor_text")) r.NameEditorText.assign(in.Name(c["name_editor_text"], at + ".name_editor_text"));
    // The fields the controller stores travel as one data byte; the pads'
    // channel and data type stay in the file only.
    const int64_t sentHi = IsPad(n) ? std::numeric_limits<int32_t>::max() : 127;
    const int64_t sentLo = IsPad(n) ? std::numeric_limits<int32_t>::min() : 0;
    r.Value = in.Integer(in.Need(c, "value", at), at + ".value", 0, 127);
    // The channel is a list too (its texts are its numbers): null or -1 is a
    // list without a selection.
    r.Channel = in.ListPosition(in.Need(c, "channel", at), at + ".channel", {n, FieldKind::Channel}, sentLo, sentHi);
    r.DataType = in.ListPosition(in.Need(c, "data_type", at), at + ".data_type", {n, FieldKind::DataType}, sentLo,
                                 sentHi);
    constexpr int64_t i32lo = std::numeric_limits<int32_t>::min(), i32hi = std::numeric_limits<int32_t>::max();
    if (c.contains("control_mode"))
      r.ControlMode =
          in.ListPosition(c["control_mode"], at + ".control_mode", {n, FieldKind::ControlMode}, i32lo, i32hi);
    if (c.contains("disabled")) r.Disabled = in.Integer(c["disabled"], at + ".disabled", i32lo, i32hi);
    if (c.contains("record_globals")) {
      const auto& g = c["record_globals"];
      if (n == 1) Fail(name, at + ".record_globals", "control 1 keeps its globals in \"globals\"");
      if (!g.is_array() || g.size() != 8) Fail(name, at + ".record_globals", "expected an array of 8 numbers");
      for (std::size_t k = 0; k < 8; ++k)
        r.Globals[k] = in.Integer(g[k], at + ".record_globals[" + std::to_string(k) + "]", i32lo, i32hi);
    }
  }

  const auto& globals = in.Need(doc, "globals", "");
  if (!globals.is_object()) Fail(name, "globals", "expected an object of the eight global settings");
  for (const auto& item : globals.items()) {
    if (std::none_of(GlobalLists.begin(), GlobalLists.end(), [&](const GlobalList& l) { return item.key() == l.Caption; }))
      Fail(name, "globals.\"" + item.key() + "\"", "unknown global setting");
  }
  for (int g = 0; g < 8; ++g) {
    const std::string at = std::string("globals.\"") + GlobalLists[g].Caption + "\"";
    const auto it = globals.find(GlobalLists[g].Caption);
    if (it == globals.end()) Fail(name, "globals", std::string("missing \"") + GlobalLists[g].Caption + "\"");
    p.Table.GlobalBlock()[g] = in.ListPosition(*it, at, GlobalField(g), 0, 127);
  }
  return p;
}

// At most MaxProfileFileSize + 8 KiB of memory whatever the file's size;
// "-" is standard input, read as far as that and left open.
std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  const bool standardInput = path == "-";
  const int fd = standardInput ? STDIN_FILENO : ActiveFileOps().Open(path.c_str(), O_RDONLY, 0);
  if (fd < 0) RaiseInOutError(errno, path);
  const auto close = [&] {
    if (!standardInput) ActiveFileOps().Close(fd);
  };
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    const int err = S_ISDIR(st.st_mode) ? EISDIR : errno;
    close();
    RaiseInOutError(err, path);
  }
  std::vector<uint8_t> bytes;
  uint8_t buf[8192];
  for (;;) {
    const ssize_t got = standardInput ? ::read(fd, buf, sizeof buf) : ActiveFileOps().Read(fd, buf, sizeof buf);
    if (got < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      close();
      RaiseInOutError(err, path);
    }
    if (got == 0) break;
    bytes.insert(bytes.end(), buf, buf + got);
    if (bytes.size() > MaxProfileFileSize) {
      close();
      throw EProfileFormatError((standardInput ? std::string("standard input") : path) +
                                ": more than 1 MiB; no profile is that large");
    }
  }
  close();
  return bytes;
}

}  // namespace

ProfileFormat FormatOfPath(const std::string& path) {
  const auto slash = path.rfind('/');
  const auto dot = path.rfind('.');
  const std::string ext = dot == std::string::npos || (slash != std::string::npos && dot < slash)
                              ? std::string()
                              : Lower(path.substr(dot));
  if (ext == ".cus") return ProfileFormat::Cus;
  if (ext == ".json") return ProfileFormat::Json;
  if (ext == ".syx") return ProfileFormat::Syx;
  throw EProfileFormatError(path + ": unknown file type \"" + ext +
                            "\"; a profile file ends in .cus, .json or .syx");
}

const char* FormatName(ProfileFormat format) {
  switch (format) {
    case ProfileFormat::Cus: return "cus";
    case ProfileFormat::Json: return "json";
    default: return "syx";
  }
}

TLoadedProfile ReadProfile(const std::string& path) { return ReadProfile(path, FormatOfPath(path)); }

TLoadedProfile ReadProfile(const std::string& path, ProfileFormat format) {
  const std::string name = path == "-" ? "standard input" : path;
  std::vector<uint8_t> bytes;
  try {
    bytes = ReadWholeFile(path);
  } catch (const EInOutError& e) {
    throw EInOutError(e.ErrorCode, name + ": " + e.what());
  }
  return DecodeProfile(bytes, format, name);
}

TLoadedProfile DecodeProfile(const std::vector<uint8_t>& bytes, ProfileFormat format, const std::string& name) {
  switch (format) {
    case ProfileFormat::Cus: return DecodeCus(bytes, name);
    case ProfileFormat::Json: return DecodeJson(bytes, name);
    default: return DecodeSyx(bytes, name);
  }
}

void CheckProfile(const TParaTable& table, const std::string& name) {
  if (const auto problem = StoredFieldProblem(table)) throw EProfileFormatError(name + ": " + *problem);
}

void CheckListPositions(const TParaTable& table, const std::string& name) {
  if (const auto problem = ListPositionProblem(table))
    throw EProfileFormatError(name + ": " + *problem + "; --raw takes the number as it is");
}

TDumpBody DumpBodyOf(const TParaTable& table) {
  CheckProfile(table, "profile");
  TDumpBody body{};
  for (std::size_t b = 0; b < body.size(); ++b) body[b] = DumpByte(FieldValue(table, DumpLayout()[b]));
  return body;
}

TParaTable TableOfDumpBody(const TDumpBody& body) {
  TParaTable t;
  ApplyFactoryValues(t);
  for (std::size_t b = 0; b < body.size(); ++b) SetFieldValue(t, DumpLayout()[b], body[b]);
  return t;
}

std::vector<uint8_t> DumpMessageOf(const TDumpBody& body) {
  std::vector<uint8_t> m(DumpSize);
  m[0] = 0xF0;
  m[1] = 0x34;
  m[2] = 0x00;
  m[3] = 0x27;
  std::copy(body.begin(), body.end(), m.begin() + 4);
  m[DumpSize - 1] = 0xF7;
  return m;
}

std::vector<uint8_t> EncodeProfileAs(const TParaTable& table, ProfileFormat format) {
  CheckProfile(table, "profile");
  switch (format) {
    case ProfileFormat::Cus: return EncodeProfile(table);
    case ProfileFormat::Json: {
      const std::string text = EncodeJsonDoc(table).dump(2) + "\n";
      return {text.begin(), text.end()};
    }
    default: return DumpMessageOf(DumpBodyOf(table));
  }
}

void WriteProfileAs(const std::string& path, const TParaTable& table, ProfileFormat format) {
  const std::vector<uint8_t> bytes = EncodeProfileAs(table, format);
  try {
    WriteFileAtomically(path, bytes);
  } catch (const EInOutError& e) {
    throw EInOutError(e.ErrorCode, path + ": " + e.what());
  }
}

void WriteProfile(const std::string& path, const TParaTable& table) {
  WriteProfileAs(path, table, FormatOfPath(path));
}

std::vector<TFieldDifference> CompareDumpFields(const TParaTable& a, const TParaTable& b) {
  std::vector<TFieldDifference> out;
  for (const TField& f : DumpLayout()) {
    const int32_t va = FieldValue(a, f), vb = FieldValue(b, f);
    if (va != vb) out.push_back({FieldPlace(f), FieldName(f), BodyFieldText(f, va), BodyFieldText(f, vb)});
  }
  return out;
}

std::vector<TFieldDifference> CompareAllFields(const TParaTable& a, const TParaTable& b) {
  std::vector<TFieldDifference> out = CompareDumpFields(a, b);
  const auto quoted = [](const TShortString80& s) { return "\"" + Latin1ToUtf8(s.str()) + "\""; };
  for (int n = 1; n <= ControlCount; ++n) {
    const TParaRecord &ra = a[n], &rb = b[n];
    const std::string where = ControlLabel(n);
    if (ra.Name.str() != rb.Name.str()) out.push_back({where, "name", quoted(ra.Name), quoted(rb.Name)});
    if (ra.NameEditorText.str() != rb.NameEditorText.str())
      out.push_back({where, "name editor text", quoted(ra.NameEditorText), quoted(rb.NameEditorText)});
    if (IsPad(n)) {
      if (ra.Channel != rb.Channel)
        out.push_back({where, "channel", FieldValueText({n, FieldKind::Channel}, ra.Channel),
                       FieldValueText({n, FieldKind::Channel}, rb.Channel)});
      if (ra.DataType != rb.DataType)
        out.push_back({where, "data type", DataTypeText(n, ra.DataType), DataTypeText(n, rb.DataType)});
    }
    const auto mode = [n](int32_t v) { return FieldValueText({n, FieldKind::ControlMode}, v); };
    if (ra.ControlMode != rb.ControlMode) out.push_back({where, "control mode", mode(ra.ControlMode), mode(rb.ControlMode)});
    if (ra.Disabled != rb.Disabled)
      out.push_back({where, "disabled", std::to_string(ra.Disabled), std::to_string(rb.Disabled)});
    if (n > 1) {
      for (int g = 0; g < 8; ++g)
        if (ra.Globals[g] != rb.Globals[g])
          out.push_back({where, "record global " + std::to_string(g), std::to_string(ra.Globals[g]),
                         std::to_string(rb.Globals[g])});
    }
  }
  return out;
}

std::string DescribeDifference(const TFieldDifference& d, const std::string& aWord, const std::string& bWord) {
  return d.Where + ": " + d.Field + " " + aWord + " " + d.A + ", " + bWord + " " + d.B;
}

std::string ProfileTableText(const TParaTable& t, bool dumpOnly) {
  std::ostringstream out;
  char line[256];
  if (dumpOnly) {
    std::snprintf(line, sizeof line, "%-9s %5s %7s  %s\n", "CONTROL", "VALUE", "CHANNEL", "DATA TYPE");
  } else {
    std::snprintf(line, sizeof line, "%-9s %-20s %5s %7s  %s\n", "CONTROL", "NAME", "VALUE", "CHANNEL", "DATA TYPE");
  }
  out << line;
  for (int n = 1; n <= ControlCount; ++n) {
    const TParaRecord& r = t[n];
    // The controller keeps no channel or data type of a pad.
    const std::string channel = dumpOnly && IsPad(n) ? "-" : FieldValueText({n, FieldKind::Channel}, r.Channel);
    const std::string type = dumpOnly && IsPad(n) ? "-" : DataTypeText(n, r.DataType);
    if (dumpOnly) {
      std::snprintf(line, sizeof line, "%-9s %5d %7s  %s\n", ControlLabel(n).c_str(), r.Value, channel.c_str(),
                    type.c_str());
    } else {
      std::snprintf(line, sizeof line, "%-9s %-20s %5d %7s  %s\n", ControlLabel(n).c_str(),
                    TerminalSafe(Latin1ToUtf8(r.Name.str())).c_str(), r.Value, channel.c_str(), type.c_str());
    }
    out << line;
  }
  out << "\n";
  for (int g = 0; g < 8; ++g) {
    std::snprintf(line, sizeof line, "%-12s %s\n", GlobalLists[g].Caption, GlobalText(g, t.GlobalBlock()[g]).c_str());
    out << line;
  }
  return out.str();
}

}  // namespace vlx
