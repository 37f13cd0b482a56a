#include "deformers/quillform/kwspherewrap.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr LONG kOwnHandles = 3;
constexpr LONG kRadiusHandle = 0;
constexpr LONG kLengthHandle = 1;
constexpr LONG kAngleHandle = 2;
constexpr Real kHandleLimit = 1e20;
constexpr Real kPi = std::numbers::pi;
// Each diagonal arc is drawn in this many segments from the pole.
constexpr LONG kArcSegments = 36;
// The quadrants of the four diagonals, in drawing order.
constexpr Real kQuadrants[4][2] = {{1, 1}, {-1, 1}, {-1, -1}, {1, -1}};

Vector OwnHandleDirection(LONG i) {
  return i == kAngleHandle ? Vector(0, 0, -1) : Vector(1, 0, 0);
}

/// A circle of `radius` about `centre` (deformer space) in the plane of the deformer axes
/// `u` and `w`, through the global matrix `m`.
void DrawPlaneCircle(BaseDraw* bd, const Matrix& m, const Vector& centre, const Vector& u,
                     const Vector& w, const Vector& normal, Real radius) {
  bd->DrawCircle(Matrix(m * centre, u * radius, w * radius, normal * radius));
}

/// The sphere, the circle of length L, the circle where the wrap reaches A, the four diagonals
/// and the arcs they are carried onto, in global space.
void DrawGizmo(BaseObject* op, BaseDraw* bd, BaseDrawHelp* bh, const SphereWrapSettings& s) {
  const Matrix m = bh->GetMg();
  const Vector centre = s.Centre();
  const Real S = s.radius;
  const Real L = s.length;
  bd->SetMatrix_Matrix(nullptr, MatrixIdentity());
  bd->SetPen(bd->GetObjectColor(bh, op, false));

  DrawPlaneCircle(bd, m, centre, m.v1, m.v2, m.v3, S);
  DrawPlaneCircle(bd, m, Vector(), m.v1, m.v3, m.v2, L);
  DrawPlaneCircle(bd, m, centre + Vector(0, S * std::cos(s.angle), 0), m.v1, m.v3, m.v2,
                  S * std::sin(s.angle));

  const Real diagonal = L / std::numbers::sqrt2;
  for (const auto& q : kQuadrants) {
    bd->DrawLine(m * Vector(), m * Vector(q[0] * diagonal, 0, q[1] * diagonal));
  }
  if (!(L > 0.0)) return;

  const Real step = L / kArcSegments;
  const Real across = S / std::numbers::sqrt2;
  Vector previous = centre + Vector(0, S, 0);
  for (LONG k = 1; k <= kArcSegments; ++k) {
    const Real rho = step * k;
    const Real a = (rho / L) * s.angle;
    Vector next(std::sin(a) * across, std::cos(a) * S, std::sin(a) * across);
    if (!s.centered) next.y -= S;
    for (const auto& q : kQuadrants) {
      bd->DrawLine(m * Vector(q[0] * previous.x, previous.y, q[1] * previous.z),
                   m * Vector(q[0] * next.x, next.y, q[1] * next.z));
    }
    previous = next;
  }
}

}  // namespace

SphereWrapSettings SphereWrapSettings::Read(const BaseContainer& bc) {
  SphereWrapSettings s;
  s.radius = bc.GetReal(SPHEREWRAP_RADIUS);
  s.strength = bc.GetReal(SPHEREWRAP_STRENGTH);
  s.length = bc.GetReal(SPHEREWRAP_LENGTH);
  s.angle = bc.GetReal(SPHEREWRAP_ANGLE);
  s.limit = bc.GetBool(SPHEREWRAP_LIMIT);
  s.centered = bc.GetBool(SPHEREWRAP_CENTERED);
  return s;
}

Real SphereWrapAngle(Real rho, const SphereWrapSettings& settings, Bool& defined) {
  defined = true;
  Real a;
  if (settings.length == 0.0) {
    // Nothing is wrapped over a zero length: every point off the axis lies beyond it, and
    // only a positive angle gives that a direction.
    if (rho == 0.0 || !(settings.angle > 0.0)) {
      defined = false;
      return 0.0;
    }
    a = std::numeric_limits<Real>::infinity();
  } else {
    a = (rho / settings.length) * settings.angle;
  }
  // The limit may hold an angle above π; without it the far pole is as far as a point goes.
  if (settings.limit) {
    if (a > settings.angle) a = settings.angle;
  } else if (a > kPi) {
    a = kPi;
  }
  return a;
}

DeformedPoint SphereWrapPoint(const Vector& deformerPos, Real falloffWeight, Real restrictionWeight,
                              const SphereWrapSettings& settings) {
  const Real weight = falloffWeight * settings.strength * restrictionWeight;
  if (weight == 0.0) return {deformerPos, 0.0};
  const Real x = deformerPos.x;
  const Real z = deformerPos.z;
  const Real rho = std::sqrt(x * x + z * z);
  Bool defined = true;
  const Real a = SphereWrapAngle(rho, settings, defined);
  if (!defined) return {deformerPos, 0.0};
  const Real dx = rho != 0.0 ? x / rho : x;
  const Real dz = rho != 0.0 ? z / rho : z;
  // Below the sphere's centre there is no radius left: such points collapse onto the centre.
  const Real h = std::max(deformerPos.y + settings.radius, 0.0);
  Vector wrapped(dx * std::sin(a) * h, std::cos(a) * h, dz * std::sin(a) * h);
  if (!settings.centered) wrapped.y -= settings.radius;
  return {deformerPos + (wrapped - deformerPos) * weight, a * weight};
}

