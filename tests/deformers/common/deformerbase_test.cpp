#include "deformers/common/kw_deformerbase.h"

#include <gtest/gtest.h>

#include <numbers>

#include "tests/deformers/deformer_fixture.h"

namespace {

using kwtest::VectorNear;

// A deformer with the simplest rule, so the frame around it is what the tests see: it moves
// every point 10 units along the deformer's X axis, scaled by falloff × restriction, and reports
// half that weight as its angle. One own handle sits at (0, 5, 0).
constexpr LONG kProbeId = 1099001;
constexpr LONG PROBE_CONVERTMAPLINK = 1000;  // bool: behave like a Quillform deformer
constexpr LONG PROBE_DISTANCEONLY = 1001;    // bool: write distances whatever the map mode

class ProbeDeformer : public KWDeformerBase {
 public:
  static NodeData* Alloc() { return NewObj<ProbeDeformer>("tests\\probe", __LINE__); }

  Bool Init(GeListNode* node) override {
    if (!KWDeformerBase::Init(node)) return false;
    ownHandleCount = 1;
    return true;
  }

  Bool ModifyObject(BaseObject* mod, BaseDocument* doc, BaseObject* op, const Matrix& opMg,
                    const Matrix& modMg, Real lod, LONG flags, BaseThread* thread) override {
    const BaseContainer* bc = mod->GetDataInstance();
    const DeformCall call{mod, doc, op, opMg, modMg, thread};
    BeginDeform(call, bc->GetBool(PROBE_CONVERTMAPLINK));
    const DifferenceModes modes = bc->GetBool(PROBE_DISTANCEONLY)
                                      ? DifferenceModes::kDistanceOnly
                                      : DifferenceModes::kDistanceOrAngle;
    return DeformPoints(call, modes, [](LONG, const Vector& p, Real f, Real r) {
      return DeformedPoint{p + Vector(10, 0, 0) * (f * r), 0.5 * f * r};
    });
  }

  void GetHandle(BaseObject* op, LONG i, HandleInfo& info) override {
    if (i != 0) {
      KWDeformerBase::GetHandle(op, i, info);
      return;
    }
    info.position = Vector(0, 5, 0);
    info.direction = Vector(0, 1, 0);
  }
};

class DeformerBaseTest : public kwtest::DeformerTest {
 protected:
  void SetUp() override {
    DeformerTest::SetUp();
    ASSERT_TRUE(RegisterObjectPlugin(kProbeId, "Probe", OBJECT_MODIFIER, ProbeDeformer::Alloc, "",
                                     nullptr, 1, "ProbeDeformer"));
  }

  static KWDeformerBase* Base(BaseObject* op) { return op->GetNodeData<KWDeformerBase>(); }

