// The table's key index against a deliberately naive table that scans every line for every check,
// over thousands of random operations: both must agree on every line, failure and row after
// every step.
#include <gtest/gtest.h>

#include <random>

#include "platform/key_fold.h"
#include "table/user_list.h"
#include "test_files.h"
#include "text/exceptions.h"

namespace {

std::string_view KeyOf(std::string_view line) {
  const std::size_t eq = line.find('=');
  return eq == std::string_view::npos ? std::string_view() : line.substr(0, eq);
}
std::string_view ValueOf(std::string_view line) {
  const std::size_t eq = line.find('=');
  return eq == std::string_view::npos ? line : line.substr(eq + 1);
}

struct Failure {
  std::string message;
};

class NaiveTable {
 public:
  std::vector<std::string> lines;
  int row = 1, col = 1;

  int RowCount() const { return lines.empty() ? 2 : static_cast<int>(lines.size()) + 1; }

  void Add(const std::string& line) {
    CheckAdded(line);
    lines.push_back(line);
    Recompute();
  }
  void Insert(int i, const std::string& line) {
    CheckAdded(line);
    lines.insert(lines.begin() + i, line);
    Recompute();
  }
  void Put(int i, const std::string& line) {
    const std::string_view key = KeyOf(line);
    if (!key.empty()) {
      for (std::size_t j = 0; j < lines.size(); ++j) {
        if (platform::KeysMatch(KeyOf(lines[j]), key) && !KeyOf(lines[j]).empty()) {
          if (static_cast<int>(j) != i) Duplicate(key);
          break;  // the first line in list order decides
        }
      }
    }
    lines[static_cast<std::size_t>(i)] = line;
  }
  void Delete(int i) {
    lines.erase(lines.begin() + i);
    Recompute();
  }
  void Clear() {
    lines.clear();
    Recompute();
  }
  std::string Cell(int c, int r) const {
    if (lines.empty()) return "";
    if (r - 1 >= static_cast<int>(lines.size())) throw Failure{"index"};
    const std::string& line = lines[static_cast<std::size_t>(r - 1)];
    return std::string(c == 0 ? KeyOf(line) : ValueOf(line));
  }
  void SetCell(int c, int r, const std::string& text) {
    const std::string line = c == 0 ? text + "=" + Cell(1, r) : Cell(0, r) + "=" + text;
    if (r - 1 < static_cast<int>(lines.size()))
      Put(r - 1, line);
    else
      Add(line);
  }
  bool Empty(int r) const {
    return r >= 1 && r <= static_cast<int>(lines.size()) && Cell(0, r).empty() && Cell(1, r).empty();
  }
  int InsertEntry(const std::string& key, const std::string& value, bool append) {
    const int r = row;
    if (Empty(r)) {
      if (key.find('=') != std::string::npos) throw Failure{"equals"};
      SetCell(0, r, key);
      SetCell(1, r, value);
      return r;
    }
    if (key.find('=') != std::string::npos) throw Failure{"equals"};
    if (append) {
      Add(key + "=" + value);
      return static_cast<int>(lines.size());
    }
    Insert(r - 1, key + "=" + value);
    return r;
  }
  void MoveTo(int c, int r) {
    r = std::clamp(r, 1, RowCount() - 1);
    if (c == col && r == row) return;
    if (r != row && !lines.empty() && Empty(row)) {
      const int deleted = row;
      if (row == RowCount() - 1 && lines.size() > 1) --row;
      Delete(deleted - 1);
      if (r >= deleted) --r;
      r = std::clamp(r, 1, RowCount() - 1);
    }
    col = c;
    row = r;
  }

 private:
  void CheckAdded(const std::string& line) {
    const std::string_view key = KeyOf(line);
    if (key.empty()) return;
    for (const std::string& other : lines)
      if (!KeyOf(other).empty() && platform::KeysMatch(KeyOf(other), key)) Duplicate(key);
  }
  [[noreturn]] static void Duplicate(std::string_view key) {
    throw Failure{Sjis("キー名 \"") + std::string(key) + Sjis("\" はすでに存在します")};
  }
  void Recompute() {
    if (row > RowCount() - 1) row = RowCount() - 1;
  }
};

// What an operation did: the failure's message, or nothing.
template <class Action>
std::string Outcome(Action action) {
  try {
    action();
  } catch (const text::EStringListError&) {
    return "index";
  } catch (const text::Exception& e) {
    const std::string m = e.Message();
    return m == Sjis("キーは等号記号（“=”）を含めません。") ? "equals" : m;
  } catch (const Failure& f) {
    return f.message;
  }
  return "";
}

}  // namespace

TEST(UserListDifferential, TheIndexAgreesWithAScanOfEveryLine) {
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  // Few keys, in both cases and in full width, so that clashes are common.
  const std::vector<std::string> keys = {"", "a", "A", "b", "B", "ab", "aB", Sjis("ａ"), Sjis("Ａ"), Sjis("表"), "x=y"};
  const auto pick = [&](const std::vector<std::string>& from) { return from[random() % from.size()]; };
  const auto value = [&] { return std::string(random() % 3, static_cast<char>('0' + random() % 10)); };

  table::TUserList real;
  NaiveTable naive;
  for (int step = 0; step < 20000; ++step) {
    const int count = static_cast<int>(naive.lines.size());
    const int op = static_cast<int>(random() % 9);
    const int row = 1 + static_cast<int>(random() % static_cast<unsigned>(std::max(count, 1)));
    const int col = static_cast<int>(random() % 2);
    std::string a, b;
    switch (op) {
      case 0: {
        const std::string k = pick(keys), v = value();
        const bool append = random() % 2 == 0;
        a = Outcome([&] { real.InsertEntry(k, v, append); });
        b = Outcome([&] { naive.InsertEntry(k, v, append); });
        break;
      }
      case 1:
      case 2: {
        const std::string t = col == 0 ? pick(keys) : value();
        a = Outcome([&] { real.SetCellText(col, row, t); });
        b = Outcome([&] { naive.SetCell(col, row, t); });
        break;
      }
      case 3: {
        const std::string line = pick(keys) + "=" + value();
        a = Outcome([&] { real.Strings().Add(line); });
        b = Outcome([&] { naive.Add(line); });
        break;
      }
      case 4:
        if (count > 0) {
          const std::string line = pick(keys) + "=" + value();
          a = Outcome([&] { real.Strings().Put(row - 1, line); });
          b = Outcome([&] { naive.Put(row - 1, line); });
        }
        break;
      case 5:
        if (count > 0) {
          a = Outcome([&] { real.Strings().Delete(row - 1); });
          b = Outcome([&] { naive.Delete(row - 1); });
        }
        break;
      case 6:
        if (random() % 20 == 0) {
          real.Strings().Clear();
          naive.Clear();
        }
        break;
      case 7:
      case 8: {
        const int target = 1 + static_cast<int>(random() % static_cast<unsigned>(count + 1));
        a = Outcome([&] { real.MoveTo(col, target); });
        b = Outcome([&] { naive.MoveTo(col, target); });
        break;
      }
    }
    ASSERT_EQ(a, b) << "step " << step << " op " << op;
    ASSERT_EQ(real.Strings().Lines(), naive.lines) << "step " << step << " op " << op;
    ASSERT_EQ(real.RowCount(), naive.RowCount()) << "step " << step;
    ASSERT_EQ(real.Row(), naive.row) << "step " << step;
    ASSERT_EQ(real.Col(), naive.col) << "step " << step;
  }
}
