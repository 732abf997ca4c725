// The failure kinds. A failure carries its message as code page 932 bytes, ready for the message
// box; nothing below the window catches one.
#pragma once

#include <exception>
#include <string>
#include <string_view>

namespace text {

// Fills a message from the table: %s takes the next string argument, %d the next integer; any
// other "%" stands for itself. The scan is by byte, which is safe in code page 932: "%" (0x25) is
// never a second byte.
std::string FormatMessage(std::string_view format, std::initializer_list<std::string_view> strings);
std::string FormatMessage(std::string_view format, long long number);

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const std::string& Message() const noexcept { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

class EStreamError : public Exception {
  using Exception::Exception;
};
class EFileStreamError : public EStreamError {
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
