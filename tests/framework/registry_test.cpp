#include "framework/registry.h"

#include <gtest/gtest.h>

#include <new>

#include "framework/memory.h"
#include "tests/framework/test_effects.h"

using namespace fx;

namespace {

int g_destroyed = 0;

class Counted final : public Effect {
 public:
  using Effect::Effect;
  ~Counted() { ++g_destroyed; }
  bool IsActive() const { return true; }
  void Render(RenderInfo&) {}
};
inline constexpr EffectType kCountedType{"Ovra Counted", "Counts.", fxtest::kSixParams, 0x18};

TEST(EffectRegistry, LookupMakesOneInstancePerNameCaseSensitively) {
  EffectRegistry registry;
  registry.Register("BleachBypass", RoutinesOf<fxtest::Plain, fxtest::kSixType>);
  registry.Register("Mist", RoutinesOf<fxtest::Plain, fxtest::kMistLikeType>);
  EXPECT_EQ(registry.Count(), 2);

  EffectInstance* a = registry.Lookup("BleachBypass");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(registry.Lookup("BleachBypass"), a);
  EXPECT_EQ(registry.Lookup("bleachbypass"), nullptr);
  EXPECT_EQ(registry.Lookup("Unknown"), nullptr);
  EXPECT_EQ(registry.InstanceCount(), 1);
  EXPECT_STREQ(DisplayName(*a), "Ovra Bleach Bypass");
  EXPECT_STREQ(DisplayName(*registry.Lookup("Mist")), "Ovra Mist");
  EXPECT_EQ(a->flags, kInstanceBaseFlags | 0x0Au | kHeldByRegistry);
}

TEST(EffectRegistry, SharedRoutinesAnswerTheProductFacts) {
  EffectRegistry registry;
  registry.Register("BleachBypass", RoutinesOf<fxtest::Plain, fxtest::kSixType>);
  EffectInstance* e = registry.Lookup("BleachBypass");
  const EffectRoutines& r = *e->routines;
  EXPECT_STREQ(r.makerName(e), "Quillory");
  EXPECT_STREQ(r.productName(e), "KVR Ovra v6");
  EXPECT_STREQ(r.productKey(e), "Ovra v6 PS");
  EXPECT_STREQ(r.description(e), "Tint a gradiated portion of the image.");
  int32_t major = 0, minor = 1, revision = 1;
  r.version(e, &major, &minor, &revision);
  EXPECT_EQ(major, 6);
  EXPECT_EQ(minor, 0);
  EXPECT_EQ(revision, 0);
  EXPECT_EQ(r.reserved(e), nullptr);
}

TEST(EffectRegistry, CloneTakesFlagsButNotValues) {
  EffectInstance* e = fxtest::Make(RoutinesOf<Counted, kCountedType>);
  e->flags |= 0x4;
  SetRange(e->parameters[2], 33);
  EffectInstance* c = e->routines->clone(e);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->routines, e->routines);
  EXPECT_EQ(c->flags, kInstanceBaseFlags | 0x18u | 0x4u | kCloned);
  EXPECT_EQ(c->parameters[2].number, 100);
  fxtest::Destroy(c);
  fxtest::Destroy(e);
}

TEST(EffectRegistry, ReleaseAllDestroysEveryInstance) {
  g_destroyed = 0;
  {
    EffectRegistry registry;
    registry.Register("A", RoutinesOf<Counted, kCountedType>);
    registry.Register("B", RoutinesOf<Counted, kCountedType>);
    registry.Lookup("A");
    registry.Lookup("B");
    registry.ReleaseAll();
    EXPECT_EQ(g_destroyed, 2);
    EXPECT_EQ(registry.InstanceCount(), 0);
    registry.Lookup("A");
  }
  EXPECT_EQ(g_destroyed, 3);  // and at the registry's end
}

// Refuses every allocation.
class Starved final : public MemoryHandler {
 public:
  void* Allocate(std::size_t) override { throw std::bad_alloc(); }
  void Free(void*) override {}
};

// Refuses every allocation after the first.
class OneBlock final : public MemoryHandler {
 public:
  explicit OneBlock(MemoryHandler& real) : real_(real) {}
  void* Allocate(std::size_t size) override {
    if (given_++ > 0) throw std::bad_alloc();
    return real_.Allocate(size);
  }
  void Free(void* p) override {
    if (p) ++freed_;
    real_.Free(p);
  }
  int freed_ = 0;

 private:
  MemoryHandler& real_;
  int given_ = 0;
};

TEST(EffectRegistry, CreateWithoutMemoryYieldsNoInstance) {
  EffectRegistry registry;
  registry.Register("A", RoutinesOf<Counted, kCountedType>);
  Starved starved;
  MemoryHandler* previous = InstallMemoryHandler(&starved);
  EXPECT_EQ(registry.Lookup("A"), nullptr);
  InstallMemoryHandler(previous);
  EXPECT_EQ(registry.InstanceCount(), 0);
  EXPECT_NE(registry.Lookup("A"), nullptr);
}

TEST(EffectRegistry, AFailureAfterAllocationReturnsTheBlockAndPropagates) {
  EffectRegistry registry;
  registry.Register("A", RoutinesOf<Counted, kCountedType>);
  OneBlock one(Memory());
  MemoryHandler* previous = InstallMemoryHandler(&one);
  EXPECT_THROW(registry.Lookup("A"), std::bad_alloc);  // the parameter records cannot be had
  InstallMemoryHandler(previous);
  EXPECT_EQ(one.freed_, 1);
  EXPECT_EQ(registry.InstanceCount(), 0);
}

TEST(EffectInstance, BleachBypassLikeActivity) {
  EffectInstance* e = fxtest::Make(RoutinesOf<fxtest::Plain, fxtest::kSixType>);
  EXPECT_TRUE(e->routines->isActive(e));
  SetRange(e->parameters[2], 0);
  EXPECT_FALSE(e->routines->isActive(e));
  SetRange(e->parameters[2], 50);
  SetListIndex(e->parameters[1], 1);
  EXPECT_FALSE(e->routines->isActive(e));
  fxtest::Destroy(e);
}

}  // namespace
