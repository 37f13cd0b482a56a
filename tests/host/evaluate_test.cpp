// Scene evaluation: primitives' generator caches, deform caches, and the order and contract in
// which deformers run.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "kwtest.h"

namespace {

constexpr LONG kWarpId = 1099111;
constexpr LONG kDirtyShapeId = 1099112;
constexpr LONG WARP_SCALE = 1000;   // Real 1: scales the object-local points
constexpr LONG WARP_OFFSET = 1001;  // Vector: then moves them, in object-local space
constexpr LONG WARP_FAIL = 1002;    // Bool: ModifyObject reports failure

/// One ModifyObject call as the deformer saw it.
struct ModifyCall {
  BaseObject* mod;
  BaseObject* op;
  Matrix opMg, modMg;
};

struct EvalLog {
  std::vector<std::string> calls;  // "check <deformer>", "modify <deformer> <object>"
  std::vector<ModifyCall> modifies;
  std::map<std::string, Bool> dirtyAtCheck;  // the deformer's data dirtiness in CheckDirty
  Bool shapeDirty = false;
};

EvalLog& Log() {
  static EvalLog log;
  return log;
}

/// A deformer that scales and then moves the points, weighted by its falloff. It polls the
/// break test once and stops without moving anything when asked to.
class Warp : public ObjectData {
 public:
  static NodeData* Alloc() { return NewObj<Warp>("tests\\evaluate", __LINE__); }

  Bool Init(GeListNode* node) override {
    auto* op = static_cast<BaseObject*>(node);
    op->GetDataInstance()->SetReal(WARP_SCALE, 1.0);
    falloff_ = C4D_Falloff::Alloc();
    return falloff_ && falloff_->InitFalloff(op->GetDataInstance(), nullptr, op);
  }
  void Free(GeListNode*) override { C4D_Falloff::Free(falloff_); }
  void CheckDirty(BaseObject* op, BaseDocument*) override {
    Log().calls.push_back("check " + op->GetName());
    Log().dirtyAtCheck[op->GetName()] = op->IsDirty(DIRTYFLAGS_DATA);
  }
  Bool ModifyObject(BaseObject* mod, BaseDocument* doc, BaseObject* op, const Matrix& opMg,
                    const Matrix& modMg, Real, LONG, BaseThread* thread) override {
    Log().calls.push_back("modify " + mod->GetName() + " " + op->GetName());
    Log().modifies.push_back({mod, op, opMg, modMg});
    BaseContainer* bc = mod->GetDataInstance();
    if (bc->GetBool(WARP_FAIL)) return false;
    falloff_->InitFalloff(bc, doc, mod);
    if (thread && thread->TestBreak()) return true;
    const Real scale = bc->GetReal(WARP_SCALE);
    const Vector offset = bc->GetVector(WARP_OFFSET);
    Vector* points = ToPoint(op)->GetPointW();
    for (LONG i = 0; i < ToPoint(op)->GetPointCount(); ++i) {
      Real w = 0;
      falloff_->Sample(opMg * points[i], &w);
      points[i] += (points[i] * scale + offset - points[i]) * w;
    }
    return true;
  }

