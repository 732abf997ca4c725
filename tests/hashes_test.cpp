#include <apr_md5.h>
#include <gtest/gtest.h>

#include <vector>

#include "hashes/hashes.h"
#include "hashes/random_source.h"
#include "text/exceptions.h"

using namespace std::string_literals;
using namespace hashes;

namespace {

// Bytes first, first + 1, ... 255, 0, 1, ...: every value of a draw is reached, in a known order.
struct CountingSource : RandomSource {
  explicit CountingSource(std::uint8_t first = 0) : next(first) {}
  void Fill(std::uint8_t* out, std::size_t size) override { while (size-- > 0) *out++ = next++; }
  std::uint8_t next;
};

constexpr Format kFormats[] = {Format::Des, Format::Apr1, Format::Sha512, Format::Bcrypt};
constexpr Strength kFast{4, 1000};
const std::string kSjis = "\x95\x5C\x83\x7C";  // 表ポ in code page 932: trail bytes "\" and "|"

// Apache's own check.
bool ServerAccepts(const std::string& password, const std::string& hash) {
  return apr_password_validate(password.c_str(), hash.c_str()) == APR_SUCCESS;
}

}  // namespace

TEST(RandomSource, DrawsAreExactlyUniform) {
  // From the 8 highest bytes on, which 62 values cannot share evenly and are drawn again, 256
  // bytes hold exactly 4 draws of each of 62 values, and exactly 4 of each of 64.
  CountingSource counting(248);
  const ScopedRandomSource scoped(counting);
  for (const unsigned n : {62u, 64u}) {
    std::vector<int> seen(n);
    for (unsigned i = 0; i < 4 * n; ++i) ++seen.at(RandomBelow(n));
    EXPECT_EQ(seen, std::vector<int>(n, 4)) << "n " << n;
  }
}

TEST(RandomSource, AFailingRandomSourceFailsLoudly) {
  struct BrokenSource : RandomSource {
    void Fill(std::uint8_t*, std::size_t) override { throw text::Exception("no randomness"); }
  } broken;
  const ScopedRandomSource scoped(broken);
  for (const Format f : kFormats) EXPECT_THROW(DrawSetting(f, kFast), text::Exception);
}

