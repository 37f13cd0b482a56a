// The per-point loops allocate nothing: a deformation, or a run of falloff samples, makes as
// many host allocations for 100,000 points as for 1,000. Working buffers are allocated once
// per evaluation, before the loop.
#include <gtest/gtest.h>

#include "deformers/common/kw_deformerbase.h"
#include "deformers/quillform/kwspherewrap.h"
#include "deformers/quillform/kwtwirl.h"
#include "deformers/vexwarp/kwexpand.h"
#include "falloff/mergefield.h"
#include "kwtest_plugins.h"

namespace {

using kwhost::memory::AllocationCounter;

// The restriction tag names its vertex map at this ID of its container.
constexpr LONG kRestrictionMapName = 1;

// 40 × 25 and 400 × 250 points.
constexpr LONG kSmallColumns = 39, kSmallRows = 24;
constexpr LONG kLargeColumns = 399, kLargeRows = 249;

struct DeformerCase {
  const char* name;
  LONG id;
  LONG expandMode;  ///< -1: not an Expand
};

void PrintTo(const DeformerCase& c, std::ostream* os) {
  *os << c.name;
}

class AllocationFreeDeform : public kwtest::PluginTest,
                             public ::testing::WithParamInterface<DeformerCase> {
 protected:
  /// Host allocations of one evaluation pass over a grid of (columns + 1) × (rows + 1) points
  /// under the case's deformer, with a sphere falloff, a restriction map and a difference
  /// map. The first pass only warms up (dirty checks, first preparation of the falloff); the
  /// second is counted. Fails the test when the pass moves no point.
  LLONG AllocationsFor(LONG columns, LONG rows) {
    PolygonObject* grid = kwtest::MakeGrid(800, 800, columns, rows);
    EXPECT_NE(grid, nullptr);
    if (!grid) return -1;
    doc->InsertObject(grid, nullptr, nullptr);
    const LONG count = grid->GetPointCount();
    // Some height, so that the axial scale has something to move.
    for (LONG i = 0; i < count; ++i) grid->GetPointW()[i].y = 10.0 * (i % 3);

    VariableTag* restriction = grid->MakeVariableTag(Tvertexmap, count);
    VariableTag* difference = grid->MakeVariableTag(Tvertexmap, count);
    EXPECT_TRUE(restriction && difference);
    if (!restriction || !difference) return -1;
    restriction->SetName("weights");
    difference->SetName("moved");
    for (LONG i = 0; i < count; ++i) restriction->GetDataAddressW()[i] = 0.5f + 0.5f * (i % 2);

    const DeformerCase& c = GetParam();
    BaseObject* deformer = BaseObject::Alloc(c.id);
    EXPECT_NE(deformer, nullptr);
    if (!deformer) return -1;
    doc->InsertObject(deformer, grid, nullptr);
    BaseContainer* bc = deformer->GetDataInstance();
    if (c.expandMode >= 0) bc->SetLong(EXPAND_MODE, c.expandMode);
    bc->SetLong(FALLOFF_MODE, FALLOFF_MODE_SPHERE);
    bc->SetVector(FALLOFF_SIZE, Vector(1000));
    bc->SetString(DEFORMERBASE_MAPNAME, "moved");
    BaseTag* restrictionTag = deformer->MakeTag(Trestriction);
    EXPECT_NE(restrictionTag, nullptr);
    if (!restrictionTag) return -1;
    restrictionTag->GetDataInstance()->SetString(kRestrictionMapName, "weights");

    EXPECT_TRUE(doc->ExecutePasses(nullptr, true, true, true, 0));
    AllocationCounter counter;
    EXPECT_TRUE(doc->ExecutePasses(nullptr, true, true, true, 0));
    const LLONG allocations = counter.Count();

    const auto* deformed = static_cast<const PointObject*>(grid->GetDeformCache());
    EXPECT_NE(deformed, nullptr);
    if (deformed) {
      Bool moved = false;
      for (LONG i = 0; i < count && !moved; ++i) {
        moved = !(deformed->GetPointR()[i] == grid->GetPointR()[i]);
      }
      EXPECT_TRUE(moved) << "the deformer did not run";
    }
    BaseObject* object = grid;
    BaseObject::Free(object);
    return allocations;
  }
};

TEST_P(AllocationFreeDeform, SameAllocationsForAHundredTimesThePoints) {
  const LLONG small = AllocationsFor(kSmallColumns, kSmallRows);
  const LLONG large = AllocationsFor(kLargeColumns, kLargeRows);
  EXPECT_EQ(small, large);
}

INSTANTIATE_TEST_SUITE_P(
    Deformers, AllocationFreeDeform,
    ::testing::Values(DeformerCase{"Twirl", ID_KWTWIRL, -1},
                      DeformerCase{"DazoriRoru", ID_KWSPHEREWRAP, -1},
                      DeformerCase{"ExpandUniform", ID_KWEXPAND, EXPAND_MODE_UNIFORM},
                      DeformerCase{"ExpandRadial", ID_KWEXPAND, EXPAND_MODE_RADIAL},
                      DeformerCase{"ExpandAxial", ID_KWEXPAND, EXPAND_MODE_AXIAL},
                      DeformerCase{"ExpandNormal", ID_KWEXPAND, EXPAND_MODE_NORMAL}),
    [](const ::testing::TestParamInfo<DeformerCase>& info) { return info.param.name; });

class AllocationFreeSampling : public kwtest::PluginTest {
 protected:
  BaseObject* AddSphere(const Vector& position) {
    BaseObject* op = BaseObject::Alloc(Ofalloff);
    EXPECT_NE(op, nullptr);
    if (!op) return nullptr;
    doc->InsertObject(op, nullptr, nullptr);
    op->SetMg(Matrix(position, Vector(1, 0, 0), Vector(0, 1, 0), Vector(0, 0, 1)));
    op->GetDataInstance()->SetLong(FALLOFF_MODE, FALLOFF_MODE_SPHERE);
    op->GetDataInstance()->SetVector(FALLOFF_SIZE, Vector(300));
    return op;
  }

