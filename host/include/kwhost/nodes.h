// Nodes of the host's scene: objects, tags and the document that holds them.
#pragma once

#include <memory>
#include <vector>

#include "kwhost/container.h"
#include "kwhost/ids.h"
#include "kwhost/types.h"

class BaseDocument;
class BaseDraw;
class BaseObject;
class BaseTag;
class BaseThread;
class NodeData;
struct NodeAnchor;

/// A node of a host list or tree. Children are owned by their parent; freeing a node frees
/// its children (and, for objects, its tags and caches).
class GeListNode {
 public:
  virtual ~GeListNode();
  GeListNode(const GeListNode&) = delete;
  GeListNode& operator=(const GeListNode&) = delete;

  /// The node's type: a host type ID or the plug-in ID of a plug-in node.
  LONG GetType() const { return type_; }
  /// True for the node's own type and for every base it is an instance of.
  virtual Bool IsInstanceOf(LONG type) const { return type == type_; }

  GeListNode* GetUp() const { return up_; }
  GeListNode* GetDown() const { return down_; }
  GeListNode* GetNext() const { return next_; }
  GeListNode* GetPred() const { return pred_; }
  GeListNode* GetDownLast() const;

  /// Inserts this (unlinked) node as the first child of `parent`.
  void InsertUnder(GeListNode* parent);
  /// Inserts this (unlinked) node as the last child of `parent`.
  void InsertUnderLast(GeListNode* parent);
  /// Inserts this (unlinked) node after `pred`, as its sibling.
  void InsertAfter(GeListNode* pred);
  /// Unlinks the node from its parent and siblings; the caller owns it afterwards.
  void Remove();

  /// The document the node is in; null when it is in none.
  virtual BaseDocument* GetDocument() const;

  /// Sends a message to the node's plug-in data (true when it has none).
  Bool Message(LONG type, void* data = nullptr);

  /// The plug-in instance behind a plug-in node, or null.
  NodeData* GetNodeData() const { return nodeData_; }
  template <class T>
  T* GetNodeData() const {
    return static_cast<T*>(nodeData_);
  }

 protected:
  explicit GeListNode(LONG type) : type_(type) {}
  void FreeChildren();

  LONG type_;
  NodeData* nodeData_ = nullptr;
  GeListNode* up_ = nullptr;
  GeListNode* down_ = nullptr;
  GeListNode* next_ = nullptr;
  GeListNode* pred_ = nullptr;
  BaseDocument* topDocument_ = nullptr;  // set on top-level objects by the document

  friend class BaseDocument;
  friend class HostNodeAccess;
};

/// A named node with a parameter container and dirty counters.
class BaseList2D : public GeListNode {
 public:
  ~BaseList2D() override;

  const String& GetName() const { return name_; }
  void SetName(const String& name) {
    name_ = name;
    SetDirty(DIRTYFLAGS_DATA);
  }

  /// The node's parameter container (writable).
  BaseContainer* GetDataInstance() { return &data_; }
  const BaseContainer* GetDataInstance() const { return &data_; }

  /// Counts a change of the given kinds (DIRTYFLAGS_MATRIX, _DATA, _CACHE).
  void SetDirty(LONG flags);
  /// The change counter of the selected kinds: grows with every change of those kinds (data
  /// includes every change of the parameter container; matrix includes the parents').
  virtual LLONG GetDirty(LONG flags) const;
  /// True when something of the selected kinds changed since the host last evaluated it.
  Bool IsDirty(LONG flags) const;
  /// Host side: the node has been evaluated in its current state.
  void Touch();

  /// The anchor that links to this node resolve through (shared with every `BaseLink`).
  const std::shared_ptr<NodeAnchor>& Anchor() const { return anchor_; }

 protected:
  explicit BaseList2D(LONG type);

  String name_;
  BaseContainer data_;
  LLONG dirtyMatrix_ = 0, dirtyData_ = 0, dirtyCache_ = 0;
  LLONG seenMatrix_ = 0, seenData_ = 0, seenCache_ = 0;
  std::shared_ptr<NodeAnchor> anchor_;

  friend class HostNodeAccess;
  friend class GeListNode;  // relinking a node keeps its matrix counter growing
};

