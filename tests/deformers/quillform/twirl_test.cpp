#include "deformers/quillform/kwtwirl.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "tests/deformers/deformer_fixture.h"

namespace {

using kwtest::VectorNear;
constexpr Real kPi = std::numbers::pi;

TwirlSettings Settings(Real radius, Real angle, Bool reverse = false, Bool limit = false,
                       Real edge = 0.0) {
  TwirlSettings s;
  s.radius = radius;
  s.angle = angle;
  s.reverse = reverse;
  s.limit = limit;
  s.edge = edge;
  return s;
}

// ---------------------------------------------------------------------------------------------
// Kernels

TEST(TwirlKernel, TwistTable) {
  const Real A = kPi / 2;
  const Real R = 400;
  const Real halfBandBlend = 0.5;  // SmoothStep at the middle of the rim band
  struct Case {
    const char* what;
    TwirlSettings settings;
    Real distance, twist;
  } cases[] = {
      {"on the axis", Settings(R, A), 0, 0},
      {"half way", Settings(R, A), 200, -A / 2},
      {"at the rim", Settings(R, A), 400, -A},
      {"beyond the rim, no limit", Settings(R, A), 800, -2 * A},
      {"beyond the rim, limit", Settings(R, A, false, true), 800, -A},
      {"reverse on the axis", Settings(R, A, true), 0, -A},
      {"reverse at the rim", Settings(R, A, true), 400, 0},
      {"reverse beyond, limit", Settings(R, A, true, true), 800, 0},
      {"edge: inside the band's inner end", Settings(R, A, false, false, 0.5), 200, -A / 2},
      {"edge: middle of the band", Settings(R, A, false, false, 0.5), 300,
       -0.75 * A + (1 - halfBandBlend) * (-A + 0.75 * A)},
      {"edge: at the rim", Settings(R, A, false, false, 0.5), 400, -A},
      {"edge: beyond the rim", Settings(R, A, false, false, 0.5), 600, -A},
      {"edge, reverse: middle of the band", Settings(R, A, true, false, 0.5), 300,
       -0.25 * A * halfBandBlend},
      {"edge, reverse: at the rim", Settings(R, A, true, false, 0.5), 400, 0},
      {"no radius", Settings(0, A), 100, 0},
  };
  for (const Case& c : cases) {
    EXPECT_NEAR(c.twist, TwirlTwist(c.distance, c.settings), 1e-12) << c.what;
  }
}

TEST(TwirlKernel, PointTable) {
  const TwirlSettings quarter = Settings(400, kPi / 2);
  const Real r2 = std::sqrt(0.5);
  struct Case {
    const char* what;
    Vector p;
    Real falloff, restriction;
    Vector expected;
    Real angle;
  } cases[] = {
      {"a quarter turn at the rim", {400, 7, 0}, 1, 1, {0, 7, -400}, -kPi / 2},
      {"an eighth at half the radius", {200, 0, 0}, 1, 1, {200 * r2, 0, -200 * r2}, -kPi / 4},
      {"the falloff scales the angle", {400, 0, 0}, 0.5, 1, {400 * r2, 0, -400 * r2}, -kPi / 4},
      {"restriction blends along the chord", {400, 0, 0}, 1, 0.5, {200, 0, -200}, -kPi / 4},
      {"from the Z axis", {0, 0, 400}, 1, 1, {400, 0, 0}, -kPi / 2},
  };
  for (const Case& c : cases) {
    const DeformedPoint moved = TwirlPoint(c.p, c.falloff, c.restriction, quarter);
    EXPECT_TRUE(VectorNear(c.expected, moved.position, 1e-9)) << c.what;
    EXPECT_NEAR(c.angle, moved.angle, 1e-12) << c.what;
  }
}

TEST(TwirlKernel, PointsOnTheAxisOrWithoutWeightStayExactly) {
  const Vector onAxis(0, 123.5, 0);
  for (Real angle : {0.3, kPi, -17.0}) {
    EXPECT_EQ(onAxis, TwirlPoint(onAxis, 1, 1, Settings(400, angle)).position);
  }
  const Vector p(123.25, -4, 77.5);
  EXPECT_EQ(p, TwirlPoint(p, 0, 1, Settings(400, 1)).position) << "falloff 0";
  EXPECT_EQ(p, TwirlPoint(p, 1, 0, Settings(400, 1)).position) << "restriction 0";
}

// ---------------------------------------------------------------------------------------------
// The deformer in a document

class TwirlTest : public kwtest::DeformerTest {
 protected:
  void SetUp() override {
    DeformerTest::SetUp();
    // Turned and moved, so deformer space differs from the mesh's and from global space.
    mesh = AddMesh({{400, 0, 0}, {0, 50, 0}, {200, 0, 0}, {800, 0, 0}}, {},
                   Matrix(Vector(10, 20, 30), Vector(1, 0, 0), Vector(0, 1, 0), Vector(0, 0, 1)));
    twirl = AddDeformer(ID_KWTWIRL, mesh, kTwirlMg);
  }

