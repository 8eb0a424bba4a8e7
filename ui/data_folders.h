// Folders beside the module file where the dialogs start their file choosers.
#pragma once

#include <QString>

namespace ps {

// "<module folder>/<subFolder>/" as the host-services path operation builds
// it; empty when it cannot be built.
QString DataFolder(const char* vendorFolder, const char* subFolder);

}  // namespace ps