/// What a link resolves through; the node clears it when it is freed.
struct NodeAnchor {
  BaseList2D* node = nullptr;
};

/// A tag on an object. Tags of one object form a sibling list (`GetNext`).
class BaseTag : public BaseList2D {
 public:
  /// A new tag of `type` (a host tag type or a registered tag plug-in); null when the type
  /// is unknown or the plug-in cannot be created.
  static BaseTag* Alloc(LONG type);
  static void Free(BaseTag*& tag);

  BaseObject* GetObject() const { return object_; }
  BaseTag* GetNext() const { return static_cast<BaseTag*>(next_); }
  BaseTag* GetPred() const { return static_cast<BaseTag*>(pred_); }
  BaseDocument* GetDocument() const override;
  /// A copy of the tag (container, name, data and plug-in state); null on failure.
  virtual BaseTag* GetClone() const;

 protected:
  explicit BaseTag(LONG type) : BaseList2D(type) {}
  BaseObject* object_ = nullptr;

  friend class BaseObject;
  friend class HostNodeAccess;
};

/// A tag with one value per point (vertex map 5682: one 32-bit float per point).
class VariableTag : public BaseTag {
 public:
  /// A vertex map (or another variable tag type) with `count` zeroed values.
  static VariableTag* Alloc(LONG type, LONG count);

  LONG GetDataCount() const { return static_cast<LONG>(values_.size()); }
  SReal* GetDataAddressW() { return values_.data(); }
  const SReal* GetDataAddressR() const { return values_.data(); }
  BaseTag* GetClone() const override;

 private:
  VariableTag(LONG type, LONG count) : BaseTag(type), values_(static_cast<size_t>(count), 0.0f) {}
  std::vector<SReal> values_;
};

/// A set of selected element indices.
class BaseSelect {
 public:
  Bool Select(LONG index);
  Bool Deselect(LONG index);
  Bool IsSelected(LONG index) const;
  LONG GetCount() const { return static_cast<LONG>(selected_.size()); }
  /// The selected indices in ascending order.
  const std::vector<LONG>& GetAll() const { return selected_; }
  void DeselectAll() { selected_.clear(); }

 private:
  std::vector<LONG> selected_;  // sorted, unique
};

/// A selection tag (edge selection 5701: edge index = 4 · polygon + side).
class SelectionTag : public BaseTag {
 public:
  static SelectionTag* Alloc(LONG type);
  BaseSelect* GetBaseSelect() { return &select_; }
  const BaseSelect* GetBaseSelect() const { return &select_; }
  BaseTag* GetClone() const override;

 private:
  explicit SelectionTag(LONG type) : BaseTag(type) {}
  BaseSelect select_;
};

/// An object of the scene: a local matrix, tags, children, and the caches the host builds.
class BaseObject : public BaseList2D {
 public:
  ~BaseObject() override;

  /// A new object of `type`: a host object type (5100 polygon, 5101 spline, 5140 null,
  /// 5159 cube, 5160 sphere, 5168 plane, 1018561 falloff) or a registered object plug-in.
  /// Null when the type is unknown or creating or initialising the plug-in fails.
  static BaseObject* Alloc(LONG type);
  /// Frees an object with its children, tags and caches (unlinking it first).
  static void Free(BaseObject*& object);

  Bool IsInstanceOf(LONG type) const override;
  BaseObject* GetUp() const { return static_cast<BaseObject*>(up_); }
  BaseObject* GetDown() const { return static_cast<BaseObject*>(down_); }
  BaseObject* GetNext() const { return static_cast<BaseObject*>(next_); }
  BaseObject* GetPred() const { return static_cast<BaseObject*>(pred_); }
  BaseDocument* GetDocument() const override;

  /// The global matrix (a cache object answers with its owner's).
  Matrix GetMg() const;
  /// Sets the global matrix (the local matrix is derived through the parent's).
  void SetMg(const Matrix& mg);
  Matrix GetMl() const { return ml_; }
  void SetMl(const Matrix& ml);
  LLONG GetDirty(LONG flags) const override;

