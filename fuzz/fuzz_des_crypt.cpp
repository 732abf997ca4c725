// The hash on arbitrary password and salt bytes, against the system crypt(3) as a black-box
// oracle. The low two bits of the first input byte give the salt's length (0 to 3), the salt
// follows, and the rest is the password.
//
// The same bytes also make a batch for the bitsliced batch hash, every element of which must
// equal DesCrypt's hash (see CheckBatch), for the inputs whose length is a multiple of 4. The
// batch hash has no branch that depends on the data, so what differs between inputs is only the
// packing of keys and salts into registers and the encoding of results, which a quarter of the
// inputs reach as well as all would; the other three quarters keep the fuzzer fast.
#include <crypt.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "des_crypt/des_crypt.h"
#include "des_crypt/des_crypt_internal.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

constexpr std::string_view kAlphabet = "./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
// The last character carries four hash bits and two zero bits.
constexpr std::string_view kLastChars = ".26AEIMQUYcgkosw";

// The salt value of any byte, 0 to 63: the position of an alphabet character, and for the other
// bytes the value of the alphabet range they sit next to, taken modulo 64.
unsigned SaltValue(unsigned char x) {
  if (x <= '9') return (x + 64u - 46u) % 64u;
  if (x <= 'Z') return (x + 64u - 53u) % 64u;
  return (x - 59u) % 64u;
}

// The input read as records: a byte whose low two bits give a salt length (0 to 3) and next four
// a password length (0 to 15), then the salt and the password, until the input ends (the last
// one cut short) or there are 80 of them, which is more than one pass of the narrowest variant:
// each one costs a DesCrypt to check, and longer batches would only slow the fuzzer down. The top two bits of the first byte pick the variant among those the processor
// supports, so that each run hashes the batch once and the fuzzer still reaches them all.
void CheckBatch(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string_view> passwords, salts;
  const auto* text = reinterpret_cast<const char*>(data);
  for (std::size_t at = 0; at < size && passwords.size() < 80;) {
    const std::size_t salt_size = std::min<std::size_t>(data[at] & 3u, size - at - 1);
    const std::size_t password_size = std::min<std::size_t>(data[at] >> 2 & 15u, size - at - 1 - salt_size);
    salts.emplace_back(text + at + 1, salt_size);
    passwords.emplace_back(text + at + 1 + salt_size, password_size);
    at += 1 + salt_size + password_size;
  }
  std::vector<des_crypt::internal::BatchVariant> variants;
  for (const auto& v : des_crypt::internal::BatchVariants())
    if (v.supported()) variants.push_back(v);
  std::vector<std::string> results(passwords.size());
  variants[(data[0] >> 6) % variants.size()].hash(passwords, salts, results);
  for (std::size_t i = 0; i < results.size(); ++i) Check(results[i] == DesCrypt(passwords[i], salts[i]));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t salt_size = std::min<std::size_t>(data[0] & 3u, size - 1);
  const std::string salt(reinterpret_cast<const char*>(data + 1), salt_size);
  const std::string password(reinterpret_cast<const char*>(data + 1 + salt_size), size - 1 - salt_size);

  const std::string hash = DesCrypt(password, salt);
  Check(hash.size() == 13);

  // The salt bytes come back as given; an empty salt stands for "Jw", a missing second byte for 0.
  const std::string used = salt.empty() ? std::string("Jw") : salt.size() == 1 ? salt + '\0' : salt.substr(0, 2);
  Check(hash.compare(0, 2, used) == 0);
  for (std::size_t i = 2; i < 13; ++i) Check(kAlphabet.find(hash[i]) != std::string_view::npos);
  Check(kLastChars.find(hash[12]) != std::string_view::npos);

  // Only the first eight bytes count, seven bits each, and a short password is padded with zeros.
  std::string key(8, '\0');
  for (std::size_t i = 0; i < 8 && i < password.size(); ++i) key[i] = static_cast<char>(password[i] & 0x7F);
  Check(DesCrypt(key, salt) == hash);

  // Any salt hashes like the two alphabet characters with its salt values.
  std::string canonical;
  canonical += kAlphabet[SaltValue(static_cast<unsigned char>(used[0]))];
  canonical += kAlphabet[SaltValue(static_cast<unsigned char>(used[1]))];

  // The oracle reads a C string and refuses one of 512 bytes or more, but it too takes only the
  // first eight bytes, seven bits each. So it is given those bytes with every NUL as 0x80, the
  // same seven zero bits in a byte that does not end the string: then it must agree with our hash
  // of the whole password, NUL bytes, top bits and every byte past the eighth included.
  std::string oracle_key = password.substr(0, 8);
  for (char& c : oracle_key)
    if (c == '\0') c = '\x80';
  static crypt_data oracle_state{};
  const char* expected = crypt_r(oracle_key.c_str(), canonical.c_str(), &oracle_state);
  Check(expected != nullptr && std::strlen(expected) == 13);
  Check(std::string_view(expected + 2, 11) == std::string_view(hash).substr(2));
  if (used == canonical) Check(hash == expected);

  if (size % 4 == 0) CheckBatch(data, size);
  return 0;
}
