// The host's primitives: the polygon objects that planes, cubes and spheres generate. Every
// polygon winds so that (b - a) × (c - a) points out of the surface.
#include <algorithm>
#include <cmath>
#include <numbers>
#include <unordered_map>
#include <vector>

#include "node_access.h"

namespace {

// Primitive parameters (the primitive's container) and their defaults.
constexpr LONG PRIM_PLANE_WIDTH = 1100;   // Real 400
constexpr LONG PRIM_PLANE_HEIGHT = 1101;  // Real 400
constexpr LONG PRIM_PLANE_SUBW = 1102;    // Long 20
constexpr LONG PRIM_PLANE_SUBH = 1103;    // Long 20
constexpr LONG PRIM_CUBE_LEN = 1100;      // Vector (200, 200, 200), the full edge lengths
constexpr LONG PRIM_CUBE_SUBX = 1102;     // Long 1 (1103 y, 1104 z)
constexpr LONG PRIM_SPHERE_RAD = 1110;    // Real 100
constexpr LONG PRIM_SPHERE_SUB = 1111;    // Long 24

// Segment counts are kept within what the attribute view offers, so a stray value cannot
// ask for billions of points.
constexpr LONG kMaxSegments = 1000;

LONG Segments(const BaseContainer* bc, LONG id, LONG fallback, LONG least) {
  return std::clamp(bc->GetLong(id, fallback), least, kMaxSegments);
}

/// A polygon object holding `points` and `polygons`; null when memory is exhausted.
PolygonObject* MakeMesh(const std::vector<Vector>& points, const std::vector<CPolygon>& polygons) {
  PolygonObject* mesh =
      PolygonObject::Alloc(static_cast<LONG>(points.size()), static_cast<LONG>(polygons.size()));
  if (!mesh) return nullptr;
  std::copy(points.begin(), points.end(), mesh->GetPointW());
  std::copy(polygons.begin(), polygons.end(), mesh->GetPolygonW());
  return mesh;
}

/// A plane of `width` (x) by `height` (z) in the XZ plane, facing +Y, with `segW` × `segH`
/// quads; points row by row from (-x, -z), x running fastest.
PolygonObject* BuildPlane(Real width, Real height, LONG segW, LONG segH) {
  std::vector<Vector> points;
  points.reserve(static_cast<size_t>(segW + 1) * static_cast<size_t>(segH + 1));
  for (LONG j = 0; j <= segH; ++j) {
    for (LONG i = 0; i <= segW; ++i) {
      points.emplace_back(-width / 2 + width * i / segW, 0.0, -height / 2 + height * j / segH);
    }
  }
  std::vector<CPolygon> polygons;
  polygons.reserve(static_cast<size_t>(segW) * static_cast<size_t>(segH));
  const LONG row = segW + 1;
  for (LONG j = 0; j < segH; ++j) {
    for (LONG i = 0; i < segW; ++i) {
      const LONG a = j * row + i;
      polygons.emplace_back(a, a + row, a + row + 1, a + 1);
    }
  }
  return MakeMesh(points, polygons);
}

/// A closed box of edge lengths `size` centred on the origin, each face a grid of
/// `seg[axis]` quads per edge. Points on shared edges and corners exist once, so the surface
/// is watertight.
PolygonObject* BuildCube(const Vector& size, const LONG seg[3]) {
  struct Face {
    int normal;  // axis the face looks along
    bool positive;
    int u, v;  // in-plane axes with u × v pointing outwards
  };
  static constexpr Face kFaces[6] = {{0, true, 1, 2},  {0, false, 2, 1}, {1, true, 2, 0},
                                     {1, false, 0, 2}, {2, true, 0, 1},  {2, false, 1, 0}};
  const Real extent[3] = {size.x, size.y, size.z};

  std::vector<Vector> points;
  std::vector<CPolygon> polygons;
  std::unordered_map<LLONG, LONG> indexOfLattice;  // lattice point -> point index
  auto pointAt = [&](const LONG lattice[3]) {
    const LLONG key =
        (static_cast<LLONG>(lattice[0]) * (seg[1] + 1) + lattice[1]) * (seg[2] + 1) + lattice[2];
    auto [it, inserted] = indexOfLattice.try_emplace(key, static_cast<LONG>(points.size()));
    if (inserted) {
      Real c[3];
      for (int a = 0; a < 3; ++a) c[a] = -extent[a] / 2 + extent[a] * lattice[a] / seg[a];
      points.emplace_back(c[0], c[1], c[2]);
    }
    return it->second;
  };

  for (const Face& face : kFaces) {
    LONG lattice[3];
    lattice[face.normal] = face.positive ? seg[face.normal] : 0;
    const LONG nu = seg[face.u], nv = seg[face.v];
    std::vector<LONG> grid(static_cast<size_t>(nu + 1) * static_cast<size_t>(nv + 1));
    for (LONG j = 0; j <= nv; ++j) {
      for (LONG i = 0; i <= nu; ++i) {
        lattice[face.u] = i;
        lattice[face.v] = j;
        grid[static_cast<size_t>(j) * (nu + 1) + i] = pointAt(lattice);
      }
    }
    for (LONG j = 0; j < nv; ++j) {
      for (LONG i = 0; i < nu; ++i) {
        const size_t a = static_cast<size_t>(j) * (nu + 1) + i;
        polygons.emplace_back(grid[a], grid[a + 1], grid[a + nu + 2], grid[a + nu + 1]);
      }
    }
  }
  return MakeMesh(points, polygons);
}

/// A UV sphere of `radius` with poles on the Y axis: `segments` points around each of
/// segments/2 - 1 rings, triangles at the poles and quads between the rings. Point 0 is the
/// north pole (+Y), the last point the south pole.
PolygonObject* BuildSphere(Real radius, LONG segments) {
  const LONG rings = std::max<LONG>(2, segments / 2);
  std::vector<Vector> points;
  points.reserve(static_cast<size_t>(segments) * (rings - 1) + 2);
  points.emplace_back(0.0, radius, 0.0);
  for (LONG k = 1; k < rings; ++k) {
    const Real theta = std::numbers::pi * k / rings;
    const Real y = radius * std::cos(theta), rho = radius * std::sin(theta);
    for (LONG i = 0; i < segments; ++i) {
      const Real phi = 2.0 * std::numbers::pi * i / segments;
      points.emplace_back(rho * std::cos(phi), y, rho * std::sin(phi));
    }
  }
  const LONG south = static_cast<LONG>(points.size());
  points.emplace_back(0.0, -radius, 0.0);

  auto ringPoint = [&](LONG k, LONG i) { return 1 + (k - 1) * segments + i % segments; };
  std::vector<CPolygon> polygons;
  polygons.reserve(static_cast<size_t>(segments) * rings);
  for (LONG i = 0; i < segments; ++i)
    polygons.emplace_back(0, ringPoint(1, i + 1), ringPoint(1, i));
  for (LONG k = 1; k + 1 < rings; ++k) {
    for (LONG i = 0; i < segments; ++i) {
      polygons.emplace_back(ringPoint(k, i), ringPoint(k, i + 1), ringPoint(k + 1, i + 1),
                            ringPoint(k + 1, i));
    }
  }
  for (LONG i = 0; i < segments; ++i) {
    polygons.emplace_back(ringPoint(rings - 1, i), ringPoint(rings - 1, i + 1), south);
  }
  return MakeMesh(points, polygons);
}

}  // namespace

