// What the user chooses under 設定, remembered between runs in the user's configuration.
#pragma once

#include "hashes/hashes.h"

struct Options {
  hashes::Format format = hashes::Format::Des;
  hashes::Strength strength;
  bool utf8 = false;  // files in and out in UTF-8 rather than Shift-JIS bytes as they stand
  bool operator==(const Options&) const = default;
};

// The remembered choices. The first start, or any setting that cannot be read as one of the
// choices, gives the default for that setting: DES, the default strength, Shift-JIS.
Options LoadOptions();
void SaveOptions(const Options& options);
