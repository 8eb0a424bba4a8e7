#include "host/resources_reader.h"

#include <cstring>

namespace standin {
namespace {

struct Reader {
  const std::vector<uint8_t>& b;
  std::size_t at = 0;
  bool ok = true;
  bool Need(std::size_t n) {
    if (!ok || b.size() - at < n || at > b.size()) ok = false;
    return ok;
  }
  uint32_t U32() {
    if (!Need(4)) return 0;
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(b[at + i]) << (8 * i);
    at += 4;
    return v;
  }
  uint16_t U16() {
    if (!Need(2)) return 0;
    const uint16_t v = static_cast<uint16_t>(b[at] | b[at + 1] << 8);
    at += 2;
    return v;
  }
  std::string Chars(std::size_t n) {
    if (!Need(n)) return {};
    std::string s(reinterpret_cast<const char*>(b.data() + at), n);
    at += n;
    return s;
  }
  // A four-character code stored byte-reversed.
  std::string Code() {
    std::string s = Chars(4);
    return {s.rbegin(), s.rend()};
  }
};

std::string CString(const std::vector<uint8_t>& v, std::size_t from = 0) {
  if (from >= v.size()) return {};
  const char* s = reinterpret_cast<const char*>(v.data() + from);
  return {s, strnlen(s, v.size() - from)};
}

std::string PString(const std::vector<uint8_t>& v) {
  if (v.empty() || v[0] + 1u > v.size()) return {};
  return {reinterpret_cast<const char*>(v.data() + 1), v[0]};
}

}  // namespace

bool ReadResources(const std::vector<uint8_t>& blob, std::vector<RawResource>& out, std::string& error) {
  Reader r{blob};
  if (r.Chars(8) != "OVRARSC1") {
    error = "the module carries no filter resources";
    return false;
  }
  const uint32_t count = r.U32();
  for (uint32_t i = 0; i < count && r.ok; ++i) {
    RawResource res;
    res.type = r.Chars(4);
    res.id = static_cast<int16_t>(r.U16());
    res.language = r.U16();
    const uint32_t length = r.U32();
    if (!r.Need(length)) break;
    res.bytes.assign(blob.begin() + static_cast<std::ptrdiff_t>(r.at),
                     blob.begin() + static_cast<std::ptrdiff_t>(r.at + length));
    r.at += (length + 3) / 4 * 4;
    out.push_back(std::move(res));
  }
  if (!r.ok) error = "the module's resources are truncated";
  return r.ok;
}

bool ReadProperties(const std::vector<uint8_t>& pipl, std::vector<PipleProperty>& out, std::string& error) {
  Reader r{pipl};
  r.U16();
  r.U32();
  const uint32_t count = r.U32();
  for (uint32_t i = 0; i < count && r.ok; ++i) {
    if (r.Code() != "8BIM") {
      error = "property with an unknown vendor";
      return false;
    }
    PipleProperty p;
    p.key = r.Code();
    r.U32();
    const uint32_t length = r.U32();
    if (!r.Need(length)) break;
    p.value.assign(pipl.begin() + static_cast<std::ptrdiff_t>(r.at), pipl.begin() + static_cast<std::ptrdiff_t>(r.at + length));
    r.at += (length + 3) / 4 * 4;
    out.push_back(std::move(p));
  }
  if (!r.ok) error = "truncated property list";
  return r.ok;
}

std::vector<ResourceFilter> ReadResourceFilters(const std::vector<uint8_t>& blob, std::string& error) {
  std::vector<ResourceFilter> filters;
  std::vector<RawResource> resources;
  if (!ReadResources(blob, resources, error)) return filters;
  for (const RawResource& res : resources) {
    if (res.type != "PIPL") continue;
    std::vector<PipleProperty> props;
    if (!ReadProperties(res.bytes, props, error)) return {};
    ResourceFilter f;
    f.id = res.id;
    for (const PipleProperty& p : props) {
      if (p.key == "name") f.menuName = PString(p.value);
      if (p.key == "catg") f.category = PString(p.value);
      if (p.key == "wx86") f.entryPoint = CString(p.value);
      if (p.key == "hstm") f.registryKey = CString(p.value, 14);
    }
    filters.push_back(std::move(f));
  }
  return filters;
}

}  // namespace standin