  /// Host allocations of preparing a Mergefield over two spheres and sampling it at `count`
  /// positions along a line through both.
  LLONG AllocationsFor(LONG count) {
    BaseObject* owner = BaseObject::Alloc(Ofalloff);
    EXPECT_NE(owner, nullptr);
    if (!owner) return -1;
    doc->InsertObject(owner, nullptr, nullptr);
    BaseContainer* bc = owner->GetDataInstance();
    bc->SetLong(FALLOFF_MODE, Mergefield::kPluginId);
    bc->SetLink(MERGEFIELD_LINK_A, AddSphere(Vector(-100, 0, 0)));
    bc->SetLink(MERGEFIELD_LINK_B, AddSphere(Vector(100, 0, 0)));
    bc->SetLong(MERGEFIELD_OPERATION, MERGEFIELD_OPERATION_ADD);

    C4D_Falloff* falloff = C4D_Falloff::Alloc();
    EXPECT_NE(falloff, nullptr);
    if (!falloff) return -1;
    EXPECT_TRUE(falloff->InitFalloff(bc, doc, owner));
    AllocationCounter counter;
    EXPECT_TRUE(falloff->InitFalloff(bc, doc, owner));
    Real sum = 0.0;
    for (LONG i = 0; i < count; ++i) {
      Real w = 0.0;
      falloff->Sample(Vector(-400.0 + 800.0 * i / count, 0, 0), &w);
      sum += w;
    }
    const LLONG allocations = counter.Count();
    EXPECT_GT(sum, 0.0) << "the shape sampled nothing";
    C4D_Falloff::Free(falloff);
    return allocations;
  }
};

TEST_F(AllocationFreeSampling, MergefieldSamplesAHundredTimesAsManyPositionsWithoutAllocating) {
  EXPECT_EQ(AllocationsFor(1000), AllocationsFor(100000));
}

}  // namespace