  static Bool PressCreateMap(BaseObject* deformer) {
    DescriptionCommand command{DescID(DEFORMERBASE_CREATEMAP)};
    return deformer->Message(MSG_DESCRIPTION_COMMAND, &command);
  }
};

// A matrix with every part non-trivial: turned, scaled unevenly (by factors whose inverses are
// not exact in binary, so a round trip through it does not come back bit for bit) and moved.
const Matrix kSkewed(Vector(30, -20, 5), Vector(0, 3, 0), Vector(-1, 0, 0), Vector(0, 0, 0.6));

// ---------------------------------------------------------------------------------------------
// Construction

TEST_F(DeformerBaseTest, InitWritesOnlyTheTwoMaximaAndCreatesTheFalloff) {
  BaseObject* deformer = BaseObject::Alloc(kProbeId);
  ASSERT_NE(nullptr, deformer);
  const BaseContainer* bc = deformer->GetDataInstance();
  EXPECT_EQ(100.0, bc->GetReal(DEFORMERBASE_MAXDISTANCE));
  EXPECT_EQ(std::numbers::pi / 2, bc->GetReal(DEFORMERBASE_MAXANGLE));
  for (LONG id :
       {DEFORMERBASE_MAPLINK, DEFORMERBASE_MAPCURVE, DEFORMERBASE_MAPNAME, DEFORMERBASE_MAPMODE}) {
    EXPECT_EQ(DataType::None, bc->GetType(id)) << id;
  }
  KWDeformerBase* base = Base(deformer);
  EXPECT_NE(nullptr, base->GetFalloff());
  EXPECT_TRUE(MatrixEqual(deformer->GetMg(), base->GetLastGizmoMatrix()));
  EXPECT_EQ(0, base->GetLastFalloffShape());
  EXPECT_EQ(1, base->GetOwnHandleCount());
  BaseObject::Free(deformer);
}

TEST_F(DeformerBaseTest, CreationFailsCleanlyAtEveryAllocation) {
  for (LLONG n = 1;; ++n) {
    ASSERT_LT(n, 50) << "never succeeded";
    const LLONG live = kwhost::memory::LiveBlocks();
    kwhost::memory::FailAllocation(n);
    BaseObject* deformer = BaseObject::Alloc(ID_KWTWIRL);
    kwhost::memory::FailAllocation(0);
    if (!deformer) {
      EXPECT_EQ(live, kwhost::memory::LiveBlocks()) << "leak when allocation " << n << " failed";
      continue;
    }
    EXPECT_NE(nullptr, Base(deformer)->GetFalloff());
    BaseObject::Free(deformer);
    EXPECT_EQ(live, kwhost::memory::LiveBlocks());
    break;
  }
}

TEST_F(DeformerBaseTest, ClonesCarryTheirOwnFalloff) {
  BaseObject* mesh = AddMesh({{0, 0, 0}});
  BaseObject* deformer = AddDeformer(ID_KWTWIRL, mesh);
  SetSphereFalloff(deformer, 250);
  Params(deformer)->SetReal(TWIRL_RADIUS, 123);
  BaseObject* copy = deformer->GetClone();
  ASSERT_NE(nullptr, copy);
  EXPECT_NE(nullptr, Base(copy)->GetFalloff());
  EXPECT_NE(Base(deformer)->GetFalloff(), Base(copy)->GetFalloff());
  EXPECT_EQ(250.0, copy->GetDataInstance()->GetVector(FALLOFF_SIZE).x);
  EXPECT_EQ(123.0, copy->GetDataInstance()->GetReal(TWIRL_RADIUS)) << "Init must not win";
  BaseObject::Free(copy);
}

TEST_F(DeformerBaseTest, DeformersStillToComeAreRegisteredButLeaveTheirObjectAlone) {
  BaseObject* mesh = AddMesh({{1, 2, 3}, {-4, 5, 6}});
  const auto original = kwtest::Points(mesh);
  for (LONG id : {ID_KWREBEND, ID_KWMOTIONSTRETCH, ID_KWSEAM, ID_KWSCROLLROLL, ID_KWIMPACT}) {
    BaseObject* deformer = AddDeformer(id, mesh);
    ASSERT_NE(nullptr, deformer) << id;
    EXPECT_EQ(100.0, Params(deformer)->GetReal(DEFORMERBASE_MAXDISTANCE)) << id;
    SetSphereFalloff(deformer, 10);
    EXPECT_EQ(1, HandleCount(deformer)) << "only the falloff's handle, " << id;
    Vector centre(1, 1, 1), half(1, 1, 1);
    deformer->GetNodeData<ObjectData>()->GetDimension(deformer, &centre, &half);
    EXPECT_EQ(Vector(), centre);
    EXPECT_EQ(Vector(), half);
    ASSERT_TRUE(Evaluate()) << id;
    EXPECT_EQ(original, Deformed(mesh)) << id;
    BaseObject::Free(deformer);
  }
}

// ---------------------------------------------------------------------------------------------
// Description

TEST_F(DeformerBaseTest, DescriptionLoadsTheTypeAndAppendsTheFalloff) {
  BaseObject* deformer = BaseObject::Alloc(ID_KWTWIRL);
  Description missing;
  LONG flags = 0;
  EXPECT_FALSE(Base(deformer)->GetDescription(deformer, &missing, flags)) << "none registered";
  EXPECT_TRUE(missing.Entries().empty());

  GeResource resource;
  ASSERT_TRUE(resource.Init(std::string(KW_PLUGIN_DIR) + "/quillform"));
  ASSERT_TRUE(RegisterDescription(ID_KWTWIRL, "otwirldeformer_kw", &resource));
  Description description;
  flags = 0;
  EXPECT_TRUE(Base(deformer)->GetDescription(deformer, &description, flags));
  EXPECT_TRUE(flags & DESCFLAGS_DESC_LOADED);
  EXPECT_NE(nullptr, description.FindByIdent("TWIRL_RADIUS"));
  EXPECT_NE(nullptr, description.FindByIdent("DEFORMERBASE_MAPNAME"));
  EXPECT_NE(nullptr, description.Find(FALLOFF_MODE));
  BaseObject::Free(deformer);
}

TEST_F(DeformerBaseTest, MaximaAreEnabledByMapMode) {
  BaseObject* deformer = BaseObject::Alloc(kProbeId);
  struct Case {
    LONG mode, id;
    Bool enabled;
  } cases[] = {
      {0, DEFORMERBASE_MAXDISTANCE, true},  {0, DEFORMERBASE_MAXANGLE, false},
      {1, DEFORMERBASE_MAXDISTANCE, false}, {1, DEFORMERBASE_MAXANGLE, true},
      {2, DEFORMERBASE_MAXDISTANCE, false}, {2, DEFORMERBASE_MAXANGLE, false},
      {1, DEFORMERBASE_MAPNAME, true},
  };
  for (const Case& c : cases) {
    deformer->GetDataInstance()->SetLong(DEFORMERBASE_MAPMODE, c.mode);
    EXPECT_EQ(c.enabled, Base(deformer)->GetDEnabling(deformer, DescID(c.id), GeData(), 0, nullptr))
        << "mode " << c.mode << " id " << c.id;
  }
  BaseObject::Free(deformer);
}

// ---------------------------------------------------------------------------------------------
// Creation from the menu

TEST_F(DeformerBaseTest, ShiftPlacesANewDeformerOnTheActiveObjectsBox) {
  // The mesh's box spans (0..200, 0..100, -50..50): its centre is (100, 50, 0) locally.
  BaseObject* mesh = AddMesh({{0, 0, -50}, {200, 100, 50}}, {}, kSkewed);
  const Matrix expected(kSkewed * Vector(100, 50, 0), kSkewed.v1, kSkewed.v2, kSkewed.v3);
  const Matrix start(Vector(7, 7, 7), Vector(1, 0, 0), Vector(0, 1, 0), Vector(0, 0, 1));

  struct Case {
    Bool shift, active;
    Bool placed;
  } cases[] = {{true, true, true}, {false, true, false}, {true, false, false}};
  for (const Case& c : cases) {
    BaseObject* deformer = AddDeformer(kProbeId, nullptr, start);
    deformer->SetDeformMode(false);
    doc->SetActiveObject(c.active ? mesh : nullptr);
    kwhost::SetQualifier(c.shift ? QUALIFIER_SHIFT : 0);
    EXPECT_TRUE(deformer->Message(MSG_MENUPREPARE, doc));
    EXPECT_TRUE(deformer->GetDeformMode());
    const Matrix mg = deformer->GetMg();
    EXPECT_TRUE(MatrixEqual(c.placed ? expected : start, mg))
        << "shift " << c.shift << " active " << c.active;
    BaseObject::Free(deformer);
  }
}

// ---------------------------------------------------------------------------------------------
// Difference maps: writers and the create-map button

TEST(DifferenceMapWriters, ValuesAreScaledClampedAndRemapped) {
  VariableTag* map = VariableTag::Alloc(Tvertexmap, 2);
  const SplineData falling({{0, 1}, {1, 0}});
  const SplineData empty;
  struct Case {
    const char* what;
    LONG index;
    Real distance, maximum;
    const SplineData* curve;
    SReal expected;
  } cases[] = {
      {"scaled", 0, 25, 100, nullptr, 0.25f},
      {"clamped", 0, 250, 100, nullptr, 1.0f},
      {"remapped", 0, 25, 100, &falling, 0.75f},
      {"curve without knots", 0, 25, 100, &empty, 0.25f},
      {"zero maximum", 0, 25, 0, nullptr, -1.0f},
      {"negative maximum", 0, 25, -5, nullptr, -1.0f},
      {"index past the end", 2, 25, 100, nullptr, -1.0f},
      {"negative index", -1, 25, 100, nullptr, -1.0f},
  };
  for (const Case& c : cases) {
    map->GetDataAddressW()[0] = -1.0f;
    map->GetDataAddressW()[1] = -1.0f;
    WriteDistanceValue(map, c.index, Vector(1, 2, 3), Vector(1, 2, 3 + c.distance), c.maximum,
                       c.curve);
    EXPECT_EQ(c.expected, map->GetDataAddressR()[0]) << c.what;
    EXPECT_EQ(-1.0f, map->GetDataAddressR()[1]) << c.what;

    // The angle writer takes the magnitude of the angle the same way.
    map->GetDataAddressW()[0] = -1.0f;
    WriteAngleValue(map, c.index, -c.distance, c.maximum, c.curve);
    EXPECT_EQ(c.expected, map->GetDataAddressR()[0]) << "angle, " << c.what;
  }
  WriteDistanceValue(nullptr, 0, Vector(), Vector(1, 0, 0), 1, nullptr);
  WriteAngleValue(nullptr, 0, 1, 1, nullptr);
  ClearVertexMap(nullptr);
  ClearVertexMap(map);
  EXPECT_EQ(0.0f, map->GetDataAddressR()[1]);
  BaseTag* tag = map;
  BaseTag::Free(tag);
}

class CreateMapButton : public DeformerBaseTest {
 protected:
  void SetUp() override {
    DeformerBaseTest::SetUp();
    // parent ─┬─ deformer
    //         ├─ child ── grandchild
    //         └─ group (null) ── inGroup
    parent = AddMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}});
    deformer = AddDeformer(kProbeId, parent);
    deformer->SetName("Bend");
    child = kwtest::MakePolygonObject({{0, 0, 0}, {1, 1, 1}}, {});
    doc->InsertObject(child, parent, deformer);
    grandchild = kwtest::MakePolygonObject({{2, 2, 2}}, {});
    doc->InsertObject(grandchild, child, nullptr);
    group = BaseObject::Alloc(Onull);
    doc->InsertObject(group, parent, child);
    inGroup = kwtest::MakePolygonObject({{3, 3, 3}, {4, 4, 4}, {5, 5, 5}, {6, 6, 6}}, {});
    doc->InsertObject(inGroup, group, nullptr);
  }

  std::vector<BaseObject*> PointObjects() const { return {parent, child, grandchild, inGroup}; }

  BaseObject* parent = nullptr;
  BaseObject* deformer = nullptr;
  BaseObject* child = nullptr;
  BaseObject* grandchild = nullptr;
  BaseObject* group = nullptr;
  BaseObject* inGroup = nullptr;
};

