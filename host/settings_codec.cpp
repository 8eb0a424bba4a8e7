#include "host/settings_codec.h"

#include <charconv>
#include <cstring>
#include <sstream>

namespace standin {
namespace {

constexpr std::size_t kHeader = 52, kRecord = 152, kValue = 88, kKey = 84, kName = 40;

template <class T>
T Get(const std::vector<uint8_t>& b, std::size_t at) {
  T v;
  std::memcpy(&v, b.data() + at, sizeof v);
  return v;
}

template <class T>
void Put(std::vector<uint8_t>& b, std::size_t at, T v) {
  std::memcpy(b.data() + at, &v, sizeof v);
}

std::string Text(const std::vector<uint8_t>& b, std::size_t at, std::size_t size) {
  const char* s = reinterpret_cast<const char*>(b.data() + at);
  return {s, strnlen(s, size)};
}

std::string Number(double v) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  return {buf, r.ptr};
}

bool ParseNumber(const std::string& text, double& v) {
  const char* end = text.data() + text.size();
  auto r = std::from_chars(text.data(), end, v);
  return r.ec == std::errc() && r.ptr == end;
}

bool ParseList(const std::string& text, std::vector<double>& out, std::size_t count) {
  out.clear();
  std::stringstream in(text);
  std::string part;
  while (std::getline(in, part, ',')) {
    double v;
    if (!ParseNumber(part, v)) return false;
    out.push_back(v);
  }
  return out.size() == count;
}

}  // namespace

bool ParseSettings(const std::vector<uint8_t>& block, SettingsView& out, std::string& error) {
  if (block.size() < kHeader) {
    error = "settings block shorter than its header";
    return false;
  }
  out.version = Get<int32_t>(block, 0);
  out.effectName = Text(block, 4, kName);
  const uint32_t count = Get<uint32_t>(block, 44);
  out.recordSize = Get<uint32_t>(block, 48);
  if (out.recordSize != kRecord) {
    error = "settings block with an unknown record size";
    return false;
  }
  if (count > (block.size() - kHeader) / kRecord) {
    error = "settings block shorter than its record count";
    return false;
  }
  out.records.clear();
  for (uint32_t i = 0; i < count; ++i) {
    const std::size_t at = kHeader + kRecord * i;
    out.records.push_back({Get<int32_t>(block, at), Text(block, at + 4, kKey), at});
  }
  return true;
}

std::string FormatValue(const std::vector<uint8_t>& block, const SettingsRecordView& r) {
  const std::size_t v = r.offset + kValue;
  switch (r.kind) {
    case 2:
      return Number(Get<double>(block, v));
    case 3:
      return block[v] ? "1" : "0";
    case 4:
      return std::to_string(Get<int32_t>(block, v));
    case 5:
      return Number(Get<double>(block, v)) + "," + Number(Get<double>(block, v + 8)) + "," +
             Number(Get<double>(block, v + 16));
    case 6:
      return Number(Get<double>(block, v)) + "," + Number(Get<double>(block, v + 8));
    case 10:
      return Text(block, v, 64);
    default:
      return "";
  }
}

bool SetValue(std::vector<uint8_t>& block, const SettingsRecordView& r, const std::string& text,
              std::string& error) {
  const std::size_t v = r.offset + kValue;
  std::vector<double> values;
  double number = 0;
  switch (r.kind) {
    case 2:
      if (!ParseNumber(text, number)) break;
      Put(block, v, number);
      return true;
    case 3:
      if (text == "1" || text == "true" || text == "on") {
        block[v] = 1;
        return true;
      }
      if (text == "0" || text == "false" || text == "off") {
        block[v] = 0;
        return true;
      }
      break;
    case 4: {
      int32_t index = 0;
      auto res = std::from_chars(text.data(), text.data() + text.size(), index);
      if (res.ec != std::errc() || res.ptr != text.data() + text.size()) break;
      Put(block, v, index);
      return true;
    }
    case 5:
      if (!ParseList(text, values, 3)) break;
      for (int i = 0; i < 3; ++i) Put(block, v + 8 * i, values[i]);
      return true;
    case 6:
      if (!ParseList(text, values, 2)) break;
      for (int i = 0; i < 2; ++i) Put(block, v + 8 * i, values[i]);
      return true;
    case 10:
      if (text.size() > 63) {
        error = "image file name longer than 63 characters: " + text;
        return false;
      }
      std::memset(block.data() + v, 0, 64);
      std::memcpy(block.data() + v, text.data(), text.size());
      return true;
    default:
      error = "parameter '" + r.key + "' takes no value";
      return false;
  }
  static const char* const kWhat[] = {"", "", "a number", "0/1/true/false/on/off", "a list index",
                                      "R,G,B", "X,Y"};
  error = "parameter '" + r.key + "' needs " + (r.kind >= 2 && r.kind <= 6 ? kWhat[r.kind] : "a value") +
          ", not '" + text + "'";
  return false;
}

}  // namespace standin
