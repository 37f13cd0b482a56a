#include "deformers/vexwarp/kwexpand.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/deformers/deformer_fixture.h"

namespace {

using kwtest::VectorNear;

// ---------------------------------------------------------------------------------------------
// Kernels

TEST(ExpandKernel, TargetsOfEachMode) {
  const Vector p(10, 20, 30);
  EXPECT_EQ(Vector(15, 30, 45), ExpandUniform(p, 1.5));
  EXPECT_EQ(Vector(15, 20, 45), ExpandRadial(p, 1.5));
  EXPECT_EQ(Vector(10, 30, 30), ExpandAxial(p, 1.5));
  EXPECT_EQ(Vector(10, 70, 30), ExpandAlongNormal(p, Vector(0, 1, 0), 0.5));
  EXPECT_EQ(Vector(10, 25, 30), ExpandBlend(p, Vector(10, 30, 30), 0.5));
  EXPECT_EQ(p, ExpandBlend(p, Vector(99, 99, 99), 0.0));
}

// ---------------------------------------------------------------------------------------------
// The deformer in a document

class ExpandTest : public kwtest::DeformerTest {
 protected:
  void SetUp() override {
    DeformerTest::SetUp();
    mesh = AddMesh({{10, 20, 30}, {-40, 5, 0}, {0, -8, 12}}, {}, kMeshMg);
    expand = AddDeformer(ID_KWEXPAND, mesh, kExpandMg);
    // The points above are in the deformer's space; keep them there.
    for (LONG i = 0; i < mesh->GetPointCount(); ++i) {
      mesh->GetPointW()[i] = FromDeformer(mesh->GetPointR()[i]);
    }
  }

  Vector FromDeformer(const Vector& deformerPos) const {
    return MatrixInvert(kMeshMg) * (kExpandMg * deformerPos);
  }