TEST_F(CreateMapButton, PressedTwiceMakesTwoSetsOfMaps) {
  EXPECT_TRUE(PressCreateMap(deformer));
  EXPECT_TRUE(PressCreateMap(deformer));
  EXPECT_EQ("Bend.DifferenceMap.1", Params(deformer)->GetString(DEFORMERBASE_MAPNAME));

  for (BaseObject* op : PointObjects()) {
    // The newest map is the first tag; each has one zeroed value per point.
    const BaseTag* newest = op->GetFirstTag();
    ASSERT_NE(nullptr, newest);
    ASSERT_NE(nullptr, newest->GetNext());
    const BaseTag* older = newest->GetNext();
    EXPECT_EQ("Bend.DifferenceMap.1", newest->GetName());
    EXPECT_EQ("Bend.DifferenceMap", older->GetName());
    for (const BaseTag* tag : {newest, older}) {
      EXPECT_EQ(Tvertexmap, tag->GetType());
      EXPECT_EQ(std::vector<SReal>(ToPoint(op)->GetPointCount(), 0.0f), MapValues(tag));
    }
  }
  EXPECT_EQ(nullptr, deformer->GetFirstTag());
  EXPECT_EQ(nullptr, group->GetFirstTag());

  // One undo group per press: a new-tag entry per map, then the deformer's change.
  const auto& journal = doc->GetUndoJournal();
  ASSERT_EQ(2u, journal.size());
  for (const auto& undoGroup : journal) {
    ASSERT_EQ(5u, undoGroup.size());
    for (size_t i = 0; i < 4; ++i) EXPECT_EQ(UNDOTYPE_NEW, undoGroup[i].type);
    EXPECT_EQ(UNDOTYPE_CHANGE, undoGroup[4].type);
    EXPECT_EQ(deformer, undoGroup[4].node.GetNode());
  }
}

