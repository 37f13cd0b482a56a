// The host's falloff service: the host shapes (infinite, sphere, box), the dispatch to
// falloff-shape plug-ins, the outline and handles, and the registry of live falloffs that lets
// the evaluation ask a deformer's falloff shape whether it changed.
#include "kwhost/falloff.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <vector>

#include "kwhost/app/host.h"
#include "kwhost/draw.h"
#include "kwhost/ids.h"
#include "kwhost/nodes.h"

namespace {

constexpr const char* kSourceTag = "host\\falloff";
constexpr Vector kDefaultSize{100, 100, 100};
constexpr Real kDefaultStrength = 1.0;
constexpr Real kDefaultFalloff = 1.0;

// ---------------------------------------------------------------------------------------------
// Kernels

/// The weight over the normalised distance `t` (0 at the centre, 1 on the surface): full up to
/// `inner`, then falling linearly to 0 at the surface. A point exactly on the surface of a
/// hard-edged shape (inner = 1) counts as inside.
Real RampWeight(Real t, Real inner) {
  if (t <= inner) return 1.0;
  if (t >= 1.0) return 0.0;
  const Real span = 1.0 - inner;
  // A ramp over the whole size (the default) divides by exactly 1, which changes nothing; the
  // division is the dearest step of a sample.
  return span == 1.0 ? 1.0 - t : (1.0 - t) / span;
}

/// Infinite shape: full weight everywhere.
Real InfiniteWeight(const Vector&, const Vector&, Real) {
  return 1.0;
}

/// Sphere of radius `size.x` about the falloff's origin; `local` is falloff-local. A radius
/// that is not positive encloses nothing.
Real SphereWeight(const Vector& local, const Vector& size, Real inner) {
  if (!(size.x > 0.0)) return 0.0;
  return RampWeight(Len(local) / size.x, inner);
}

/// Box with half extents `size` about the falloff's origin; `local` is falloff-local. The
/// normalised distance is the largest of the three axis ratios, so the ramp follows the faces.
/// A half extent that is not positive encloses nothing.
Real BoxWeight(const Vector& local, const Vector& size, Real inner) {
  if (!(size.x > 0.0 && size.y > 0.0 && size.z > 0.0)) return 0.0;
  const Real t = std::max(
      {std::abs(local.x) / size.x, std::abs(local.y) / size.y, std::abs(local.z) / size.z});
  return RampWeight(t, inner);
}

/// The owner's weight from a shape's raw result: inverted on request, scaled by the strength,
/// clamped to 0..1. A result that is not a number reads as 0 so it cannot spread into points.
Real FinishWeight(Real raw, Bool invert, Real strength) {
  const Real w = (invert ? 1.0 - raw : raw) * strength;
  if (!(w > 0.0)) return 0.0;
  return std::min(w, 1.0);
}

/// A run of positions weighed by the host shape `Shape`, which the loop calls directly. The two
/// transforms stay apart (not one product matrix) so each weight is the one `Sample` gives.
template <Real (*Shape)(const Vector&, const Vector&, Real)>
void SampleHostRun(const Vector* p, Matrix toGlobal, Real* results, LONG count, Matrix imat,
                   Vector size, Real inner, Bool invert, Real strength) {
  // The matrices and the size are copies, so the stores into `results` cannot alias them and
  // the loop keeps them at hand instead of reloading them for every point.
  for (LONG i = 0; i < count; ++i) {
    results[i] = FinishWeight(Shape(imat * (toGlobal * p[i]), size, inner), invert, strength);
  }
}

// ---------------------------------------------------------------------------------------------
// Modes

Bool IsHostMode(LONG mode) {
  return mode == FALLOFF_MODE_INFINITE || mode == FALLOFF_MODE_SPHERE || mode == FALLOFF_MODE_BOX;
}

/// The registered falloff-shape plug-in `mode` names, or null.
const kwhost::PluginInfo* ShapePlugin(LONG mode) {
  if (IsHostMode(mode)) return nullptr;
  const kwhost::PluginInfo* info = kwhost::FindPlugin(mode);
  if (!info || info->kind != kwhost::PluginKind::Falloff || !info->falloffAllocator) return nullptr;
  return info;
}

LONG ModeOf(const BaseContainer* bc, LONG current) {
  return bc ? bc->GetLong(FALLOFF_MODE, FALLOFF_MODE_INFINITE) : current;
}

/// The unit axis of host handle `i` (0 x, 1 y, 2 z).
Vector HandleAxis(LONG i) {
  return i == 0 ? Vector(1, 0, 0) : i == 1 ? Vector(0, 1, 0) : Vector(0, 0, 1);
}

Real& Component(Vector& v, LONG axis) {
  return axis == 0 ? v.x : axis == 1 ? v.y : v.z;
}

/// How many handles the host shape `mode` offers: the sphere its radius, the box its three
/// half sizes.
LONG HostHandleCount(LONG mode) {
  return mode == FALLOFF_MODE_SPHERE ? 1 : mode == FALLOFF_MODE_BOX ? 3 : 0;
}

// ---------------------------------------------------------------------------------------------
// Drawing

/// Three great circles of the sphere in the XY, XZ and YZ planes of the drawing matrix.
void DrawSphereOutline(BaseDraw* bd, Real radius) {
  const Vector origin;
  bd->DrawCircle(Matrix(origin, Vector(radius, 0, 0), Vector(0, radius, 0), Vector(0, 0, 1)));
  bd->DrawCircle(Matrix(origin, Vector(radius, 0, 0), Vector(0, 0, radius), Vector(0, 1, 0)));
  bd->DrawCircle(Matrix(origin, Vector(0, radius, 0), Vector(0, 0, radius), Vector(1, 0, 0)));
}

/// The twelve edges of the box with half extents `half` in the drawing matrix.
void DrawBoxOutline(BaseDraw* bd, const Vector& half) {
  // Corner c has bit 0 set for +x, bit 1 for +y, bit 2 for +z; an edge joins two corners that
  // differ in one bit.
  Vector corners[8];
  for (int c = 0; c < 8; ++c) {
    corners[c] =
        Vector(c & 1 ? half.x : -half.x, c & 2 ? half.y : -half.y, c & 4 ? half.z : -half.z);
  }
  for (int c = 0; c < 8; ++c) {
    for (int bit = 1; bit < 8; bit <<= 1) {
      if (!(c & bit)) bd->DrawLine(corners[c], corners[c | bit]);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Description

Description::Entry MakeEntry(LONG id, DescType type, const char* ident, const char* label) {
  Description::Entry entry;
  entry.id = DescID(id);
  entry.type = type;
  entry.bc.SetString(DESC_NAME, label);
  entry.bc.SetString(DESC_IDENT, ident);
  entry.bc.SetLong(DESC_DTYPE, static_cast<LONG>(type));
  entry.bc.SetString(DESC_GROUP, "Falloff");
  return entry;
}

/// "0:Infinite;1:Sphere;2:Box" followed by every registered falloff shape.
String ModeCycle() {
  String cycle = "0:Infinite;1:Sphere;2:Box";
  for (const kwhost::PluginInfo& info : kwhost::RegisteredPlugins()) {
    if (info.kind != kwhost::PluginKind::Falloff) continue;
    const String& name = !info.name.empty() ? info.name : info.className;
    cycle += ";" + std::to_string(info.id) + ":" + (name.empty() ? std::to_string(info.id) : name);
  }
  return cycle;
}

// ---------------------------------------------------------------------------------------------
// Registry of live falloffs

/// Every live falloff in allocation order, with the container it was last prepared with
/// (null before its first `InitFalloff`). The host cannot tell which node owns a falloff; the
/// container it is prepared with identifies the owner.
struct LiveFalloff {
  const C4D_Falloff* falloff;
  const BaseContainer* container;
};

struct LiveRegistry {
  std::mutex mutex;
  std::vector<LiveFalloff> entries;
};

LiveRegistry& Live() {
  // Never destroyed: falloffs held by static objects may outlive any destruction order.
  static LiveRegistry* registry = new LiveRegistry;
  return *registry;
}

Bool RegisterLive(const C4D_Falloff* falloff) {
  LiveRegistry& live = Live();
  std::lock_guard<std::mutex> lock(live.mutex);
  try {
    live.entries.push_back({falloff, nullptr});
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

void UnregisterLive(const C4D_Falloff* falloff) {
  LiveRegistry& live = Live();
  std::lock_guard<std::mutex> lock(live.mutex);
  std::erase_if(live.entries, [&](const LiveFalloff& e) { return e.falloff == falloff; });
}

void SetLiveContainer(const C4D_Falloff* falloff, const BaseContainer* bc) {
  LiveRegistry& live = Live();
  std::lock_guard<std::mutex> lock(live.mutex);
  for (LiveFalloff& e : live.entries) {
    if (e.falloff == falloff) e.container = bc;
  }
}

Bool IsLive(const C4D_Falloff* falloff, const BaseContainer* bc) {
  LiveRegistry& live = Live();
  std::lock_guard<std::mutex> lock(live.mutex);
  return std::any_of(live.entries.begin(), live.entries.end(), [&](const LiveFalloff& e) {
    return e.falloff == falloff && e.container == bc;
  });
}

}  // namespace

// -----------------------------------------------------------------------------------------------
// C4D_Falloff

// Until the first preparation the falloff samples its defaults: infinite, full weight.
C4D_Falloff::C4D_Falloff() : hostShape_(InfiniteWeight) {}

C4D_Falloff* C4D_Falloff::Alloc() {
  C4D_Falloff* falloff = NewObj<C4D_Falloff>(kSourceTag, __LINE__);
  if (!falloff) return nullptr;
  if (!RegisterLive(falloff)) DeleteObj(falloff);
  return falloff;
}

void C4D_Falloff::Free(C4D_Falloff*& falloff) {
  DeleteObj(falloff);
}

C4D_Falloff::~C4D_Falloff() {
  ReleaseShape();
  UnregisterLive(this);
}

void C4D_Falloff::ReadParameters(const BaseContainer* bc) {
  mode_ = bc->GetLong(FALLOFF_MODE, FALLOFF_MODE_INFINITE);
  size_ = bc->GetVector(FALLOFF_SIZE, kDefaultSize);
  strength_ = bc->GetReal(FALLOFF_STRENGTH, kDefaultStrength);
  const Real falloff = bc->GetReal(FALLOFF_FALLOFF, kDefaultFalloff);
  falloff_ = std::isnan(falloff) ? kDefaultFalloff : std::clamp(falloff, 0.0, 1.0);
  invert_ = bc->GetBool(FALLOFF_INVERT, false);
  hostShape_ = mode_ == FALLOFF_MODE_INFINITE ? InfiniteWeight
               : mode_ == FALLOFF_MODE_SPHERE ? SphereWeight
               : mode_ == FALLOFF_MODE_BOX    ? BoxWeight
                                              : nullptr;
}

void C4D_Falloff::ReleaseShape() {
  if (shape_) {
    if (shapePrepared_) shape_->FreeFalloff(data_);
    DeleteObj(shape_);
  }
  shapeId_ = 0;
  shapePrepared_ = false;
  shapeReady_ = false;
}

Bool C4D_Falloff::SelectShape(LONG mode) {
  if (shape_ && shapeId_ == mode) return true;
  ReleaseShape();
  if (IsHostMode(mode)) return true;
  const kwhost::PluginInfo* info = ShapePlugin(mode);
  if (!info) return false;
  shape_ = info->falloffAllocator();
  if (!shape_) return false;
  shapeId_ = mode;
  return true;
}

FalloffData* C4D_Falloff::ShapeFor(const BaseContainer* bc) const {
  return shape_ && shapeId_ == ModeOf(bc, mode_) ? shape_ : nullptr;
}

Bool C4D_Falloff::InitFalloff(BaseContainer* bc, BaseDocument* doc, BaseObject* op) {
  if (!bc) return false;
  SetLiveContainer(this, bc);
  ReadParameters(bc);
  // The previous preparation is released with the data it was made with.
  if (shapePrepared_) shape_->FreeFalloff(data_);
  shapePrepared_ = false;
  shapeReady_ = false;
  data_.mat = op ? op->GetMg() : Matrix();
  data_.imat = InvertMatrix(data_.mat);
  data_.doc = doc;
  data_.owner = op;
  if (!SelectShape(mode_)) return false;  // an unknown shape, or memory exhausted
  if (!shape_) return true;
  shapePrepared_ = true;
  if (!shape_->Init(data_, bc)) return false;
  shapeReady_ = shape_->InitFalloff(bc, data_);
  return shapeReady_;
}

void C4D_Falloff::Sample(const Vector& p, Real* result, Bool, Real) {
  if (!result) return;
  *result = FinishWeight(SampleRaw(p), invert_, strength_);
}

void C4D_Falloff::MultiSample(const Vector* p, const Matrix& toGlobal, Real* results, LONG count) {
  if (!p || !results || count <= 0) return;
  const Real inner = 1.0 - falloff_;
  if (hostShape_ == InfiniteWeight) {
    std::fill_n(results, count, FinishWeight(1.0, invert_, strength_));
  } else if (hostShape_ == SphereWeight) {
    SampleHostRun<SphereWeight>(p, toGlobal, results, count, data_.imat, size_, inner, invert_,
                                strength_);
  } else if (hostShape_ == BoxWeight) {
    SampleHostRun<BoxWeight>(p, toGlobal, results, count, data_.imat, size_, inner, invert_,
                             strength_);
  } else {
    for (LONG i = 0; i < count; ++i) {
      results[i] = FinishWeight(SampleRaw(toGlobal * p[i]), invert_, strength_);
    }
  }
}

Real C4D_Falloff::SampleRaw(const Vector& p) {
  const Vector local = data_.imat * p;
  if (hostShape_) return hostShape_(local, size_, 1.0 - falloff_);
  // A plug-in shape that is missing or not prepared has nothing to measure.
  if (!shapeReady_) return 0.0;
  Real raw = 0.0;
  shape_->Sample(local, data_, &raw);
  return raw;
}

Bool C4D_Falloff::SetMode(LONG mode, BaseContainer* bc) {
  if (!bc || (!IsHostMode(mode) && !ShapePlugin(mode))) return false;
  // The shape is created before the container changes, so a failure leaves it as it was.
  if (!SelectShape(mode)) return false;
  bc->SetLong(FALLOFF_MODE, mode);
  Bool ok = true;
  if (shape_) {
    if (shapePrepared_) shape_->FreeFalloff(data_);
    shapeReady_ = false;
    shapePrepared_ = true;
    ok = shape_->Init(data_, bc);
  }
  ReadParameters(bc);
  return ok;
}

Bool C4D_Falloff::AddFalloffToDescription(Description* description, BaseContainer* bc) {
  if (!description) return false;
  const LONG mode = ModeOf(bc, mode_);
  FalloffData* shape = nullptr;
  if (ShapePlugin(mode)) {
    if (!SelectShape(mode)) return false;
    shape = shape_;
  }

  std::vector<Description::Entry> entries;
  entries.push_back(MakeEntry(FALLOFF_MODE, DescType::Long, "FALLOFF_MODE", "Shape"));
  entries.back().bc.SetString(DESC_CYCLE, ModeCycle());
  entries.push_back(MakeEntry(FALLOFF_SIZE, DescType::Vector, "FALLOFF_SIZE", "Size"));
  entries.back().bc.SetString(DESC_UNIT, "distance");
  entries.back().bc.SetReal(DESC_MIN, 0.0);
  entries.push_back(MakeEntry(FALLOFF_STRENGTH, DescType::Real, "FALLOFF_STRENGTH", "Strength"));
  entries.back().bc.SetString(DESC_UNIT, "percent");
  entries.push_back(MakeEntry(FALLOFF_FALLOFF, DescType::Real, "FALLOFF_FALLOFF", "Falloff"));
  entries.back().bc.SetString(DESC_UNIT, "percent");
  entries.back().bc.SetReal(DESC_MIN, 0.0);
  entries.back().bc.SetReal(DESC_MAX, 1.0);
  entries.push_back(MakeEntry(FALLOFF_INVERT, DescType::Bool, "FALLOFF_INVERT", "Invert"));
  if (shape) {
    Description shapeDescription;
    if (shapeDescription.LoadDescription(mode)) {
      for (const Description::Entry& entry : shapeDescription.Entries()) entries.push_back(entry);
    }
  }

  for (Description::Entry& entry : entries) {
    if (shape && !shape->GetDVisible(entry.id, bc, &entry.bc)) entry.bc.SetBool(DESC_HIDE, true);
    description->AddEntry(entry);
  }
  return true;
}

Bool C4D_Falloff::Message(LONG id, BaseContainer* bc, void* data) {
  // A message such as the drag-and-drop check may arrive before the first preparation: the
  // shape the container selects answers it.
  const LONG mode = ModeOf(bc, mode_);
  if (ShapePlugin(mode) && !SelectShape(mode)) return false;
  FalloffData* shape = ShapeFor(bc);
  return shape ? shape->Message(id, bc, data) : true;
}

Bool C4D_Falloff::Draw(BaseDraw* bd, BaseDrawHelp* bh, LONG drawpass, BaseContainer* bc) {
  if (!bd) return false;
  if (drawpass != DRAWPASS_OBJECT) return true;
  const LONG mode = ModeOf(bc, mode_);
  if (!IsHostMode(mode)) {
    FalloffData* shape = ShapeFor(bc);
    return shape ? shape->Draw(data_, bd, bh, bh ? bh->GetObject() : nullptr) : true;
  }
  if (mode == FALLOFF_MODE_INFINITE) return true;
  const Vector size = bc ? bc->GetVector(FALLOFF_SIZE, kDefaultSize) : size_;
  bd->SetMatrix_Matrix(nullptr, data_.mat);
  if (bh) bd->SetPen(bd->GetObjectColor(bh, bh->GetObject()));
  if (mode == FALLOFF_MODE_SPHERE) {
    DrawSphereOutline(bd, size.x);
  } else {
    DrawBoxOutline(bd, size);
  }
  return true;
}

LONG C4D_Falloff::GetHandleCount(BaseContainer* bc) {
  const LONG mode = ModeOf(bc, mode_);
  if (IsHostMode(mode)) return HostHandleCount(mode);
  FalloffData* shape = ShapeFor(bc);
  return shape ? shape->GetHandleCount(bc, data_) : 0;
}

void C4D_Falloff::GetHandle(LONG i, BaseContainer* bc, HandleInfo& info) {
  const LONG mode = ModeOf(bc, mode_);
  if (!IsHostMode(mode)) {
    if (FalloffData* shape = ShapeFor(bc)) shape->GetHandle(i, bc, info, data_);
    return;
  }
  if (i < 0 || i >= HostHandleCount(mode)) return;
  Vector size = bc ? bc->GetVector(FALLOFF_SIZE, kDefaultSize) : size_;
  info.direction = HandleAxis(i);
  info.position = info.direction * Component(size, i);
  info.type = 0;
}

void C4D_Falloff::SetHandle(LONG i, Vector p, BaseContainer* bc, const HandleInfo& info) {
  if (!bc) return;
  const LONG mode = ModeOf(bc, mode_);
  if (!IsHostMode(mode)) {
    if (FalloffData* shape = ShapeFor(bc)) shape->SetHandle(i, p, bc, info, data_);
    return;
  }
  if (i < 0 || i >= HostHandleCount(mode)) return;
  Vector size = bc->GetVector(FALLOFF_SIZE, kDefaultSize);
  // A drag through the centre stops at size 0 rather than turning the shape inside out.
  Component(size, i) = std::max(0.0, Dot(p, HandleAxis(i)));
  bc->SetVector(FALLOFF_SIZE, size);
}

Bool C4D_Falloff::CopyTo(C4D_Falloff* dest) {
  if (!dest) return false;
  if (dest == this) return true;
  // The copy gets a fresh instance of the shape; it is prepared by the copy's own next
  // InitFalloff, with the copy's owner container.
  FalloffData* shape = nullptr;
  if (shape_) {
    const kwhost::PluginInfo* info = ShapePlugin(shapeId_);
    if (!info) return false;
    shape = info->falloffAllocator();
    if (!shape) return false;
  }
  dest->ReleaseShape();
  dest->shape_ = shape;
  dest->shapeId_ = shape ? shapeId_ : 0;
  dest->mode_ = mode_;
  dest->data_ = data_;
  dest->hostShape_ = hostShape_;
  dest->size_ = size_;
  dest->strength_ = strength_;
  dest->falloff_ = falloff_;
  dest->invert_ = invert_;
  return true;
}

Bool C4D_Falloff::CheckDirty(BaseContainer* bc) {
  FalloffData* shape = ShapeFor(bc);
  return shape ? shape->CheckDirty(bc) : false;
}

// -----------------------------------------------------------------------------------------------

namespace kwhost {

Bool CheckFalloffDirty(BaseObject* owner) {
  if (!owner) return false;
  BaseContainer* bc = owner->GetDataInstance();
  std::vector<const C4D_Falloff*> matching;
  {
    LiveRegistry& live = Live();
    std::lock_guard<std::mutex> lock(live.mutex);
    for (const LiveFalloff& e : live.entries) {
      if (e.container == bc) matching.push_back(e.falloff);
    }
  }
  // Every matching shape is asked, even after one answered true: each keeps its own record of
  // what it last saw.
  Bool dirty = false;
  for (const C4D_Falloff* falloff : matching) {
    if (!IsLive(falloff, bc)) continue;  // freed or re-prepared by an earlier shape's check
    if (const_cast<C4D_Falloff*>(falloff)->CheckDirty(bc)) dirty = true;
  }
  if (dirty) owner->SetDirty(DIRTYFLAGS_DATA);
  return dirty;
}

}  // namespace kwhost
