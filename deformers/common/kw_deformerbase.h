// The base of every deformer: falloff ownership, the difference-map parameters and button,
// creation-time placement, dirty checking, the handle convention and the deform frame. A
// deformer supplies only its parameters, its per-point rule, its gizmo and its own handles.
#pragma once

#include <numbers>

#include "deformers/common/kw_geometry.h"
#include "kwhost/c4d.h"

// Parameters every deformer carries.
constexpr LONG DEFORMERBASE_MAPLINK = 200001;      ///< link: older link to a map, converted
constexpr LONG DEFORMERBASE_MAXDISTANCE = 200002;  ///< real: distance that maps to 1
constexpr LONG DEFORMERBASE_MAPCURVE = 200003;     ///< spline curve: remaps the 0..1 value
constexpr LONG DEFORMERBASE_MAXANGLE = 200004;     ///< real: angle (radians) that maps to 1
constexpr LONG DEFORMERBASE_MAPNAME = 200010;      ///< string: name of the difference maps
constexpr LONG DEFORMERBASE_MAPMODE = 201000;      ///< integer: 0 distance, 1 angle
constexpr LONG DEFORMERBASE_CREATEMAP = 210000;    ///< button: creates the difference maps

constexpr LONG DEFORMERBASE_MAPMODE_DISTANCE = 0;
constexpr LONG DEFORMERBASE_MAPMODE_ANGLE = 1;

constexpr Real DEFORMERBASE_MAXDISTANCE_DEFAULT = 100.0;
constexpr Real DEFORMERBASE_MAXANGLE_DEFAULT = std::numbers::pi / 2.0;

/// What a per-point rule returns.
struct DeformedPoint {
  Vector position;   ///< the new position, in the deformer's space
  Real angle = 0.0;  ///< the angle the point was turned by (for the angle-mode map)
};

/// Which difference-map modes a deformer writes.
enum class DifferenceModes {
  kDistanceOnly,     ///< the distance, whatever the map mode says
  kDistanceOrAngle,  ///< distance in mode 0, angle in mode 1, nothing otherwise
};

/// `value` limited to lo..hi for a dragged handle; a NaN (a handle dragged on a zero-sized
/// gizmo) gives lo.
inline Real ClampHandleValue(Real value, Real lo, Real hi) {
  if (!(value >= lo)) return lo;
  return value > hi ? hi : value;
}

/// Sets every value of `tag` to 0; a null tag is ignored.
void ClearVertexMap(VariableTag* tag);

/// Writes |newPoint − oldPoint| / maxDistance, clamped to 0..1 and remapped by `curve` when it
/// has knots, at `index` of `tag`. Nothing happens for a null tag, a maximum that is not above
/// 0 or an index outside the tag's values.
void WriteDistanceValue(VariableTag* tag, LONG index, const Vector& oldPoint,
                        const Vector& newPoint, Real maxDistance, const SplineData* curve);

/// Writes |angle| / maxAngle like `WriteDistanceValue`.
void WriteAngleValue(VariableTag* tag, LONG index, Real angle, Real maxAngle,
                     const SplineData* curve);

/// Creates a vertex map named after the deformer with ".DifferenceMap" (and ".1", ".2", ...
/// until no point object of the parent's subtree has a tag of that name) as the first tag of
/// the deformer's parent and of every point object below it, each recorded for undo when it is
/// in a document. Returns the first map made; null without a parent, without point objects or
/// when a map cannot be created (then none is left behind).
VariableTag* CreateDifferenceMaps(BaseObject* deformer);

/// The common base of the deformers.
class KWDeformerBase : public ObjectData {
 public:
  KWDeformerBase() = default;
  ~KWDeformerBase() override;

