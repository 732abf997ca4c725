// Fills the manual page and the bash completion of vastelo-cli from the command's declared
// interface at build time, so that neither can offer or describe an option the command does not
// take:
//   vastelo_cli_interface man|bash TEMPLATE OUTPUT
// Each "{{CLI_...}}" of the template is replaced by what the declaration says.
#include <cctype>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>

#include "cli/interface.h"

namespace {

using cli::WordKind;

// `text` as roff reads it literally: a backslash is \e, a hyphen that starts an option is a minus
// sign, and no line starts with a control character. Japanese runs have no blanks for groff to
// break a line at, so each clause and each aside in brackets ends its input line, as a person
// writing the page would do.
std::string Roff(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-' && (i == 0 || !std::isalnum(static_cast<unsigned char>(text[i - 1])))) {
      out += "\\-";
    } else {
      if (text.substr(i).starts_with("（") && i > 0 && !out.ends_with('\n')) out += "\n";
      out += c;
    }
    for (const std::string_view end : {"、", "。", "）"})
      if (text.substr(0, i + 1).ends_with(end) && i + 1 < text.size() && text.substr(i + 1, 3) != "、" &&
          text.substr(i + 1, 3) != "。")
        out += "\n";
  }
  std::string page;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    while (line.starts_with(' ')) line.erase(0, 1);
    if (line.starts_with('.') || line.starts_with('\'')) line.insert(0, "\\&");
    page += line + "\n";
  }
  return page;
}

// A word for a roff request's arguments.
std::string RoffWord(std::string_view word) {
  std::string roff = Roff(word);
  roff.pop_back();
  return roff;
}

std::string Synopsis() {
  std::string page;
  for (const cli::TCommand& command : cli::Commands()) {
    page += ".B vastelo-cli " + std::string(command.name) + "\n";
    for (const cli::TPositional& positional : command.positionals) page += ".I " + std::string(positional.name) + "\n";
    if (command.repeats) page += "\\&...\n";
    for (const std::string_view name : command.options) {
      const cli::TOption& option = cli::OptionNamed(name);
      if (name == command.required) page += ".B " + RoffWord(option.name) + "\n.I " + option.value + "\n";
      else if (option.IsFlag()) page += ".RB [ " + RoffWord(option.name) + " ]\n";
      else page += ".RB [ " + RoffWord(option.name) + "\n.IR " + option.value + " ]\n";
    }
    page += ".br\n";
  }
  return page + ".B vastelo-cli\n.BR \\-\\-help \" | \" \\-\\-version\n";
}

std::string Commands() {
  std::string page;
  for (const cli::TCommand& command : cli::Commands()) {
    page += ".TP\n.B " + std::string(command.name);
    for (const cli::TPositional& positional : command.positionals) page += " \\fI" + std::string(positional.name) + "\\fP";
    if (command.repeats) page += "...";
    if (!command.required.empty())
      page += " " + RoffWord(command.required) + " \\fI" + cli::OptionNamed(command.required).value + "\\fP";
    page += "\n" + Roff(command.help);
  }
  return page;
}

std::string Options() {
  std::string page;
  for (const cli::TOption& option : cli::Options()) {
    const std::string name = RoffWord(option.name);
    page += option.IsFlag() ? ".TP\n.B " + name + "\n" : ".TP\n.BI " + name + " \" " + option.ValueShown() + "\"\n";
    page += Roff(cli::CommandsTaking(option.name) + ": " + option.help + "。");
  }
  return page;
}

std::string ExitStatus() {
  std::string page;
  for (const cli::TExitMeaning& exit : cli::ExitMeanings())
    page += ".TP\n.B " + std::to_string(static_cast<int>(exit.code)) + "\n" + Roff(std::string(exit.meaning) + "。");
  return page;
}