  /// Mesh-local point whose twirl-space position is `deformerPos`, and back.
  Vector FromTwirl(const Vector& deformerPos) const {
    return MatrixInvert(mesh->GetMg()) * (kTwirlMg * deformerPos);
  }

  const Matrix kTwirlMg{Vector(10, 20, 30), Vector(0, 0, 1), Vector(0, 1, 0), Vector(-1, 0, 0)};
  PolygonObject* mesh = nullptr;
  BaseObject* twirl = nullptr;
};

TEST_F(TwirlTest, DefaultsAndDimension) {
  const BaseContainer* bc = Params(twirl);
  EXPECT_EQ(400.0, bc->GetReal(TWIRL_RADIUS));
  EXPECT_EQ(kPi / 2, bc->GetReal(TWIRL_ANGLE));
  EXPECT_EQ(DataType::Long, bc->GetType(TWIRL_REVERSE));
  EXPECT_EQ(0, bc->GetLong(TWIRL_REVERSE));
  EXPECT_EQ(DataType::Bool, bc->GetType(TWIRL_LIMIT));
  EXPECT_FALSE(bc->GetBool(TWIRL_LIMIT));
  EXPECT_EQ(0.0, bc->GetReal(TWIRL_EDGE));
  EXPECT_EQ(3, HandleCount(twirl));

  Params(twirl)->SetReal(TWIRL_RADIUS, 150);
  Vector centre(1, 1, 1), half;
  twirl->GetNodeData<ObjectData>()->GetDimension(twirl, &centre, &half);
  EXPECT_EQ(Vector(), centre);
  EXPECT_EQ(Vector(150, 150, 150), half);
}

TEST_F(TwirlTest, TwistsTheMeshAboutTheDeformersAxisAndWritesBothMapModes) {
  // The mesh's points sit in twirl space at (400, 0, 0), (0, 50, 0), (200, 0, 0), (800, 0, 0).
  for (LONG i = 0; i < 4; ++i) {
    const Vector p = mesh->GetPointR()[i];
    mesh->GetPointW()[i] = FromTwirl(p);
  }
  AddVertexMap(mesh, "diff", {0.7f, 0.7f, 0.7f, 0.7f});
  Params(twirl)->SetString(DEFORMERBASE_MAPNAME, "diff");
  Params(twirl)->SetReal(DEFORMERBASE_MAXDISTANCE, 1000);

  ASSERT_TRUE(Evaluate());
  const auto moved = Deformed(mesh);
  const Real r2 = std::sqrt(0.5);
  EXPECT_TRUE(VectorNear(FromTwirl({0, 0, -400}), moved[0], 1e-9));
  EXPECT_EQ(mesh->GetPointR()[1], moved[1]) << "on the axis";
  EXPECT_TRUE(VectorNear(FromTwirl({200 * r2, 0, -200 * r2}), moved[2], 1e-9));
  EXPECT_TRUE(VectorNear(FromTwirl({-800, 0, 0}), moved[3], 1e-9)) << "2R turns by 2A";

  const Real chord = 400 * std::sqrt(2.0);
  const std::vector<Real> distances = {chord / 1000, 0, 200 * std::sqrt(2 - std::sqrt(2.0)) / 1000,
                                       1.0};
  auto values = MapValues(FindTagByName(mesh, "diff", Tvertexmap));
  for (size_t i = 0; i < 4; ++i) EXPECT_NEAR(distances[i], values[i], 1e-6) << i;

  Params(twirl)->SetLong(DEFORMERBASE_MAPMODE, DEFORMERBASE_MAPMODE_ANGLE);
  ASSERT_TRUE(Evaluate());
  values = MapValues(FindTagByName(mesh->GetDeformCache(), "diff", Tvertexmap));
  const std::vector<Real> angles = {1.0, 0.0, 0.5, 1.0};  // |α| over π/2, clamped
  for (size_t i = 0; i < 4; ++i) EXPECT_NEAR(angles[i], values[i], 1e-6) << i;
}

TEST_F(TwirlTest, ZeroRadiusChangesNothingAtAll) {
  AddVertexMap(mesh, "diff", {0.7f, 0.7f, 0.7f, 0.7f});
  Params(twirl)->SetString(DEFORMERBASE_MAPNAME, "diff");
  Params(twirl)->SetReal(TWIRL_RADIUS, 0);
  PolygonObject* target = kwtest::MakePolygonObject(kwtest::Points(mesh), {});
  AddVertexMap(target, "diff", {0.7f, 0.7f, 0.7f, 0.7f});
  const LLONG dirty = target->GetDirty(DIRTYFLAGS_DATA);
  EXPECT_TRUE(Modify(twirl, target));
  EXPECT_EQ(kwtest::Points(mesh), kwtest::Points(target));
  EXPECT_EQ(std::vector<SReal>(4, 0.7f), MapValues(target->GetFirstTag())) << "maps untouched";
  EXPECT_EQ(dirty, target->GetDirty(DIRTYFLAGS_DATA)) << "no update message";
  BaseObject* op = target;
  BaseObject::Free(op);
}

TEST_F(TwirlTest, ShiftSizesTheRadiusToTheActiveObject) {
  // A 200 × 100 × 200 box around (5, 5, 5).
  BaseObject* box = AddMesh({{-95, -45, -95}, {105, 55, 105}});
  doc->SetActiveObject(box);
  BaseObject* created = AddDeformer(ID_KWTWIRL, nullptr);
  kwhost::SetQualifier(QUALIFIER_SHIFT);
  EXPECT_TRUE(created->Message(MSG_MENUPREPARE, doc));
  EXPECT_NEAR(std::sqrt(2.0) * 100, Params(created)->GetReal(TWIRL_RADIUS), 1e-12);
  EXPECT_EQ(Vector(5, 5, 5), created->GetMg().off);
  EXPECT_TRUE(created->GetDeformMode());

  kwhost::SetQualifier(0);
  BaseObject* plain = AddDeformer(ID_KWTWIRL, nullptr);
  EXPECT_TRUE(plain->Message(MSG_MENUPREPARE, doc));
  EXPECT_EQ(400.0, Params(plain)->GetReal(TWIRL_RADIUS));
  EXPECT_EQ(Vector(), plain->GetMg().off);
}

// ---------------------------------------------------------------------------------------------
// Handles

TEST_F(TwirlTest, OwnHandlesSitWhereTheParametersSay) {
  Params(twirl)->SetReal(TWIRL_EDGE, 0.25);
  struct Case {
    LONG index;
    Vector position, direction;
  } cases[] = {
      {0, {400, 0, 0}, {1, 0, 0}},
      {1, {0, 0, -300}, {0, 0, -1}},
      {2, {-kPi / 2 * 127.32395447351627, 0, 0}, {-1, 0, 0}},
  };
  for (const Case& c : cases) {
    const HandleInfo h = Handle(twirl, c.index);
    EXPECT_TRUE(VectorNear(c.position, h.position, 1e-12)) << c.index;
    EXPECT_EQ(c.direction, h.direction) << c.index;
    EXPECT_EQ(0, h.type);
  }
  EXPECT_NEAR(-200.0, Handle(twirl, 2).position.x, 1e-12) << "a quarter turn lies 200 out";
}

TEST_F(TwirlTest, DraggingHandlesSetsClampedParametersAndRoundTrips) {
  struct Case {
    const char* what;
    LONG index;
    Vector to;
    LONG id;
    Real expected;
  } cases[] = {
      {"radius", 0, {250, 9, 9}, TWIRL_RADIUS, 250},
      {"radius through the centre", 0, {-10, 0, 0}, TWIRL_RADIUS, 0},
      {"edge", 1, {0, 0, -300}, TWIRL_EDGE, 0.25},
      {"edge past the centre", 1, {0, 0, 100}, TWIRL_EDGE, 1},
      {"edge beyond the rim", 1, {0, 0, -500}, TWIRL_EDGE, 0},
      {"angle", 2, {-200, 0, 0}, TWIRL_ANGLE, kPi / 2},
      {"negative angle", 2, {100, 0, 0}, TWIRL_ANGLE, -100 / 127.32395447351627},
  };
  for (const Case& c : cases) {
    Params(twirl)->SetReal(TWIRL_RADIUS, 400);
    MoveHandle(twirl, c.index, c.to);
    EXPECT_NEAR(c.expected, Params(twirl)->GetReal(c.id), 1e-12) << c.what;
  }

  Params(twirl)->SetReal(TWIRL_RADIUS, 321);
  Params(twirl)->SetReal(TWIRL_EDGE, 0.4);
  Params(twirl)->SetReal(TWIRL_ANGLE, -2.5);
  for (LONG i = 0; i < 3; ++i) MoveHandle(twirl, i, Handle(twirl, i).position);
  EXPECT_NEAR(321, Params(twirl)->GetReal(TWIRL_RADIUS), 1e-9);
  EXPECT_NEAR(0.4, Params(twirl)->GetReal(TWIRL_EDGE), 1e-12);
  EXPECT_NEAR(-2.5, Params(twirl)->GetReal(TWIRL_ANGLE), 1e-12);
}

TEST_F(TwirlTest, EdgeHandleWithoutRadiusGivesNoEdge) {
  Params(twirl)->SetReal(TWIRL_RADIUS, 0);
  for (const Vector& to : {Vector(0, 0, -5), Vector(0, 0, 5), Vector(0, 0, 0)}) {
    Params(twirl)->SetReal(TWIRL_EDGE, 0.5);
    MoveHandle(twirl, 1, to);
    EXPECT_EQ(0.0, Params(twirl)->GetReal(TWIRL_EDGE)) << to.z;
  }
}

TEST_F(TwirlTest, FalloffHandlesFollowTheOwnOnes) {
  SetSphereFalloff(twirl, 75);
  ASSERT_EQ(4, HandleCount(twirl));
  EXPECT_TRUE(VectorNear(Vector(75, 0, 0), Handle(twirl, 3).position, 1e-9));
  MoveHandle(twirl, 3, Vector(90, 0, 0));
  EXPECT_NEAR(90, Params(twirl)->GetVector(FALLOFF_SIZE).x, 1e-9);
  EXPECT_EQ(400.0, Params(twirl)->GetReal(TWIRL_RADIUS));
}

// ---------------------------------------------------------------------------------------------
// Drawing

TEST_F(TwirlTest, ObjectPassDrawsTheRimCircleAndTheTwoArmedSpiral) {
  Params(twirl)->SetReal(TWIRL_RADIUS, 100);
  const Matrix m = twirl->GetMg();
  const auto commands = DrawPass(twirl, DRAWPASS_OBJECT);
  const auto circles = OfKind(commands, DrawCommand::Kind::Circle);
  const auto lines = OfKind(commands, DrawCommand::Kind::Line);
  ASSERT_EQ(1u, circles.size());
  EXPECT_EQ(Matrix(m.off, m.v1 * 100, m.v3 * 100, m.v2 * 100), circles[0].circle);
  BaseDraw bd;
  EXPECT_EQ(bd.GetObjectColor(nullptr, twirl), circles[0].colour);

  ASSERT_EQ(200u, lines.size());
  // Arm and mirrored arm alternate, starting at the centre; both end on the rim where a
  // straight line along Z has been carried a quarter turn, on the X axis.
  EXPECT_TRUE(VectorNear(m.off, lines[0].a, 1e-9));
  EXPECT_TRUE(VectorNear(m.off, lines[1].a, 1e-9));
  const Real a1 = TwirlTwist(1, Settings(100, kPi / 2)) + kPi / 2;
  EXPECT_TRUE(VectorNear(m * Vector(std::cos(a1), 0, std::sin(a1)), lines[0].b, 1e-9));
  EXPECT_TRUE(VectorNear(m * Vector(-std::cos(a1), 0, -std::sin(a1)), lines[1].b, 1e-9));
  EXPECT_TRUE(VectorNear(m * Vector(100, 0, 0), lines[198].b, 1e-9));
  EXPECT_TRUE(VectorNear(m * Vector(-100, 0, 0), lines[199].b, 1e-9));
  for (size_t i = 2; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i - 2].b, lines[i].a) << "the arms are continuous";
  }
}

