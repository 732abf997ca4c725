// The line list: an ordered list of byte strings without their line breaks, and its text, which
// is every line followed by CR LF. It is how every file of the program is read and written.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace text {

// Gives each line of `bytes` to `line(std::string_view)`, in order: CR LF, a lone CR and a lone LF
// each end a line, LF CR is two line ends, a last line without a break is still a line, and the
// first NUL byte ends the text. No byte-order mark is recognised: it stays at the start of the first
// line.
template <class Line>
void ForEachLine(std::string_view bytes, Line&& line) {
  if (const std::size_t nul = bytes.find('\0'); nul != std::string_view::npos) bytes = bytes.substr(0, nul);
  for (std::size_t p = 0, n = bytes.size(); p < n;) {
    const std::size_t start = p;
    while (p < n && bytes[p] != '\r' && bytes[p] != '\n') ++p;
    line(bytes.substr(start, p - start));
    if (p < n && bytes[p] == '\r') ++p;
    if (p < n && bytes[p] == '\n') ++p;
  }
}

// The lines of `bytes` as ForEachLine gives them.
std::vector<std::string> SplitLines(std::string_view bytes);

// Every line followed by CR LF, built in one allocation.
std::string JoinLines(const std::vector<std::string>& lines);

// Reads a whole regular file. Fails with EFOpenError when it cannot be opened, is not a regular
// file (a directory, a FIFO, a device: reading one would give nothing useful or never return),
// or when reading it fails part way. A file that shrinks while it is read gives what was there.
std::string ReadFileBytes(const std::string& path);

class TStringList {
 public:
  TStringList() = default;
  explicit TStringList(std::vector<std::string> lines) : lines_(std::move(lines)) {}

  int Count() const noexcept { return static_cast<int>(lines_.size()); }
  // Line `index`; fails with EStringListError for an index outside 0 to Count() - 1.
  const std::string& Get(int index) const;
  const std::string& operator[](int index) const { return Get(index); }
  const std::vector<std::string>& Lines() const noexcept { return lines_; }

  void Add(std::string line) { lines_.push_back(std::move(line)); }
  void Clear() noexcept { lines_.clear(); }

  std::string Text() const { return JoinLines(lines_); }

  // Replaces the lines with those of the file; on failure the list is unchanged.
  void LoadFromFile(const std::string& path) { lines_ = SplitLines(ReadFileBytes(path)); }

 private:
  std::vector<std::string> lines_;
};

}  // namespace text
