// The password hashes a .htpasswd line can carry (the text after "user:"): the ones we write,
// the ones we recognise in a file we load, and what a server really checks of a password.
//
// Passwords are byte strings, but a NUL byte ends them for every server: Apache and nginx hand
// the password to C-string functions. The libraries behind every form but DES take
// C strings too, so here as on the server a NUL and all after it count for nothing. DES
// goes through our DesCrypt, which hashes a NUL like any other byte: the DES hash of a password
// with a NUL inside verifies here, but never on a server. TIgnored::after_nul flags such passwords.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace hashes {

// The forms we write.
enum class Format { Des, Apr1, Sha512, Bcrypt };

// The forms we recognise and keep from an existing file: the ones we write, "{SHA}" followed by
// the base64 of the password's SHA-1, and "$5$" (SHA-256 crypt), which we verify but never write.
enum class Form { Des, Apr1, Sha512, Bcrypt, Sha1, Sha256 };

// How costly the slow formats are to compute, for us once and for an attacker per guess.
inline constexpr int kMinBcryptCost = 4;  // the least libxcrypt accepts
inline constexpr int kMaxBcryptCost = 17;  // 128 times cost 10: seconds per login
inline constexpr unsigned long kMinSha512Rounds = 1'000;  // libxcrypt's bounds
inline constexpr unsigned long kMaxSha512Rounds = 999'999'999;
struct TStrength {
  int bcrypt_cost = 10;  // each step up doubles the time
  unsigned long sha512_rounds = 100'000;
  bool operator==(const TStrength&) const = default;
};

// A fresh setting for `format`, its salt drawn from CurrentRandomSource() on the calling thread:
// two CryptAlphabet characters (DES), "$apr1$" + 8 characters + "$", "$6$rounds=N$" + 16
// characters (the rounds part absent for 5000, as libxcrypt writes it) or "$2y$CC$" + 22
// characters. TStrength values outside their bounds are brought to the nearest bound. Throws
// text::Exception when no random bytes can be had.
std::string DrawSetting(Format format, const TStrength& strength);

// The whole hash of `password` under `setting` (one DrawSetting returned, or a whole hash of a
// form we write, which brings its setting along): 13 characters for DES, 37 for Apr1, 60 for
// Bcrypt, at most 123 for Sha512. Pure and safe to call from many threads at once. Throws
// std::invalid_argument for a setting the libraries refuse.
std::string HashWithSetting(std::string_view password, std::string_view setting);

// The form of `hash`, the text after "user:" exactly as it stands in a file, or nullopt unless
// it has that form's exact length and alphabet: 13 characters of CryptAlphabet; "$apr1$", 8, "$",
// 22; "$6$" or "$5$", optionally "rounds=N$" (N from 1000 to 999999999, no leading zero), 1 to
// 16, "$", 86 or 43; "$2a$", "$2b$" or "$2y$", two cost digits from 04 to 31, "$", 53; "{SHA}",
// 27 base64 characters and "=".
std::optional<Form> IdentifyHash(std::string_view hash);

// Whether `password` gives `hash`: DES through DesCrypt with the hash's first two characters as
// salt, every other form through apr-util's apr_password_validate, as Apache checks it. False
// for anything IdentifyHash does not recognise. Safe to call from many threads at once.
bool Verify(std::string_view password, std::string_view hash);

// The three answers a check can give: a hash of a form nobody here can compute (an unknown form,
// or a bcrypt cost above what apr-util takes, so above what Apache takes) is neither a match nor
// a mismatch.
enum class Verdict { Match, Mismatch, Uncheckable };
Verdict Check(std::string_view password, std::string_view hash);

// What a server leaves out of `password` when it checks it under `format`: the facts a warning
// mark in the table rests on.
struct TIgnored {
  bool beyond_limit = false;  // bytes past the 8th (DES) or the 72nd (Bcrypt)
  bool eighth_bits = false;  // DES: the top bit of each of the 8 bytes that count
  bool after_nul = false;  // a NUL byte, and everything after it
  bool Any() const { return beyond_limit || eighth_bits || after_nul; }
  bool operator==(const TIgnored&) const = default;
};
TIgnored WhatServersIgnore(Format format, std::string_view password);

}  // namespace hashes
