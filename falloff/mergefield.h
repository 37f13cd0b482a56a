// Mergefield: a falloff shape that combines the falloffs of two linked objects A and B.
//
// Each linked object is sampled through its own falloff (its shape, size and placement), the two
// weights are combined by the chosen operation, and the combination is blended with A's weight
// by the mix factor.
#pragma once

#include <array>

#include "falloff/kwptfalloff.h"

// Parameters in the owner's container.
constexpr LONG MERGEFIELD_LINK_A = 100000;     ///< Link: object A
constexpr LONG MERGEFIELD_LINK_B = 100001;     ///< Link: object B
constexpr LONG MERGEFIELD_OPERATION = 200000;  ///< Long, 2 (multiply): see MergefieldOperation
constexpr LONG MERGEFIELD_MIX = 200001;        ///< Real, 1.0: 0 gives A's weight, 1 the full result

/// The stored values of MERGEFIELD_OPERATION; any other value keeps A's weight.
enum MergefieldOperation : LONG {
  MERGEFIELD_OPERATION_ADD = 0,
  MERGEFIELD_OPERATION_SUBTRACT = 1,
  MERGEFIELD_OPERATION_MULTIPLY = 2,
  MERGEFIELD_OPERATION_MAXIMUM = 3,
  MERGEFIELD_OPERATION_MINIMUM = 4,
  MERGEFIELD_OPERATION_AVERAGE = 5,
};

/// The object types that may be dropped onto the link fields: the host's falloff-carrying
/// objects.
inline constexpr std::array<LONG, 14> kMergefieldLinkTypes = {
    1018561, 1018643, 1018774, 1018775, 1018881, 1018882, 1018883,
    1018889, 1018935, 1019234, 1021287, 1021337, 1025800, 440000051};

/// How the weights of A and B combine at one position.
using MergeCombiner = Real (*)(Real a, Real b);

/// The combiner for a stored operation value; values outside 0..5 give one that returns `a`.
MergeCombiner MergeCombinerFor(LONG operation);

/// The result v of `operation` for A's weight `a` and B's weight `b` at one position
/// (add a + b, subtract a − b, multiply a·b, maximum, minimum, average; otherwise a).
/// Not clamped.
inline Real MergeWeights(LONG operation, Real a, Real b) {
  return MergeCombinerFor(operation)(a, b);
}

/// Blends the operation result `v` with A's weight `a`: `mix` 0 gives a, 1 gives v; values
/// outside 0..1 extrapolate. Not clamped.
constexpr Real MixMergedWeight(Real a, Real v, Real mix) {
  return (v - a) * mix + a;
}

/// The boolean falloff shape.
class Mergefield : public KWPTFalloff {
 public:
  static constexpr LONG kPluginId = 1031672;

  /// A new instance with its two falloff services; null (nothing kept) when memory is
  /// exhausted.
  static FalloffData* Alloc();

  Mergefield();
  ~Mergefield() override;
  Mergefield(const Mergefield&) = delete;
  Mergefield& operator=(const Mergefield&) = delete;

  /// Writes the defaults where the container has no value yet and sets the strength (5102)
  /// to 1.0. False for a null container.
  Bool Init(FalloffDataData& data, BaseContainer* bc) override;
  /// Prepares both linked falloffs. A link whose object is not accepted is removed from the
  /// container. False for a null container, or when a linked falloff cannot be prepared
  /// (memory exhausted).
  Bool InitFalloff(BaseContainer* bc, FalloffDataData& data) override;
  /// The combined weight at the falloff-local position `p`; a missing link counts as 0.
  void Sample(const Vector& p, const FalloffDataData& data, Real* result) override;
  /// Nothing to release: the falloff services live as long as the instance.
  void FreeFalloff(FalloffDataData& data) override {}
  /// True when a linked object moved or changed, or a link changed, since the last call.
  Bool CheckDirty(BaseContainer* bc) override;
  /// Hides the host's size, falloff, strength and related parameters, which this shape
  /// does not use.
  Bool GetDVisible(const DescID& id, BaseContainer* bc, BaseContainer* descbc) override;
  /// Answers the drag-and-drop check on the two link fields; other messages get the default.
  Bool Message(LONG id, BaseContainer* bc, void* data) override;

  /// True when `node` is an object whose own falloff is not a Mergefield, so that linking it
  /// cannot form a chain of Mergefields.
  static Bool Accepts(const BaseList2D* node);

 private:
  /// Prepares `falloff` for the object under `linkId`, or clears a refused link. Returns the
  /// object to sample (null for none) and false in `*ok` when the preparation failed.
  BaseObject* PrepareLink(BaseContainer& bc, LONG linkId, C4D_Falloff* falloff, Bool* ok);

  C4D_Falloff* falloffA = nullptr;
  C4D_Falloff* falloffB = nullptr;
  // The accepted links of the current preparation; only tested for presence in `Sample`.
  BaseObject* linkA = nullptr;
  BaseObject* linkB = nullptr;
  LONG operation = MERGEFIELD_OPERATION_MULTIPLY;
  Real mix = 1.0;
  MergeCombiner combine = nullptr;
  // What `CheckDirty` saw last; compared only, never dereferenced.
  const BaseList2D* lastLinkA = nullptr;
  const BaseList2D* lastLinkB = nullptr;
  LLONG dirtyA = 0;
  LLONG dirtyB = 0;
};
