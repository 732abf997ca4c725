// The browser has no threads to hash on while the page stays responsive: the build's steps are
// kept here and run one at a time by the page's worker (web::StepHashing), which reads its messages
// (a cancel) between them.
#include "core/hash_workers.h"

#include "web_seams.h"

namespace {

std::function<bool()> pending;

}  // namespace

namespace core {

void StartHashWorkers(std::size_t, const std::function<bool()>& step) { pending = step; }

}  // namespace core

namespace web {

bool StepHashing() {
  if (pending && pending()) return true;
  pending = nullptr;
  return false;
}

}  // namespace web
