#include "hashes/random_source.h"

#include <algorithm>
#include <cstring>

#include "platform/system.h"
#include "text/exceptions.h"
#include "text/messages.h"

namespace hashes {
namespace {

// Draws are a byte or two at a time, thousands of them in a build: they are served from a pool
// that is refilled from the kernel a page at a time, and every byte is handed out once.
class TSystemRandom final : public TRandomSource {
 public:
  void Fill(std::uint8_t* out, std::size_t size) override {
    while (size > 0) {
      if (used_ == sizeof pool_) Refill();
      const std::size_t n = std::min(size, sizeof pool_ - used_);
      std::memcpy(out, pool_ + used_, n);
      std::memset(pool_ + used_, 0, n);
      used_ += n;
      out += n;
      size -= n;
    }
  }

 private:
  void Refill() {
    if (const int err = platform::SystemRandomBytes(pool_, sizeof pool_); err != 0)
      throw text::Exception(text::FormatMessage(messages::SNoRandomSource, {platform::SystemErrorText(err)}));
    used_ = 0;
  }

  std::uint8_t pool_[4096] = {};
  std::size_t used_ = sizeof pool_;
};

TSystemRandom system_random;
TRandomSource* current = &system_random;

}  // namespace

TRandomSource& CurrentRandomSource() { return *current; }

TRandomSource*& RandomSourceInForce() { return current; }

unsigned RandomBelow(unsigned n) {
  // The largest multiple of n that fits in a byte: bytes at or above it are drawn again.
  const unsigned limit = 256 - 256 % n;
  for (;;) {
    std::uint8_t byte = 0;
    CurrentRandomSource().Fill(&byte, 1);
    if (byte < limit) return byte % n;
  }
}

}  // namespace hashes
