#include "hashes/server_check.h"

#include <apr_base64.h>
#include <apr_md5.h>
#include <apr_sha1.h>
#include <crypt.h>

#include <memory>
#include <string>

#include "des_crypt/des_crypt.h"
#include "text/messages.h"

// What each server does was found by asking the real servers (tests/server_check_test.cpp):
// Apache hands every form to apr_password_validate; nginx computes {PLAIN}, {SHA}, {SSHA} and
// $apr1$ itself and every other form through the C library's crypt, and either way compares the
// text it computed with the whole hash.

namespace hashes {
namespace {

// The prefixes the servers tell a form by; no one begins another.
struct TPrefix {
  std::string_view prefix;
  AnyForm form;
};
constexpr TPrefix kPrefixes[] = {
    {"$apr1$", AnyForm::Apr1},       {"$1$", AnyForm::Md5Crypt},     {"$5$", AnyForm::Sha256},
    {"$6$", AnyForm::Sha512},        {"$2a$", AnyForm::Bcrypt},      {"$2b$", AnyForm::Bcrypt},
    {"$2x$", AnyForm::Bcrypt},       {"$2y$", AnyForm::Bcrypt},      {"{SHA}", AnyForm::Sha1},
    {"{SSHA}", AnyForm::SaltedSha1}, {"{PLAIN}", AnyForm::TaggedPlain},
};

// Indexed by AnyForm.
// In code page 932, as every text the message table holds.
constexpr std::string_view kFormNames[] = {
    "DES", messages::SFormExtendedDes, "MD5-crypt ($1$)", "Apache MD5 ($apr1$)", "SHA-256 ($5$)", "SHA-512 ($6$)",
    messages::SFormBcrypt, "SHA-1 ({SHA})", messages::SFormSaltedSha1, "{PLAIN}", messages::SFormPlain,
};
static_assert(std::size(kFormNames) == static_cast<std::size_t>(AnyForm::Plain) + 1);

bool AllIn(std::string_view s, std::string_view alphabet) {
  return s.find_first_not_of(alphabet) == std::string_view::npos;
}

// The libraries take C strings: what a NUL ends is not there for them.
std::string CString(std::string_view bytes) { return std::string(bytes.substr(0, bytes.find('\0'))); }

bool TooSlow(AnyForm form, std::string_view hash) {
  if (form == AnyForm::Bcrypt) return Cost(form, hash) > static_cast<unsigned long>(kMaxBcryptCost);
  if (form == AnyForm::Sha256 || form == AnyForm::Sha512) return Cost(form, hash) > kMaxCheckedShaCryptRounds;
  // Some other method of the C library's ($y$, $7$, $sha1$ ...): its cost is not read here.
  if (form == AnyForm::Plain && hash.starts_with('$')) {
    const int salt = crypt_checksalt(CString(hash).c_str());
    return salt != CRYPT_SALT_INVALID && salt != CRYPT_SALT_METHOD_DISABLED;
  }
  return false;
}

std::string Base64(std::string_view bytes) {
  std::string coded(static_cast<std::size_t>(apr_base64_encode_len(static_cast<int>(bytes.size()))), '\0');
  coded.resize(static_cast<std::size_t>(apr_base64_encode_binary(coded.data(), reinterpret_cast<const unsigned char*>(bytes.data()),
                                                                 static_cast<int>(bytes.size()))) - 1);
  return coded;
}

// The SHA-1 digest of `a` followed by `b`.
std::string Sha1(std::string_view a, std::string_view b) {
  apr_sha1_ctx_t context;
  apr_sha1_init(&context);
  apr_sha1_update_binary(&context, reinterpret_cast<const unsigned char*>(a.data()), static_cast<unsigned>(a.size()));
  apr_sha1_update_binary(&context, reinterpret_cast<const unsigned char*>(b.data()), static_cast<unsigned>(b.size()));
  unsigned char digest[APR_SHA1_DIGESTSIZE];
  apr_sha1_final(digest, &context);
  return std::string(reinterpret_cast<const char*>(digest), sizeof digest);
}

// The text nginx computes from `password` with `hash` as its setting, to compare with `hash`.
std::string NginxText(AnyForm form, const std::string& password, const std::string& hash) {
  switch (form) {
    case AnyForm::TaggedPlain:
      return "{PLAIN}" + password;
    case AnyForm::Sha1:
      return "{SHA}" + Base64(Sha1(password, ""));
    case AnyForm::SaltedSha1: {
      // The salt is whatever the stored digest is followed by.
      const std::string coded = hash.substr(6);
      std::string decoded(static_cast<std::size_t>(apr_base64_decode_len(coded.c_str())), '\0');
      decoded.resize(static_cast<std::size_t>(apr_base64_decode_binary(reinterpret_cast<unsigned char*>(decoded.data()), coded.c_str())));
      const std::string salt = decoded.size() > APR_SHA1_DIGESTSIZE ? decoded.substr(APR_SHA1_DIGESTSIZE) : "";
      return "{SSHA}" + Base64(Sha1(password, salt) + salt);
    }
    case AnyForm::Apr1: {
      char text[120];
      return apr_md5_encode(password.c_str(), hash.c_str(), text, sizeof text) == APR_SUCCESS ? text : "";
    }
    default: {
      // 32 KiB of scratch space per call, so that any number of threads can check at once.
      const auto data = std::make_unique<crypt_data>();
      const char* text = crypt_rn(password.c_str(), hash.c_str(), data.get(), sizeof *data);
      return text ? text : "";
    }
  }
}

}  // namespace

std::string_view ServerName(Server server) { return server == Server::Apache ? "Apache" : "nginx"; }

AnyForm ClassifyHash(std::string_view hash) {
  for (const TPrefix& p : kPrefixes)
    if (hash.starts_with(p.prefix)) return p.form;
  if (hash.size() == 20 && hash.starts_with('_') && AllIn(hash.substr(1), CryptAlphabet)) return AnyForm::ExtendedDes;
  if (hash.size() == 13 && AllIn(hash, CryptAlphabet)) return AnyForm::Des;
  return AnyForm::Plain;
}

std::string_view FormName(AnyForm form) { return kFormNames[static_cast<std::size_t>(form)]; }

bool Accepts(Server server, AnyForm form, std::string_view hash) {
  switch (form) {
    case AnyForm::SaltedSha1:
    case AnyForm::TaggedPlain:
      return server == Server::Nginx;
    case AnyForm::Plain: {
      // A method of the C library's that we give no form of its own still goes through crypt on both.
      const int salt = hash.starts_with('$') ? crypt_checksalt(CString(hash).c_str()) : CRYPT_SALT_INVALID;
      return salt == CRYPT_SALT_OK || salt == CRYPT_SALT_METHOD_LEGACY || salt == CRYPT_SALT_TOO_CHEAP;
    }
    case AnyForm::Bcrypt:
      // apr-util computes $2a$ and $2y$ itself and refuses a cost beyond its bounds at once.
      return server == Server::Nginx || !(hash.starts_with("$2a$") || hash.starts_with("$2y$")) || (Cost(form, hash) >= kMinBcryptCost && Cost(form, hash) <= kMaxBcryptCost);
    default:
      return true;
  }
}

unsigned long Cost(AnyForm form, std::string_view hash) {
  if (form == AnyForm::Bcrypt) {
    if (hash.size() < 6 || hash[4] < '0' || hash[4] > '9' || hash[5] < '0' || hash[5] > '9') return 0;
    return static_cast<unsigned long>(hash[4] - '0') * 10 + static_cast<unsigned long>(hash[5] - '0');
  }
  if (form != AnyForm::Sha256 && form != AnyForm::Sha512) return 0;
  constexpr std::string_view kRounds = "rounds=";
  if (hash.substr(3, kRounds.size()) != kRounds) return 5000;  // the crypt default, written without rounds=
  unsigned long rounds = 0;
  for (std::size_t i = 3 + kRounds.size(); i < hash.size() && hash[i] >= '0' && hash[i] <= '9' && rounds < 1'000'000'000; ++i)
    rounds = rounds * 10 + static_cast<unsigned long>(hash[i] - '0');
  return rounds;
}

Verdict CheckAs(Server server, std::string_view password, std::string_view hash) {
  const AnyForm form = ClassifyHash(hash);
  const std::string c_password = CString(password), c_hash = CString(hash);
  // apr-util itself refuses a $2a$ or $2y$ cost it would take too long for, at once.
  const bool apr_refuses = server == Server::Apache && (hash.starts_with("$2a$") || hash.starts_with("$2y$"));
  if (!apr_refuses && TooSlow(form, hash)) return Verdict::Uncheckable;
  if (server == Server::Apache)
    return apr_password_validate(c_password.c_str(), c_hash.c_str()) == APR_SUCCESS ? Verdict::Match : Verdict::Mismatch;
  // A text nginx cannot compute comes back empty, and an empty hash is no match for it either.
  return !c_hash.empty() && NginxText(form, c_password, c_hash) == c_hash ? Verdict::Match : Verdict::Mismatch;
}

}  // namespace hashes
