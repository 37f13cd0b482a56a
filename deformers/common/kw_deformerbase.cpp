#include "deformers/common/kw_deformerbase.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace {

constexpr const char* kDifferenceMapSuffix = ".DifferenceMap";
constexpr LONG kHandleSize = 3;

/// Clamps a map value into 0..1; a NaN (from a NaN point) counts as no movement.
Real ClampUnit(Real v) {
  if (!(v >= 0.0)) return 0.0;
  return v > 1.0 ? 1.0 : v;
}

/// The stored map value of a measure already divided by its maximum.
SReal MapValue(Real value, const SplineData* curve) {
  Real v = ClampUnit(value);
  if (curve && curve->GetKnotCount() > 0) v = curve->GetPoint(v).y;
  return static_cast<SReal>(v);
}

void WriteMapValue(VariableTag* tag, LONG index, Real value, const SplineData* curve) {
  tag->GetDataAddressW()[index] = MapValue(value, curve);
}

/// Stores `values` at `start`.. of `tag`, as far as the tag has values; a null tag is ignored.
void StoreMapRun(VariableTag* tag, LONG start, LONG count, const SReal* values) {
  if (!tag || start < 0) return;
  const LONG end = std::min(start + count, tag->GetDataCount());
  if (end > start) std::copy(values, values + (end - start), tag->GetDataAddressW() + start);
}

Bool CanWrite(const VariableTag* tag, LONG index, Real maximum) {
  return tag && maximum > 0.0 && index >= 0 && index < tag->GetDataCount();
}

Bool ShiftHeld() {
  BaseContainer state;
  if (!GetInputState(BFM_INPUT_KEYBOARD, BFM_INPUT_CHANNEL, state)) return false;
  return (state.GetLong(BFM_INPUT_QUALIFIER) & QUALIFIER_SHIFT) != 0;
}

/// Calls `visit` for every point object of `root`'s subtree (root first, depth-first
/// pre-order) except `skip`.
template <class Visit>
void ForEachPointObject(BaseObject* root, const BaseObject* skip, Visit&& visit) {
  VisitTree(root, [&](BaseObject* node) {
    if (node != skip && node->IsInstanceOf(Opoint)) visit(ToPoint(node));
  });
}

Bool IsUniqueMapName(BaseObject* root, const BaseObject* deformer, const String& name) {
  Bool unique = true;
  ForEachPointObject(root, deformer, [&](PointObject* object) {
    for (BaseTag* tag = object->GetFirstTag(); tag && unique; tag = tag->GetNext()) {
      if (tag->GetName() == name) unique = false;
    }
  });
  return unique;
}

}  // namespace

void ClearVertexMap(VariableTag* tag) {
  if (!tag) return;
  SReal* values = tag->GetDataAddressW();
  for (LONG i = 0; i < tag->GetDataCount(); ++i) values[i] = 0.0f;
}

void WriteDistanceValue(VariableTag* tag, LONG index, const Vector& oldPoint,
                        const Vector& newPoint, Real maxDistance, const SplineData* curve) {
  if (!CanWrite(tag, index, maxDistance)) return;
  WriteMapValue(tag, index, Len(newPoint - oldPoint) / maxDistance, curve);
}

void WriteAngleValue(VariableTag* tag, LONG index, Real angle, Real maxAngle,
                     const SplineData* curve) {
  if (!CanWrite(tag, index, maxAngle)) return;
  WriteMapValue(tag, index, std::abs(angle) / maxAngle, curve);
}

VariableTag* CreateDifferenceMaps(BaseObject* deformer) {
  if (!deformer) return nullptr;
  BaseObject* parent = deformer->GetUp();
  if (!parent) return nullptr;

  const String base = deformer->GetName() + kDifferenceMapSuffix;
  String name = base;
  for (LONG counter = 1; !IsUniqueMapName(parent, deformer, name); ++counter) {
    name = base + "." + std::to_string(counter);
  }

  // The name is unique in the subtree, so every tag carrying it afterwards is one of ours:
  // that is how a failed creation is rolled back without a list of what was made.
  VariableTag* first = nullptr;
  Bool failed = false;
  ForEachPointObject(parent, deformer, [&](PointObject* object) {
    if (failed) return;
    VariableTag* tag = object->MakeVariableTag(Tvertexmap, object->GetPointCount());
    if (!tag) {
      failed = true;
      return;
    }
    tag->SetName(name);
    if (!first) first = tag;
  });
  if (failed) {
    ForEachPointObject(parent, deformer, [&](PointObject* object) {
      BaseTag* tag = FindTagByName(object, name, Tvertexmap);
      if (!tag) return;
      object->RemoveTag(tag);
      BaseTag::Free(tag);
    });
    return nullptr;
  }
  ForEachPointObject(parent, deformer, [&](PointObject* object) {
    BaseDocument* doc = object->GetDocument();
    if (doc) doc->AddUndo(UNDOTYPE_NEW, FindTagByName(object, name, Tvertexmap));
  });
  return first;
}

