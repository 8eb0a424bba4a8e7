// Dialogs of a build without the user interface: no dialog is shown, so the
// settings at hand are used as if the user had accepted them.
#include "plugin/entry_call.h"

namespace ps {

bool RunSettingsDialog(EntryCall&) { return true; }
void ShowAboutBox(const AboutRecord*, fx::EffectInstance*) {}

}  // namespace ps
