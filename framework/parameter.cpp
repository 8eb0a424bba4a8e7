#include "framework/parameter.h"

#include <algorithm>
#include <cstring>

namespace fx {

void Declare(Parameter& record, const ParamSpec& declaration) {
  record.declaration = &declaration;
  record.key = declaration.key;
  record.label = declaration.label;
  record.kind = declaration.kind;
  record.source = nullptr;
  record.fileName.clear();
  switch (declaration.kind) {
    case Kind::Range:
      record.number = declaration.defaultValue;
      break;
    case Kind::Boolean:
      record.boolean = declaration.defaultBool;
      break;
    case Kind::List:
      record.listIndex = declaration.defaultIndex;
      break;
    case Kind::Colour:
      record.colour = declaration.defaultColour;
      break;
    case Kind::Point:
      record.point = declaration.defaultPoint;
      break;
    case Kind::GroupStart:
      SetGroupState(record, declaration.defaultBool);
      break;
    case Kind::ImageFile:
      SetImageFile(record, declaration.defaultFile ? declaration.defaultFile : "");
      break;
    default:
      break;
  }
}

void SetFlagBit(Parameter& record, uint32_t bit, bool on) {
  record.flags = on ? record.flags | bit : record.flags & ~bit;
}

namespace {
void SetStateBit(Parameter& record, uint32_t bit, bool on) {
  if (((record.flags & bit) != 0) == on) return;
  SetFlagBit(record, bit, on);
  record.flags |= kStateChanged;
}
}  // namespace

void SetEnabled(Parameter& record, bool on) { SetStateBit(record, kEnabled, on); }
void SetGroupState(Parameter& record, bool on) { SetStateBit(record, kGroupOpen, on); }

void SetRange(Parameter& record, double value) {
  if (std::isnan(value)) {
    record.number = record.declaration ? record.declaration->defaultValue : 0.0;
    return;
  }
  record.number = record.declaration ? std::clamp(value, record.declaration->minimum, record.declaration->maximum) : value;
}

void SetBoolean(Parameter& record, bool value) { record.boolean = value; }

void SetListIndex(Parameter& record, int32_t index) {
  record.listIndex = index >= 0 && index < record.ItemCount()
                         ? index
                         : (record.declaration ? record.declaration->defaultIndex : 0);
}

namespace {
double Unit(double v, double fallback) { return std::isnan(v) ? fallback : std::clamp(v, 0.0, 1.0); }
double Coordinate(double v, double fallback) {
  return std::isfinite(v) ? std::clamp(v, -kPointLimit, kPointLimit) : fallback;
}
}  // namespace

void SetColour(Parameter& record, Rgb value) {
  const Rgb d = record.declaration ? record.declaration->defaultColour : Rgb{};
  record.colour = {Unit(value.r, d.r), Unit(value.g, d.g), Unit(value.b, d.b)};
}

void SetPoint(Parameter& record, PointD value) {
  const PointD d = record.declaration ? record.declaration->defaultPoint : PointD{};
  record.point = {Coordinate(value.x, d.x), Coordinate(value.y, d.y)};
}

void SetImageFile(Parameter& record, std::string_view text) {
  const std::size_t nul = text.find('\0');
  record.fileName.assign(text.substr(0, nul));
}

void ResetToDefault(Parameter& record) {
  if (record.declaration == nullptr) return;
  switch (record.kind) {
    case Kind::Range:
      record.number = record.declaration->defaultValue;
      break;
    case Kind::Boolean:
      record.boolean = record.declaration->defaultBool;
      break;
    case Kind::List:
      record.listIndex = record.declaration->defaultIndex;
      break;
    case Kind::Colour:
      record.colour = record.declaration->defaultColour;
      break;
    case Kind::Point:
      record.point = record.declaration->defaultPoint;
      break;
    case Kind::ImageFile:
      SetImageFile(record, record.declaration->defaultFile ? record.declaration->defaultFile : "");
      break;
    default:
      break;
  }
}

std::array<int32_t, 4> Colour8(const Parameter& record) {
  return {static_cast<int32_t>(record.colour.r * 255), static_cast<int32_t>(record.colour.g * 255),
          static_cast<int32_t>(record.colour.b * 255), 255};
}

std::array<int32_t, 4> Colour16(const Parameter& record) {
  return {static_cast<int32_t>(record.colour.r * 32768),
          static_cast<int32_t>(record.colour.g * 32768),
          static_cast<int32_t>(record.colour.b * 32768), 32768};
}

void PointInPixels(const Parameter& record, int32_t width, int32_t height, int32_t& x, int32_t& y) {
  x = static_cast<int32_t>((record.point.x + 0.5) * width);
  y = static_cast<int32_t>((record.point.y + 0.5) * height);
}

}  // namespace fx
