// The credential table under arbitrary sequences of what reaches it: cell writes, entries as a
// file load makes them, direct line changes, batches, and the editing keys with an in-place editor
// that the input types into. The input is read as a program of at most kMaxSteps steps.
//
// After every step the table must still keep its promises: non-empty keys unique under
// platform::KeysMatch, the key index answering as a scan of the lines does, the row count and
// the current cell following the lines, every data row readable, and the view and the editor
// told of everything. A step that starts with the editor closed has an outcome and a result
// that a naive model predicts from the lines alone, and must meet both. A failure the table
// reports (a list index, a duplicate user name, an "=" in a user name, an unstorable editor
// text) is expected where the model says so; a crash, a sanitizer report, any other exception or
// a broken promise is a finding.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "platform/cp932.h"
#include "platform/key_fold.h"
#include "table/user_list.h"
#include "text/exceptions.h"
#include "text/messages.h"
#include "text/string_list.h"
#include "text/umyfunc.h"

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

// Small enough for the quadratic checks to stay cheap, large enough for moves, inserts and
// deletions in the middle of the table.
constexpr int kMaxSteps = 64;
constexpr int kMaxLines = 12;

// What names, passwords and loaded files are built from: letters in both cases (ASCII, full
// width, Greek, Cyrillic, Roman numerals), characters that the code page encodes more than once,
// second bytes 0x5C and 0x3D, lead bytes left alone, bytes that are no character, and the
// separators of lines and fields. Any other input byte stands for itself.
constexpr std::string_view kPieces[] = {
    "a"sv,        "A"sv,        "b"sv,        "B"sv,        "="sv,        "\\"sv,       "\0"sv,
    ","sv,        "\""sv,       " "sv,        "\t"sv,       "\r"sv,       "\n"sv,       "\r\n"sv,
    "\x82\x60"sv, "\x82\x81"sv, "\x82\x61"sv, "\x82\x82"sv,  // Ａ ａ Ｂ ｂ
    "\x83\x9f"sv, "\x83\xbf"sv, "\x83\xb0"sv, "\x83\xd0"sv,  // Α α Σ σ
    "\x84\x40"sv, "\x84\x70"sv, "\x84\x46"sv, "\x84\x76"sv,  // А а Ё ё
    "\x87\x54"sv, "\xfa\x4a"sv, "\xfa\x40"sv, "\xee\xef"sv,  // Ⅰ Ⅰ ⅰ ⅰ (NEC and IBM rows)
    "\x81\xca"sv, "\xee\xf9"sv, "\xfa\x54"sv,                // ¬ three times
    "\x95\x5c"sv, "\x83\x5c"sv, "\x81\x3d"sv, "\x82\xa0"sv,  // 表 ソ, a lead byte before "=", あ
    "\x81"sv,     "\xfc"sv,     "\xb1"sv,     "\x80"sv,     "\xa0"sv,     "\xfd"sv,     "\xff"sv,
    "\x85\x40"sv, "ab"sv,       "aB"sv,       "AB"sv,       "a=b"sv,      "\"\""sv,
};

std::string_view KeyOf(std::string_view line) {
  const std::size_t eq = line.find('=');
  return eq == std::string_view::npos ? std::string_view() : line.substr(0, eq);
}
std::string_view ValueOf(std::string_view line) {
  const std::size_t eq = line.find('=');
  return eq == std::string_view::npos ? line : line.substr(eq + 1);
}