TEST_F(TwirlTest, ObjectPassWithoutRadiusDrawsOnlyAPointCircle) {
  Params(twirl)->SetReal(TWIRL_RADIUS, 0);
  const auto commands = DrawPass(twirl, DRAWPASS_OBJECT);
  ASSERT_EQ(1u, commands.size());
  EXPECT_EQ(DrawCommand::Kind::Circle, commands[0].kind);
  EXPECT_EQ(Vector(), commands[0].circle.v1);
}

TEST_F(TwirlTest, HandlePassDrawsHandlesAndTheirGuideLines) {
  Params(twirl)->SetReal(TWIRL_EDGE, 0.25);
  SetSphereFalloff(twirl, 75);
  const Matrix m = twirl->GetMg();
  const auto commands = DrawPass(twirl, DRAWPASS_HANDLES, 2);
  const auto handles = OfKind(commands, DrawCommand::Kind::Handle);
  const auto lines = OfKind(commands, DrawCommand::Kind::Line);
  ASSERT_EQ(4u, handles.size());
  BaseDraw bd;
  for (LONG i = 0; i < 4; ++i) {
    EXPECT_TRUE(VectorNear(m * Handle(twirl, i).position, handles[i].a, 1e-9)) << i;
    EXPECT_EQ(bd.GetViewColor(i == 2 ? VIEWCOLOR_ACTIVEHANDLES : VIEWCOLOR_HANDLES),
              handles[i].colour);
  }
  ASSERT_EQ(2u, lines.size());
  EXPECT_TRUE(VectorNear(m * Vector(0, 0, -300), lines[0].a, 1e-9));
  EXPECT_TRUE(VectorNear(m * Vector(0, 0, -400), lines[0].b, 1e-9));
  EXPECT_TRUE(VectorNear(m * Vector(-200, 0, 0), lines[1].a, 1e-9));
  EXPECT_TRUE(VectorNear(m.off, lines[1].b, 1e-9));
  for (const DrawCommand& line : lines) {
    EXPECT_EQ(bd.GetViewColor(VIEWCOLOR_HANDLES), line.colour);
  }
}

