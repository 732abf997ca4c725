// Turning a table password into its .htpasswd hash: an empty password is first replaced by a
// random one of 8 letters and digits, and every hash gets a fresh random two-character salt.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "hashes/random_source.h"

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
