#include "core/server_lines.h"

#include <algorithm>
#include <stdexcept>

namespace core {
namespace {

// Apache's line buffer is 8192 bytes; one of them holds the C string's terminating NUL.
constexpr std::size_t kApacheRoom = 8191;

bool IsApacheBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

// Fills in kind, name and hash of a line whose text neither server skips; `hash_ends` are the
// bytes that end a hash besides the end of the text.
void Classify(std::string_view text, std::string_view hash_ends, TServerLine& line) {
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos) {
    line.kind = TServerLine::Kind::NoColon;
    line.name = text;
    return;
  }
  line.kind = TServerLine::Kind::User;
  line.name = text.substr(0, colon);
  const std::string_view rest = text.substr(colon + 1);
  // Each end searched for apart: find_first_of would call memchr once for every byte of the hash.
  std::size_t end = rest.size();
  for (const char c : hash_ends) end = std::min(end, rest.substr(0, end).find(c));
  line.hash = rest.substr(0, end);
}

enum class Ending {
  Done,     // the line ends here
  Open,     // the bytes end where the line goes on
  TooLong,  // it does not fit Apache's buffer: Apache reads no further
};

// Reads Apache's logical line at `at` of `bytes` into `buffer` as Apache fills its own, read by
// read, and leaves there its C string without the LF. Moves `at` past it, counts the LFs read in
// `lfs`, and sets `last` to the physical line of the last byte read.
Ending ReadApacheLine(std::string_view bytes, std::size_t& at, std::string& buffer, std::size_t& lfs, std::size_t& last) {
  buffer.clear();
  while (true) {
    // One read: to a LF, to the end of the room, or to the end of the bytes.
    const std::string_view window = bytes.substr(at, kApacheRoom - buffer.size());
    const std::size_t lf = window.find('\n');
    const std::size_t taken = lf == std::string_view::npos ? window.size() : lf + 1;
    at += taken;
    buffer += window.substr(0, taken);
    last = lfs;
    if (lf != std::string_view::npos) ++lfs;
    const std::size_t text = std::min(buffer.find('\0'), buffer.size());
    if (text == kApacheRoom && buffer.back() != '\n') return Ending::TooLong;
    if (text < buffer.size() || buffer.back() != '\n') {
      buffer.resize(text);
      return Ending::Done;
    }
    // The buffer, not the read, decides: after an empty line the backslash before it counts again.
    const std::size_t end = buffer.size() - 1;
    const bool continued = (end >= 1 && buffer[end - 1] == '\\') || (end >= 2 && buffer[end - 2] == '\\' && buffer[end - 1] == '\r');
    if (!continued) {
      buffer.resize(end);
      return Ending::Done;
    }
    buffer.resize(buffer.rfind('\\', end));
    if (at == bytes.size()) return Ending::Open;
  }
}

}  // namespace

void TServerReader::Read(std::string_view piece, bool last_piece, std::vector<TServerLine>& out) {
  if (!last_piece && SafeCut(piece) != piece.size()) throw std::invalid_argument("a piece ends where a line goes on");
  if (server_ == hashes::Server::Apache)
    ReadApache(piece, out);
  else
    ReadNginx(piece, out);
}

void TServerReader::ReadApache(std::string_view piece, std::vector<TServerLine>& out) {
  std::string buffer;
  for (std::size_t at = 0; at < piece.size() && !stopped_;) {
    TServerLine line;
    line.first = lines_;
    if (ReadApacheLine(piece, at, buffer, lines_, line.last) == Ending::TooLong) {
      line.kind = TServerLine::Kind::Unread;
      stopped_ = true;
    } else {
      std::string_view content = buffer;
      while (!content.empty() && IsApacheBlank(content.front())) content.remove_prefix(1);
      while (!content.empty() && IsApacheBlank(content.back())) content.remove_suffix(1);
      if (content.empty())
        line.kind = TServerLine::Kind::Blank;
      else if (content.front() == '#')
        line.kind = TServerLine::Kind::Comment;
      else
        Classify(content, ":", line);
    }
    out.push_back(std::move(line));
  }
}

void TServerReader::ReadNginx(std::string_view piece, std::vector<TServerLine>& out) {
  for (std::size_t at = 0; at < piece.size();) {
    const std::size_t lf = std::min(piece.find('\n', at), piece.size());
    const std::string_view text = piece.substr(at, lf - at);
    at = lf + 1;
    TServerLine line;
    line.first = line.last = lines_;
    ++lines_;
    if (text.empty())
      line.kind = TServerLine::Kind::Blank;
    else if (text.front() == '#' || text.front() == '\r')
      line.kind = TServerLine::Kind::Comment;
    else
      Classify(text, std::string_view(":\r\0", 3), line);
    out.push_back(std::move(line));
  }
}

std::vector<TServerLine> ReadAs(hashes::Server server, std::string_view bytes) {
  std::vector<TServerLine> lines;
  TServerReader(server).Read(bytes, true, lines);
  return lines;
}

std::size_t SafeCut(std::string_view bytes) {
  // nginx reads each physical line by itself, so only Apache's reading tells where a line ends. A
  // line whose last byte before its LF (and one CR) is there and no backslash ends Apache's line
  // whatever came before it: the joined text then ends in that byte. Empty lines and backslashes
  // are passed over, so a cut is sometimes earlier than it could be, never wrong.
  for (std::size_t lf = bytes.rfind('\n'); lf != std::string_view::npos && lf > 0; lf = bytes.rfind('\n', lf - 1)) {
    std::size_t last = lf - 1;
    if (bytes[last] == '\r' && last > 0) --last;
    if (bytes[last] != '\n' && bytes[last] != '\r' && bytes[last] != '\\') return lf + 1;
  }
  return 0;
}

}  // namespace core
