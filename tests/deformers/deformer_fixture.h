// A document with the deformers of both modules registered in-process, a stand-in for the
// anchor tag, and small builders for the scenes the deformer tests use.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "deformers/common/kw_deformerbase.h"
#include "deformers/quillform/kwimpact.h"
#include "deformers/quillform/kwscrollroll.h"
#include "deformers/quillform/kwspherewrap.h"
#include "deformers/quillform/kwtwirl.h"
#include "deformers/vexwarp/kwexpand.h"
#include "deformers/vexwarp/kwmotionstretch.h"
#include "deformers/vexwarp/kwrebend.h"
#include "deformers/vexwarp/kwseam.h"
#include "kwtest.h"

namespace kwtest {

/// The anchor tag as the deformers see it: a tag of type 1030379 carrying a link at 1000.
class AnchorTagStandIn : public TagData {
 public:
  static NodeData* Alloc() { return NewObj<AnchorTagStandIn>("tests\\anchor", __LINE__); }
};

/// The restriction tag's vertex-map name lives at this ID of its container.
constexpr LONG kRestrictionMapName = 1;

class DeformerTest : public HostTest {
 protected:
  void SetUp() override {
    kwhost::ClearRegistry();
    struct Entry {
      LONG id;
      const char* name;
      DataAllocator alloc;
      const char* description;
      const char* className;
    };
    const Entry deformers[] = {
        {ID_KWTWIRL, "Twirl", KWTwirl::Alloc, "otwirldeformer_kw", "KWTwirl"},
        {ID_KWSPHEREWRAP, "Dazori Roru", KWSphereWrap::Alloc, "ospherewrapdeformer_kw",
         "KWSphereWrap"},
        {ID_KWSCROLLROLL, "Reduze Zivi", KWScrollRoll::Alloc, "oscrollrolldeformer_kw",
         "KWScrollRoll"},
        {ID_KWIMPACT, "Impact", KWImpact::Alloc, "oimpactdeformer_kw", "KWImpact"},
        {ID_KWEXPAND, "Expand", KWExpand::Alloc, "oexpanddeformer_kw", "KWExpand"},
        {ID_KWREBEND, "Rebend", KWRebend::Alloc, "orebenddeformer_kw", "KWRebend"},
        {ID_KWMOTIONSTRETCH, "Ridado Reruvod", KWMotionStretch::Alloc, "omotionstretchdeformer_kw",
         "KWMotionStretch"},
        {ID_KWSEAM, "Seam", KWSeam::Alloc, "oseamdeformer_kw", "KWSeam"},
    };
    for (const Entry& e : deformers) {
      ASSERT_TRUE(RegisterObjectPlugin(e.id, e.name, OBJECT_MODIFIER, e.alloc, e.description,
                                       nullptr, 1, e.className));
    }
    ASSERT_TRUE(RegisterTagPlugin(Tnullpin, "Nullpin", TAG_VISIBLE, AnchorTagStandIn::Alloc,
                                  "tnullpin_kw", nullptr, 0, "Nullpin"));
    HostTest::SetUp();
  }

  void TearDown() override {
    HostTest::TearDown();
    kwhost::ClearRegistry();
  }

  /// A polygon object at the top of the document.
  PolygonObject* AddMesh(const std::vector<Vector>& points,
                         const std::vector<std::vector<LONG>>& polygons = {},
                         const Matrix& mg = Matrix()) {
    PolygonObject* mesh = MakePolygonObject(points, polygons);
    EXPECT_NE(mesh, nullptr);
    if (!mesh) return nullptr;
    mesh->SetName("Mesh");
    doc->InsertObject(mesh, nullptr, nullptr);
    mesh->SetMg(mg);
    return mesh;
  }

  /// A deformer of plug-in `id` as the first child of `parent`.
  BaseObject* AddDeformer(LONG id, BaseObject* parent, const Matrix& mg = Matrix()) {
    BaseObject* deformer = BaseObject::Alloc(id);
    EXPECT_NE(deformer, nullptr);
    if (!deformer) return nullptr;
    deformer->SetName("Deformer");
    doc->InsertObject(deformer, parent, nullptr);
    deformer->SetMg(mg);
    return deformer;
  }

  /// A vertex map named `name` with `values` as the first tag of `object`.
  static VariableTag* AddVertexMap(BaseObject* object, const String& name,
                                   const std::vector<SReal>& values) {
    VariableTag* map = object->MakeVariableTag(Tvertexmap, static_cast<LONG>(values.size()));
    EXPECT_NE(map, nullptr);
    if (!map) return nullptr;
    map->SetName(name);
    std::copy(values.begin(), values.end(), map->GetDataAddressW());
    return map;
  }