KWDeformerBase::~KWDeformerBase() {
  // The host calls Free first; this only covers an instance that never got that far.
  if (falloff) C4D_Falloff::Free(falloff);
}

Bool KWDeformerBase::Init(GeListNode* node) {
  auto* op = static_cast<BaseObject*>(node);
  if (!falloff) falloff = C4D_Falloff::Alloc();
  if (!falloff) return false;
  BaseContainer* bc = op->GetDataInstance();
  bc->SetReal(DEFORMERBASE_MAXDISTANCE, DEFORMERBASE_MAXDISTANCE_DEFAULT);
  bc->SetReal(DEFORMERBASE_MAXANGLE, DEFORMERBASE_MAXANGLE_DEFAULT);
  falloff->InitFalloff(bc, op->GetDocument(), op);
  lastGizmoMatrix = falloff->GetMg();
  ownHandleCount = 0;
  return true;
}

void KWDeformerBase::Free(GeListNode* node) {
  if (falloff) C4D_Falloff::Free(falloff);
  falloff = nullptr;
}

Bool KWDeformerBase::Message(GeListNode* node, LONG type, void* data) {
  auto* op = static_cast<BaseObject*>(node);
  if (falloff) falloff->Message(type, op->GetDataInstance(), data);
  switch (type) {
    case MSG_MENUPREPARE: {
      op->SetDeformMode(true);
      PlaceOnActiveObject(op, MenuDocument(op, data));
      break;
    }
    case MSG_DESCRIPTION_COMMAND: {
      const auto* command = static_cast<const DescriptionCommand*>(data);
      if (command && command->id.id == DEFORMERBASE_CREATEMAP) CreateMapCommand(op);
      break;
    }
    default:
      break;
  }
  return true;
}

void KWDeformerBase::CreateMapCommand(BaseObject* op) {
  BaseDocument* doc = op->GetDocument();
  if (!doc) return;
  // A group that is already open (a script batching commands) takes our entries too.
  const Bool opened = doc->StartUndo();
  if (VariableTag* tag = CreateDifferenceMaps(op)) {
    doc->AddUndo(UNDOTYPE_CHANGE, op);
    op->GetDataInstance()->SetString(DEFORMERBASE_MAPNAME, tag->GetName());
  }
  if (opened) doc->EndUndo();
}

Bool KWDeformerBase::CopyTo(NodeData* dest, GeListNode* source, GeListNode* destNode, LONG flags,
                            AliasTrans* trans) {
  if (!ObjectData::CopyTo(dest, source, destNode, flags, trans)) return false;
  auto* target = static_cast<KWDeformerBase*>(dest);
  if (!falloff || !target || !target->falloff) return true;
  return falloff->CopyTo(target->falloff);
}

Bool KWDeformerBase::GetDescription(GeListNode* node, Description* description, LONG& flags) {
  if (!description || !description->LoadDescription(node->GetType())) return false;
  if (falloff) {
    falloff->AddFalloffToDescription(description,
                                     static_cast<BaseList2D*>(node)->GetDataInstance());
  }
  flags |= DESCFLAGS_DESC_LOADED;
  return ObjectData::GetDescription(node, description, flags);
}

Bool KWDeformerBase::GetDEnabling(GeListNode* node, const DescID& id, const GeData& data,
                                  LONG flags, const BaseContainer* itemdesc) {
  const LONG mode =
      static_cast<BaseList2D*>(node)->GetDataInstance()->GetLong(DEFORMERBASE_MAPMODE);
  if (id.id == DEFORMERBASE_MAXDISTANCE) return mode == DEFORMERBASE_MAPMODE_DISTANCE;
  if (id.id == DEFORMERBASE_MAXANGLE) return mode == DEFORMERBASE_MAPMODE_ANGLE;
  return ObjectData::GetDEnabling(node, id, data, flags, itemdesc);
}

