// The falloff service: weights by position for an owner object.
#pragma once

#include "kwhost/container.h"
#include "kwhost/description.h"
#include "kwhost/memory.h"
#include "kwhost/plugin.h"
#include "kwhost/types.h"

// The host's falloff parameters in the owner's container.
constexpr LONG FALLOFF_SIZE = 5101;      ///< Vector (100, 100, 100): sphere radius x, box half size
constexpr LONG FALLOFF_STRENGTH = 5102;  ///< Real 1.0
constexpr LONG FALLOFF_FALLOFF = 5103;   ///< Real 0..1, 1.0: outer fraction over which w ramps
constexpr LONG FALLOFF_MODE = 5105;    ///< Long: 0 infinite, 1 sphere, 2 box, or a shape plug-in ID
constexpr LONG FALLOFF_INVERT = 5106;  ///< Bool false
constexpr LONG FALLOFF_MODE_INFINITE = 0;
constexpr LONG FALLOFF_MODE_SPHERE = 1;
constexpr LONG FALLOFF_MODE_BOX = 2;

class BaseDraw;
class BaseDrawHelp;

/// One falloff for one owner. The shape is chosen by the owner's container (5105).
class C4D_Falloff {
 public:
  /// A new falloff; null when memory is exhausted.
  static C4D_Falloff* Alloc();
  /// Releases the falloff and its shape plug-in instance; sets the pointer to null.
  static void Free(C4D_Falloff*& falloff);
  ~C4D_Falloff();

  /// Prepares sampling: the falloff's matrix becomes `op`'s global matrix, the shape is read
  /// from `bc` (a plug-in shape gets `Init` and `InitFalloff`). False for a null container.
  Bool InitFalloff(BaseContainer* bc, BaseDocument* doc, BaseObject* op);
  /// The weight at the global position `p`, clamped to 0..1.
  void Sample(const Vector& p, Real* result, Bool useSpline = true, Real weight = 0.0);
  /// The weights at the `count` global positions `toGlobal`·`p[i]` (an object's points and its
  /// global matrix, say), into `results`: the same values as `Sample` at each of them, with the
  /// shape chosen once for the whole run. A shape whose weight does not depend on the position
  /// transforms nothing. Nothing happens for null arrays or a count that is not positive.
  void MultiSample(const Vector* p, const Matrix& toGlobal, Real* results, LONG count);
  /// The shape's raw result at `p` (before invert and strength), for inspection.
  Real SampleRaw(const Vector& p);
  /// Selects the shape `mode` and writes its defaults into `bc`.
  Bool SetMode(LONG mode, BaseContainer* bc);
  /// Appends the falloff parameters (and the shape plug-in's, filtered by its `GetDVisible`).
  Bool AddFalloffToDescription(Description* description, BaseContainer* bc);
  /// Passes a message to the shape plug-in (true when there is none).
  Bool Message(LONG id, BaseContainer* bc, void* data);
  /// Draws the shape's outline (sphere: three circles, box: twelve edges) in the object pass.
  /// The handle pass draws nothing here: the owner draws the handles it gets from `GetHandle`.
  Bool Draw(BaseDraw* bd, BaseDrawHelp* bh, LONG drawpass, BaseContainer* bc);
  /// Sphere: 1 (radius), box: 3 (half sizes), otherwise the shape plug-in's count.
  LONG GetHandleCount(BaseContainer* bc);
  /// Handle i in the falloff's space.
  void GetHandle(LONG i, BaseContainer* bc, HandleInfo& info);
  /// Moves handle i to `p` (falloff space): updates the size in `bc`.
  void SetHandle(LONG i, Vector p, BaseContainer* bc, const HandleInfo& info);
  /// Copies the prepared state (matrix and shape) into `dest`.
  Bool CopyTo(C4D_Falloff* dest);
  /// The shape plug-in's dirty answer; false for host shapes.
  Bool CheckDirty(BaseContainer* bc);

  /// The falloff's matrix (the global matrix of the object given to `InitFalloff`).
  Matrix GetMg() const { return data_.mat; }
  LONG GetMode() const { return mode_; }

 private:
  C4D_Falloff();
  template <class T, class... Args>
  friend T* NewObj(const char* sourceTag, LONG line, Args&&... args);

  /// A host shape's weight at a falloff-local position, before invert and strength.
  using HostShape = Real (*)(const Vector& local, const Vector& size, Real inner);

  /// Makes the shape instance fit `mode`: a registered shape is created when it is missing,
  /// one that no longer fits is released. False when the shape cannot be created.
  Bool SelectShape(LONG mode);
  void ReleaseShape();
  /// The shape instance when it is the one `bc` selects (null container: the current one).
  FalloffData* ShapeFor(const BaseContainer* bc) const;
  void ReadParameters(const BaseContainer* bc);

  LONG mode_ = FALLOFF_MODE_INFINITE;
  FalloffDataData data_;
  FalloffData* shape_ = nullptr;
  LONG shapeId_ = 0;
  Bool shapePrepared_ = false;     // Init was called: FreeFalloff is owed before the next Init
  Bool shapeReady_ = false;        // Init and InitFalloff succeeded: Sample may be called
  HostShape hostShape_ = nullptr;  // null for plug-in shapes and unknown modes
  Vector size_{100, 100, 100};
  Real strength_ = 1.0;
  Real falloff_ = 1.0;
  Bool invert_ = false;
};
