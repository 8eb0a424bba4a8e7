#include "plugin/entry_call.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "framework/errors.h"
#include "framework/registry.h"
#include "framework/settings_block.h"
#include "plugin/host_access.h"
#include "plugin/render_loop.h"
#include "plugin/settings_transport.h"

namespace ps {
namespace {

constexpr std::size_t kPathCapacity = 300;
char g_pluginPath[kPathCapacity] = {};
int32_t g_initCount = 0;

void CopyPath(char* out, const char* in) {
  std::snprintf(out, kPathCapacity, "%s", in != nullptr ? in : "");
}

// Fills the module path from the host's plug-ins service, or from the
// operating system when the host cannot say.
void FillPluginPath(const FilterRecord* record) {
  try {
    SuiteRef<SPPluginsSuite4> plugins(record ? record->sSPBasic : nullptr, kSPPluginsSuite,
                                      kSPPluginsSuiteVersion);
    SPPlatformFileSpecification file{};
    if (plugins && plugins->GetPluginFileSpecification != nullptr &&
        plugins->GetPluginFileSpecification(record->plugInRef, &file) == kSPNoError) {
      file.path[sizeof file.path - 1] = '\0';
      if (file.path[0] != '\0') {
        CopyPath(g_pluginPath, file.path);
        return;
      }
    }
  } catch (...) {
  }
  CopyPath(g_pluginPath, ModuleFileName());
}

// The guard: what escapes a handler becomes the call's result code.
template <class Handler>
void Guarded(FilterRecord* record, int16_t* result, Handler&& handler) {
  try {
    handler();
  } catch (const fx::OSErrFailure& e) {
    *result = e.code;
  } catch (const fx::ServiceFailure&) {
    *result = errPlugInHostInsufficient;
  } catch (const std::exception& e) {
    *result = errReportString;
    SetErrorString(record, e.what());
  } catch (...) {
    *result = errReportString;
    SetErrorString(record, "Unknown Error");
  }
}

}  // namespace

const char* PluginPath() { return g_pluginPath; }
int32_t InitCount() { return g_initCount; }

const char* ModuleFileName() {
  static char name[kPathCapacity] = {};
  Dl_info info{};
  if (name[0] == '\0' && dladdr(reinterpret_cast<void*>(&FillPluginPath), &info) != 0 &&
      info.dli_fname != nullptr)
    CopyPath(name, info.dli_fname);
  return name;
}

void SetErrorString(FilterRecord* record, const char* message) {
  if (record == nullptr || record->errorString == nullptr) return;
  unsigned char* s = *record->errorString;
  const std::size_t n = message ? strnlen(message, 255) : 0;
  s[0] = static_cast<unsigned char>(n);
  if (n > 0) std::memcpy(s + 1, message, n);
}

EntryCall::EntryCall(FilterRecord* record, intptr_t* data, int16_t* result,
                     fx::EffectInstance* effect, const char* registryKey, bool aboutFlag)
    : filterRecord(record), data(data), result(result), effect(effect), registryKey(registryKey),
      aboutFlag(aboutFlag) {
  *result = noErr;
}

bool EntryCall::RestoreSettings() {
  if (filterRecord->parameters == nullptr) {
    filterRecord->parameters = BuildSettingsHandle(filterRecord, *effect);
    if (filterRecord->parameters == nullptr) {
      *result = memFullErr;
      return false;
    }
  }
  if (*data == 0) {
    Handle state = NewHandle(filterRecord, sizeof(CallStateBlock));
    if (state == nullptr) {
      *result = memFullErr;
      return false;
    }
    {
      HandleLock lock(filterRecord, state);
      if (!lock) {
        DisposeHandle(filterRecord, state);
        *result = memFullErr;
        return false;
      }
      CallStateBlock block{};
      block.showDialog = 1;
      std::memcpy(lock.get(), &block, sizeof block);
    }
    *data = reinterpret_cast<intptr_t>(state);
  }
  HandleLock lock(filterRecord, filterRecord->parameters);
  if (!lock) {
    *result = memFullErr;
    return false;
  }
  fx::ApplySettings(*effect, {reinterpret_cast<const uint8_t*>(lock.get()),
                              static_cast<std::size_t>(std::max<int32_t>(
                                  0, HandleSize(filterRecord, filterRecord->parameters)))});
  return true;
}

CallStateBlock* EntryCall::LockState() {
  Handle state = reinterpret_cast<Handle>(*data);
  if (state == nullptr || HandleSize(filterRecord, state) < static_cast<int32_t>(sizeof(CallStateBlock)))
    return nullptr;
  return reinterpret_cast<CallStateBlock*>(LockHandle(filterRecord, state));
}

void EntryCall::UnlockState() { UnlockHandle(filterRecord, reinterpret_cast<Handle>(*data)); }

void EntryCall::Parameters() {
  if (!RestoreSettings()) return;
  if (CallStateBlock* state = LockState()) {
    state->showDialog = 1;
    UnlockState();
  }
}

void EntryCall::Prepare() { RestoreSettings(); }

void EntryCall::ClearHostRectangles() {
  filterRecord->inRect = {};
  filterRecord->outRect = {};
  filterRecord->maskRect = {};
}

void EntryCall::Start() {
  if (!RestoreSettings()) return;
  // Whatever happens below, the host is left with no further area to process.
  struct ClearOnExit {
    EntryCall* call;
    ~ClearOnExit() { call->ClearHostRectangles(); }
  } clear{this};

  const bool allowed = DialogAllowed(*this);
  bool cancelled = false;
  if (CallStateBlock* state = LockState()) {
    const bool show = state->showDialog == 1 && allowed;
    state->showDialog = 0;
    UnlockState();
    if (show) cancelled = !RunSettingsDialog(*this);
  }
  if (cancelled) {
    *result = userCanceledErr;
    return;
  }
  RenderAllTiles(*this);
  Handle fresh = BuildSettingsHandle(filterRecord, *effect);
  if (fresh == nullptr) {
    // Keep the host's handle rather than leave it without settings.
    if (*result == noErr) *result = memFullErr;
    return;
  }
  DisposeHandle(filterRecord, filterRecord->parameters);
  filterRecord->parameters = fresh;
}

void EntryCall::Finish() {
  if (!RestoreSettings()) return;
  RegisterSettings(*this);
  WriteScriptingRecord(*this);
}

bool EntryCall::SavePreset(const char* path) const { return fx::WritePreset(*effect, path); }
bool EntryCall::LoadPreset(const char* path) { return fx::ReadPreset(*effect, path); }

void EntryPoint(const EntryInfo& entry, int32_t selector, void* paramBlock, intptr_t* data,
                int16_t* result) {
  if (result == nullptr) return;
  *result = noErr;
  if (selector == filterSelectorAbout) {
    if (!entry.aboutFlag) return;
    auto* about = static_cast<const AboutRecord*>(paramBlock);
    try {
      ShowAboutBox(about, fx::Registry().Lookup(entry.registryName));
    } catch (...) {
      // The about box has no way to report a failure; the host carries on.
    }
    return;
  }
  auto* record = static_cast<FilterRecord*>(paramBlock);
  if (record == nullptr || data == nullptr) return;
  if (++g_initCount == 1) FillPluginPath(record);
  Guarded(record, result, [&] {
    fx::EffectInstance* effect = fx::Registry().Lookup(entry.registryName);
    if (effect == nullptr && selector >= filterSelectorParameters && selector <= filterSelectorFinish) {
      // No effect type behind this entry point in this module.
      *result = errReportString;
      SetErrorString(record, (std::string("no such effect: ") + entry.registryName).c_str());
      return;
    }
    EntryCall call(record, data, result, effect, entry.registryKey, entry.aboutFlag);
    switch (selector) {
      case filterSelectorParameters:
        call.Parameters();
        break;
      case filterSelectorPrepare:
        call.Prepare();
        break;
      case filterSelectorStart:
        call.Start();
        break;
      case filterSelectorFinish:
        call.Finish();
        break;
      default:  // continue, and anything unknown: nothing to do
        break;
    }
  });
}

}  // namespace ps

fx::EffectRegistry& fx::Registry() {
  // Filled once, in catalogue order, and released when the module unloads.
  static EffectRegistry registry;
  static const bool filled = (RegisterEffects(registry), true);
  (void)filled;
  return registry;
}
