#include "table/user_records.h"

#include <stdexcept>

#include "platform/key_fold.h"
#include "text/exceptions.h"
#include "text/messages.h"

namespace table {

std::string_view TUserRecords::KeyOf(std::string_view line) {
  const std::size_t eq = line.find('=');
  return eq == std::string_view::npos ? std::string_view() : line.substr(0, eq);
}

std::string_view TUserRecords::ValueOf(std::string_view line) {
  const std::size_t eq = line.find('=');
  return eq == std::string_view::npos ? line : line.substr(eq + 1);
}

const std::string& TUserRecords::Get(int index) const {
  if (index < 0 || index >= Count()) throw text::EStringListError(index);
  return lines_[static_cast<std::size_t>(index)];
}

bool TUserRecords::HasMatchingKey(std::string_view key) const {
  return !key.empty() && folded_keys_.count(IndexForm(key)) != 0;
}

void TUserRecords::SetExactKeys(bool exact) {
  if (exact == exact_keys_) return;
  if (!lines_.empty()) throw std::logic_error("the key rule changes only for an empty list");
  exact_keys_ = exact;
}

std::string TUserRecords::IndexForm(std::string_view key) const {
  return exact_keys_ ? std::string(key) : platform::FoldKey(key);
}

namespace {
[[noreturn]] void DuplicateKey(std::string_view key) {
  throw text::Exception(text::FormatMessage(messages::SDuplicateString, {key}));
}
}  // namespace

int TUserRecords::Add(std::string line) {
  Changing();
  IndexNew(line);
  lines_.push_back(std::move(line));
  held_.emplace_back();
  origins_.push_back(-1);
  Changed(Count() - 1, true);
  return Count() - 1;
}

void TUserRecords::Insert(int index, std::string line) {
  CheckIndex(index, Count());
  Changing();
  IndexNew(line);
  lines_.insert(lines_.begin() + index, std::move(line));
  held_.insert(held_.begin() + index, std::string());
  origins_.insert(origins_.begin() + index, -1);
  Changed(index, true);
}

void TUserRecords::Put(int index, std::string line) {
  CheckIndex(index, Count() - 1);
  Changing();
  std::string& old = lines_[static_cast<std::size_t>(index)];
  const std::string_view key = KeyOf(line);
  // A line that keeps its key (a new password) leaves the index as it is.
  if (key != KeyOf(old)) {
    // The one line allowed to match is the replaced line itself: a row may change the letter
    // case of its own key. Keys are unique, so a match that is not this line's own is another's.
    std::string folded = key.empty() ? std::string() : IndexForm(key);
    const bool own = !key.empty() && folded == IndexForm(KeyOf(old));
    if (!key.empty() && !own && folded_keys_.count(folded) != 0) DuplicateKey(key);
    Unindex(old);
    if (!key.empty()) ++folded_keys_[std::move(folded)];
  }
  old = std::move(line);
  Changed(index, false);
}

const std::string& TUserRecords::Held(int index) const {
  if (index < 0 || index >= Count()) throw text::EStringListError(index);
  return held_[static_cast<std::size_t>(index)];
}

void TUserRecords::Hold(int index, std::string hash) {
  CheckIndex(index, Count() - 1);
  Changing();
  std::string& held = held_[static_cast<std::size_t>(index)];
  held_count_ += (hash.empty() ? 0 : 1) - (held.empty() ? 0 : 1);
  held = std::move(hash);
  Changed(index, false);
}

int TUserRecords::Origin(int index) const {
  if (index < 0 || index >= Count()) throw text::EStringListError(index);
  return origins_[static_cast<std::size_t>(index)];
}

void TUserRecords::SetOrigin(int index, int origin) {
  CheckIndex(index, Count() - 1);
  origins_[static_cast<std::size_t>(index)] = origin;
}

std::string TUserRecords::KnownText() const {
  if (held_count_ == 0) return Text();
  std::vector<std::string> known;
  for (std::size_t i = 0; i < lines_.size(); ++i)
    if (held_[i].empty()) known.push_back(lines_[i]);
  return text::JoinLines(known);
}

void TUserRecords::Reserve(int lines) {
  if (lines <= 0) return;
  lines_.reserve(static_cast<std::size_t>(lines));
  held_.reserve(static_cast<std::size_t>(lines));
  origins_.reserve(static_cast<std::size_t>(lines));
  folded_keys_.reserve(static_cast<std::size_t>(lines));
}

void TUserRecords::Delete(int index) {
  CheckIndex(index, Count() - 1);
  Changing();
  Unindex(lines_[static_cast<std::size_t>(index)]);
  lines_.erase(lines_.begin() + index);
  held_count_ -= held_[static_cast<std::size_t>(index)].empty() ? 0 : 1;
  held_.erase(held_.begin() + index);
  origins_.erase(origins_.begin() + index);
  Changed(index, true);
}

void TUserRecords::Clear() {
  if (lines_.empty()) return;
  Changing();
  lines_.clear();
  held_.clear();
  origins_.clear();
  held_count_ = 0;
  folded_keys_.clear();
  Changed(0, true);
}

void TUserRecords::BeginUpdate() {
  if (update_depth_ == 0) {
    Changing();
    batch_first_ = Count();
    batch_count_changed_ = batch_changed_ = false;
  }
  ++update_depth_;
}

void TUserRecords::EndUpdate() {
  if (--update_depth_ == 0 && observer_) observer_->StringsChanged(batch_first_, batch_count_changed_);
}

void TUserRecords::Changing() {
  if (update_depth_ == 0 && observer_) observer_->StringsChanging();
}

void TUserRecords::Changed(int first, bool count_changed) {
  ++change_count_;
  if (update_depth_ > 0) {
    // Changes at two places are told at the batch's end as one from the first of them to the end,
    // as a change of the count is: the lines between must be drawn again too.
    batch_count_changed_ = batch_count_changed_ || count_changed || (batch_changed_ && first != batch_first_);
    if (first < batch_first_) batch_first_ = first;
    batch_changed_ = true;
    return;
  }
  if (observer_) observer_->StringsChanged(first, count_changed);
}

void TUserRecords::CheckIndex(int index, int limit) const {
  if (index < 0 || index > limit) throw text::EStringListError(index);
}

void TUserRecords::IndexNew(std::string_view line) {
  const std::string_view key = KeyOf(line);
  if (key.empty()) return;
  // One fold, one lookup: the check and the insertion are the same probe.
  const auto [it, inserted] = folded_keys_.try_emplace(IndexForm(key), 1);
  if (!inserted) DuplicateKey(key);
}

void TUserRecords::Unindex(std::string_view line) {
  const std::string_view key = KeyOf(line);
  if (key.empty()) return;
  const auto it = folded_keys_.find(IndexForm(key));
  if (it != folded_keys_.end() && --it->second == 0) folded_keys_.erase(it);
}

}  // namespace table
