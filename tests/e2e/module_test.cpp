// The real module file through the stand-in host and the ovra-host command.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <string>

#include "host/module_loader.h"
#include "host/resources_reader.h"
#include "plugin/entry_table.h"
#include "tests/e2e/e2e_fixture.h"

using namespace e2e;
using namespace standin;

namespace {

TEST(ModuleFile, ExportsExactlyTheEntryPoints) {
  const std::vector<std::string> symbols = RealModule().ExportedSymbols();
  std::set<std::string> expected;
  for (const auto& e : ps::kEntryTable) expected.insert(e.entryName);
  EXPECT_EQ(std::set<std::string>(symbols.begin(), symbols.end()), expected);
  EXPECT_EQ(symbols.size(), 77u);  // and nothing twice
}

TEST(ModuleFile, ResourcesListTwentyFiveFiltersAHostCanUse) {
  std::vector<RawResource> resources;
  std::string error;
  ASSERT_TRUE(ReadResources(RealModule().Section(".ovra_resources"), resources, error)) << error;
  ASSERT_EQ(resources.size(), 50u);
  std::set<int> terminology;
  for (const RawResource& r : resources) {
    EXPECT_EQ(r.language, 1033);
    if (r.type == "AETE") terminology.insert(r.id);
  }
  const auto filters = RealModule().Resources(error);
  ASSERT_EQ(filters.size(), 25u) << error;
  for (const ResourceFilter& f : filters) {
    EXPECT_NE(RealModule().Entry(f.entryPoint), nullptr) << f.entryPoint;
    EXPECT_TRUE(terminology.count(f.id)) << f.id;
    EXPECT_EQ(f.category, "Quillory Ovra v6");
    EXPECT_EQ(f.menuName.substr(0, 5), "Ovra ");
  }
  EXPECT_EQ(filters.front().id, 16048);
  EXPECT_EQ(filters.front().menuName, "Ovra Soft Effects...");
  EXPECT_EQ(filters.back().entryPoint, "PIMAIN_WarmSoftEffects");
}

TEST(ModuleFile, FirstPropertyListByteForByte) {
  std::vector<RawResource> resources;
  std::string error;
  ASSERT_TRUE(ReadResources(RealModule().Section(".ovra_resources"), resources, error));
  const RawResource& pipl = resources[0];
  ASSERT_EQ(pipl.type, "PIPL");
  std::vector<PipleProperty> props;
  ASSERT_TRUE(ReadProperties(pipl.bytes, props, error)) << error;
  const char* keys[] = {"kind", "name", "catg", "vers", "wx86", "mode", "hstm", "enbl", "fici"};
  const std::size_t lengths[] = {4, 24, 20, 4, 20, 4, 56, 44, 28};
  ASSERT_EQ(props.size(), 9u);
  for (int i = 0; i < 9; ++i) {
    EXPECT_EQ(props[i].key, keys[i]);
    EXPECT_EQ(props[i].value.size(), lengths[i]) << keys[i];
  }
  EXPECT_EQ(props[0].value, (std::vector<uint8_t>{'M', 'F', 'B', '8'}));
  EXPECT_EQ(props[1].value[0], 20);  // the name's length byte
  EXPECT_EQ(std::string(props[1].value.begin() + 1, props[1].value.begin() + 21), "Ovra Soft Effects...");
  EXPECT_EQ(props[3].value, (std::vector<uint8_t>{0, 0, 4, 0}));
  EXPECT_EQ(props[5].value, (std::vector<uint8_t>{0x10, 0, 0, 0}));
  EXPECT_EQ(props[6].value[12] | props[6].value[13] << 8, 16048);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(props[6].value.data() + 14)),
            "d5902396-4007-4275-99ad-e056987f746a");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(props[7].value.data())),
            "in (PSHOP_ImageMode, RGBMode, RGB48Mode)");
  for (int c = 0; c < 7; ++c)
    EXPECT_EQ(std::vector<uint8_t>(props[8].value.begin() + 4 * c, props[8].value.begin() + 4 * c + 4),
              (std::vector<uint8_t>{4, 4, 4, 0}));
  // Every name's length byte counts the characters that follow.
  for (std::size_t i = 0; i < resources.size(); i += 2) {
    std::vector<PipleProperty> p;
    ASSERT_TRUE(ReadProperties(resources[i].bytes, p, error));
    EXPECT_EQ(p[1].value[0],
              strnlen(reinterpret_cast<const char*>(p[1].value.data() + 1), p[1].value.size() - 1));
  }
}

TEST(ModuleFile, FirstTerminologyResource) {
  std::vector<RawResource> resources;
  std::string error;
  ASSERT_TRUE(ReadResources(RealModule().Section(".ovra_resources"), resources, error));
  const std::vector<uint8_t>& a = resources[1].bytes;
  std::string expected;
  auto add = [&](std::initializer_list<int> bytes) {
    for (int b : bytes) expected.push_back(static_cast<char>(b));
  };
  auto pstring = [&](const std::string& s) {
    expected.push_back(static_cast<char>(s.size()));
    expected += s;
  };
  add({1, 0, 1, 0, 0, 0, 0, 0, 1, 0});
  pstring("KVR");
  pstring("Soft Effects");
  expected += "Frvk";
  add({1, 0, 1, 0, 1, 0});
  pstring("KVR Soft Effects");
  pstring("");
  expected += "FrvkFrvkllun";
  pstring("");
  add({0, 0});
  expected += "RmI#";
  pstring("");
  add({0x00, 0xB0, 1, 0});
  pstring("parameters");
  expected += "MrapTXET";
  pstring("");
  add({0, 0, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(std::string(a.begin(), a.end()), expected);
}

TEST(HostCommand, ListsEveryExportedEntryPoint) {
  const HostOutput o = RunHost("list --all --module " + kModulePath);
  EXPECT_EQ(o.status, 0) << o.text;
  EXPECT_EQ(std::count(o.text.begin(), o.text.end(), '\n'), 77);
  EXPECT_NE(o.text.find("PIMAIN_BlackAndWhite\n"), std::string::npos);
}

TEST(HostCommand, ListsTheFiltersOfTheResources) {
  const HostOutput o = RunHost("list --resources --module " + kModulePath);
  EXPECT_EQ(o.status, 0) << o.text;
  EXPECT_EQ(o.text.substr(0, o.text.find('\n')), "16048\tOvra Soft Effects...\tPIMAIN_SoftEffects");
  EXPECT_EQ(std::count(o.text.begin(), o.text.end(), '\n'), 25);
}

TEST(HostCommand, UsageErrors) {
  EXPECT_EQ(RunHost("").status, 2);
  EXPECT_EQ(RunHost("frobnicate").status, 2);
  EXPECT_EQ(RunHost("params").status, 2);
  EXPECT_EQ(RunHost("params NoSuchEntry --module " + kModulePath).status, 2);
  EXPECT_EQ(RunHost("list --bogus").status, 2);
}

TEST(HostCommand, ParamsOfAnEntryWithoutAnEffect) {
  const HostOutput o = RunHost("params Defocus --module " + kModulePath);
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.text, "result -30904: no such effect: Defocus\n");
}

}  // namespace
