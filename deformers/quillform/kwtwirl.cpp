#include "deformers/quillform/kwtwirl.h"

#include <cmath>

namespace {

constexpr LONG kOwnHandles = 3;
constexpr LONG kRadiusHandle = 0;
constexpr LONG kEdgeHandle = 1;
constexpr LONG kAngleHandle = 2;
// 400/π: a quarter turn puts the angle handle 200 units from the centre.
constexpr Real kAngleHandleScale = 127.32395447351627;
constexpr Real kHandleLimit = 1e20;
// The spiral is drawn in this many segments from the axis to the rim.
constexpr LONG kSpiralSegments = 100;

/// The fixed direction of own handle i, in the deformer's space.
Vector OwnHandleDirection(LONG i) {
  switch (i) {
    case kRadiusHandle:
      return Vector(1, 0, 0);
    case kEdgeHandle:
      return Vector(0, 0, -1);
    default:
      return Vector(-1, 0, 0);
  }
}

/// The circle of radius R and the two spiral arms that show where a straight line along Z is
/// carried by the twist, in global space.
void DrawGizmo(BaseObject* op, BaseDraw* bd, BaseDrawHelp* bh, const TwirlSettings& settings) {
  const Matrix m = bh->GetMg();
  const Real radius = settings.radius;
  bd->SetMatrix_Matrix(nullptr, MatrixIdentity());
  bd->SetPen(bd->GetObjectColor(bh, op, false));
  bd->DrawCircle(Matrix(m.off, m.v1 * radius, m.v3 * radius, m.v2 * radius));
  if (!(radius > 0.0)) return;

  // Within the radius the limit changes nothing, so the arms ignore it.
  TwirlSettings spiral = settings;
  spiral.limit = false;
  const Real step = radius / kSpiralSegments;
  Vector previous;
  for (LONG k = 1; k <= kSpiralSegments; ++k) {
    const Real d = step * k;
    const Real a = TwirlTwist(d, spiral) + std::numbers::pi / 2.0;
    const Vector q(std::cos(a) * d, 0.0, std::sin(a) * d);
    bd->DrawLine(m * previous, m * q);
    bd->DrawLine(m * -previous, m * -q);
    previous = q;
  }
}

}  // namespace

TwirlSettings TwirlSettings::Read(const BaseContainer& bc) {
  TwirlSettings s;
  s.radius = bc.GetReal(TWIRL_RADIUS);
  s.angle = bc.GetReal(TWIRL_ANGLE);
  s.reverse = bc.GetLong(TWIRL_REVERSE) != 0;
  s.limit = bc.GetBool(TWIRL_LIMIT);
  s.edge = bc.GetReal(TWIRL_EDGE);
  return s;
}

Real TwirlTwist(Real distance, const TwirlSettings& settings) {
  const Real radius = settings.radius;
  if (radius == 0.0) return 0.0;
  const Real capped = settings.limit && distance > radius ? radius : distance;
  const Real t = settings.reverse ? radius - capped : capped;
  Real twist = -(t / radius) * settings.angle;
  if (settings.edge > 0.0 && radius > 0.0) {
    const Real band = settings.edge * radius;
    // The band test uses the true distance, so the rim blend also holds beyond R.
    if (distance > radius - band) {
      const Real s = SmoothStep(0.0, 1.0, (radius - distance) / band);
      twist = settings.reverse ? twist * s : twist + (1.0 - s) * (-settings.angle - twist);
    }
  }
  return twist;
}

DeformedPoint TwirlPoint(const Vector& deformerPos, Real falloffWeight, Real restrictionWeight,
                         const TwirlSettings& settings) {
  const Real x = deformerPos.x;
  const Real z = deformerPos.z;
  const Real d = std::sqrt(x * x + z * z);
  const Real alpha = falloffWeight * TwirlTwist(d, settings);
  // No turn, or no share of it: the point stays exactly where it is.
  if (alpha == 0.0 || restrictionWeight == 0.0) return {deformerPos, 0.0};
  const Real u = (x == 0.0 && z == 0.0) ? 0.0 : std::atan2(z, x);
  const Real theta = u + alpha;
  const Vector twisted(x + (std::cos(theta) * d - x) * restrictionWeight, deformerPos.y,
                       z + (std::sin(theta) * d - z) * restrictionWeight);
  return {twisted, alpha * restrictionWeight};
}

NodeData* KWTwirl::Alloc() {
  return NewObj<KWTwirl>("quillform\\source\\kwtwirl", __LINE__);
}

