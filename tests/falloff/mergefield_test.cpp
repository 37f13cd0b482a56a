#include "falloff/mergefield.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>

#include "kwtest.h"

namespace {

struct ShapeDeleter {
  void operator()(FalloffData* shape) const { DeleteObj(shape); }
};
using ShapePtr = std::unique_ptr<FalloffData, ShapeDeleter>;

// A shape that passes on the falloff of the object linked under 100000, the way a shape that
// samples another object's falloff does. Lets a link lead back to a Mergefield owner.
class RelayShape : public FalloffData {
 public:
  static constexpr LONG kPluginId = 1099901;
  static constexpr LONG kLink = 100000;

  static FalloffData* Alloc() {
    RelayShape* shape = NewObj<RelayShape>("tests\\relay", __LINE__);
    if (shape && !shape->falloff_) DeleteObj(shape);
    return shape;
  }
  RelayShape() : falloff_(C4D_Falloff::Alloc()) {}
  ~RelayShape() override { C4D_Falloff::Free(falloff_); }

  Bool InitFalloff(BaseContainer* bc, FalloffDataData& data) override {
    link_ = bc ? dynamic_cast<BaseObject*>(bc->GetLink(kLink, nullptr)) : nullptr;
    return !link_ || falloff_->InitFalloff(link_->GetDataInstance(), link_->GetDocument(), link_);
  }
  void Sample(const Vector& p, const FalloffDataData& data, Real* result) override {
    *result = 0.0;
    if (link_) falloff_->Sample(data.mat * p, result, true, 0.0);
  }

 private:
  C4D_Falloff* falloff_ = nullptr;
  BaseObject* link_ = nullptr;
};

class MergefieldTest : public kwtest::HostTest {
 protected:
  void SetUp() override {
    kwhost::ClearRegistry();
    HostTest::SetUp();
    ASSERT_TRUE(RegisterFalloffPlugin(Mergefield::kPluginId, "Mergefield", 0, Mergefield::Alloc,
                                      "oboolefalloff_kw", "Mergefield"));
    falloff = C4D_Falloff::Alloc();
    ASSERT_NE(falloff, nullptr);
  }
  void TearDown() override {
    C4D_Falloff::Free(falloff);
    HostTest::TearDown();
    kwhost::ClearRegistry();
  }

  /// A host falloff object at the top of the document with the shape `mode`.
  BaseObject* AddFalloffObject(LONG mode, const Vector& position = {}) {
    BaseObject* op = BaseObject::Alloc(Ofalloff);
    EXPECT_NE(op, nullptr);
    if (!op) return nullptr;
    doc->InsertObject(op, nullptr, nullptr);
    op->SetMg(Matrix(position, Vector(1, 0, 0), Vector(0, 1, 0), Vector(0, 0, 1)));
    op->GetDataInstance()->SetLong(FALLOFF_MODE, mode);
    return op;
  }

  /// A falloff object whose weight is `weight` (0..1) everywhere: infinite shape, scaled by
  /// its strength.
  BaseObject* AddConstantSource(Real weight) {
    BaseObject* op = AddFalloffObject(FALLOFF_MODE_INFINITE);
    if (op) op->GetDataInstance()->SetReal(FALLOFF_STRENGTH, weight);
    return op;
  }

  /// A falloff object whose shape is Mergefield, linking `a` and `b` (either may be null).
  BaseObject* AddOwner(BaseObject* a, BaseObject* b) {
    BaseObject* owner = AddFalloffObject(Mergefield::kPluginId);
    if (!owner) return nullptr;
    if (a) owner->GetDataInstance()->SetLink(MERGEFIELD_LINK_A, a);
    if (b) owner->GetDataInstance()->SetLink(MERGEFIELD_LINK_B, b);
    return owner;
  }

  /// Prepares the service for `owner` and returns the shape's raw result at `globalPos`.
  Real SampleRaw(BaseObject* owner, const Vector& globalPos = {}) {
    EXPECT_TRUE(falloff->InitFalloff(owner->GetDataInstance(), doc, owner));
    return falloff->SampleRaw(globalPos);
  }

