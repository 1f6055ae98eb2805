// What the fuzz targets share: an invariant check that stops the run with
// the failed condition, so that libFuzzer keeps the input that broke it.
#pragma once

#include <cstdio>
#include <cstdlib>

#define VLX_FUZZ_CHECK(cond)                                                                  \
  do {                                                                                        \
    if (!(cond)) {                                                                            \
      std::fprintf(stderr, "invariant failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__);     \
      std::abort();                                                                           \
    }                                                                                         \
  } while (0)
