// A line of a UTF-8 file turned into the code page 932 bytes the table holds: either refused with a
// message, or bytes that read back as the line in Normalization Form C, and that a second turn
// leaves as they are.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/encoding.h"
#include "fuzz_check.h"
#include "platform/cp932.h"
#include "text/exceptions.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view utf8(reinterpret_cast<const char*>(data), size);
  const bool ascii = std::all_of(utf8.begin(), utf8.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  std::string cp932;
  try {
    cp932 = core::Cp932FromUtf8Line(utf8, 1);
  } catch (const text::Exception&) {
    CHECK(!ascii);  // every ASCII character has its own place in code page 932
    return 0;
  }
  if (ascii) CHECK(cp932 == utf8);
  const std::string back = platform::Cp932ToUtf8(cp932);
  CHECK(back == core::ComposedUtf8(utf8));
  CHECK(platform::Cp932ToUtf8Strict(cp932) == back);
  CHECK(core::Cp932FromUtf8Line(back, 1) == cp932);
  return 0;
}