  const Matrix kMeshMg{Vector(5, 6, 7), Vector(0.6, 0, 0.8), Vector(0, 1.5, 0),
                       Vector(-0.8, 0, 0.6)};
  const Matrix kExpandMg{Vector(-3, 2, 11), Vector(0, 0, -1), Vector(0, 1, 0), Vector(1, 0, 0)};
  PolygonObject* mesh = nullptr;
  BaseObject* expand = nullptr;
};

TEST_F(ExpandTest, DefaultsAndDimension) {
  EXPECT_EQ(EXPAND_MODE_AXIAL, Params(expand)->GetLong(EXPAND_MODE));
  EXPECT_EQ(0.5, Params(expand)->GetReal(EXPAND_STRENGTH));
  EXPECT_EQ(1, HandleCount(expand));
  Params(expand)->SetReal(EXPAND_STRENGTH, 7);
  Vector centre(1, 1, 1), half;
  expand->GetNodeData<ObjectData>()->GetDimension(expand, &centre, &half);
  EXPECT_EQ(Vector(), centre);
  EXPECT_EQ(Vector(100, 100, 100), half);
}

TEST_F(ExpandTest, ModesMoveThePointsInTheDeformersSpace) {
  struct Case {
    const char* what;
    LONG mode;
    Real strength;
    std::vector<Vector> expected;  // deformer space
  } cases[] = {
      {"axial default", EXPAND_MODE_AXIAL, 0.5, {{10, 30, 30}, {-40, 7.5, 0}, {0, -12, 12}}},
      {"uniform", EXPAND_MODE_UNIFORM, 1, {{20, 40, 60}, {-80, 10, 0}, {0, -16, 24}}},
      {"radial", EXPAND_MODE_RADIAL, 0.5, {{15, 20, 45}, {-60, 5, 0}, {0, -8, 18}}},
      {"radial collapse onto the axis",
       EXPAND_MODE_RADIAL,
       -1,
       {{0, 20, 0}, {0, 5, 0}, {0, -8, 0}}},
      {"radial mirror through the axis",
       EXPAND_MODE_RADIAL,
       -2,
       {{-10, 20, -30}, {40, 5, 0}, {0, -8, -12}}},
  };
  for (const Case& c : cases) {
    Params(expand)->SetLong(EXPAND_MODE, c.mode);
    Params(expand)->SetReal(EXPAND_STRENGTH, c.strength);
    ASSERT_TRUE(Evaluate());
    const auto moved = Deformed(mesh);
    for (size_t i = 0; i < moved.size(); ++i) {
      EXPECT_TRUE(VectorNear(FromDeformer(c.expected[i]), moved[i], 1e-9)) << c.what << " " << i;
    }
  }
}

TEST_F(ExpandTest, NothingMovesWithoutStrengthOrWithAnUnknownModeYetTheMapsAreWritten) {
  const auto original = kwtest::Points(mesh);
  AddVertexMap(mesh, "diff", {0.7f, 0.7f, 0.7f});
  Params(expand)->SetString(DEFORMERBASE_MAPNAME, "diff");
  struct Case {
    LONG mode;
    Real strength;
  } cases[] = {{EXPAND_MODE_UNIFORM, 0},
               {EXPAND_MODE_RADIAL, 0},
               {EXPAND_MODE_AXIAL, 0},
               {7, 0.5},
               {-1, 0.5}};
  for (const Case& c : cases) {
    Params(expand)->SetLong(EXPAND_MODE, c.mode);
    Params(expand)->SetReal(EXPAND_STRENGTH, c.strength);
    ASSERT_TRUE(Evaluate());
    EXPECT_EQ(original, Deformed(mesh)) << "mode " << c.mode;
    EXPECT_EQ(std::vector<SReal>(3, 0.0f), MapValues(FindTagByName(mesh, "diff", Tvertexmap)))
        << "mode " << c.mode;
    EXPECT_EQ(std::vector<SReal>(3, 0.0f),
              MapValues(FindTagByName(mesh->GetDeformCache(), "diff", Tvertexmap)));
  }
}

TEST_F(ExpandTest, DistancesAreWrittenWhateverTheMapMode) {
  AddVertexMap(mesh, "diff", {0.7f, 0.7f, 0.7f});
  Params(expand)->SetString(DEFORMERBASE_MAPNAME, "diff");
  Params(expand)->SetLong(DEFORMERBASE_MAPMODE, DEFORMERBASE_MAPMODE_ANGLE);
  ASSERT_TRUE(Evaluate());
  // Axial, s = 0.5: the points move 10, 2.5 and 4 units along the deformer's unit Y axis,
  // which the mesh's 1.5-long Y axis makes two thirds as many local units.
  const auto values = MapValues(FindTagByName(mesh, "diff", Tvertexmap));
  const std::vector<Real> expected = {10 / 1.5 / 100, 2.5 / 1.5 / 100, 4 / 1.5 / 100};
  for (size_t i = 0; i < 3; ++i) EXPECT_NEAR(expected[i], values[i], 1e-6) << i;
}

TEST_F(ExpandTest, ZeroWeightLeavesEveryPointExactlyInEveryMode) {
  const auto original = kwtest::Points(mesh);
  AddVertexMap(mesh, "none", {0, 0, 0});
  for (Bool byFalloff : {true, false}) {
    for (LONG mode = EXPAND_MODE_UNIFORM; mode <= EXPAND_MODE_AXIAL; ++mode) {
      BaseObject::Free(expand);
      expand = AddDeformer(ID_KWEXPAND, mesh, kExpandMg);
      Params(expand)->SetLong(EXPAND_MODE, mode);
      if (byFalloff) {
        SetSphereFalloff(expand, 1e-3);
      } else {
        AddRestriction(expand, "none");
      }
      ASSERT_TRUE(Evaluate());
      EXPECT_EQ(original, Deformed(mesh))
          << (byFalloff ? "falloff" : "restriction") << " mode " << mode;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Normal mode

class ExpandNormals : public kwtest::DeformerTest {
 protected:
  void SetUp() override {
    DeformerTest::SetUp();
    // A closed cube around the deformer, plus one point in no polygon.
    auto points = kwtest::CubePoints();
    points.push_back(Vector(300, 0, 0));
    cube = AddMesh(points, kwtest::CubePolygons(), kMeshMg);
    expand = AddDeformer(ID_KWEXPAND, cube, kMeshMg);
    Params(expand)->SetLong(EXPAND_MODE, EXPAND_MODE_NORMAL);
  }
  const Matrix kMeshMg{Vector(5, 6, 7), Vector(0.6, 0, 0.8), Vector(0, 1, 0), Vector(-0.8, 0, 0.6)};
  PolygonObject* cube = nullptr;
  BaseObject* expand = nullptr;
};

TEST_F(ExpandNormals, ClosedMeshGrowsOutwardAlongTheAveragedNormals) {
  const auto original = kwtest::Points(cube);
  ASSERT_TRUE(Evaluate());
  const auto moved = Deformed(cube);
  const Real push = 0.5 * 100 / std::sqrt(3.0);
  for (size_t i = 0; i < 8; ++i) {
    const Vector p = original[i];
    const Vector outward(p.x > 0 ? push : -push, p.y > 0 ? push : -push, p.z > 0 ? push : -push);
    EXPECT_TRUE(VectorNear(p + outward, moved[i], 1e-9)) << i;
  }
  EXPECT_EQ(original[8], moved[8]) << "a point in no polygon stays";
}

TEST_F(ExpandNormals, PointObjectsWithoutPolygonsStay) {
  BaseObject* spline = BaseObject::Alloc(Ospline);
  ASSERT_NE(nullptr, spline);
  ASSERT_TRUE(ToPoint(spline)->ResizePoints(2));
  ToPoint(spline)->GetPointW()[1] = Vector(100, 0, 0);
  const auto original = kwtest::Points(spline);
  const LLONG dirty = spline->GetDirty(DIRTYFLAGS_DATA);
  EXPECT_TRUE(Modify(expand, spline));
  EXPECT_EQ(original, kwtest::Points(spline));
  EXPECT_EQ(dirty, spline->GetDirty(DIRTYFLAGS_DATA)) << "no update message";
  BaseObject::Free(spline);
}

TEST_F(ExpandNormals, FailedNormalsOrCountersFailWithoutMovingAPoint) {
  AddVertexMap(cube, "diff", std::vector<SReal>(9, 0.7f));
  AddVertexMap(cube, "w", std::vector<SReal>(9, 1.0f));
  AddRestriction(expand, "w");
  Params(expand)->SetString(DEFORMERBASE_MAPNAME, "diff");
  BaseObject* target = cube->GetClone();
  ASSERT_NE(nullptr, target);
  const auto original = kwtest::Points(target);
  LLONG failures = 0;
  for (LLONG n = 1;; ++n) {
    ASSERT_LT(n, 20) << "never succeeded";
    const LLONG live = kwhost::memory::LiveBlocks();
    kwhost::memory::FailAllocation(n);
    const Bool ok = Modify(expand, target);
    kwhost::memory::FailAllocation(0);
    EXPECT_EQ(live, kwhost::memory::LiveBlocks()) << "allocation " << n;
    if (!ok) {
      ++failures;
      EXPECT_EQ(original, kwtest::Points(target)) << "allocation " << n;
      EXPECT_EQ(std::vector<SReal>(9, 0.7f), MapValues(FindTagByName(target, "diff", Tvertexmap)))
          << "allocation " << n;
      continue;
    }
    EXPECT_NE(original, kwtest::Points(target));
    break;
  }
  // Normals, counters and the restriction copy: three allocations, each able to fail.
  EXPECT_EQ(3, failures);
  BaseObject::Free(target);
}

// ---------------------------------------------------------------------------------------------
// Handles and drawing

TEST_F(ExpandTest, StrengthHandleWritesOnlyItsYComponents) {
  Params(expand)->SetReal(EXPAND_STRENGTH, 0.75);
  HandleInfo info;
  info.position = Vector(7, -1, 9);
  info.direction = Vector(3, -1, 4);
  info.type = 5;
  expand->GetNodeData<ObjectData>()->GetHandle(expand, 0, info);
  EXPECT_EQ(Vector(7, 75, 9), info.position);
  EXPECT_EQ(Vector(3, 1, 4), info.direction);
  EXPECT_EQ(0, info.type);
}

TEST_F(ExpandTest, DraggingTheStrengthHandleSetsTheStrength) {
  MoveHandle(expand, 0, Vector(0, 150, 0));
  EXPECT_EQ(1.5, Params(expand)->GetReal(EXPAND_STRENGTH));
  MoveHandle(expand, 0, Vector(33, -50, 44));
  EXPECT_EQ(-0.5, Params(expand)->GetReal(EXPAND_STRENGTH)) << "not clamped";
  Params(expand)->SetReal(EXPAND_STRENGTH, 0.3);
  MoveHandle(expand, 0, Handle(expand, 0).position);
  EXPECT_NEAR(0.3, Params(expand)->GetReal(EXPAND_STRENGTH), 1e-15);

  SetSphereFalloff(expand, 80);
  ASSERT_EQ(2, HandleCount(expand));
  EXPECT_TRUE(VectorNear(Vector(80, 0, 0), Handle(expand, 1).position, 1e-9));
  MoveHandle(expand, 1, Vector(95, 0, 0));
  EXPECT_NEAR(95, Params(expand)->GetVector(FALLOFF_SIZE).x, 1e-9);
  EXPECT_NEAR(0.3, Params(expand)->GetReal(EXPAND_STRENGTH), 1e-15);
}

TEST_F(ExpandTest, ObjectPassDrawsWhatTheModeLeavesFixed) {
  using Segments = std::vector<std::pair<Vector, Vector>>;
  struct Case {
    LONG mode;
    Segments lines;  // deformer space
  } cases[] = {
      {EXPAND_MODE_UNIFORM,
       {{{0, -12.5, -12.5}, {0, 12.5, 12.5}}, {{0, -12.5, 12.5}, {0, 12.5, -12.5}}}},
      {EXPAND_MODE_RADIAL, {{{0, 50, 0}, {0, -50, 0}}}},
      {EXPAND_MODE_AXIAL,
       {{{-50, 0, -50}, {-50, 0, 50}},
        {{-50, 0, 50}, {50, 0, 50}},
        {{50, 0, 50}, {50, 0, -50}},
        {{50, 0, -50}, {-50, 0, -50}}}},
      {EXPAND_MODE_NORMAL, {}},
      {9, {}},
  };
  BaseDraw colours;
  for (const Case& c : cases) {
    Params(expand)->SetLong(EXPAND_MODE, c.mode);
    const auto commands = DrawPass(expand, DRAWPASS_OBJECT);
    ASSERT_EQ(c.lines.size(), commands.size()) << "mode " << c.mode;
    for (size_t i = 0; i < commands.size(); ++i) {
      EXPECT_EQ(DrawCommand::Kind::Line, commands[i].kind);
      EXPECT_TRUE(VectorNear(kExpandMg * c.lines[i].first, commands[i].a, 1e-12));
      EXPECT_TRUE(VectorNear(kExpandMg * c.lines[i].second, commands[i].b, 1e-12));
      EXPECT_EQ(colours.GetObjectColor(nullptr, expand), commands[i].colour);
    }
  }
}

TEST_F(ExpandTest, HandlePassDrawsTheHandlesThenTheStrengthHandleWithItsLine) {
  SetSphereFalloff(expand, 80);
  const auto commands = DrawPass(expand, DRAWPASS_HANDLES, 0);
  ASSERT_EQ(4u, commands.size());
  BaseDraw colours;
  const Vector strength = kExpandMg * Vector(0, 50, 0);
  EXPECT_EQ(DrawCommand::Kind::Handle, commands[0].kind);
  EXPECT_TRUE(VectorNear(strength, commands[0].a, 1e-12));
  EXPECT_EQ(colours.GetViewColor(VIEWCOLOR_ACTIVEHANDLES), commands[0].colour);
  EXPECT_EQ(DrawCommand::Kind::Handle, commands[1].kind);
  EXPECT_TRUE(VectorNear(kExpandMg * Vector(80, 0, 0), commands[1].a, 1e-9));
  EXPECT_EQ(colours.GetViewColor(VIEWCOLOR_HANDLES), commands[1].colour);
  EXPECT_EQ(DrawCommand::Kind::Handle, commands[2].kind);
  EXPECT_TRUE(VectorNear(strength, commands[2].a, 1e-12));
  EXPECT_EQ(DrawCommand::Kind::Line, commands[3].kind);
  EXPECT_TRUE(VectorNear(strength, commands[3].a, 1e-12));
  EXPECT_TRUE(VectorNear(kExpandMg.off, commands[3].b, 1e-12));
  EXPECT_EQ(colours.GetViewColor(VIEWCOLOR_HANDLES), commands[3].colour);
}

}  // namespace
