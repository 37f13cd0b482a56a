// The host's falloff service: host shape weights, placement, handles, outline, and the calling
// contract a falloff-shape plug-in relies on.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "kwtest.h"

namespace {

constexpr LONG kShapeId = 1099101;
constexpr LONG kShapeRange = 7000;   // a parameter the test shape's Init defaults
constexpr LONG kShapeSecret = 7001;  // a parameter the test shape hides

/// What the test shape saw, shared by all its instances.
struct ShapeLog {
  std::vector<std::string> calls;
  std::vector<Vector> samples;   // the positions handed to Sample
  std::vector<Matrix> matrices;  // data.mat at each Sample
  int alive = 0;
  Real raw = 0.5;  // what Sample answers
  Bool dirty = false;
  Bool initFalloffResult = true;
};

ShapeLog& Log() {
  static ShapeLog log;
  return log;
}

/// A falloff shape that records every call.
class RecordingShape : public FalloffData {
 public:
  static FalloffData* Alloc() { return NewObj<RecordingShape>("tests\\falloff", __LINE__); }
  RecordingShape() { ++Log().alive; }
  ~RecordingShape() override {
    --Log().alive;
    Log().calls.push_back("destroy");
  }
  Bool Init(FalloffDataData&, BaseContainer* bc) override {
    Log().calls.push_back("Init");
    if (!bc) return false;
    if (bc->GetType(kShapeRange) == DataType::None) bc->SetReal(kShapeRange, 25.0);
    return true;
  }
  Bool InitFalloff(BaseContainer*, FalloffDataData&) override {
    Log().calls.push_back("InitFalloff");
    return Log().initFalloffResult;
  }
  void Sample(const Vector& p, const FalloffDataData& data, Real* result) override {
    Log().calls.push_back("Sample");
    Log().samples.push_back(p);
    Log().matrices.push_back(data.mat);
    *result = Log().raw;
  }
  void FreeFalloff(FalloffDataData&) override { Log().calls.push_back("FreeFalloff"); }
  Bool CheckDirty(BaseContainer*) override {
    Log().calls.push_back("CheckDirty");
    return Log().dirty;
  }
  Bool GetDVisible(const DescID& id, BaseContainer*, BaseContainer*) override {
    return id[0] != FALLOFF_SIZE && id[0] != kShapeSecret;
  }
  Bool Message(LONG id, BaseContainer*, void* data) override {
    Log().calls.push_back("Message " + std::to_string(id));
    if (id == MSG_DESCRIPTION_CHECKDRAGANDDROP) {
      static_cast<DescriptionCheckDragAndDrop*>(data)->result = false;
    }
    return true;
  }
  Bool Draw(const FalloffDataData&, BaseDraw*, BaseDrawHelp*, BaseObject*) override {
    Log().calls.push_back("Draw");
    return true;
  }
};

class FalloffTest : public kwtest::HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    Log() = ShapeLog();
    falloff = C4D_Falloff::Alloc();
    ASSERT_NE(falloff, nullptr);
  }
  void TearDown() override {
    C4D_Falloff::Free(falloff);
    EXPECT_EQ(Log().alive, 0) << "shape instances leaked";
    kwhost::ClearRegistry();
    HostTest::TearDown();
  }

  static void RegisterShape() {
    ASSERT_TRUE(RegisterFalloffPlugin(kShapeId, "Recorder", 0, RecordingShape::Alloc, "",
                                      "RecordingShape"));
  }

  /// A null object at `mg`, inserted in the document.
  BaseObject* AddNull(const Matrix& mg) {
    BaseObject* op = BaseObject::Alloc(Onull);
    doc->InsertObject(op, nullptr, nullptr);
    op->SetMg(mg);
    return op;
  }

  Real Weight(const Vector& p) {
    Real w = -1.0;
    falloff->Sample(p, &w);
    return w;
  }

  C4D_Falloff* falloff = nullptr;
  BaseContainer bc;
};

// ---------------------------------------------------------------------------------------------
// Host shapes

struct WeightCase {
  const char* name;
  LONG mode;
  Vector size;
  Real strength;
  Real falloff;
  Bool invert;
  Vector at;
  Real raw;
  Real weight;
};

