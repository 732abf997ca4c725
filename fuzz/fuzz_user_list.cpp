// The credential table under arbitrary sequences of cell writes, entries, direct line changes,
// batches and the editing keys with an in-place editor that the input types into.
//
// After every step the table must keep its promises: non-empty keys unique under
// platform::KeysMatch, the key index answering as a scan does, rows and the current cell
// following the lines. A step that starts with the editor closed must also meet the outcome and
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
#define CHECK(condition)                                                                    \
  do {                                                                                      \
    if (!(condition)) {                                                                     \
      std::fprintf(stderr, "fuzz_user_list.cpp:%d: check failed: %s\n", __LINE__, #condition); \
      std::abort();                                                                         \
    }                                                                                       \
  } while (false)

namespace {

using namespace std::string_view_literals;
using table::KeyColumn;
using table::ValueColumn;
using Lines = std::vector<std::string>;

// Small enough for the quadratic checks to stay cheap, large enough for edits in the middle.
constexpr int kMaxSteps = 64;
constexpr int kMaxLines = 12;

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

// A probe that must find whatever the key itself finds.
std::string SwapAsciiCase(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) c = static_cast<char>(c ^ 0x20);
  return out;
}

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), end_(data + size) {}
  bool Done() const { return data_ == end_; }
  unsigned Below(unsigned n) { return (data_ == end_ ? 0u : *data_++) % n; }
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

 private:
  const std::uint8_t *data_, *end_;
};

enum class Outcome { Ok, Index, Duplicate, Equals, Unstorable };
struct Result { Outcome outcome = Outcome::Ok; std::string message; };
std::string Unstorable() { return text::FormatMessage(messages::SNotCp932, {"1F600"}); }
std::string Duplicate(std::string_view key) { return text::FormatMessage(messages::SDuplicateString, {key}); }

// Only the product's own failure kinds are caught, so that anything else ends the run.
template <class Step>
Result Attempt(Step&& step) {
  try {
    step();
    return {};
  } catch (const text::EStringListError& e) {
    return {Outcome::Index, e.Message()};
  } catch (const text::Exception& e) {
    if (e.Message() == messages::SNoEqualsInKey) return {Outcome::Equals, e.Message()};
    if (e.Message() == Unstorable()) return {Outcome::Unstorable, e.Message()};
    return {Outcome::Duplicate, e.Message()};  // its message is checked against the model's
  }
}

// A plain vector of lines where every check is a scan, so that it cannot share the index's bugs.
struct Model {
  Lines lines;
  int row = 1, col = ValueColumn;
  std::string clash;

  int Count() const { return static_cast<int>(lines.size()); }
  int Rows() const { return lines.empty() ? 2 : Count() + 1; }
  std::string_view Line(int r) const { return lines.empty() ? ""sv : lines[static_cast<std::size_t>(r - 1)]; }
  bool IsEmpty(int r) const { return r >= 1 && r <= Count() && (Line(r) == "=" || Line(r).empty()); }

