// The command's interface, declared once: its commands, their arguments and options, what each
// means and how a run ends. The parser, --help, the manual page and the shell's completion are all
// made from these tables, so that an option is added in one place and offered, explained and
// accepted everywhere at once.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli/failure.h"

namespace cli {

class TArguments;

// What a word names, so that a Tab offers what fits there.
enum class WordKind { Text, File, Folder, User };

struct TOption {
  std::string name;                // "--format"
  std::string value;               // what its value is called ("N"); empty for a flag
  std::vector<std::string> words;  // the values it takes, when it takes only these (and a Tab offers them)
  WordKind kind;                   // what another value names
  std::string help;                // what it does, UTF-8, one paragraph

  bool IsFlag() const noexcept { return value.empty(); }
  // Its value as the option list shows it: its words between "|", or its value's name.
  std::string ValueShown() const;
};

struct TPositional {
  std::string_view name;
  WordKind kind;
};

struct TCommand {
  std::string_view name;
  std::vector<TPositional> positionals;  // the last one may be repeated when `repeats`
  bool repeats;
  std::vector<std::string_view> options;  // by name, in the order the synopsis shows them
  std::string_view required;              // the one option it cannot run without, or ""
  std::string help;                       // what it does, UTF-8, one paragraph
  ExitCode (*run)(const TArguments&);
};

struct TExitMeaning {
  ExitCode code;
  std::string_view meaning;
};

// Every option, in the order the option list shows them.
const std::vector<TOption>& Options();
// The option called `name`; throws std::out_of_range for a name no option has.
const TOption& OptionNamed(std::string_view name);
// The commands, in the order the help shows them.
const std::vector<TCommand>& Commands();
// The names of the commands that take `option`, between ", ".
std::string CommandsTaking(std::string_view option);
// What each exit code says.
std::span<const TExitMeaning> ExitMeanings();
// The paragraph after the option list: how arguments are read and what a changing command promises.
std::string_view Promise();

// The whole text of --help.
std::string Help();

}  // namespace cli