// ---------------------------------------------------------------------------------------------
// Anchor tag, failures

TEST_F(TwirlTest, AnAnchorMovesTheFalloffWithItsTargetAndMarksTheTwirlDirty) {
  // Two points far apart on the mesh; a small sphere falloff that the pin carries.
  PolygonObject* sheet = AddMesh({{300, 0, 0}, {-300, 0, 0}});
  BaseObject* deformer = AddDeformer(ID_KWTWIRL, sheet);
  SetSphereFalloff(deformer, 50);
  BaseObject* pin = BaseObject::Alloc(Onull);
  doc->InsertObject(pin, nullptr, nullptr);
  AddAnchor(deformer, pin);
  const auto original = kwtest::Points(sheet);
  auto placePin = [&](Real x) {
    pin->SetMg(Matrix(Vector(x, 0, 0), Vector(1, 0, 0), Vector(0, 1, 0), Vector(0, 0, 1)));
  };

  placePin(300);
  ASSERT_TRUE(Evaluate());
  EXPECT_NE(original[0], Deformed(sheet)[0]) << "inside the pinned falloff";
  EXPECT_EQ(original[1], Deformed(sheet)[1]);

  LLONG dirty = deformer->GetDirty(DIRTYFLAGS_DATA);
  ASSERT_TRUE(Evaluate());
  EXPECT_EQ(dirty, deformer->GetDirty(DIRTYFLAGS_DATA)) << "nothing moved";
  placePin(-300);
  ASSERT_TRUE(Evaluate());
  EXPECT_GT(deformer->GetDirty(DIRTYFLAGS_DATA), dirty) << "the pin moved";
  EXPECT_EQ(original[0], Deformed(sheet)[0]);
  EXPECT_NE(original[1], Deformed(sheet)[1]) << "the falloff went with the pin";

  const auto circles = OfKind(DrawPass(deformer, DRAWPASS_OBJECT), DrawCommand::Kind::Circle);
  ASSERT_FALSE(circles.empty());
  EXPECT_EQ(Vector(-300, 0, 0), circles[0].circle.off) << "the falloff is drawn at the pin";
}

