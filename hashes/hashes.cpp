#include "hashes/hashes.h"

#include <apr_md5.h>
#include <crypt.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <stdexcept>

#include "des_crypt/des_crypt.h"
#include "hashes/formats.h"
#include "hashes/random_source.h"

// apr-util is used without apr_initialize: apr_md5_encode and apr_password_validate touch no
// pool, mutex or character translation on this platform, only malloc, crypt_r and their own
// digests (the dynamic linker's binding trace of all five forms shows nothing else).

namespace hashes {
namespace {

constexpr std::string_view kBase64 = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

bool AllIn(std::string_view s, std::string_view alphabet) {
  return s.find_first_not_of(alphabet) == std::string_view::npos;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string DrawSalt(int length) {
  std::string salt;
  for (int i = 0; i < length; ++i) salt += CryptAlphabet[RandomBelow(64)];
  return salt;
}

std::string LibrarySetting(std::string_view prefix_view, unsigned long count) {
  const std::string prefix(prefix_view);
  // All that bcrypt's 128-bit salt takes, and more than the 16 characters of a SHA-512 salt use.
  constexpr int kBytes = 16;
  std::uint8_t bytes[kBytes];
  CurrentRandomSource().Fill(bytes, sizeof bytes);
  char setting[CRYPT_GENSALT_OUTPUT_SIZE];
  if (!crypt_gensalt_rn(prefix.c_str(), count, reinterpret_cast<const char*>(bytes), kBytes, setting, sizeof setting))
    throw std::logic_error(std::string("libxcrypt refuses a setting for ") + prefix);
  return setting;
}

// "$6$" or "$5$" already taken: [rounds=N$]salt$ and the digest's `length` characters.
bool IsShaCryptRest(std::string_view rest, std::size_t length) {
  if (rest.starts_with("rounds=")) {
    rest.remove_prefix(7);
    const std::size_t end = rest.find('$');
    if (end == std::string_view::npos || end < 4 || end > 9 || rest[0] == '0' ||
        !std::all_of(rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(end), IsDigit))
      return false;
    rest.remove_prefix(end + 1);
  }
  const std::size_t end = rest.find('$');
  return end != std::string_view::npos && end >= 1 && end <= 16 && AllIn(rest.substr(0, end), CryptAlphabet) &&
         rest.size() == end + 1 + length && AllIn(rest.substr(end + 1), CryptAlphabet);
}

}  // namespace

std::string DrawSetting(Format format, const TStrength& strength) {
  switch (format) {
    case Format::Des:
      return DrawSalt(2);
    case Format::Apr1:
      return std::string(RowOf(format).prefix) + DrawSalt(8) + "$";
    case Format::Sha512:
      return LibrarySetting(RowOf(format).prefix, std::clamp(strength.sha512_rounds, kMinSha512Rounds, kMaxSha512Rounds));
    case Format::Bcrypt:
      return LibrarySetting(RowOf(format).prefix, static_cast<unsigned long>(std::clamp(strength.bcrypt_cost, kMinBcryptCost, kMaxBcryptCost)));
  }
  throw std::invalid_argument("unknown hash format");
}

std::string HashWithSetting(std::string_view password, std::string_view setting) {
  if (!setting.starts_with('$')) {
    if (setting.size() < 2) throw std::invalid_argument("a DES setting is two characters");
    return DesCrypt(password, setting.substr(0, 2));
  }
  // Both libraries take C strings: the password ends at its first NUL, as on the server.
  const std::string c_password(password), c_setting(setting);
  if (setting.starts_with("$apr1$")) {
    char hash[64];  // 37 characters and the NUL
    if (apr_md5_encode(c_password.c_str(), c_setting.c_str(), hash, sizeof hash) != APR_SUCCESS)
      throw std::invalid_argument("apr-util refuses the setting " + c_setting);
    return hash;
  }
  // Every other format we write is libxcrypt's, which refuses a setting it does not know.
  // 32 KiB of scratch space per call, so that any number of threads can hash at once.
  const auto data = std::make_unique<crypt_data>();
  if (const char* hash = crypt_rn(c_password.c_str(), c_setting.c_str(), data.get(), sizeof *data)) return hash;
  throw std::invalid_argument("libxcrypt refuses the setting " + c_setting);
}

std::optional<Form> IdentifyHash(std::string_view h) {
  if (h.size() == 13 && AllIn(h, CryptAlphabet)) return Form::Des;
  if (h.size() == 37 && h.starts_with("$apr1$") && h[14] == '$' && AllIn(h.substr(6, 8), CryptAlphabet) &&
      AllIn(h.substr(15), CryptAlphabet))
    return Form::Apr1;
  if (h.size() == 60 && h.starts_with("$2") && (h[2] == 'a' || h[2] == 'b' || h[2] == 'y') && h[3] == '$' &&
      IsDigit(h[4]) && IsDigit(h[5]) && h[6] == '$' && AllIn(h.substr(7), CryptAlphabet)) {
    const int cost = (h[4] - '0') * 10 + (h[5] - '0');
    if (cost >= 4 && cost <= 31) return Form::Bcrypt;
  }
  if (h.starts_with("$6$") && IsShaCryptRest(h.substr(3), 86)) return Form::Sha512;
  if (h.starts_with("$5$") && IsShaCryptRest(h.substr(3), 43)) return Form::Sha256;
  if (h.size() == 33 && h.starts_with("{SHA}") && h.back() == '=' && AllIn(h.substr(5, 27), kBase64)) return Form::Sha1;
  return std::nullopt;
}

bool Verify(std::string_view password, std::string_view hash) { return Check(password, hash) == Verdict::Match; }

Verdict Check(std::string_view password, std::string_view hash) {
  const std::optional<Form> form = IdentifyHash(hash);
  if (!form) return Verdict::Uncheckable;
  if (*form == Form::Des) return DesCrypt(password, hash.substr(0, 2)) == hash ? Verdict::Match : Verdict::Mismatch;
  switch (apr_password_validate(std::string(password).c_str(), std::string(hash).c_str())) {
    case APR_SUCCESS:
      return Verdict::Match;
    case APR_EMISMATCH:
      return Verdict::Mismatch;
    default:
      return Verdict::Uncheckable;
  }
}

TIgnored WhatServersIgnore(Format format, std::string_view password) {
  TIgnored ignored;
  ignored.after_nul = password.find('\0') != std::string_view::npos;
  if (format == Format::Des) {
    ignored.beyond_limit = password.size() > 8;
    const std::string_view counted = password.substr(0, 8);
    ignored.eighth_bits = std::any_of(counted.begin(), counted.end(), [](char c) { return (c & 0x80) != 0; });
  } else if (format == Format::Bcrypt) {
    ignored.beyond_limit = password.size() > 72;
  }
  return ignored;
}

}  // namespace hashes