  // Kinds as TValueStrings has them: 0 insert, 1 put, 2 delete, 3 clear.
  Outcome Change(int kind, int i, const std::string& line = {}) {
    if (kind < 3 && (i < 0 || i > Count() - (kind == 0 ? 0 : 1))) return Outcome::Index;
    for (int j = 0; j < Count() && kind < 2; ++j)
      if (j != (kind == 0 ? -1 : i) && Matches(KeyOf(lines[static_cast<std::size_t>(j)]), KeyOf(line)))
        return clash = std::string(KeyOf(line)), Outcome::Duplicate;
    if (kind == 0) lines.insert(lines.begin() + i, line);
    if (kind == 1) lines[static_cast<std::size_t>(i)] = line;
    if (kind == 2) lines.erase(lines.begin() + i);
    if (kind == 3) lines.clear();
    row = std::min(row, Rows() - 1);
    return Outcome::Ok;
  }
  // An empty table still shows one row of empty cells, and writing to it creates its line.
  Outcome SetCell(int c, int r, const std::string& text) {
    if (c == KeyColumn && text.find('=') != std::string::npos) return Outcome::Equals;
    if (r <= 0 || (Count() > 0 && r > Count())) return Outcome::Index;
    const std::string line = c == KeyColumn ? text + "=" + std::string(ValueOf(Line(r)))
                                            : std::string(KeyOf(Line(r))) + "=" + text;
    return lines.empty() ? Change(0, 0, line) : Change(1, r - 1, line);
  }
  Outcome InsertEntry(const std::string& key, const std::string& value, bool append, int& shown_at) {
    if (key.find('=') != std::string::npos) return Outcome::Equals;
    const bool fill = IsEmpty(row);  // an empty current row takes the entry in place
    shown_at = append && !fill ? Count() + 1 : row;
    return Change(fill ? 1 : 0, append && !fill ? Count() : row - 1, key + "=" + value);
  }
  void DeleteRow(int r) {
    if (r == Rows() - 1 && Count() > 1) row = r - 1;
    CHECK(Change(2, r - 1) == Outcome::Ok);
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
  // Down (which adds an empty row below the last named one), Insert and Escape. An empty row can
  // never clash, so adding one cannot fail.
  void Press(unsigned which) {
    int r = 0;
    if (which < 2 && !KeyOf(Line(row)).empty() && (which == 1 || row == Rows() - 1)) InsertEntry("", "", which == 0, r);
    if (which == 0) MoveTo(col, row + 1);
    if (which == 2 && IsEmpty(row)) DeleteRow(row);
  }
};

class Editor : public table::CellEditor {
 public:
  std::string text, loaded;
  // Unstorable: holds a character the code page cannot store. Typed: changed since shown.
  bool unstorable = false, shown = false, typed = false;
  int col = -1, row = -1;

  std::string Text() const override {
    CHECK(shown);
    if (unstorable) throw text::Exception(Unstorable());
    return text;
  }
  void Show(int c, int r, std::string_view t) override {
    CHECK(!shown);
    shown = true, col = c, row = r, text = loaded = std::string(t), unstorable = typed = false;
  }
  void Hide() override {
    CHECK(shown);
    shown = false;
  }
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
    for (int step = 0; step < kMaxSteps && !in_.Done(); ++step, probes_.clear()) Step(), CheckTable();
  }

 private:
  // With the editor open a change first hands the editor's text over, which the model does not
  // follow; inside a batch the table learns of changes only at its end, so rows are not yet due.
  template <class Predict, class Act>
  Result Modeled(Predict predict, Act act, bool rows = true) {
    if (editor_.shown) return Attempt(act);
    model_ = Model{table_.Strings().Lines(), table_.Row(), table_.Col(), {}};
    const Outcome predicted = predict();
    const Result got = Attempt(act);
    CHECK(got.outcome == predicted && (predicted != Outcome::Duplicate || got.message == Duplicate(model_.clash)));
    CHECK(table_.Strings().Lines() == model_.lines);
    if (rows) CHECK(table_.Row() == model_.row && table_.Col() == model_.col);
    return got;
  }
  std::string Name() { return probes_.emplace_back(in_.Text(4)); }
  bool Full() const { return table_.Strings().Count() >= kMaxLines; }

  void Step() {
    static constexpr void (Run::*kSteps[])() = {
        &Run::SetCell, &Run::InsertEntry, &Run::LineStep, &Run::Batch, &Run::ShowEditor, &Run::Type, &Run::Type,
        &Run::CloseEditor, &Run::Keys, &Run::Keys, &Run::MoveTo, &Run::Click, &Run::Lookups};
    (this->*kSteps[in_.Below(std::size(kSteps))])();
  }
  void Click() { ShowEditor(), MoveTo(), ShowEditor(); }  // as the view handles one
  void Lookups() { for (unsigned n = in_.Below(4); n > 0; --n) probes_.push_back(in_.Text(4)); }
  void SetCell() {
    const int col = in_.Bit() ? KeyColumn : ValueColumn;
    const int row = in_.Index(table_.RowCount() - 1);
    const std::string text = col == KeyColumn ? Name() : in_.Text(4);
    const Result got = Modeled([&] { return model_.SetCell(col, row, text); }, [&] { table_.SetCellText(col, row, text); });
    if (got.outcome == Outcome::Ok) CHECK(table_.CellText(col, std::clamp(row, 1, table_.RowCount() - 1)) == text);
  }

