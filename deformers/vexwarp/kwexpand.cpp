#include "deformers/vexwarp/kwexpand.h"

namespace {

constexpr const char* kSourceTag = "vexwarp\\source\\kwexpand";
constexpr LONG kOwnHandles = 1;
constexpr LONG kStrengthHandle = 0;
constexpr Real kGizmoHalfSize = 100.0;
constexpr Real kStrengthHandleScale = 100.0;
constexpr LONG kHandleSize = 3;

/// Deforms with `target`, a callable giving the mode's target for a deformer-space position.
template <class Target>
auto ScaleRule(Target target) {
  return [target](LONG, const Vector& p, Real falloffWeight, Real restriction) {
    return DeformedPoint{ExpandBlend(p, target(p), falloffWeight * restriction)};
  };
}

/// What the mode leaves fixed: the origin (a cross), the Y axis (a line) or the X-Z plane (a
/// square), in the deformer's space.
void DrawGizmo(BaseObject* op, BaseDraw* bd, BaseDrawHelp* bh, LONG mode) {
  bd->SetMatrix_Matrix(nullptr, bh->GetMg());
  bd->SetPen(bd->GetObjectColor(bh, op, false));
  switch (mode) {
    case EXPAND_MODE_UNIFORM:
      DrawCross(bd, 25.0, Vector(), 0);
      break;
    case EXPAND_MODE_RADIAL:
      bd->DrawLine(Vector(0, 50, 0), Vector(0, -50, 0));
      break;
    case EXPAND_MODE_AXIAL:
      DrawSquare(bd, 100.0, Vector(), 1);
      break;
    default:
      break;
  }
}

}  // namespace

Vector ExpandUniform(const Vector& p, Real factor) {
  return p * factor;
}

Vector ExpandRadial(const Vector& p, Real factor) {
  return Vector(p.x * factor, p.y, p.z * factor);
}

Vector ExpandAxial(const Vector& p, Real factor) {
  return Vector(p.x, p.y * factor, p.z);
}

Vector ExpandAlongNormal(const Vector& p, const Vector& normal, Real strength) {
  return p + normal * (strength * EXPAND_NORMAL_DISTANCE);
}

Vector ExpandBlend(const Vector& p, const Vector& target, Real weight) {
  return p + (target - p) * weight;
}

NodeData* KWExpand::Alloc() {
  return NewObj<KWExpand>(kSourceTag, __LINE__);
}

Bool KWExpand::Init(GeListNode* node) {
  if (!KWDeformerBase::Init(node)) return false;
  BaseContainer* bc = static_cast<BaseObject*>(node)->GetDataInstance();
  bc->SetLong(EXPAND_MODE, EXPAND_MODE_AXIAL);
  bc->SetReal(EXPAND_STRENGTH, EXPAND_STRENGTH_DEFAULT);
  ownHandleCount = kOwnHandles;
  return true;
}

void KWExpand::GetDimension(BaseObject* op, Vector* centre, Vector* halfSize) {
  *centre = Vector();
  *halfSize = Vector(kGizmoHalfSize);
}

Bool KWExpand::Draw(BaseObject* op, LONG drawpass, BaseDraw* bd, BaseDrawHelp* bh) {
  DrawFalloff(op, drawpass, bd, bh);
  if (drawpass == DRAWPASS_OBJECT) {
    DrawGizmo(op, bd, bh, op->GetDataInstance()->GetLong(EXPAND_MODE));
  } else if (drawpass == DRAWPASS_HANDLES) {
    DrawHandles(op, bd, bh);
    // The strength handle again, on top, with its line back to the centre.
    HandleInfo strength;
    GetHandle(op, kStrengthHandle, strength);
    const Bool highlighted = op->GetHighlightHandle(bd) == kStrengthHandle;
    bd->SetPen(bd->GetViewColor(highlighted ? VIEWCOLOR_ACTIVEHANDLES : VIEWCOLOR_HANDLES));
    bd->DrawHandle(strength.position, kHandleSize);
    bd->SetPen(bd->GetViewColor(VIEWCOLOR_HANDLES));
    bd->DrawLine(strength.position, Vector(0, 0, 0));
  }
  return true;
}

Bool KWExpand::ModifyObject(BaseObject* mod, BaseDocument* doc, BaseObject* op, const Matrix& opMg,
                            const Matrix& modMg, Real lod, LONG flags, BaseThread* thread) {
  const DeformCall call{mod, doc, op, opMg, modMg, thread};
  BeginDeform(call, false);
  const BaseContainer* bc = mod->GetDataInstance();
  const LONG mode = bc->GetLong(EXPAND_MODE);
  const Real strength = bc->GetReal(EXPAND_STRENGTH);
  if (!op || !op->IsInstanceOf(Opoint)) return true;
  // Only polygons give a point a normal.
  if (mode == EXPAND_MODE_NORMAL && !op->IsInstanceOf(Opolygon)) return true;
  if (ToPoint(op)->GetPointCount() <= 0) return true;

  const Real factor = 1.0 + strength;
  const DifferenceModes maps = DifferenceModes::kDistanceOnly;
  switch (mode) {
    case EXPAND_MODE_UNIFORM:
      return DeformPoints(
          call, maps, ScaleRule([factor](const Vector& p) { return ExpandUniform(p, factor); }));
    case EXPAND_MODE_RADIAL:
      return DeformPoints(call, maps,
                          ScaleRule([factor](const Vector& p) { return ExpandRadial(p, factor); }));
    case EXPAND_MODE_AXIAL:
      return DeformPoints(call, maps,
                          ScaleRule([factor](const Vector& p) { return ExpandAxial(p, factor); }));
    case EXPAND_MODE_NORMAL:
      return ExpandAlongNormals(call, strength);
    default:
      // An unknown mode moves nothing, yet still clears and writes the difference maps.
      return DeformPoints(call, maps, ScaleRule([](const Vector& p) { return p; }));
  }
}

Bool KWExpand::ExpandAlongNormals(const DeformCall& call, Real strength) {
  PointObject* object = ToPoint(call.op);
  Vector* normals = GeAllocArray<Vector>(object->GetPointCount(), kSourceTag, __LINE__);
  if (!normals) return false;
  const Matrix toDeformer = MatrixMul(MatrixInvert(call.modMg), call.opMg);
  if (!CalcVertexNormals(object->GetPointR(), toDeformer, true, normals, call.op)) {
    GeFree(normals);
    return false;
  }
  const Bool done = DeformPoints(
      call, DifferenceModes::kDistanceOnly,
      [normals, strength](LONG i, const Vector& p, Real falloffWeight, Real restriction) {
        return DeformedPoint{ExpandBlend(p, ExpandAlongNormal(p, normals[i], strength),
                                         falloffWeight * restriction)};
      });
  GeFree(normals);
  return done;
}

void KWExpand::GetOwnHandle(BaseObject* op, LONG i, HandleInfo& info) {
  // Only the Y components are ours; the host keeps what it put into the others.
  info.position.y = kStrengthHandleScale * op->GetDataInstance()->GetReal(EXPAND_STRENGTH);
  info.direction.y = 1.0;
  info.type = 0;
}

void KWExpand::SetOwnHandle(BaseObject* op, LONG i, const Vector& p) {
  op->GetDataInstance()->SetReal(EXPAND_STRENGTH, Dot(Vector(0, 1, 0), p) / kStrengthHandleScale);
}
