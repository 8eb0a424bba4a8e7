// The module's filter resources: a property list and a scripting terminology
// resource for each filter the host lists, built at compile time into one
// blob that the module carries in its own file section, where a host reads it
// without running the module.
//
// Container: "OVRARSC1", uint32 count, then per resource: 4-byte type name
// ("PIPL" or "AETE"), int16 identifier, uint16 language, uint32 length, the
// resource bytes, zero padding to a multiple of 4.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

namespace ps::resources {

struct Filter {
  int16_t id;
  const char* menuName;     // "Ovra ....."
  const char* entryPoint;   // "PIMAIN_..."
  const char* registryKey;  // the scope text: the entry's registry key
};

inline constexpr Filter kFilters[] = {
    {16048, "Ovra Soft Effects...", "PIMAIN_SoftEffects", "d5902396-4007-4275-99ad-e056987f746a"},
    {16049, "Ovra Silver Reflector...", "PIMAIN_SilverReflector", "ef589a77-daeb-48de-a0a8-4d278a041c8c"},
    {16050, "Ovra Gold Reflector...", "PIMAIN_GoldReflector", "a61b87a1-63e6-458a-a658-c9b9eacc4367"},
    {16051, "Ovra Vignette...", "PIMAIN_Vignette", "931001f8-f788-4c90-9713-63758594ade4"},
    {16052, "Ovra Color Compensating...", "PIMAIN_ColorCompensating", "d72206ec-6657-4436-9415-3bfa59e2bfd5"},
    {16053, "Ovra Color Conversion...", "PIMAIN_ColorConversion", "9579f6dd-7654-4068-bad8-b4a2c47b247e"},
    {16054, "Ovra Light Balancing...", "PIMAIN_LightBalancing", "70bdb645-a791-4af0-93af-7f7ba49d025e"},
    {16055, "Ovra Day for Night...", "PIMAIN_DayForNight", "a8d45368-da91-4166-bf91-33b48a632cc8"},
    {16056, "Ovra Halo...", "PIMAIN_Halo", "21152b1e-9186-4a5d-9d8b-4cce13e472ad"},
    {16057, "Ovra Mono Tint...", "PIMAIN_MonoTint", "d782472b-5888-4b2e-9cea-79f1646fad2c"},
    {16058, "Ovra Gels...", "PIMAIN_Gels", "f2a3022f-f32f-4a8a-9260-356773ead66b"},
    {16059, "Ovra Defog...", "PIMAIN_Defog", "5e2613b0-ac16-4832-8968-a823cee77d56"},
    {16060, "Ovra Radial Exposure...", "PIMAIN_RadialExposure", "bfe448d2-558d-4e5c-99b3-f0b9057129d9"},
    {16061, "Ovra Split Field...", "PIMAIN_SplitField", "2c319e8c-5859-4a14-950a-7d7aab9fe972"},
    {16062, "Ovra Color Spot...", "PIMAIN_ColorSpot", "c06b42d1-c46c-4421-9348-f83c34a9fc44"},
    {16063, "Ovra Depth of Field...", "PIMAIN_DepthOfField", "de799bfb-2736-4e48-bc3c-884952eb4f05"},
    {16064, "Ovra Dual Grad...", "PIMAIN_DualGrad", "23e6340f-b2ad-4850-b53d-dfa0322362e1"},
    {16065, "Ovra Rack Focus...", "PIMAIN_RackFocus", "c9464d1c-25d3-4360-acc8-6ba71b2aab80"},
    {16066, "Ovra Vari-Star...", "PIMAIN_VariStar", "46a2fdd3-e6c8-46db-9897-00874a250b09"},
    {16067, "Ovra Strip Grad...", "PIMAIN_StripGrad", "e562e9fb-4a68-4fa1-93c7-757f551c9004"},
    {16068, "Ovra Relight...", "PIMAIN_Relight", "590bfac0-f1eb-4452-ba51-b5c61cd6f8c4"},
    {16069, "Ovra Flashing...", "PIMAIN_Flashing", "04f65312-ae35-4393-994d-c233f8ac6408"},
    {16070, "Ovra Telecine...", "PIMAIN_Telecine", "ba948979-0b34-4b96-bea9-3ccd89bb8b40"},
    {16071, "Ovra Warm Black Mist...", "PIMAIN_WarmBlackMist", "2ba8cc6f-44a8-4fee-b730-32f9b8685713"},
    {16072, "Ovra Warm Soft Effects...", "PIMAIN_WarmSoftEffects", "0ad02c3c-9a4a-4a0c-b268-7a68b356573e"},
};

inline constexpr const char* kCategory = "Quillory Ovra v6";
inline constexpr const char* kEnableExpression = "in (PSHOP_ImageMode, RGBMode, RGB48Mode)";
inline constexpr uint16_t kLanguage = 1033;

namespace detail {

struct Writer {
  std::vector<uint8_t> bytes;
  constexpr void U8(uint32_t v) { bytes.push_back(static_cast<uint8_t>(v)); }
  constexpr void I16(int32_t v) {
    U8(static_cast<uint32_t>(v) & 0xFF);
    U8((static_cast<uint32_t>(v) >> 8) & 0xFF);
  }
  constexpr void I32(uint32_t v) {
    for (int i = 0; i < 4; ++i) U8((v >> (8 * i)) & 0xFF);
  }
  // A four-character code stored byte-reversed (little-endian).
  constexpr void Code(std::string_view c) {
    for (int i = 3; i >= 0; --i) U8(static_cast<uint8_t>(c[static_cast<std::size_t>(i)]));
  }
  constexpr void Chars(std::string_view s) {
    for (char c : s) U8(static_cast<uint8_t>(c));
  }
  constexpr void PString(std::string_view s) {
    U8(static_cast<uint32_t>(s.size()));
    Chars(s);
  }
  constexpr void Pad(std::size_t from, std::size_t length) {
    while (bytes.size() < from + length) U8(0);
  }
};

constexpr std::size_t Padded(std::size_t n) { return (n + 3) / 4 * 4; }

// One property: vendor, key, id 0, length, value padded to 4.
template <class Fill>
constexpr void Property(Writer& w, std::string_view key, std::size_t length, Fill fill) {
  w.Code("8BIM");
  w.Code(key);
  w.I32(0);
  w.I32(static_cast<uint32_t>(length));
  const std::size_t start = w.bytes.size();
  fill(w);
  w.Pad(start, length);
}

constexpr std::string_view Trimmed(std::string_view menu) {
  menu.remove_prefix(std::string_view("Ovra ").size());
  menu.remove_suffix(std::string_view("...").size());
  return menu;
}

constexpr std::vector<uint8_t> PropertyList(const Filter& f) {
  Writer w;
  w.I16(1);
  w.I32(0);
  w.I32(9);
  const std::string_view name = f.menuName, entry = f.entryPoint, key = f.registryKey;
  const std::string_view category = kCategory, enable = kEnableExpression;
  Property(w, "kind", 4, [](Writer& v) { v.Code("8BFM"); });
  Property(w, "name", Padded(1 + name.size()), [&](Writer& v) { v.PString(name); });
  Property(w, "catg", Padded(1 + category.size()), [&](Writer& v) { v.PString(category); });
  Property(w, "vers", 4, [](Writer& v) { v.I32(0x00040000); });
  Property(w, "wx86", Padded(entry.size() + 1), [&](Writer& v) { v.Chars(entry); });
  Property(w, "mode", 4, [](Writer& v) { v.I32(0x10); });
  // Terminology link: the scope text follows the 14 bytes of the header; the
  // length counts the link record's 16-byte header as the host lays it out.
  Property(w, "hstm", Padded(16 + key.size() + 1), [&](Writer& v) {
    v.I32(0);
    v.Code("kvrF");
    v.Code("kvrF");
    v.I16(f.id);
    v.Chars(key);
  });
  Property(w, "enbl", Padded(enable.size() + 1), [&](Writer& v) { v.Chars(enable); });
  Property(w, "fici", 28, [](Writer& v) {
    for (int i = 0; i < 7; ++i) {
      v.U8(4);
      v.U8(4);
      v.U8(4);
      v.U8(0);
    }
  });
  return w.bytes;
}

constexpr std::vector<uint8_t> Terminology(const Filter& f) {
  Writer w;
  const std::string_view suite = Trimmed(f.menuName);
  w.I16(1);
  w.U8(1);
  w.U8(0);
  w.I16(0);
  w.I16(0);
  w.I16(1);
  w.PString("KVR");
  w.PString(suite);
  w.Code("kvrF");
  w.I16(1);
  w.I16(1);
  w.I16(1);
  std::string_view event = "KVR ";
  w.U8(static_cast<uint32_t>(event.size() + suite.size()));
  w.Chars(event);
  w.Chars(suite);
  w.PString("");
  w.Code("kvrF");
  w.Code("kvrF");
  w.Code("null");
  w.PString("");
  w.I16(0);
  w.Code("#ImR");
  w.PString("");
  w.I16(0xB000);
  w.I16(1);
  w.PString("parameters");
  w.Code("parM");
  w.Code("TEXT");
  w.PString("");
  w.I16(0);
  w.I16(0);
  w.I16(0);
  w.I16(0);
  return w.bytes;
}

constexpr void Resource(Writer& w, std::string_view type, int16_t id, const std::vector<uint8_t>& body) {
  w.Chars(type);
  w.I16(id);
  w.I16(kLanguage);
  w.I32(static_cast<uint32_t>(body.size()));
  const std::size_t start = w.bytes.size();
  for (uint8_t b : body) w.U8(b);
  w.Pad(start, Padded(body.size()));
}

constexpr std::vector<uint8_t> Blob() {
  Writer w;
  w.Chars("OVRARSC1");
  w.I32(2 * static_cast<uint32_t>(std::size(kFilters)));
  for (const Filter& f : kFilters) {
    Resource(w, "PIPL", f.id, PropertyList(f));
    Resource(w, "AETE", f.id, Terminology(f));
  }
  return w.bytes;
}

}  // namespace detail

inline constexpr std::size_t kBlobSize = detail::Blob().size();

constexpr std::array<uint8_t, kBlobSize> MakeBlob() {
  std::array<uint8_t, kBlobSize> out{};
  const std::vector<uint8_t> bytes = detail::Blob();
  for (std::size_t i = 0; i < kBlobSize; ++i) out[i] = bytes[i];
  return out;
}

}  // namespace ps::resources
