#include "kwtest.h"

namespace kwtest {

void HostTest::SetUp() {
  kwhost::memory::FailAllocation(0);
  kwhost::ClearRecorders();
  kwhost::SetQualifier(0);
  kwhost::SetEscapePressed(false);
  liveBlocksAtStart_ = kwhost::memory::LiveBlocks();
  doc = BaseDocument::Alloc();
  ASSERT_NE(doc, nullptr);
}

void HostTest::TearDown() {
  kwhost::memory::FailAllocation(0);
  BaseDocument::Free(doc);
  kwhost::SetQualifier(0);
  kwhost::SetEscapePressed(false);
  EXPECT_EQ(kwhost::memory::LiveBlocks(), liveBlocksAtStart_) << "host blocks leaked";
}

PolygonObject* MakePolygonObject(const std::vector<Vector>& points,
                                 const std::vector<std::vector<LONG>>& polygons) {
  PolygonObject* op =
      PolygonObject::Alloc(static_cast<LONG>(points.size()), static_cast<LONG>(polygons.size()));
  if (!op) return nullptr;
  std::copy(points.begin(), points.end(), op->GetPointW());
  CPolygon* polys = op->GetPolygonW();
  for (size_t i = 0; i < polygons.size(); ++i) {
    const auto& p = polygons[i];
    polys[i] = p.size() == 3 ? CPolygon(p[0], p[1], p[2]) : CPolygon(p[0], p[1], p[2], p[3]);
  }
  return op;
}

PolygonObject* MakeGrid(Real width, Real depth, LONG segX, LONG segZ) {
  std::vector<Vector> points;
  for (LONG j = 0; j <= segZ; ++j) {
    for (LONG i = 0; i <= segX; ++i) {
      points.emplace_back(-width / 2 + width * i / segX, 0.0, -depth / 2 + depth * j / segZ);
    }
  }
  std::vector<std::vector<LONG>> polygons;
  for (LONG j = 0; j < segZ; ++j) {
    for (LONG i = 0; i < segX; ++i) {
      const LONG a = j * (segX + 1) + i;
      polygons.push_back({a, a + segX + 1, a + segX + 2, a + 1});
    }
  }
  return MakePolygonObject(points, polygons);
}

std::vector<Vector> Points(const BaseObject* op) {
  if (!op || !op->IsInstanceOf(Opoint)) return {};
  const auto* point = static_cast<const PointObject*>(op);
  return {point->GetPointR(), point->GetPointR() + point->GetPointCount()};
}

::testing::AssertionResult VectorNear(const Vector& expected, const Vector& actual,
                                      Real tolerance) {
  if (std::abs(expected.x - actual.x) <= tolerance &&
      std::abs(expected.y - actual.y) <= tolerance &&
      std::abs(expected.z - actual.z) <= tolerance) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure()
         << "expected (" << expected.x << ", " << expected.y << ", " << expected.z << ") got ("
         << actual.x << ", " << actual.y << ", " << actual.z << ")";
}

}  // namespace kwtest
