// Benchmark of reading hostile profiles: how long the core takes to refuse
// a JSON document of many empty objects, deep nesting or one long string,
// and a .cus or .syx file of the size limit, for growing sizes. The time
// per MiB stays flat when reading is linear in the size.
//
// Build and run:
//   cmake --build <build> --target vlx_bench_hostile_json
//   <build>/tools/bench/vlx_bench_hostile_json
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "profile/ProfileFormats.h"

namespace {

using Clock = std::chrono::steady_clock;

std::vector<uint8_t> Objects(std::size_t n) {
  std::string s = "[";
  for (std::size_t i = 0; i < n; ++i) s += i ? ",{}" : "{}";
  s += "]";
  return {s.begin(), s.end()};
}

std::vector<uint8_t> Deep(std::size_t n) {
  std::string s(n, '[');
  s.append(n, ']');
  return {s.begin(), s.end()};
}

std::vector<uint8_t> LongString(std::size_t n) {
  std::string s = "{\"name\":\"" + std::string(n, 'x') + "\"}";
  return {s.begin(), s.end()};
}

// The best of three runs, in milliseconds, and what the core said.
double Refuse(const std::vector<uint8_t>& bytes, vlx::ProfileFormat format, std::string& said) {
  double best = 1e300;
  for (int run = 0; run < 3; ++run) {
    const auto start = Clock::now();
    try {
      vlx::DecodeProfile(bytes, format, "bench");
      said = "accepted";
    } catch (const vlx::EProfileFormatError& e) {
      said = e.what();
    }
    best = std::min(best, std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  return best;
}

}  // namespace

int main() {
  struct Kind {
    const char* Name;
    std::function<std::vector<uint8_t>(std::size_t)> Make;
    vlx::ProfileFormat Format;
  };
  const Kind kinds[] = {
      {"json empty objects", Objects, vlx::ProfileFormat::Json},
      {"json nesting", Deep, vlx::ProfileFormat::Json},
      {"json one long string", LongString, vlx::ProfileFormat::Json},
      {"cus zeros", [](std::size_t n) { return std::vector<uint8_t>(n, 0); }, vlx::ProfileFormat::Cus},
      {"syx F0 bytes", [](std::size_t n) { return std::vector<uint8_t>(n, 0xF0); }, vlx::ProfileFormat::Syx},
  };
  std::printf("%-22s %10s %10s %10s  %s\n", "input", "bytes", "ms", "ms/MiB", "refused as");
  for (const Kind& k : kinds) {
    for (std::size_t n : {10000u, 100000u, 200000u, 340000u, 3000000u}) {
      const std::vector<uint8_t> bytes = k.Make(n);
      std::string said;
      const double ms = Refuse(bytes, k.Format, said);
      if (const auto colon = said.find(": "); colon != std::string::npos) said = said.substr(colon + 2);
      std::printf("%-22s %10zu %10.2f %10.2f  %s\n", k.Name, bytes.size(), ms,
                  ms / (static_cast<double>(bytes.size()) / (1 << 20)), said.substr(0, 60).c_str());
    }
  }
  return 0;
}
