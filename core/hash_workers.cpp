#include "core/hash_workers.h"

#include <csignal>
#include <pthread.h>
#include <thread>
#include <utility>

namespace core {

void StartDetached(std::function<void()> work) {
  // A new thread starts with its creator's mask.
  sigset_t all, before;
  sigfillset(&all);
  ::pthread_sigmask(SIG_SETMASK, &all, &before);
  try {
    std::thread(std::move(work)).detach();
  } catch (...) {
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    throw;
  }
  ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

void StartHashWorkers(std::size_t workers, const std::function<bool()>& step) {
  for (std::size_t w = 0; w < workers; ++w) StartDetached([step] { while (step()) {} });
}

}  // namespace core
