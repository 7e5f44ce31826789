#pragma once
// The fuzz targets' invariant check: a broken invariant is a finding, so it aborts with the
// condition and its place, whatever the build's assertions are set to.
#include <cstdio>
#include <cstdlib>

#define CHECK(cond)                                                                        \
  do {                                                                                     \
    if (!(cond)) {                                                                         \
      std::fprintf(stderr, "invariant failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
      std::abort();                                                                        \
    }                                                                                      \
  } while (0)
