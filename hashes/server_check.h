// What Apache 2.4 (mod_authn_file, through apr-util) and nginx (auth_basic) do with the text after
// "user:" on Debian 12: which form each takes it for, and whether a password logs in through it.
// Every form is computed by a well-kept library, never by code of ours standing in for it: what
// a server hands to apr-util or the C library's crypt goes to the same call here, and what nginx
// computes itself ({SHA}, {SSHA}, $apr1$) is made from apr-util's digests.
#pragma once

#include <string_view>

#include "hashes/hashes.h"

namespace hashes {

enum class Server { Apache, Nginx };
inline constexpr Server kServers[] = {Server::Apache, Server::Nginx};
// "Apache" or "nginx", as a message names it.
std::string_view ServerName(Server server);

// Every form a server may meet, told apart by the text alone, as leniently as the servers tell
// them: by the prefix alone where there is one. Plain is text of no other form: a password written
// as it stands, a hash mangled past recognition, or a method of the C library's outside these.
enum class AnyForm {
  Des,          // 13 characters of CryptAlphabet
  ExtendedDes,  // "_" and 19 characters (BSDi)
  Md5Crypt,     // "$1$"
  Apr1,         // "$apr1$", any salt length apr-util takes
  Sha256,       // "$5$", with or without rounds=, any salt length libxcrypt takes (even empty)
  Sha512,       // "$6$", likewise
  Bcrypt,       // "$2a$", "$2b$", "$2x$", "$2y$"
  Sha1,         // "{SHA}" and base64
  SaltedSha1,   // "{SSHA}" and base64 of digest and salt
  TaggedPlain,  // "{PLAIN}" and the password
  Plain,
};
AnyForm ClassifyHash(std::string_view hash);
// A short name for messages, in code page 932 as the message table's texts: "DES",
// "MD5-crypt ($1$)", "{PLAIN}", "平文" ...
std::string_view FormName(AnyForm form);

// Whether `server` can let anyone log in through `hash`, of the form `form` (ClassifyHash's) at all.
bool Accepts(Server server, AnyForm form, std::string_view hash);
// The bcrypt cost or SHA-crypt rounds of `hash`, of the form `form` (SHA-crypt without rounds=
// counts as 5000), or 0 for a form that has neither.
unsigned long Cost(AnyForm form, std::string_view hash);
// Past this a SHA-crypt hash takes seconds per login, as a bcrypt cost past kMaxBcryptCost does.
inline constexpr unsigned long kMaxCheckedShaCryptRounds = 10'000'000;

// What `server` answers when a browser sends `password` for a user whose line carries `hash`,
// exactly those bytes, as the server took them from the line: Match, Mismatch, or Uncheckable
// where that server would compute longer than anyone waits for a login (a bcrypt cost above
// kMaxBcryptCost that it computes, rounds above kMaxCheckedShaCryptRounds, a method of the C
// library's outside AnyForm, whose cost is not read here). Both servers end the password at its
// first NUL. Safe from many threads.
Verdict CheckAs(Server server, std::string_view password, std::string_view hash);

}  // namespace hashes
