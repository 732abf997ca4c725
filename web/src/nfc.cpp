#include <emscripten.h>

#include "uninorm.h"

namespace {

// The length of the NFC form of the UTF-8 at `from`, written to a buffer from malloc at *out; -1
// when the bytes are no UTF-8.
EM_JS(int, BrowserNfc, (const uint8_t* from, size_t size, uint8_t** out), {
  let text;
  try {
    text = new TextDecoder("utf-8", {fatal : true}).decode(HEAPU8.slice(from, from + size));
  } catch (e) {
    return -1;
  }
  const bytes = new TextEncoder().encode(text.normalize("NFC"));
  const buffer = _malloc(Math.max(bytes.length, 1));
  HEAPU8.set(bytes, buffer);
  HEAPU32[out >> 2] = buffer;
  return bytes.length;
});

}  // namespace

extern "C" uint8_t* u8_normalize(uninorm_t, const uint8_t* s, size_t n, uint8_t*, size_t* lengthp) {
  uint8_t* out = nullptr;
  const int length = BrowserNfc(s, n, &out);
  if (length < 0) return nullptr;
  *lengthp = static_cast<size_t>(length);
  return out;
}