TEST_F(FalloffTest, HostShapesFollowTheRampInvertStrengthAndClamp) {
  const Vector r100(100, 100, 100);
  const Vector box(100, 50, 200);
  const WeightCase cases[] = {
      {"infinite, far away", 0, r100, 1.0, 1.0, false, {1e6, -3e5, 7}, 1.0, 1.0},
      {"infinite, half strength", 0, r100, 0.5, 1.0, false, {10, 0, 0}, 1.0, 0.5},
      {"sphere centre", 1, r100, 1.0, 1.0, false, {0, 0, 0}, 1.0, 1.0},
      {"sphere halfway", 1, r100, 1.0, 1.0, false, {0, -50, 0}, 0.5, 0.5},
      {"sphere surface", 1, r100, 1.0, 1.0, false, {0, 0, 100}, 0.0, 0.0},
      {"sphere outside", 1, r100, 1.0, 1.0, false, {150, 0, 0}, 0.0, 0.0},
      {"sphere radius is size.x", 1, {40, 500, 500}, 1.0, 1.0, false, {0, 20, 0}, 0.5, 0.5},
      {"inner core is full", 1, r100, 1.0, 0.5, false, {40, 0, 0}, 1.0, 1.0},
      {"ramp over the outer half", 1, r100, 1.0, 0.5, false, {75, 0, 0}, 0.5, 0.5},
      {"hard edge inside", 1, r100, 1.0, 0.0, false, {99.9, 0, 0}, 1.0, 1.0},
      {"hard edge on the surface", 1, r100, 1.0, 0.0, false, {100, 0, 0}, 1.0, 1.0},
      {"hard edge outside", 1, r100, 1.0, 0.0, false, {100.1, 0, 0}, 0.0, 0.0},
      {"falloff above 1 reads as 1", 1, r100, 1.0, 3.0, false, {50, 0, 0}, 0.5, 0.5},
      {"zero radius encloses nothing", 1, {0, 0, 0}, 1.0, 1.0, false, {0, 0, 0}, 0.0, 0.0},
      {"box along x", 2, box, 1.0, 1.0, false, {50, 0, 0}, 0.5, 0.5},
      {"box along y", 2, box, 1.0, 1.0, false, {0, 40, 0}, 0.2, 0.2},
      {"box takes the largest ratio", 2, box, 1.0, 1.0, false, {50, 40, 150}, 0.2, 0.2},
      {"box outside one face", 2, box, 1.0, 1.0, false, {0, 60, 0}, 0.0, 0.0},
      {"box corner beyond the sphere", 2, r100, 1.0, 1.0, false, {90, 90, 90}, 0.1, 0.1},
      {"invert", 1, r100, 1.0, 1.0, false, {25, 0, 0}, 0.75, 0.75},
      {"invert turns it round", 1, r100, 1.0, 1.0, true, {25, 0, 0}, 0.75, 0.25},
      {"invert outside is full", 1, r100, 0.3, 1.0, true, {150, 0, 0}, 0.0, 0.3},
      {"strength scales", 1, r100, 2.0, 1.0, false, {75, 0, 0}, 0.25, 0.5},
      {"strength clamps at 1", 1, r100, 2.0, 1.0, false, {0, 0, 0}, 1.0, 1.0},
      {"negative strength clamps at 0", 1, r100, -1.0, 1.0, false, {0, 0, 0}, 1.0, 0.0},
  };
  for (const WeightCase& c : cases) {
    SCOPED_TRACE(c.name);
    bc.SetLong(FALLOFF_MODE, c.mode);
    bc.SetVector(FALLOFF_SIZE, c.size);
    bc.SetReal(FALLOFF_STRENGTH, c.strength);
    bc.SetReal(FALLOFF_FALLOFF, c.falloff);
    bc.SetBool(FALLOFF_INVERT, c.invert);
    ASSERT_TRUE(falloff->InitFalloff(&bc, doc, nullptr));
    EXPECT_NEAR(falloff->SampleRaw(c.at), c.raw, 1e-12);
    EXPECT_NEAR(Weight(c.at), c.weight, 1e-12);
  }
}

TEST_F(FalloffTest, AbsentParametersReadAsDefaults) {
  // Nothing set: infinite, full weight.
  ASSERT_TRUE(falloff->InitFalloff(&bc, doc, nullptr));
  EXPECT_EQ(Weight({500, 0, 0}), 1.0);
  // Only the shape set: radius 100, ramp over the whole radius, strength 1, not inverted.
  bc.SetLong(FALLOFF_MODE, FALLOFF_MODE_SPHERE);
  ASSERT_TRUE(falloff->InitFalloff(&bc, doc, nullptr));
  EXPECT_DOUBLE_EQ(Weight({0, 0, 60}), 0.4);
}

