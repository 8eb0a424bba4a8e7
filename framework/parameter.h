// Typed parameter records and the declarative tables effects write them with.
//
// An effect type's parameters are one constexpr table of ParamSpec rows, in
// the order the effect addresses them:
//
//   inline constexpr const char* kViewItems[] = {"Output", "Original"};
//   inline constexpr fx::ParamSpec kParams[] = {
//       fx::Image("background", "Background"),
//       fx::List("view", "View", kViewItems),
//       fx::Range("amount", "Amount", 0, 100, 100).Flags(fx::kPrincipal),
//       ...
//   };
//   static_assert(fx::ValidTable(kParams));
//
// The table is the single source of every parameter fact (key, label, kind,
// limits, default, list items, flags): the records of an instance point back
// to their row, and the dialog, settings blocks, presets and the host all
// read it from there.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace fx {

class Raster;

enum class Kind : int32_t {
  None = 0,
  ImageInput = 1,
  Range = 2,
  Boolean = 3,
  List = 4,
  Colour = 5,
  Point = 6,
  GroupStart = 7,
  GroupEnd = 8,
  PresetsFolder = 9,
  ImageFile = 10,
};

// Parameter flag bits.
enum : uint32_t {
  kEnabled = 0x1,
  kGroupOpen = 0x2,
  kNotify = 0x10,        // the dialog calls the effect's parameter-changed routine
  kStateChanged = 0x20,  // enabled/group state changed by code; the dialog refreshes
  kHidden = 0x40,
  kNoHandle = 0x80,  // point not offered as a preview handle
  kRedMark = 0x100,
  kGreenMark = 0x200,
  kPlainGroup = 0x200,  // on a group start or end: never a page of its own
  kBlueMark = 0x400,
  kWholeNumbers = 0x2000,
  kPrincipal = 0x4000,  // principal amount parameter
  kOwnsKey = 0x100000,
};

// The state of a record before it is declared.
inline constexpr uint32_t kInitialFlags = kEnabled | kStateChanged;

struct Rgb {
  double r = 0, g = 0, b = 0;
};

struct PointD {
  double x = 0, y = 0;
};

inline constexpr Rgb kWhite{1.0, 1.0, 1.0};
inline constexpr Rgb kBlack{0.0, 0.0, 0.0};

// One row of an effect's parameter table.
struct ParamSpec {
  Kind kind = Kind::None;
  const char* key = nullptr;
  const char* label = nullptr;
  uint32_t flags = 0;  // ORed into the record's initial flags
  // Range
  double minimum = 0, maximum = 0, defaultValue = 0;
  int32_t decimals = 1;
  // List
  std::span<const char* const> items;
  int32_t defaultIndex = 0;
  // Boolean, group start (initially open)
  bool defaultBool = false;
  // Colour, point
  Rgb defaultColour;
  PointD defaultPoint;
  // Image input
  uint8_t role = 0;
  // Image file
  const char* vendorFolder = nullptr;
  const char* subFolder = nullptr;
  const char* defaultFile = nullptr;

  constexpr ParamSpec Flags(uint32_t bits) const {
    ParamSpec copy = *this;
    copy.flags |= bits;
    return copy;
  }
  // The same row with another default (families that share a group but not
  // its defaults).
  constexpr ParamSpec Default(double value) const {
    ParamSpec copy = *this;
    copy.defaultValue = value;
    return copy;
  }
  constexpr ParamSpec DefaultIndex(int32_t index) const {
    ParamSpec copy = *this;
    copy.defaultIndex = index;
    return copy;
  }
  constexpr ParamSpec DefaultOn(bool on) const {
    ParamSpec copy = *this;
    copy.defaultBool = on;
    return copy;
  }
};

constexpr ParamSpec Image(const char* key, const char* label, uint8_t role = 0) {
  ParamSpec p;
  p.kind = Kind::ImageInput;
  p.key = key;
  p.label = label;
  p.role = role;
  return p;
}

constexpr ParamSpec Range(const char* key, const char* label, double minimum, double maximum,
                          double defaultValue, int32_t decimals = 1) {
  ParamSpec p;
  p.kind = Kind::Range;
  p.key = key;
  p.label = label;
  p.minimum = minimum;
  p.maximum = maximum;
  p.defaultValue = defaultValue;
  p.decimals = decimals;
  return p;
}

constexpr ParamSpec Bool(const char* key, const char* label, bool defaultValue) {
  ParamSpec p;
  p.kind = Kind::Boolean;
  p.key = key;
  p.label = label;
  p.defaultBool = defaultValue;
  return p;
}

