// `Strings`: the credential table's line list. Each line is name=value; the key (user name) is the
// part before the first "=", the value (password) the part after it. Keys are unique ignoring
// letter case (the empty key is exempt), or byte for byte while the list holds a password file's
// users, whom servers tell apart by their exact bytes; every change is announced to the list's
// observer.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "text/string_list.h"

namespace table {

class TUserRecords {
 public:
  // The table behind the list. Changing() runs before every change and may refuse it by
  // throwing; Changed() runs after it. In a batch both run once, at its start and its end.
  class TObserver {
   public:
    virtual ~TObserver() = default;
    virtual void StringsChanging() = 0;
    // `first` is the first line whose text or position changed; `count_changed` says whether
    // lines were added or removed.
    virtual void StringsChanged(int first, bool count_changed) = 0;
  };

  static std::string_view KeyOf(std::string_view line);    // empty when there is no "="
  static std::string_view ValueOf(std::string_view line);  // the whole line when there is no "="

  void SetObserver(TObserver* observer) { observer_ = observer; }
  // How many changes the list has seen: a change of the lines or of what they hold gives a new count.
  std::uint64_t ChangeCount() const noexcept { return change_count_; }

  int Count() const noexcept { return static_cast<int>(lines_.size()); }
  // Line `index`; fails with EStringListError outside 0 to Count() - 1.
  const std::string& Get(int index) const;
  const std::vector<std::string>& Lines() const noexcept { return lines_; }

  // True when a line's non-empty key matches `key`: ignoring letter case, or exactly.
  bool HasMatchingKey(std::string_view key) const;
  // Keys compared byte for byte rather than ignoring letter case. Only an empty list changes the
  // rule (std::logic_error otherwise), so that no two lines it holds ever break it.
  void SetExactKeys(bool exact);
  bool ExactKeys() const noexcept { return exact_keys_; }
  // The form in which keys are indexed and compared: two keys match when their forms are equal.
  std::string IndexForm(std::string_view key) const;

  // The hash held beside line `index`, taken from an existing password file: what the user's
  // unknown password hashes to, kept byte for byte. Empty when none is held. It travels with its
  // line through inserts and deletes, and is never part of the line's text: the lines, their keys
  // and every rule about them are the same whether hashes are held or not.
  const std::string& Held(int index) const;
  void Hold(int index, std::string hash);  // announced like a change of the line
  bool AnyHeld() const noexcept { return held_count_ > 0; }
  // The number of the opened file's line that line `index` was read from, or -1 for a line that
  // came from anywhere else. It travels with its line like the held hash and, like it, is never part
  // of the line's text; setting it announces nothing, since nothing shown depends on it.
  int Origin(int index) const;
  void SetOrigin(int index, int origin);
  // The text of the lines that hold no hash: the passwords that are known.
  std::string KnownText() const;

  // Each fails with the duplicate-key failure, changing nothing, when the new line's key is
  // non-empty and matches the key of another line.
  int Add(std::string line);
  void Insert(int index, std::string line);
  void Put(int index, std::string line);
  void Delete(int index);
  void Clear();  // clearing an empty list is no change and announces none
  // Room for `lines` lines and their keys, so that a long load does not grow the list and the
  // key index again and again. Changes nothing that can be seen.
  void Reserve(int lines);

  void BeginUpdate();
  void EndUpdate();  // announces the batch, whether or not anything in it changed

  std::string Text() const { return text::JoinLines(lines_); }

 private:
  void Changing();
  void Changed(int first, bool count_changed);
  void CheckIndex(int index, int limit) const;
  // Indexes the key of a line about to be added; fails, indexing nothing, on a duplicate.
  void IndexNew(std::string_view line);
  void Unindex(std::string_view line);

  std::vector<std::string> lines_;
  std::vector<std::string> held_;  // beside lines_, one per line
  std::vector<int> origins_;       // beside lines_, one per line
  int held_count_ = 0;
  // Folded form of every non-empty key, with the number of lines holding it. Keys match exactly
  // when their folded forms are equal, so this index and the comparison cannot disagree.
  std::unordered_map<std::string, int> folded_keys_;
  bool exact_keys_ = false;
  TObserver* observer_ = nullptr;
  std::uint64_t change_count_ = 0;
  int update_depth_ = 0;
  int batch_first_ = 0;
  bool batch_count_changed_ = false;  // or lines changed at more than one place
  bool batch_changed_ = false;
};

}  // namespace table