  /// Centre of the object's bounding box, in its local space.
  Vector GetMp() const;
  /// Half size of the object's bounding box.
  Vector GetRad() const;

  BaseTag* GetFirstTag() const { return firstTag_; }
  /// The nr-th tag of `type` (0 = first), or null.
  BaseTag* GetTag(LONG type, LONG nr = 0) const;
  /// Inserts an unlinked tag after `pred`, or as the first tag when `pred` is null.
  void InsertTag(BaseTag* tag, BaseTag* pred = nullptr);
  /// Creates a tag of `type` and inserts it after `pred` (first when null); null on failure.
  BaseTag* MakeTag(LONG type, BaseTag* pred = nullptr);
  /// Creates a variable tag of `type` with `count` values, inserted after `pred`.
  VariableTag* MakeVariableTag(LONG type, LONG count, BaseTag* pred = nullptr);
  /// Unlinks a tag of this object; the caller owns it afterwards.
  void RemoveTag(BaseTag* tag);

  /// The generator cache (the polygon object a primitive builds), or null.
  BaseObject* GetCache() const { return cache_; }
  /// The deformed copy of this object's points (or of its cache), or null.
  BaseObject* GetDeformCache() const { return deformCache_; }
  /// The object a cache belongs to (null for scene objects).
  BaseObject* GetCacheOwner() const { return cacheOwner_; }

  /// Whether a deformer is enabled.
  Bool GetDeformMode() const { return deformMode_; }
  void SetDeformMode(Bool enabled) {
    deformMode_ = enabled;
    SetDirty(DIRTYFLAGS_DATA);
  }

  /// The handle under the cursor in `bd`, or -1.
  LONG GetHighlightHandle(BaseDraw* bd) const;

  /// A copy of the object with its tags and children; null on failure.
  BaseObject* GetClone() const;

 protected:
  explicit BaseObject(LONG type);
  /// Copies the object's own state into `dest` (after the container and name).
  virtual Bool CopyStateTo(BaseObject* dest) const;

  Matrix ml_;
  BaseTag* firstTag_ = nullptr;
  BaseObject* cache_ = nullptr;
  BaseObject* deformCache_ = nullptr;
  BaseObject* cacheOwner_ = nullptr;
  Bool deformMode_ = true;

  friend class HostNodeAccess;
};

/// An object made of points (splines and polygon objects).
class PointObject : public BaseObject {
 public:
  Bool IsInstanceOf(LONG type) const override {
    return type == Opoint || BaseObject::IsInstanceOf(type);
  }

  LONG GetPointCount() const { return static_cast<LONG>(points_.size()); }
  const Vector* GetPointR() const { return points_.data(); }
  Vector* GetPointW() { return points_.data(); }
  /// Sets the number of points; new points are (0, 0, 0). False on failure.
  Bool ResizePoints(LONG count);

  /// The restriction weights a deformer gets for this object: when `modifier` carries a
  /// restriction tag naming a vertex map of this object with one value per point, a copy
  /// of its values from the host allocator (free it with `GeFree`), else null. When the
  /// copy cannot be allocated the result is null and `*allocationFailed` is set.
  SReal* CalcVertexMap(BaseObject* modifier, Bool* allocationFailed = nullptr) const;

 protected:
  explicit PointObject(LONG type) : BaseObject(type) {}
  Bool CopyStateTo(BaseObject* dest) const override;
  std::vector<Vector> points_;

  friend class BaseObject;
};

/// A polygon object: points and polygons (triangles repeat c in d).
class PolygonObject : public PointObject {
 public:
  /// A polygon object with `pointCount` points at the origin and `polygonCount` zero polygons.
  static PolygonObject* Alloc(LONG pointCount, LONG polygonCount);
  Bool IsInstanceOf(LONG type) const override {
    return type == Opolygon || PointObject::IsInstanceOf(type);
  }

  LONG GetPolygonCount() const { return static_cast<LONG>(polygons_.size()); }
  const CPolygon* GetPolygonR() const { return polygons_.data(); }
  CPolygon* GetPolygonW() { return polygons_.data(); }
  Bool ResizeObject(LONG pointCount, LONG polygonCount);