// ASCII letters in the other case: a probe that must find what the key finds.
std::string SwapAsciiCase(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z')
      c = static_cast<char>(c - 'a' + 'A');
    else if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool Done() const { return pos_ >= size_; }
  unsigned Byte() { return pos_ < size_ ? data_[pos_++] : 0u; }
  unsigned Below(unsigned n) { return Byte() % n; }
  bool Bit() { return (Byte() & 1u) != 0; }
  // A row or line index, reaching one step outside the valid range on either side.
  int Index(int count) { return static_cast<int>(Below(static_cast<unsigned>(count) + 3u)) - 1; }
  std::string Piece() {
    const unsigned b = Byte();
    return b < std::size(kPieces) ? std::string(kPieces[b]) : std::string(1, static_cast<char>(b));
  }
  std::string Text(unsigned max_pieces) {
    std::string out;
    for (unsigned n = Below(max_pieces + 1); n > 0; --n) out += Piece();
    return out;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// --- Outcomes ---

enum class Outcome { Ok, Index, Duplicate, Equals, Unstorable };

std::string Unstorable() { return text::FormatMessage(messages::SNotCp932, {"1F600"}); }
std::string Duplicate(std::string_view key) { return text::FormatMessage(messages::SDuplicateString, {key}); }

bool IsDuplicateMessage(std::string_view message) {
  const std::size_t hole = messages::SDuplicateString.find("%s");
  const std::string_view head = messages::SDuplicateString.substr(0, hole);
  const std::string_view tail = messages::SDuplicateString.substr(hole + 2);
  return message.size() >= head.size() + tail.size() && message.substr(0, head.size()) == head &&
         message.substr(message.size() - tail.size()) == tail;
}

struct Result {
  Outcome outcome = Outcome::Ok;
  std::string message;
};

// Runs a step. Only the product's own failure kinds are caught: anything else ends the run.
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
    CHECK(IsDuplicateMessage(e.Message()));
    return {Outcome::Duplicate, e.Message()};
  }
}

// --- The naive model: a plain vector of lines, every check a scan ---

struct Model {
  Lines lines;
  int row = 1;
  int col = ValueColumn;
  std::string clash;  // the key of the last predicted duplicate, for its message

  int Count() const { return static_cast<int>(lines.size()); }
  int Rows() const { return lines.empty() ? 2 : Count() + 1; }
  void Follow() { row = std::min(row, Rows() - 1); }
  const std::string& Line(int r) const { return lines[static_cast<std::size_t>(r - 1)]; }
  bool IsEmpty(int r) const {
    return r >= 1 && r <= Count() && KeyOf(Line(r)).empty() && ValueOf(Line(r)).empty();
  }
  std::string Key(int r) const { return lines.empty() ? std::string() : std::string(KeyOf(Line(r))); }

  bool Clashes(std::string_view key, int except) {
    if (key.empty()) return false;
    for (int j = 0; j < Count(); ++j) {
      const std::string_view other = KeyOf(lines[static_cast<std::size_t>(j)]);
      if (j != except && !other.empty() && platform::KeysMatch(other, key)) {
        clash = std::string(key);
        return true;
      }
    }
    return false;
  }

  Outcome Add(const std::string& line) {
    if (Clashes(KeyOf(line), -1)) return Outcome::Duplicate;
    lines.push_back(line);
    Follow();
    return Outcome::Ok;
  }
  Outcome Insert(int i, const std::string& line) {
    if (i < 0 || i > Count()) return Outcome::Index;
    if (Clashes(KeyOf(line), -1)) return Outcome::Duplicate;
    lines.insert(lines.begin() + i, line);
    Follow();
    return Outcome::Ok;
  }
  Outcome Put(int i, const std::string& line) {
    if (i < 0 || i >= Count()) return Outcome::Index;
    if (Clashes(KeyOf(line), i)) return Outcome::Duplicate;
    lines[static_cast<std::size_t>(i)] = line;
    return Outcome::Ok;
  }
  Outcome Delete(int i) {
    if (i < 0 || i >= Count()) return Outcome::Index;
    lines.erase(lines.begin() + i);
    Follow();
    return Outcome::Ok;
  }
  void Clear() {
    lines.clear();
    Follow();
  }
  // A row of an empty table reads as empty cells, whatever its number; row 0 is the headers,
  // which no write can go to.
  Outcome SetCell(int c, int r, const std::string& text) {
    if (r <= 0 || (Count() > 0 && r > Count())) return Outcome::Index;
    const std::string key = lines.empty() ? std::string() : std::string(KeyOf(Line(r)));
    const std::string value = lines.empty() ? std::string() : std::string(ValueOf(Line(r)));
    const std::string line = c == KeyColumn ? text + "=" + value : key + "=" + text;
    return lines.empty() ? Add(line) : Put(r - 1, line);
  }
  Outcome InsertEntry(const std::string& key, const std::string& value, bool append, int& shown_at) {
    const int r = row;
    if (key.find('=') != std::string::npos) return Outcome::Equals;
    if (IsEmpty(r)) {
      if (const Outcome o = SetCell(KeyColumn, r, key); o != Outcome::Ok) return o;
      CHECK(SetCell(ValueColumn, r, value) == Outcome::Ok);
      shown_at = r;
      return Outcome::Ok;
    }
    const std::string line = key + "=" + value;
    if (append) {
      const Outcome o = Add(line);
      shown_at = Count();
      return o;
    }
    shown_at = r;
    return Insert(r - 1, line);
  }
  void MoveTo(int c, int r) {
    c = std::clamp(c, 0, 1);
    r = std::clamp(r, 1, Rows() - 1);
    if (c == col && r == row) return;
    if (r != row && Count() > 0 && IsEmpty(row)) {
      const int deleted = row;
      if (row == Rows() - 1 && Count() > 1) row = row - 1;
      CHECK(Delete(deleted - 1) == Outcome::Ok);
      if (r >= deleted) --r;
      r = std::clamp(r, 1, Rows() - 1);
    }
    col = c;
    row = r;
  }
  void DeleteCurrentRow() {
    const int r = row;
    if (r == Rows() - 1 && Count() > 1) row = r - 1;
    CHECK(Delete(r - 1) == Outcome::Ok);
  }
  void KeyDown() {
    if (row == Rows() - 1 && !Key(row).empty()) {
      int r = 0;
      CHECK(InsertEntry("", "", true, r) == Outcome::Ok);
      MoveTo(col, r);
      return;
    }
    MoveTo(col, row + 1);
  }
  void KeyInsert() {
    int r = 0;
    if (!Key(row).empty()) CHECK(InsertEntry("", "", false, r) == Outcome::Ok);
  }
  void KeyEscape() {
    if (IsEmpty(row)) DeleteCurrentRow();
  }
};

