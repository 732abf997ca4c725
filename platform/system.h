// Small services of the operating system, in the shape the rest of the program needs them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// `path` (in the file system's own encoding) made absolute against the current directory, with
// "." and ".." resolved lexically, as a file name in a failure message should read. Symbolic
// links are not followed: the user sees the name they gave.
std::string AbsolutePath(std::string_view path);
// The folder a path's last component stands in, without a final "/": "." for a bare name, "/" for
// a name right under the root.
std::string FolderOf(const std::string& path);
// `folder` with a final "/", ready to have a file's name put after it.
std::string WithSlash(const std::string& folder);

// The system's text for an errno value, in code page 932, without trailing blanks, control bytes
// and periods, and at most 255 bytes long (never cutting a character in two).
std::string SystemErrorText(int errnum);

// A monotonic counter in nanoseconds, for measuring how long work takes.
std::uint64_t HighResolutionCounter() noexcept;

// Fills `size` bytes at `out` from the kernel's cryptographic random source. Returns 0, or the
// errno of the failure; it never falls back to a weaker source.
int SystemRandomBytes(void* out, std::size_t size) noexcept;

}  // namespace platform
