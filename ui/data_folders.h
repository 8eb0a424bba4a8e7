// Folders where the dialogs start their file choosers: beside the module
// file, and the user's own.
#pragma once

#include <QString>

namespace ps {

// "<module folder>/<subFolder>/" as the host-services path operation builds
// it; empty when it cannot be built.
QString DataFolder(const char* vendorFolder, const char* subFolder);

// The user's preset folder, "$XDG_DATA_HOME/ovra/Presets" (it need not exist).
QString UserPresetFolder();

// The folder of the preset file last chosen, remembered between runs; empty
// when none was or the folder is gone.
QString LastPresetFolder();
void RememberPresetFolder(const QString& file);

}  // namespace ps
