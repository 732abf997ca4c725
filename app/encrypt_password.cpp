#include "app/encrypt_password.h"

#include <algorithm>
#include <cstring>
#include <thread>

#include "des_crypt/des_crypt.h"
#include "platform/system.h"
#include "text/exceptions.h"
#include "text/messages.h"

namespace {

// Draws are a byte or two at a time, thousands of them in a build: they are served from a pool
// that is refilled from the kernel a page at a time, and every byte is handed out once.
class SystemRandom final : public RandomSource {
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

SystemRandom system_random;
RandomSource* current = &system_random;

}  // namespace

RandomSource& CurrentRandomSource() { return *current; }

ScopedRandomSource::ScopedRandomSource(RandomSource& source) : previous_(current) { current = &source; }
ScopedRandomSource::~ScopedRandomSource() { current = previous_; }

unsigned RandomBelow(unsigned n) {
  // The largest multiple of n that fits in a byte: bytes at or above it are drawn again.
  const unsigned limit = 256 - 256 % n;
  for (;;) {
    std::uint8_t byte = 0;
    CurrentRandomSource().Fill(&byte, 1);
    if (byte < limit) return byte % n;
  }
}

HashInput DrawHashInput(std::string_view password, std::string_view salt) {
  HashInput input{std::string(password), std::string(salt)};
  if (input.password.empty()) {
    for (int i = 0; i < 8; ++i) input.password += CryptAlphabet[2 + RandomBelow(62)];
  }
  if (input.salt.empty()) {
    for (int i = 0; i < 2; ++i) input.salt += CryptAlphabet[RandomBelow(64)];
  }
  return input;
}

std::vector<std::string> HashAll(const std::vector<HashInput>& inputs) {
  std::vector<std::string> hashes(inputs.size());
  const auto hash_range = [&](std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to; ++i) hashes[i] = DesCrypt(inputs[i].password, inputs[i].salt);
  };
  // Below a few hundred rows a thread costs more than it saves.
  const std::size_t workers =
      inputs.size() < 512 ? 1 : std::max<std::size_t>(1, std::min<std::size_t>(std::thread::hardware_concurrency(), 16));
  std::vector<std::thread> threads;
  const std::size_t share = (inputs.size() + workers - 1) / workers;
  for (std::size_t w = 1; w < workers; ++w)
    threads.emplace_back(hash_range, std::min(w * share, inputs.size()), std::min((w + 1) * share, inputs.size()));
  hash_range(0, std::min(share, inputs.size()));
  for (std::thread& t : threads) t.join();
  return hashes;
}

std::string EncryptPassword(std::string_view password, std::string_view salt) {
  const HashInput input = DrawHashInput(password, salt);
  return DesCrypt(input.password, input.salt) + ":" + input.password;
}