  /// Writes the shared defaults and creates the falloff; false when it cannot be allocated.
  Bool Init(GeListNode* node) override;
  /// Releases the falloff.
  void Free(GeListNode* node) override;
  /// Passes every message to the falloff, then handles creation from the menu (enables the
  /// deformer; with Shift held it is placed on the active object) and the create-map button.
  /// Always true.
  Bool Message(GeListNode* node, LONG type, void* data) override;
  /// Copies the falloff into the copy's falloff.
  Bool CopyTo(NodeData* dest, GeListNode* source, GeListNode* destNode, LONG flags,
              AliasTrans* trans) override;
  /// Loads the node type's description and appends the falloff's parameters; false when the
  /// description cannot be loaded.
  Bool GetDescription(GeListNode* node, Description* description, LONG& flags) override;
  /// The maximum distance is editable only in distance mode, the maximum angle only in angle
  /// mode.
  Bool GetDEnabling(GeListNode* node, const DescID& id, const GeData& data, LONG flags,
                    const BaseContainer* itemdesc) override;
  /// Draws the falloff, and in the handle pass every handle.
  Bool Draw(BaseObject* op, LONG drawpass, BaseDraw* bd, BaseDrawHelp* bh) override;
  /// Marks the deformer dirty when its gizmo matrix, its falloff shape or its parameters
  /// changed.
  void CheckDirty(BaseObject* op, BaseDocument* doc) override;
  /// The deformer's own handles plus the falloff's.
  LONG GetHandleCount(BaseObject* op) override;
  /// Handle i in the deformer's local space: below ownHandleCount the deformer's own
  /// (`GetOwnHandle`), from there on falloff handle i − ownHandleCount.
  void GetHandle(BaseObject* op, LONG i, HandleInfo& info) override;
  /// Moves handle i to `p` (deformer-local): an own handle through `SetOwnHandle`, a falloff
  /// handle through the falloff.
  void SetHandle(BaseObject* op, LONG i, Vector p, const HandleInfo& info) override;

  /// The matrix for a deformer created with Shift held on an object with global matrix
  /// `objectMatrix` and local bounding box `centre` ± `halfSize`: that matrix moved to the box
  /// centre.
  virtual Matrix GetPlacementMatrix(const Matrix& objectMatrix, const Vector& centre,
                                    const Vector& halfSize);

  C4D_Falloff* GetFalloff() const { return falloff; }
  const Matrix& GetLastGizmoMatrix() const { return lastGizmoMatrix; }
  LONG GetLastFalloffShape() const { return lastFalloffShape; }
  LONG GetOwnHandleCount() const { return ownHandleCount; }

 protected:
  /// The arguments of one `ModifyObject` call.
  struct DeformCall {
    BaseObject* mod = nullptr;  ///< the deformer
    BaseDocument* doc = nullptr;
    BaseObject* op = nullptr;  ///< the deform cache, deformed in place
    Matrix opMg;               ///< the object's global matrix
    Matrix modMg;              ///< the deformer's global matrix
    BaseThread* thread = nullptr;
  };

  /// The document of a creation message (its data), or the deformer's own.
  static BaseDocument* MenuDocument(BaseObject* op, void* data) {
    return data ? static_cast<BaseDocument*>(data) : op->GetDocument();
  }

  /// With Shift held and an active object in `doc`, places `op` on that object
  /// (`GetPlacementMatrix`) and returns the object; otherwise changes nothing and returns null.
  BaseObject* PlaceOnActiveObject(BaseObject* op, BaseDocument* doc);

  /// Opens a deformation: converts the older map link when `convertMapLink` is set (a console
  /// line tells the user), then prepares the falloff at the gizmo object. A shape that cannot
  /// be prepared (not loaded) weighs every point 0, so nothing moves.
  void BeginDeform(const DeformCall& call, Bool convertMapLink);

  /// The rest of the deform frame around `rule`, a callable
  /// `DeformedPoint (LONG index, const Vector& deformerPos, Real falloffWeight,
  /// Real restrictionWeight)`: skips objects without points, takes the restriction weights,
  /// clears and writes the difference maps, polls the break test every 64 points and sends the
  /// update message. False only when a working buffer cannot be allocated; then no point moves.
  template <class Rule>
  Bool DeformPoints(const DeformCall& call, DifferenceModes modes, const Rule& rule);

  /// The falloff's drawing for this pass.
  void DrawFalloff(BaseObject* op, LONG drawpass, BaseDraw* bd, BaseDrawHelp* bh);
  /// Every handle (own and falloff) in the deformer's matrix, the highlighted one in its own
  /// colour.
  void DrawHandles(BaseObject* op, BaseDraw* bd, BaseDrawHelp* bh);

  /// Own handle i (0 <= i < ownHandleCount) in the deformer's local space.
  virtual void GetOwnHandle(BaseObject* op, LONG i, HandleInfo& info) {}
  /// Own handle i moved to `p` (deformer-local): sets the parameter it stands for.
  virtual void SetOwnHandle(BaseObject* op, LONG i, const Vector& p) {}

  C4D_Falloff* falloff = nullptr;
  Matrix lastGizmoMatrix;
  LONG lastFalloffShape = 0;
  LONG ownHandleCount = 0;

