// The scenes the benchmarks measure: a segmented plane under a deformer in a document, and
// falloff owners for sampling. Everything is built through the host, as a user's scene would be.
#pragma once

#include <vector>

#include "kwhost/c4d.h"

namespace kwbench {

/// Registers the plug-ins of all six modules in this process, with the resources the build
/// placed beside the modules. Returns false (and prints why) when a module cannot register.
bool RegisterAllModules();

/// Segments per side of the plane with about `points` points ((n + 1)² ≥ points).
LONG PlaneSegments(LONG points);

/// A plane of `width` × `width` in the deformer's X-Z plane, centred on the origin, with
/// `segments` × `segments` quads; points row by row from (−w/2, 0, −w/2).
PolygonObject* MakePlane(Real width, LONG segments);

/// The plane's points, for the bare loops and for restoring a deformed copy.
std::vector<Vector> PlanePoints(Real width, LONG segments);

/// What a deformer case weighs its points with, and where the deformer sits.
enum class Weighting {
  kInfinite,    ///< infinite falloff, no restriction, no difference map
  kSphereMaps,  ///< sphere falloff around the plane, a restriction map and a difference map
  kMoved,       ///< as kInfinite, with the plane and the deformer moved and turned
};

/// Plug-in IDs and the one parameter that picks the Expand mode.
struct DeformerSetup {
  LONG pluginId = 0;
  LONG expandMode = -1;  ///< Expand only: the mode to set; −1 keeps the default
};

/// A document holding the plane with one deformer below it, evaluated once so the plane has a
/// deform cache to deform again and again.
class DeformScene {
 public:
  DeformScene(const DeformerSetup& setup, Weighting weighting, LONG segments);
  ~DeformScene();
  DeformScene(const DeformScene&) = delete;
  DeformScene& operator=(const DeformScene&) = delete;

  bool Ok() const { return ok_; }
  BaseDocument* Document() const { return doc_; }
  PolygonObject* Plane() const { return plane_; }
  BaseObject* Deformer() const { return deformer_; }
  /// The plane's deform cache from the last pass.
  PolygonObject* Cache() const;
  /// Puts the plane's own points back into the deform cache.
  void RestoreCache() const;
  /// The deformer's `ModifyObject` on the deform cache, as the pass calls it.
  bool Modify(BaseThread* thread) const;
  /// One evaluation pass of the document.
  bool Pass(BaseThread* thread) const;

 private:
  BaseDocument* doc_ = nullptr;
  PolygonObject* plane_ = nullptr;
  BaseObject* deformer_ = nullptr;
  bool ok_ = false;
};

/// A document holding the host's plane primitive (its mesh generated in every pass) with a
/// Twirl below it.
class PrimitiveScene {
 public:
  explicit PrimitiveScene(LONG segments);
  ~PrimitiveScene();
  PrimitiveScene(const PrimitiveScene&) = delete;
  PrimitiveScene& operator=(const PrimitiveScene&) = delete;

  bool Ok() const { return ok_; }
  /// One evaluation pass of the document.
  bool Pass(BaseThread* thread) const;

 private:
  BaseDocument* doc_ = nullptr;
  bool ok_ = false;
};

/// A falloff prepared for sampling, owned by a falloff object in its own document.
class SamplingScene {
 public:
  enum class Shape { kSphere, kMergefield };
  explicit SamplingScene(Shape shape);
  ~SamplingScene();
  SamplingScene(const SamplingScene&) = delete;
  SamplingScene& operator=(const SamplingScene&) = delete;

  bool Ok() const { return ok_; }
  C4D_Falloff* Falloff() const { return falloff_; }

 private:
  BaseDocument* doc_ = nullptr;
  C4D_Falloff* falloff_ = nullptr;
  bool ok_ = false;
};

/// The plane's width: Twirl's default radius and Dazori Roru's default length reach its edges.
constexpr Real kPlaneWidth = 800.0;
/// The sphere falloffs' radius: past the plane's corners (400·√2 from the centre), so every
/// point gets a weight between 0 and 1 and no kernel takes its shortcut for a zero weight.
constexpr Real kSphereRadius = 600.0;

/// The restriction value of point `i`, between 0.25 and 1: none is 0, so every point moves.
SReal RestrictionValue(LONG i);

}  // namespace kwbench