  C4D_Falloff* falloff = nullptr;
};

// ---- Combining the two weights -------------------------------------------------------------

struct WeightCase {
  const char* name;
  std::optional<LONG> operation;  // unset: the default Init writes
  std::optional<Real> mix;        // unset: the default Init writes
  std::optional<Real> a;          // unset: no object linked as A
  std::optional<Real> b;          // unset: no object linked as B
  Real expected;                  // the shape's result, before the host clamps it
};

class MergefieldWeights : public MergefieldTest,
                          public ::testing::WithParamInterface<WeightCase> {};

TEST_P(MergefieldWeights, CombineLinkedFalloffs) {
  const WeightCase& c = GetParam();
  BaseObject* owner =
      AddOwner(c.a ? AddConstantSource(*c.a) : nullptr, c.b ? AddConstantSource(*c.b) : nullptr);
  ASSERT_NE(owner, nullptr);
  BaseContainer* bc = owner->GetDataInstance();
  if (c.operation) bc->SetLong(MERGEFIELD_OPERATION, *c.operation);
  if (c.mix) bc->SetReal(MERGEFIELD_MIX, *c.mix);

  const Vector at(12, -7, 3);
  EXPECT_NEAR(SampleRaw(owner, at), c.expected, 1e-12);
  Real weight = -1.0;
  falloff->Sample(at, &weight);
  EXPECT_NEAR(weight, std::clamp(c.expected, 0.0, 1.0), 1e-12);
}

INSTANTIATE_TEST_SUITE_P(
    Table, MergefieldWeights,
    ::testing::Values(WeightCase{"DefaultsMultiply", {}, {}, 0.8, 0.5, 0.4},
                      WeightCase{"Add", 0, 1.0, 0.3, 0.5, 0.8},
                      WeightCase{"AddIsNotClamped", 0, 1.0, 0.7, 0.6, 1.3},
                      WeightCase{"SubtractIsNotClamped", 1, 1.0, 0.2, 0.5, -0.3},
                      WeightCase{"Maximum", 3, 1.0, 0.3, 0.7, 0.7},
                      WeightCase{"MaximumOfEqual", 3, 1.0, 0.6, 0.6, 0.6},
                      WeightCase{"Minimum", 4, 1.0, 0.3, 0.7, 0.3},
                      WeightCase{"MinimumOfEqual", 4, 1.0, 0.6, 0.6, 0.6},
                      WeightCase{"Average", 5, 1.0, 0.2, 0.6, 0.4},
                      WeightCase{"HalfMixAdd", 0, 0.5, 0.4, 0.4, 0.6},
                      WeightCase{"MixZeroGivesA", 2, 0.0, 0.8, 0.5, 0.8},
                      WeightCase{"UnknownOperationGivesA", 7, 0.3, 0.4, 0.9, 0.4},
                      WeightCase{"NegativeOperationGivesA", -1, 1.0, 0.4, 0.9, 0.4},
                      WeightCase{"OnlyBAdd", 0, 1.0, {}, 0.7, 0.7},
                      WeightCase{"OnlyBMultiply", 2, 1.0, {}, 0.7, 0.0},
                      WeightCase{"OnlyBSubtract", 1, 1.0, {}, 0.7, -0.7},
                      WeightCase{"OnlyAAdd", 0, 1.0, 0.7, {}, 0.7},
                      WeightCase{"NoLinks", 0, 1.0, {}, {}, 0.0}),
    [](const auto& info) { return std::string(info.param.name); });

// Every operation value outside 0..5, however far out, keeps A's weight.
TEST(MergeWeights, OtherOperationsKeepA) {
  for (LONG operation : {6, 100, -2147483647 - 1, 2147483647}) {
    EXPECT_EQ(MergeWeights(operation, 0.25, 0.75), 0.25) << operation;
  }
}

// The owner is turned and moved; the host hands the shape falloff-local positions, and A must
// still be measured at the global position, with A's own placement and sphere.
TEST_F(MergefieldTest, SamplesLinkedFalloffsAtTheGlobalPosition) {
  BaseObject* sphere = AddFalloffObject(FALLOFF_MODE_SPHERE, Vector(0, 0, 10));
  ASSERT_NE(sphere, nullptr);
  sphere->GetDataInstance()->SetVector(FALLOFF_SIZE, Vector(100, 100, 100));
  sphere->GetDataInstance()->SetReal(FALLOFF_FALLOFF, 1.0);
  BaseObject* owner = AddOwner(sphere, AddConstantSource(1.0));
  ASSERT_NE(owner, nullptr);
  owner->SetMg(Matrix(Vector(10, 0, 0), Vector(0, 0, -1), Vector(0, 1, 0), Vector(1, 0, 0)));

  // 50 units from the sphere's centre: halfway out of its radius.
  EXPECT_NEAR(SampleRaw(owner, Vector(30, 40, 10)), 0.5, 1e-12);
  EXPECT_NEAR(SampleRaw(owner, Vector(0, 0, 10)), 1.0, 1e-12);
  EXPECT_NEAR(SampleRaw(owner, Vector(0, 0, 120)), 0.0, 1e-12);
}

// ---- Refused links -------------------------------------------------------------------------

struct DragCase {
  const char* name;
  LONG type;         // type of the dragged object; 0: no node at all
  LONG falloffMode;  // its own FALLOFF_MODE
  LONG field;        // the field it is dropped onto
  Bool expected;
};

class MergefieldDrag : public MergefieldTest, public ::testing::WithParamInterface<DragCase> {};

TEST_P(MergefieldDrag, ChecksTypeAndOwnShape) {
  const DragCase& c = GetParam();
  ShapePtr shape(Mergefield::Alloc());
  ASSERT_NE(shape, nullptr);
  BaseObject* node = nullptr;
  if (c.type != 0) {
    node = BaseObject::Alloc(c.type);
    ASSERT_NE(node, nullptr);
    doc->InsertObject(node, nullptr, nullptr);
    node->GetDataInstance()->SetLong(FALLOFF_MODE, c.falloffMode);
  }
  DescriptionCheckDragAndDrop check;
  check.id = DescID(c.field);
  check.element = node;
  BaseContainer bc;
  EXPECT_TRUE(shape->Message(MSG_DESCRIPTION_CHECKDRAGANDDROP, &bc, &check));
  EXPECT_EQ(check.result, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, MergefieldDrag,
    ::testing::Values(
        DragCase{"FalloffObjectOnA", Ofalloff, FALLOFF_MODE_SPHERE, MERGEFIELD_LINK_A, true},
        DragCase{"FalloffObjectOnB", Ofalloff, FALLOFF_MODE_BOX, MERGEFIELD_LINK_B, true},
        DragCase{"MergefieldOnA", Ofalloff, Mergefield::kPluginId, MERGEFIELD_LINK_A, false},
        DragCase{"MergefieldOnB", Ofalloff, Mergefield::kPluginId, MERGEFIELD_LINK_B, false},
        DragCase{"UnlistedType", Onull, FALLOFF_MODE_SPHERE, MERGEFIELD_LINK_A, false},
        DragCase{"NoNode", 0, 0, MERGEFIELD_LINK_B, false},
        // Not a link field: the check is left to the host's default, which keeps the answer.
        DragCase{"OtherField", Onull, 0, MERGEFIELD_OPERATION, true}),
    [](const auto& info) { return std::string(info.param.name); });

// A link the drag check would refuse can still arrive (a scene file, a script); preparing the
// falloff removes it and that side counts as missing.
TEST_F(MergefieldTest, PreparingRemovesRefusedLinks) {
  BaseObject* chained = AddOwner(AddConstantSource(0.9), nullptr);
  ASSERT_NE(chained, nullptr);
  BaseObject* source = AddConstantSource(0.5);
  BaseObject* owner = AddOwner(chained, source);
  ASSERT_NE(owner, nullptr);
  BaseContainer* bc = owner->GetDataInstance();
  bc->SetLong(MERGEFIELD_OPERATION, MERGEFIELD_OPERATION_ADD);

  EXPECT_NEAR(SampleRaw(owner), 0.5, 1e-12);
  EXPECT_EQ(bc->GetLink(MERGEFIELD_LINK_A, nullptr), nullptr);
  EXPECT_EQ(bc->GetType(MERGEFIELD_LINK_A), DataType::Link);
  EXPECT_EQ(bc->GetLink(MERGEFIELD_LINK_B, nullptr), source);

  // Linking the owner to itself is the shortest such chain; a tag carries no falloff at all.
  bc->SetLink(MERGEFIELD_LINK_A, owner);
  BaseTag* tag = source->MakeVariableTag(Tvertexmap, 1);
  ASSERT_NE(tag, nullptr);
  bc->SetLink(MERGEFIELD_LINK_B, tag);
  EXPECT_EQ(SampleRaw(owner), 0.0);
  EXPECT_EQ(bc->GetLink(MERGEFIELD_LINK_A, nullptr), nullptr);
  EXPECT_EQ(bc->GetLink(MERGEFIELD_LINK_B, nullptr), nullptr);
}

// A Mergefield may link an object whose shape itself samples a linked object; when that link
// leads back to the Mergefield's owner, preparing must end. The nested preparation of the same
// owner uses no links, and the links stay in place.
TEST_F(MergefieldTest, LinkCycleThroughAnotherShapeEnds) {
  ASSERT_TRUE(RegisterFalloffPlugin(RelayShape::kPluginId, "Relay", 0, RelayShape::Alloc, "",
                                    "RelayShape"));
  BaseObject* relay = AddFalloffObject(RelayShape::kPluginId);
  ASSERT_NE(relay, nullptr);
  BaseObject* owner = AddOwner(relay, AddConstantSource(0.5));
  ASSERT_NE(owner, nullptr);
  owner->GetDataInstance()->SetLong(MERGEFIELD_OPERATION, MERGEFIELD_OPERATION_ADD);
  relay->GetDataInstance()->SetLink(RelayShape::kLink, owner);

  EXPECT_NEAR(SampleRaw(owner), 0.5, 1e-12);
  EXPECT_NEAR(SampleRaw(relay), 0.5, 1e-12);
  EXPECT_EQ(owner->GetDataInstance()->GetLink(MERGEFIELD_LINK_A, nullptr), relay);
}

// ---- Parameters, dirty checks, description ---------------------------------------------------

TEST_F(MergefieldTest, InitWritesOnlyMissingDefaults) {
  ShapePtr shape(Mergefield::Alloc());
  ASSERT_NE(shape, nullptr);
  FalloffDataData data;
  EXPECT_FALSE(shape->Init(data, nullptr));
  EXPECT_FALSE(shape->InitFalloff(nullptr, data));

  BaseContainer empty;
  ASSERT_TRUE(shape->Init(data, &empty));
  EXPECT_EQ(empty.GetType(MERGEFIELD_LINK_A), DataType::Link);
  EXPECT_EQ(empty.GetType(MERGEFIELD_LINK_B), DataType::Link);
  EXPECT_EQ(empty.GetLink(MERGEFIELD_LINK_A, nullptr), nullptr);
  EXPECT_EQ(empty.GetType(MERGEFIELD_OPERATION), DataType::Long);
  EXPECT_EQ(empty.GetLong(MERGEFIELD_OPERATION), MERGEFIELD_OPERATION_MULTIPLY);
  EXPECT_EQ(empty.GetType(MERGEFIELD_MIX), DataType::Real);
  EXPECT_EQ(empty.GetReal(MERGEFIELD_MIX), 1.0);
  EXPECT_EQ(empty.GetReal(FALLOFF_STRENGTH), 1.0);

  BaseObject* source = AddConstantSource(1.0);
  BaseContainer user;
  user.SetLink(MERGEFIELD_LINK_A, source);
  user.SetLong(MERGEFIELD_OPERATION, MERGEFIELD_OPERATION_MINIMUM);
  user.SetReal(MERGEFIELD_MIX, 0.25);
  user.SetReal(FALLOFF_STRENGTH, 0.3);  // the shape's strength is fixed at 1 every time
  ASSERT_TRUE(shape->Init(data, &user));
  EXPECT_EQ(user.GetLink(MERGEFIELD_LINK_A, nullptr), source);
  EXPECT_EQ(user.GetLong(MERGEFIELD_OPERATION), MERGEFIELD_OPERATION_MINIMUM);
  EXPECT_EQ(user.GetReal(MERGEFIELD_MIX), 0.25);
  EXPECT_EQ(user.GetReal(FALLOFF_STRENGTH), 1.0);
}

TEST_F(MergefieldTest, CheckDirtySeesLinkedObjectsAndLinks) {
  ShapePtr shape(Mergefield::Alloc());
  ASSERT_NE(shape, nullptr);
  BaseObject* a = AddConstantSource(0.5);
  BaseObject* parent = AddFalloffObject(FALLOFF_MODE_INFINITE);
  BaseObject* b = BaseObject::Alloc(Ofalloff);
  ASSERT_TRUE(a && parent && b);
  doc->InsertObject(b, parent, nullptr);
  BaseContainer bc;
  EXPECT_FALSE(shape->CheckDirty(&bc)) << "nothing linked, nothing changed";

  bc.SetLink(MERGEFIELD_LINK_A, a);
  EXPECT_TRUE(shape->CheckDirty(&bc)) << "link A set";
  EXPECT_FALSE(shape->CheckDirty(&bc));

  a->SetMg(Matrix(Vector(5, 0, 0), Vector(1, 0, 0), Vector(0, 1, 0), Vector(0, 0, 1)));
  EXPECT_TRUE(shape->CheckDirty(&bc)) << "A moved";
  EXPECT_FALSE(shape->CheckDirty(&bc));

  a->GetDataInstance()->SetReal(FALLOFF_STRENGTH, 0.3);
  EXPECT_TRUE(shape->CheckDirty(&bc)) << "A's falloff changed";
  EXPECT_FALSE(shape->CheckDirty(&bc));

  bc.SetLink(MERGEFIELD_LINK_B, b);
  EXPECT_TRUE(shape->CheckDirty(&bc)) << "link B set";
  EXPECT_FALSE(shape->CheckDirty(&bc));

  parent->SetMg(Matrix(Vector(0, 7, 0), Vector(1, 0, 0), Vector(0, 1, 0), Vector(0, 0, 1)));
  EXPECT_TRUE(shape->CheckDirty(&bc)) << "B moved with its parent";
  EXPECT_FALSE(shape->CheckDirty(&bc));

  bc.SetLink(MERGEFIELD_LINK_A, b);
  EXPECT_TRUE(shape->CheckDirty(&bc)) << "link A changed";
  EXPECT_FALSE(shape->CheckDirty(&bc));

  BaseObject::Free(parent);  // frees B with it: both links resolve to nothing
  EXPECT_TRUE(shape->CheckDirty(&bc)) << "linked object freed";
  EXPECT_FALSE(shape->CheckDirty(&bc));
}

TEST(MergefieldDescription, HidesUnusedHostParameters) {
  ShapePtr shape(Mergefield::Alloc());
  ASSERT_NE(shape, nullptr);
  BaseContainer bc;
  for (LONG id : {5101, 5102, 5103, 5120, 5121, 5123, 5124, 5125, 5126, 5127}) {
    EXPECT_FALSE(shape->GetDVisible(DescID(id), &bc, nullptr)) << id;
  }
  EXPECT_FALSE(shape->GetDVisible(DescID(FALLOFF_SIZE, 2), &bc, nullptr));
  for (LONG id : {MERGEFIELD_LINK_A, MERGEFIELD_LINK_B, MERGEFIELD_OPERATION, MERGEFIELD_MIX,
                  FALLOFF_MODE, FALLOFF_INVERT, 5122}) {
    EXPECT_TRUE(shape->GetDVisible(DescID(id), &bc, nullptr)) << id;
  }
}

// ---- Memory exhausted ----------------------------------------------------------------------

TEST_F(MergefieldTest, AllocatorFailsCleanly) {
  int failures = 0;
  for (LLONG n = 1;; ++n) {
    const LLONG liveBefore = kwhost::memory::LiveBlocks();
    kwhost::memory::FailAllocation(n);
    ShapePtr shape(Mergefield::Alloc());
    kwhost::memory::FailAllocation(0);
    if (shape) break;
    ++failures;
    EXPECT_EQ(kwhost::memory::LiveBlocks(), liveBefore) << "allocation " << n;
    ASSERT_LT(n, 50);
  }
  // The instance and its two falloff services each come from the host allocator.
  EXPECT_GE(failures, 3);
}

// Every allocation of a preparation may fail: the Mergefield instance and its services, and
// the shape of a linked object that has one. A failed preparation reports false (never a
// weight from half-prepared links) and keeps the links.
TEST_F(MergefieldTest, PreparationFailsCleanly) {
  ASSERT_TRUE(RegisterFalloffPlugin(RelayShape::kPluginId, "Relay", 0, RelayShape::Alloc, "",
                                    "RelayShape"));
  BaseObject* relay = AddFalloffObject(RelayShape::kPluginId);
  ASSERT_NE(relay, nullptr);
  relay->GetDataInstance()->SetLink(RelayShape::kLink, AddConstantSource(0.8));
  BaseObject* owner = AddOwner(relay, AddConstantSource(0.5));
  ASSERT_NE(owner, nullptr);
  int failures = 0;
  for (LLONG n = 1;; ++n) {
    C4D_Falloff* fresh = C4D_Falloff::Alloc();
    ASSERT_NE(fresh, nullptr);
    kwhost::memory::FailAllocation(n);
    const Bool prepared = fresh->InitFalloff(owner->GetDataInstance(), doc, owner);
    kwhost::memory::FailAllocation(0);
    EXPECT_EQ(owner->GetDataInstance()->GetLink(MERGEFIELD_LINK_A, nullptr), relay) << n;
    EXPECT_NE(owner->GetDataInstance()->GetLink(MERGEFIELD_LINK_B, nullptr), nullptr) << n;
    if (prepared) {
      EXPECT_NEAR(fresh->SampleRaw(Vector()), 0.4, 1e-12) << n;
    }
    C4D_Falloff::Free(fresh);
    if (prepared) break;
    ++failures;
    ASSERT_LT(n, 50);
  }
  EXPECT_GE(failures, 5);
}

}  // namespace