NodeData* KWSphereWrap::Alloc() {
  return NewObj<KWSphereWrap>("quillform\\source\\kwspherewrap", __LINE__);
}

Bool KWSphereWrap::Init(GeListNode* node) {
  if (!KWDeformerBase::Init(node)) return false;
  BaseContainer* bc = static_cast<BaseObject*>(node)->GetDataInstance();
  const SphereWrapSettings defaults;
  bc->SetReal(SPHEREWRAP_RADIUS, defaults.radius);
  bc->SetReal(SPHEREWRAP_STRENGTH, defaults.strength);
  bc->SetReal(SPHEREWRAP_LENGTH, defaults.length);
  bc->SetReal(SPHEREWRAP_ANGLE, defaults.angle);
  bc->SetBool(SPHEREWRAP_LIMIT, defaults.limit);
  bc->SetBool(SPHEREWRAP_CENTERED, defaults.centered);
  ownHandleCount = kOwnHandles;
  return true;
}

Bool KWSphereWrap::Message(GeListNode* node, LONG type, void* data) {
  auto* op = static_cast<BaseObject*>(node);
  if (type == MSG_MENUPREPARE) {
    op->SetDeformMode(true);
    if (BaseObject* target = PlaceOnActiveObject(op, MenuDocument(op, data))) {
      const Vector rad = target->GetRad();
      const Real length = std::sqrt(rad.x * rad.x + rad.z * rad.z);
      BaseContainer* bc = op->GetDataInstance();
      bc->SetReal(SPHEREWRAP_LENGTH, length);
      bc->SetReal(SPHEREWRAP_RADIUS, length * 0.5);
      return true;
    }
  }
  return KWDeformerBase::Message(node, type, data);
}

void KWSphereWrap::GetDimension(BaseObject* op, Vector* centre, Vector* halfSize) {
  *centre = Vector();
  *halfSize = Vector(op->GetDataInstance()->GetReal(SPHEREWRAP_RADIUS));
}

Bool KWSphereWrap::Draw(BaseObject* op, LONG drawpass, BaseDraw* bd, BaseDrawHelp* bh) {
  DrawFalloff(op, drawpass, bd, bh);
  if (drawpass == DRAWPASS_OBJECT) {
    DrawGizmo(op, bd, bh, SphereWrapSettings::Read(*op->GetDataInstance()));
  } else if (drawpass == DRAWPASS_HANDLES) {
    DrawHandles(op, bd, bh);
    HandleInfo angle;
    GetHandle(op, kAngleHandle, angle);
    bd->SetPen(bd->GetViewColor(VIEWCOLOR_HANDLES));
    bd->DrawLine(angle.position, Vector(0, 0, 0));
  }
  return true;
}

Bool KWSphereWrap::ModifyObject(BaseObject* mod, BaseDocument* doc, BaseObject* op,
                                const Matrix& opMg, const Matrix& modMg, Real lod, LONG flags,
                                BaseThread* thread) {
  const DeformCall call{mod, doc, op, opMg, modMg, thread};
  BeginDeform(call, true);
  const SphereWrapSettings settings = SphereWrapSettings::Read(*mod->GetDataInstance());
  return DeformPoints(call, DifferenceModes::kDistanceOrAngle,
                      [&settings](LONG, const Vector& p, Real falloffWeight, Real restriction) {
                        return SphereWrapPoint(p, falloffWeight, restriction, settings);
                      });
}

void KWSphereWrap::GetOwnHandle(BaseObject* op, LONG i, HandleInfo& info) {
  const SphereWrapSettings s = SphereWrapSettings::Read(*op->GetDataInstance());
  switch (i) {
    case kRadiusHandle:
      info.position = Vector(s.radius, 0, 0);
      break;
    case kLengthHandle:
      info.position = Vector(s.length, 0, 0);
      break;
    case kAngleHandle:
      info.position = Vector(0, 0, -(s.angle / kPi) * s.length);
      break;
  }
  info.direction = OwnHandleDirection(i);
  info.type = 0;
}

void KWSphereWrap::SetOwnHandle(BaseObject* op, LONG i, const Vector& p) {
  BaseContainer* bc = op->GetDataInstance();
  const Real k = Dot(p, OwnHandleDirection(i));
  switch (i) {
    case kRadiusHandle:
      bc->SetReal(SPHEREWRAP_RADIUS, ClampHandleValue(k, 0.0, kHandleLimit));
      break;
    case kLengthHandle:
      bc->SetReal(SPHEREWRAP_LENGTH, ClampHandleValue(k, 0.0, kHandleLimit));
      break;
    case kAngleHandle: {
      const Real length = bc->GetReal(SPHEREWRAP_LENGTH);
      // Over a zero length any pull outward is a full wrap and anything else none.
      const Real angle =
          length == 0.0 ? (k > 0.0 ? kPi : 0.0) : ClampHandleValue((k / length) * kPi, 0.0, kPi);
      bc->SetReal(SPHEREWRAP_ANGLE, angle);
      break;
    }
  }
}
