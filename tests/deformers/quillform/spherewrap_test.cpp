#include "deformers/quillform/kwspherewrap.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <numbers>

#include "tests/deformers/deformer_fixture.h"

namespace {

using kwtest::VectorNear;
constexpr Real kPi = std::numbers::pi;

SphereWrapSettings Settings(Real radius = 200, Real length = 400, Real angle = kPi,
                            Bool limit = false, Bool centered = true, Real strength = 1) {
  SphereWrapSettings s;
  s.radius = radius;
  s.length = length;
  s.angle = angle;
  s.limit = limit;
  s.centered = centered;
  s.strength = strength;
  return s;
}

// ---------------------------------------------------------------------------------------------
// Kernels

TEST(SphereWrapKernel, PointTable) {
  const Real r2 = std::sqrt(0.5);
  struct Case {
    const char* what;
    SphereWrapSettings settings;
    Vector p;
    Real falloff;
    Vector expected;
    Real angle;  // the wrap angle before weighting
  } cases[] = {
      {"centre goes to the pole", Settings(), {0, 0, 0}, 1, {0, 200, 0}, 0},
      {"L goes to the far pole", Settings(), {400, 0, 0}, 1, {0, -200, 0}, kPi},
      {"L/2 stays on the equator", Settings(), {200, 0, 0}, 1, {200, 0, 0}, kPi / 2},
      {"along Z", Settings(), {0, 0, 200}, 1, {0, 0, 200}, kPi / 2},
      {"diagonal",
       Settings(),
       {100, 0, 100},
       1,
       {r2 * std::sin(kPi * std::sqrt(2.0) / 4) * 200, std::cos(kPi * std::sqrt(2.0) / 4) * 200,
        r2 * std::sin(kPi * std::sqrt(2.0) / 4) * 200},
       kPi * std::sqrt(2.0) / 4},
      {"height adds to the radius", Settings(), {0, 50, 0}, 1, {0, 250, 0}, 0},
      {"below the centre collapses onto it", Settings(), {100, -300, 0}, 1, {0, 0, 0}, kPi / 4},
      {"not centred: the centre stays",
       Settings(200, 400, kPi, false, false),
       {0, 0, 0},
       1,
       {0, 0, 0},
       0},
      {"not centred: L reaches the far pole",
       Settings(200, 400, kPi, false, false),
       {400, 0, 0},
       1,
       {0, -400, 0},
       kPi},
      {"2L without limit stops at pi", Settings(), {800, 0, 0}, 1, {0, -200, 0}, kPi},
      {"2L with limit stops at A",
       Settings(200, 400, kPi / 2, true),
       {800, 0, 0},
       1,
       {200, 0, 0},
       kPi / 2},
      {"a limit above pi lets the angle pass pi",
       Settings(200, 400, 4, true),
       {350, 0, 0},
       1,
       {std::sin(3.5) * 200, std::cos(3.5) * 200, 0},
       3.5},
      {"half the falloff goes half way", Settings(), {0, 0, 0}, 0.5, {0, 100, 0}, 0},
      {"strength multiplies the weight",
       Settings(200, 400, kPi, false, true, 0.5),
       {400, 0, 0},
       1,
       {200, -100, 0},
       kPi},
  };
  for (const Case& c : cases) {
    const DeformedPoint moved = SphereWrapPoint(c.p, c.falloff, 1, c.settings);
    EXPECT_TRUE(VectorNear(c.expected, moved.position, 1e-9)) << c.what;
    EXPECT_NEAR(c.angle * c.falloff * c.settings.strength, moved.angle, 1e-12) << c.what;
  }
}

TEST(SphereWrapKernel, ZeroWeightLeavesThePointExactly) {
  const Vector p(123.25, -4.5, 77.75);
  EXPECT_EQ(p, SphereWrapPoint(p, 0, 1, Settings()).position) << "falloff";
  EXPECT_EQ(p, SphereWrapPoint(p, 1, 0, Settings()).position) << "restriction";
  EXPECT_EQ(p, SphereWrapPoint(p, 1, 1, Settings(200, 400, kPi, false, true, 0)).position)
      << "strength";
}

TEST(SphereWrapKernel, ZeroLengthLeavesTheAxisAndUndefinedAnglesInPlace) {
  struct Case {
    const char* what;
    SphereWrapSettings settings;
    Vector p;
    Vector expected;
  } cases[] = {
      {"axis point", Settings(200, 0), {0, 50, 0}, {0, 50, 0}},
      {"beyond L: the far pole", Settings(200, 0), {30, 0, 0}, {0, -200, 0}},
      {"beyond L with limit: A", Settings(200, 0, kPi / 2, true), {0, 0, 30}, {0, 0, 200}},
      {"no positive angle", Settings(200, 0, 0), {30, 0, 0}, {30, 0, 0}},
      {"negative angle", Settings(200, 0, -1), {30, 0, 0}, {30, 0, 0}},
  };
  for (const Case& c : cases) {
    const DeformedPoint moved = SphereWrapPoint(c.p, 1, 1, c.settings);
    EXPECT_TRUE(VectorNear(c.expected, moved.position, 1e-9)) << c.what;
    EXPECT_TRUE(std::isfinite(moved.angle)) << c.what;
  }
  EXPECT_EQ(Vector(0, 50, 0), SphereWrapPoint({0, 50, 0}, 1, 1, Settings(200, 0)).position);
}

// ---------------------------------------------------------------------------------------------
// The deformer in a document

class SphereWrapTest : public kwtest::DeformerTest {
 protected:
  void SetUp() override {
    DeformerTest::SetUp();
    mesh = AddMesh({{0, 0, 0}, {400, 0, 0}, {200, 0, 0}, {0, 0, -400}});
    wrap = AddDeformer(ID_KWSPHEREWRAP, mesh, kWrapMg);
  }
  const Matrix kWrapMg{Vector(0, 0, 0), Vector(1, 0, 0), Vector(0, 1, 0), Vector(0, 0, 1)};
  PolygonObject* mesh = nullptr;
  BaseObject* wrap = nullptr;
};

TEST_F(SphereWrapTest, DefaultsAndDimension) {
  const BaseContainer* bc = Params(wrap);
  EXPECT_EQ(200.0, bc->GetReal(SPHEREWRAP_RADIUS));
  EXPECT_EQ(1.0, bc->GetReal(SPHEREWRAP_STRENGTH));
  EXPECT_EQ(400.0, bc->GetReal(SPHEREWRAP_LENGTH));
  EXPECT_EQ(kPi, bc->GetReal(SPHEREWRAP_ANGLE));
  EXPECT_FALSE(bc->GetBool(SPHEREWRAP_LIMIT));
  EXPECT_TRUE(bc->GetBool(SPHEREWRAP_CENTERED));
  EXPECT_EQ(3, HandleCount(wrap));
  Vector centre(1, 1, 1), half;
  wrap->GetNodeData<ObjectData>()->GetDimension(wrap, &centre, &half);
  EXPECT_EQ(Vector(), centre);
  EXPECT_EQ(Vector(200, 200, 200), half);
}

TEST_F(SphereWrapTest, WrapsAPlaneOntoTheSphereInTheDeformersSpace) {
  // Moved and turned a quarter about Y: the wrap happens about the deformer, not the mesh.
  const Matrix mg(Vector(0, 0, 0), Vector(0, 0, -1), Vector(0, 1, 0), Vector(1, 0, 0));
  wrap->SetMg(mg);
  AddVertexMap(mesh, "diff", {0.7f, 0.7f, 0.7f, 0.7f});
  Params(wrap)->SetString(DEFORMERBASE_MAPNAME, "diff");
  Params(wrap)->SetLong(DEFORMERBASE_MAPMODE, DEFORMERBASE_MAPMODE_ANGLE);
  Params(wrap)->SetReal(DEFORMERBASE_MAXANGLE, kPi);
  ASSERT_TRUE(Evaluate());
  const auto moved = Deformed(mesh);
  EXPECT_TRUE(VectorNear({0, 200, 0}, moved[0], 1e-9));
  // (400, 0, 0) lies at distance L from the deformer's axis whatever the turn.
  EXPECT_TRUE(VectorNear({0, -200, 0}, moved[1], 1e-9));
  EXPECT_TRUE(VectorNear({200, 0, 0}, moved[2], 1e-9));
  EXPECT_TRUE(VectorNear({0, -200, 0}, moved[3], 1e-9));
  const auto values = MapValues(FindTagByName(mesh, "diff", Tvertexmap));
  const std::vector<Real> expected = {0, 1, 0.5, 1};
  for (size_t i = 0; i < 4; ++i) EXPECT_NEAR(expected[i], values[i], 1e-6) << i;
}

TEST_F(SphereWrapTest, ZeroStrengthFalloffOrRestrictionLeavesEveryPointExactly) {
  const Matrix skew(Vector(3, 1, 7), Vector(0.6, 0, 0.8), Vector(0, 1.1, 0), Vector(-0.8, 0, 0.6));
  mesh->SetMg(skew);
  const auto original = kwtest::Points(mesh);
  AddVertexMap(mesh, "none", {0, 0, 0, 0});
  struct Case {
    const char* what;
    std::function<void(BaseObject*)> setup;
  } cases[] = {
      {"strength", [](BaseObject* op) { Params(op)->SetReal(SPHEREWRAP_STRENGTH, 0); }},
      {"falloff", [](BaseObject* op) { SetSphereFalloff(op, 1e-3); }},
      {"restriction", [](BaseObject* op) { AddRestriction(op, "none"); }},
  };
  for (const Case& c : cases) {
    // A fresh deformer per case, so each zero is the only one.
    BaseObject::Free(wrap);
    wrap = AddDeformer(ID_KWSPHEREWRAP, mesh);
    ASSERT_TRUE(Evaluate());
    ASSERT_NE(original, Deformed(mesh)) << c.what;
    c.setup(wrap);
    ASSERT_TRUE(Evaluate());
    EXPECT_EQ(original, Deformed(mesh)) << c.what;
  }
}

TEST_F(SphereWrapTest, ShiftSizesLengthAndRadiusToTheActiveObject) {
  BaseObject* box = AddMesh({{-30, 0, -40}, {30, 10, 40}});
  doc->SetActiveObject(box);
  BaseObject* created = AddDeformer(ID_KWSPHEREWRAP, nullptr);
  kwhost::SetQualifier(QUALIFIER_SHIFT);
  EXPECT_TRUE(created->Message(MSG_MENUPREPARE, doc));
  EXPECT_EQ(50.0, Params(created)->GetReal(SPHEREWRAP_LENGTH));
  EXPECT_EQ(25.0, Params(created)->GetReal(SPHEREWRAP_RADIUS));
  EXPECT_EQ(Vector(0, 5, 0), created->GetMg().off);

  kwhost::SetQualifier(0);
  BaseObject* plain = AddDeformer(ID_KWSPHEREWRAP, nullptr);
  EXPECT_TRUE(plain->Message(MSG_MENUPREPARE, doc));
  EXPECT_EQ(400.0, Params(plain)->GetReal(SPHEREWRAP_LENGTH));
  EXPECT_EQ(200.0, Params(plain)->GetReal(SPHEREWRAP_RADIUS));
}

// ---------------------------------------------------------------------------------------------
// Handles

TEST_F(SphereWrapTest, OwnHandlesSitWhereTheParametersSay) {
  Params(wrap)->SetReal(SPHEREWRAP_ANGLE, kPi / 2);
  struct Case {
    LONG index;
    Vector position, direction;
  } cases[] = {
      {0, {200, 0, 0}, {1, 0, 0}},
      {1, {400, 0, 0}, {1, 0, 0}},
      {2, {0, 0, -200}, {0, 0, -1}},
  };
  for (const Case& c : cases) {
    const HandleInfo h = Handle(wrap, c.index);
    EXPECT_TRUE(VectorNear(c.position, h.position, 1e-12)) << c.index;
    EXPECT_EQ(c.direction, h.direction) << c.index;
    EXPECT_EQ(0, h.type);
  }
}

TEST_F(SphereWrapTest, DraggingHandlesSetsClampedParametersAndRoundTrips) {
  struct Case {
    const char* what;
    Real length;
    LONG index;
    Vector to;
    LONG id;
    Real expected;
  } cases[] = {
      {"radius", 400, 0, {150, 5, 5}, SPHEREWRAP_RADIUS, 150},
      {"radius through the centre", 400, 0, {-1, 0, 0}, SPHEREWRAP_RADIUS, 0},
      {"length", 400, 1, {300, 0, 0}, SPHEREWRAP_LENGTH, 300},
      {"length through the centre", 400, 1, {-300, 0, 0}, SPHEREWRAP_LENGTH, 0},
      {"angle", 400, 2, {0, 0, -100}, SPHEREWRAP_ANGLE, kPi / 4},
      {"angle beyond L", 400, 2, {0, 0, -900}, SPHEREWRAP_ANGLE, kPi},
      {"angle behind the centre", 400, 2, {0, 0, 50}, SPHEREWRAP_ANGLE, 0},
      {"angle with no length, outward", 0, 2, {0, 0, -10}, SPHEREWRAP_ANGLE, kPi},
      {"angle with no length, inward", 0, 2, {0, 0, 10}, SPHEREWRAP_ANGLE, 0},
      {"angle with no length, still", 0, 2, {0, 0, 0}, SPHEREWRAP_ANGLE, 0},
  };
  for (const Case& c : cases) {
    Params(wrap)->SetReal(SPHEREWRAP_LENGTH, c.length);
    Params(wrap)->SetReal(SPHEREWRAP_ANGLE, 1.0);
    MoveHandle(wrap, c.index, c.to);
    EXPECT_NEAR(c.expected, Params(wrap)->GetReal(c.id), 1e-12) << c.what;
  }

  Params(wrap)->SetReal(SPHEREWRAP_RADIUS, 123);
  Params(wrap)->SetReal(SPHEREWRAP_LENGTH, 321);
  Params(wrap)->SetReal(SPHEREWRAP_ANGLE, 2.5);
  for (LONG i = 0; i < 3; ++i) MoveHandle(wrap, i, Handle(wrap, i).position);
  EXPECT_NEAR(123, Params(wrap)->GetReal(SPHEREWRAP_RADIUS), 1e-12);
  EXPECT_NEAR(321, Params(wrap)->GetReal(SPHEREWRAP_LENGTH), 1e-12);
  EXPECT_NEAR(2.5, Params(wrap)->GetReal(SPHEREWRAP_ANGLE), 1e-12);
}

// ---------------------------------------------------------------------------------------------
// Drawing

TEST_F(SphereWrapTest, ObjectPassDrawsSphereCirclesDiagonalsAndArcs) {
  const Matrix m(Vector(10, 20, 30), Vector(0, 0, 2), Vector(0, 2, 0), Vector(-2, 0, 0));
  wrap->SetMg(m);
  for (Bool centered : {true, false}) {
    Params(wrap)->SetBool(SPHEREWRAP_CENTERED, centered);
    Params(wrap)->SetReal(SPHEREWRAP_ANGLE, kPi / 2);
    const Real S = 200, L = 400;
    const Vector c = centered ? Vector() : Vector(0, -S, 0);
    const auto commands = DrawPass(wrap, DRAWPASS_OBJECT);
    const auto circles = OfKind(commands, DrawCommand::Kind::Circle);
    const auto lines = OfKind(commands, DrawCommand::Kind::Line);

    ASSERT_EQ(3u, circles.size());
    EXPECT_EQ(m * c, circles[0].circle.off);
    EXPECT_EQ(m.v1 * S, circles[0].circle.v1);
    EXPECT_EQ(m.v2 * S, circles[0].circle.v2);
    EXPECT_EQ(m.off, circles[1].circle.off);
    EXPECT_EQ(m.v1 * L, circles[1].circle.v1);
    EXPECT_EQ(m.v3 * L, circles[1].circle.v2);
    // The wrap reaches A = π/2 on the equator: a full-size circle at the centre's height.
    EXPECT_TRUE(VectorNear(m * c, circles[2].circle.off, 1e-9));
    EXPECT_TRUE(VectorNear(m.v1 * S, circles[2].circle.v1, 1e-9));
    EXPECT_TRUE(VectorNear(m.v3 * S, circles[2].circle.v2, 1e-9));

    ASSERT_EQ(4u + 36 * 4, lines.size());
    const Real d = L / std::sqrt(2.0);
    const Vector diagonals[4] = {{d, 0, d}, {-d, 0, d}, {-d, 0, -d}, {d, 0, -d}};
    for (int q = 0; q < 4; ++q) {
      EXPECT_EQ(m.off, lines[q].a);
      EXPECT_TRUE(VectorNear(m * diagonals[q], lines[q].b, 1e-9)) << q;
      // Each arc starts at the pole and ends on the circle where the wrap reaches A.
      const Vector pole = c + Vector(0, S, 0);
      EXPECT_TRUE(VectorNear(m * pole, lines[4 + q].a, 1e-9)) << q;
      const Vector end(diagonals[q].x / L * S, c.y, diagonals[q].z / L * S);
      EXPECT_TRUE(VectorNear(m * end, lines[4 + 35 * 4 + q].b, 1e-9)) << q;
    }
  }
}

TEST_F(SphereWrapTest, ObjectPassWithoutLengthDrawsNoArcs) {
  Params(wrap)->SetReal(SPHEREWRAP_LENGTH, 0);
  const auto commands = DrawPass(wrap, DRAWPASS_OBJECT);
  EXPECT_EQ(3u, OfKind(commands, DrawCommand::Kind::Circle).size());
  EXPECT_EQ(4u, OfKind(commands, DrawCommand::Kind::Line).size());
}

TEST_F(SphereWrapTest, HandlePassDrawsHandlesAndTheAngleGuide) {
  const Matrix m(Vector(10, 20, 30), Vector(1, 0, 0), Vector(0, 1, 0), Vector(0, 0, 1));
  wrap->SetMg(m);
  const auto commands = DrawPass(wrap, DRAWPASS_HANDLES, 0);
  const auto handles = OfKind(commands, DrawCommand::Kind::Handle);
  const auto lines = OfKind(commands, DrawCommand::Kind::Line);
  ASSERT_EQ(3u, handles.size());
  BaseDraw bd;
  EXPECT_EQ(bd.GetViewColor(VIEWCOLOR_ACTIVEHANDLES), handles[0].colour);
  EXPECT_EQ(bd.GetViewColor(VIEWCOLOR_HANDLES), handles[1].colour);
  EXPECT_TRUE(VectorNear(m * Vector(0, 0, -400), handles[2].a, 1e-9));
  ASSERT_EQ(1u, lines.size());
  EXPECT_TRUE(VectorNear(m * Vector(0, 0, -400), lines[0].a, 1e-9));
  EXPECT_EQ(m.off, lines[0].b);
  EXPECT_EQ(bd.GetViewColor(VIEWCOLOR_HANDLES), lines[0].colour);
}

}  // namespace