// --- What the table talks to ---

class Editor : public table::CellEditor {
 public:
  std::string text;
  std::string loaded;
  bool unstorable = false;  // holds a character that the code page cannot store
  bool shown = false;
  bool typed = false;  // changed by the user since it was shown or restored
  int col = -1;
  int row = -1;

  std::string Text() const override {
    CHECK(shown);
    if (unstorable) throw text::Exception(Unstorable());
    return text;
  }
  void Show(int c, int r, std::string_view t) override {
    CHECK(!shown);
    shown = true;
    col = c;
    row = r;
    text = loaded = std::string(t);
    unstorable = typed = false;
  }
  void Hide() override {
    CHECK(shown);
    shown = false;
  }
  bool Restore(std::string_view t) override {
    CHECK(shown);
    const bool changed = unstorable || text != t;
    text = std::string(t);
    unstorable = typed = false;
    return changed;
  }
  void SelectAll() override { CHECK(shown); }
};

class View : public table::UserListView {
 public:
  explicit View(const table::TUserList& t) : table_(t), rows(t.RowCount()), col(t.Col()), row(t.Row()) {}
  void RowCountChanged(int old_count, int new_count) override {
    CHECK(old_count == rows && new_count != old_count && new_count == table_.RowCount());
    rows = new_count;
  }
  void RowsChanged(int first_row, int last_row) override { CHECK(first_row >= 1 && first_row <= last_row); }
  void CurrentCellChanged() override {
    col = table_.Col();
    row = table_.Row();
  }

 private:
  const table::TUserList& table_;

 public:
  int rows;  // as last told
  int col;
  int row;
};

// --- The run ---

class Run {
 public:
  explicit Run(Input& in) : in_(in), view_(table_) {
    table_.SetView(&view_);
    table_.SetEditor(&editor_);
    table_.OnStringsChange = [this] { ++announced_; };
  }
  ~Run() {
    table_.OnStringsChange = nullptr;
    table_.SetView(nullptr);
    table_.SetEditor(nullptr);
  }
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

  void Go() {
    CheckTable();
    for (int step = 0; step < kMaxSteps && !in_.Done(); ++step) {
      probes_.clear();
      Step();
      CheckTable();
    }
  }