  void InsertEntry() {
    if (Full()) return;
    const std::string key = Name(), value = in_.Text(3);
    const bool append = in_.Bit();
    int predicted_row = -1, shown_at = 0;
    const Result got = Modeled([&] { return model_.InsertEntry(key, value, append, predicted_row); },
                               [&] { shown_at = table_.InsertEntry(key, value, append); });
    if (got.outcome != Outcome::Ok) return;
    CHECK(predicted_row == -1 || shown_at == predicted_row);
    CHECK(table_.CellText(KeyColumn, shown_at) == key && table_.CellText(ValueColumn, shown_at) == value);
  }

  // Add, insert, put, delete and clear on the lines themselves.
  void LineStep() { LineStep(in_.Below(5), false); }
  void LineStep(unsigned kind, bool in_batch) {
    table::TValueStrings& s = table_.Strings();
    if (kind < 2 && Full()) kind = 3;  // a full table only shrinks or changes in place
    const int i = kind == 0 ? s.Count() : in_.Index(s.Count());
    std::string line = in_.Text(4);
    // Often the same user in another case or with another password, which the index treats apart.
    if (kind == 2 && i >= 0 && i < s.Count() && in_.Bit()) {
      const std::string_view old = KeyOf(s.Get(i));
      line = (in_.Bit() ? SwapAsciiCase(old) : std::string(old)) + "=" + line;
    } else if (in_.Bit()) {
      line += "=" + in_.Text(3);
    }
    probes_.emplace_back(KeyOf(line));
    Modeled(
        [&] { return model_.Change(kind < 2 ? 0 : static_cast<int>(kind) - 1, i, line); },
        [&] {
          kind == 0 ? void(s.Add(line)) : kind == 1 ? s.Insert(i, line) : kind == 2 ? s.Put(i, line)
                                        : kind == 3 ? s.Delete(i)       : s.Clear();
        },
        !in_batch);
  }

  // The table hears of a batch's changes once, at its end, and must then be whole.
  void Batch() {
    const Result begun = Attempt([&] { table_.Strings().BeginUpdate(); });
    CHECK(begun.outcome != Outcome::Index);  // only a refused hand-over can stop it
    if (begun.outcome != Outcome::Ok) return;
    CHECK(!editor_.shown);
    const int before = announced_;
    for (unsigned n = in_.Below(4); n > 0; --n) LineStep(in_.Below(4), true);
    CHECK(announced_ == before);
    table_.Strings().EndUpdate();
    CHECK(announced_ == before + 1);
  }

  void ShowEditor() {
    const bool was_open = editor_.shown;
    CHECK(Attempt([&] { table_.ShowEditor(); }).outcome == Outcome::Ok && editor_.shown);
    if (!was_open) CHECK(editor_.text == table_.CellText(table_.Col(), table_.Row()));
  }

  // The user's text goes to the editor's cell, or is held once as a name the table already has.
  void Type() {
    const bool was_open = editor_.shown;
    const int lines_before = table_.Strings().Count();
    const unsigned how = in_.Below(4);
    std::string& t = editor_.text;
    if (how == 0) t = Name();
    if (how == 1) t += in_.Piece();
    if (how == 2) t.resize(platform::LastCharStart(t));
    editor_.unstorable = how == 3;
    editor_.typed = editor_.typed || was_open;
    const std::string typed = t;
    const Result got = Attempt([&] { table_.EditorTextChanged(); });
    if (!was_open || how == 3) CHECK(got.outcome == (was_open ? Outcome::Unstorable : Outcome::Ok));
    if (!was_open || how == 3) return;
    CHECK(editor_.shown);
    const int col = editor_.col, row = editor_.row;
    CHECK(got.outcome == Outcome::Ok
              ? table_.CellText(col, row) == typed || (col == KeyColumn && table_.PendingDuplicateKey() == typed)
              : col == KeyColumn && (got.outcome == Outcome::Equals ? typed.find('=') != std::string::npos
                                                                    : got.message == Duplicate(typed)));
    // The first keystroke into the placeholder row gives it a line, whatever becomes of the text.
    if (lines_before == 0 && !typed.empty()) CHECK(table_.Strings().Count() == 1);
  }

