// Loading any file as a profile: what reaches the table, the dump built from
// it, the bytes that go out on a port, and saving and loading again.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "FuzzCheck.h"
#include "midi/FakeMidiService.h"
#include "midi/HexCodec.h"
#include "midi/Midi.h"
#include "profile/FileOps.h"
#include "profile/ParaTable.h"
#include "profile/ProfileFile.h"
#include "sync/SysEx.h"

namespace {

// The file under test lives in memory. The loader opens a real descriptor
// (a memory file of the right size, for fstat) and reads its bytes through
// the file-operations seam; everything else is the real path.
struct MemoryFile {
  int fd = ::memfd_create("fuzz.cus", 0);
  const uint8_t* data = nullptr;
  size_t size = 0;
  size_t cursor = 0;
};

MemoryFile& File() {
  static MemoryFile file;
  return file;
}

void PutFile(const uint8_t* data, size_t size) {
  VLX_FUZZ_CHECK(::ftruncate(File().fd, static_cast<off_t>(size)) == 0);
  File().data = data;
  File().size = size;
}

int32_t RawInt(const uint8_t* record, size_t offset) {
  uint32_t u = 0;
  for (int i = 0; i < 4; ++i) u |= uint32_t(record[offset + i]) << (8 * i);
  return static_cast<int32_t>(u);
}

std::string RawName(const uint8_t* record, size_t offset) {
  return std::string(reinterpret_cast<const char*>(record + offset + 1), std::min<size_t>(record[offset], 80));
}

bool SameFields(const vlx::TParaRecord& a, const vlx::TParaRecord& b) {
  return a.Name.str() == b.Name.str() && a.NameEditorText.str() == b.NameEditorText.str() &&
         a.DataType == b.DataType && a.ControlMode == b.ControlMode && a.Value == b.Value &&
         a.Channel == b.Channel && a.Disabled == b.Disabled &&
         std::equal(std::begin(a.Globals), std::end(a.Globals), std::begin(b.Globals));
}

uint8_t DataByte(int32_t v) { return static_cast<uint8_t>(std::clamp<int32_t>(v, 0, 127)); }

// An output port to send the dump on, as SYNC TO FW does.
struct Port {
  vlx::FakeMidiService service;
  std::string key = service.AddOutput("vellox");
  std::atomic<int32_t> probe{0};
  vlx::TMidiOutput out{service, probe};
  Port() { out.Open(0); }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  vlx::ActiveFileOps().Open = [](const char*, int, mode_t) {
    File().cursor = 0;
    return ::dup(File().fd);
  };
  vlx::ActiveFileOps().Read = [](int, void* buf, size_t n) -> ssize_t {
    MemoryFile& f = File();
    const size_t part = std::min(n, f.size - f.cursor);
    if (part > 0) std::memcpy(buf, f.data + f.cursor, part);
    f.cursor += part;
    return static_cast<ssize_t>(part);
  };
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Port port;
  PutFile(data, size);

  vlx::TParaTable factory;
  vlx::ApplyFactoryValues(factory);
  vlx::TParaTable table = factory;
  try {
    vlx::LoadProfileFile("fuzz.cus", table);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "a readable file was refused: %s\n", e.what());
    std::abort();
  }

  // The records the file holds, within the limits; the others untouched.
  const size_t records = std::min<size_t>(size / vlx::RecordSize, vlx::ControlCount);
  for (int n = 1; n <= vlx::ControlCount; ++n) {
    const vlx::TParaRecord& r = table[n];
    VLX_FUZZ_CHECK(r.Name.str().size() <= 80 && r.NameEditorText.str().size() <= 80);
    if (static_cast<size_t>(n) > records) {
      VLX_FUZZ_CHECK(SameFields(r, factory[n]));
      continue;
    }
    const uint8_t* raw = data + vlx::RecordSize * static_cast<size_t>(n - 1);
    VLX_FUZZ_CHECK(r.Value == std::min(RawInt(raw, 172), 127));
    VLX_FUZZ_CHECK(r.Channel == std::min(RawInt(raw, 176), 15));
    VLX_FUZZ_CHECK(r.DataType == std::min(RawInt(raw, 164), 6));
    VLX_FUZZ_CHECK(r.ControlMode == RawInt(raw, 168));
    VLX_FUZZ_CHECK(r.Disabled == RawInt(raw, 180));
    for (int i = 0; i < 8; ++i) VLX_FUZZ_CHECK(r.Globals[i] == RawInt(raw, 184 + 4 * i));
    VLX_FUZZ_CHECK(r.Name.str() == RawName(raw, 0));
    VLX_FUZZ_CHECK(r.NameEditorText.str() == RawName(raw, 81));
  }

  // The dump of that table: 143 characters, and data bytes only in its body.
  const std::string text = vlx::BuildDumpText(table);
  VLX_FUZZ_CHECK(text.size() == 143);
  VLX_FUZZ_CHECK(text.compare(0, 12, "F0 34 00 27 ") == 0);
  VLX_FUZZ_CHECK(text.compare(129, 14, "F7 00 00 00 00") == 0);
  uint8_t body[39];
  int b = 0;
  for (int n = 1; n <= 16; ++n) body[b++] = DataByte(table[n].Value);
  for (int n = 17; n <= 21; ++n) {
    body[b++] = DataByte(table[n].Value);
    body[b++] = DataByte(table[n].Channel);
    body[b++] = DataByte(table[n].DataType);
  }
  for (int i = 0; i < 8; ++i) body[b++] = DataByte(table.GlobalBlock()[i]);

  port.service.ClearSent();
  port.out.SendSysEx(0, text);
  const auto sent = port.service.Sent(port.key);
  VLX_FUZZ_CHECK(sent.size() == 1);
  const auto& wire = sent[0];
  VLX_FUZZ_CHECK(wire.size() == 47);
  VLX_FUZZ_CHECK(wire[0] == 0xF0 && wire[1] == 0x34 && wire[2] == 0x00 && wire[3] == 0x27);
  VLX_FUZZ_CHECK(wire[43] == 0xF7 && wire[44] == 0 && wire[45] == 0 && wire[46] == 0);
  for (int i = 0; i < 39; ++i) VLX_FUZZ_CHECK(wire[4 + i] == body[i]);

  // Saving writes 21 whole records with a zero filler, and loading what was
  // saved gives the same table.
  const auto saved = vlx::EncodeProfile(table);
  VLX_FUZZ_CHECK(saved.size() == vlx::ProfileSize);
  for (int n = 0; n < vlx::ControlCount; ++n)
    VLX_FUZZ_CHECK(saved[216 * n + 162] == 0 && saved[216 * n + 163] == 0);
  PutFile(saved.data(), saved.size());
  vlx::TParaTable reloaded;
  vlx::LoadProfileFile("fuzz.cus", reloaded);
  for (int n = 1; n <= vlx::ControlCount; ++n) VLX_FUZZ_CHECK(SameFields(reloaded[n], table[n]));
  return 0;
}
