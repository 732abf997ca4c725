#include "text/string_list.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <memory>

#include "platform/file_ops.h"
#include "platform/system.h"
#include "text/exceptions.h"
#include "text/messages.h"

namespace text {

std::vector<std::string> SplitLines(std::string_view bytes) {
  std::vector<std::string> lines;
  ForEachLine(bytes, [&](std::string_view line) { lines.emplace_back(line); });
  return lines;
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::size_t size = 0;
  for (const std::string& line : lines) size += line.size() + 2;
  std::string text;
  text.reserve(size);
  for (const std::string& line : lines) {
    text += line;
    text += "\r\n";
  }
  return text;
}

const std::string& TStringList::Get(int index) const {
  if (index < 0 || index >= Count()) throw EStringListError(index);
  return lines_[static_cast<std::size_t>(index)];
}

std::string ReadFileBytes(const std::string& path) {
  platform::TFileCalls& files = platform::Files();
  // Non-blocking, so that opening a FIFO returns at once instead of waiting for a writer.
  platform::TFileDescriptor fd(files.Open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0));
  if (fd.get() < 0) throw EFOpenError(path, errno);
  struct stat st{};
  if (files.Fstat(fd.get(), &st) != 0) throw EFOpenError(path, errno);
  if (S_ISDIR(st.st_mode)) throw EFOpenError(path, EISDIR);
  if (!S_ISREG(st.st_mode)) throw EFOpenError(path, messages::SNotRegularFile);
  std::string bytes;
  // Half a user list must not load without a word.
  if (!platform::ReadUpTo(fd.get(), static_cast<std::size_t>(st.st_size), bytes)) throw EFOpenError(path, errno);
  return bytes;
}

}  // namespace text
