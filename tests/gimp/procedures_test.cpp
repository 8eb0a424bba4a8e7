// Names and settings text of the editor plug-in, without the editor.
#include <gtest/gtest.h>

#include "gimp/procedures.h"
#include "host/filter_catalogue.h"

#include <set>

namespace {

using ovra_gimp::ParseSettingsText;
using ovra_gimp::ProcedureName;
using ovra_gimp::SettingsText;

TEST(GimpProcedures, NamesSplitTheEntryIntoWords) {
  const std::pair<const char*, const char*> cases[] = {
      {"PIMAIN_BleachBypass", "plug-in-ovra-bleach-bypass"},
      {"PIMAIN_SoftEffects", "plug-in-ovra-soft-effects"},
      {"PIMAIN_NDGrad", "plug-in-ovra-nd-grad"},
      {"PIMAIN_FStop", "plug-in-ovra-f-stop"},
      {"PIMAIN_BlackAndWhite", "plug-in-ovra-black-and-white"},
      {"FastBlur", "plug-in-ovra-fast-blur"},
  };
  for (const auto& [entry, name] : cases) EXPECT_EQ(ProcedureName(entry), name) << entry;
}

TEST(GimpProcedures, EveryEntryHasItsOwnName) {
  std::set<std::string> names;
  for (const standin::FilterName& f : standin::KnownFilters())
    EXPECT_TRUE(names.insert(ProcedureName(f.entry)).second) << f.entry << " -> " << ProcedureName(f.entry);
}

TEST(GimpProcedures, SettingsTextReadsPresetsAndItems) {
  struct Case {
    const char* text;
    const char* preset;
    std::vector<std::string> sets;
  };
  const Case cases[] = {
      {"", "", {}},
      {"  ;; ", "", {}},
      {"contrast=25;temperature=-15", "", {"contrast=25", "temperature=-15"}},
      {" contrast = 25 ; view=0;", "", {"contrast = 25", "view=0"}},
      {"/p/look.kvr", "/p/look.kvr", {}},
      {"/p/LOOK.KVR; amount=3", "/p/LOOK.KVR", {"amount=3"}},
      {"color=0.5,0.25,1", "", {"color=0.5,0.25,1"}},
  };
  for (const Case& c : cases) {
    SettingsText out;
    std::string error;
    ASSERT_TRUE(ParseSettingsText(c.text, out, error)) << c.text << ": " << error;
    EXPECT_EQ(out.preset, c.preset) << c.text;
    EXPECT_EQ(out.sets, c.sets) << c.text;
  }
}

TEST(GimpProcedures, SettingsTextRefusesWhatItCannotRead) {
  const std::pair<const char*, const char*> cases[] = {
      {"contrast", "not 'contrast'"},
      {"a.kvr;b.kvr", "more than one preset"},
      {"amount=3;a.kvr", "comes before"},
      {"look.txt", "not 'look.txt'"},
  };
  for (const auto& [text, message] : cases) {
    SettingsText out;
    std::string error;
    EXPECT_FALSE(ParseSettingsText(text, out, error)) << text;
    EXPECT_NE(error.find(message), std::string::npos) << text << ": " << error;
  }
}

}  // namespace