 private:
  // The model as the table stands, or none when the editor is open: a change then first hands
  // the editor's text over, which the model does not follow.
  bool Predict() {
    if (editor_.shown) return false;
    model_.lines = table_.Strings().Lines();
    model_.row = table_.Row();
    model_.col = table_.Col();
    return true;
  }
  void Expect(const Result& got, Outcome predicted) {
    CHECK(got.outcome == predicted);
    if (predicted == Outcome::Duplicate) CHECK(got.message == Duplicate(model_.clash));
    CHECK(table_.Strings().Lines() == model_.lines);
    CHECK(table_.Row() == model_.row && table_.Col() == model_.col);
  }
  std::string Line() {
    std::string line = in_.Text(4);
    if (in_.Bit()) line += "=" + in_.Text(3);
    probes_.emplace_back(KeyOf(line));
    return line;
  }
  std::string Name() {
    std::string name = in_.Text(4);
    probes_.push_back(name);
    return name;
  }

  void Step() {
    const bool full = table_.Strings().Count() >= kMaxLines;
    unsigned op = in_.Below(22);
    // A full table only shrinks or changes in place.
    if (full && (op == 1 || op == 2 || op == 3 || op == 14 || op == 15)) op = 5;
    switch (op) {
      case 0: SetCell(); break;
      case 1: InsertEntry(); break;
      case 2: StringsAdd(); break;
      case 3: StringsInsert(); break;
      case 4: StringsPut(); break;
      case 5: StringsDelete(); break;
      case 6: StringsClear(); break;
      case 7: Batch(); break;
      case 8: Load(); break;
      case 9: ShowEditor(); break;
      case 10: Type(Name()); break;
      case 11: TypeMore(); break;
      case 12: TypeUnstorable(); break;
      case 13: CloseEditor(); break;
      case 14: Keys(op); break;
      case 15: Keys(op); break;
      case 16: Keys(op); break;
      case 17: MoveTo(); break;
      case 18: MoveTo(); break;
      case 19: ShowEditor(); MoveTo(); ShowEditor(); break;  // a click, as the view handles it
      case 20: Backspace(); break;
      default: Lookups(); break;
    }
  }

  void SetCell() {
    const int col = in_.Bit() ? KeyColumn : ValueColumn;
    const int row = in_.Index(table_.RowCount() - 1);
    const std::string text = col == KeyColumn ? Name() : in_.Text(4);
    const bool modeled = Predict();
    const bool equals = col == KeyColumn && text.find('=') != std::string::npos;
    const Outcome predicted = !modeled ? Outcome::Ok : equals ? Outcome::Equals : model_.SetCell(col, row, text);
    const Result got = Attempt([&] { table_.SetCellText(col, row, text); });
    if (modeled) Expect(got, predicted);
    if (got.outcome == Outcome::Ok)
      CHECK(table_.CellText(col, std::max(1, std::min(row, table_.Strings().Count()))) == text);
  }

  void InsertEntry() {
    const std::string key = Name();
    const std::string value = in_.Text(3);
    const bool append = in_.Bit();
    const bool modeled = Predict();
    int predicted_row = 0;
    const Outcome predicted = modeled ? model_.InsertEntry(key, value, append, predicted_row) : Outcome::Ok;
    int shown_at = 0;
    const Result got = Attempt([&] { shown_at = table_.InsertEntry(key, value, append); });
    if (modeled) Expect(got, predicted);
    if (got.outcome == Outcome::Ok) {
      if (modeled) CHECK(shown_at == predicted_row);
      CHECK(table_.CellText(KeyColumn, shown_at) == key && table_.CellText(ValueColumn, shown_at) == value);
    }
  }

