#include "core/encrypt_password.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <span>
#include <thread>

#include "core/encoding.h"
#include "des_crypt/des_crypt.h"

namespace {

std::string Generated() {
  std::string password;
  for (int i = 0; i < 8; ++i) password += CryptAlphabet[2 + RandomBelow(62)];
  return password;
}

// DES goes through the bitsliced batch hash, a chunk of rows at once.
void HashDes(const std::vector<HashJob>& jobs, std::size_t from, std::size_t to, std::vector<std::string>& hashes) {
  std::vector<std::string_view> passwords, salts;
  passwords.reserve(to - from);
  salts.reserve(to - from);
  for (std::size_t i = from; i < to; ++i) {
    passwords.push_back(jobs[i].Hashed());
    salts.push_back(jobs[i].setting);
  }
  DesCryptBatch(passwords, salts, std::span(hashes).subspan(from, to - from));
}

}  // namespace

HashJob DrawHashJob(std::string_view password, hashes::Format format, const hashes::Strength& strength, bool utf8) {
  HashJob job{password.empty() ? Generated() : std::string(password), {}, {}};
  if (utf8) job.hashed = core::OutputBytes(job.password, true);
  job.setting = hashes::DrawSetting(format, strength);
  return job;
}

std::optional<std::vector<std::string>> HashAll(const std::vector<HashJob>& jobs,
                                                const std::function<bool(std::size_t done)>& keep_going) {
  std::vector<std::string> hashes(jobs.size());
  // Jobs are taken in chunks, each worker taking the next free one, so that the cores stay busy to
  // the end even when one chunk costs more than another; the results land in their own places.
  // DES goes in chunks of 1,024, a whole number of the widest batch pass; the slow formats one
  // at a time, so that a cancel is heard within one hash.
  const bool fast = !jobs.empty() && jobs.front().setting.size() == 2;
  const std::size_t chunk = fast ? 1024 : 1;
  const std::size_t chunks = (jobs.size() + chunk - 1) / chunk;
  std::atomic<std::size_t> next{0}, done{0};
  std::atomic<bool> stop{false};
  std::mutex mutex;
  std::condition_variable finished;
  std::exception_ptr failure;
  const auto work = [&] {
    for (std::size_t c; !stop && (c = next++) < chunks;) {
      const std::size_t from = c * chunk, to = std::min(jobs.size(), from + chunk);
      try {
        if (fast)
          HashDes(jobs, from, to, hashes);
        else
          for (std::size_t i = from; i < to; ++i) hashes[i] = hashes::HashWithSetting(jobs[i].Hashed(), jobs[i].setting);
      } catch (...) {
        const std::lock_guard lock(mutex);
        if (!failure) failure = std::current_exception();
        stop = true;
      }
      done += to - from;
      finished.notify_one();
    }
  };
  const std::size_t workers = std::min<std::size_t>(chunks, std::max(1u, std::thread::hardware_concurrency()));
  std::vector<std::thread> threads;
  for (std::size_t w = 0; w < workers; ++w) threads.emplace_back(work);
  bool cancelled = false;
  while (done < jobs.size() && !stop) {
    if (!keep_going(done)) {
      cancelled = stop = true;
      break;
    }
    std::unique_lock lock(mutex);
    finished.wait_for(lock, std::chrono::milliseconds(20));
  }
  for (std::thread& t : threads) t.join();
  if (failure) std::rethrow_exception(failure);
  if (cancelled) return std::nullopt;
  keep_going(done);
  return hashes;
}

std::string EncryptPassword(std::string_view password, std::string_view salt) {
  const std::string effective = password.empty() ? Generated() : std::string(password);
  return DesCrypt(effective, salt.empty() ? hashes::DrawSetting(hashes::Format::Des, {}) : std::string(salt)) + ":" +
         effective;
}