TEST_F(CreateMapButton, ATagOfAnyTypeWithTheNameTakesTheNameAway) {
  grandchild->MakeTag(Trestriction)->SetName("Bend.DifferenceMap");
  PressCreateMap(deformer);
  EXPECT_EQ("Bend.DifferenceMap.1", Params(deformer)->GetString(DEFORMERBASE_MAPNAME));
  EXPECT_EQ("Bend.DifferenceMap.1", parent->GetFirstTag()->GetName());
}

TEST_F(CreateMapButton, WithoutParentOrDocumentNothingHappens) {
  BaseObject* loose = AddDeformer(kProbeId, nullptr);
  EXPECT_TRUE(PressCreateMap(loose));
  EXPECT_EQ(DataType::None, Params(loose)->GetType(DEFORMERBASE_MAPNAME));
  EXPECT_TRUE(doc->GetUndoJournal().empty()) << "an empty undo group is dropped";

  BaseObject* outside = BaseObject::Alloc(kProbeId);
  PolygonObject* mesh = kwtest::MakePolygonObject({{0, 0, 0}}, {});
  outside->InsertUnder(mesh);
  EXPECT_TRUE(PressCreateMap(outside));
  EXPECT_EQ(nullptr, mesh->GetFirstTag());
  BaseObject* op = mesh;
  BaseObject::Free(op);
}

