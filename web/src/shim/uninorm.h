// The one piece of libunistring the core calls, Normalization Form C, as the browser gives it
// (String.prototype.normalize): the same bytes, without building the library for the browser.
#pragma once

#include <stddef.h>
#include <stdint.h>

typedef const struct unicode_normalization_form* uninorm_t;
#define UNINORM_NFC ((uninorm_t)1)

#ifdef __cplusplus
extern "C" {
#endif
// `s` (n bytes of UTF-8) in the form `nf` (NFC only), in memory from malloc, its length in
// *lengthp; NULL when `s` is no UTF-8.
uint8_t* u8_normalize(uninorm_t nf, const uint8_t* s, size_t n, uint8_t* resultbuf, size_t* lengthp);
#ifdef __cplusplus
}
#endif
