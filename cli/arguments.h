// The words of a command line: options and positional arguments, and the settings they give.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/failure.h"
#include "core/job.h"
#include "hashes/server_check.h"

namespace cli {

struct TCommand;

// The words after a command's name, read as `command` declares them: an option that takes a value
// takes the next word (or "=value"), a flag none, everything else is positional. Fails with
// ExitCode::Usage for an option the command does not take, for a valued one at the end, and for too
// few or too many positional words.
class TArguments {
 public:
  TArguments(const std::vector<std::string>& words, const TCommand& command);
  const std::string& operator[](std::size_t i) const { return positional_.at(i); }
  const std::vector<std::string>& Positional() const noexcept { return positional_; }
  std::optional<std::string> Value(std::string_view option) const;  // the last one given
  bool Flag(std::string_view option) const;
  // The option's number, `fallback` when absent; ExitCode::Usage outside `low` to `high`.
  unsigned long Number(std::string_view option, unsigned long fallback, unsigned long low, unsigned long high) const;

 private:
  std::vector<std::string> positional_;
  std::vector<std::pair<std::string, std::string>> options_;
};

// What the commands write without --format, --cost, --rounds and --encoding: bcrypt, UTF-8.
core::TSettings CommandDefaults();

// --format, --cost, --rounds and --encoding over CommandDefaults().
core::TSettings SettingsFrom(const TArguments& args);

// The word --server takes for `server`: its name in lower case.
std::string ServerWord(hashes::Server server);

// How long a command waits for another run's lock: --wait SECONDS, or without end when absent.
using TWait = std::optional<unsigned long>;
TWait WaitFrom(const TArguments& args);

}  // namespace cli
