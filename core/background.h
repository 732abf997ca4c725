// Work on a thread of its own whose result the caller may stop waiting for at any moment. A hash
// cannot be interrupted, and one can take half an hour: work that hashes through CheckApart has
// that done in a child process, which dropping the TBackground kills, so that its thread ends
// within moments and nothing goes on computing. The thread owns what it works on, so dropping the
// TBackground frees nothing it still uses; whatever it finishes later is thrown away.
#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "core/encrypt_password.h"
#include "core/hash_workers.h"

namespace core {

template <class T>
class TBackground {
 public:
  explicit TBackground(std::function<T()> work) : shared_(std::make_shared<TShared>()) {
    StartDetached([shared = shared_, work = std::move(work)] {
      TStopper::Current() = &shared->stopper;
      std::optional<T> value;
      std::exception_ptr failure;
      try {
        value.emplace(work());
      } catch (...) {
        failure = std::current_exception();
      }
      const std::lock_guard lock(shared->mutex);
      shared->value = std::move(value);
      shared->failure = failure;
      shared->ready = true;
      TStopper::Current() = nullptr;
    });
  }
  // Stops the work's check under way, if any.
  ~TBackground() { shared_->stopper.Stop(); }
  TBackground(const TBackground&) = delete;
  TBackground& operator=(const TBackground&) = delete;

  bool Ready() const {
    const std::lock_guard lock(shared_->mutex);
    return shared_->ready;
  }
  // The result once Ready; a failure of the work is rethrown here.
  T Take() {
    const std::lock_guard lock(shared_->mutex);
    if (shared_->failure) std::rethrow_exception(shared_->failure);
    return std::move(*shared_->value);
  }

 private:
  struct TShared {
    std::mutex mutex;
    bool ready = false;
    std::optional<T> value;
    std::exception_ptr failure;
    TStopper stopper;
  };
  std::shared_ptr<TShared> shared_;
};

}  // namespace core
