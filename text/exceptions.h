// The failure kinds. A failure carries its message as code page 932 bytes, ready for the message
// box, and the facts it is about (the file, the line, the system's error number) apart, for a front
// end that words them its own way; nothing below the front ends catches one.
#pragma once

#include <exception>
#include <span>
#include <string>
#include <string_view>

namespace text {

// Fills a message from the table: %s takes the next string argument, %d the next integer; any
// other "%" stands for itself. The scan is by byte, which is safe in code page 932: "%" (0x25) is
// never a second byte.
std::string FormatMessage(std::string_view format, std::initializer_list<std::string_view> strings);
std::string FormatMessage(std::string_view format, long long number);
std::string FormatMessage(std::string_view format, std::span<const std::string> strings);
// A message of the table in UTF-8, its %s and %d filled in order with UTF-8 texts, for a front end
// that speaks UTF-8 (the command, the page): a name or a path goes in whatever its characters.
std::string Utf8Message(std::string_view cp932_format, std::initializer_list<std::string_view> utf8 = {});

struct TFacts {
  std::string path;    // the file, as given: in the file system's encoding, maybe relative
  long long line = 0;  // counted from 1; 0 for none
  int error = 0;       // the errno; 0 for none
};

class Exception : public std::exception {
 public:
  explicit Exception(std::string message, TFacts facts = {}) : message_(std::move(message)), facts_(std::move(facts)) {}
  const std::string& Message() const noexcept { return message_; }
  const TFacts& Facts() const noexcept { return facts_; }
  // Names the file (and line) a failure found deep inside its reading is about, unless it names
  // them already.
  void AboutFile(std::string_view path, long long line = 0) {
    if (facts_.path.empty()) facts_.path = path;
    if (facts_.line == 0) facts_.line = line;
  }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
  TFacts facts_;
};

// Runs `step`, which reads the file at `path`: a failure it throws is told that file, and the line
// `line` has reached by then (0: none), unless it names them already.
template <class Step>
void ReadingFile(std::string_view path, const long long& line, const Step& step) {
  try {
    step();
  } catch (Exception& failure) {
    failure.AboutFile(path, line);
    throw;
  }
}

class EStreamError : public Exception {
 public:
  using Exception::Exception;
};
class EFileStreamError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};

class EFOpenError : public EFileStreamError {
 public:
  // `path` as given (file-system encoding); the message shows it made absolute, in code page 932.
  EFOpenError(std::string_view path, int errnum);
  EFOpenError(std::string_view path, std::string_view reason_cp932);
};

class EFCreateError : public EFileStreamError {
 public:
  EFCreateError(std::string_view path, int errnum);
};

class EFilerError : public EStreamError {
  using EStreamError::EStreamError;
};

class EWriteError : public EFilerError {
 public:
  EWriteError();
};

class EStringListError : public Exception {
 public:
  explicit EStringListError(long long index);
};

// The path of a file as a failure message shows it: absolute, in code page 932.
std::string PathForMessage(std::string_view path);

}  // namespace text