TEST_F(FalloffTest, BeforeAnyPreparationSamplesTheDefaultsAtTheOrigin) {
  EXPECT_EQ(falloff->GetMg(), Matrix());
  EXPECT_EQ(Weight({1e4, 0, 0}), 1.0);
}

TEST_F(FalloffTest, NullContainerIsRefusedAndChangesNothing) {
  bc.SetLong(FALLOFF_MODE, FALLOFF_MODE_SPHERE);
  ASSERT_TRUE(falloff->InitFalloff(&bc, doc, nullptr));
  BaseObject* moved = AddNull(Matrix(Vector(1000, 0, 0), {1, 0, 0}, {0, 1, 0}, {0, 0, 1}));
  EXPECT_FALSE(falloff->InitFalloff(nullptr, doc, moved));
  EXPECT_EQ(falloff->GetMg(), Matrix());
  EXPECT_DOUBLE_EQ(Weight({50, 0, 0}), 0.5);
}

TEST_F(FalloffTest, TheShapeSitsInTheGlobalMatrixOfTheObject) {
  // A parent moves and turns its child: the child's global matrix places the box.
  BaseObject* parent = AddNull(Matrix(Vector(0, 0, 300), {0, 0, -1}, {0, 1, 0}, {1, 0, 0}));
  BaseObject* child = BaseObject::Alloc(Onull);
  doc->InsertObject(child, parent, nullptr);
  child->SetMl(Matrix(Vector(100, 0, 0), {2, 0, 0}, {0, 1, 0}, {0, 0, 1}));
  const Matrix mg = child->GetMg();

  bc.SetLong(FALLOFF_MODE, FALLOFF_MODE_BOX);
  bc.SetVector(FALLOFF_SIZE, Vector(10, 20, 30));
  bc.SetReal(FALLOFF_FALLOFF, 0.0);
  ASSERT_TRUE(falloff->InitFalloff(&bc, doc, child));
  EXPECT_EQ(falloff->GetMg(), mg);

  struct Probe {
    Vector local;
    Real weight;
  } probes[] = {{{9, 0, 0}, 1},  {{11, 0, 0}, 0}, {{0, -19, 0}, 1},
                {{0, 21, 0}, 0}, {{0, 0, 29}, 1}, {{0, 0, -31}, 0}};
  for (const Probe& probe : probes) {
    EXPECT_EQ(Weight(mg * probe.local), probe.weight)
        << probe.local.x << " " << probe.local.y << " " << probe.local.z;
  }
  // The object's own position, not the origin, is the centre.
  EXPECT_EQ(Weight(Vector(0, 0, 0)), 0.0);
}

TEST_F(FalloffTest, FalloffObjectCarriesAFalloffInItsOwnContainer) {
  BaseObject* object = BaseObject::Alloc(Ofalloff);
  ASSERT_NE(object, nullptr);
  doc->InsertObject(object, nullptr, nullptr);
  EXPECT_TRUE(object->IsInstanceOf(Ofalloffbase));
  EXPECT_FALSE(AddNull(Matrix())->IsInstanceOf(Ofalloffbase));
  Description description;
  ASSERT_TRUE(kwhost::GetNodeDescription(object, description));
  EXPECT_NE(description.FindByIdent("FALLOFF_SIZE"), nullptr);

  object->SetMg(Matrix(Vector(0, 500, 0), {1, 0, 0}, {0, 1, 0}, {0, 0, 1}));
  object->GetDataInstance()->SetLong(FALLOFF_MODE, FALLOFF_MODE_SPHERE);
  ASSERT_TRUE(falloff->InitFalloff(object->GetDataInstance(), doc, object));
  EXPECT_DOUBLE_EQ(Weight({0, 550, 0}), 0.5);
}

// ---------------------------------------------------------------------------------------------
// Handles and outline