 private:
  /// Everything the point loop needs, gathered before it runs.
  struct DeformPass {
    Vector* points = nullptr;
    LONG count = 0;
    Matrix objectMatrix;  ///< object-local to global
    Matrix toDeformer;    ///< object-local to deformer space
    Matrix fromDeformer;  ///< deformer space to object-local
    /// The deformer sits exactly on the object (toDeformer is the identity): points are used
    /// as they are instead of going through two matrices that would not change them.
    Bool sameSpace = false;
    SReal* restriction = nullptr;
    VariableTag* objectMap = nullptr;
    VariableTag* ownerMap = nullptr;
    Real maxDistance = 0.0;
    Real maxAngle = 0.0;
    const SplineData* curve = nullptr;
    LONG mapMode = 0;
    C4D_Falloff* falloff = nullptr;
    BaseThread* thread = nullptr;
  };
  enum class Prepared { kReady, kNothingToDo, kFailed };
  enum class MapWrite { kNone, kDistance, kAngle };

  Prepared PrepareDeform(const DeformCall& call, DeformPass& pass);
  static MapWrite ChooseMapWrite(const DeformPass& pass, DifferenceModes modes);
  static void FinishDeform(const DeformCall& call, DeformPass& pass);
  void CreateMapCommand(BaseObject* op);
  /// Takes falloff space (the gizmo object's) into the deformer's local space.
  static Matrix FalloffToLocal(BaseObject* op);

  /// Points per run of the point loop; the break test is polled once per run.
  static constexpr LONG kPointRun = 64;
  /// The falloff weights of `count` (at most kPointRun) object-local `points`, each sampled at
  /// its global position before deformation; 0 without a falloff.
  static void SampleFalloff(const DeformPass& pass, const Vector* points, LONG count,
                            Real* weights);

  /// Writes the difference maps of the `count` points from index `start`: `measures` holds
  /// each point's squared distance moved (distance mode) or the angle it turned (angle mode).
  /// Each value is scaled, clamped and remapped once and stored into both maps, as
  /// `WriteDistanceValue` and `WriteAngleValue` would store it.
  static void WriteMapRun(const DeformPass& pass, MapWrite kind, LONG start, LONG count,
                          const Real* measures);

  template <MapWrite kMaps, class Rule>
  static void RunPointLoop(DeformPass& pass, const Rule& rule);
};

template <KWDeformerBase::MapWrite kMaps, class Rule>
void KWDeformerBase::RunPointLoop(DeformPass& pass, const Rule& rule) {
  // The points go in runs of kPointRun: the falloff weighs a whole run in one call, the maps
  // are written once per run, and the start of each run is where the break test is polled
  // (every 64 points).
  Real falloffWeights[kPointRun];
  Real mapMeasures[kPointRun];
  for (LONG start = 0; start < pass.count; start += kPointRun) {
    if (pass.thread && pass.thread->TestBreak()) break;
    const LONG runLength = pass.count - start < kPointRun ? pass.count - start : kPointRun;
    Vector* points = pass.points + start;
    SampleFalloff(pass, points, runLength, falloffWeights);
    for (LONG k = 0; k < runLength; ++k) {
      const LONG i = start + k;
      const Vector local = points[k];
      const Vector deformerPos = pass.sameSpace ? local : pass.toDeformer * local;
      const Real restrictionWeight = pass.restriction ? pass.restriction[i] : 1.0;
      const DeformedPoint moved = rule(i, deformerPos, falloffWeights[k], restrictionWeight);
      // An untouched point keeps its exact coordinates instead of a round trip through the
      // matrices, so zero weights leave the mesh bit for bit as it was.
      const Vector newLocal = moved.position == deformerPos ? local
                              : pass.sameSpace              ? moved.position
                                                            : pass.fromDeformer * moved.position;
      if constexpr (kMaps == MapWrite::kDistance) {
        const Vector shift = newLocal - local;
        mapMeasures[k] = Dot(shift, shift);
      } else if constexpr (kMaps == MapWrite::kAngle) {
        mapMeasures[k] = moved.angle;
      }
      points[k] = newLocal;
    }
    if constexpr (kMaps != MapWrite::kNone) {
      WriteMapRun(pass, kMaps, start, runLength, mapMeasures);
    }
  }
}

template <class Rule>
Bool KWDeformerBase::DeformPoints(const DeformCall& call, DifferenceModes modes, const Rule& rule) {
  DeformPass pass;
  switch (PrepareDeform(call, pass)) {
    case Prepared::kNothingToDo:
      return true;
    case Prepared::kFailed:
      return false;
    case Prepared::kReady:
      break;
  }
  switch (ChooseMapWrite(pass, modes)) {
    case MapWrite::kNone:
      RunPointLoop<MapWrite::kNone>(pass, rule);
      break;
    case MapWrite::kDistance:
      RunPointLoop<MapWrite::kDistance>(pass, rule);
      break;
    case MapWrite::kAngle:
      RunPointLoop<MapWrite::kAngle>(pass, rule);
      break;
  }
  FinishDeform(call, pass);
  return true;
}