  void StringsAdd() {
    const std::string line = Line();
    const bool modeled = Predict();
    const Outcome predicted = modeled ? model_.Add(line) : Outcome::Ok;
    const Result got = Attempt([&] { table_.Strings().Add(line); });
    if (modeled) Expect(got, predicted);
  }
  void StringsInsert() {
    const int i = in_.Index(table_.Strings().Count());
    const std::string line = Line();
    const bool modeled = Predict();
    const Outcome predicted = modeled ? model_.Insert(i, line) : Outcome::Ok;
    const Result got = Attempt([&] { table_.Strings().Insert(i, line); });
    if (modeled) Expect(got, predicted);
  }
  void StringsPut() {
    const int i = in_.Index(table_.Strings().Count());
    std::string line;
    // Often the same user in another case or with another password, which the index treats apart.
    if (in_.Bit() && i >= 0 && i < table_.Strings().Count()) {
      const std::string& old = table_.Strings().Get(i);
      line = (in_.Bit() ? SwapAsciiCase(KeyOf(old)) : std::string(KeyOf(old))) + "=" + in_.Text(3);
      probes_.emplace_back(KeyOf(line));
    } else {
      line = Line();
    }
    const bool modeled = Predict();
    const Outcome predicted = modeled ? model_.Put(i, line) : Outcome::Ok;
    const Result got = Attempt([&] { table_.Strings().Put(i, line); });
    if (modeled) Expect(got, predicted);
  }
  void StringsDelete() {
    const int i = in_.Index(table_.Strings().Count());
    const bool modeled = Predict();
    const Outcome predicted = modeled ? model_.Delete(i) : Outcome::Ok;
    const Result got = Attempt([&] { table_.Strings().Delete(i); });
    if (modeled) Expect(got, predicted);
  }
  void StringsClear() {
    const bool modeled = Predict();
    if (modeled) model_.Clear();
    const Result got = Attempt([&] { table_.Strings().Clear(); });
    if (modeled) Expect(got, Outcome::Ok);
  }

  // Changes inside one batch: the table hears of them once, at its end, and must then be whole.
  void Batch() {
    const Result begun = Attempt([&] { table_.Strings().BeginUpdate(); });
    if (begun.outcome != Outcome::Ok) {
      CHECK(begun.outcome == Outcome::Unstorable || begun.outcome == Outcome::Duplicate ||
            begun.outcome == Outcome::Equals);
      return;
    }
    // The start closed the editor, whose hand-over is announced on its own, before the batch.
    CHECK(!editor_.shown);
    const int before = announced_;
    for (unsigned n = in_.Below(4); n > 0; --n) {
      TValueStringsStep();
      CHECK(announced_ == before);
    }
    table_.Strings().EndUpdate();
    CHECK(announced_ == before + 1);
  }
  void TValueStringsStep() {
    table::TValueStrings& s = table_.Strings();
    switch (in_.Below(4)) {
      case 0: {
        const std::string line = Line();
        if (s.Count() < kMaxLines) Attempt([&] { s.Add(line); });
        break;
      }
      case 1: {
        const int i = in_.Index(s.Count());
        const std::string line = Line();
        if (s.Count() < kMaxLines) Attempt([&] { s.Insert(i, line); });
        break;
      }
      case 2: {
        const int i = in_.Index(s.Count());
        const std::string line = Line();
        Attempt([&] { s.Put(i, line); });
        break;
      }
      default: {
        const int i = in_.Index(s.Count());
        Attempt([&] { s.Delete(i); });
        break;
      }
    }
  }

  // A credential file read as the window reads one: the table emptied, then one entry per
  // non-empty line, its first field the user name and its second the password. The first
  // failure ends the load, with the lines before it kept.
  void Load() {
    std::string bytes;
    for (unsigned n = in_.Below(25); n > 0; --n) bytes += in_.Piece();
    const std::vector<std::string> lines = text::SplitLines(bytes);
    const bool modeled = Predict();
    if (modeled) model_.Clear();
    const Result cleared = Attempt([&] { table_.Strings().Clear(); });
    if (modeled) Expect(cleared, Outcome::Ok);
    if (cleared.outcome != Outcome::Ok) return;
    CHECK(table_.Strings().Count() == 0);
    // Clearing an empty list is no change and leaves an open editor open; the first entry then
    // closes it, and the entries are predicted only once it is closed.
    bool predicted_entries = Predict();
    int loaded = 0;
    for (const std::string& line : lines) {
      if (line.empty()) continue;
      if (loaded++ == kMaxLines) break;
      const text::TStringList fields = text::SplitDelimited(line, ',');
      if (fields.Count() > 0) probes_.push_back(fields.Get(0));
      if (!predicted_entries) predicted_entries = Predict();
      const bool entry_modeled = predicted_entries;
      Outcome predicted = Outcome::Index;  // a line of blanks has no field 1
      int predicted_row = 0;
      if (entry_modeled && fields.Count() > 0) {
        const std::string password = fields.Count() == 1 ? std::string() : fields.Get(1);
        predicted = model_.InsertEntry(fields.Get(0), password, true, predicted_row);
      }
      int shown_at = 0;
      const Result got = Attempt([&] {
        if (fields.Count() == 1) {
          shown_at = table_.InsertEntry(fields.Get(0), std::string_view(), true);
        } else {
          const std::string& password = fields.Get(1);
          shown_at = table_.InsertEntry(fields.Get(0), password, true);
        }
      });
      if (entry_modeled) {
        Expect(got, predicted);
        if (got.outcome == Outcome::Ok) CHECK(shown_at == predicted_row);
      }
      if (got.outcome != Outcome::Ok) return;
    }
  }