TEST_F(CreateMapButton, FailsCleanlyAtEveryAllocation) {
  for (LLONG n = 1;; ++n) {
    ASSERT_LT(n, 100) << "never succeeded";
    const LLONG live = kwhost::memory::LiveBlocks();
    kwhost::memory::FailAllocation(n);
    PressCreateMap(deformer);
    kwhost::memory::FailAllocation(0);
    if (Params(deformer)->GetString(DEFORMERBASE_MAPNAME).empty()) {
      for (BaseObject* op : PointObjects()) {
        EXPECT_EQ(nullptr, op->GetFirstTag())
            << "map left behind when allocation " << n << " failed";
      }
      EXPECT_EQ(live, kwhost::memory::LiveBlocks()) << "allocation " << n;
      continue;
    }
    for (BaseObject* op : PointObjects()) {
      ASSERT_NE(nullptr, op->GetFirstTag());
      EXPECT_EQ("Bend.DifferenceMap", op->GetFirstTag()->GetName());
    }
    break;
  }
}

// ---------------------------------------------------------------------------------------------
// Dirty checking

TEST_F(DeformerBaseTest, CheckDirtyMarksGizmoShapeAndParameterChanges) {
  BaseObject* mesh = AddMesh({{0, 0, 0}});
  BaseObject* deformer = AddDeformer(kProbeId, mesh);
  BaseObject* pin = BaseObject::Alloc(Onull);
  doc->InsertObject(pin, nullptr, nullptr);
  AddAnchor(deformer, pin);
  KWDeformerBase* base = Base(deformer);

  auto settle = [&] {
    base->CheckDirty(deformer, doc);
    Params(deformer)->ClearDirty();
    return deformer->GetDirty(DIRTYFLAGS_DATA);
  };
  auto changedBy = [&](auto change) {
    const LLONG before = settle();
    change();
    base->CheckDirty(deformer, doc);
    return deformer->GetDirty(DIRTYFLAGS_DATA) > before;
  };

  EXPECT_FALSE(changedBy([] {})) << "nothing changed";
  const Matrix moved(Vector(0, 40, 0), Vector(1, 0, 0), Vector(0, 1, 0), Vector(0, 0, 1));
  EXPECT_TRUE(changedBy([&] { pin->SetMg(moved); })) << "anchor target moved";
  EXPECT_TRUE(MatrixEqual(moved, base->GetLastGizmoMatrix()));
  EXPECT_TRUE(changedBy([&] { Params(deformer)->SetLong(FALLOFF_MODE, FALLOFF_MODE_BOX); }))
      << "falloff shape";
  EXPECT_EQ(FALLOFF_MODE_BOX, base->GetLastFalloffShape());
  EXPECT_TRUE(changedBy([&] { Params(deformer)->SetReal(DEFORMERBASE_MAXDISTANCE, 5); }))
      << "parameter";
  EXPECT_FALSE(changedBy([&] { deformer->SetMg(moved); })) << "the anchor places the gizmo";
}

// ---------------------------------------------------------------------------------------------
// The deform frame

class DeformFrame : public DeformerBaseTest {
 protected:
  void SetUp() override {
    DeformerBaseTest::SetUp();
    mesh = AddMesh({{0, 0, 0}, {10, 0, 0}, {0, 10, 0}, {0, 0, 10}}, {}, kSkewed);
    deformer = AddDeformer(kProbeId, mesh);
    deformer->SetMg(kDeformerMg);
    original = kwtest::Points(mesh);
  }