TEST_F(FalloffTest, HandlesRoundTripThroughTheSize) {
  struct HandleCase {
    LONG mode;
    LONG index;
    Vector position;  // where GetHandle puts it for size (30, 40, 50)
    Vector direction;
    Vector dragTo;
    Vector newSize;
  } cases[] = {
      {FALLOFF_MODE_SPHERE, 0, {30, 0, 0}, {1, 0, 0}, {70, 5, -3}, {70, 40, 50}},
      {FALLOFF_MODE_BOX, 0, {30, 0, 0}, {1, 0, 0}, {12, 99, 99}, {12, 40, 50}},
      {FALLOFF_MODE_BOX, 1, {0, 40, 0}, {0, 1, 0}, {1, 42, 1}, {30, 42, 50}},
      {FALLOFF_MODE_BOX, 2, {0, 0, 50}, {0, 0, 1}, {0, 0, 8}, {30, 40, 8}},
      {FALLOFF_MODE_BOX, 2, {0, 0, 50}, {0, 0, 1}, {0, 0, -8}, {30, 40, 0}},
  };
  for (const HandleCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "mode " << c.mode << " handle " << c.index);
    bc.SetLong(FALLOFF_MODE, c.mode);
    bc.SetVector(FALLOFF_SIZE, Vector(30, 40, 50));
    HandleInfo info;
    falloff->GetHandle(c.index, &bc, info);
    EXPECT_EQ(info.position, c.position);
    EXPECT_EQ(info.direction, c.direction);
    EXPECT_EQ(info.type, 0);
    // Dragging a handle to where it is changes nothing.
    falloff->SetHandle(c.index, info.position, &bc, info);
    EXPECT_EQ(bc.GetVector(FALLOFF_SIZE), Vector(30, 40, 50));
    falloff->SetHandle(c.index, c.dragTo, &bc, info);
    EXPECT_EQ(bc.GetVector(FALLOFF_SIZE), c.newSize);
  }
}

TEST_F(FalloffTest, HandleCountsFollowTheShape) {
  EXPECT_EQ(falloff->GetHandleCount(&bc), 0);  // infinite
  bc.SetLong(FALLOFF_MODE, FALLOFF_MODE_SPHERE);
  EXPECT_EQ(falloff->GetHandleCount(&bc), 1);
  bc.SetLong(FALLOFF_MODE, FALLOFF_MODE_BOX);
  EXPECT_EQ(falloff->GetHandleCount(&bc), 3);
  // Without a container the prepared shape counts.
  ASSERT_TRUE(falloff->InitFalloff(&bc, doc, nullptr));
  EXPECT_EQ(falloff->GetHandleCount(nullptr), 3);
}

TEST_F(FalloffTest, OutlineIsDrawnInTheFalloffMatrixInTheObjectPassOnly) {
  const Matrix mg(Vector(10, 20, 30), {0, 1, 0}, {-1, 0, 0}, {0, 0, 1});
  BaseObject* op = AddNull(mg);
  BaseDraw bd;
  BaseDrawHelp bh(&bd, op);

  bc.SetLong(FALLOFF_MODE, FALLOFF_MODE_SPHERE);
  bc.SetVector(FALLOFF_SIZE, Vector(5, 99, 99));
  ASSERT_TRUE(falloff->InitFalloff(&bc, doc, op));
  bd.BeginPass(DRAWPASS_HANDLES, op);
  EXPECT_TRUE(falloff->Draw(&bd, &bh, DRAWPASS_HANDLES, &bc));
  EXPECT_TRUE(bd.Commands().empty());
  bd.BeginPass(DRAWPASS_OBJECT, op);
  EXPECT_TRUE(falloff->Draw(&bd, &bh, DRAWPASS_OBJECT, &bc));
  ASSERT_EQ(bd.Commands().size(), 3u);
  // The three circles span the XY, XZ and YZ planes of the falloff, with radius size.x.
  const Vector axes[3][2] = {
      {{5, 0, 0}, {0, 5, 0}}, {{5, 0, 0}, {0, 0, 5}}, {{0, 5, 0}, {0, 0, 5}}};
  for (int i = 0; i < 3; ++i) {
    const DrawCommand& circle = bd.Commands()[i];
    EXPECT_EQ(circle.kind, DrawCommand::Kind::Circle);
    EXPECT_EQ(circle.circle.off, mg.off);
    EXPECT_TRUE(kwtest::VectorNear(mg.TransformDirection(axes[i][0]), circle.circle.v1));
    EXPECT_TRUE(kwtest::VectorNear(mg.TransformDirection(axes[i][1]), circle.circle.v2));
  }

  bd.ClearCommands();
  bc.SetLong(FALLOFF_MODE, FALLOFF_MODE_BOX);
  bc.SetVector(FALLOFF_SIZE, Vector(1, 2, 3));
  EXPECT_TRUE(falloff->Draw(&bd, &bh, DRAWPASS_OBJECT, &bc));
  ASSERT_EQ(bd.Commands().size(), 12u);
  // Every edge joins two corners along one axis, with the full edge length.
  Real lengths[3] = {0, 0, 0};
  for (const DrawCommand& line : bd.Commands()) {
    ASSERT_EQ(line.kind, DrawCommand::Kind::Line);
    const Vector a = InvertMatrix(mg) * line.a, b = InvertMatrix(mg) * line.b;
    for (const Vector& corner : {a, b}) {
      EXPECT_NEAR(std::abs(corner.x), 1, 1e-12);
      EXPECT_NEAR(std::abs(corner.y), 2, 1e-12);
      EXPECT_NEAR(std::abs(corner.z), 3, 1e-12);
    }
    const Vector d = b - a;
    const int axis = std::abs(d.x) > 1e-9 ? 0 : std::abs(d.y) > 1e-9 ? 1 : 2;
    lengths[axis] += Len(d);
  }
  EXPECT_NEAR(lengths[0], 4 * 2, 1e-12);
  EXPECT_NEAR(lengths[1], 4 * 4, 1e-12);
  EXPECT_NEAR(lengths[2], 4 * 6, 1e-12);

  bd.ClearCommands();
  bc.SetLong(FALLOFF_MODE, FALLOFF_MODE_INFINITE);
  EXPECT_TRUE(falloff->Draw(&bd, &bh, DRAWPASS_OBJECT, &bc));
  EXPECT_TRUE(bd.Commands().empty());
}