namespace kwhost::internal {

Bool IsGenerator(LONG type) {
  return type == Oplane || type == Ocube || type == Osphere;
}

PolygonObject* BuildGeneratorCache(const BaseObject* op) {
  if (!op) return nullptr;
  const BaseContainer* bc = op->GetDataInstance();
  PolygonObject* mesh = nullptr;
  try {
    switch (op->GetType()) {
      case Oplane:
        mesh =
            BuildPlane(bc->GetReal(PRIM_PLANE_WIDTH, 400.0), bc->GetReal(PRIM_PLANE_HEIGHT, 400.0),
                       Segments(bc, PRIM_PLANE_SUBW, 20, 1), Segments(bc, PRIM_PLANE_SUBH, 20, 1));
        break;
      case Ocube: {
        const LONG seg[3] = {Segments(bc, PRIM_CUBE_SUBX, 1, 1),
                             Segments(bc, PRIM_CUBE_SUBX + 1, 1, 1),
                             Segments(bc, PRIM_CUBE_SUBX + 2, 1, 1)};
        mesh = BuildCube(bc->GetVector(PRIM_CUBE_LEN, Vector(200, 200, 200)), seg);
        break;
      }
      case Osphere:
        mesh =
            BuildSphere(bc->GetReal(PRIM_SPHERE_RAD, 100.0), Segments(bc, PRIM_SPHERE_SUB, 24, 3));
        break;
      default:
        return nullptr;
    }
  } catch (const std::bad_alloc&) {
    return nullptr;  // the working arrays could not grow
  }
  if (mesh) mesh->SetName(op->GetName());
  return mesh;
}

}  // namespace kwhost::internal
