#include "framework/settings_block.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>

#include "tests/framework/test_effects.h"

using namespace fx;

namespace {

template <class T>
T At(const std::vector<uint8_t>& b, std::size_t offset) {
  T v;
  std::memcpy(&v, b.data() + offset, sizeof v);
  return v;
}

template <class T>
void Put(std::vector<uint8_t>& b, std::size_t offset, T v) {
  std::memcpy(b.data() + offset, &v, sizeof v);
}

std::size_t Record(int i) { return 52 + 152 * static_cast<std::size_t>(i); }

struct Instance {
  explicit Instance(const EffectRoutines& r) : e(r.create()) {}
  ~Instance() { e->routines->destroy(e); }
  EffectInstance* operator->() const { return e; }
  EffectInstance& operator*() const { return *e; }
  Parameter& P(int i) const { return e->parameters[i]; }
  EffectInstance* e;
};

const EffectRoutines& kSix = RoutinesOf<fxtest::Plain, fxtest::kSixType>;
const EffectRoutines& kKinds = RoutinesOf<fxtest::Plain, fxtest::kKindType>;

TEST(SettingsBlock, LayoutOfASixParameterEffect) {
  Instance e(kSix);
  SetRange(e.P(2), 62.5);
  SetListIndex(e.P(1), 1);
  const std::vector<uint8_t> b = BuildSettings(*e);
  ASSERT_EQ(b.size(), 964u);
  EXPECT_EQ(At<int32_t>(b, 0), 1);
  EXPECT_STREQ(reinterpret_cast<const char*>(b.data() + 4), "Ovra Bleach Bypass");
  EXPECT_EQ(b[4 + 39], 0);
  EXPECT_EQ(At<uint32_t>(b, 44), 6u);
  EXPECT_EQ(At<uint32_t>(b, 48), 152u);
  EXPECT_EQ(At<int32_t>(b, Record(0)), 1);
  EXPECT_STREQ(reinterpret_cast<const char*>(b.data() + Record(0) + 4), "background");
  EXPECT_EQ(At<int32_t>(b, Record(1)), 4);
  EXPECT_EQ(At<int32_t>(b, Record(1) + 88), 1);
  EXPECT_EQ(At<int32_t>(b, Record(2)), 2);
  EXPECT_STREQ(reinterpret_cast<const char*>(b.data() + Record(2) + 4), "amount");
  EXPECT_EQ(At<double>(b, Record(2) + 88), 62.5);
  // Everything not written is zero: the image input's value, key padding.
  for (std::size_t i = Record(0) + 88; i < Record(1); ++i) EXPECT_EQ(b[i], 0) << i;
  for (std::size_t i = Record(2) + 4 + 6; i < Record(2) + 88; ++i) EXPECT_EQ(b[i], 0) << i;
}

TEST(SettingsBlock, ValuesOfEveryKind) {
  Instance e(kKinds);
  SetBoolean(e.P(4), false);
  SetColour(e.P(6), {0.125, 0.5, 0.875});
  SetPoint(e.P(7), {-0.25, 0.75});
  const std::string longName(70, 'n');
  SetImageFile(e.P(9), longName);
  const std::vector<uint8_t> b = BuildSettings(*e);
  ASSERT_EQ(b.size(), 52u + 152u * 11);
  EXPECT_EQ(At<int32_t>(b, Record(2)), 7);  // a group start keeps only its kind and key
  EXPECT_STREQ(reinterpret_cast<const char*>(b.data() + Record(2) + 4), "glow");
  EXPECT_EQ(b[Record(4) + 88], 0);
  EXPECT_EQ(At<double>(b, Record(6) + 88), 0.125);
  EXPECT_EQ(At<double>(b, Record(6) + 104), 0.875);
  EXPECT_EQ(At<double>(b, Record(7) + 96), 0.75);
  EXPECT_EQ(At<int32_t>(b, Record(8)), 8);
  EXPECT_EQ(b[Record(8) + 4], 0);  // a group end has no key
  // A 70-character name keeps 63 characters and its terminator.
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(b.data() + Record(9) + 88)), longName.substr(0, 63));
  EXPECT_EQ(b[Record(9) + 151], 0);

  Instance fresh(kKinds);
  ASSERT_TRUE(ApplySettings(*fresh, b));
  EXPECT_FALSE(fresh.P(4).boolean);
  EXPECT_EQ(fresh.P(6).colour.g, 0.5);
  EXPECT_EQ(fresh.P(7).point.x, -0.25);
  EXPECT_EQ(std::string(fresh.P(9).ImageFileName()), longName.substr(0, 63));
}

TEST(SettingsBlock, BuildThenApplyChangesNothing) {
  Instance e(kKinds);
  const std::vector<uint8_t> before = BuildSettings(*e);
  ASSERT_TRUE(ApplySettings(*e, before));
  EXPECT_EQ(BuildSettings(*e), before);
}

