// What the graduated and spot filters share beyond the mask groups: their
// view list (rows are found by key with fx::RowOf).
#pragma once

#include "framework/parameter.h"

namespace fx::grads {

// Every member's "view": the output, its mask, the source.
enum View : int32_t { kOutput = 0, kMaskView = 1, kOriginal = 2 };

}  // namespace fx::grads
