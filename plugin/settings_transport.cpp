#include "plugin/settings_transport.h"

#include <cstring>
#include <span>
#include <vector>

#include "framework/settings_block.h"
#include "plugin/entry_call.h"
#include "plugin/host_access.h"

namespace ps {
namespace {

std::span<const uint8_t> Bytes(const char* p, int32_t size) {
  return {reinterpret_cast<const uint8_t*>(p), size > 0 ? static_cast<std::size_t>(size) : 0};
}

}  // namespace

Handle BuildSettingsHandle(const FilterRecord* record, const fx::EffectInstance& effect) {
  const std::size_t size = fx::SettingsSize(effect.parameterCount);
  Handle h = NewHandle(record, static_cast<int32_t>(size));
  if (h == nullptr) return nullptr;
  HandleLock lock(record, h);
  if (!lock || HandleSize(record, h) < static_cast<int32_t>(size)) {
    DisposeHandle(record, h);
    return nullptr;
  }
  fx::WriteSettings(effect, {reinterpret_cast<uint8_t*>(lock.get()), size});
  return h;
}

bool ApplySettingsHandle(const FilterRecord* record, fx::EffectInstance& effect, Handle h) {
  if (h == nullptr) return false;
  HandleLock lock(record, h);
  if (!lock) return false;
  const auto block = Bytes(lock.get(), HandleSize(record, h));
  if (fx::SettingsVersion(block) != fx::kSettingsVersion) return false;
  return fx::ApplySettings(effect, block);
}

namespace {

// Both services of the registry steps, or neither.
struct RegistryServices {
  explicit RegistryServices(SPBasicSuite* basic)
      : registry(basic, kPSDescriptorRegistrySuite, kPSDescriptorRegistrySuiteVersion),
        descriptors(registry ? basic : nullptr, kPSActionDescriptorSuite, kPSActionDescriptorSuiteVersion) {}
  explicit operator bool() const { return registry && descriptors; }
  SuiteRef<PSDescriptorRegistryProcs> registry;
  SuiteRef<PSActionDescriptorProcs> descriptors;
};

}  // namespace

void RegisterSettings(const EntryCall& call) {
  const FilterRecord* record = call.filterRecord;
  RegistryServices services(record->sSPBasic);
  if (!services || call.effect == nullptr) return;
  PIActionDescriptor descriptor = nullptr;
  if (services.descriptors->Make(&descriptor) != kSPNoError || descriptor == nullptr) return;
  const std::vector<uint8_t> block = fx::BuildSettings(*call.effect);
  services.descriptors->PutData(descriptor, keyParameters, static_cast<int32_t>(block.size()),
                                block.data());
  services.registry->Register(call.registryKey, descriptor, 1);
  services.descriptors->Free(descriptor);
}

void RecallSettings(const EntryCall& call) {
  const FilterRecord* record = call.filterRecord;
  RegistryServices services(record->sSPBasic);
  if (!services || call.effect == nullptr) return;
  PIActionDescriptor descriptor = nullptr;
  if (services.registry->Get(call.registryKey, &descriptor) != kSPNoError || descriptor == nullptr)
    return;
  int32_t length = 0;
  if (services.descriptors->GetDataLength(descriptor, keyParameters, &length) == kSPNoError &&
      length > 0) {
    std::vector<uint8_t> bytes(static_cast<std::size_t>(length));
    if (services.descriptors->GetData(descriptor, keyParameters, bytes.data()) == kSPNoError)
      fx::ApplySettings(*call.effect, bytes);
  }
  services.descriptors->Free(descriptor);
}

bool DialogAllowed(const EntryCall& call) {
  RecallSettings(call);
  FilterRecord* record = call.filterRecord;
  PIDescriptorParameters* params = record->descriptorParameters;
  if (params == nullptr || params->readDescriptorProcs == nullptr || params->descriptor == nullptr)
    return true;
  ReadDescriptorProcs* read = params->readDescriptorProcs;
  static const DescriptorKeyID kKeys[] = {keyParameters, 0};
  PIReadDescriptor token = read->openReadDescriptorProc ? read->openReadDescriptorProc(params->descriptor, kKeys) : nullptr;
  if (token != nullptr) {
    DescriptorKeyID key = 0;
    DescriptorTypeID type = 0;
    int32_t flags = 0;
    while (read->getKeyProc(token, &key, &type, &flags)) {
      if (key != keyParameters || read->getTextProc == nullptr) continue;
      Handle text = nullptr;
      if (read->getTextProc(token, &text) == noErr && text != nullptr) {
        if (call.effect != nullptr) ApplySettingsHandle(record, *call.effect, text);
        DisposeHandle(record, text);
      }
    }
    read->closeReadDescriptorProc(token);
    if (record->handleProcs != nullptr && record->handleProcs->disposeProc != nullptr)
      record->handleProcs->disposeProc(reinterpret_cast<Handle>(params->descriptor));
    params->descriptor = nullptr;
  }
  return params->playInfo == plugInDialogDisplay;
}

void WriteScriptingRecord(const EntryCall& call) {
  FilterRecord* record = call.filterRecord;
  PIDescriptorParameters* params = record->descriptorParameters;
  if (params == nullptr || params->writeDescriptorProcs == nullptr || call.effect == nullptr) return;
  WriteDescriptorProcs* write = params->writeDescriptorProcs;
  if (write->openWriteDescriptorProc == nullptr) return;
  PIWriteDescriptor token = write->openWriteDescriptorProc();
  if (token == nullptr) return;
  if (Handle block = BuildSettingsHandle(record, *call.effect)) {
    write->putTextProc(token, keyParameters, block);
    DisposeHandle(record, block);
  }
  if (params->descriptor != nullptr) {
    DisposeHandle(record, reinterpret_cast<Handle>(params->descriptor));
    params->descriptor = nullptr;
  }
  PIDescriptorHandle descriptor = nullptr;
  write->closeWriteDescriptorProc(token, &descriptor);
  params->descriptor = descriptor;
  params->recordInfo = plugInDialogOptional;
}

}  // namespace ps
