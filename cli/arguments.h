// The words of a command line: options and positional arguments, and the settings they give.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/failure.h"
#include "core/job.h"

namespace cli {

// The words after a command's name: options from `valued` take the next word (or "=value"),
// options from `flags` take none, everything else is positional. Fails with ExitCode::Usage for any other
// option, for a valued one at the end, and for a positional count outside `min` to `max`.
class TArguments {
 public:
  TArguments(const std::vector<std::string>& words, std::initializer_list<std::string_view> valued,
             std::initializer_list<std::string_view> flags, std::size_t min, std::size_t max);
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

// --format, --cost, --rounds and --encoding over the command's defaults: bcrypt at cost 10, UTF-8.
core::TSettings SettingsFrom(const TArguments& args);

// How long a command waits for another run's lock: --wait SECONDS, or without end when absent.
using TWait = std::optional<unsigned long>;
TWait WaitFrom(const TArguments& args);

}  // namespace cli