  static std::vector<SReal> MapValues(const BaseTag* tag) {
    const auto* map = static_cast<const VariableTag*>(tag);
    return {map->GetDataAddressR(), map->GetDataAddressR() + map->GetDataCount()};
  }

  /// A restriction tag on `deformer` naming the vertex map `mapName`.
  static BaseTag* AddRestriction(BaseObject* deformer, const String& mapName) {
    BaseTag* tag = deformer->MakeTag(Trestriction);
    EXPECT_NE(tag, nullptr);
    if (tag) tag->GetDataInstance()->SetString(kRestrictionMapName, mapName);
    return tag;
  }

  /// An anchor tag on `deformer` linking `target` (null: empty link).
  static BaseTag* AddAnchor(BaseObject* deformer, BaseObject* target) {
    BaseTag* tag = deformer->MakeTag(Tnullpin);
    EXPECT_NE(tag, nullptr);
    if (tag) tag->GetDataInstance()->SetLink(NULLPIN_LINK_ID, target);
    return tag;
  }

  /// Evaluates the document; the deformed points are then in each object's deform cache.
  Bool Evaluate() { return doc->ExecutePasses(nullptr, true, true, true, 0); }

  /// The deformed points of `op` after `Evaluate`.
  static std::vector<Vector> Deformed(const BaseObject* op) {
    return Points(op ? op->GetDeformCache() : nullptr);
  }

  /// Runs `deformer` directly on `op` (which may be outside the document).
  Bool Modify(BaseObject* deformer, BaseObject* op, BaseThread* thread = nullptr) {
    return deformer->GetNodeData<ObjectData>()->ModifyObject(deformer, doc, op, op->GetMg(),
                                                             deformer->GetMg(), 1.0, 0, thread);
  }

  static BaseContainer* Params(BaseObject* op) { return op->GetDataInstance(); }

  /// Makes the deformer's falloff a sphere of `radius` around the gizmo, with no ramp.
  static void SetSphereFalloff(BaseObject* deformer, Real radius) {
    BaseContainer* bc = deformer->GetDataInstance();
    bc->SetLong(FALLOFF_MODE, FALLOFF_MODE_SPHERE);
    bc->SetVector(FALLOFF_SIZE, Vector(radius));
    bc->SetReal(FALLOFF_FALLOFF, 0.0);
  }

  /// The drawing of `op` in one pass, as the host records it.
  static std::vector<DrawCommand> DrawPass(BaseObject* op, LONG pass, LONG highlight = -1) {
    BaseDraw bd;
    bd.SetHighlightHandle(op, highlight);
    bd.BeginPass(pass, op);
    BaseDrawHelp bh(&bd, op);
    EXPECT_TRUE(op->GetNodeData<ObjectData>()->Draw(op, pass, &bd, &bh));
    return bd.Commands();
  }

  static std::vector<DrawCommand> OfKind(const std::vector<DrawCommand>& commands,
                                         DrawCommand::Kind kind) {
    std::vector<DrawCommand> out;
    for (const DrawCommand& c : commands) {
      if (c.kind == kind) out.push_back(c);
    }
    return out;
  }

  static HandleInfo Handle(BaseObject* op, LONG i) {
    HandleInfo info;
    op->GetNodeData<ObjectData>()->GetHandle(op, i, info);
    return info;
  }

  static void MoveHandle(BaseObject* op, LONG i, const Vector& p) {
    HandleInfo info = Handle(op, i);
    op->GetNodeData<ObjectData>()->SetHandle(op, i, p, info);
  }

  static LONG HandleCount(BaseObject* op) {
    return op->GetNodeData<ObjectData>()->GetHandleCount(op);
  }
};

/// A 200-unit cube centred on the origin: 8 points, 6 outward-facing quads.
inline std::vector<Vector> CubePoints() {
  return {{-100, -100, -100}, {100, -100, -100}, {100, 100, -100}, {-100, 100, -100},
          {-100, -100, 100},  {100, -100, 100},  {100, 100, 100},  {-100, 100, 100}};
}
inline std::vector<std::vector<LONG>> CubePolygons() {
  return {{0, 3, 2, 1}, {4, 5, 6, 7}, {0, 1, 5, 4}, {3, 7, 6, 2}, {0, 4, 7, 3}, {1, 2, 6, 5}};
}

}  // namespace kwtest
