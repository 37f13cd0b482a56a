#include "bench_scene.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "deformers/common/kw_deformerbase.h"
#include "deformers/quillform/kwtwirl.h"
#include "deformers/vexwarp/kwexpand.h"
#include "falloff/mergefield.h"
#include "frame/module_tables.h"

namespace kwbench {
namespace {

// The restriction tag names its vertex map at this ID of its container.
constexpr LONG kRestrictionMapName = 1;
constexpr const char* kRestrictionMap = "restrict";
constexpr const char* kDifferenceMap = "diff";

bool RegisterModule(const kw::frame::ModuleSpec& spec, const char* folder) {
  // Kept for the process: registered descriptions and names come from here.
  static std::map<std::string, std::unique_ptr<GeResource>> resources;
  auto& resource = resources[folder];
  if (!resource) {
    resource = std::make_unique<GeResource>();
    const std::string path = std::string(KW_PLUGIN_DIR) + "/" + folder;
    if (!resource->Init(path)) {
      std::fprintf(stderr, "kw_bench: cannot load the resources in %s\n", path.c_str());
      return false;
    }
  }
  if (kw::frame::RegisterPlugins(spec, *resource) != 0) {
    std::fprintf(stderr, "kw_bench: module %s did not register every plug-in\n", spec.name);
    return false;
  }
  return true;
}

BaseObject* AddFalloffObject(BaseDocument* doc, LONG mode, const Vector& position, Real radius) {
  BaseObject* op = BaseObject::Alloc(Ofalloff);
  if (!op) return nullptr;
  doc->InsertObject(op, nullptr, nullptr);
  op->SetMg(Matrix(position, Vector(1, 0, 0), Vector(0, 1, 0), Vector(0, 0, 1)));
  BaseContainer* bc = op->GetDataInstance();
  bc->SetLong(FALLOFF_MODE, mode);
  bc->SetVector(FALLOFF_SIZE, Vector(radius));
  return op;
}

}  // namespace

SReal RestrictionValue(LONG i) {
  return 0.25f + 0.75f * static_cast<SReal>(i % 7) / 6.0f;
}

bool RegisterAllModules() {
  using namespace kw::frame;
  return RegisterModule(VexwarpModule(), "vexwarp") &&
         RegisterModule(QuillformModule(), "quillform") &&
         RegisterModule(FieldwiseModule(), "fieldwise") &&
         RegisterModule(GrainfieldModule(), "grainfield") &&
         RegisterModule(MergefieldModule(), "mergefield") &&
         RegisterModule(NullpinModule(), "nullpin");
}

LONG PlaneSegments(LONG points) {
  LONG n = static_cast<LONG>(std::ceil(std::sqrt(static_cast<double>(points)))) - 1;
  return std::max<LONG>(n, 1);
}

std::vector<Vector> PlanePoints(Real width, LONG segments) {
  std::vector<Vector> points;
  points.reserve(static_cast<size_t>(segments + 1) * (segments + 1));
  const Real half = width / 2.0;
  for (LONG j = 0; j <= segments; ++j) {
    for (LONG i = 0; i <= segments; ++i) {
      points.emplace_back(-half + width * i / segments, 0.0, -half + width * j / segments);
    }
  }
  return points;
}

PolygonObject* MakePlane(Real width, LONG segments) {
  const std::vector<Vector> points = PlanePoints(width, segments);
  PolygonObject* plane =
      PolygonObject::Alloc(static_cast<LONG>(points.size()), segments * segments);
  if (!plane) return nullptr;
  std::copy(points.begin(), points.end(), plane->GetPointW());
  CPolygon* polygons = plane->GetPolygonW();
  const LONG row = segments + 1;
  for (LONG j = 0; j < segments; ++j) {
    for (LONG i = 0; i < segments; ++i) {
      const LONG a = j * row + i;
      // Counter-clockwise seen from +Y, so the normals point up.
      *polygons++ = CPolygon(a, a + row, a + row + 1, a + 1);
    }
  }
  plane->SetName("Plane");
  return plane;
}

DeformScene::DeformScene(const DeformerSetup& setup, Weighting weighting, LONG segments) {
  doc_ = BaseDocument::Alloc();
  if (!doc_) return;
  plane_ = MakePlane(kPlaneWidth, segments);
  if (!plane_) return;
  doc_->InsertObject(plane_, nullptr, nullptr);
  deformer_ = BaseObject::Alloc(setup.pluginId);
  if (!deformer_) return;
  deformer_->SetName("Deformer");
  doc_->InsertObject(deformer_, plane_, nullptr);
  BaseContainer* bc = deformer_->GetDataInstance();
  if (setup.expandMode >= 0) bc->SetLong(EXPAND_MODE, setup.expandMode);

  if (weighting == Weighting::kMoved) {
    // Neither space is the other's: every point goes through both of the frame's matrices.
    plane_->SetMg(
        Matrix(Vector(120, -40, 75), Vector(0.8, 0, -0.6), Vector(0, 1, 0), Vector(0.6, 0, 0.8)));
    deformer_->SetMg(
        Matrix(Vector(150, -10, 60), Vector(1, 0, 0), Vector(0, 0.8, 0.6), Vector(0, -0.6, 0.8)));
  }
  if (weighting == Weighting::kSphereMaps) {
    bc->SetLong(FALLOFF_MODE, FALLOFF_MODE_SPHERE);
    bc->SetVector(FALLOFF_SIZE, Vector(kSphereRadius));
    const LONG count = plane_->GetPointCount();
    VariableTag* restriction = plane_->MakeVariableTag(Tvertexmap, count);
    VariableTag* difference = plane_->MakeVariableTag(Tvertexmap, count);
    BaseTag* restrictionTag = deformer_->MakeTag(Trestriction);
    if (!restriction || !difference || !restrictionTag) return;
    restriction->SetName(kRestrictionMap);
    SReal* values = restriction->GetDataAddressW();
    for (LONG i = 0; i < count; ++i) values[i] = RestrictionValue(i);
    difference->SetName(kDifferenceMap);
    restrictionTag->GetDataInstance()->SetString(kRestrictionMapName, kRestrictionMap);
    bc->SetString(DEFORMERBASE_MAPNAME, kDifferenceMap);
    bc->SetLong(DEFORMERBASE_MAPMODE, DEFORMERBASE_MAPMODE_DISTANCE);
  }
  ok_ = Pass(nullptr) && Cache() != nullptr;
}

DeformScene::~DeformScene() {
  BaseDocument::Free(doc_);
}

PolygonObject* DeformScene::Cache() const {
  BaseObject* cache = plane_ ? plane_->GetDeformCache() : nullptr;
  return cache && cache->IsInstanceOf(Opolygon) ? static_cast<PolygonObject*>(cache) : nullptr;
}

void DeformScene::RestoreCache() const {
  std::copy(plane_->GetPointR(), plane_->GetPointR() + plane_->GetPointCount(),
            Cache()->GetPointW());
}

bool DeformScene::Modify(BaseThread* thread) const {
  return deformer_->GetNodeData<ObjectData>()->ModifyObject(
      deformer_, doc_, Cache(), plane_->GetMg(), deformer_->GetMg(), 1.0, 0, thread);
}

bool DeformScene::Pass(BaseThread* thread) const {
  return doc_->ExecutePasses(thread, true, true, true, 0);
}

PrimitiveScene::PrimitiveScene(LONG segments) {
  // The plane primitive's parameters: width and depth (Real), segments along each (Long).
  constexpr LONG kWidth = 1100, kHeight = 1101, kWidthSegments = 1102, kHeightSegments = 1103;
  doc_ = BaseDocument::Alloc();
  if (!doc_) return;
  BaseObject* plane = BaseObject::Alloc(Oplane);
  if (!plane) return;
  doc_->InsertObject(plane, nullptr, nullptr);
  BaseContainer* bc = plane->GetDataInstance();
  bc->SetReal(kWidth, kPlaneWidth);
  bc->SetReal(kHeight, kPlaneWidth);
  bc->SetLong(kWidthSegments, segments);
  bc->SetLong(kHeightSegments, segments);
  BaseObject* twirl = BaseObject::Alloc(ID_KWTWIRL);
  if (!twirl) return;
  doc_->InsertObject(twirl, plane, nullptr);
  ok_ = Pass(nullptr);
}

PrimitiveScene::~PrimitiveScene() {
  BaseDocument::Free(doc_);
}

bool PrimitiveScene::Pass(BaseThread* thread) const {
  return doc_->ExecutePasses(thread, true, true, true, 0);
}

SamplingScene::SamplingScene(Shape shape) {
  doc_ = BaseDocument::Alloc();
  falloff_ = C4D_Falloff::Alloc();
  if (!doc_ || !falloff_) return;
  BaseObject* owner = nullptr;
  if (shape == Shape::kSphere) {
    owner = AddFalloffObject(doc_, FALLOFF_MODE_SPHERE, Vector(), kSphereRadius);
  } else {
    // Two overlapping spheres, multiplied (Mergefield's default operation).
    BaseObject* a = AddFalloffObject(doc_, FALLOFF_MODE_SPHERE, Vector(-100, 0, 0), kSphereRadius);
    BaseObject* b = AddFalloffObject(doc_, FALLOFF_MODE_SPHERE, Vector(100, 0, 0), kSphereRadius);
    owner = AddFalloffObject(doc_, Mergefield::kPluginId, Vector(), kSphereRadius);
    if (!a || !b || !owner) return;
    owner->GetDataInstance()->SetLink(MERGEFIELD_LINK_A, a);
    owner->GetDataInstance()->SetLink(MERGEFIELD_LINK_B, b);
  }
  if (!owner) return;
  ok_ = falloff_->InitFalloff(owner->GetDataInstance(), doc_, owner);
}

SamplingScene::~SamplingScene() {
  C4D_Falloff::Free(falloff_);
  BaseDocument::Free(doc_);
}

}  // namespace kwbench
