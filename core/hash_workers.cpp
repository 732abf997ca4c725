#include "core/hash_workers.h"

#include <thread>

namespace core {

void StartHashWorkers(std::size_t workers, const std::function<bool()>& step) {
  for (std::size_t w = 0; w < workers; ++w) std::thread([step] { while (step()) {} }).detach();
}

}  // namespace core