Bool KWDeformerBase::Draw(BaseObject* op, LONG drawpass, BaseDraw* bd, BaseDrawHelp* bh) {
  DrawFalloff(op, drawpass, bd, bh);
  if (drawpass == DRAWPASS_HANDLES) DrawHandles(op, bd, bh);
  return true;
}

void KWDeformerBase::CheckDirty(BaseObject* op, BaseDocument* doc) {
  const Matrix gizmo = GetGizmoMatrix(op);
  if (!MatrixEqual(gizmo, lastGizmoMatrix)) {
    op->SetDirty(DIRTYFLAGS_DATA);
    lastGizmoMatrix = gizmo;
  }
  BaseContainer* bc = op->GetDataInstance();
  const LONG shape = bc->GetLong(FALLOFF_MODE);
  if (shape != lastFalloffShape) {
    lastFalloffShape = shape;
    op->SetDirty(DIRTYFLAGS_DATA);
    if (falloff) falloff->SetMode(shape, bc);
  }
  if (bc->GetDirty() != 0) op->SetDirty(DIRTYFLAGS_DATA);
}

LONG KWDeformerBase::GetHandleCount(BaseObject* op) {
  const LONG falloffHandles = falloff ? falloff->GetHandleCount(op->GetDataInstance()) : 0;
  return falloffHandles + ownHandleCount;
}

Matrix KWDeformerBase::FalloffToLocal(BaseObject* op) {
  return MatrixMul(MatrixInvert(op->GetMg()), GetGizmoMatrix(op));
}

void KWDeformerBase::GetHandle(BaseObject* op, LONG i, HandleInfo& info) {
  if (i < 0) return;
  if (i < ownHandleCount) {
    GetOwnHandle(op, i, info);
    return;
  }
  if (!falloff) return;
  falloff->GetHandle(i - ownHandleCount, op->GetDataInstance(), info);
  const Matrix toLocal = FalloffToLocal(op);
  TransformPoint(toLocal, info.position);
  // A direction must not pick up the anchor's offset: only the axes turn it.
  info.direction = toLocal.TransformDirection(info.direction);
}

void KWDeformerBase::SetHandle(BaseObject* op, LONG i, Vector p, const HandleInfo& info) {
  if (i < 0) return;
  if (i < ownHandleCount) {
    SetOwnHandle(op, i, p);
    return;
  }
  if (!falloff) return;
  TransformPoint(MatrixInvert(FalloffToLocal(op)), p);
  falloff->SetHandle(i - ownHandleCount, p, op->GetDataInstance(), info);
}

Matrix KWDeformerBase::GetPlacementMatrix(const Matrix& objectMatrix, const Vector& centre,
                                          const Vector& halfSize) {
  Matrix placed = objectMatrix;
  placed.off = objectMatrix * centre;
  return placed;
}

BaseObject* KWDeformerBase::PlaceOnActiveObject(BaseObject* op, BaseDocument* doc) {
  if (!doc || !ShiftHeld()) return nullptr;
  BaseObject* active = doc->GetActiveObject();
  if (!active) return nullptr;
  op->SetMg(GetPlacementMatrix(active->GetMg(), active->GetMp(), active->GetRad()));
  return active;
}

void KWDeformerBase::DrawFalloff(BaseObject* op, LONG drawpass, BaseDraw* bd, BaseDrawHelp* bh) {
  if (falloff) falloff->Draw(bd, bh, drawpass, op->GetDataInstance());
}

void KWDeformerBase::DrawHandles(BaseObject* op, BaseDraw* bd, BaseDrawHelp* bh) {
  bd->SetMatrix_Matrix(op, bh->GetMg());
  const LONG highlighted = op->GetHighlightHandle(bd);
  const LONG count = GetHandleCount(op);
  for (LONG i = 0; i < count; ++i) {
    HandleInfo info;
    GetHandle(op, i, info);
    bd->SetPen(bd->GetViewColor(i == highlighted ? VIEWCOLOR_ACTIVEHANDLES : VIEWCOLOR_HANDLES));
    bd->DrawHandle(info.position, kHandleSize);
  }
}

void KWDeformerBase::BeginDeform(const DeformCall& call, Bool convertMapLink) {
  BaseContainer* bc = call.mod->GetDataInstance();
  if (convertMapLink) {
    if (BaseList2D* linked = bc->GetLink(DEFORMERBASE_MAPLINK, call.doc)) {
      GePrint("tag exists ... ");
      bc->SetString(DEFORMERBASE_MAPNAME, linked->GetName());
      bc->SetLink(DEFORMERBASE_MAPLINK, nullptr);
    }
  }
  if (falloff) falloff->InitFalloff(bc, call.doc, GetGizmoObject(call.mod));
}

