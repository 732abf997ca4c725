// verify: whether a password logs a user in, answered as each server answers it.
#include <string>

#include "cli/common.h"
#include "hashes/server_check.h"
#include "platform/cp932.h"
#include "platform/system.h"
#include "text/exceptions.h"
#include "text/messages.h"

namespace cli {

ExitCode Verify(const TArguments& args) {
  const bool utf8 = SettingsFrom(args).utf8;
  std::vector<hashes::Server> servers(std::begin(hashes::kServers), std::end(hashes::kServers));
  if (const std::optional<std::string> only = args.Value("--server")) {
    std::erase_if(servers, [&only](hashes::Server server) { return ServerWord(server) != *only; });
    if (servers.empty()) throw TFailure(ExitCode::Usage, text::Utf8Message(messages::SUnknownServer, {*only}));
  }
  const std::string name = UserName(args[1], utf8, true);
  struct TAnswer {
    hashes::Server server;
    std::optional<core::TFoundUser> user;
    hashes::Verdict verdict = hashes::Verdict::Mismatch;
  };
  std::vector<TAnswer> answers;
  const auto form_name = [](const TAnswer& answer) {
    return platform::Cp932ToUtf8(hashes::FormName(hashes::ClassifyHash(answer.user->hash.value_or(""))));
  };
  bool anyone = false;
  RecoverFolder(platform::FolderOf(args[0]));
  for (const hashes::Server server : servers) {
    TFileReader file(args[0], false);
    answers.push_back({server, core::FindUser(file.Read(), server, name)});
    anyone = anyone || answers.back().user;
  }
  if (!anyone) throw TFailure(ExitCode::UnknownUser, NoSuchUser(args[1]));
  // The password is the bytes a browser sends: compared as they stand, never normalized.
  const std::string typed = ReadPassword(false);
  if (utf8) Password(typed, true);
  const std::string password = utf8 ? typed : Password(typed, false);
  for (TAnswer& answer : answers) {
    if (!answer.user) continue;
    if (!answer.user->hash) continue;  // a line of the name without a hash: no password lets it in
    answer.verdict = hashes::CheckAs(answer.server, password, *answer.user->hash);
    if (answer.verdict == hashes::Verdict::Uncheckable && answers.size() == 1)
      throw TFailure(ExitCode::BadInput, FileLine(args[0], answer.user->line) +
                                    text::Utf8Message(messages::SUncheckableForm, {form_name(answer)}));
  }
  const auto same = [&](const TAnswer& a) { return a.user.has_value() == answers[0].user.has_value() && a.verdict == answers[0].verdict; };
  if (std::all_of(answers.begin(), answers.end(), same)) {
    if (answers[0].verdict == hashes::Verdict::Match) return Print(text::Utf8Message(messages::SLoginMatches) + "\n"), ExitCode::Done;
    if (answers[0].verdict == hashes::Verdict::Mismatch)
      throw TFailure(ExitCode::Mismatch, text::Utf8Message(messages::SLoginDiffers));
  }
  // The servers answer differently: each one's answer, so that the administrator sees which.
  std::string said;
  for (const TAnswer& answer : answers) {
    said += std::string(hashes::ServerName(answer.server)) + ": ";
    if (!answer.user) said += text::Utf8Message(messages::SServerHasNoUser);
    else if (answer.verdict == hashes::Verdict::Match) said += text::Utf8Message(messages::SServerMatches);
    else if (answer.verdict == hashes::Verdict::Mismatch) said += text::Utf8Message(messages::SServerDiffers);
    else said += text::Utf8Message(messages::SServerCannotCheck, {form_name(answer)});
    said += "\n";
  }
  Print(said);
  throw TFailure(ExitCode::Mismatch, text::Utf8Message(messages::SServersDisagree));
}

}  // namespace cli