// A word the completion offers, checked to need no quoting in the script.
std::string ShellWord(std::string_view word) {
  for (const char c : word)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_' && c != '.')
      throw std::runtime_error("a completion word needs quoting: " + std::string(word));
  return std::string(word);
}

std::string Joined(const auto& words) {
  std::string joined;
  for (const auto& word : words) joined += (joined.empty() ? "" : " ") + ShellWord(word);
  return joined;
}

std::string OptionArms() {
  std::string script;
  for (const cli::TCommand& command : cli::Commands()) {
    std::string valued, flags;
    for (const std::string_view name : command.options) {
      std::string& list = cli::OptionNamed(name).IsFlag() ? flags : valued;
      list += (list.empty() ? "" : " ") + ShellWord(name);
    }
    script += "        ";
    script += command.name;
    script.append(")\n            valued=\"").append(valued).append("\"\n            flags=\"").append(flags).append("\"\n            ;;\n");
  }
  return script;
}

std::string ValueArms() {
  std::string script;
  for (const cli::TOption& option : cli::Options()) {
    std::string offer;
    if (!option.words.empty()) offer = "COMPREPLY=($(compgen -W '" + Joined(option.words) + "' -- \"$cur\"))";
    else if (option.kind == WordKind::Folder) offer = "_filedir -d";
    else if (option.kind == WordKind::File) offer = "_filedir";
    if (!option.IsFlag() && !offer.empty()) script += "            " + ShellWord(option.name) + ") " + offer + " ;;\n";
  }
  return script;
}

std::string PositionalArms() {
  static const std::map<WordKind, std::string> kExpects{{WordKind::File, "file"}, {WordKind::Folder, "folder"}, {WordKind::User, "user"}};
  std::string script;
  for (const cli::TCommand& command : cli::Commands())
    for (std::size_t i = 0; i < command.positionals.size(); ++i) {
      const auto expects = kExpects.find(command.positionals[i].kind);
      if (expects == kExpects.end()) continue;
      const bool last = i + 1 == command.positionals.size();
      script += "        " + std::string(command.name) + ":" + (last && command.repeats ? "*" : std::to_string(i)) +
                ") expects=" + expects->second + " ;;\n";
    }
  return script;
}

}  // namespace

int main(int argc, char** argv) try {
  if (argc != 4) throw std::runtime_error("usage: vastelo_cli_interface man|bash TEMPLATE OUTPUT");
  const std::string kind = argv[1];
  std::map<std::string, std::string> fills;
  if (kind == "man") {
    fills = {{"{{CLI_SYNOPSIS}}\n", Synopsis()}, {"{{CLI_COMMANDS}}\n", Commands()}, {"{{CLI_OPTIONS}}\n", Options()},
             {"{{CLI_EXIT_STATUS}}\n", ExitStatus()}};
  } else if (kind == "bash") {
    std::string names;
    for (const cli::TCommand& command : cli::Commands()) names += ShellWord(command.name) + " ";
    fills = {{"{{CLI_COMMAND_WORDS}} ", names}, {"{{CLI_OPTION_ARMS}}\n", OptionArms()}, {"{{CLI_VALUE_ARMS}}\n", ValueArms()},
             {"{{CLI_POSITIONAL_ARMS}}\n", PositionalArms()}};
  } else {
    throw std::runtime_error("unknown kind " + kind);
  }
  std::ifstream in(argv[2], std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  std::string page = text.str();
  for (const auto& [mark, fill] : fills) {
    const std::size_t at = page.find(mark);
    if (at == std::string::npos) throw std::runtime_error(std::string(argv[2]) + " lacks " + mark);
    page.replace(at, mark.size(), fill);
  }
  std::ofstream out(argv[3], std::ios::binary);
  out << page;
  if (!in || !out.flush()) throw std::runtime_error(std::string("cannot write ") + argv[3]);
  return 0;
} catch (const std::exception& failure) {
  std::cerr << "vastelo_cli_interface: " << failure.what() << "\n";
  return 1;
}