 private:
  C4D_Falloff* falloff_ = nullptr;
};

/// A falloff shape whose only trait is the dirtiness the test gives it.
class DirtyShape : public FalloffData {
 public:
  static FalloffData* Alloc() { return NewObj<DirtyShape>("tests\\evaluate", __LINE__); }
  Bool CheckDirty(BaseContainer*) override { return Log().shapeDirty; }
};

class EvaluateTest : public kwtest::HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    Log() = EvalLog();
    ASSERT_TRUE(RegisterObjectPlugin(kWarpId, "Warp", OBJECT_MODIFIER, Warp::Alloc, "", nullptr, 0,
                                     "Warp"));
  }
  void TearDown() override {
    HostTest::TearDown();
    kwhost::ClearRegistry();
  }

  /// Inserts `op` named `name` as the last child of `parent` (top level when null).
  template <class T>
  T* Add(T* op, BaseObject* parent, const char* name) {
    BaseObject* last = parent ? parent->GetDown() : doc->GetFirstObject();
    while (last && last->GetNext()) last = last->GetNext();
    doc->InsertObject(op, parent, last);
    op->SetName(name);
    return op;
  }
  BaseObject* AddWarp(BaseObject* parent, const char* name, Real scale, const Vector& offset) {
    BaseObject* warp = Add(BaseObject::Alloc(kWarpId), parent, name);
    warp->GetDataInstance()->SetReal(WARP_SCALE, scale);
    warp->GetDataInstance()->SetVector(WARP_OFFSET, offset);
    return warp;
  }
  PolygonObject* AddMesh(BaseObject* parent, const char* name) {
    return Add(kwtest::MakeGrid(20, 10, 2, 1), parent, name);
  }
  Bool Execute(BaseThread* thread = nullptr) {
    return doc->ExecutePasses(thread, true, true, true, 0);
  }

  static std::vector<Vector> Moved(const std::vector<Vector>& points, Real scale,
                                   const Vector& offset) {
    std::vector<Vector> moved;
    for (const Vector& p : points) moved.push_back(p * scale + offset);
    return moved;
  }
  static void ExpectPoints(const std::vector<Vector>& expected, const BaseObject* op) {
    const std::vector<Vector> actual = kwtest::Points(op);
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
      EXPECT_TRUE(kwtest::VectorNear(expected[i], actual[i])) << "point " << i;
    }
  }
};

// ---------------------------------------------------------------------------------------------
// Generators

/// Every edge of a closed, consistently wound mesh is walked once in each direction.
bool ClosedAndConsistent(const PolygonObject* mesh) {
  std::map<std::pair<LONG, LONG>, int> walked;
  for (LONG i = 0; i < mesh->GetPolygonCount(); ++i) {
    const CPolygon& p = mesh->GetPolygonR()[i];
    const std::vector<LONG> corners =
        p.IsTriangle() ? std::vector<LONG>{p.a, p.b, p.c} : std::vector<LONG>{p.a, p.b, p.c, p.d};
    for (size_t k = 0; k < corners.size(); ++k) {
      ++walked[{corners[k], corners[(k + 1) % corners.size()]}];
    }
  }
  for (const auto& [edge, count] : walked) {
    if (count != 1 || walked.count({edge.second, edge.first}) != 1) return false;
  }
  return true;
}

/// Whether every polygon's face vector (b - a) × (c - a) points along `outward(centre)`.
template <class Outward>
bool FacesPointOutward(const PolygonObject* mesh, Outward outward) {
  const Vector* pts = mesh->GetPointR();
  for (LONG i = 0; i < mesh->GetPolygonCount(); ++i) {
    const CPolygon& p = mesh->GetPolygonR()[i];
    const Vector centre = (pts[p.a] + pts[p.b] + pts[p.c] + pts[p.d]) / 4.0;
    if (Dot(Cross(pts[p.b] - pts[p.a], pts[p.c] - pts[p.a]), outward(centre)) <= 0) return false;
  }
  return true;
}

TEST_F(EvaluateTest, PrimitivesBuildOrientedPolygonCaches) {
  struct PrimitiveCase {
    const char* name;
    LONG type;
    std::vector<std::pair<LONG, GeData>> params;
    LONG points, polygons;
    bool closed;
  } cases[] = {
      {"default plane", Oplane, {}, 21 * 21, 400, false},
      {"plane 2 x 1", Oplane, {{1100, 100.0}, {1101, 50.0}, {1102, 2}, {1103, 1}}, 6, 2, false},
      {"plane without segments", Oplane, {{1102, 0}, {1103, -4}}, 4, 1, false},
      {"default cube", Ocube, {}, 8, 6, true},
      {"segmented cube",
       Ocube,
       {{1100, Vector(10, 20, 30)}, {1102, 2}, {1103, 3}, {1104, 4}},
       3 * 4 * 5 - 1 * 2 * 3,
       2 * (2 * 3 + 3 * 4 + 2 * 4),
       true},
      {"default sphere", Osphere, {}, 24 * 11 + 2, 24 * 12, true},
      {"coarsest sphere", Osphere, {{1110, 5.0}, {1111, 3}}, 3 + 2, 6, true},
  };
  for (const PrimitiveCase& c : cases) {
    SCOPED_TRACE(c.name);
    BaseObject* op = Add(BaseObject::Alloc(c.type), nullptr, c.name);
    for (const auto& [id, value] : c.params) op->GetDataInstance()->SetData(id, value);
    op->SetMg(Matrix(Vector(1, 2, 3), {0, 1, 0}, {-1, 0, 0}, {0, 0, 1}));
    ASSERT_TRUE(Execute());
    ASSERT_NE(op->GetCache(), nullptr);
    ASSERT_TRUE(op->GetCache()->IsInstanceOf(Opolygon));
    const auto* mesh = static_cast<const PolygonObject*>(op->GetCache());
    EXPECT_EQ(mesh->GetPointCount(), c.points);
    EXPECT_EQ(mesh->GetPolygonCount(), c.polygons);
    EXPECT_EQ(mesh->GetCacheOwner(), op);
    EXPECT_EQ(mesh->GetMg(), op->GetMg());
    EXPECT_EQ(op->GetDeformCache(), nullptr);  // no deformer
    if (c.closed) {
      EXPECT_TRUE(ClosedAndConsistent(mesh));
      EXPECT_TRUE(FacesPointOutward(mesh, [](const Vector& centre) { return centre; }));
    } else {
      EXPECT_TRUE(FacesPointOutward(mesh, [](const Vector&) { return Vector(0, 1, 0); }));
    }
  }
}