  // --- Editing ---

  void ShowEditor() {
    const bool was_open = editor_.shown;
    CHECK(Attempt([&] { table_.ShowEditor(); }).outcome == Outcome::Ok);
    CHECK(editor_.shown);
    if (!was_open) CHECK(editor_.text == table_.CellText(table_.Col(), table_.Row()));
  }

  // The user's text handed over: stored in the editor's cell, or a user name held once because
  // it matches one the table has.
  void Type(const std::string& t) {
    const bool was_open = editor_.shown;
    const int lines_before = table_.Strings().Count();
    editor_.text = t;
    editor_.unstorable = false;
    if (was_open) editor_.typed = true;
    const Result got = Attempt([&] { table_.EditorTextChanged(); });
    if (!was_open) {
      CHECK(got.outcome == Outcome::Ok);
      return;
    }
    CHECK(editor_.shown);
    const int col = editor_.col, row = editor_.row;
    switch (got.outcome) {
      case Outcome::Ok:
        if (col == ValueColumn)
          CHECK(table_.CellText(col, row) == t);
        else
          CHECK(table_.CellText(col, row) == t || table_.PendingDuplicateKey() == t);
        break;
      case Outcome::Equals:
        CHECK(col == KeyColumn && t.find('=') != std::string::npos);
        break;
      case Outcome::Duplicate:
        CHECK(col == KeyColumn && got.message == Duplicate(t));
        break;
      default:
        CHECK(false);
    }
    // The first keystroke into the placeholder row gives it a line, whatever becomes of the text.
    if (lines_before == 0 && !t.empty()) CHECK(table_.Strings().Count() == 1);
  }
  void TypeMore() {
    const std::string t = editor_.text + in_.Piece();
    Type(t);
  }
  void Backspace() {
    const std::string& t = editor_.text;
    Type(t.substr(0, platform::LastCharStart(t)));
  }
  void TypeUnstorable() {
    const bool was_open = editor_.shown;
    editor_.unstorable = true;
    if (was_open) editor_.typed = true;
    const Result got = Attempt([&] { table_.EditorTextChanged(); });
    CHECK(got.outcome == (was_open ? Outcome::Unstorable : Outcome::Ok));
  }
  void CloseEditor() {
    const bool was_open = editor_.shown;
    const Result got = Attempt([&] { table_.CloseEditor(); });
    if (got.outcome == Outcome::Ok) {
      CHECK(!editor_.shown);
    } else {
      // A refused hand-over leaves the editor open with the user's text in it.
      CHECK(was_open && editor_.shown);
      CHECK(got.outcome != Outcome::Index);
    }
  }

  // Keys and moves never fail on a list index: the table chooses the rows they touch. With the
  // editor closed their effect is the model's; with it open they may fail as a hand-over does.
  void Keys(unsigned op) {
    const bool modeled = Predict();
    const bool restoring = editor_.shown && editor_.typed;
    if (modeled) {
      if (op == 14) model_.KeyDown();
      if (op == 15) model_.KeyInsert();
      if (op == 16) model_.KeyEscape();
    }
    const Result got = Attempt([&] {
      if (op == 14) table_.KeyDown();
      if (op == 15) table_.KeyInsert();
      if (op == 16) table_.KeyEscape();
    });
    CHECK(got.outcome != Outcome::Index);
    if (modeled) Expect(got, Outcome::Ok);
    // Escape puts the text the editor was opened with back into it, and back into its cell, or
    // holds it there once when it is a user name the table has in another case.
    if (op == 16 && restoring && got.outcome == Outcome::Ok && editor_.shown) {
      CHECK(editor_.text == editor_.loaded && !editor_.unstorable);
      const std::string cell = table_.CellText(editor_.col, editor_.row);
      CHECK(cell == editor_.loaded || table_.PendingDuplicateKey() == editor_.loaded);
    }
  }
  void MoveTo() {
    const int col = static_cast<int>(in_.Below(4)) - 1;
    const int row = in_.Index(table_.RowCount());
    const bool modeled = Predict();
    if (modeled) model_.MoveTo(col, row);
    const Result got = Attempt([&] { table_.MoveTo(col, row); });
    CHECK(got.outcome != Outcome::Index);
    if (modeled) Expect(got, Outcome::Ok);
  }