  /// Where point p (mesh-local) ends up when it moves `share` of the probe's 10 units.
  Vector Expected(const Vector& p, Real share) const {
    const Vector global = kSkewed * p + kDeformerMg.TransformDirection(Vector(10 * share, 0, 0));
    return MatrixInvert(kSkewed) * global;
  }

  const Matrix kDeformerMg{Vector(1, 2, 3), Vector(0, 0, 3), Vector(0, 1, 0), Vector(-1, 0, 0)};
  PolygonObject* mesh = nullptr;
  BaseObject* deformer = nullptr;
  std::vector<Vector> original;
};

TEST_F(DeformFrame, MovesPointsInTheDeformersSpace) {
  ASSERT_TRUE(Evaluate());
  const auto deformed = Deformed(mesh);
  ASSERT_EQ(original.size(), deformed.size());
  for (size_t i = 0; i < original.size(); ++i) {
    EXPECT_TRUE(VectorNear(Expected(original[i], 1.0), deformed[i], 1e-9)) << i;
  }
  EXPECT_EQ(original, kwtest::Points(mesh)) << "the scene object keeps its points";
}

TEST_F(DeformFrame, RestrictionAndFalloffWeightTheMoveAndZeroLeavesPointsExactlyInPlace) {
  AddVertexMap(mesh, "w", {1.0f, 0.5f, 0.0f, 1.0f});
  AddRestriction(deformer, "w");
  // The points lie at (30, -20, 5), (30, 10, 5), (20, -20, 5) and (30, -20, 11): a sphere of
  // radius 18 about (25, -5, 0) holds all but the last.
  SetSphereFalloff(deformer, 18.0);
  deformer->SetMg(
      Matrix(Vector(25, -5, 0), Vector(0.6, 0, 0.8), Vector(0, 1, 0), Vector(-0.8, 0, 0.6)));
  const Matrix mg = deformer->GetMg();
  ASSERT_TRUE(Evaluate());
  const auto deformed = Deformed(mesh);
  auto expected = [&](const Vector& p, Real share) {
    return MatrixInvert(kSkewed) * (kSkewed * p + mg.TransformDirection(Vector(10 * share, 0, 0)));
  };
  EXPECT_TRUE(VectorNear(expected(original[0], 1.0), deformed[0], 1e-9));
  EXPECT_TRUE(VectorNear(expected(original[1], 0.5), deformed[1], 1e-9));
  EXPECT_EQ(original[2], deformed[2]) << "restriction 0";
  EXPECT_EQ(original[3], deformed[3]) << "outside the falloff";
}

TEST_F(DeformFrame, DifferenceMapsOfTheCacheAndTheOwnerAreClearedAndWritten) {
  AddVertexMap(mesh, "diff", {0.7f, 0.7f, 0.7f, 0.7f});
  AddVertexMap(mesh, "w", {1.0f, 0.5f, 0.0f, 0.25f});
  AddRestriction(deformer, "w");
  Params(deformer)->SetString(DEFORMERBASE_MAPNAME, "diff");

  // The move is 30 global units along Z (the deformer's X axis is 3 long), which the mesh's
  // Z axis of length 0.6 makes 50 local units: over the default maximum of 100.
  const Real unit = 50.0 / 100.0;
  const Real angleUnit = 0.5 / (std::numbers::pi / 2);
  struct Case {
    const char* what;
    LONG mode;
    Bool distanceOnly;
    std::vector<Real> shares;  // per point: the written value in units of `unit`
    Real scale;
  } cases[] = {
      {"distance", 0, false, {1, 0.5, 0, 0.25}, unit},
      {"angle", 1, false, {1, 0.5, 0, 0.25}, angleUnit},
      {"unknown mode writes nothing", 2, false, {0, 0, 0, 0}, 0},
      {"distance only ignores the mode", 1, true, {1, 0.5, 0, 0.25}, unit},
  };
  for (const Case& c : cases) {
    Params(deformer)->SetLong(DEFORMERBASE_MAPMODE, c.mode);
    Params(deformer)->SetBool(PROBE_DISTANCEONLY, c.distanceOnly);
    ASSERT_TRUE(Evaluate());
    const BaseTag* cacheMap = FindTagByName(mesh->GetDeformCache(), "diff", Tvertexmap);
    const BaseTag* ownerMap = FindTagByName(mesh, "diff", Tvertexmap);
    ASSERT_NE(nullptr, cacheMap);
    for (const BaseTag* map : {cacheMap, ownerMap}) {
      const auto values = MapValues(map);
      for (size_t i = 0; i < values.size(); ++i) {
        EXPECT_NEAR(c.shares[i] * c.scale, values[i], 1e-6) << c.what << ", point " << i;
      }
    }
  }
}