TEST_F(EvaluateTest, PrimitiveShapesFollowTheirParameters) {
  BaseObject* plane = Add(BaseObject::Alloc(Oplane), nullptr, "plane");
  plane->GetDataInstance()->SetReal(1100, 300.0);
  plane->GetDataInstance()->SetReal(1101, 500.0);
  BaseObject* cube = Add(BaseObject::Alloc(Ocube), nullptr, "cube");
  cube->GetDataInstance()->SetVector(1100, Vector(10, 20, 30));
  BaseObject* sphere = Add(BaseObject::Alloc(Osphere), nullptr, "sphere");
  sphere->GetDataInstance()->SetReal(1110, 7.0);
  ASSERT_TRUE(Execute());

  // The plane lies in XZ, rows running along x from (-x, -z).
  const std::vector<Vector> planePoints = kwtest::Points(plane->GetCache());
  EXPECT_EQ(planePoints[0], Vector(-150, 0, -250));
  EXPECT_EQ(planePoints[1], Vector(-135, 0, -250));
  EXPECT_EQ(planePoints[21], Vector(-150, 0, -225));
  EXPECT_EQ(planePoints.back(), Vector(150, 0, 250));
  EXPECT_EQ(plane->GetRad(), Vector(150, 0, 250));
  EXPECT_EQ(cube->GetRad(), Vector(5, 10, 15));
  for (const Vector& p : kwtest::Points(cube->GetCache())) {
    EXPECT_EQ(Vector(std::abs(p.x), std::abs(p.y), std::abs(p.z)), Vector(5, 10, 15));
  }
  const std::vector<Vector> spherePoints = kwtest::Points(sphere->GetCache());
  EXPECT_EQ(spherePoints.front(), Vector(0, 7, 0));
  EXPECT_EQ(spherePoints.back(), Vector(0, -7, 0));
  for (const Vector& p : spherePoints) EXPECT_NEAR(Len(p), 7.0, 1e-12);
}

// ---------------------------------------------------------------------------------------------
// Deformation

