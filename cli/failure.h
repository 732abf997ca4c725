// How a command fails: the exit code and the message the run ends with.
#pragma once

#include <stdexcept>
#include <string>

namespace cli {

// How a run ends, as the process exits (the values are the documented exit codes).
enum class ExitCode : int { Done = 0, Findings = 1, Usage = 2, Mismatch = 3, BadInput = 4, UnknownUser = 6 };

// A command's failure: its exit code and its one-line message in UTF-8 (empty when already told).
class TFailure : public std::runtime_error {
 public:
  TFailure(ExitCode code, const std::string& message) : std::runtime_error(message), code_(code) {}
  ExitCode Code() const noexcept { return code_; }

 private:
  ExitCode code_;
};

}  // namespace cli
