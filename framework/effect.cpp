#include "framework/effect.h"

#include <cstring>
#include <new>

#include "framework/memory.h"

namespace fx {

void RegisterArray(EffectInstance& instance, Parameter* first, uint32_t count) {
  instance.parameters = first;
  instance.parameterCount = count;
  instance.imageInputCount = 0;
  for (uint32_t i = 0; i < count; ++i) {
    first[i].index = static_cast<int32_t>(i);
    if (first[i].kind == Kind::ImageInput) ++instance.imageInputCount;
  }
}

Effect::Effect(const EffectType& type) : type_(&type) {
  const uint32_t count = static_cast<uint32_t>(type.params.size());
  auto* records = static_cast<Parameter*>(Allocate(sizeof(Parameter) * (count ? count : 1)));
  for (uint32_t i = 0; i < count; ++i) new (&records[i]) Parameter();
  flags |= type.creationFlags;
  for (uint32_t i = 0; i < count; ++i) {
    Declare(records[i], type.params[i]);
    SetFlags(records[i], type.params[i].flags);
  }
  RegisterArray(*this, records, count);
}

Effect::~Effect() {
  for (uint32_t i = 0; i < parameterCount; ++i) parameters[i].~Parameter();
  Free(parameters);
}

int Effect::IndexOf(std::string_view key) const { return IndexOfKey(*this, key); }

int IndexOfKey(const EffectInstance& e, std::string_view key) {
  for (uint32_t i = 0; i < e.parameterCount; ++i) {
    const char* k = e.parameters[i].key;
    if (k != nullptr && key == k) return static_cast<int>(i);
  }
  return -1;
}

namespace detail {

EffectInstance* CreateInstance(std::size_t size, const EffectType& type,
                               const EffectRoutines& routines,
                               EffectInstance* (*construct)(void*, const EffectType&)) {
  void* block = nullptr;
  try {
    block = Allocate(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  try {
    EffectInstance* self = construct(block, type);
    self->routines = &routines;
    return self;
  } catch (...) {
    Free(block);
    throw;
  }
}

const char* MakerName(const EffectInstance*) { return kMakerName; }
const char* ProductName(const EffectInstance*) { return kProductName; }
const char* ProductKey(const EffectInstance*) { return kProductKey; }
void* Reserved(const EffectInstance*) { return nullptr; }
void Version(const EffectInstance*, int32_t* major, int32_t* minor, int32_t* revision) {
  *major = kVersionMajor;
  *minor = kVersionMinor;
  *revision = kVersionRevision;
}

}  // namespace detail
}  // namespace fx