  void CloseEditor() {
    const bool was_open = editor_.shown;
    const Result got = Attempt([&] { table_.CloseEditor(); });
    // A refused hand-over leaves the editor open with the user's text in it.
    CHECK(got.outcome == Outcome::Ok ? !editor_.shown : was_open && editor_.shown && got.outcome != Outcome::Index);
  }

  // Keys and moves choose their rows themselves, so a list index failure from one is a bug.
  void Keys() {
    unsigned which = in_.Below(3);
    if (which < 2 && Full()) which = 2;
    const bool restoring = editor_.shown && editor_.typed;
    static constexpr void (table::TUserList::*kKeys[])() = {&table::TUserList::KeyDown, &table::TUserList::KeyInsert,
                                                             &table::TUserList::KeyEscape};
    const Result got = Modeled([&] { return model_.Press(which), Outcome::Ok; }, [&] { (table_.*kKeys[which])(); });
    CHECK(got.outcome != Outcome::Index);
    // Escape puts back the text the editor was opened with, in the editor and in its cell.
    if (which == 2 && restoring && got.outcome == Outcome::Ok && editor_.shown)
      CHECK(editor_.text == editor_.loaded && !editor_.unstorable &&
            (table_.CellText(editor_.col, editor_.row) == editor_.loaded || table_.PendingDuplicateKey() == editor_.loaded));
  }
  void MoveTo() {
    const int col = static_cast<int>(in_.Below(4)) - 1;
    const int row = in_.Index(table_.RowCount());
    const Result got = Modeled([&] { return model_.MoveTo(col, row), Outcome::Ok; }, [&] { table_.MoveTo(col, row); });
    CHECK(got.outcome != Outcome::Index);
  }

  void CheckTable() {
    const Lines& lines = table_.Strings().Lines();
    const int count = table_.Strings().Count();
    // One row per line after the title row, or the placeholder row alone.
    CHECK(count == static_cast<int>(lines.size()) && table_.RowCount() == (count > 0 ? count + 1 : 2));
    CHECK((table_.Col() == KeyColumn || table_.Col() == ValueColumn) && table_.Row() >= 1 &&
          table_.Row() <= table_.RowCount() - 1);
    CHECK(table_.CellText(KeyColumn, 0) == messages::SUserNameHeader &&
          table_.CellText(ValueColumn, 0) == messages::SPasswordHeader);
    for (int r = 1; r < table_.RowCount(); ++r) {
      const std::string line = count > 0 ? lines[static_cast<std::size_t>(r - 1)] : std::string();
      CHECK(table_.CellText(KeyColumn, r) == KeyOf(line) && table_.CellText(ValueColumn, r) == ValueOf(line));
      CHECK(table_.IsEmptyRow(r) == (count > 0 && KeyOf(line).empty() && ValueOf(line).empty()));
    }
    for (std::size_t i = 0; i < lines.size(); ++i) {
      const std::string_view a = KeyOf(lines[i]);
      for (std::size_t j = i + 1; j < lines.size(); ++j) CHECK(!Matches(a, KeyOf(lines[j])));
      probes_.emplace_back(a);
      probes_.push_back(SwapAsciiCase(a));
    }
    probes_.emplace_back();
    for (const std::string& probe : probes_)
      CHECK(table_.Strings().HasMatchingKey(probe) ==
            std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return Matches(KeyOf(l), probe); }));
    CHECK(editor_.shown == table_.EditorOpen());
    if (editor_.shown) CHECK(editor_.col == table_.Col() && editor_.row == table_.Row());
    // A held user name must be one that could never be stored.
    CHECK(table_.PendingDuplicateKey().find('=') == std::string::npos);
  }

  Input& in_;
  Editor editor_;  // outlives the table that refers to it
  table::TUserList table_;
  Model model_;
  std::vector<std::string> probes_;
  int announced_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  Run run(in);
  run.Go();
  return 0;
}
