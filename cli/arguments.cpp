// The words of a command line: options and positional arguments, and the settings they give.
#include "cli/arguments.h"

#include <cctype>
#include <charconv>
#include <cstdint>

#include "cli/interface.h"
#include "hashes/formats.h"
#include "text/exceptions.h"
#include "text/messages.h"

namespace cli {

TArguments::TArguments(const std::vector<std::string>& words, const TCommand& command) {
  const auto taken = [&command](std::string_view name, bool flag) {
    for (std::string_view o : command.options)
      if (o == name && OptionNamed(o).IsFlag() == flag) return true;
    return false;
  };
  const auto valued = [&](std::string_view name) { return taken(name, false); };
  bool options_end = false;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (options_end || word == "-" || !word.starts_with('-')) {
      positional_.push_back(word);
    } else if (word == "--") {
      options_end = true;
    } else if (const std::size_t eq = word.find('='); eq != std::string::npos && valued(word.substr(0, eq))) {
      options_.emplace_back(word.substr(0, eq), word.substr(eq + 1));
    } else if (taken(word, true)) {
      options_.emplace_back(word, "");
    } else if (!valued(word)) {
      throw TFailure(ExitCode::Usage, text::Utf8Message(messages::SUnknownOption, {word}));
    } else if (i + 1 == words.size()) {
      throw TFailure(ExitCode::Usage, text::Utf8Message(messages::SOptionWithoutValue, {word}));
    } else {
      options_.emplace_back(word, words[++i]);
    }
  }
  const std::size_t min = command.positionals.size();
  const std::size_t max = command.repeats ? SIZE_MAX : min;
  if (positional_.size() < min) throw TFailure(ExitCode::Usage, text::Utf8Message(messages::STooFewArguments));
  if (positional_.size() > max) throw TFailure(ExitCode::Usage, text::Utf8Message(messages::STooManyArguments, {positional_[max]}));
}

std::optional<std::string> TArguments::Value(std::string_view option) const {
  std::optional<std::string> value;
  for (const auto& [name, given] : options_)
    if (name == option) value = given;
  return value;
}

bool TArguments::Flag(std::string_view option) const { return Value(option).has_value(); }

unsigned long TArguments::Number(std::string_view option, unsigned long fallback, unsigned long low,
                                 unsigned long high) const {
  const std::optional<std::string> given = Value(option);
  if (!given) return fallback;
  unsigned long number = 0;
  const auto [end, error] = std::from_chars(given->data(), given->data() + given->size(), number);
  if (error != std::errc() || end != given->data() + given->size() || number < low || number > high)
    throw TFailure(ExitCode::Usage,
                   text::Utf8Message(messages::SIntegerBetween, {option, std::to_string(low), std::to_string(high), *given}));
  return number;
}

core::TSettings CommandDefaults() { return {hashes::Format::Bcrypt, {}, true}; }

core::TSettings SettingsFrom(const TArguments& args) {
  core::TSettings settings = CommandDefaults();
  const std::string format = args.Value("--format").value_or(std::string(hashes::RowOf(settings.format).name));
  const std::optional<hashes::Format> named = hashes::FormatNamed(format);
  if (!named) throw TFailure(ExitCode::Usage, text::Utf8Message(messages::SUnknownFormat, {format, hashes::FormatNames(", ")}));
  settings.format = *named;
  settings.strength.bcrypt_cost = static_cast<int>(
      args.Number("--cost", static_cast<unsigned long>(settings.strength.bcrypt_cost), hashes::kMinBcryptCost, hashes::kMaxBcryptCost));
  settings.strength.sha512_rounds =
      args.Number("--rounds", settings.strength.sha512_rounds, hashes::kMinSha512Rounds, hashes::kMaxSha512Rounds);
  const std::string encoding = args.Value("--encoding").value_or(settings.utf8 ? "utf8" : "sjis");
  if (encoding != "utf8" && encoding != "sjis")
    throw TFailure(ExitCode::Usage, text::Utf8Message(messages::SUnknownEncoding, {encoding}));
  settings.utf8 = encoding == "utf8";
  return settings;
}

std::string ServerWord(hashes::Server server) {
  std::string word(hashes::ServerName(server));
  for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return word;
}

TWait WaitFrom(const TArguments& args) {
  if (!args.Value("--wait")) return std::nullopt;
  return args.Number("--wait", 0, 0, 31'536'000);  // a year: a bound nobody means longer than
}

}  // namespace cli
