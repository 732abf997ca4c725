// What the browser build puts in place of the machine's threads.
#pragma once

namespace web {

// Hashes the next piece of the build under way; false when nothing is left to do.
bool StepHashing();

}  // namespace web