TEST(SettingsBlock, BlocksOfAnotherShapeAreRejectedWhole) {
  Instance source(kSix);
  SetRange(source.P(2), 1);
  const std::vector<uint8_t> good = BuildSettings(*source);

  struct Case {
    const char* what;
    std::vector<uint8_t> block;
  };
  std::vector<Case> cases;
  auto with = [&](const char* what, auto change) {
    std::vector<uint8_t> b = good;
    change(b);
    cases.push_back({what, b});
  };
  with("another effect's name", [](auto& b) { std::strcpy(reinterpret_cast<char*>(b.data() + 4), "Ovra Mist"); });
  with("the name in another case", [](auto& b) { b[4 + 5] = 'b'; });
  with("count 5", [](auto& b) { Put<uint32_t>(b, 44, 5); });
  with("count that would overflow", [](auto& b) { Put<uint32_t>(b, 44, 0xFFFFFFFFu); });
  with("record size 151", [](auto& b) { Put<uint32_t>(b, 48, 151); });
  with("one byte short", [](auto& b) { b.pop_back(); });
  with("header only", [](auto& b) { b.resize(52); });
  with("shorter than a header", [](auto& b) { b.resize(51); });
  with("empty", [](auto& b) { b.clear(); });
  with("name without terminator", [](auto& b) { std::memset(b.data() + 4, 'x', 40); });

  for (const Case& c : cases) {
    Instance target(kSix);
    // A copy of exactly the case's bytes, so a read past the end is caught.
    std::unique_ptr<uint8_t[]> bytes(new uint8_t[c.block.size() + 1]);
    if (!c.block.empty()) std::memcpy(bytes.get(), c.block.data(), c.block.size());
    EXPECT_FALSE(ApplySettings(*target, {bytes.get(), c.block.size()})) << c.what;
    EXPECT_EQ(target.P(2).number, 100) << c.what;
  }
}

TEST(SettingsBlock, RecordsOfAnotherKindOrKeyAreSkipped) {
  Instance source(kSix);
  SetRange(source.P(2), 10);
  SetRange(source.P(3), 20);
  SetRange(source.P(4), 30);
  std::vector<uint8_t> b = BuildSettings(*source);
  // "amount" written where the effect has "saturation"; contrast's kind changed.
  std::memcpy(b.data() + Record(3), b.data() + Record(2), 152);
  Put<int32_t>(b, Record(4), 3);
  Instance target(kSix);
  ASSERT_TRUE(ApplySettings(*target, b));
  EXPECT_EQ(target.P(2).number, 10);
  EXPECT_EQ(target.P(3).number, 0);
  EXPECT_EQ(target.P(4).number, 0);
}

TEST(SettingsBlock, HostileValuesAreMadeSafe) {
  Instance source(kKinds);
  std::vector<uint8_t> b = BuildSettings(*source);
  Put(b, Record(3) + 88, std::numeric_limits<double>::quiet_NaN());
  Put<int32_t>(b, Record(5) + 88, 1000000);
  Put(b, Record(6) + 88, 1e308);
  std::memset(b.data() + Record(9) + 88, 'z', 64);  // no terminator in the value field
  Instance target(kKinds);
  ASSERT_TRUE(ApplySettings(*target, b));
  EXPECT_EQ(target.P(3).number, 12.5);
  EXPECT_EQ(target.P(5).listIndex, 1);
  EXPECT_EQ(target.P(6).colour.r, 1.0);
  EXPECT_EQ(std::string(target.P(9).ImageFileName()), std::string(63, 'z'));
}

class Presets : public ::testing::Test {
 protected:
  std::filesystem::path dir = std::filesystem::temp_directory_path() /
                              ("ovra_presets_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                               "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
  void SetUp() override { std::filesystem::create_directories(dir); }
  void TearDown() override { std::filesystem::remove_all(dir); }
  std::string File(const char* name, const std::vector<uint8_t>& bytes) {
    const auto path = dir / name;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
    return path.string();
  }
};

TEST_F(Presets, WriteThenReadRestoresTheValues) {
  Instance e(kSix);
  SetRange(e.P(3), -42);
  const std::string path = (dir / "a.kvr").string();
  ASSERT_TRUE(WritePreset(*e, path.c_str()));
  EXPECT_EQ(std::filesystem::file_size(path), 964u);
  Instance f(kSix);
  ASSERT_TRUE(ReadPreset(*f, path.c_str()));
  EXPECT_EQ(f.P(3).number, -42);
}

TEST_F(Presets, ReadOutcomes) {
  Instance source(kSix);
  SetRange(source.P(2), 5);
  const std::vector<uint8_t> block = BuildSettings(*source);
  std::vector<uint8_t> version2 = block;
  Put<int32_t>(version2, 0, 2);
  Instance other(RoutinesOf<fxtest::Plain, fxtest::kMistLikeType>);
  struct Case {
    const char* what;
    std::string path;
    bool result;
    bool applied;
  };
  const std::vector<Case> cases = {
      {"empty file", File("empty.kvr", {}), true, false},
      {"version 2", File("v2.kvr", version2), true, false},
      {"three bytes", File("short.kvr", {1, 0, 0}), true, false},
      {"truncated block", File("trunc.kvr", {block.begin(), block.end() - 100}), false, false},
      {"another effect", File("mist.kvr", BuildSettings(*other)), false, false},
      {"missing file", (dir / "none.kvr").string(), false, false},
      {"a folder", dir.string(), false, false},
      {"a FIFO no one writes to", (dir / "fifo.kvr").string(), false, false},
      {"good", File("good.kvr", block), true, true},
  };
  ASSERT_EQ(mkfifo(cases[7].path.c_str(), 0600), 0);
  for (const Case& c : cases) {
    Instance e(kSix);
    EXPECT_EQ(ReadPreset(*e, c.path.c_str()), c.result) << c.what;
    EXPECT_EQ(e.P(2).number, c.applied ? 5 : 100) << c.what;
  }
}

TEST_F(Presets, WriteFailsWhereNoFileCanBeMade) {
  Instance e(kSix);
  EXPECT_FALSE(WritePreset(*e, (dir / "no" / "such" / "folder.kvr").string().c_str()));
}

}  // namespace