 protected:
  PolygonObject() : PointObject(Opolygon) {}
  Bool CopyStateTo(BaseObject* dest) const override;
  std::vector<CPolygon> polygons_;

  friend class BaseObject;
};

/// A spline object: points only (its curve kinds arrive with the plug-ins that need them).
class SplineObject : public PointObject {
 public:
  Bool IsInstanceOf(LONG type) const override {
    return type == Ospline || PointObject::IsInstanceOf(type);
  }

 protected:
  SplineObject() : PointObject(Ospline) {}
  friend class BaseObject;
};

inline PointObject* ToPoint(BaseObject* op) {
  return static_cast<PointObject*>(op);
}
inline PolygonObject* ToPoly(BaseObject* op) {
  return static_cast<PolygonObject*>(op);
}

/// One entry of the undo journal.
struct UndoRecord {
  LONG type = 0;  ///< 42 change, 44 new, ...
  BaseLink node;  ///< what the entry is about
  String name;    ///< the node's name when it was recorded
};

/// The document: the object tree, time, frame rate, selection and undo journal.
class BaseDocument : public BaseList2D {
 public:
  static BaseDocument* Alloc();
  static void Free(BaseDocument*& doc);
  ~BaseDocument() override;

  BaseObject* GetFirstObject() const { return firstObject_; }
  /// Inserts an unlinked object under `parent` (top level when null) after `pred` (first
  /// when null).
  void InsertObject(BaseObject* object, BaseObject* parent, BaseObject* pred);
  BaseDocument* GetDocument() const override { return const_cast<BaseDocument*>(this); }

  BaseTime GetTime() const { return time_; }
  void SetTime(const BaseTime& t) { time_ = t; }
  LONG GetFps() const { return fps_; }
  void SetFps(LONG fps) { fps_ = fps; }
  BaseTime GetMinTime() const { return minTime_; }
  void SetMinTime(const BaseTime& t) { minTime_ = t; }
  BaseTime GetMaxTime() const { return maxTime_; }
  void SetMaxTime(const BaseTime& t) { maxTime_ = t; }

  /// The first active (selected) object, or null.
  BaseObject* GetActiveObject() const;
  /// The active objects in the order they were selected.
  std::vector<BaseObject*> GetActiveObjects() const;
  /// Makes `object` the only active object (null: none).
  void SetActiveObject(BaseObject* object);
  /// Adds `object` to the active objects.
  void AddActiveObject(BaseObject* object);

  /// Evaluates the scene at the current time: builds generator caches and deform caches and
  /// runs every enabled deformer (`CheckDirty`, then `ModifyObject`) in tree order.
  /// False when a deformer reports failure or the break test stops the pass.
  Bool ExecutePasses(BaseThread* thread, Bool animation, Bool expressions, Bool caches, LONG flags);

  /// Opens an undo group; false when one is open already.
  Bool StartUndo();
  /// Records an undo entry in the open group; false without an open group.
  Bool AddUndo(LONG type, BaseList2D* node);
  /// Closes the open group; an empty group is dropped. False without an open group.
  Bool EndUndo();
  /// The closed undo groups, oldest first.
  const std::vector<std::vector<UndoRecord>>& GetUndoJournal() const { return undo_; }

 private:
  BaseDocument();

  BaseObject* firstObject_ = nullptr;
  BaseTime time_;
  LONG fps_ = 30;
  BaseTime minTime_, maxTime_ = BaseTime(90, 30);
  std::vector<BaseLink> active_;
  std::vector<std::vector<UndoRecord>> undo_;
  std::vector<UndoRecord> openUndo_;
  Bool undoOpen_ = false;

  friend class GeListNode;  // unlinking a top-level object updates the document's list
};

/// Calls `visit` for `root` and every node below it, depth first, parents before children.
template <class Visit>
void VisitTree(BaseObject* root, Visit&& visit) {
  if (!root) return;
  BaseObject* node = root;
  for (;;) {
    visit(node);
    if (node->GetDown()) {
      node = node->GetDown();
      continue;
    }
    while (node != root && !node->GetNext()) node = node->GetUp();
    if (node == root) return;
    node = node->GetNext();
  }
}