  void Lookups() {
    for (unsigned n = in_.Below(4); n > 0; --n) probes_.push_back(in_.Text(4));
  }

  // --- The promises ---

  void CheckTable() {
    const table::TValueStrings& s = table_.Strings();
    const Lines& lines = s.Lines();
    const int count = s.Count();
    CHECK(count == static_cast<int>(lines.size()));

    // Rows: one per line after the title row, or the placeholder row alone.
    CHECK(table_.RowCount() == (count > 0 ? count + 1 : 2));
    CHECK(table_.Col() == KeyColumn || table_.Col() == ValueColumn);
    CHECK(table_.Row() >= 1 && table_.Row() <= table_.RowCount() - 1);
    CHECK(table_.CellText(KeyColumn, 0) == messages::SUserNameHeader);
    CHECK(table_.CellText(ValueColumn, 0) == messages::SPasswordHeader);
    for (int r = 1; r < table_.RowCount(); ++r) {
      const std::string line = count > 0 ? lines[static_cast<std::size_t>(r - 1)] : std::string();
      CHECK(table_.CellText(KeyColumn, r) == KeyOf(line));
      CHECK(table_.CellText(ValueColumn, r) == ValueOf(line));
      CHECK(table_.IsEmptyRow(r) == (count > 0 && KeyOf(line).empty() && ValueOf(line).empty()));
    }
    CHECK(!table_.IsEmptyRow(0) && !table_.IsEmptyRow(table_.RowCount()));

    // Keys: unique under the platform's comparison, by a scan of every pair, whenever the lines
    // differ from those last scanned.
    if (lines != scanned_) {
      scanned_ = lines;
      CheckUniqueKeys(lines);
    }

    // The index: every lookup answers as the scan does.
    for (const std::string& line : lines) {
      probes_.emplace_back(KeyOf(line));
      probes_.push_back(SwapAsciiCase(KeyOf(line)));
    }
    probes_.emplace_back();
    for (const std::string& probe : probes_) {
      bool found = false;
      for (const std::string& line : lines) {
        const std::string_view key = KeyOf(line);
        found = found || (!probe.empty() && !key.empty() && platform::KeysMatch(key, probe));
      }
      CHECK(s.HasMatchingKey(probe) == found);
    }

    // The editor: open exactly while the table says so, on the current cell, with a held user
    // name that could never be stored.
    CHECK(editor_.shown == table_.EditorOpen());
    if (editor_.shown) CHECK(editor_.col == table_.Col() && editor_.row == table_.Row());
    CHECK(table_.PendingDuplicateKey().find('=') == std::string::npos);

    // The view: told of every row count and every move of the current cell.
    CHECK(view_.rows == table_.RowCount());
    CHECK(view_.col == table_.Col() && view_.row == table_.Row());
  }

  static void CheckUniqueKeys(const Lines& lines) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
      const std::string_view a = KeyOf(lines[i]);
      if (a.empty()) continue;
      for (std::size_t j = i + 1; j < lines.size(); ++j) {
        const std::string_view b = KeyOf(lines[j]);
        CHECK(b.empty() || !platform::KeysMatch(a, b));
      }
    }
  }

  Input& in_;
  table::TUserList table_;
  Editor editor_;
  View view_;
  Model model_;
  std::vector<std::string> probes_;
  Lines scanned_;
  int announced_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  Run run(in);
  run.Go();
  return 0;
}