TEST_F(FalloffTest, DescriptionListsTheHostParametersAndTheShapes) {
  RegisterShape();
  Description description;
  ASSERT_TRUE(falloff->AddFalloffToDescription(&description, &bc));
  const char* idents[] = {"FALLOFF_MODE", "FALLOFF_SIZE", "FALLOFF_STRENGTH", "FALLOFF_FALLOFF",
                          "FALLOFF_INVERT"};
  for (const char* ident : idents) {
    const Description::Entry* entry = description.FindByIdent(ident);
    ASSERT_NE(entry, nullptr) << ident;
    EXPECT_FALSE(entry->bc.GetBool(DESC_HIDE)) << ident;
  }
  EXPECT_EQ(description.Find(FALLOFF_SIZE)->type, DescType::Vector);
  EXPECT_EQ(description.Find(FALLOFF_INVERT)->type, DescType::Bool);
  EXPECT_EQ(description.Find(FALLOFF_MODE)->bc.GetString(DESC_CYCLE),
            "0:Infinite;1:Sphere;2:Box;" + std::to_string(kShapeId) + ":Recorder");
  EXPECT_FALSE(falloff->AddFalloffToDescription(nullptr, &bc));
}

// ---------------------------------------------------------------------------------------------
// Falloff-shape plug-ins

TEST_F(FalloffTest, ShapeGetsInitInitFalloffSamplesThenFreeFalloff) {
  RegisterShape();
  const Matrix mg(Vector(100, 0, 0), {0, 0, -1}, {0, 1, 0}, {1, 0, 0});
  BaseObject* op = AddNull(mg);
  bc.SetLong(FALLOFF_MODE, kShapeId);

  ASSERT_TRUE(falloff->InitFalloff(&bc, doc, op));
  const Vector local(1, 2, 3);
  Weight(mg * local);
  Weight(mg * Vector(0, 0, 0));
  ASSERT_TRUE(falloff->InitFalloff(&bc, doc, op));
  Weight(mg * local);
  C4D_Falloff::Free(falloff);

  const std::vector<std::string> expected = {"Init",        "InitFalloff", "Sample",      "Sample",
                                             "FreeFalloff", "Init",        "InitFalloff", "Sample",
                                             "FreeFalloff", "destroy"};
  EXPECT_EQ(Log().calls, expected);
  // The shape measures in falloff space and maps back through data.mat.
  ASSERT_EQ(Log().samples.size(), 3u);
  EXPECT_TRUE(kwtest::VectorNear(local, Log().samples[0]));
  EXPECT_TRUE(kwtest::VectorNear(Vector(), Log().samples[1]));
  EXPECT_EQ(Log().matrices[0], mg);
  EXPECT_EQ(bc.GetReal(kShapeRange), 25.0);  // Init wrote its default
}

