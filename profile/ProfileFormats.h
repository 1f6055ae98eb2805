// The three file forms of a profile, chosen by the file's extension:
//   .cus   the editor's file: 21 records of 216 bytes;
//   .json  a readable form of the whole profile (described in cli/vellox-cli.1);
//   .syx   the parameter dump as one SysEx message, F0 34 00 27, the 39 body
//          bytes, F7 (what `amidi -s` sends to the controller).
// Reading checks everything and names the file and the place of a fault;
// writing is atomic, as the editor's profile files are.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "profile/Fields.h"
#include "profile/ParaTable.h"
#include "profile/ProfileFile.h"

namespace vlx {

enum class ProfileFormat { Cus, Json, Syx };

// A file that is not a profile of the format its name says, or a file name
// with an extension that names no format. The text names the file and the
// place: "a.json: controls[16].channel: 300 is out of range 0..127".
class EProfileFormatError : public EVlxError {
 public:
  using EVlxError::EVlxError;
};

// The 39 body bytes of a parameter dump: what the controller stores, in the
// order of DumpLayout() (profile/Fields.h).
using TDumpBody = std::array<uint8_t, DumpBodySize>;

// ".cus", ".json" or ".syx", upper or lower case. Throws EProfileFormatError.
ProfileFormat FormatOfPath(const std::string& path);
const char* FormatName(ProfileFormat format);  // "cus", "json", "syx"

// The profile read from a file, and what the reader had to fill in.
struct TLoadedProfile {
  TParaTable Table;
  bool FromDumpOnly = false;       // the file held only the controller's fields
  std::vector<std::string> Notes;  // for the user, such as the defaults filled in
};

// The largest profile file read (a profile is about 6 KB): a larger file is
// refused, read no further than this.
constexpr std::size_t MaxProfileFileSize = 1024 * 1024;

// Reads and checks a profile file ("-": standard input, named "standard
// input" in messages). Throws EInOutError (with the path) when the file
// cannot be read, EProfileFormatError when its content is wrong. Time and
// memory are linear in the file's size, which is bounded above: a .cus file
// of other than 4,536 bytes and a .syx file of other than 44 or 47 are
// refused before their bytes are looked at, and a .json document is checked
// for its nesting (16 levels) and its number of values (10,000) in one pass
// that builds nothing before it is built.
TLoadedProfile ReadProfile(const std::string& path);
TLoadedProfile ReadProfile(const std::string& path, ProfileFormat format);
// The same from bytes already read; `name` names the source in messages.
TLoadedProfile DecodeProfile(const std::vector<uint8_t>& bytes, ProfileFormat format, const std::string& name);

// The bytes of the table in a format. Throws EProfileFormatError when a field
// that goes to the controller lies outside 0..127 (CheckProfile). A list
// without a selection (-1) stays -1 in .cus and is null in .json; a .syx
// holds what the editor sends for it, 0.
std::vector<uint8_t> EncodeProfileAs(const TParaTable& table, ProfileFormat format);
// Encodes, then writes atomically: bad input never leaves a partial file.
void WriteProfileAs(const std::string& path, const TParaTable& table, ProfileFormat format);
void WriteProfile(const std::string& path, const TParaTable& table);  // format by extension

// Throws EProfileFormatError (prefixed with name) when a field that goes to
// the controller (every value; channel and data type of the slider and the
// knobs; the eight globals) lies outside 0..127; -1, a list without a
// selection, is allowed in the list fields (StoredFieldProblem).
void CheckProfile(const TParaTable& table, const std::string& name);
// Throws EProfileFormatError (prefixed with name) when a list field that goes
// to the controller holds a position its list in the editor has no item for
// (ListPositionProblem): what vellox-cli refuses to send or convert unless
// told to take the numbers as they are.
void CheckListPositions(const TParaTable& table, const std::string& name);

// The dump body of the table (CheckProfile first; each field as DumpByte
// makes it, as the editor sends it) and the table of a body: the factory
// profile with the body's fields in place.
TDumpBody DumpBodyOf(const TParaTable& table);
TParaTable TableOfDumpBody(const TDumpBody& body);
// The 44 bytes F0 34 00 27 body F7.
std::vector<uint8_t> DumpMessageOf(const TDumpBody& body);

// One field that differs between two profiles.
struct TFieldDifference {
  std::string Where;  // "knob 2", "globals"
  std::string Field;  // "value", "channel", "data type", "ARP TIME", "name", ...
  std::string A, B;   // the two values in words
};

// The fields the controller stores (the 39 body bytes), in body order.
std::vector<TFieldDifference> CompareDumpFields(const TParaTable& a, const TParaTable& b);
// Those and the fields only the file keeps (names, the name editor text, the
// pads' channel and data type, control mode, disabled, the globals of
// records 2 to 21).
std::vector<TFieldDifference> CompareAllFields(const TParaTable& a, const TParaTable& b);
// "knob 2: value sent 40, read back 39" with aWord "sent", bWord "read back".
std::string DescribeDifference(const TFieldDifference& d, const std::string& aWord, const std::string& bWord);

// The profile as a text table for a terminal, control characters in names
// shown escaped (TerminalSafe). dumpOnly leaves out the fields the
// controller does not store (names, the pads' channel and type).
std::string ProfileTableText(const TParaTable& table, bool dumpOnly);

}  // namespace vlx