TEST_F(DeformFrame, AnEmptyMapNameLeavesUnnamedMapsAlone) {
  AddVertexMap(mesh, "", {0.7f, 0.7f, 0.7f, 0.7f});
  ASSERT_TRUE(Evaluate());
  EXPECT_EQ(std::vector<SReal>(4, 0.7f), MapValues(mesh->GetFirstTag()));
  EXPECT_EQ(std::vector<SReal>(4, 0.7f), MapValues(mesh->GetDeformCache()->GetFirstTag()));
}

TEST_F(DeformFrame, ABreakLeavesTheRestUnmovedAndStillSucceeds) {
  std::vector<Vector> points(150);
  for (size_t i = 0; i < points.size(); ++i) points[i] = Vector(static_cast<Real>(i), 0, 0);
  PolygonObject* big = kwtest::MakePolygonObject(points, {});
  const LLONG dirty = big->GetDirty(DIRTYFLAGS_DATA);
  BaseThread thread;
  thread.RequestBreakAfter(1);  // the poll at point 0 passes, the one at point 64 stops
  EXPECT_TRUE(Modify(deformer, big, &thread));
  EXPECT_EQ(2, thread.PollCount());
  const auto result = kwtest::Points(big);
  for (size_t i = 0; i < result.size(); ++i) {
    if (i < 64) {
      EXPECT_NE(points[i], result[i]) << i;
    } else {
      EXPECT_EQ(points[i], result[i]) << i;
    }
  }
  EXPECT_GT(big->GetDirty(DIRTYFLAGS_DATA), dirty) << "the update message is still sent";
  BaseObject* op = big;
  BaseObject::Free(op);
}

TEST_F(DeformFrame, ObjectsWithoutPointsAreLeftAloneAndSucceed) {
  BaseObject* null = BaseObject::Alloc(Onull);
  PolygonObject* empty = kwtest::MakePolygonObject({}, {});
  for (BaseObject* op : {null, static_cast<BaseObject*>(empty)}) {
    const LLONG dirty = op->GetDirty(DIRTYFLAGS_DATA);
    EXPECT_TRUE(Modify(deformer, op));
    EXPECT_EQ(dirty, op->GetDirty(DIRTYFLAGS_DATA)) << "no update message";
    BaseObject::Free(op);
  }
}

TEST_F(DeformFrame, FailedRestrictionCopyFailsWithoutMovingAPoint) {
  AddVertexMap(mesh, "w", {1, 0, 1, 0});
  AddVertexMap(mesh, "diff", {0.7f, 0.7f, 0.7f, 0.7f});
  AddRestriction(deformer, "w");
  Params(deformer)->SetString(DEFORMERBASE_MAPNAME, "diff");
  BaseObject* target = mesh->GetClone();
  ASSERT_NE(nullptr, target);
  LLONG failures = 0;
  for (LLONG n = 1;; ++n) {
    ASSERT_LT(n, 20) << "never succeeded";
    const LLONG live = kwhost::memory::LiveBlocks();
    kwhost::memory::FailAllocation(n);
    const Bool ok = Modify(deformer, target);
    kwhost::memory::FailAllocation(0);
    EXPECT_EQ(live, kwhost::memory::LiveBlocks()) << "allocation " << n;
    if (!ok) {
      ++failures;
      EXPECT_EQ(original, kwtest::Points(target)) << "allocation " << n;
      EXPECT_EQ(std::vector<SReal>(4, 0.7f), MapValues(FindTagByName(target, "diff", Tvertexmap)));
      continue;
    }
    // Success means the restriction held: the excluded points never moved.
    const auto points = kwtest::Points(target);
    EXPECT_NE(original[0], points[0]);
    EXPECT_EQ(original[1], points[1]);
    EXPECT_EQ(original[3], points[3]);
    break;
  }
  EXPECT_GT(failures, 0) << "the restriction copy is an allocation that can fail";
  BaseObject::Free(target);
}