TEST_F(FalloffTest, ShapeResultIsInvertedScaledAndClamped) {
  RegisterShape();
  bc.SetLong(FALLOFF_MODE, kShapeId);
  struct RawCase {
    Real raw;
    Real strength;
    Bool invert;
    Real weight;
  } cases[] = {{0.25, 1.0, false, 0.25},       {0.25, 1.0, true, 0.75}, {0.25, 2.0, false, 0.5},
               {1.7, 1.0, false, 1.0},         {1.7, 1.0, true, 0.0},   {-0.3, 1.0, false, 0.0},
               {std::nan(""), 1.0, false, 0.0}};
  for (const RawCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.raw << " " << c.strength << " " << c.invert);
    Log().raw = c.raw;
    bc.SetReal(FALLOFF_STRENGTH, c.strength);
    bc.SetBool(FALLOFF_INVERT, c.invert);
    ASSERT_TRUE(falloff->InitFalloff(&bc, doc, nullptr));
    EXPECT_EQ(Weight({}), c.weight);
    if (!std::isnan(c.raw)) {
      EXPECT_EQ(falloff->SampleRaw({}), c.raw);
    }
  }
}

TEST_F(FalloffTest, ChangingTheModeReleasesTheShape) {
  RegisterShape();
  bc.SetLong(FALLOFF_MODE, kShapeId);
  ASSERT_TRUE(falloff->InitFalloff(&bc, doc, nullptr));
  EXPECT_EQ(Log().alive, 1);
  bc.SetLong(FALLOFF_MODE, FALLOFF_MODE_SPHERE);
  ASSERT_TRUE(falloff->InitFalloff(&bc, doc, nullptr));
  EXPECT_EQ(Log().alive, 0);
  const std::vector<std::string> expected = {"Init", "InitFalloff", "FreeFalloff", "destroy"};
  EXPECT_EQ(Log().calls, expected);
  EXPECT_DOUBLE_EQ(Weight({50, 0, 0}), 0.5);
}

TEST_F(FalloffTest, SetModeWritesTheModeAndTheShapeDefaults) {
  RegisterShape();
  ASSERT_TRUE(falloff->SetMode(kShapeId, &bc));
  EXPECT_EQ(bc.GetLong(FALLOFF_MODE), kShapeId);
  EXPECT_EQ(bc.GetReal(kShapeRange), 25.0);
  EXPECT_EQ(falloff->GetMode(), kShapeId);
  // A user's value survives a second selection; the earlier Init is released first.
  bc.SetReal(kShapeRange, 3.0);
  ASSERT_TRUE(falloff->SetMode(kShapeId, &bc));
  EXPECT_EQ(bc.GetReal(kShapeRange), 3.0);
  const std::vector<std::string> expected = {"Init", "FreeFalloff", "Init"};
  EXPECT_EQ(Log().calls, expected);

  ASSERT_TRUE(falloff->SetMode(FALLOFF_MODE_BOX, &bc));
  EXPECT_EQ(bc.GetLong(FALLOFF_MODE), FALLOFF_MODE_BOX);
  EXPECT_EQ(Log().alive, 0);
  // An ID that names no shape is refused and leaves the container alone.
  EXPECT_FALSE(falloff->SetMode(4242, &bc));
  EXPECT_EQ(bc.GetLong(FALLOFF_MODE), FALLOFF_MODE_BOX);
  EXPECT_FALSE(falloff->SetMode(FALLOFF_MODE_SPHERE, nullptr));
}

TEST_F(FalloffTest, UnpreparedOrUnknownShapesMeasureNothing) {
  RegisterShape();
  Log().raw = 1.0;
  // Selected but never prepared: Sample must not reach the shape.
  ASSERT_TRUE(falloff->SetMode(kShapeId, &bc));
  EXPECT_EQ(falloff->SampleRaw({}), 0.0);
  // A preparation the shape refuses.
  Log().initFalloffResult = false;
  EXPECT_FALSE(falloff->InitFalloff(&bc, doc, nullptr));
  EXPECT_EQ(Weight({}), 0.0);
  EXPECT_EQ(std::count(Log().calls.begin(), Log().calls.end(), "Sample"), 0);
  // A shape module that is not loaded.
  bc.SetLong(FALLOFF_MODE, 4242);
  EXPECT_FALSE(falloff->InitFalloff(&bc, doc, nullptr));
  EXPECT_EQ(Weight({}), 0.0);
}

