// Fuzz target: any bytes as a profile file of each form (the first byte
// picks .cus, .json or .syx, and whether the input is also tried repeated up
// to 256 KiB or to just beyond the size limit). A file that is refused is
// refused with EProfileFormatError; a file that is accepted can go to every
// form and back: .json keeps every field, .cus keeps every field, .syx keeps
// the fields the controller stores as the editor sends them (a list without a
// selection as 0), and every field that goes to the controller is a data
// byte. Reading costs time linear in the size: any decoding that takes more
// than a second is a finding, and so is a file beyond MaxProfileFileSize
// that is not refused.
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <vector>

#include "FuzzCheck.h"
#include "profile/ProfileFormats.h"

using namespace vlx;

namespace {

bool SameDumpFields(const TParaTable& a, const TParaTable& b) { return CompareDumpFields(a, b).empty(); }
bool SameAllFields(const TParaTable& a, const TParaTable& b) { return CompareAllFields(a, b).empty(); }

// Decodes, within a second of processor time (not of the clock, which a
// loaded machine stretches); false when refused.
bool DecodeInTime(const std::vector<uint8_t>& bytes, ProfileFormat format, TLoadedProfile& p) {
  const std::clock_t start = std::clock();
  bool accepted = true;
  try {
    p = DecodeProfile(bytes, format, "in");
  } catch (const EProfileFormatError&) {
    accepted = false;
  }
  VLX_FUZZ_CHECK(std::clock() - start < CLOCKS_PER_SEC);
  return accepted;
}

// The bytes repeated up to size.
std::vector<uint8_t> Repeated(const std::vector<uint8_t>& bytes, std::size_t size) {
  std::vector<uint8_t> out;
  out.reserve(size);
  while (out.size() < size) out.insert(out.end(), bytes.begin(), bytes.begin() + std::min(bytes.size(), size - out.size()));
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const ProfileFormat format = static_cast<ProfileFormat>(data[0] % 3);
  const std::vector<uint8_t> bytes(data + 1, data + size);
  const unsigned grow = (data[0] / 3) % 3;  // 0: as it is; 1: to 256 KiB; 2: beyond the limit
  if (grow != 0 && !bytes.empty()) {
    TLoadedProfile big;
    const bool accepted = DecodeInTime(Repeated(bytes, grow == 1 ? 256 * 1024 : MaxProfileFileSize + 1), format, big);
    VLX_FUZZ_CHECK(grow == 1 || !accepted);
  }
  TLoadedProfile p;
  if (!DecodeInTime(bytes, format, p)) return 0;
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
