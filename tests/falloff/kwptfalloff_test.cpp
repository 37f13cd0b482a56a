#include "falloff/kwptfalloff.h"

#include <gtest/gtest.h>

#include "falloff/fieldwise.h"
#include "falloff/grainfield.h"
#include "falloff/mergefield.h"
#include "kwtest.h"

namespace {

struct ShapeDeleter {
  void operator()(FalloffData* shape) const { DeleteObj(shape); }
};
using ShapePtr = std::unique_ptr<FalloffData, ShapeDeleter>;

struct ShapeCase {
  const char* title;
  FalloffAllocator alloc;
};

class FalloffShapes : public kwtest::HostTest, public ::testing::WithParamInterface<ShapeCase> {};

TEST_P(FalloffShapes, RefuseNullContainerAndNotifyUnderTheirTitle) {
  ShapePtr shape(GetParam().alloc());
  ASSERT_NE(shape, nullptr);
  auto* base = static_cast<KWPTFalloff*>(shape.get());
  FalloffDataData data;
  EXPECT_FALSE(base->Init(data, nullptr));

  BaseContainer bc;
  ASSERT_TRUE(base->Init(data, &bc));
  EXPECT_EQ(base->GetTitle(), GetParam().title);

  base->ShowNotice("source rejected");
  const std::string expected = std::string(GetParam().title) + ": source rejected";
  ASSERT_EQ(kwhost::ConsoleLines().size(), 1u);
  EXPECT_EQ(kwhost::ConsoleLines()[0], expected);
  EXPECT_EQ(kwhost::StatusText(), expected);

  base->ShowNotice("again");
  EXPECT_EQ(kwhost::ConsoleLines().size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(All, FalloffShapes,
                         ::testing::Values(ShapeCase{"Fieldwise", Fieldwise::Alloc},
                                           ShapeCase{"Grainfield", Grainfield::Alloc},
                                           ShapeCase{"Mergefield", Mergefield::Alloc}),
                         [](const auto& info) { return std::string(info.param.title); });

// The shapes that cannot measure anything yet still write a weight, and it is 0, not the
// host's default of 1 (which would apply the owner's full effect everywhere).
TEST(UnfinishedShapes, WeightZero) {
  for (FalloffAllocator alloc : {Fieldwise::Alloc, Grainfield::Alloc}) {
    ShapePtr shape(alloc());
    ASSERT_NE(shape, nullptr);
    FalloffDataData data;
    BaseContainer bc;
    ASSERT_TRUE(shape->Init(data, &bc));
    ASSERT_TRUE(shape->InitFalloff(&bc, data));
    Real weight = -1.0;
    shape->Sample(Vector(1, 2, 3), data, &weight);
    EXPECT_EQ(weight, 0.0);
  }
}

}  // namespace
