// The settings block on its way through the host: the parameters handle, the
// descriptor registry and the scripting descriptor.
#pragma once

#include "framework/effect.h"
#include "plugin/protocol/filter_record.h"

namespace ps {

class EntryCall;

// A new host handle holding the effect's settings block, or null.
Handle BuildSettingsHandle(const FilterRecord* record, const fx::EffectInstance& effect);

// False for no handle, a handle that cannot be locked or a block whose
// version is not 1; otherwise the result of applying the block.
bool ApplySettingsHandle(const FilterRecord* record, fx::EffectInstance& effect, Handle h);

// Last-used settings in the host's descriptor registry, under the entry's
// registry key. Every host failure ends the step silently.
void RegisterSettings(const EntryCall& call);
void RecallSettings(const EntryCall& call);

// Reloads the registry's and the scripting descriptor's settings (in that
// order) and answers whether the settings dialog may be shown.
bool DialogAllowed(const EntryCall& call);

// Writes the settings as text under 'parM' into a new scripting descriptor.
void WriteScriptingRecord(const EntryCall& call);

}  // namespace ps
