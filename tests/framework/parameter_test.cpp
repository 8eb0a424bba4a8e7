#include "framework/parameter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "framework/effect.h"
#include "tests/framework/test_effects.h"

using namespace fx;

namespace {

constexpr const char* kTwo[] = {"A", "B"};

TEST(ParameterTable, DeclaresEveryKindWithItsDefault) {
  EffectInstance* e = fxtest::Make(RoutinesOf<fxtest::Plain, fxtest::kKindType>);
  ASSERT_NE(e, nullptr);
  ASSERT_EQ(e->parameterCount, 11u);
  EXPECT_EQ(e->imageInputCount, 2u);
  for (uint32_t i = 0; i < e->parameterCount; ++i) EXPECT_EQ(e->parameters[i].index, static_cast<int32_t>(i));
  const Parameter* p = e->parameters;
  EXPECT_EQ(p[0].kind, Kind::ImageInput);
  EXPECT_EQ(p[2].flags, kEnabled | kStateChanged | kGroupOpen);  // an open group
  EXPECT_EQ(p[3].number, 12.5);
  EXPECT_TRUE(p[4].boolean);
  EXPECT_EQ(p[4].flags, kEnabled | kStateChanged | kNotify);
  EXPECT_EQ(p[5].listIndex, 1);
  EXPECT_EQ(p[5].Item(1), std::string("Spread"));
  EXPECT_EQ(p[5].Item(2), nullptr);
  EXPECT_EQ(p[6].colour.b, 1.0);
  EXPECT_EQ(p[7].point.y, -0.2);
  EXPECT_EQ(p[8].kind, Kind::GroupEnd);
  EXPECT_EQ(p[8].key, nullptr);
  EXPECT_STREQ(p[9].ImageFileName(), "205 venetian blind.png");
  EXPECT_STREQ(p[9].declaration->subFolder, "textures");
  fxtest::Destroy(e);
}

struct TableCase {
  const char* what;
  std::vector<ParamSpec> rows;
  bool valid;
};

TEST(ParameterTable, RejectsFaultyTables) {
  const std::vector<TableCase> cases = {
      {"fine", {Image("a", "A"), Range("r", "R", 0, 10, 5)}, true},
      {"default below range", {Range("r", "R", 0, 10, -1)}, false},
      {"default above range", {Range("r", "R", 0, 10, 10.5)}, false},
      {"duplicate key", {Range("r", "R", 0, 10, 5), Bool("r", "R2", false)}, false},
      {"group not closed", {Group("g", "G"), Range("r", "R", 0, 1, 0)}, false},
      {"end without group", {Range("r", "R", 0, 1, 0), End()}, false},
      {"nested groups", {Group("g", "G"), Group("h", "H"), End(), End()}, true},
      {"nested groups not closed", {Group("g", "G"), Group("h", "H"), End()}, false},
      {"same key in two groups", {Group("g", "G"), Bool("o", "O", false), End(), Group("h", "H"),
                                  Bool("o", "O", true), End()}, true},
      {"same key in one group", {Group("g", "G"), Bool("o", "O", false), Bool("o", "P", true), End()}, false},
      {"same key at top level and in a group", {Bool("o", "O", false), Group("g", "G"), Bool("o", "O", true), End()},
       true},
      {"list default past items", {List("l", "L", kTwo, 2)}, false},
      {"colour outside 0..1", {Colour("c", "C", {0, 1.5, 0})}, false},
      {"key too long", {Range(
                            "k1234567890123456789012345678901234567890123456789012345678901234567890123456789012345",
                            "R", 0, 1, 0)},
       false},
      {"undeclared row", {ParamSpec{}}, false},
  };
  for (const TableCase& c : cases) EXPECT_EQ(ValidTable(c.rows), c.valid) << c.what;
  // A last group may run to the end of the table only where the table says so.
  const std::vector<ParamSpec> open = {Range("r", "R", 0, 1, 0), Group("g", "G"), Bool("b", "B", false)};
  EXPECT_FALSE(ValidTable(open));
  EXPECT_TRUE(ValidTable(open, LastGroup::MayRunToEnd));
  const std::vector<ParamSpec> twoOpen = {Group("g", "G"), Range("r", "R", 0, 1, 0), Group("h", "H")};
  EXPECT_FALSE(ValidTable(twoOpen, LastGroup::MayRunToEnd));
  static_assert(ValidTable(fxtest::kKindParams));
  static_assert(ValidTable(fxtest::kSixParams));
}

TEST(ParameterState, EnabledChangeMarksTheRecordOnlyWhenItChanges) {
  Parameter p;
  const ParamSpec declaration = Bool("b", "B", false);
  Declare(p, declaration);
  p.flags &= ~kStateChanged;
  SetEnabled(p, true);  // already enabled
  EXPECT_EQ(p.flags & kStateChanged, 0u);
  SetEnabled(p, false);
  EXPECT_EQ(p.flags, kStateChanged);
  p.flags &= ~kStateChanged;
  SetGroupState(p, true);
  EXPECT_EQ(p.flags, kGroupOpen | kStateChanged);
}

TEST(ParameterState, ValuesFromOutsideAreMadeSafe) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  static constexpr ParamSpec range = Range("r", "R", -100, 100, 7);
  static constexpr ParamSpec list = List("l", "L", kTwo, 1);
  static constexpr ParamSpec colour = Colour("c", "C", {0.25, 0.5, 0.75});
  static constexpr ParamSpec point = Point("p", "P", {0.1, 0.2});
  Parameter r, l, c, p;
  Declare(r, range);
  Declare(l, list);
  Declare(c, colour);
  Declare(p, point);

