// The traditional DES-based crypt(3) password hash.
#pragma once

#include <string>
#include <string_view>

// The 13-byte crypt(3) string of `password` under `salt`: the two salt bytes, then eleven
// characters of "./0-9A-Za-z". Only the first 8 password bytes count, 7 bits each. Never fails.
std::string DesCrypt(std::string_view password, std::string_view salt);
