// Line splitting of arbitrary bytes, as a credential file is read, and joining, as every saved
// file is written. The checks are stated over the bytes, not over the splitter's own steps.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "text/string_list.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

bool IsBreak(char c) { return c == '\r' || c == '\n'; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> lines = text::SplitLines(bytes);

  // Only the bytes before the first NUL are text.
  const std::string_view prefix = bytes.substr(0, bytes.find('\0'));
  std::string content(prefix);
  std::erase_if(content, IsBreak);
  // CR LF, a lone CR and a lone LF each end one line.
  std::size_t line_ends = prefix.size() - content.size();
  for (auto i = prefix.find("\r\n"); i != prefix.npos; i = prefix.find("\r\n", i + 2)) --line_ends;
  const bool unterminated_last = !prefix.empty() && !IsBreak(prefix.back());

  // Every byte of the text is in a line or is a line break, in order, and nothing else is: so no
  // line holds a break or a NUL.
  std::string joined_content;
  for (const std::string& line : lines) joined_content += line;
  Check(joined_content == content);
  Check(lines.size() == line_ends + (unterminated_last ? 1 : 0));

  // Joining gives the canonical text: each line with CR LF, which splits back to the same lines,
  // and which is a fixed point of splitting and joining again.
  const std::string joined = text::JoinLines(lines);
  Check(joined.size() == content.size() + 2 * lines.size());
  Check(text::SplitLines(joined) == lines);
  Check(text::JoinLines(text::SplitLines(joined)) == joined);
  // A text already in that form (no NUL, every CR followed by LF, every LF after a CR, a break at
  // the end) is given back byte for byte, as a saved file read and saved again must be.
  bool canonical = prefix.size() == bytes.size() && (bytes.empty() || bytes.back() == '\n');
  for (std::size_t i = 0; canonical && i < bytes.size(); ++i) {
    if (bytes[i] == '\r') canonical = i + 1 < bytes.size() && bytes[i + 1] == '\n';
    if (bytes[i] == '\n') canonical = i > 0 && bytes[i - 1] == '\r';
  }
  if (canonical) Check(joined == bytes);

  text::TStringList list;
  list.SetText(bytes);
  Check(list.Lines() == lines && list.Text() == joined && list.Count() == static_cast<int>(lines.size()));
  return 0;
}
