#include "deformers/common/kw_geometry.h"

#include <cmath>

namespace {

constexpr const char* kSourceTag = "kw_c4dpluginapi\\source\\kw_geometry";

/// The in-plane axes u and w of a drawing plane; false for an unknown plane.
Bool PlaneAxes(LONG plane, Vector& u, Vector& w) {
  switch (plane) {
    case 0:
      u = Vector(0, 1, 0);
      w = Vector(0, 0, 1);
      return true;
    case 1:
      u = Vector(1, 0, 0);
      w = Vector(0, 0, 1);
      return true;
    case 2:
      u = Vector(0, 1, 0);
      w = Vector(1, 0, 0);
      return true;
    default:
      return false;
  }
}

}  // namespace

Matrix MatrixIdentity() {
  return Matrix(Vector(0, 0, 0), Vector(1, 0, 0), Vector(0, 1, 0), Vector(0, 0, 1));
}

Matrix MatrixMul(const Matrix& a, const Matrix& b) {
  return Matrix(a * b.off, a.TransformDirection(b.v1), a.TransformDirection(b.v2),
                a.TransformDirection(b.v3));
}

void TransformPoint(const Matrix& m, Vector& p) {
  p = m * p;
}

// The host's inverse follows the same rule: the adjugate over the determinant, and the
// identity for a determinant of exactly 0.
Matrix MatrixInvert(const Matrix& m) {
  return InvertMatrix(m);
}

Bool MatrixEqual(const Matrix& a, const Matrix& b) {
  const Vector* pa[] = {&a.off, &a.v1, &a.v2, &a.v3};
  const Vector* pb[] = {&b.off, &b.v1, &b.v2, &b.v3};
  for (int i = 0; i < 4; ++i) {
    if (!(pa[i]->x == pb[i]->x && pa[i]->y == pb[i]->y && pa[i]->z == pb[i]->z)) return false;
  }
  return true;
}

Real Normalize(Vector& v) {
  const Real length = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
  if (length != 0.0) v *= 1.0 / length;
  return length;
}

Real SmoothStep(Real a, Real b, Real x) {
  if (x < a) return 0.0;
  if (x >= b) return 1.0;
  const Real t = (x - a) / (b - a);
  return t * t * (3.0 - 2.0 * t);
}

BaseObject* GetGizmoObject(BaseObject* deformer) {
  if (!deformer) return nullptr;
  BaseTag* anchor = deformer->GetTag(Tnullpin, 0);
  BaseDocument* doc = deformer->GetDocument();
  // Outside a document a link resolves nowhere (a null document would accept any object).
  if (!anchor || !doc) return deformer;
  BaseList2D* linked = anchor->GetDataInstance()->GetLink(NULLPIN_LINK_ID, doc);
  // A link to a tag or another non-object cannot place a gizmo.
  if (!linked || !linked->IsInstanceOf(Obase)) return deformer;
  return static_cast<BaseObject*>(linked);
}

Matrix GetGizmoMatrix(BaseObject* deformer) {
  BaseObject* gizmo = GetGizmoObject(deformer);
  return gizmo ? gizmo->GetMg() : MatrixIdentity();
}

BaseTag* FindTagByName(BaseObject* object, const String& name, LONG type) {
  if (!object) return nullptr;
  for (BaseTag* tag = object->GetFirstTag(); tag; tag = tag->GetNext()) {
    if (tag->GetType() == type && tag->GetName() == name) return tag;
  }
  return nullptr;
}

BaseObject* FindCacheOwner(BaseObject* deformed, BaseObject* deformer) {
  if (!deformed || !deformer) return nullptr;
  BaseObject* root = deformer->GetUp();
  if (!root) return nullptr;
  BaseObject* node = root;
  for (;;) {
    if (node->GetDeformCache() == deformed) return node;
    if (node->GetDown()) {
      node = node->GetDown();
      continue;
    }
    while (node != root && !node->GetNext()) node = node->GetUp();
    if (node == root) return nullptr;
    node = node->GetNext();
  }
}

Bool CalcVertexNormals(const Vector* points, const Matrix& m, Bool transform, Vector* normals,
                       BaseObject* object) {
  if (!object || !object->IsInstanceOf(Opoint)) return true;
  const LONG pointCount = ToPoint(object)->GetPointCount();
  if (pointCount <= 0) return true;
  LONG polygonCount = 0;
  const CPolygon* polygons = nullptr;
  if (object->IsInstanceOf(Opolygon)) {
    polygonCount = ToPoly(object)->GetPolygonCount();
    polygons = ToPoly(object)->GetPolygonR();
  }

  LONG* counters = GeAllocArray<LONG>(pointCount, kSourceTag, __LINE__);
  if (!counters) return false;
  for (LONG i = 0; i < pointCount; ++i) {
    counters[i] = 0;
    normals[i] = Vector();
  }

  auto corner = [&](LONG index) {
    Vector p = points[index];
    if (transform) TransformPoint(m, p);
    return p;
  };
  auto inRange = [pointCount](LONG index) { return index >= 0 && index < pointCount; };
  for (LONG i = 0; i < polygonCount; ++i) {
    const CPolygon& poly = polygons[i];
    if (!inRange(poly.a) || !inRange(poly.b) || !inRange(poly.c) || !inRange(poly.d)) continue;
    const Vector a = corner(poly.a);
    const Vector face = Cross(corner(poly.b) - a, corner(poly.c) - a);
    for (LONG index : {poly.a, poly.b, poly.c, poly.d}) {
      normals[index] += face;
      ++counters[index];
    }
  }

  for (LONG i = 0; i < pointCount; ++i) {
    if (counters[i] != 0) {
      normals[i] = normals[i] / static_cast<Real>(counters[i]);
    } else {
      normals[i] = Vector();
    }
    Normalize(normals[i]);
  }
  GeFree(counters);
  return true;
}

void ShowParameter(BaseList2D* object, Description* description, LONG id, Bool show) {
  if (!description) return;
  BaseContainer* entry = description->GetParameterI(DescID(id));
  if (!entry) return;
  entry->SetBool(DESC_HIDE, !show);
}

void DrawCross(BaseDraw* bd, Real size, const Vector& centre, LONG plane) {
  Vector u, w;
  if (!bd || !PlaneAxes(plane, u, w)) return;
  const Real h = size * 0.5;
  bd->DrawLine(centre - u * h - w * h, centre + u * h + w * h);
  bd->DrawLine(centre - u * h + w * h, centre + u * h - w * h);
}

void DrawSquare(BaseDraw* bd, Real size, const Vector& centre, LONG plane) {
  Vector u, w;
  if (!bd || !PlaneAxes(plane, u, w)) return;
  const Real h = size * 0.5;
  const Vector corners[4] = {centre - u * h - w * h, centre - u * h + w * h, centre + u * h + w * h,
                             centre + u * h - w * h};
  for (int i = 0; i < 4; ++i) bd->DrawLine(corners[i], corners[(i + 1) % 4]);
}