TEST_F(TwirlTest, EvaluationFailsCleanlyAtEveryAllocation) {
  AddVertexMap(mesh, "w", {1, 0.5f, 1, 1});
  AddVertexMap(mesh, "diff", {0, 0, 0, 0});
  AddRestriction(twirl, "w");
  Params(twirl)->SetString(DEFORMERBASE_MAPNAME, "diff");
  const auto original = kwtest::Points(mesh);
  // Leaks of any pass show in the fixture's final count: the document frees every cache.
  for (LLONG n = 1;; ++n) {
    ASSERT_LT(n, 100) << "never succeeded";
    kwhost::memory::FailAllocation(n);
    const Bool ok = Evaluate();
    kwhost::memory::FailAllocation(0);
    EXPECT_EQ(original, kwtest::Points(mesh));
    if (!ok) {
      // Whatever cache a failed pass left is the untouched copy or none.
      const auto cache = Deformed(mesh);
      EXPECT_TRUE(cache.empty() || cache == original) << "allocation " << n;
      EXPECT_EQ(std::vector<SReal>(4, 0.0f), MapValues(FindTagByName(mesh, "diff", Tvertexmap)));
      continue;
    }
    EXPECT_NE(original, Deformed(mesh));
    EXPECT_GT(MapValues(FindTagByName(mesh, "diff", Tvertexmap))[0], 0.0f);
    break;
  }
}

}  // namespace