KWDeformerBase::Prepared KWDeformerBase::PrepareDeform(const DeformCall& call, DeformPass& pass) {
  if (!call.op || !call.op->IsInstanceOf(Opoint)) return Prepared::kNothingToDo;
  PointObject* object = ToPoint(call.op);
  if (object->GetPointCount() <= 0) return Prepared::kNothingToDo;

  // Everything that can fail comes first, so a failure leaves points and maps untouched.
  Bool allocationFailed = false;
  pass.restriction = object->CalcVertexMap(call.mod, &allocationFailed);
  if (allocationFailed) {
    // Deforming without the restriction would move points the user has excluded.
    GeFree(pass.restriction);
    return Prepared::kFailed;
  }

  const BaseContainer* bc = call.mod->GetDataInstance();
  const String mapName = bc->GetString(DEFORMERBASE_MAPNAME);
  // An empty name selects nothing: unnamed vertex maps are not ours to overwrite.
  if (!mapName.empty()) {
    BaseObject* owner = FindCacheOwner(call.op, call.mod);
    if (owner && owner->IsInstanceOf(Opoint) &&
        ToPoint(owner)->GetPointCount() == object->GetPointCount()) {
      pass.ownerMap = static_cast<VariableTag*>(FindTagByName(owner, mapName, Tvertexmap));
      ClearVertexMap(pass.ownerMap);
    }
    pass.objectMap = static_cast<VariableTag*>(FindTagByName(call.op, mapName, Tvertexmap));
    ClearVertexMap(pass.objectMap);
  }
  pass.maxDistance = bc->GetReal(DEFORMERBASE_MAXDISTANCE);
  pass.curve = bc->GetCustomDataType(DEFORMERBASE_MAPCURVE, CUSTOMDATATYPE_SPLINE);
  pass.mapMode = bc->GetLong(DEFORMERBASE_MAPMODE);
  pass.maxAngle = bc->GetReal(DEFORMERBASE_MAXANGLE);

  pass.points = object->GetPointW();
  pass.count = object->GetPointCount();
  pass.objectMatrix = call.opMg;
  pass.toDeformer = MatrixMul(MatrixInvert(call.modMg), call.opMg);
  pass.fromDeformer = MatrixInvert(pass.toDeformer);
  pass.sameSpace = pass.toDeformer == Matrix();
  pass.falloff = falloff;
  pass.thread = call.thread;
  return Prepared::kReady;
}

KWDeformerBase::MapWrite KWDeformerBase::ChooseMapWrite(const DeformPass& pass,
                                                        DifferenceModes modes) {
  if (!pass.objectMap && !pass.ownerMap) return MapWrite::kNone;
  if (modes == DifferenceModes::kDistanceOnly) return MapWrite::kDistance;
  switch (pass.mapMode) {
    case DEFORMERBASE_MAPMODE_DISTANCE:
      return MapWrite::kDistance;
    case DEFORMERBASE_MAPMODE_ANGLE:
      return MapWrite::kAngle;
    default:
      return MapWrite::kNone;
  }
}

void KWDeformerBase::SampleFalloff(const DeformPass& pass, const Vector* points, LONG count,
                                   Real* weights) {
  if (!pass.falloff) {
    std::fill_n(weights, count, 0.0);
    return;
  }
  pass.falloff->MultiSample(points, pass.objectMatrix, weights, count);
}

void KWDeformerBase::WriteMapRun(const DeformPass& pass, MapWrite kind, LONG start, LONG count,
                                 const Real* measures) {
  const Real maximum = kind == MapWrite::kDistance ? pass.maxDistance : pass.maxAngle;
  if (!(maximum > 0.0)) return;
  SReal values[kPointRun];
  if (kind == MapWrite::kDistance) {
    for (LONG k = 0; k < count; ++k) {
      values[k] = MapValue(std::sqrt(measures[k]) / maximum, pass.curve);
    }
  } else {
    for (LONG k = 0; k < count; ++k) {
      values[k] = MapValue(std::abs(measures[k]) / maximum, pass.curve);
    }
  }
  StoreMapRun(pass.objectMap, start, count, values);
  StoreMapRun(pass.ownerMap, start, count, values);
}

void KWDeformerBase::FinishDeform(const DeformCall& call, DeformPass& pass) {
  GeFree(pass.restriction);
  call.op->Message(MSG_UPDATE);
}
