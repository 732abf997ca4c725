// What the user chooses under 設定, remembered between runs in the user's configuration.
#pragma once

#include "core/job.h"

// The remembered choices. The first start, or any setting that cannot be read as one of the
// choices, gives the default for that setting: DES, the default strength, Shift-JIS.
core::TSettings LoadOptions();
void SaveOptions(const core::TSettings& options);