TEST_F(DeformFrame, AQuillformDeformerConvertsItsOlderMapLink) {
  VariableTag* old = AddVertexMap(mesh, "legacy", {0, 0, 0, 0});
  Params(deformer)->SetLink(DEFORMERBASE_MAPLINK, old);

  ASSERT_TRUE(Evaluate());
  EXPECT_TRUE(kwhost::ConsoleLines().empty()) << "a Vexwarp deformer keeps the link";
  EXPECT_EQ(old, Params(deformer)->GetLink(DEFORMERBASE_MAPLINK, doc));

  Params(deformer)->SetBool(PROBE_CONVERTMAPLINK, true);
  ASSERT_TRUE(Evaluate());
  EXPECT_EQ(std::vector<String>{"tag exists ... "}, kwhost::ConsoleLines());
  EXPECT_EQ("legacy", Params(deformer)->GetString(DEFORMERBASE_MAPNAME));
  EXPECT_EQ(nullptr, Params(deformer)->GetLink(DEFORMERBASE_MAPLINK, doc));
  // The converted name is used at once: the map now records the move.
  EXPECT_GT(MapValues(FindTagByName(mesh, "legacy", Tvertexmap))[0], 0.0f);
}

// ---------------------------------------------------------------------------------------------
// Handles

TEST_F(DeformerBaseTest, FalloffHandlesFollowTheAnchorIntoTheDeformersSpace) {
  BaseObject* mesh = AddMesh({{0, 0, 0}});
  BaseObject* deformer = AddDeformer(kProbeId, mesh, kSkewed);
  SetSphereFalloff(deformer, 40);
  BaseObject* pin = BaseObject::Alloc(Onull);
  doc->InsertObject(pin, nullptr, nullptr);
  const Matrix pinMg(Vector(500, 0, 0), Vector(0, 0, 1), Vector(0, 1, 0), Vector(-1, 0, 0));
  pin->SetMg(pinMg);
  AddAnchor(deformer, pin);

  ASSERT_EQ(2, HandleCount(deformer));
  EXPECT_EQ(Vector(0, 5, 0), Handle(deformer, 0).position) << "own handles come first";
  const Matrix toLocal = MatrixMul(MatrixInvert(kSkewed), pinMg);
  const HandleInfo radius = Handle(deformer, 1);
  EXPECT_TRUE(VectorNear(toLocal * Vector(40, 0, 0), radius.position, 1e-9));
  EXPECT_TRUE(VectorNear(toLocal.TransformDirection(Vector(1, 0, 0)), radius.direction, 1e-12))
      << "a direction turns with the axes but does not move";

  // Dragging it 20 units further out along its direction grows the sphere by 20.
  MoveHandle(deformer, 1, toLocal * Vector(60, 0, 0));
  EXPECT_NEAR(60.0, Params(deformer)->GetVector(FALLOFF_SIZE).x, 1e-9);
  EXPECT_TRUE(VectorNear(toLocal * Vector(60, 0, 0), Handle(deformer, 1).position, 1e-9));
}

TEST_F(DeformerBaseTest, HandlePassDrawsEveryHandleAndHighlightsTheOneUnderTheCursor) {
  BaseObject* mesh = AddMesh({{0, 0, 0}});
  BaseObject* deformer = AddDeformer(kProbeId, mesh, kSkewed);
  SetSphereFalloff(deformer, 40);
  const auto handles = OfKind(DrawPass(deformer, DRAWPASS_HANDLES, 1), DrawCommand::Kind::Handle);
  ASSERT_EQ(2u, handles.size());
  BaseDraw bd;
  EXPECT_EQ(bd.GetViewColor(VIEWCOLOR_HANDLES), handles[0].colour);
  EXPECT_EQ(bd.GetViewColor(VIEWCOLOR_ACTIVEHANDLES), handles[1].colour);
  EXPECT_TRUE(VectorNear(kSkewed * Vector(0, 5, 0), handles[0].a, 1e-9));
  EXPECT_TRUE(VectorNear(kSkewed * Vector(40, 0, 0), handles[1].a, 1e-9));
  for (const DrawCommand& h : handles) EXPECT_EQ(3, h.size);
}

}  // namespace