TEST_F(FalloffTest, GetDVisibleHidesEntriesOfTheHostAndTheShape) {
  // The shape's own description, registered the way a module registers it.
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("kw_falloff_test_" + std::to_string(getpid()));
  std::filesystem::create_directories(folder / "res" / "description");
  std::ofstream(folder / "res" / "strings.json") << R"({"strings": {}})";
  std::ofstream(folder / "res" / "description" / "frecorder.json") << R"({"name": "frecorder",
    "parameters": [{"id": 7000, "ident": "RECORDER_RANGE", "type": "real", "label": "Range"},
                   {"id": 7001, "ident": "RECORDER_SECRET", "type": "real", "label": "Secret"}]})";
  GeResource resource;
  ASSERT_TRUE(resource.Init(folder.string()));
  ASSERT_TRUE(RegisterDescription(kShapeId, "frecorder", &resource));
  std::filesystem::remove_all(folder);
  RegisterShape();

  bc.SetLong(FALLOFF_MODE, kShapeId);
  Description description;
  ASSERT_TRUE(falloff->AddFalloffToDescription(&description, &bc));
  struct Visibility {
    LONG id;
    Bool hidden;
  } expected[] = {{FALLOFF_MODE, false},    {FALLOFF_SIZE, true},    {FALLOFF_STRENGTH, false},
                  {FALLOFF_FALLOFF, false}, {FALLOFF_INVERT, false}, {kShapeRange, false},
                  {kShapeSecret, true}};
  for (const Visibility& v : expected) {
    const Description::Entry* entry = description.Find(v.id);
    ASSERT_NE(entry, nullptr) << v.id;
    EXPECT_EQ(entry->bc.GetBool(DESC_HIDE), v.hidden) << v.id;
  }
}

TEST_F(FalloffTest, CheckDirtyAndMessagesGoToTheShape) {
  RegisterShape();
  // Host shapes never change on their own and take every message.
  EXPECT_FALSE(falloff->CheckDirty(&bc));
  EXPECT_TRUE(falloff->Message(MSG_UPDATE, &bc, nullptr));

  bc.SetLong(FALLOFF_MODE, kShapeId);
  // The drag-and-drop check may come before the first preparation.
  DescriptionCheckDragAndDrop drop{DescID(kShapeRange), nullptr, true};
  EXPECT_TRUE(falloff->Message(MSG_DESCRIPTION_CHECKDRAGANDDROP, &bc, &drop));
  EXPECT_FALSE(drop.result);

  ASSERT_TRUE(falloff->InitFalloff(&bc, doc, nullptr));
  EXPECT_FALSE(falloff->CheckDirty(&bc));
  Log().dirty = true;
  EXPECT_TRUE(falloff->CheckDirty(&bc));
  EXPECT_EQ(Log().calls.front(), "Message 26");
}

TEST_F(FalloffTest, ShapeDirtinessMarksTheOwnerThroughTheHost) {
  RegisterShape();
  BaseObject* owner = AddNull(Matrix());
  BaseObject* other = AddNull(Matrix());
  BaseContainer* ownerBc = owner->GetDataInstance();
  ownerBc->SetLong(FALLOFF_MODE, kShapeId);
  ASSERT_TRUE(falloff->InitFalloff(ownerBc, doc, owner));

  const LLONG before = owner->GetDirty(DIRTYFLAGS_DATA);
  EXPECT_FALSE(kwhost::CheckFalloffDirty(owner));
  EXPECT_EQ(owner->GetDirty(DIRTYFLAGS_DATA), before);
  Log().dirty = true;
  EXPECT_TRUE(kwhost::CheckFalloffDirty(owner));
  EXPECT_GT(owner->GetDirty(DIRTYFLAGS_DATA), before);
  // Only the falloffs prepared with the owner's container are asked.
  const LLONG otherBefore = other->GetDirty(DIRTYFLAGS_DATA);
  EXPECT_FALSE(kwhost::CheckFalloffDirty(other));
  EXPECT_EQ(other->GetDirty(DIRTYFLAGS_DATA), otherBefore);
  // A freed falloff is no longer asked.
  C4D_Falloff::Free(falloff);
  EXPECT_FALSE(kwhost::CheckFalloffDirty(owner));
}

