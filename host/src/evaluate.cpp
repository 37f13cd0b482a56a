// Scene evaluation: generator caches, deform caches and the deformers that work on them.
//
// Every pass starts from scratch: the old caches are freed, each primitive builds its polygon
// cache, and each object that an enabled deformer affects gets a fresh deform cache (a copy of
// its points, or of its generator cache, with tags). The deformers then run in depth-first
// pre-order of the tree, each over every object it affects, in tree order.
#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "kwhost/app/host.h"
#include "kwhost/gui.h"
#include "kwhost/nodes.h"
#include "kwhost/plugin.h"
#include "node_access.h"

namespace {

/// Whether `op` is an enabled deformer: an object plug-in registered as a modifier, switched on.
ObjectData* EnabledDeformer(BaseObject* op) {
  if (!op->GetDeformMode() || !op->GetNodeData()) return nullptr;
  const kwhost::PluginInfo* info = kwhost::FindPlugin(op->GetType());
  if (!info || (info->kind != kwhost::PluginKind::Deformer && !(info->flags & OBJECT_MODIFIER))) {
    return nullptr;
  }
  return op->GetNodeData<ObjectData>();
}

Bool IsDeformer(const BaseObject* op) {
  const kwhost::PluginInfo* info = kwhost::FindPlugin(op->GetType());
  return info && (info->kind == kwhost::PluginKind::Deformer || (info->flags & OBJECT_MODIFIER));
}

/// The object whose points a deformation of `op` works on: `op` itself for a point object,
/// its generator cache for a primitive; null for anything else.
BaseObject* DeformSource(BaseObject* op) {
  if (op->IsInstanceOf(Opoint)) return op;
  BaseObject* cache = op->GetCache();
  return cache && cache->IsInstanceOf(Opoint) ? cache : nullptr;
}

/// True when `ancestor` is `op` or lies above it.
Bool IsSelfOrAncestor(const BaseObject* ancestor, const BaseObject* op) {
  for (; op; op = op->GetUp()) {
    if (op == ancestor) return true;
  }
  return false;
}

/// A deformer affects its parent and everything below the parent.
Bool Affects(const BaseObject* deformer, const BaseObject* op) {
  const BaseObject* parent = deformer->GetUp();
  return parent && IsSelfOrAncestor(parent, op);
}

void FreeCaches(BaseObject* op) {
  BaseObject* deformed = HostNodeAccess::TakeDeformCache(op);
  BaseObject::Free(deformed);
  BaseObject* cache = HostNodeAccess::TakeCache(op);
  if (cache) {
    BaseObject* deformedCache = HostNodeAccess::TakeDeformCache(cache);
    BaseObject::Free(deformedCache);
    BaseObject::Free(cache);
  }
}

/// A copy of `source`'s points (and polygons), name, container and tags, without children:
/// what a deformer may change without touching the scene. Null on failure.
BaseObject* CopyForDeformation(const BaseObject* source) {
  BaseObject* copy = nullptr;
  const auto* points = static_cast<const PointObject*>(source);
  if (source->IsInstanceOf(Opolygon)) {
    const auto* poly = static_cast<const PolygonObject*>(source);
    PolygonObject* polyCopy = PolygonObject::Alloc(poly->GetPointCount(), poly->GetPolygonCount());
    if (!polyCopy) return nullptr;
    std::copy(poly->GetPolygonR(), poly->GetPolygonR() + poly->GetPolygonCount(),
              polyCopy->GetPolygonW());
    copy = polyCopy;
  } else {
    copy = BaseObject::Alloc(source->GetType());
    if (!copy || !copy->IsInstanceOf(Opoint) ||
        !ToPoint(copy)->ResizePoints(points->GetPointCount())) {
      BaseObject::Free(copy);
      return nullptr;
    }
  }
  std::copy(points->GetPointR(), points->GetPointR() + points->GetPointCount(),
            ToPoint(copy)->GetPointW());
  copy->SetName(source->GetName());
  *copy->GetDataInstance() = *source->GetDataInstance();
  BaseTag* last = nullptr;
  for (BaseTag* tag = source->GetFirstTag(); tag; tag = tag->GetNext()) {
    BaseTag* tagCopy = tag->GetClone();
    if (!tagCopy) {
      BaseObject::Free(copy);
      return nullptr;
    }
    copy->InsertTag(tagCopy, last);
    last = tagCopy;
  }
  return copy;
}

/// Every pass frees the caches of the pass before and builds them anew. glibc gives large
/// freed blocks back to the system (unmapping them, trimming the heap), so each pass of a
/// dense mesh would fault every page of its caches in again, which costs more than copying
/// and deforming them. Like any host application, this one keeps freed memory for the next
/// pass instead: large blocks come from the heap, and the heap is not trimmed.
void KeepFreedMemoryForTheNextPass() {
#if defined(__GLIBC__)
  static std::once_flag once;
  std::call_once(once, [] {
    mallopt(M_MMAP_MAX, 0);
    mallopt(M_TRIM_THRESHOLD, 0x7fffffff);
  });
#endif
}

}  // namespace

Bool BaseDocument::ExecutePasses(BaseThread* thread, Bool animation, Bool expressions, Bool caches,
                                 LONG flags) {
  // Without caches there is nothing this host evaluates; what was built before stays.
  if (!caches) return true;
  if (thread && thread->TestBreak()) return false;
  KeepFreedMemoryForTheNextPass();

  std::vector<BaseObject*> objects;  // the whole tree, depth first, parents first
  for (BaseObject* top = firstObject_; top; top = top->GetNext()) {
    VisitTree(top, [&](BaseObject* op) { objects.push_back(op); });
  }
  for (BaseObject* op : objects) FreeCaches(op);

  for (BaseObject* op : objects) {
    if (!kwhost::internal::IsGenerator(op->GetType())) continue;
    PolygonObject* cache = kwhost::internal::BuildGeneratorCache(op);
    if (!cache) return false;
    HostNodeAccess::SetCache(op, cache);
  }

  std::vector<std::pair<BaseObject*, ObjectData*>> deformers;  // tree order
  for (BaseObject* op : objects) {
    if (ObjectData* data = EnabledDeformer(op)) deformers.emplace_back(op, data);
  }

  // Each affected object gets one deform cache, hung on the object whose points it copies.
  std::vector<std::pair<BaseObject*, BaseObject*>> targets;  // scene object, its deform cache
  for (BaseObject* op : objects) {
    if (IsDeformer(op)) continue;
    BaseObject* source = DeformSource(op);
    if (!source) continue;
    Bool affected = false;
    for (const auto& [deformer, data] : deformers) affected = affected || Affects(deformer, op);
    if (!affected) continue;
    BaseObject* deformed = CopyForDeformation(source);
    if (!deformed) return false;
    HostNodeAccess::SetDeformCache(source, deformed);
    targets.emplace_back(op, deformed);
  }

  for (const auto& [deformer, data] : deformers) {
    kwhost::CheckFalloffDirty(deformer);
    data->CheckDirty(deformer, this);
    const Matrix deformerMg = deformer->GetMg();
    for (const auto& [op, deformed] : targets) {
      if (!Affects(deformer, op)) continue;
      if (!data->ModifyObject(deformer, this, deformed, op->GetMg(), deformerMg, 1.0, 0, thread)) {
        return false;
      }
      // A deformer that heeded a break has stopped part-way; the pass stops with it.
      if (thread && thread->TestBreak()) return false;
    }
    deformer->GetDataInstance()->ClearDirty();
    deformer->Touch();
  }
  return true;
}
