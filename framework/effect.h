// What an effect type is to the rest of the module: a 15-slot routine table
// and an instance that starts with a common header followed by its parameter
// records. The frame never knows an effect by its C++ type.
//
// An effect is written as a class derived from fx::Effect with the routines it
// provides as plain member functions, plus an EffectType naming its catalogue
// entry and parameter table:
//
//   class BleachBypass final : public fx::Effect {
//    public:
//     using Effect::Effect;
//     bool IsActive() const;
//     void Render(fx::RenderInfo& info);
//     // optional: BeginRender, ParameterChanged, ExpandRect
//   };
//   inline constexpr fx::EffectType kBleachBypass{"Ovra Bleach Bypass", "...", kParams, 0x0A};
//
// and registered with fx::RoutinesOf<BleachBypass, kBleachBypass>.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <span>
#include <string_view>

#include "framework/memory.h"
#include "framework/parameter.h"
#include "imaging/rect.h"

namespace fx {

class Raster;

// The record handed to begin render, render and expand rectangle.
class RenderInfo {
 public:
  virtual ~RenderInfo() = default;
  // Slot 0.
  virtual bool IsCancelled() { return false; }
  // Slots 1 to 3: queries and a notification no effect relies on.
  virtual bool Query1(int32_t, int32_t) { return true; }
  virtual bool Query2(int32_t, int32_t) { return true; }
  virtual void Notify(int32_t, int32_t) {}
  // Slot 4: a source raster holding the point (x, y) in filter-rectangle
  // coordinates, with the band it covers written to band; null outside.
  virtual Raster* SourceAccess(int32_t x, int32_t y, Rect& band) {
    (void)x;
    (void)y;
    band = {};
    return nullptr;
  }

  Raster* destination = nullptr;
  Rect area;
  float reserved0 = 0.0f;
  float reserved1 = 1.0f;
  float scaleX = 1.0f;
  float scaleY = 1.0f;
  int32_t reserved2 = 1;
  int32_t reserved3 = 2;
  bool is16Bit = false;
  float reserved4 = 1.0f;
  int32_t imageWidth = 0;
  int32_t imageHeight = 0;
  Rect outputRect;
  int32_t tileCount = 0;
  int32_t tileIndex = -1;
  int32_t isPreview = 0;
  // The filter rectangle in image coordinates, the frame of reference of
  // SourceAccess; empty when the frame gives none (the whole image).
  Rect filterRect;

  // A length the user sets in thousandths of the image height, in pixels at
  // the current scale.
  double FullHeightPixels(double v) const {
    return (static_cast<double>(imageHeight) / scaleY) * scaleX * v * 0.001;
  }
  double ScaledHeightPixels(double v) const { return imageHeight * v * 0.001; }
};

struct EffectInstance;

// The routine table of one effect type; the instance is the first argument
// of every routine but create.
struct EffectRoutines {
  EffectInstance* (*create)();
  EffectInstance* (*clone)(const EffectInstance* source);
  void (*destroy)(EffectInstance* self);
  const char* (*displayName)(const EffectInstance* self);
  const char* (*makerName)(const EffectInstance* self);
  const char* (*productName)(const EffectInstance* self);
  const char* (*productKey)(const EffectInstance* self);
  const char* (*description)(const EffectInstance* self);
  void* (*reserved)(const EffectInstance* self);
  void (*version)(const EffectInstance* self, int32_t* major, int32_t* minor, int32_t* revision);
  bool (*isActive)(EffectInstance* self);
  void (*beginRender)(EffectInstance* self, RenderInfo* info);
  void (*render)(EffectInstance* self, RenderInfo* info);
  void (*parameterChanged)(EffectInstance* self, int32_t index);
  void (*expandRect)(EffectInstance* self, RenderInfo* info, Rect* rect);
};

// Effect flag bits. Only kReadsOutsideTile is read by the module.
enum : uint32_t {
  kInstanceBaseFlags = 0x2020,
  kReadsOutsideTile = 0x40,
  kCloned = 0x100,
  kHeldByRegistry = 0x10000,
};

// The common instance header.
struct EffectInstance {
  const EffectRoutines* routines = nullptr;
  Parameter* parameters = nullptr;
  uint32_t parameterCount = 0;
  uint32_t imageInputCount = 0;
  uint32_t flags = kInstanceBaseFlags;
};

// Shared by every effect.
inline constexpr const char* kMakerName = "Quillory";
inline constexpr const char* kProductName = "KVR Ovra v6";
inline constexpr const char* kProductKey = "Ovra v6 PS";
inline constexpr int32_t kVersionMajor = 6, kVersionMinor = 0, kVersionRevision = 0;

// One effect type: display name ("Ovra ..."), description, parameter table
// and creation flags.
struct EffectType {
  const char* displayName;
  const char* description;
  std::span<const ParamSpec> params;
  uint32_t creationFlags = 0;
};

// Numbers the records 0..count-1 and counts the image inputs.
void RegisterArray(EffectInstance& instance, Parameter* first, uint32_t count);

// Base of every effect class: the header, the type, the parameter records and
// typed accessors by index.
class Effect : public EffectInstance {
 public:
  explicit Effect(const EffectType& type);
  ~Effect();
  Effect(const Effect&) = delete;
  Effect& operator=(const Effect&) = delete;

