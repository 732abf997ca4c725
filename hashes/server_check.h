// What Apache 2.4 (mod_authn_file, through apr-util) and nginx (auth_basic) do with the text after
// "user:" on Debian 12: which form each takes it for, and whether a password logs in through it.
// Every form is computed by the library that server calls (apr-util, the C library's crypt, our
// DesCrypt only where crypt would give the same), never by code of ours standing in for it.
#pragma once

#include <string_view>

#include "hashes/hashes.h"

namespace hashes {

enum class Server { Apache, Nginx };
inline constexpr Server kServers[] = {Server::Apache, Server::Nginx};
// "Apache" or "nginx", as a message names it.
std::string_view ServerName(Server server);

// Every form a server may meet, told apart by the text alone. Plain is text of no other form: a
// password written as it stands, or a hash mangled past recognition.
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
// A short name for messages: "DES", "MD5-crypt ($1$)", "{PLAIN}", "平文" ...
std::string_view FormName(AnyForm form);

// Whether `server` can let anyone log in through a hash of `form` at all.
bool Accepts(Server server, AnyForm form);
// The bcrypt cost or SHA-crypt rounds of `hash` (SHA-crypt without rounds= counts as 5000), or 0
// for a form that has neither.
unsigned long Cost(std::string_view hash);

// What `server` answers when a browser sends `password` for a user whose line carries `hash`,
// exactly those bytes: Match, Mismatch, or Uncheckable when this build cannot compute it as that
// server does (say, a bcrypt cost too high to compute here in reasonable time). Safe from many threads.
Verdict CheckAs(Server server, std::string_view password, std::string_view hash);

}  // namespace hashes
