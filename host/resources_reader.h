// Reads the filter resources a module file carries, as a host does before
// running any of its code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/module_loader.h"

namespace standin {

struct RawResource {
  std::string type;  // "PIPL" or "AETE"
  int16_t id = 0;
  uint16_t language = 0;
  std::vector<uint8_t> bytes;
};

// The resources of a blob; false with a message when it is malformed.
bool ReadResources(const std::vector<uint8_t>& blob, std::vector<RawResource>& out, std::string& error);

// One property of a property list.
struct PipleProperty {
  std::string key;  // as written, e.g. "name"
  std::vector<uint8_t> value;
};
bool ReadProperties(const std::vector<uint8_t>& pipl, std::vector<PipleProperty>& out, std::string& error);

// The filters the property lists register, in resource order.
std::vector<ResourceFilter> ReadResourceFilters(const std::vector<uint8_t>& blob, std::string& error);

}  // namespace standin
