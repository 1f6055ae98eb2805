// The resident memory of this process, for the benchmarks that print it.
#pragma once

#include <fstream>
#include <string>

namespace vlx::bench {

// VmRSS of /proc/self/status in kB, or -1 when it cannot be read.
inline long VmRssKb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

}  // namespace vlx::bench