TEST_F(EvaluateTest, DeformerMovesACopyOfItsParentsPoints) {
  PolygonObject* mesh = AddMesh(nullptr, "mesh");
  mesh->SetMg(Matrix(Vector(0, 0, 50), {0, 0, 1}, {0, 1, 0}, {-1, 0, 0}));
  VariableTag* map = mesh->MakeVariableTag(Tvertexmap, mesh->GetPointCount());
  map->SetName("w");
  map->GetDataAddressW()[1] = 0.5f;
  BaseObject* warp = AddWarp(mesh, "warp", 1.0, Vector(0, 10, 0));
  warp->SetMl(Matrix(Vector(3, 0, 0), {1, 0, 0}, {0, 1, 0}, {0, 0, 1}));
  const std::vector<Vector> original = kwtest::Points(mesh);

  ASSERT_TRUE(Execute());
  BaseObject* deformed = mesh->GetDeformCache();
  ASSERT_NE(deformed, nullptr);
  ExpectPoints(Moved(original, 1.0, Vector(0, 10, 0)), deformed);
  ExpectPoints(original, mesh);
  // The copy carries the tags, sits where its object is, and has no children.
  auto* mapCopy = static_cast<VariableTag*>(deformed->GetTag(Tvertexmap));
  ASSERT_NE(mapCopy, nullptr);
  EXPECT_EQ(mapCopy->GetName(), "w");
  EXPECT_EQ(mapCopy->GetDataAddressR()[1], 0.5f);
  EXPECT_EQ(deformed->GetMg(), mesh->GetMg());
  EXPECT_EQ(deformed->GetDown(), nullptr);
  EXPECT_EQ(static_cast<PolygonObject*>(deformed)->GetPolygonCount(), mesh->GetPolygonCount());

  ASSERT_EQ(Log().modifies.size(), 1u);
  const ModifyCall& call = Log().modifies[0];
  EXPECT_EQ(call.mod, warp);
  EXPECT_EQ(call.op, deformed);
  EXPECT_EQ(call.opMg, mesh->GetMg());
  EXPECT_EQ(call.modMg, warp->GetMg());
}

TEST_F(EvaluateTest, DeformerAffectsItsParentAndEveryPointObjectBelowIt) {
  BaseObject* group = Add(BaseObject::Alloc(Onull), nullptr, "group");
  PolygonObject* a = AddMesh(group, "a");
  PolygonObject* a1 = AddMesh(a, "a1");
  BaseObject* spline = Add(BaseObject::Alloc(Ospline), a, "spline");
  ASSERT_TRUE(ToPoint(spline)->ResizePoints(2));
  ToPoint(spline)->GetPointW()[1] = Vector(1, 1, 1);
  AddWarp(group, "warp", 1.0, Vector(0, 10, 0));
  BaseObject* plane = Add(BaseObject::Alloc(Oplane), group, "plane");
  PolygonObject* outside = AddMesh(nullptr, "outside");
  AddWarp(nullptr, "orphan", 1.0, Vector(0, 99, 0));  // no parent: affects nothing

  ASSERT_TRUE(Execute());
  for (BaseObject* op : {static_cast<BaseObject*>(a), static_cast<BaseObject*>(a1), spline}) {
    SCOPED_TRACE(op->GetName());
    ASSERT_NE(op->GetDeformCache(), nullptr);
    ExpectPoints(Moved(kwtest::Points(op), 1.0, Vector(0, 10, 0)), op->GetDeformCache());
  }
  EXPECT_TRUE(spline->GetDeformCache()->IsInstanceOf(Ospline));
  // A primitive's deform cache hangs on its generator cache.
  EXPECT_EQ(plane->GetDeformCache(), nullptr);
  ASSERT_NE(plane->GetCache()->GetDeformCache(), nullptr);
  ExpectPoints(Moved(kwtest::Points(plane->GetCache()), 1.0, Vector(0, 10, 0)),
               plane->GetCache()->GetDeformCache());
  EXPECT_EQ(plane->GetCache()->GetDeformCache()->GetMg(), plane->GetMg());
  EXPECT_EQ(group->GetDeformCache(), nullptr);
  EXPECT_EQ(outside->GetDeformCache(), nullptr);
  const std::vector<std::string> expected = {"check warp",        "modify warp a",
                                             "modify warp a1",    "modify warp spline",
                                             "modify warp plane", "check orphan"};
  EXPECT_EQ(Log().calls, expected);
}

