// The front door: what every exported entry point does with a call from the
// host, and the module-wide state the entry points share.
#pragma once

#include <cstdint>

#include "framework/effect.h"
#include "plugin/protocol/filter_record.h"

namespace ps {

// The constants of one entry point.
struct EntryInfo {
  const char* entryName;     // "PIMAIN_..."
  const char* registryName;  // the effect type it reaches
  const char* registryKey;   // where its settings live in the host's registry
  bool aboutFlag;            // answers the about selector
};

// The block behind the host-kept data word.
struct CallStateBlock {
  uint8_t showDialog;  // 1: the next start shows the settings dialog
  uint8_t reserved0[8];
  int32_t reserved1;
};
static_assert(sizeof(CallStateBlock) == 16);

// Built on the stack for one call of an entry point.
class EntryCall {
 public:
  EntryCall(FilterRecord* record, intptr_t* data, int16_t* result, fx::EffectInstance* effect,
            const char* registryKey, bool aboutFlag);

  FilterRecord* const filterRecord;
  intptr_t* const data;
  int16_t* const result;
  fx::EffectInstance* const effect;
  const char* const registryKey;
  const bool aboutFlag;

  // Selector handlers. Each returns normally; failures are raised and turned
  // into result codes by the guard in Dispatch.
  void Parameters();
  void Prepare();
  void Start();
  void Finish();

  // Restores the settings from the parameters handle, making the handle and
  // the call-state block first when the host holds none. False (result
  // -108 written) when a handle cannot be made or locked.
  bool RestoreSettings();

  // Preset files, for the settings dialog.
  bool SavePreset(const char* path) const;
  bool LoadPreset(const char* path);

 private:
  CallStateBlock* LockState();
  void UnlockState();
  void ClearHostRectangles();
};

// Runs one call of an entry point: looks up the effect, dispatches the
// selector inside the guard, writes the result.
void EntryPoint(const EntryInfo& entry, int32_t selector, void* paramBlock, intptr_t* data,
                int16_t* result);

// Writes a message into the host's length-prefixed error string, cut to 255.
void SetErrorString(FilterRecord* record, const char* message);

// Module-wide state.
const char* PluginPath();
int32_t InitCount();
// The operating system's file name of this module.
const char* ModuleFileName();

// Dialogs, provided by the user-interface part of the module (or by a
// headless build, which shows none).
bool RunSettingsDialog(EntryCall& call);  // true when the user accepted
void ShowAboutBox(const AboutRecord* record, fx::EffectInstance* effect);

}  // namespace ps
