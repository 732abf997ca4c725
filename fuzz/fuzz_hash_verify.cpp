// A password and a hash as a file may hold them: whatever form IdentifyHash recognises, Verify says
// what Apache's apr_password_validate says, and for the crypt(3) forms what nginx's crypt_r says;
// what it does not recognise, it never accepts. The same bytes also script the random source of a
// fresh setting, whose hash must then verify.
//
// Input: one byte (the low 6 bits the password's length, the top 2 the format of the fresh
// setting), the password, and the hash.
#include <apr_md5.h>
#include <crypt.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "hashes/hashes.h"
#include "hashes/random_source.h"

namespace {

// The script's bytes, then counting on from its last: a draw that refuses bytes still gets new ones.
struct ScriptedSource : hashes::TRandomSource {
  std::string_view script;
  std::size_t next = 0;
  void Fill(std::uint8_t* out, std::size_t size) override {
    for (; size > 0; --size, ++next)
      *out++ = next < script.size() ? static_cast<std::uint8_t>(script[next]) : static_cast<std::uint8_t>(next);
  }
};

// Checks that take more than a few milliseconds teach the fuzzer nothing the cheap ones do not.
bool TooCostly(std::string_view hash, hashes::Form form) {
  if (form == hashes::Form::Bcrypt) return hash.substr(4, 2) > "05";
  if (form != hashes::Form::Sha512 && form != hashes::Form::Sha256) return false;
  if (!hash.substr(3).starts_with("rounds=")) return false;  // 5000 when not given
  const std::string_view rounds = hash.substr(10, hash.find('$', 10) - 10);
  return rounds.size() > 4 || (rounds.size() == 4 && rounds > "5000");
}

bool ApacheAccepts(const std::string& password, const std::string& hash) {
  return apr_password_validate(password.c_str(), hash.c_str()) == APR_SUCCESS;
}

bool CryptAccepts(const std::string& password, const std::string& hash) {
  const auto data = std::make_unique<crypt_data>();
  const char* made = crypt_r(password.c_str(), hash.c_str(), data.get());
  return made != nullptr && hash == made;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::string password(rest.substr(0, static_cast<std::size_t>(data[0] & 0x3F))), hash(rest.substr(password.size()));
  // Servers hand the password to C-string functions: a NUL ends it.
  const std::string server_password = password.substr(0, password.find('\0'));

  const std::optional<hashes::Form> form = hashes::IdentifyHash(hash);
  if (!form) {
    CHECK(!hashes::Verify(password, hash));
  } else if (!TooCostly(hash, *form)) {
    const bool accepted = hashes::Verify(server_password, hash);
    CHECK(accepted == ApacheAccepts(server_password, hash));
    if (*form != hashes::Form::Apr1 && *form != hashes::Form::Sha1) CHECK(accepted == CryptAccepts(server_password, hash));
    if (*form != hashes::Form::Des) CHECK(hashes::Verify(password, hash) == accepted);
  }

  constexpr hashes::Format kFormats[] = {hashes::Format::Des, hashes::Format::Apr1, hashes::Format::Sha512, hashes::Format::Bcrypt};
  constexpr hashes::Form kForms[] = {hashes::Form::Des, hashes::Form::Apr1, hashes::Form::Sha512, hashes::Form::Bcrypt};
  const int format = data[0] >> 6;
  ScriptedSource script;
  script.script = hash;
  const hashes::TScopedRandomSource scoped(script);
  const std::string made = hashes::HashWithSetting(password, hashes::DrawSetting(kFormats[format], {4, 1000}));
  CHECK(hashes::IdentifyHash(made) == kForms[format]);
  CHECK(hashes::Verify(password, made));
  return 0;
}
