// A random source for tests that must draw alike twice.
#pragma once

#include "hashes/random_source.h"

// The same bytes whenever it starts afresh: two runs that draw alike get the same salts and passwords.
class ScriptedRandom : public hashes::TRandomSource {
 public:
  void Fill(std::uint8_t* out, std::size_t size) override {
    for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<std::uint8_t>(next_ = next_ * 75 + 74);
  }

 private:
  unsigned next_ = 1;
};
