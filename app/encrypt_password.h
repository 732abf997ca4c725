// Turning a table password into its .htpasswd hash: an empty password is first replaced by a
// random one of 8 letters and digits, and every hash gets a fresh random two-character salt.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// "./0-9A-Za-z": the characters of salts, generated passwords and hash output, in this order.
inline constexpr std::string_view CryptAlphabet =
    "./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

// Where random bytes come from: the kernel's cryptographic source, unless a test has put a
// deterministic one in its place.
class RandomSource {
 public:
  virtual ~RandomSource() = default;
  // Fills the buffer; fails loudly (throws) rather than give predictable bytes.
  virtual void Fill(std::uint8_t* out, std::size_t size) = 0;
};

RandomSource& CurrentRandomSource();

class ScopedRandomSource {
 public:
  explicit ScopedRandomSource(RandomSource& source);
  ~ScopedRandomSource();
  ScopedRandomSource(const ScopedRandomSource&) = delete;
  ScopedRandomSource& operator=(const ScopedRandomSource&) = delete;

 private:
  RandomSource* previous_;
};

// A number from 0 to n - 1 (n at most 256), every value exactly equally likely: bytes that would
// favour the low values are drawn again.
unsigned RandomBelow(unsigned n);

// What a row needs drawn before it can be hashed: the password (the given one, or a new one of 8
// characters from CryptAlphabet positions 2 to 63) and the salt (the given one, or 2 characters
// from all 64 positions).
struct HashInput {
  std::string password;
  std::string salt;
};
HashInput DrawHashInput(std::string_view password, std::string_view salt);

// The hashes of `inputs`, in their order, computed on all processor cores.
std::vector<std::string> HashAll(const std::vector<HashInput>& inputs);

// The 13-character hash, ":" and the password that was hashed. The hash holds no ":", so the
// result splits at its first ":".
std::string EncryptPassword(std::string_view password, std::string_view salt);