  struct RangeCase {
    double in, out;
  };
  for (RangeCase rc : {RangeCase{50, 50}, {1e300, 100}, {-inf, -100}, {nan, 7}, {-100, -100}}) {
    SetRange(r, rc.in);
    EXPECT_EQ(r.number, rc.out) << rc.in;
  }
  for (auto [in, out] : {std::pair{0, 0}, {1, 1}, {2, 1}, {-1, 1}, {INT32_MIN, 1}}) {
    SetListIndex(l, in);
    EXPECT_EQ(l.listIndex, out) << in;
  }
  SetColour(c, {nan, 2.0, -1.0});
  EXPECT_EQ(c.colour.r, 0.25);
  EXPECT_EQ(c.colour.g, 1.0);
  EXPECT_EQ(c.colour.b, 0.0);
  SetPoint(p, {inf, -1e9});
  EXPECT_EQ(p.point.x, 0.1);
  EXPECT_EQ(p.point.y, -kPointLimit);
  SetPoint(p, {0.75, -0.6});  // outside the image is allowed
  EXPECT_EQ(p.point.x, 0.75);
}

TEST(ParameterState, ImageFileNamesAreCutAtTheirTerminatorAndEmptyMeansNone) {
  static constexpr ParamSpec declaration = ImageFile("t", "T", "KVR Ovra v6", "textures", nullptr);
  Parameter p;
  Declare(p, declaration);
  EXPECT_EQ(p.ImageFileName(), nullptr);
  SetImageFile(p, std::string_view("net.png\0secret", 14));
  EXPECT_STREQ(p.ImageFileName(), "net.png");
  SetImageFile(p, "");
  EXPECT_EQ(p.ImageFileName(), nullptr);
}

TEST(ParameterReading, ColoursAndPointsInSampleAndPixelUnits) {
  static constexpr ParamSpec colour = Colour("c", "C", {1.0, 0.5, 0.0});
  Parameter c;
  Declare(c, colour);
  EXPECT_EQ(Colour8(c), (std::array<int32_t, 4>{255, 127, 0, 255}));
  EXPECT_EQ(Colour16(c), (std::array<int32_t, 4>{32768, 16384, 0, 32768}));

  static constexpr ParamSpec point = Point("p", "P", {0, 0});
  Parameter p;
  Declare(p, point);
  int32_t x = -1, y = -1;
  PointInPixels(p, 640, 480, x, y);
  EXPECT_EQ(x, 320);
  EXPECT_EQ(y, 240);
  SetPoint(p, {-0.5, 0.5});
  PointInPixels(p, 640, 480, x, y);
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 480);
}

TEST(ParameterReading, ResetRestoresTheRowDefault) {
  EffectInstance* e = fxtest::Make(RoutinesOf<fxtest::Plain, fxtest::kKindType>);
  Parameter* p = e->parameters;
  SetRange(p[3], -3);
  SetBoolean(p[4], false);
  SetImageFile(p[9], "other.png");
  for (uint32_t i = 0; i < e->parameterCount; ++i) ResetToDefault(p[i]);
  EXPECT_EQ(p[3].number, 12.5);
  EXPECT_TRUE(p[4].boolean);
  EXPECT_STREQ(p[9].ImageFileName(), "205 venetian blind.png");
  fxtest::Destroy(e);
}

}  // namespace