constexpr ParamSpec List(const char* key, const char* label, std::span<const char* const> items,
                         int32_t defaultIndex = 0) {
  ParamSpec p;
  p.kind = Kind::List;
  p.key = key;
  p.label = label;
  p.items = items;
  p.defaultIndex = defaultIndex;
  return p;
}

constexpr ParamSpec Colour(const char* key, const char* label, Rgb defaultColour) {
  ParamSpec p;
  p.kind = Kind::Colour;
  p.key = key;
  p.label = label;
  p.defaultColour = defaultColour;
  return p;
}

constexpr ParamSpec Point(const char* key, const char* label, PointD defaultPoint) {
  ParamSpec p;
  p.kind = Kind::Point;
  p.key = key;
  p.label = label;
  p.defaultPoint = defaultPoint;
  return p;
}

constexpr ParamSpec Group(const char* key, const char* label, bool open = false) {
  ParamSpec p;
  p.kind = Kind::GroupStart;
  p.key = key;
  p.label = label;
  p.defaultBool = open;
  return p;
}

constexpr ParamSpec End() {
  ParamSpec p;
  p.kind = Kind::GroupEnd;
  return p;
}

constexpr ParamSpec PresetsFolder() {
  ParamSpec p;
  p.kind = Kind::PresetsFolder;
  return p;
}

constexpr ParamSpec ImageFile(const char* key, const char* label, const char* vendorFolder,
                              const char* subFolder, const char* defaultFile) {
  ParamSpec p;
  p.kind = Kind::ImageFile;
  p.key = key;
  p.label = label;
  p.vendorFolder = vendorFolder;
  p.subFolder = subFolder;
  p.defaultFile = defaultFile;
  return p;
}

// Concatenates tables (a family's rows around a shared group) at compile time.
template <std::size_t... N>
constexpr std::array<ParamSpec, (N + ...)> Join(const std::array<ParamSpec, N>&... parts) {
  std::array<ParamSpec, (N + ...)> out{};
  std::size_t i = 0;
  ((
       [&] {
         for (const ParamSpec& p : parts) out[i++] = p;
       }()),
   ...);
  return out;
}

template <std::size_t N>
constexpr std::array<ParamSpec, N> Rows(const ParamSpec (&rows)[N]) {
  std::array<ParamSpec, N> out{};
  for (std::size_t i = 0; i < N; ++i) out[i] = rows[i];
  return out;
}

namespace detail {
constexpr bool SameText(const char* a, const char* b) {
  if (a == nullptr || b == nullptr) return a == b;
  return std::string_view(a) == std::string_view(b);
}
}  // namespace detail

// Settings records hold keys of at most 83 characters.
inline constexpr std::size_t kMaxKeyLength = 83;

// Whether a table may end inside its last group: a few effects' tables open a
// group that runs to the end of the table without an end row, and their
// settings blocks (and the presets users saved) hold exactly those records.
enum class LastGroup { MustClose, MayRunToEnd };

// Rejects a table whose defaults lie outside their ranges, whose list
// defaults are not items, whose groups do not balance, or whose keys are
// missing, too long or repeated. Groups may nest; a key may appear twice
// only in different groups (settings records are matched by position and
// key, so such a pair still restores correctly).
constexpr bool ValidTable(std::span<const ParamSpec> table, LastGroup last = LastGroup::MustClose) {
  constexpr std::size_t kMaxDepth = 16;
  std::size_t depth = 0;
  constexpr std::size_t kTopLevel = static_cast<std::size_t>(-1);
  auto groupOf = [&](std::size_t row) {
    // The innermost group enclosing row, found by replaying the table.
    std::size_t stack[kMaxDepth] = {};
    std::size_t d = 0;
    for (std::size_t k = 0; k < row; ++k) {
      if (table[k].kind == Kind::GroupStart && d < kMaxDepth) stack[d++] = k;
      if (table[k].kind == Kind::GroupEnd && d > 0) --d;
    }
    return d == 0 ? kTopLevel : stack[d - 1];
  };
  for (std::size_t i = 0; i < table.size(); ++i) {
    const ParamSpec& p = table[i];
    if (p.kind == Kind::None) return false;
    if (p.kind != Kind::GroupEnd && p.kind != Kind::PresetsFolder) {
      if (p.key == nullptr || p.label == nullptr) return false;
      if (std::string_view(p.key).size() > kMaxKeyLength) return false;
    }
    switch (p.kind) {
      case Kind::Range:
        if (!(p.minimum <= p.maximum) || p.defaultValue < p.minimum || p.defaultValue > p.maximum)
          return false;
        break;
      case Kind::List:
        if (p.items.empty() || p.defaultIndex < 0 ||
            p.defaultIndex >= static_cast<int32_t>(p.items.size()))
          return false;
        break;
      case Kind::Colour:
        for (double c : {p.defaultColour.r, p.defaultColour.g, p.defaultColour.b})
          if (c < 0.0 || c > 1.0) return false;
        break;
      case Kind::GroupStart:
        if (++depth > kMaxDepth) return false;
        break;
      case Kind::GroupEnd:
        if (depth == 0) return false;
        --depth;
        break;
      default:
        break;
    }
    if (p.key != nullptr) {
      for (std::size_t j = 0; j < i; ++j)
        if (detail::SameText(table[j].key, p.key) && groupOf(j) == groupOf(i)) return false;
    }
  }
  return depth == 0 || (depth == 1 && last == LastGroup::MayRunToEnd);
}