TEST_F(EvaluateTest, DeformersRunInDepthFirstTreeOrder) {
  // The scaling deformer and the moving one, in two arrangements: the one met first in a
  // depth-first walk of the tree works first.
  struct Layout {
    const char* name;
    bool scaleFirst;
    std::vector<std::string> calls;
  } layouts[] = {
      {"scale above the mesh",
       true,
       {"check scale", "modify scale mesh", "check move", "modify move mesh"}},
      {"scale after the mesh",
       false,
       {"check move", "modify move mesh", "check scale", "modify scale mesh"}},
  };
  for (const Layout& layout : layouts) {
    SCOPED_TRACE(layout.name);
    Log() = EvalLog();
    BaseObject* group = Add(BaseObject::Alloc(Onull), nullptr, "group");
    if (layout.scaleFirst) AddWarp(group, "scale", 2.0, Vector());
    PolygonObject* mesh = AddMesh(group, "mesh");
    AddWarp(mesh, "move", 1.0, Vector(0, 10, 0));
    if (!layout.scaleFirst) AddWarp(group, "scale", 2.0, Vector());

    ASSERT_TRUE(Execute());
    EXPECT_EQ(Log().calls, layout.calls);
    std::vector<Vector> expected = kwtest::Points(mesh);
    expected = layout.scaleFirst ? Moved(Moved(expected, 2.0, {}), 1.0, Vector(0, 10, 0))
                                 : Moved(Moved(expected, 1.0, Vector(0, 10, 0)), 2.0, {});
    ExpectPoints(expected, mesh->GetDeformCache());
    BaseObject::Free(group);
  }
}

TEST_F(EvaluateTest, DisabledDeformerIsSkipped) {
  PolygonObject* mesh = AddMesh(nullptr, "mesh");
  BaseObject* off = AddWarp(mesh, "off", 1.0, Vector(0, 10, 0));
  off->SetDeformMode(false);
  ASSERT_TRUE(Execute());
  EXPECT_TRUE(Log().calls.empty());
  EXPECT_EQ(mesh->GetDeformCache(), nullptr);

  AddWarp(mesh, "on", 2.0, Vector());
  ASSERT_TRUE(Execute());
  const std::vector<std::string> expected = {"check on", "modify on mesh"};
  EXPECT_EQ(Log().calls, expected);
  ExpectPoints(Moved(kwtest::Points(mesh), 2.0, {}), mesh->GetDeformCache());
}

TEST_F(EvaluateTest, CachesAreRebuiltFromTheSceneEveryPass) {
  PolygonObject* mesh = AddMesh(nullptr, "mesh");
  BaseObject* warp = AddWarp(mesh, "warp", 1.0, Vector(0, 10, 0));
  BaseObject* plane = Add(BaseObject::Alloc(Oplane), nullptr, "plane");
  const std::vector<Vector> original = kwtest::Points(mesh);

  ASSERT_TRUE(Execute());
  ASSERT_TRUE(Execute());
  // The second pass starts again from the object's own points, not from the last result.
  ExpectPoints(Moved(original, 1.0, Vector(0, 10, 0)), mesh->GetDeformCache());

  warp->GetDataInstance()->SetVector(WARP_OFFSET, Vector(-1, 0, 0));
  plane->GetDataInstance()->SetReal(1100, 40.0);
  ASSERT_TRUE(Execute());
  ExpectPoints(Moved(original, 1.0, Vector(-1, 0, 0)), mesh->GetDeformCache());
  EXPECT_EQ(plane->GetRad().x, 20.0);

  // Once the deformer is gone, so is the deform cache.
  BaseObject::Free(warp);
  ASSERT_TRUE(Execute());
  EXPECT_EQ(mesh->GetDeformCache(), nullptr);
}

TEST_F(EvaluateTest, DeformerIsCheckedBeforeItRunsAndCleanAfterwards) {
  PolygonObject* mesh = AddMesh(nullptr, "mesh");
  BaseObject* warp = AddWarp(mesh, "warp", 1.0, Vector(0, 10, 0));
  ASSERT_TRUE(Execute());
  EXPECT_TRUE(Log().dirtyAtCheck["warp"]);  // new
  EXPECT_FALSE(warp->IsDirty(DIRTYFLAGS_DATA));
  EXPECT_EQ(warp->GetDataInstance()->GetDirty(), 0);

  ASSERT_TRUE(Execute());
  EXPECT_FALSE(Log().dirtyAtCheck["warp"]);
  warp->GetDataInstance()->SetReal(WARP_SCALE, 3.0);
  ASSERT_TRUE(Execute());
  EXPECT_TRUE(Log().dirtyAtCheck["warp"]);
  EXPECT_EQ(warp->GetDataInstance()->GetDirty(), 0);
}

