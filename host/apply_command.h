// ovra-host apply: one filter over one or many image files.
#pragma once

#include "host/cli.h"

namespace standin::cli {

int Apply(const Args& args);

}  // namespace standin::cli
