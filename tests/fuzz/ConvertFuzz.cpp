// Fuzz target: any bytes as a profile file of each form (the first byte
// picks .cus, .json or .syx). A file that is refused is refused with
// EProfileFormatError; a file that is accepted can go to every form and back:
// .json keeps every field, .cus keeps every field, .syx keeps the fields the
// controller stores as the editor sends them (a list without a selection as
// 0), and every field that goes to the controller is a data byte.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "FuzzCheck.h"
#include "profile/ProfileFormats.h"

using namespace vlx;

namespace {

bool SameDumpFields(const TParaTable& a, const TParaTable& b) { return CompareDumpFields(a, b).empty(); }
bool SameAllFields(const TParaTable& a, const TParaTable& b) { return CompareAllFields(a, b).empty(); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const ProfileFormat format = static_cast<ProfileFormat>(data[0] % 3);
  const std::vector<uint8_t> bytes(data + 1, data + size);
  TLoadedProfile p;
  try {
    p = DecodeProfile(bytes, format, "in");
  } catch (const EProfileFormatError&) {
    return 0;
  }
  const TDumpBody body = DumpBodyOf(p.Table);  // throws (and so fails) on a field outside 0..127
  for (uint8_t b : body) VLX_FUZZ_CHECK(b <= 127);

  const TLoadedProfile json = DecodeProfile(EncodeProfileAs(p.Table, ProfileFormat::Json), ProfileFormat::Json, "j");
  VLX_FUZZ_CHECK(SameAllFields(p.Table, json.Table));
  VLX_FUZZ_CHECK(EncodeProfile(json.Table) == EncodeProfileAs(p.Table, ProfileFormat::Cus));
  const TLoadedProfile cus = DecodeProfile(EncodeProfileAs(p.Table, ProfileFormat::Cus), ProfileFormat::Cus, "c");
  VLX_FUZZ_CHECK(SameAllFields(p.Table, cus.Table));
  const TLoadedProfile syx = DecodeProfile(EncodeProfileAs(p.Table, ProfileFormat::Syx), ProfileFormat::Syx, "s");
  VLX_FUZZ_CHECK(SameDumpFields(TableOfDumpBody(body), syx.Table));
  VLX_FUZZ_CHECK(syx.FromDumpOnly && !syx.Notes.empty());
  return 0;
}
