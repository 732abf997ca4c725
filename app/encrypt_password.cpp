#include "app/encrypt_password.h"

#include <algorithm>
#include <thread>

#include "des_crypt/des_crypt.h"

HashInput DrawHashInput(std::string_view password, std::string_view salt) {
  HashInput input{std::string(password), std::string(salt)};
  if (input.password.empty()) {
    for (int i = 0; i < 8; ++i) input.password += CryptAlphabet[2 + RandomBelow(62)];
  }
  if (input.salt.empty()) {
    for (int i = 0; i < 2; ++i) input.salt += CryptAlphabet[RandomBelow(64)];
  }
  return input;
}

std::vector<std::string> HashAll(const std::vector<HashInput>& inputs) {
  std::vector<std::string> hashes(inputs.size());
  const auto hash_range = [&](std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to; ++i) hashes[i] = DesCrypt(inputs[i].password, inputs[i].salt);
  };
  // Below a few hundred rows a thread costs more than it saves.
  const std::size_t workers =
      inputs.size() < 512 ? 1 : std::max<std::size_t>(1, std::min<std::size_t>(std::thread::hardware_concurrency(), 16));
  std::vector<std::thread> threads;
  const std::size_t share = (inputs.size() + workers - 1) / workers;
  for (std::size_t w = 1; w < workers; ++w)
    threads.emplace_back(hash_range, std::min(w * share, inputs.size()), std::min((w + 1) * share, inputs.size()));
  hash_range(0, std::min(share, inputs.size()));
  for (std::thread& t : threads) t.join();
  return hashes;
}

std::string EncryptPassword(std::string_view password, std::string_view salt) {
  const HashInput input = DrawHashInput(password, salt);
  return DesCrypt(input.password, input.salt) + ":" + input.password;
}