TEST_F(FalloffTest, ShapeDrawsInTheObjectPass) {
  RegisterShape();
  BaseObject* op = AddNull(Matrix());
  BaseDraw bd;
  BaseDrawHelp bh(&bd, op);
  bc.SetLong(FALLOFF_MODE, kShapeId);
  ASSERT_TRUE(falloff->InitFalloff(&bc, doc, op));
  EXPECT_TRUE(falloff->Draw(&bd, &bh, DRAWPASS_HANDLES, &bc));
  EXPECT_TRUE(falloff->Draw(&bd, &bh, DRAWPASS_OBJECT, &bc));
  EXPECT_EQ(std::count(Log().calls.begin(), Log().calls.end(), "Draw"), 1);
  EXPECT_EQ(falloff->GetHandleCount(&bc), 0);
}

// ---------------------------------------------------------------------------------------------
// Copies and memory

TEST_F(FalloffTest, CopyGetsParametersMatrixAndAFreshShape) {
  const Matrix mg(Vector(5, 6, 7), {1, 0, 0}, {0, 1, 0}, {0, 0, 1});
  BaseObject* op = AddNull(mg);
  bc.SetLong(FALLOFF_MODE, FALLOFF_MODE_SPHERE);
  ASSERT_TRUE(falloff->InitFalloff(&bc, doc, op));
  C4D_Falloff* copy = C4D_Falloff::Alloc();
  ASSERT_NE(copy, nullptr);
  ASSERT_TRUE(falloff->CopyTo(copy));
  EXPECT_EQ(copy->GetMg(), mg);
  EXPECT_EQ(copy->GetMode(), FALLOFF_MODE_SPHERE);
  Real w = 0;
  copy->Sample(mg * Vector(50, 0, 0), &w);
  EXPECT_DOUBLE_EQ(w, 0.5);

  RegisterShape();
  bc.SetLong(FALLOFF_MODE, kShapeId);
  ASSERT_TRUE(falloff->InitFalloff(&bc, doc, op));
  ASSERT_TRUE(falloff->CopyTo(copy));
  EXPECT_EQ(Log().alive, 2);  // one shape instance per falloff
  BaseContainer copyBc = bc;
  ASSERT_TRUE(copy->InitFalloff(&copyBc, doc, op));
  EXPECT_EQ(copy->SampleRaw(mg * Vector()), Log().raw);

  // When the copy's shape cannot be created the copy is left as it was.
  kwhost::memory::FailAllocation(1);
  EXPECT_FALSE(falloff->CopyTo(copy));
  kwhost::memory::FailAllocation(0);
  EXPECT_EQ(Log().alive, 2);
  EXPECT_EQ(copy->SampleRaw(mg * Vector()), Log().raw);
  C4D_Falloff::Free(copy);
  EXPECT_FALSE(falloff->CopyTo(nullptr));
}

TEST_F(FalloffTest, AllocationFailureIsReportedCleanly) {
  kwhost::memory::FailAllocation(1);
  C4D_Falloff* failed = C4D_Falloff::Alloc();
  EXPECT_EQ(failed, nullptr);

  // The shape instance cannot be created: the preparation fails and nothing is measured.
  RegisterShape();
  bc.SetLong(FALLOFF_MODE, kShapeId);
  kwhost::memory::FailAllocation(1);
  EXPECT_FALSE(falloff->InitFalloff(&bc, doc, nullptr));
  EXPECT_EQ(Weight({}), 0.0);
  EXPECT_EQ(Log().alive, 0);
  kwhost::memory::FailAllocation(1);
  EXPECT_FALSE(falloff->SetMode(kShapeId, &bc));
  kwhost::memory::FailAllocation(1);
  Description description;
  EXPECT_FALSE(falloff->AddFalloffToDescription(&description, &bc));
  EXPECT_TRUE(description.Entries().empty());
  // Once memory is back, the same falloff works.
  EXPECT_TRUE(falloff->InitFalloff(&bc, doc, nullptr));
  EXPECT_EQ(Weight({}), Log().raw);
}

}  // namespace
