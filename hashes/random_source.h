// Where every random byte of the program comes from: salts, and passwords generated for empty
// table cells.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/scoped.h"

namespace hashes {

// Where random bytes come from: the kernel's cryptographic source, unless a test has put a
// deterministic one in its place.
class TRandomSource {
 public:
  virtual ~TRandomSource() = default;
  // Fills the buffer; fails loudly (throws) rather than give predictable bytes.
  virtual void Fill(std::uint8_t* out, std::size_t size) = 0;
};

// The source draws take bytes from: the system's, or the one a TScopedRandomSource put in place.
// Not synchronised: draw on one thread at a time (hashing itself may run on many).
TRandomSource& CurrentRandomSource();

// The pointer CurrentRandomSource() reads, for TScopedRandomSource to change.
TRandomSource*& RandomSourceInForce();
// Puts a source in place for its lifetime, then restores the one before.
using TScopedRandomSource = platform::TScopedOverride<TRandomSource, RandomSourceInForce>;

// A number from 0 to n - 1 (n at most 256), every value exactly equally likely: bytes that would
// favour the low values are drawn again.
unsigned RandomBelow(unsigned n);

}  // namespace hashes
