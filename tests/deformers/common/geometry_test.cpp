#include "deformers/common/kw_geometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>

#include "tests/deformers/deformer_fixture.h"

namespace {

using kwtest::VectorNear;

constexpr Real kNaN = std::numeric_limits<Real>::quiet_NaN();

::testing::AssertionResult MatrixNear(const Matrix& expected, const Matrix& actual,
                                      Real tolerance = 1e-12) {
  const Vector Matrix::*parts[] = {&Matrix::off, &Matrix::v1, &Matrix::v2, &Matrix::v3};
  const char* names[] = {"off", "v1", "v2", "v3"};
  for (int i = 0; i < 4; ++i) {
    auto result = VectorNear(expected.*parts[i], actual.*parts[i], tolerance);
    if (!result) return result << " in " << names[i];
  }
  return ::testing::AssertionSuccess();
}

// ---------------------------------------------------------------------------------------------
// Matrix and vector arithmetic

TEST(MatrixArithmetic, ProductAppliesTheRightFactorFirst) {
  // A turns a quarter about Z and moves by (10, 0, 0); B only moves by (1, 0, 0).
  const Matrix a(Vector(10, 0, 0), Vector(0, 1, 0), Vector(-1, 0, 0), Vector(0, 0, 1));
  const Matrix b(Vector(1, 0, 0), Vector(1, 0, 0), Vector(0, 1, 0), Vector(0, 0, 1));
  const Matrix ab = MatrixMul(a, b);
  EXPECT_TRUE(MatrixNear(Matrix(Vector(10, 1, 0), a.v1, a.v2, a.v3), ab, 0.0));

  Vector p(1, 2, 3);
  TransformPoint(ab, p);
  EXPECT_TRUE(VectorNear(Vector(8, 2, 3), p, 0.0));
  EXPECT_TRUE(MatrixEqual(MatrixIdentity(), Matrix()));
}

TEST(MatrixArithmetic, InverseOfAScaledMovedMatrixIsExact) {
  const Matrix m(Vector(1, 2, 3), Vector(2, 0, 0), Vector(0, 4, 0), Vector(0, 0, 8));
  const Matrix expected(Vector(-0.5, -0.5, -0.375), Vector(0.5, 0, 0), Vector(0, 0.25, 0),
                        Vector(0, 0, 0.125));
  EXPECT_TRUE(MatrixNear(expected, MatrixInvert(m), 0.0));
}

TEST(MatrixArithmetic, InverseUndoesAGeneralMatrix) {
  const Matrix m(Vector(5, -7, 11), Vector(0.3, 1.2, -0.4), Vector(-2.0, 0.1, 0.7),
                 Vector(0.5, 0.5, 3.0));
  EXPECT_TRUE(MatrixNear(MatrixIdentity(), MatrixMul(MatrixInvert(m), m), 1e-12));
  EXPECT_TRUE(MatrixNear(MatrixIdentity(), MatrixMul(m, MatrixInvert(m)), 1e-12));
}

TEST(MatrixArithmetic, SingularMatricesInvertToTheIdentity) {
  const Matrix cases[] = {
      // v3 = v1 + v2: linearly dependent axes.
      Matrix(Vector(4, 5, 6), Vector(1, 2, 3), Vector(4, 5, 6), Vector(5, 7, 9)),
      // A flattened gizmo: no Y axis.
      Matrix(Vector(1, 1, 1), Vector(1, 0, 0), Vector(0, 0, 0), Vector(0, 0, 1)),
      Matrix(Vector(), Vector(), Vector(), Vector()),
  };
  for (const Matrix& m : cases) {
    const Matrix inverse = MatrixInvert(m);
    EXPECT_TRUE(MatrixEqual(MatrixIdentity(), inverse));
  }
}

TEST(MatrixArithmetic, EqualityIsExactComponentComparison) {
  const Matrix base(Vector(1, 2, 3), Vector(1, 0, 0), Vector(0, 1, 0), Vector(0, 0, 1));
  Matrix tiny = base;
  tiny.v3.z = std::nextafter(1.0, 2.0);
  Matrix withNaN = base;
  withNaN.off.y = kNaN;
  Matrix negativeZero = base;
  negativeZero.v1.y = -0.0;

  struct Case {
    const char* what;
    Matrix a, b;
    Bool equal;
  } cases[] = {
      {"same", base, base, true},
      {"one ulp apart", base, tiny, false},
      {"NaN against itself", withNaN, withNaN, false},
      {"-0 and +0", base, negativeZero, true},
  };
  for (const Case& c : cases) EXPECT_EQ(c.equal, MatrixEqual(c.a, c.b)) << c.what;
}

TEST(VectorArithmetic, NormalizeReturnsTheLengthAndLeavesZeroAlone) {
  Vector v(3, 4, 0);
  EXPECT_EQ(5.0, Normalize(v));
  EXPECT_TRUE(VectorNear(Vector(0.6, 0.8, 0), v, 1e-15));

  Vector zero;
  EXPECT_EQ(0.0, Normalize(zero));
  EXPECT_EQ(Vector(), zero);
}

TEST(VectorArithmetic, SmoothStepTable) {
  struct Case {
    Real a, b, x, expected;
  } cases[] = {
      {0, 1, 0, 0}, {0, 1, 1, 1},          {0, 1, 0.5, 0.5}, {0, 1, -1, 0},
      {0, 1, 2, 1}, {0, 1, 0.25, 0.15625}, {2, 4, 3, 0.5},   {2, 4, 4, 1},
  };
  for (const Case& c : cases) {
    EXPECT_DOUBLE_EQ(c.expected, SmoothStep(c.a, c.b, c.x)) << c.a << " " << c.b << " " << c.x;
  }
}

// ---------------------------------------------------------------------------------------------
// Object and tag searches

class GizmoLookup : public kwtest::DeformerTest {
 protected:
  void SetUp() override {
    DeformerTest::SetUp();
    mesh = AddMesh({{0, 0, 0}});
    deformer =
        AddDeformer(ID_KWTWIRL, mesh,
                    Matrix(Vector(1, 2, 3), Vector(1, 0, 0), Vector(0, 1, 0), Vector(0, 0, 1)));
    pin = BaseObject::Alloc(Onull);
    doc->InsertObject(pin, nullptr, nullptr);
    pin->SetMg(Matrix(Vector(50, 0, 0), Vector(0, 0, 1), Vector(0, 1, 0), Vector(-1, 0, 0)));
  }
  BaseObject* mesh = nullptr;
  BaseObject* deformer = nullptr;
  BaseObject* pin = nullptr;
};

TEST_F(GizmoLookup, WithoutAnAnchorTheDeformerPlacesItself) {
  EXPECT_EQ(deformer, GetGizmoObject(deformer));
  EXPECT_TRUE(MatrixEqual(deformer->GetMg(), GetGizmoMatrix(deformer)));
}

TEST_F(GizmoLookup, AnAnchorWithAnEmptyLinkIsIgnored) {
  AddAnchor(deformer, nullptr);
  EXPECT_EQ(deformer, GetGizmoObject(deformer));
  EXPECT_TRUE(MatrixEqual(deformer->GetMg(), GetGizmoMatrix(deformer)));
}

TEST_F(GizmoLookup, AnAnchorLinkPlacesTheGizmoOnTheLinkedObject) {
  AddAnchor(deformer, pin);
  EXPECT_EQ(pin, GetGizmoObject(deformer));
  EXPECT_TRUE(MatrixEqual(pin->GetMg(), GetGizmoMatrix(deformer)));
}

TEST_F(GizmoLookup, OnlyTheFirstAnchorCounts) {
  BaseObject* other = BaseObject::Alloc(Onull);
  doc->InsertObject(other, nullptr, nullptr);
  // MakeTag inserts first, so the tag made last is the first one.
  AddAnchor(deformer, pin);
  AddAnchor(deformer, other);
  EXPECT_EQ(other, GetGizmoObject(deformer));
}

TEST_F(GizmoLookup, LinksThatDoNotResolveToAnObjectFallBack) {
  BaseTag* anchor = AddAnchor(deformer, pin);
  BaseObject::Free(pin);
  EXPECT_EQ(deformer, GetGizmoObject(deformer)) << "freed target";

  // A link to a tag cannot place a gizmo.
  anchor->GetDataInstance()->SetLink(NULLPIN_LINK_ID, anchor);
  EXPECT_EQ(deformer, GetGizmoObject(deformer)) << "link to a tag";

  // An object outside the deformer's document does not resolve.
  BaseObject* stray = BaseObject::Alloc(Onull);
  anchor->GetDataInstance()->SetLink(NULLPIN_LINK_ID, stray);
  EXPECT_EQ(deformer, GetGizmoObject(deformer)) << "object outside the document";
  BaseObject::Free(stray);

  // A deformer outside any document resolves no link at all.
  anchor->GetDataInstance()->SetLink(NULLPIN_LINK_ID, mesh);
  deformer->Remove();
  EXPECT_EQ(deformer, GetGizmoObject(deformer)) << "deformer outside the document";
  BaseObject::Free(deformer);
}

TEST_F(GizmoLookup, FindTagByNameMatchesNameAndTypeAndTakesTheFirst) {
  EXPECT_EQ(nullptr, FindTagByName(nullptr, "w", Tvertexmap));
  BaseTag* wrongType = mesh->MakeTag(Trestriction);
  wrongType->SetName("w");
  EXPECT_EQ(nullptr, FindTagByName(mesh, "w", Tvertexmap));
  VariableTag* second = AddVertexMap(mesh, "w", {1});
  VariableTag* first = AddVertexMap(mesh, "w", {2});
  AddVertexMap(mesh, "other", {3});
  EXPECT_EQ(first, FindTagByName(mesh, "w", Tvertexmap));
  EXPECT_NE(second, first);
}

TEST_F(GizmoLookup, FindCacheOwnerSearchesOnlyTheParentsSubtree) {
  // mesh ─┬─ deformer
  //       └─ child
  // other ── otherDeformer
  PolygonObject* child = kwtest::MakePolygonObject({{1, 1, 1}}, {});
  doc->InsertObject(child, mesh, deformer);
  PolygonObject* other = AddMesh({{2, 2, 2}});
  BaseObject* otherDeformer = AddDeformer(ID_KWTWIRL, other);
  ASSERT_TRUE(Evaluate());
  ASSERT_NE(nullptr, mesh->GetDeformCache());
  ASSERT_NE(nullptr, child->GetDeformCache());
  ASSERT_NE(nullptr, other->GetDeformCache());

  EXPECT_EQ(mesh, FindCacheOwner(mesh->GetDeformCache(), deformer));
  EXPECT_EQ(child, FindCacheOwner(child->GetDeformCache(), deformer));
  EXPECT_EQ(nullptr, FindCacheOwner(other->GetDeformCache(), deformer));
  EXPECT_EQ(other, FindCacheOwner(other->GetDeformCache(), otherDeformer));
  EXPECT_EQ(nullptr, FindCacheOwner(mesh, deformer)) << "a scene object is no cache";
  EXPECT_EQ(nullptr, FindCacheOwner(nullptr, deformer));

  BaseObject* orphan = BaseObject::Alloc(ID_KWTWIRL);
  EXPECT_EQ(nullptr, FindCacheOwner(mesh->GetDeformCache(), orphan));
  BaseObject::Free(orphan);
}

// ---------------------------------------------------------------------------------------------
// Vertex normals

class VertexNormals : public kwtest::HostTest {};

TEST_F(VertexNormals, CubeCornersPointOutward) {
  PolygonObject* cube = kwtest::MakePolygonObject(kwtest::CubePoints(), kwtest::CubePolygons());
  std::vector<Vector> normals(8);
  ASSERT_TRUE(CalcVertexNormals(cube->GetPointR(), Matrix(), false, normals.data(), cube));
  const Real c = 1.0 / std::sqrt(3.0);
  for (LONG i = 0; i < 8; ++i) {
    const Vector p = cube->GetPointR()[i];
    EXPECT_TRUE(
        VectorNear(Vector(p.x > 0 ? c : -c, p.y > 0 ? c : -c, p.z > 0 ? c : -c), normals[i], 1e-12))
        << i;
  }

  // Through a matrix that turns a quarter about Z, doubles and moves: the normals turn along.
  const Matrix m(Vector(7, 8, 9), Vector(0, 2, 0), Vector(-2, 0, 0), Vector(0, 0, 2));
  ASSERT_TRUE(CalcVertexNormals(cube->GetPointR(), m, true, normals.data(), cube));
  EXPECT_TRUE(VectorNear(Vector(c, -c, -c), normals[0], 1e-12));
  BaseObject* op = cube;
  BaseObject::Free(op);
}

TEST_F(VertexNormals, TrianglesCountTheirLastCornerTwiceAndLonePointsGetZero) {
  // Point 2 is corner a of a triangle facing +Z and corner c (counted twice) of one facing -X,
  // so -X weighs double in its average. Point 5 belongs to no polygon.
  PolygonObject* mesh = kwtest::MakePolygonObject(
      {{1, 0, 0}, {0, 1, 0}, {0, 0, 0}, {0, 0, 1}, {0, 1, 1}, {9, 9, 9}}, {{2, 0, 1}, {3, 4, 2}});
  std::vector<Vector> normals(6, Vector(7, 7, 7));
  ASSERT_TRUE(CalcVertexNormals(mesh->GetPointR(), Matrix(), false, normals.data(), mesh));
  EXPECT_TRUE(VectorNear(Vector(-2, 0, 1) / std::sqrt(5.0), normals[2], 1e-12));
  EXPECT_TRUE(VectorNear(Vector(0, 0, 1), normals[0], 1e-12));
  EXPECT_TRUE(VectorNear(Vector(-1, 0, 0), normals[4], 1e-12));
  EXPECT_EQ(Vector(0, 0, 0), normals[5]);
  BaseObject* op = mesh;
  BaseObject::Free(op);
}

TEST_F(VertexNormals, PolygonsReachingOutsideThePointsAreSkipped) {
  PolygonObject* mesh = kwtest::MakePolygonObject({{0, 0, 0}, {1, 0, 0}, {0, 0, 1}},
                                                  {{0, 2, 1}, {0, 1, 7}, {-1, 0, 1}});
  std::vector<Vector> normals(3);
  ASSERT_TRUE(CalcVertexNormals(mesh->GetPointR(), Matrix(), false, normals.data(), mesh));
  EXPECT_TRUE(VectorNear(Vector(0, 1, 0), normals[0], 1e-12));
  BaseObject* op = mesh;
  BaseObject::Free(op);
}

TEST_F(VertexNormals, FailedCounterAllocationLeavesTheNormalsUntouched) {
  PolygonObject* cube = kwtest::MakePolygonObject(kwtest::CubePoints(), kwtest::CubePolygons());
  std::vector<Vector> normals(8, Vector(7, 7, 7));
  kwhost::memory::FailAllocation(1);
  EXPECT_FALSE(CalcVertexNormals(cube->GetPointR(), Matrix(), false, normals.data(), cube));
  kwhost::memory::FailAllocation(0);
  for (const Vector& n : normals) EXPECT_EQ(Vector(7, 7, 7), n);
  BaseObject* op = cube;
  BaseObject::Free(op);
}

// ---------------------------------------------------------------------------------------------
// Description and drawing helpers

TEST(ShowParameterTest, SetsAndClearsTheHideFlagOfAnExistingEntry) {
  Description description;
  Description::Entry entry;
  entry.id = DescID(1000);
  description.AddEntry(entry);

  ShowParameter(nullptr, &description, 1000, false);
  EXPECT_TRUE(description.GetParameterI(DescID(1000))->GetBool(DESC_HIDE));
  ShowParameter(nullptr, &description, 1000, true);
  EXPECT_FALSE(description.GetParameterI(DescID(1000))->GetBool(DESC_HIDE));

  ShowParameter(nullptr, &description, 4242, false);
  EXPECT_EQ(nullptr, description.GetParameterI(DescID(4242)));
  EXPECT_EQ(1u, description.Entries().size());
}

std::vector<std::pair<Vector, Vector>> Lines(const BaseDraw& bd) {
  std::vector<std::pair<Vector, Vector>> lines;
  for (const DrawCommand& c : bd.Commands()) {
    EXPECT_EQ(DrawCommand::Kind::Line, c.kind);
    lines.emplace_back(c.a, c.b);
  }
  return lines;
}

TEST(OutlineDrawing, CrossAndSquareInEachPlane) {
  using Segments = std::vector<std::pair<Vector, Vector>>;
  const Vector c(1, 2, 3);
  struct Case {
    LONG plane;
    Segments cross, square;
  } cases[] = {
      {0,
       {{{1, 1, 2}, {1, 3, 4}}, {{1, 1, 4}, {1, 3, 2}}},
       {{{1, 1, 2}, {1, 1, 4}},
        {{1, 1, 4}, {1, 3, 4}},
        {{1, 3, 4}, {1, 3, 2}},
        {{1, 3, 2}, {1, 1, 2}}}},
      {1,
       {{{0, 2, 2}, {2, 2, 4}}, {{0, 2, 4}, {2, 2, 2}}},
       {{{0, 2, 2}, {0, 2, 4}},
        {{0, 2, 4}, {2, 2, 4}},
        {{2, 2, 4}, {2, 2, 2}},
        {{2, 2, 2}, {0, 2, 2}}}},
      {2,
       {{{0, 1, 3}, {2, 3, 3}}, {{2, 1, 3}, {0, 3, 3}}},
       {{{0, 1, 3}, {2, 1, 3}},
        {{2, 1, 3}, {2, 3, 3}},
        {{2, 3, 3}, {0, 3, 3}},
        {{0, 3, 3}, {0, 1, 3}}}},
      {3, {}, {}},
  };
  for (const Case& k : cases) {
    BaseDraw cross;
    DrawCross(&cross, 2.0, c, k.plane);
    EXPECT_EQ(k.cross, Lines(cross)) << "cross, plane " << k.plane;
    BaseDraw square;
    DrawSquare(&square, 2.0, c, k.plane);
    EXPECT_EQ(k.square, Lines(square)) << "square, plane " << k.plane;
  }
}

}  // namespace
