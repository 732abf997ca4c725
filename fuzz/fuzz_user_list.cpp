// The credential table under arbitrary sequences of cell writes, entries, direct line changes,
// held hashes, batches and the editing keys with an in-place editor that the input types into.
//
// After every step the table must keep its promises: non-empty keys unique under
// platform::KeysMatch, the key index answering as a scan does, rows and the current cell
// following the lines, and every held hash staying on one line until a password typed into its
// row replaces it. A step that starts with the editor closed must also meet the failure and the
// result of a naive model, because only then are the lines alone enough to predict it. Failures
// the table reports are expected where the model says so; anything else is a finding.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/cp932.h"
#include "platform/key_fold.h"
#include "table/user_list.h"
#include "text/exceptions.h"
#include "text/messages.h"

// The failed condition and its line, so that a crash report says which promise broke.
#define CHECK(condition) \
  ((condition) ? void() : (std::fprintf(stderr, "fuzz_user_list.cpp:%d: check failed: %s\n", __LINE__, #condition), std::abort()))

namespace {

using namespace std::string_view_literals;
using table::KeyColumn;
using table::ValueColumn;
using Lines = std::vector<std::string>;

// Small enough for the quadratic checks to stay cheap, large enough for edits in the middle.
constexpr int kMaxSteps = 64, kMaxLines = 12;

// Letters whose case folding is interesting (ASCII, full width, Greek, Cyrillic, Roman numerals
// encoded twice), trail bytes 0x5C and 0x3D, stray lead bytes and separators. Any other byte
// stands for itself.
constexpr std::string_view kPieces[] = {
    "a"sv, "A"sv, "b"sv, "B"sv, "="sv, "\\"sv, "\0"sv, ","sv, "\""sv, " "sv, "\r\n"sv, "aB"sv, "a=b"sv,
    "\x82\x60"sv, "\x82\x81"sv, "\x83\x9f"sv, "\x83\xbf"sv, "\x84\x40"sv, "\x84\x70"sv,  // Ａ ａ Α α А а
    "\x87\x54"sv, "\xfa\x4a"sv, "\xfa\x40"sv, "\xee\xef"sv, "\x81\xca"sv, "\xee\xf9"sv,  // Ⅰ Ⅰ ⅰ ⅰ ¬ ¬
    "\xfa\x54"sv, "\x95\x5c"sv, "\x81\x3d"sv, "\x81"sv,     "\xfd"sv,                   // ¬ 表, lead bytes
};

std::string_view KeyOf(std::string_view line) { return line.find('=') == line.npos ? ""sv : line.substr(0, line.find('=')); }
std::string_view ValueOf(std::string_view line) { return line.substr(line.find('=') + 1); }  // npos + 1 is 0
// Empty keys never clash, so that rows being filled in can coexist.
bool Matches(std::string_view a, std::string_view b) { return !a.empty() && !b.empty() && platform::KeysMatch(a, b); }
bool Has(const Lines& v, const std::string& s) { return std::find(v.begin(), v.end(), s) != v.end(); }
template <class V> auto& At(V& v, int i) { return v[static_cast<std::size_t>(i)]; }

// A probe that must find whatever the key itself finds.
std::string SwapAsciiCase(std::string_view key) {
  std::string s(key);
  for (char& c : s)
    if ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') c = static_cast<char>(c ^ 0x20);
  return s;
}

struct Input {
  const std::uint8_t *data, *end;

  unsigned Below(unsigned n) { return (data == end ? 0u : *data++) % n; }
  bool Bit() { return Below(2) != 0; }
  // One step outside the valid range on either side, so that index failures are reached too.
  int Index(int count) { return static_cast<int>(Below(static_cast<unsigned>(count) + 3u)) - 1; }
  std::string Piece() {
    const unsigned b = Below(256);
    return b < std::size(kPieces) ? std::string(kPieces[b]) : std::string(1, static_cast<char>(b));
  }
  std::string Text(unsigned max_pieces) {
    std::string out;
    for (unsigned n = Below(max_pieces + 1); n > 0; --n) out += Piece();
    return out;
  }
};

// A step's failure is its message, empty for none: the model predicts the very text.
std::string IndexError(int i) { return text::FormatMessage(messages::SListIndexError, i); }
std::string Duplicate(std::string_view key) { return text::FormatMessage(messages::SDuplicateString, {key}); }
std::string Equals() { return std::string(messages::SNoEqualsInKey); }
std::string Unstorable() { return text::FormatMessage(messages::SNotCp932, {"1F600"}); }

// Only the product's own failures are caught, so that anything else ends the run.
template <class Step>
std::string Attempt(Step&& step) {
  try {
    step();
  } catch (const text::Exception& e) {
    return e.Message();
  }
  return {};
}

// Line changes, numbered as both the model and the fuzzer's line steps take them.
enum Change : unsigned { kInsert, kAdd, kPut, kDelete, kHold, kRemoveRow, kClear };

// Plain vectors of lines and of their held hashes where every check is a scan, so that it cannot
// share the index's bugs.
struct Model {
  Lines lines, held;
  int row = 1, col = ValueColumn, shown_at = -1;

  int Count() const { return static_cast<int>(lines.size()); }
  int Rows() const { return std::max(Count() + 1, 2); }
  std::string Line(int r) const { return lines.empty() ? "" : At(lines, r - 1); }
  // A row that holds a hash is a user, whatever its cells show.
  bool IsEmpty(int r) const { return r >= 1 && r <= Count() && At(held, r - 1).empty() && KeyOf(Line(r)).empty() && ValueOf(Line(r)).empty(); }

  // `text` is the new line, or the hash for kHold. An added line holds none, a put keeps it.
  std::string Apply(unsigned kind, int i, const std::string& text = {}) {
    const bool adds = kind <= kAdd;
    if (kind != kClear && (i < 0 || i > Count() - (adds ? 0 : 1))) return IndexError(i);
    for (int j = 0; j < Count() && kind <= kPut; ++j)
      if (j != (adds ? -1 : i) && Matches(KeyOf(At(lines, j)), KeyOf(text))) return Duplicate(KeyOf(text));
    if (adds) lines.insert(lines.begin() + i, text), held.insert(held.begin() + i, "");
    if (kind == kDelete || kind == kRemoveRow) lines.erase(lines.begin() + i), held.erase(held.begin() + i);
    if (kind == kPut || kind == kHold) At(kind == kPut ? lines : held, i) = text;
    if (kind == kClear) lines.clear(), held.clear();
    row = std::min(row, Rows() - 1);
    return {};
  }
  // An empty table still shows one row of empty cells, and writing to it creates its line.
  std::string SetCell(int c, int r, const std::string& text) {
    if (c == KeyColumn && text.find('=') != std::string::npos) return Equals();
    if (r <= 0 || (Count() > 0 && r > Count())) return IndexError(r - 1);
    const std::string line = c == KeyColumn ? text + "=" + std::string(ValueOf(Line(r))) : std::string(KeyOf(Line(r))) + "=" + text;
    if (lines.empty()) return Apply(kAdd, 0, line);
    if (c == ValueColumn && line != Line(r)) At(held, r - 1).clear();  // a new password replaces a held hash
    return Apply(kPut, r - 1, line);
  }
  std::string InsertEntry(const std::string& key, const std::string& value, bool append) {
    if (key.find('=') != std::string::npos) return Equals();
    const bool fill = IsEmpty(row);  // an empty current row takes the entry in place
    shown_at = append && !fill ? Count() + 1 : row;
    return Apply(fill ? kPut : kInsert, append && !fill ? Count() : row - 1, key + "=" + value);
  }
  void DeleteRow(int r) {
    if (r == Rows() - 1 && Count() > 1) row = r - 1;
    CHECK(Apply(kDelete, r - 1).empty());
  }
  // Leaving an empty row for another row removes it.
  void MoveTo(int c, int r) {
    r = std::clamp(r, 1, Rows() - 1);
    if (const int old = row; r != old && IsEmpty(old)) {
      DeleteRow(old);
      r = std::clamp(r >= old ? r - 1 : r, 1, Rows() - 1);
    }
    col = std::clamp(c, 0, 1), row = r;
  }
  // Down (which adds an empty row below the last named one), Insert, Escape and a move. An empty
  // row can never clash, so adding one cannot fail.
  std::string Press(unsigned which, int c, int r) {
    if (which < 2 && !KeyOf(Line(row)).empty() && (which == 1 || row == Rows() - 1)) InsertEntry("", "", which == 0);
    if (which == 0) MoveTo(col, row + 1);
    if (which == 2 && IsEmpty(row)) DeleteRow(row);
    if (which == 3) MoveTo(c, r);
    return {};
  }
};

struct Editor : table::CellEditor {
  std::string text, loaded, loaded_held;  // loaded_held: what its row held when it was shown
  // Unstorable: holds a character the code page cannot store. Typed: changed since shown.
  bool unstorable = false, shown = false, typed = false;
  int col = -1, row = -1;
  mutable int handed_row = 0;  // where a typed password went in this step

  std::string Text() const override {
    CHECK(shown);
    if (unstorable) throw text::Exception(Unstorable());
    if (typed && col == ValueColumn) handed_row = row;
    return text;
  }
  void Show(int c, int r, std::string_view t) override {
    CHECK(!shown);
    shown = true, col = c, row = r, text = loaded = t, unstorable = typed = false;
  }
  void Hide() override { CHECK(shown), shown = false; }
  bool Restore(std::string_view t) override {
    CHECK(shown);
    const bool changed = std::exchange(text, std::string(t)) != t || unstorable;
    unstorable = typed = false;
    return changed;
  }
  void SelectAll() override { CHECK(shown); }
};

class Run {
 public:
  explicit Run(Input& in) : in_(in) {
    table_.SetEditor(&editor_);
    table_.OnStringsChange = [this] { ++announced_; };
  }

  void Go() {
    static constexpr void (Run::*kSteps[])() = {
        &Run::SetCell,    &Run::InsertEntry, &Run::LineStep, &Run::LineStep,    &Run::Batch, &Run::ShowEditor, &Run::Type,
        &Run::Type,       &Run::CloseEditor, &Run::Click,    &Run::Keys,        &Run::Keys,  &Run::Keys,       &Run::Lookups};
    for (int step = 0; step < kMaxSteps && in_.data != in_.end; ++step) {
      held_before_ = Held(), editor_.handed_row = 0, gone_.clear(), issued_.clear(), probes_.clear();
      (this->*kSteps[in_.Below(std::size(kSteps))])();
      CheckTable();
    }
  }

 private:
  Lines Held() const {
    Lines held;
    for (int i = 0; i < table_.Strings().Count(); ++i) held.push_back(table_.Strings().Held(i));
    return held;
  }
  // With the editor open a change first hands the editor's text over, which the model does not
  // follow; inside a batch the table learns of changes only at its end, so rows are not yet due.
  template <class Predict, class Act>
  std::string Modeled(Predict predict, Act act, bool rows = true) {
    model_ = Model{table_.Strings().Lines(), Held(), table_.Row(), table_.Col()};
    if (editor_.shown) return Attempt(act);
    const std::string predicted = predict(), got = Attempt(act);
    CHECK(got == predicted && table_.Strings().Lines() == model_.lines && Held() == model_.held);
    if (rows) CHECK(table_.Row() == model_.row && table_.Col() == model_.col);
    return got;
  }
  // What handing over the editor's text may fail with, and no step that the model cannot follow
  // may fail otherwise.
  bool Refused(const std::string& got) const { return got == Equals() || got == Unstorable() || got == Duplicate(editor_.text); }
  std::string Name() { return probes_.emplace_back(in_.Text(4)); }
  bool Full() const { return table_.Strings().Count() >= kMaxLines; }

  void Click() { ShowEditor(), Keys(3), ShowEditor(); }  // as the view handles one
  void Lookups() { for (unsigned n = in_.Below(4); n > 0; --n) probes_.push_back(in_.Text(4)); }
  void SetCell() {
    const int col = in_.Bit() ? KeyColumn : ValueColumn, row = in_.Index(table_.RowCount() - 1);
    const std::string text = col == KeyColumn ? Name() : in_.Text(4);
    if (col == ValueColumn && row >= 1 && row <= table_.Strings().Count()) gone_.push_back(table_.Strings().Held(row - 1));
    if (Modeled([&] { return model_.SetCell(col, row, text); }, [&] { table_.SetCellText(col, row, text); }).empty())
      CHECK(table_.CellText(col, std::clamp(row, 1, table_.RowCount() - 1)) == text);
  }
  void InsertEntry() {
    if (Full()) return;
    const std::string key = Name(), value = in_.Text(3);
    const bool append = in_.Bit();
    int r = 0;
    if (Modeled([&] { return model_.InsertEntry(key, value, append); }, [&] { r = table_.InsertEntry(key, value, append); }).empty())
      CHECK((model_.shown_at < 0 || r == model_.shown_at) && table_.CellText(KeyColumn, r) == key && table_.CellText(ValueColumn, r) == value);
  }

  // The line list's own changes, a hash held anew (or let go) and a row removed through the table.
  void LineStep() { LineStep(in_.Below(kClear + 1), false); }
  void LineStep(unsigned kind, bool in_batch) {
    table::TValueStrings& s = table_.Strings();
    if (kind <= kAdd && Full()) kind = kClear;  // a full table only shrinks or changes in place
    const int i = kind == kAdd ? s.Count() : in_.Index(s.Count());
    std::string text = kind <= kPut ? in_.Text(4) : kind != kHold || in_.Bit() ? "" : issued_.emplace_back("$h$" + std::to_string(++hashes_));
    // Often the same user in another case or with another password, which the index treats apart.
    if (kind == kPut && i >= 0 && i < s.Count() && in_.Bit())
      text = (in_.Bit() ? SwapAsciiCase(KeyOf(s.Get(i))) : std::string(KeyOf(s.Get(i)))) + "=" + text;
    else if (kind <= kPut && in_.Bit())
      text += "=" + in_.Text(3);
    if (kind <= kPut) probes_.emplace_back(KeyOf(text));
    for (int j = 0; j < s.Count() && kind >= kDelete; ++j)  // what the step removes or holds over is let go, not lost
      if (j == i || kind == kClear) gone_.push_back(s.Held(j));
    Modeled([&] { return model_.Apply(kind, i, text); },
            [&] {
              kind == kInsert ? s.Insert(i, text) : kind == kAdd ? void(s.Add(text)) : kind == kPut ? s.Put(i, text)
              : kind == kDelete ? s.Delete(i) : kind == kHold ? s.Hold(i, text) : kind == kRemoveRow ? table_.RemoveRow(i + 1)
              : s.Clear();
            },
            !in_batch);
  }

  // The table hears of a batch's changes once, at its end, and must then be whole.
  void Batch() {
    const std::string begun = Attempt([&] { table_.Strings().BeginUpdate(); });
    CHECK(begun.empty() ? !editor_.shown : Refused(begun));
    if (!begun.empty()) return;
    const int before = announced_;
    for (unsigned n = in_.Below(4); n > 0; --n) LineStep(in_.Below(kClear), true);
    CHECK(announced_ == before);
    table_.Strings().EndUpdate();
    CHECK(announced_ == before + 1);
  }

  void ShowEditor() {
    const bool was_open = editor_.shown;
    CHECK(Attempt([&] { table_.ShowEditor(); }).empty() && editor_.shown);
    if (was_open) return;
    CHECK(editor_.text == table_.CellText(table_.Col(), table_.Row()));
    editor_.loaded_held = table_.Row() <= table_.Strings().Count() ? table_.Strings().Held(table_.Row() - 1) : "";
  }
  // The user's text goes to the editor's cell, or is held once as a name the table already has.
  void Type() {
    const bool was_open = editor_.shown;
    const int lines_before = table_.Strings().Count();
    const unsigned how = in_.Below(4);
    std::string& t = editor_.text;
    t = how == 0 ? Name() : how == 1 ? t + in_.Piece() : how == 2 ? t.substr(0, platform::LastCharStart(t)) : t;
    editor_.unstorable = how == 3;
    editor_.typed = editor_.typed || was_open;
    const std::string typed = t, got = Attempt([&] { table_.EditorTextChanged(); });
    if (!was_open || how == 3) return CHECK(got == (was_open ? Unstorable() : ""));
    const int col = editor_.col, row = editor_.row;
    CHECK(editor_.shown && (got.empty() ? table_.CellText(col, row) == typed || (col == KeyColumn && table_.PendingDuplicateKey() == typed)
                                        : col == KeyColumn && got == (typed.find('=') != std::string::npos ? Equals() : Duplicate(typed))));
    // The first keystroke into the placeholder row gives it a line, whatever becomes of the text.
    if (lines_before == 0 && !typed.empty()) CHECK(table_.Strings().Count() == 1);
  }
  void CloseEditor() {
    const bool was_open = editor_.shown;
    const std::string got = Attempt([&] { table_.CloseEditor(); });
    // A refused hand-over leaves the editor open with the user's text in it.
    CHECK(got.empty() ? !editor_.shown : was_open && editor_.shown && Refused(got));
  }

  // Down, Insert, Escape and a move.
  void Keys() { Keys(in_.Below(4)); }
  void Keys(unsigned which) {
    if (which < 2 && Full()) which = 2;
    const int col = which == 3 ? static_cast<int>(in_.Below(4)) - 1 : 0, row = which == 3 ? in_.Index(table_.RowCount()) : 0;
    const bool restoring = which == 2 && editor_.shown && editor_.typed;
    const std::string got = Modeled([&] { return model_.Press(which, col, row); }, [&] {
      which == 0 ? table_.KeyDown() : which == 1 ? table_.KeyInsert() : which == 2 ? table_.KeyEscape() : table_.MoveTo(col, row);
    });
    CHECK(got.empty() || Refused(got));
    if (!restoring || !got.empty()) return;
    // Escape puts back the text the editor was opened with, in the editor and in its cell, and the
    // hash that its password cell held.
    if (editor_.shown)
      CHECK(editor_.text == editor_.loaded && !editor_.unstorable &&
            (table_.CellText(editor_.col, editor_.row) == editor_.loaded || table_.PendingDuplicateKey() == editor_.loaded));
    if (editor_.col == ValueColumn && !editor_.loaded_held.empty())
      CHECK(editor_.row <= table_.Strings().Count() && table_.Strings().Held(editor_.row - 1) == editor_.loaded_held);
  }

  void CheckTable() {
    const table::TValueStrings& s = table_.Strings();
    const Lines &lines = s.Lines(), held = Held();
    const int count = s.Count();
    // One row per line after the title row, or the placeholder row alone; the current cell on one.
    CHECK(count == static_cast<int>(lines.size()) && table_.RowCount() == std::max(count + 1, 2));
    CHECK(table_.Col() >= KeyColumn && table_.Col() <= ValueColumn && table_.Row() >= 1 && table_.Row() < table_.RowCount());
    CHECK(table_.CellText(KeyColumn, 0) == messages::SUserNameHeader && table_.CellText(ValueColumn, 0) == messages::SPasswordHeader);
    std::string known;
    for (int r = 1; r < table_.RowCount(); ++r) {
      const std::string line = count > 0 ? At(lines, r - 1) : "", hash = count > 0 ? At(held, r - 1) : "";
      const std::string_view key = KeyOf(line);
      CHECK(table_.CellText(KeyColumn, r) == key && table_.CellText(ValueColumn, r) == ValueOf(line));
      // A row that holds a hash is never empty, so it is neither removed nor filled in as one.
      CHECK(table_.IsEmptyRow(r) == (count > 0 && hash.empty() && key.empty() && ValueOf(line).empty()));
      for (int other = r + 1; other <= count; ++other) CHECK(!Matches(key, KeyOf(At(lines, other - 1))));
      probes_.emplace_back(key), probes_.push_back(SwapAsciiCase(key));
      if (count > 0 && hash.empty()) known += line + "\r\n";
      // No hash is ever held twice or comes from nowhere.
      if (!hash.empty())
        CHECK(std::count(held.begin(), held.end(), hash) == 1 && (Has(held_before_, hash) || Has(issued_, hash) || hash == editor_.loaded_held));
    }
    CHECK(s.KnownText() == known && s.AnyHeld() == (held != Lines(held.size())));
    probes_.emplace_back();
    for (const std::string& probe : probes_)
      CHECK(s.HasMatchingKey(probe) == std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return Matches(KeyOf(l), probe); }));
    // A held hash stays through every step but one that removes its line, holds another over it or
    // hands over a password typed into its row.
    for (std::size_t i = 0; i < held_before_.size(); ++i)
      CHECK(held_before_[i].empty() || Has(held, held_before_[i]) || Has(gone_, held_before_[i]) || editor_.handed_row == static_cast<int>(i + 1));
    CHECK(editor_.shown == table_.EditorOpen() && (!editor_.shown || (editor_.col == table_.Col() && editor_.row == table_.Row())));
    // A held user name must be one that could never be stored.
    CHECK(table_.PendingDuplicateKey().find('=') == std::string::npos);
  }

  Input& in_;
  Editor editor_;  // outlives the table that refers to it
  table::TUserList table_;
  Model model_;
  Lines probes_, held_before_, gone_, issued_;  // gone_: hashes let go in this step; issued_: held anew in it
  int announced_ = 0, hashes_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in{data, data + size};
  Run(in).Go();
  return 0;
}
