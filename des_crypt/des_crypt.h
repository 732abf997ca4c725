// The traditional DES-based crypt(3) password hash.
#pragma once

#include <span>
#include <string>
#include <string_view>

// "./0-9A-Za-z": the characters of salts, of the hash and of generated passwords, in the order of
// their 6-bit values.
inline constexpr std::string_view CryptAlphabet =
    "./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

// The 13-byte crypt(3) string of `password` under `salt`: the two salt bytes, then eleven
// characters of "./0-9A-Za-z". Only the first 8 password bytes count, 7 bits each. Never fails.
std::string DesCrypt(std::string_view password, std::string_view salt);

// Hashes passwords[i] under salts[i] for every i, exactly as DesCrypt(passwords[i], salts[i]) does.
// results[i] receives the 13-byte result. The three spans have the same size (any size, 0 included);
// std::invalid_argument when they do not.
// It hashes up to 512 side by side (bitsliced, as wide as the processor's registers allow), so on
// long batches, best a multiple of 512, each hash costs a fraction of a DesCrypt call (a 30th
// with AVX-512). Safe to call from several threads at once.
void DesCryptBatch(std::span<const std::string_view> passwords, std::span<const std::string_view> salts,
                   std::span<std::string> results);
