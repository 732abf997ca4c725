// A broken promise ends the run, naming the check and its line, so that libFuzzer and the replay
// both report the input and the crash report says which promise broke.
#pragma once

#include <cstdio>
#include <cstdlib>

#define CHECK(condition) \
  ((condition) ? void() : (std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition), std::abort()))