TEST(Hashes, ScriptedBytesGiveTheSaltTheySay) {
  const auto hash_from = [](std::uint8_t first, Format format) {
    CountingSource counting(first);
    const ScopedRandomSource scoped(counting);
    return HashWithSetting(kSjis, DrawSetting(format, kFast));
  };
  for (const Format f : kFormats) {
    EXPECT_EQ(hash_from(0, f), hash_from(0, f));
    EXPECT_NE(hash_from(0, f), hash_from(1, f));
  }
  // One byte per character, byte % 64 into CryptAlphabet.
  EXPECT_EQ(hash_from(0, Format::Des).substr(0, 2), "./");
  EXPECT_EQ(hash_from(62, Format::Apr1).substr(0, 15), "$apr1$yz./0123$");
  // The 16 bytes are bcrypt's salt exactly: apr-util's own bcrypt, given them, agrees.
  const std::uint8_t salt[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
  char apr_hash[64];
  ASSERT_EQ(apr_bcrypt_encode(kSjis.c_str(), 4, salt, sizeof salt, apr_hash, sizeof apr_hash), APR_SUCCESS);
  EXPECT_EQ(hash_from(0, Format::Bcrypt), apr_hash);
}

TEST(Hashes, KnownAnswers) {
  const std::tuple<std::string, std::string, Form> answers[] = {
      // perl -e 'print crypt("password", "ab")' (the system crypt)
      {"password", "abJnggxhB/yWI", Form::Des},
      // openssl passwd -apr1 -salt saltsalt password; printf '\x95\x5c\x83\x7c' | openssl passwd -apr1 -salt ./01AZaz -stdin
      {"password", "$apr1$saltsalt$yAAkm4libquA.ZWLHbSBq/", Form::Apr1},
      {kSjis, "$apr1$./01AZaz$Uy6t.L5.KlZHzF8cfPwot/", Form::Apr1},
      // openssl passwd -6 -salt saltsalt password; the same with -salt ./0123456789ABCD -stdin
      {"password", "$6$saltsalt$qFmFH.bQmmtXzyBY0s9v7Oicd2z4XSIecDzlB5KiA2/jctKu9YterLp8wwnSq.qc.eoxqOmSuNp2xS0ktL3nh/", Form::Sha512},
      {kSjis, "$6$./0123456789ABCD$2YTeucO30xLmjRv/R2rrPblDbcPu1FEJgHWJaBfzd3ZtlYqVAmuTvc16Lw5v6fP5LuEb95SvChnHl14oFGAhj1", Form::Sha512},
      // apr-util's apr_bcrypt_encode("pw", 4, bytes 0 to 15); $2b$ hashes ASCII as $2y$ does
      {"pw", "$2y$04$..CA.uOD/eaGAOmJB.yMBu/p8pzi/Poxi87S0g7SVrl8L0fOVwTL.", Form::Bcrypt},
      {"pw", "$2b$04$..CA.uOD/eaGAOmJB.yMBu/p8pzi/Poxi87S0g7SVrl8L0fOVwTL.", Form::Bcrypt},
      // printf password | openssl sha1 -binary | base64
      {"password", "{SHA}W6ph5Mm5Pz8GgiULbPgzG37mj9g=", Form::Sha1},
      {kSjis, "{SHA}H77ezHts1AaI/su2upcQqrAsy1I=", Form::Sha1}};
  for (const auto& [password, hash, form] : answers) {
    EXPECT_EQ(IdentifyHash(hash), form) << hash;
    EXPECT_TRUE(Verify(password, hash) && !Verify("x" + password, hash)) << hash;
    EXPECT_EQ(form == Form::Sha1 ? hash : HashWithSetting(password, hash), hash);
  }
}

TEST(Hashes, IdentifyHashIsStrict) {
  const std::string c22(22, 'a'), c53(53, 'b'), c86(86, 'c'), sha = "{SHA}" + std::string(27, '+');
  // Accepted beyond the known answers' forms.
  for (const std::string& h : std::vector<std::string>{"$6$s$" + c86, "$6$rounds=1000$s$" + c86,
                                                       "$6$rounds=999999999$s$" + c86, "$2a$31$" + c53})
    EXPECT_TRUE(IdentifyHash(h).has_value()) << h;
  for (const std::string& h : std::vector<std::string>{
           "", "abJnggxhB/yW", "abJnggxhB/yWII", "abJnggxhB/yW!", "abJnggxhB/yWI ", "$1$saltsalt$" + c22,
           "$5$s$" + std::string(43, 'c'), "$apr1$saltsal$" + c22 + "a", "$apr1$saltsalt$" + c22 + "a",
           "$apr1$salt:alt$" + c22, "$2x$04$" + c53, "$2y$03$" + c53, "$2y$32$" + c53, "$2y$4$" + c53 + "b",
           "$2y$04$" + c53.substr(1) + "+", "$6$$" + c86, "$6$0123456789abcdefg$" + c86, "$6$s$" + c86.substr(1),
           "$6$s$" + c86 + "c", "$6$s:$" + c86, "$6$rounds=999$s$" + c86, "$6$rounds=01000$s$" + c86,
           "$6$rounds=1000000000$s$" + c86, "$6$rounds=1000s$" + c86, sha, sha + "==", "{sha}" + sha.substr(5) + "="})
    EXPECT_FALSE(IdentifyHash(h).has_value()) << h;
}

TEST(Hashes, ServersIgnoreWhatWeSayTheyIgnore) {
  // Apache accepts `variant` for the password's hash exactly when it ignores what tells them apart.
  const std::string a72(72, 'a');
  const std::tuple<Format, std::string, std::string, Ignored> cases[] = {
      {Format::Des, "12345678\xB1tail", "12345678", {true, false, false}},  // a top bit past the eighth byte is no eighth bit
      {Format::Des, "\xB1\xB2", "12", {false, true, false}},
      {Format::Bcrypt, a72 + "b", a72, {true, false, false}},
      {Format::Bcrypt, a72, a72.substr(1) + "b", {}},
      {Format::Bcrypt, "\xB1\xB2", "12", {}},
      {Format::Apr1, "ab\0cd"s, "ab", {false, false, true}},
      {Format::Sha512, "ab\0cd"s, "ab", {false, false, true}}};
  for (const auto& [format, password, variant, ignored] : cases) {
    EXPECT_TRUE(WhatServersIgnore(format, password) == ignored) << password;
    const std::string hash = HashWithSetting(password, DrawSetting(format, kFast));
    EXPECT_EQ(ServerAccepts(variant, hash), ignored.Any()) << password;
  }
}
