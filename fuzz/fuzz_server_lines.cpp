// A password file of arbitrary bytes as Apache and nginx read it. Fed to TServerReader in the
// pieces a reader of blocks cuts with SafeCut, it gives what ReadAs gives on the whole. The lines
// Apache reads agree with a naive model written from what the real server showed
// (tests/server_lines_test.cpp, whose rows also hold nginx's few rules): a C buffer of 8192 bytes
// filled read by read and taken as a C string. Each byte 0x01 of the input stands for 4095 x, so
// that short inputs reach Apache's buffer: two of them fill a line to its last byte (the first eight
// of them, so that a run stays quick).
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "core/server_lines.h"
#include "fuzz_check.h"

namespace {

using core::TServerLine;
using Kind = TServerLine::Kind;

// Apache's side: a file read as fgets reads it, into a buffer that a line joins in.
// `lfs`: the LFs read so far; `read_line`: the physical line the last read took bytes from.
struct TFile {
  std::string_view bytes;
  std::size_t at = 0, lfs = 0, read_line = 0;
};

bool Gets(char* to, std::size_t size, TFile& file) {
  if (file.at == file.bytes.size()) return false;
  file.read_line = file.lfs;
  std::size_t n = 0;
  while (n + 1 < size && file.at < file.bytes.size() && (n == 0 || to[n - 1] != '\n')) to[n++] = file.bytes[file.at++];
  file.lfs += n > 0 && to[n - 1] == '\n';
  to[n] = '\0';
  return true;
}

std::vector<TServerLine> NaiveApache(std::string_view bytes) {
  std::vector<TServerLine> lines;
  TFile file{bytes};
  static char buffer[8192];
  while (file.at < bytes.size()) {
    TServerLine line;
    line.first = file.lfs;
    std::size_t at = 0;
    while (Gets(buffer + at, sizeof buffer - at, file)) {
      line.last = file.read_line;
      const std::size_t length = std::strlen(buffer);
      if (length == sizeof buffer - 1 && buffer[length - 1] != '\n') {
        line.kind = Kind::Unread;
        lines.push_back(line);
        return lines;
      }
      if (length == 0 || buffer[length - 1] != '\n') break;
      std::size_t end = length - 1;
      if (end > 0 && buffer[end - 1] == '\r') --end;
      if (end == 0 || buffer[end - 1] != '\\') {
        buffer[length - 1] = '\0';
        break;
      }
      at = end - 1;
      buffer[at] = '\0';  // what stands when the file ends here
    }
    const char* text = buffer;
    while (*text != '\0' && std::isspace(static_cast<unsigned char>(*text))) ++text;
    std::string content(text);
    while (!content.empty() && std::isspace(static_cast<unsigned char>(content.back()))) content.pop_back();
    const std::size_t colon = content.find(':');
    line.kind = content.empty() ? Kind::Blank : content[0] == '#' ? Kind::Comment : colon != std::string::npos ? Kind::User : Kind::NoColon;
    if (line.kind == Kind::NoColon) line.name = content;
    if (line.kind == Kind::User) line.name = content.substr(0, colon), line.hash = content.substr(colon + 1, content.find(':', colon + 1) - colon - 1);
    lines.push_back(line);
  }
  return lines;
}

void CheckPieces(hashes::Server server, std::string_view file, const std::vector<TServerLine>& whole) {
  std::minstd_rand random(static_cast<std::uint32_t>(std::hash<std::string_view>{}(file)));
  core::TServerReader reader(server);
  std::vector<TServerLine> lines;
  std::size_t fed = 0, held = 0;  // bytes given to the reader, bytes read from the file after them
  while (fed + held < file.size()) {
    held = std::min(file.size() - fed, held + 1 + random() % 64 * (random() % 4 == 0 ? 512 : 1));
    const std::size_t cut = core::SafeCut(file.substr(fed, held));
    reader.Read(file.substr(fed, cut), false, lines);
    fed += cut;
    held -= cut;
  }
  reader.Read(file.substr(fed), true, lines);
  CHECK(lines == whole);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string file;
  int runs = 0;
  for (const char c : std::string_view(reinterpret_cast<const char*>(data), size).substr(0, 4096))
    file += c == '\x01' && ++runs <= 8 ? std::string(4095, 'x') : std::string(1, c);

  const std::vector<TServerLine> apache = core::ReadAs(hashes::Server::Apache, file);
  CHECK(apache == NaiveApache(file));
  CheckPieces(hashes::Server::Apache, file, apache);

  CheckPieces(hashes::Server::Nginx, file, core::ReadAs(hashes::Server::Nginx, file));
  return 0;
}