// The first row of a table with this key, for effects that address their
// parameters by key rather than by hand-kept positions:
//   static constexpr int kAmount = RowOf(kParams, "amount");
// A key the table lacks is a compile-time error in constant evaluation.
// Searching from row `from` finds a row whose key its group also carries.
constexpr int RowOf(std::span<const ParamSpec> table, std::string_view key, int from = 0) {
  for (std::size_t i = static_cast<std::size_t>(from); i < table.size(); ++i)
    if (table[i].key != nullptr && key == table[i].key) return static_cast<int>(i);
  throw "no row with this key";
}

// The runtime record of one parameter inside an effect instance.
struct Parameter {
  const char* key = nullptr;
  const char* label = nullptr;
  Kind kind = Kind::None;
  uint32_t flags = kInitialFlags;
  int32_t index = 0;
  const ParamSpec* declaration = nullptr;  // the table row it was declared from

  // Current value, by kind.
  Raster* source = nullptr;  // image input, set by the frame before a render
  double number = 0;         // range
  bool boolean = false;      // boolean
  int32_t listIndex = 0;     // list
  Rgb colour;                // colour
  PointD point;              // point
  std::string fileName;      // image file; empty means none

  bool Enabled() const { return (flags & kEnabled) != 0; }
  bool GroupOpen() const { return (flags & kGroupOpen) != 0; }
  int32_t ItemCount() const { return declaration ? static_cast<int32_t>(declaration->items.size()) : 0; }
  const char* Item(int32_t i) const {
    return declaration && i >= 0 && i < ItemCount() ? declaration->items[static_cast<std::size_t>(i)] : nullptr;
  }
  double Minimum() const { return declaration ? declaration->minimum : 0; }
  double Maximum() const { return declaration ? declaration->maximum : 0; }
  // The image file name, or null when none.
  const char* ImageFileName() const { return fileName.empty() ? nullptr : fileName.c_str(); }
};

// Declares a record from its table row: key, label, kind and value with
// current = default. Flags other than the group state are not touched.
void Declare(Parameter& record, const ParamSpec& declaration);

// ORs bits into the record's flags.
inline void SetFlags(Parameter& record, uint32_t bits) { record.flags |= bits; }
void SetEnabled(Parameter& record, bool on);
void SetGroupState(Parameter& record, bool on);
void SetFlagBit(Parameter& record, uint32_t bit, bool on);

// Writers that make a value from outside safe: a range value is clamped to
// its range (NaN takes the default), a list index outside the list takes the
// default, colour components are clamped to 0..1, point coordinates must be
// finite and are kept within +-kPointLimit, a file name is cut at its first
// NUL (an empty name stores none).
inline constexpr double kPointLimit = 1000.0;
void SetRange(Parameter& record, double value);
void SetBoolean(Parameter& record, bool value);
void SetListIndex(Parameter& record, int32_t index);
void SetColour(Parameter& record, Rgb value);
void SetPoint(Parameter& record, PointD value);
void SetImageFile(Parameter& record, std::string_view text);
// Back to the row's default.
void ResetToDefault(Parameter& record);

// Colour of a record as 8-bit or 16-bit samples (R, G, B, A).
std::array<int32_t, 4> Colour8(const Parameter& record);
std::array<int32_t, 4> Colour16(const Parameter& record);
// A point (fractions of the image from its centre) in pixels.
void PointInPixels(const Parameter& record, int32_t width, int32_t height, int32_t& x, int32_t& y);

}  // namespace fx