  const EffectType& Type() const { return *type_; }
  Parameter& Param(int index) { return parameters[index]; }
  const Parameter& Param(int index) const { return parameters[index]; }

  double RangeValue(int index) const { return parameters[index].number; }
  // The range value as a fraction (percentages are read x 0.01).
  double Percent(int index) const { return parameters[index].number * 0.01; }
  int32_t ListIndex(int index) const { return parameters[index].listIndex; }
  bool BooleanValue(int index) const { return parameters[index].boolean; }
  Rgb ColourValue(int index) const { return parameters[index].colour; }
  PointD PointValue(int index) const { return parameters[index].point; }
  const char* ImageFileName(int index) const { return parameters[index].ImageFileName(); }
  // The source raster of the current render (parameter 0).
  Raster* Source() const { return parameters[0].source; }

  // Index of the parameter with this key, or -1.
  int IndexOf(std::string_view key) const;

 private:
  const EffectType* type_;
};

namespace detail {

template <class T>
concept HasBeginRender = requires(T& t, RenderInfo& info) { t.BeginRender(info); };
template <class T>
concept HasParameterChanged = requires(T& t, int32_t index) { t.ParameterChanged(index); };
template <class T>
concept HasExpandRect = requires(T& t, RenderInfo& info, Rect& r) { t.ExpandRect(info, r); };

// Allocates and constructs an instance; null when the memory handler has no
// block for it. A failure after allocation frees the block and propagates.
EffectInstance* CreateInstance(std::size_t size, const EffectType& type,
                               const EffectRoutines& routines,
                               EffectInstance* (*construct)(void*, const EffectType&));

template <class T, const EffectType& Type>
struct Routines {
  static EffectInstance* Construct(void* block, const EffectType& type) { return new (block) T(type); }
  static EffectInstance* Create();
  static EffectInstance* Clone(const EffectInstance* source) {
    EffectInstance* copy = Create();
    if (copy != nullptr) copy->flags |= source->flags | kCloned;
    return copy;
  }
  static void Destroy(EffectInstance* self) {
    if (self == nullptr) return;
    static_cast<T*>(self)->~T();
    Free(self);
  }
  static const char* DisplayName(const EffectInstance*) { return Type.displayName; }
  static const char* Description(const EffectInstance*) { return Type.description; }
  static bool IsActive(EffectInstance* self) { return static_cast<T*>(self)->IsActive(); }
  static void BeginRender(EffectInstance* self, RenderInfo* info) {
    if constexpr (HasBeginRender<T>) static_cast<T*>(self)->BeginRender(*info);
  }
  static void Render(EffectInstance* self, RenderInfo* info) { static_cast<T*>(self)->Render(*info); }
  static void ParameterChanged(EffectInstance* self, int32_t index) {
    if constexpr (HasParameterChanged<T>) static_cast<T*>(self)->ParameterChanged(index);
  }
  static void ExpandRect(EffectInstance* self, RenderInfo* info, Rect* rect) {
    if constexpr (HasExpandRect<T>) static_cast<T*>(self)->ExpandRect(*info, *rect);
  }
};

const char* MakerName(const EffectInstance*);
const char* ProductName(const EffectInstance*);
const char* ProductKey(const EffectInstance*);
void* Reserved(const EffectInstance*);
void Version(const EffectInstance*, int32_t* major, int32_t* minor, int32_t* revision);

}  // namespace detail

// The routine table of effect class T declared as Type.
template <class T, const EffectType& Type>
inline constexpr EffectRoutines RoutinesOf = {
    &detail::Routines<T, Type>::Create,           &detail::Routines<T, Type>::Clone,
    &detail::Routines<T, Type>::Destroy,          &detail::Routines<T, Type>::DisplayName,
    &detail::MakerName,                           &detail::ProductName,
    &detail::ProductKey,                          &detail::Routines<T, Type>::Description,
    &detail::Reserved,                            &detail::Version,
    &detail::Routines<T, Type>::IsActive,         &detail::Routines<T, Type>::BeginRender,
    &detail::Routines<T, Type>::Render,           &detail::Routines<T, Type>::ParameterChanged,
    &detail::Routines<T, Type>::ExpandRect,
};

template <class T, const EffectType& Type>
EffectInstance* detail::Routines<T, Type>::Create() {
  return CreateInstance(sizeof(T), Type, RoutinesOf<T, Type>, &Construct);
}

// Convenience for the frame and the dialog.
inline const char* DisplayName(const EffectInstance& e) { return e.routines->displayName(&e); }
int IndexOfKey(const EffectInstance& e, std::string_view key);

}  // namespace fx
