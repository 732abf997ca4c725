// Where a build's hashing runs: here on threads of their own, one per core; a front end without
// threads (the browser page) links its own definition and runs the steps itself.
#pragma once

#include <cstddef>
#include <functional>

namespace core {

// Calls `step` on up to `workers` detached threads, each until it returns false. `step` hashes
// one chunk of a run and may be called from several threads at once.
void StartHashWorkers(std::size_t workers, const std::function<bool()>& step);

// Runs `work` on a detached thread that takes no signal meant for the whole process: those reach
// the thread that decides what they mean (the command holds Ctrl+C back while it saves, and its
// lock wait ends on an alarm), never a worker, where the default action would end the process
// wherever a save stands.
void StartDetached(std::function<void()> work);

}  // namespace core
