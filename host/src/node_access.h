// The scene evaluation's reach into nodes: the caches an object owns, and the generators that
// build primitive caches. Internal to the host; nothing here is part of the SDK layer.
#pragma once

#include "kwhost/nodes.h"

/// Sets and takes the caches of objects (friend of the node classes).
class HostNodeAccess {
 public:
  /// Detaches the generator cache of `op` and returns it (null when it has none); the caller
  /// owns it afterwards.
  static BaseObject* TakeCache(BaseObject* op) {
    BaseObject* cache = op->cache_;
    op->cache_ = nullptr;
    return cache;
  }
  /// Detaches the deform cache of `op` and returns it (null when it has none).
  static BaseObject* TakeDeformCache(BaseObject* op) {
    BaseObject* cache = op->deformCache_;
    op->deformCache_ = nullptr;
    return cache;
  }
  /// Hands `cache` (unlinked, owned by nobody) to `op` as its generator cache.
  static void SetCache(BaseObject* op, BaseObject* cache) {
    op->cache_ = cache;
    cache->cacheOwner_ = op;
  }
  /// Hands `cache` to `op` as its deform cache.
  static void SetDeformCache(BaseObject* op, BaseObject* cache) {
    op->deformCache_ = cache;
    cache->cacheOwner_ = op;
  }
};

namespace kwhost::internal {

/// True for the primitive object types the host generates a polygon cache for (plane, cube,
/// sphere).
Bool IsGenerator(LONG type);

/// Builds the polygon object a primitive generates from its container, in the primitive's
/// local space. Null when `op` is no primitive or memory is exhausted.
PolygonObject* BuildGeneratorCache(const BaseObject* op);

}  // namespace kwhost::internal