TEST_F(EvaluateTest, FalloffShapeChangeMarksItsDeformerDirty) {
  ASSERT_TRUE(
      RegisterFalloffPlugin(kDirtyShapeId, "Dirty", 0, DirtyShape::Alloc, "", "DirtyShape"));
  PolygonObject* mesh = AddMesh(nullptr, "mesh");
  BaseObject* warp = AddWarp(mesh, "warp", 1.0, Vector());
  warp->GetDataInstance()->SetLong(FALLOFF_MODE, kDirtyShapeId);
  ASSERT_TRUE(Execute());
  ASSERT_TRUE(Execute());
  EXPECT_FALSE(Log().dirtyAtCheck["warp"]);

  Log().shapeDirty = true;
  EXPECT_TRUE(Execute());
  EXPECT_TRUE(Log().dirtyAtCheck["warp"]);
  EXPECT_FALSE(warp->IsDirty(DIRTYFLAGS_DATA));
}

TEST_F(EvaluateTest, BreakStopsThePass) {
  PolygonObject* mesh = AddMesh(nullptr, "mesh");
  AddWarp(mesh, "first", 1.0, Vector(0, 10, 0));
  AddWarp(mesh, "second", 1.0, Vector(0, 10, 0));
  BaseThread thread;

  // A break before the pass starts: nothing is built.
  thread.RequestBreakAfter(0);
  EXPECT_FALSE(Execute(&thread));
  EXPECT_EQ(mesh->GetDeformCache(), nullptr);
  EXPECT_TRUE(Log().calls.empty());

  // A break the first deformer heeds: it leaves the points, and the second does not run.
  thread.RequestBreakAfter(1);
  EXPECT_FALSE(Execute(&thread));
  const std::vector<std::string> expected = {"check first", "modify first mesh"};
  EXPECT_EQ(Log().calls, expected);
  ASSERT_NE(mesh->GetDeformCache(), nullptr);
  ExpectPoints(kwtest::Points(mesh), mesh->GetDeformCache());

  thread.RequestBreakAfter(-1);
  EXPECT_TRUE(Execute(&thread));
  ExpectPoints(Moved(kwtest::Points(mesh), 1.0, Vector(0, 20, 0)), mesh->GetDeformCache());
}

TEST_F(EvaluateTest, FailingDeformerFailsThePass) {
  PolygonObject* mesh = AddMesh(nullptr, "mesh");
  BaseObject* failing = AddWarp(mesh, "failing", 1.0, Vector(0, 10, 0));
  failing->GetDataInstance()->SetBool(WARP_FAIL, true);
  AddWarp(mesh, "later", 1.0, Vector(0, 10, 0));
  EXPECT_FALSE(Execute());
  const std::vector<std::string> expected = {"check failing", "modify failing mesh"};
  EXPECT_EQ(Log().calls, expected);
  // The failed deformer has not been evaluated: it stays dirty for the next pass.
  EXPECT_TRUE(failing->IsDirty(DIRTYFLAGS_DATA));
}

TEST_F(EvaluateTest, AllocationFailureFailsThePassCleanly) {
  BaseObject* group = Add(BaseObject::Alloc(Onull), nullptr, "group");
  PolygonObject* mesh = AddMesh(group, "mesh");
  mesh->MakeVariableTag(Tvertexmap, mesh->GetPointCount())->SetName("w");
  AddWarp(group, "warp", 2.0, Vector(0, 10, 0));
  BaseObject* plane = Add(BaseObject::Alloc(Oplane), group, "plane");
  const std::vector<Vector> original = kwtest::Points(mesh);

  Bool succeeded = false;
  for (LLONG n = 1; n < 200 && !succeeded; ++n) {
    SCOPED_TRACE(n);
    kwhost::memory::FailAllocation(n);
    succeeded = Execute();
    kwhost::memory::FailAllocation(0);
    ExpectPoints(original, mesh);  // the scene itself never changes
  }
  EXPECT_TRUE(succeeded);
  ASSERT_TRUE(Execute());
  ExpectPoints(Moved(original, 2.0, Vector(0, 10, 0)), mesh->GetDeformCache());
  ExpectPoints(Moved(kwtest::Points(plane->GetCache()), 2.0, Vector(0, 10, 0)),
               plane->GetCache()->GetDeformCache());
}

}  // namespace
