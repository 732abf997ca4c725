// Where a build's hashing runs: here on threads of their own, one per core; a front end without
// threads (the browser page) links its own definition and runs the steps itself.
#pragma once

#include <cstddef>
#include <functional>

namespace core {

// Calls `step` on up to `workers` detached threads, each until it returns false. `step` hashes
// one chunk of a run and may be called from several threads at once.
void StartHashWorkers(std::size_t workers, const std::function<bool()>& step);

}  // namespace core