Bool KWTwirl::Init(GeListNode* node) {
  if (!KWDeformerBase::Init(node)) return false;
  BaseContainer* bc = static_cast<BaseObject*>(node)->GetDataInstance();
  const TwirlSettings defaults;
  bc->SetReal(TWIRL_RADIUS, defaults.radius);
  bc->SetReal(TWIRL_ANGLE, defaults.angle);
  bc->SetLong(TWIRL_REVERSE, 0);
  bc->SetBool(TWIRL_LIMIT, defaults.limit);
  bc->SetReal(TWIRL_EDGE, defaults.edge);
  ownHandleCount = kOwnHandles;
  return true;
}

Bool KWTwirl::Message(GeListNode* node, LONG type, void* data) {
  auto* op = static_cast<BaseObject*>(node);
  if (type == MSG_MENUPREPARE) {
    op->SetDeformMode(true);
    if (BaseObject* target = PlaceOnActiveObject(op, MenuDocument(op, data))) {
      const Vector rad = target->GetRad();
      op->GetDataInstance()->SetReal(TWIRL_RADIUS, std::sqrt(rad.x * rad.x + rad.z * rad.z));
      return true;
    }
  }
  return KWDeformerBase::Message(node, type, data);
}

void KWTwirl::GetDimension(BaseObject* op, Vector* centre, Vector* halfSize) {
  const Real radius = op->GetDataInstance()->GetReal(TWIRL_RADIUS);
  *centre = Vector();
  *halfSize = Vector(radius);
}

Bool KWTwirl::Draw(BaseObject* op, LONG drawpass, BaseDraw* bd, BaseDrawHelp* bh) {
  DrawFalloff(op, drawpass, bd, bh);
  const TwirlSettings settings = TwirlSettings::Read(*op->GetDataInstance());
  if (drawpass == DRAWPASS_OBJECT) {
    DrawGizmo(op, bd, bh, settings);
  } else if (drawpass == DRAWPASS_HANDLES) {
    DrawHandles(op, bd, bh);
    HandleInfo edge, angle;
    GetHandle(op, kEdgeHandle, edge);
    GetHandle(op, kAngleHandle, angle);
    bd->SetPen(bd->GetViewColor(VIEWCOLOR_HANDLES));
    bd->DrawLine(edge.position, Vector(0, 0, -settings.radius));
    bd->DrawLine(angle.position, Vector(0, 0, 0));
  }
  return true;
}

Bool KWTwirl::ModifyObject(BaseObject* mod, BaseDocument* doc, BaseObject* op, const Matrix& opMg,
                           const Matrix& modMg, Real lod, LONG flags, BaseThread* thread) {
  const DeformCall call{mod, doc, op, opMg, modMg, thread};
  BeginDeform(call, true);
  const TwirlSettings settings = TwirlSettings::Read(*mod->GetDataInstance());
  if (settings.radius == 0.0) return true;
  return DeformPoints(call, DifferenceModes::kDistanceOrAngle,
                      [&settings](LONG, const Vector& p, Real falloffWeight, Real restriction) {
                        return TwirlPoint(p, falloffWeight, restriction, settings);
                      });
}

void KWTwirl::GetOwnHandle(BaseObject* op, LONG i, HandleInfo& info) {
  const TwirlSettings s = TwirlSettings::Read(*op->GetDataInstance());
  switch (i) {
    case kRadiusHandle:
      info.position = Vector(s.radius, 0, 0);
      break;
    case kEdgeHandle:
      info.position = Vector(0, 0, -(s.radius - s.radius * s.edge));
      break;
    case kAngleHandle:
      info.position = Vector(-s.angle * kAngleHandleScale, 0, 0);
      break;
  }
  info.direction = OwnHandleDirection(i);
  info.type = 0;
}

void KWTwirl::SetOwnHandle(BaseObject* op, LONG i, const Vector& p) {
  BaseContainer* bc = op->GetDataInstance();
  const Real k = Dot(p, OwnHandleDirection(i));
  switch (i) {
    case kRadiusHandle:
      bc->SetReal(TWIRL_RADIUS, ClampHandleValue(k, 0.0, kHandleLimit));
      break;
    case kEdgeHandle: {
      const Real radius = bc->GetReal(TWIRL_RADIUS);
      // With no radius there is no rim to measure the band against.
      const Real edge = radius == 0.0 ? 0.0 : ClampHandleValue(-(k - radius) / radius, 0.0, 1.0);
      bc->SetReal(TWIRL_EDGE, edge);
      break;
    }
    case kAngleHandle:
      bc->SetReal(TWIRL_ANGLE,
                  ClampHandleValue(k / kAngleHandleScale, -kHandleLimit, kHandleLimit));
      break;
  }
}
