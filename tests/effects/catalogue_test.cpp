// The catalogue of effect types, the entry table and the filter resources
// agree with each other.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <string_view>

#include "effects/catalogue.h"
#include "framework/registry.h"
#include "plugin/entry_table.h"
#include "plugin/resources/resources.h"

namespace {

TEST(Catalogue, EveryTypeIsReachedByExactlyOneEntryPointInOrder) {
  ASSERT_EQ(fx::catalogue::kTypeCount, 73);
  // The entry table lists the 73 in catalogue order, then the four without a type.
  for (int i = 0; i < fx::catalogue::kTypeCount; ++i)
    EXPECT_STREQ(ps::kEntryTable[i].registryName, fx::catalogue::kEntries[i].registryName) << i;
  std::set<std::string> names, keys, entries;
  for (const ps::EntryInfo& e : ps::kEntryTable) {
    EXPECT_TRUE(names.insert(e.registryName).second) << e.registryName;
    EXPECT_TRUE(keys.insert(e.registryKey).second) << e.registryKey;
    EXPECT_TRUE(entries.insert(e.entryName).second) << e.entryName;
    EXPECT_EQ(std::string_view(e.registryKey).size(), 36u) << e.entryName;
    EXPECT_EQ(e.aboutFlag, std::string_view(e.entryName) == "PIMAIN_BlackAndWhite") << e.entryName;
  }
  for (int i = fx::catalogue::kTypeCount; i < ps::kEntryCount; ++i) {
    const std::string_view name = ps::kEntryTable[i].registryName;
    EXPECT_TRUE(name == "Defocus" || name == "DualTint" || name == "SelectiveFocus" || name == "CombinedGrad") << name;
  }
}

TEST(Catalogue, DisplayNamesBeginWithTheProductLine) {
  for (const auto& e : fx::catalogue::kEntries) {
    EXPECT_EQ(std::string_view(e.displayName).substr(0, 5), "Ovra ") << e.registryName;
    EXPECT_LT(std::string_view(e.displayName).size(), 40u) << e.registryName;  // fits a settings block
  }
  EXPECT_STREQ(fx::catalogue::Find("DayForNight").displayName, "Ovra DayForNight");
  EXPECT_STREQ(fx::catalogue::Find("Light").displayName, "Ovra Light!");
  EXPECT_STREQ(fx::catalogue::Find("Relight").displayName, "Ovra ReLight");
  EXPECT_STREQ(fx::catalogue::Find("MatteGenerator").displayName, "Ovra Selection");
}

TEST(Catalogue, ResourceScopeTextsAreTheEntriesRegistryKeys) {
  for (const auto& f : ps::resources::kFilters) {
    const ps::EntryInfo* entry = nullptr;
    for (const ps::EntryInfo& e : ps::kEntryTable)
      if (std::string_view(e.entryName) == f.entryPoint) entry = &e;
    ASSERT_NE(entry, nullptr) << f.entryPoint;
    EXPECT_STREQ(entry->registryKey, f.registryKey) << f.entryPoint;
  }
}

}  // namespace
