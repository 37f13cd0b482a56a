// Small helpers shared by the tests: a fixture that leaves the host clean, and mesh builders.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "kwhost/app/host.h"
#include "kwhost/app/testing.h"
#include "kwhost/c4d.h"

namespace kwtest {

/// A document per test; console, status, input state and allocation failure reset around
/// it; the registry is cleared afterwards. Fails the test when host blocks leak.
class HostTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  BaseDocument* doc = nullptr;

 private:
  LLONG liveBlocksAtStart_ = 0;
};

/// A polygon object with the given points and polygons (three indices make a triangle).
PolygonObject* MakePolygonObject(const std::vector<Vector>& points,
                                 const std::vector<std::vector<LONG>>& polygons);

/// A flat grid in the XZ plane, `width` × `depth`, with `segX` × `segZ` quads, centred on
/// the origin; points row by row from (-x, -z).
PolygonObject* MakeGrid(Real width, Real depth, LONG segX, LONG segZ);

/// Every point of `op`, copied.
std::vector<Vector> Points(const BaseObject* op);

/// Component-wise comparison within `tolerance`.
::testing::AssertionResult VectorNear(const Vector& expected, const Vector& actual,
                                      Real tolerance = 1e-9);

}  // namespace kwtest
