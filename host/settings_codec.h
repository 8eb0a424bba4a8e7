// The host's view of a settings block: the records it carries, read and
// edited by key. The block's layout is the module's published format.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace standin {

struct SettingsRecordView {
  int32_t kind = 0;
  std::string key;
  std::size_t offset = 0;  // of the record in the block
};

struct SettingsView {
  int32_t version = 0;
  std::string effectName;
  uint32_t recordSize = 0;
  std::vector<SettingsRecordView> records;
};

// False with a message when the block is shorter than its header and count
// claim or its record size is not the one the module writes.
bool ParseSettings(const std::vector<uint8_t>& block, SettingsView& out, std::string& error);

// The value of record i as ovra-host prints it: range a decimal number
// (shortest form that reads back exactly), boolean 0/1, list an index,
// colour "r,g,b", point "x,y", image file its name, empty for the rest.
std::string FormatValue(const std::vector<uint8_t>& block, const SettingsRecordView& record);

// Sets a record's value from command-line text (by the record's kind).
// False with a message when the text does not fit the kind.
bool SetValue(std::vector<uint8_t>& block, const SettingsRecordView& record, const std::string& text,
              std::string& error);

}  // namespace standin
