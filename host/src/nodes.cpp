// The scene's nodes: the object tree, tags, dirty counters, clones and the document.
#include "kwhost/nodes.h"

#include <algorithm>
#include <new>

#include "host_internal.h"
#include "kwhost/app/host.h"
#include "kwhost/draw.h"
#include "kwhost/memory.h"
#include "kwhost/plugin.h"

namespace {

constexpr LONG kDocumentType = 110059;
constexpr const char* kObjectTag = "host\\object";
constexpr const char* kTagTag = "host\\tag";
constexpr const char* kDocumentTag = "host\\document";
constexpr const char* kVertexMapTag = "host\\calcvertexmap";
// The restriction tag keeps the name of the vertex map it applies at this ID.
constexpr LONG kRestrictionMapName = 1;

/// Runs `make` on a fresh host block of `size` bytes; a constructor that runs out of memory
/// gives the block back. Null when the block or the construction fails.
template <class Make>
auto Construct(const char* sourceTag, std::size_t size, Make make)
    -> decltype(make(static_cast<void*>(nullptr))) {
  void* block = GeAlloc(static_cast<LLONG>(size), sourceTag, __LINE__);
  if (!block) return nullptr;
  try {
    return make(block);
  } catch (...) {
    GeFreeRaw(block);
    return nullptr;
  }
}

/// Gives a plug-in's data back: its `Free`, then its destructor and block.
void ReleaseData(NodeData*& data, GeListNode* node) {
  if (!data) return;
  data->Free(node);
  void* whole = dynamic_cast<void*>(data);
  data->~NodeData();
  GeFreeRaw(whole);
  data = nullptr;
}

/// The registered plug-in of `kind` behind `type`, or null.
const kwhost::PluginInfo* FindNodePlugin(LONG type, bool tag) {
  const kwhost::PluginInfo* info = kwhost::FindPlugin(type);
  if (!info || !info->allocator) return nullptr;
  const bool isTag = info->kind == kwhost::PluginKind::Tag;
  const bool isObject =
      info->kind == kwhost::PluginKind::Deformer || info->kind == kwhost::PluginKind::Object;
  return (tag ? isTag : isObject) ? info : nullptr;
}

bool IsVariableTagType(LONG type) {
  return type == Tvertexmap || type == Tpoint || type == Tpolygon;
}

/// True when `node` is `ancestor` or lies below it.
bool IsAncestorOrSelf(const GeListNode* ancestor, const GeListNode* node) {
  for (; node; node = node->GetUp())
    if (node == ancestor) return true;
  return false;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// GeListNode

GeListNode::~GeListNode() = default;

GeListNode* GeListNode::GetDownLast() const {
  GeListNode* node = down_;
  while (node && node->next_) node = node->next_;
  return node;
}

void GeListNode::InsertUnder(GeListNode* parent) {
  if (!parent || parent == this) return;
  if (auto* doc = dynamic_cast<BaseDocument*>(parent)) {
    if (auto* object = dynamic_cast<BaseObject*>(this)) doc->InsertObject(object, nullptr, nullptr);
    return;
  }
  // Only objects form the tree; inserting below itself would make a cycle.
  if (!dynamic_cast<BaseObject*>(this) || !dynamic_cast<BaseObject*>(parent)) return;
  if (IsAncestorOrSelf(this, parent)) return;
  Remove();
  up_ = parent;
  next_ = parent->down_;
  if (next_) next_->pred_ = this;
  parent->down_ = this;
  static_cast<BaseList2D*>(this)->SetDirty(DIRTYFLAGS_MATRIX);
}

void GeListNode::InsertUnderLast(GeListNode* parent) {
  if (!parent || parent == this) return;
  if (auto* doc = dynamic_cast<BaseDocument*>(parent)) {
    auto* object = dynamic_cast<BaseObject*>(this);
    if (!object) return;
    BaseObject* last = doc->GetFirstObject();
    while (last && last->GetNext()) last = last->GetNext();
    if (last == object) return;
    doc->InsertObject(object, nullptr, last);
    return;
  }
  GeListNode* last = parent->GetDownLast();
  if (!last) {
    InsertUnder(parent);
  } else if (last != this) {
    InsertAfter(last);
  }
}

void GeListNode::InsertAfter(GeListNode* pred) {
  if (!pred || pred == this) return;
  if (auto* tag = dynamic_cast<BaseTag*>(this)) {
    auto* predTag = dynamic_cast<BaseTag*>(pred);
    if (predTag && predTag->GetObject()) predTag->GetObject()->InsertTag(tag, predTag);
    return;
  }
  if (!dynamic_cast<BaseObject*>(this) || !dynamic_cast<BaseObject*>(pred)) return;
  if (IsAncestorOrSelf(this, pred)) return;
  Remove();
  up_ = pred->up_;
  topDocument_ = pred->topDocument_;
  pred_ = pred;
  next_ = pred->next_;
  if (next_) next_->pred_ = this;
  pred->next_ = this;
  static_cast<BaseList2D*>(this)->SetDirty(DIRTYFLAGS_MATRIX);
}

void GeListNode::Remove() {
  if (auto* tag = dynamic_cast<BaseTag*>(this)) {
    if (tag->GetObject()) tag->GetObject()->RemoveTag(tag);
    return;
  }
  if (!up_ && !pred_ && !next_ && !topDocument_) return;
  if (auto* object = dynamic_cast<BaseObject*>(this)) {
    // The matrix counter includes the parents'; leaving them must not make it smaller, or a
    // later parent could bring back a count someone already saw.
    object->dirtyMatrix_ = object->GetDirty(DIRTYFLAGS_MATRIX) + 1;
  }
  if (pred_) {
    pred_->next_ = next_;
  } else if (up_) {
    up_->down_ = next_;
  } else if (topDocument_ && topDocument_->firstObject_ == this) {
    topDocument_->firstObject_ = static_cast<BaseObject*>(next_);
  }
  if (next_) next_->pred_ = pred_;
  up_ = pred_ = next_ = nullptr;
  topDocument_ = nullptr;
}

BaseDocument* GeListNode::GetDocument() const {
  const GeListNode* node = this;
  while (node->up_) node = node->up_;
  return node->topDocument_;
}

Bool GeListNode::Message(LONG type, void* data) {
  // Points moved or the node changed: whoever compares its data counter must see it.
  if (type == MSG_UPDATE) {
    if (auto* list = dynamic_cast<BaseList2D*>(this)) list->SetDirty(DIRTYFLAGS_DATA);
  }
  return nodeData_ ? nodeData_->Message(this, type, data) : true;
}

void GeListNode::FreeChildren() {
  while (down_) {
    GeListNode* child = down_;
    if (auto* object = dynamic_cast<BaseObject*>(child)) {
      BaseObject::Free(object);
    } else {
      child->Remove();  // only objects are ever children; never loop on anything else
    }
  }
}

// ---------------------------------------------------------------------------------------------
// BaseList2D

BaseList2D::BaseList2D(LONG type) : GeListNode(type), anchor_(std::make_shared<NodeAnchor>()) {
  anchor_->node = this;
}

BaseList2D::~BaseList2D() {
  if (anchor_) anchor_->node = nullptr;
}

void BaseList2D::SetDirty(LONG flags) {
  if (flags & DIRTYFLAGS_MATRIX) ++dirtyMatrix_;
  if (flags & DIRTYFLAGS_DATA) ++dirtyData_;
  if (flags & DIRTYFLAGS_CACHE) ++dirtyCache_;
}

LLONG BaseList2D::GetDirty(LONG flags) const {
  LLONG sum = 0;
  if (flags & DIRTYFLAGS_MATRIX) sum += dirtyMatrix_;
  if (flags & DIRTYFLAGS_DATA) sum += dirtyData_ + data_.GetChangeCount();
  if (flags & DIRTYFLAGS_CACHE) sum += dirtyCache_;
  return sum;
}

Bool BaseList2D::IsDirty(LONG flags) const {
  if ((flags & DIRTYFLAGS_MATRIX) && GetDirty(DIRTYFLAGS_MATRIX) != seenMatrix_) return true;
  if ((flags & DIRTYFLAGS_DATA) && GetDirty(DIRTYFLAGS_DATA) != seenData_) return true;
  if ((flags & DIRTYFLAGS_CACHE) && GetDirty(DIRTYFLAGS_CACHE) != seenCache_) return true;
  return false;
}

void BaseList2D::Touch() {
  seenMatrix_ = GetDirty(DIRTYFLAGS_MATRIX);
  seenData_ = GetDirty(DIRTYFLAGS_DATA);
  seenCache_ = GetDirty(DIRTYFLAGS_CACHE);
  data_.ClearDirty();
}

// ---------------------------------------------------------------------------------------------
// Tags

BaseTag* BaseTag::Alloc(LONG type) {
  if (IsVariableTagType(type)) return VariableTag::Alloc(type, 0);
  if (type == Tedgeselection) return SelectionTag::Alloc(type);
  if (type == Trestriction) {
    return Construct(kTagTag, sizeof(BaseTag), [type](void* block) {
      return static_cast<BaseTag*>(new (block) BaseTag(type));
    });
  }
  const kwhost::PluginInfo* plugin = FindNodePlugin(type, true);
  if (!plugin) return nullptr;
  BaseTag* tag = Construct(kTagTag, sizeof(BaseTag), [type](void* block) {
    return static_cast<BaseTag*>(new (block) BaseTag(type));
  });
  if (!tag) return nullptr;
  tag->nodeData_ = plugin->allocator();
  if (!tag->nodeData_ || !tag->nodeData_->Init(tag)) {
    Free(tag);
    return nullptr;
  }
  return tag;
}

void BaseTag::Free(BaseTag*& tag) {
  if (!tag) return;
  tag->Remove();
  tag->anchor_->node = nullptr;
  ReleaseData(tag->nodeData_, tag);
  void* whole = dynamic_cast<void*>(tag);
  tag->~BaseTag();
  GeFreeRaw(whole);
  tag = nullptr;
}

BaseDocument* BaseTag::GetDocument() const {
  return object_ ? object_->GetDocument() : nullptr;
}

BaseTag* BaseTag::GetClone() const {
  BaseTag* dest = Alloc(type_);
  if (!dest) return nullptr;
  try {
    dest->name_ = name_;
    dest->data_ = data_;
  } catch (...) {
    Free(dest);
    return nullptr;
  }
  if (nodeData_ &&
      !nodeData_->CopyTo(dest->nodeData_, const_cast<BaseTag*>(this), dest, 0, nullptr)) {
    Free(dest);
    return nullptr;
  }
  return dest;
}

VariableTag* VariableTag::Alloc(LONG type, LONG count) {
  if (!IsVariableTagType(type) || count < 0) return nullptr;
  if (count > 0 && !kwhost::internal::TakeAllocation()) return nullptr;
  return Construct(kTagTag, sizeof(VariableTag),
                   [type, count](void* block) { return new (block) VariableTag(type, count); });
}

BaseTag* VariableTag::GetClone() const {
  VariableTag* dest = Alloc(type_, GetDataCount());
  if (!dest) return nullptr;
  try {
    dest->name_ = name_;
    dest->data_ = data_;
  } catch (...) {
    BaseTag* tag = dest;
    Free(tag);
    return nullptr;
  }
  std::copy(values_.begin(), values_.end(), dest->values_.begin());
  return dest;
}

Bool BaseSelect::Select(LONG index) {
  if (index < 0) return false;
  auto at = std::lower_bound(selected_.begin(), selected_.end(), index);
  if (at != selected_.end() && *at == index) return true;
  try {
    selected_.insert(at, index);
  } catch (...) {
    return false;
  }
  return true;
}

Bool BaseSelect::Deselect(LONG index) {
  auto at = std::lower_bound(selected_.begin(), selected_.end(), index);
  if (at != selected_.end() && *at == index) selected_.erase(at);
  return index >= 0;
}

Bool BaseSelect::IsSelected(LONG index) const {
  return std::binary_search(selected_.begin(), selected_.end(), index);
}

SelectionTag* SelectionTag::Alloc(LONG type) {
  if (type != Tedgeselection) return nullptr;
  return Construct(kTagTag, sizeof(SelectionTag),
                   [type](void* block) { return new (block) SelectionTag(type); });
}

BaseTag* SelectionTag::GetClone() const {
  SelectionTag* dest = Alloc(type_);
  if (!dest) return nullptr;
  try {
    dest->name_ = name_;
    dest->data_ = data_;
    dest->select_ = select_;
  } catch (...) {
    BaseTag* tag = dest;
    Free(tag);
    return nullptr;
  }
  return dest;
}

// ---------------------------------------------------------------------------------------------
// Objects

BaseObject::BaseObject(LONG type) : BaseList2D(type) {}

BaseObject::~BaseObject() {
  // Free() releases all of this while the object is still whole; these only catch an object
  // destroyed some other way.
  FreeChildren();
  while (firstTag_) {
    BaseTag* tag = firstTag_;
    BaseTag::Free(tag);
  }
  Free(cache_);
  Free(deformCache_);
}

BaseObject* BaseObject::Alloc(LONG type) {
  switch (type) {
    case Opolygon:
      return Construct(kObjectTag, sizeof(PolygonObject), [](void* block) {
        return static_cast<BaseObject*>(new (block) PolygonObject());
      });
    case Ospline:
      return Construct(kObjectTag, sizeof(SplineObject), [](void* block) {
        return static_cast<BaseObject*>(new (block) SplineObject());
      });
    case Onull:
    case Ocube:
    case Osphere:
    case Oplane:
    case Ofalloff:
      return Construct(kObjectTag, sizeof(BaseObject),
                       [type](void* block) { return new (block) BaseObject(type); });
    default:
      break;
  }
  const kwhost::PluginInfo* plugin = FindNodePlugin(type, false);
  if (!plugin) return nullptr;
  BaseObject* op = Construct(kObjectTag, sizeof(BaseObject),
                             [type](void* block) { return new (block) BaseObject(type); });
  if (!op) return nullptr;
  op->nodeData_ = plugin->allocator();
  if (!op->nodeData_ || !op->nodeData_->Init(op)) {
    Free(op);
    return nullptr;
  }
  return op;
}

void BaseObject::Free(BaseObject*& object) {
  if (!object) return;
  object->Remove();
  // Links drop the object first, so nothing freed below can reach it through one.
  object->anchor_->node = nullptr;
  while (object->down_) {
    auto* child = static_cast<BaseObject*>(object->down_);
    Free(child);
  }
  while (object->firstTag_) {
    BaseTag* tag = object->firstTag_;
    BaseTag::Free(tag);
  }
  Free(object->cache_);
  Free(object->deformCache_);
  ReleaseData(object->nodeData_, object);
  void* whole = dynamic_cast<void*>(object);
  object->~BaseObject();
  GeFreeRaw(whole);
  object = nullptr;
}

Bool BaseObject::IsInstanceOf(LONG type) const {
  if (type == type_ || type == Obase) return true;
  return type_ == Ofalloff && type == Ofalloffbase;
}

BaseDocument* BaseObject::GetDocument() const {
  const BaseObject* node = this;
  while (node->GetUp()) node = node->GetUp();
  if (node->topDocument_) return node->topDocument_;
  return node->cacheOwner_ ? node->cacheOwner_->GetDocument() : nullptr;
}

Matrix BaseObject::GetMg() const {
  if (cacheOwner_) return cacheOwner_->GetMg();
  return GetUp() ? GetUp()->GetMg() * ml_ : ml_;
}

void BaseObject::SetMg(const Matrix& mg) {
  SetMl(GetUp() ? InvertMatrix(GetUp()->GetMg()) * mg : mg);
}

void BaseObject::SetMl(const Matrix& ml) {
  if (ml == ml_) return;
  ml_ = ml;
  SetDirty(DIRTYFLAGS_MATRIX);
}

LLONG BaseObject::GetDirty(LONG flags) const {
  LLONG sum = BaseList2D::GetDirty(flags);
  if (flags & DIRTYFLAGS_MATRIX) {
    const BaseObject* node = this;
    for (const BaseObject* up = GetUp(); up; up = up->GetUp()) {
      sum += up->dirtyMatrix_;
      node = up;
    }
    // A cache sits where its owner is.
    if (node->cacheOwner_) sum += node->cacheOwner_->GetDirty(DIRTYFLAGS_MATRIX);
  }
  return sum;
}

namespace {

/// The local bounding box of an object: its points, or its generator cache's.
bool PointBounds(const BaseObject* op, Vector& lo, Vector& hi) {
  if (op->GetCache()) return PointBounds(op->GetCache(), lo, hi);
  const auto* points = dynamic_cast<const PointObject*>(op);
  if (!points || points->GetPointCount() == 0) return false;
  const Vector* p = points->GetPointR();
  lo = hi = p[0];
  for (LONG i = 1; i < points->GetPointCount(); ++i) {
    lo = Vector(std::min(lo.x, p[i].x), std::min(lo.y, p[i].y), std::min(lo.z, p[i].z));
    hi = Vector(std::max(hi.x, p[i].x), std::max(hi.y, p[i].y), std::max(hi.z, p[i].z));
  }
  return true;
}

}  // namespace

Vector BaseObject::GetMp() const {
  Vector lo, hi;
  return PointBounds(this, lo, hi) ? (lo + hi) * 0.5 : Vector();
}

Vector BaseObject::GetRad() const {
  Vector lo, hi;
  return PointBounds(this, lo, hi) ? (hi - lo) * 0.5 : Vector();
}

BaseTag* BaseObject::GetTag(LONG type, LONG nr) const {
  for (BaseTag* tag = firstTag_; tag; tag = tag->GetNext()) {
    if (tag->GetType() != type) continue;
    if (nr-- == 0) return tag;
  }
  return nullptr;
}

void BaseObject::InsertTag(BaseTag* tag, BaseTag* pred) {
  if (!tag || tag == pred) return;
  tag->Remove();
  if (pred && pred->object_ != this) pred = nullptr;
  tag->object_ = this;
  if (!pred) {
    tag->pred_ = nullptr;
    tag->next_ = firstTag_;
    if (firstTag_) firstTag_->pred_ = tag;
    firstTag_ = tag;
  } else {
    BaseTag* next = pred->GetNext();
    tag->pred_ = pred;
    tag->next_ = next;
    if (next) next->pred_ = tag;
    pred->next_ = tag;
  }
}

BaseTag* BaseObject::MakeTag(LONG type, BaseTag* pred) {
  BaseTag* tag = BaseTag::Alloc(type);
  if (tag) InsertTag(tag, pred);
  return tag;
}

VariableTag* BaseObject::MakeVariableTag(LONG type, LONG count, BaseTag* pred) {
  VariableTag* tag = VariableTag::Alloc(type, count);
  if (tag) InsertTag(tag, pred);
  return tag;
}

void BaseObject::RemoveTag(BaseTag* tag) {
  if (!tag || tag->object_ != this) return;
  BaseTag* pred = tag->GetPred();
  BaseTag* next = tag->GetNext();
  if (pred) {
    pred->next_ = next;
  } else {
    firstTag_ = next;
  }
  if (next) next->pred_ = pred;
  tag->pred_ = tag->next_ = nullptr;
  tag->object_ = nullptr;
}

LONG BaseObject::GetHighlightHandle(BaseDraw* bd) const {
  return bd ? bd->GetHighlightHandle(this) : -1;
}

Bool BaseObject::CopyStateTo(BaseObject* dest) const {
  return true;
}

BaseObject* BaseObject::GetClone() const {
  BaseObject* dest = Alloc(type_);
  if (!dest) return nullptr;
  bool ok = true;
  try {
    // After the plug-in's Init, so the copied values replace its defaults.
    dest->name_ = name_;
    dest->data_ = data_;
    dest->ml_ = ml_;
    dest->deformMode_ = deformMode_;
    ok = CopyStateTo(dest);
  } catch (...) {
    ok = false;
  }
  if (ok && nodeData_)
    ok = nodeData_->CopyTo(dest->nodeData_, const_cast<BaseObject*>(this), dest, 0, nullptr);
  BaseTag* lastTag = nullptr;
  for (BaseTag* tag = firstTag_; ok && tag; tag = tag->GetNext()) {
    BaseTag* copy = tag->GetClone();
    if (!copy) {
      ok = false;
      break;
    }
    dest->InsertTag(copy, lastTag);
    lastTag = copy;
  }
  for (BaseObject* child = GetDown(); ok && child; child = child->GetNext()) {
    BaseObject* copy = child->GetClone();
    if (!copy) {
      ok = false;
      break;
    }
    copy->InsertUnderLast(dest);
  }
  if (!ok) Free(dest);
  return dest;
}

// ---------------------------------------------------------------------------------------------
// Point and polygon objects

Bool PointObject::ResizePoints(LONG count) {
  if (count < 0) return false;
  if (count > GetPointCount() && !kwhost::internal::TakeAllocation()) return false;
  try {
    points_.resize(static_cast<std::size_t>(count));
  } catch (...) {
    return false;
  }
  return true;
}

Bool PointObject::CopyStateTo(BaseObject* dest) const {
  if (!points_.empty() && !kwhost::internal::TakeAllocation()) return false;
  static_cast<PointObject*>(dest)->points_ = points_;
  return true;
}

SReal* PointObject::CalcVertexMap(BaseObject* modifier, Bool* allocationFailed) const {
  if (allocationFailed) *allocationFailed = false;
  const LONG count = GetPointCount();
  if (!modifier || count == 0) return nullptr;
  for (BaseTag* restriction = modifier->GetFirstTag(); restriction;
       restriction = restriction->GetNext()) {
    if (restriction->GetType() != Trestriction) continue;
    const String name = restriction->GetDataInstance()->GetString(kRestrictionMapName);
    if (name.empty()) continue;
    for (BaseTag* tag = GetFirstTag(); tag; tag = tag->GetNext()) {
      if (tag->GetType() != Tvertexmap || tag->GetName() != name) continue;
      const auto* map = static_cast<const VariableTag*>(tag);
      if (map->GetDataCount() != count) continue;
      SReal* weights = GeAllocArray<SReal>(count, kVertexMapTag, __LINE__);
      if (!weights) {
        if (allocationFailed) *allocationFailed = true;
        return nullptr;
      }
      std::copy(map->GetDataAddressR(), map->GetDataAddressR() + count, weights);
      return weights;
    }
  }
  return nullptr;
}

PolygonObject* PolygonObject::Alloc(LONG pointCount, LONG polygonCount) {
  BaseObject* op = BaseObject::Alloc(Opolygon);
  if (!op) return nullptr;
  auto* poly = static_cast<PolygonObject*>(op);
  if (!poly->ResizeObject(pointCount, polygonCount)) {
    BaseObject::Free(op);
    return nullptr;
  }
  return poly;
}

Bool PolygonObject::ResizeObject(LONG pointCount, LONG polygonCount) {
  if (pointCount < 0 || polygonCount < 0) return false;
  // Both arrays get their room first, so a failure leaves the object as it was.
  if (pointCount > GetPointCount() && !kwhost::internal::TakeAllocation()) return false;
  if (polygonCount > GetPolygonCount() && !kwhost::internal::TakeAllocation()) return false;
  try {
    points_.reserve(static_cast<std::size_t>(pointCount));
    polygons_.reserve(static_cast<std::size_t>(polygonCount));
  } catch (...) {
    return false;
  }
  points_.resize(static_cast<std::size_t>(pointCount));
  polygons_.resize(static_cast<std::size_t>(polygonCount));
  return true;
}

Bool PolygonObject::CopyStateTo(BaseObject* dest) const {
  if (!PointObject::CopyStateTo(dest)) return false;
  if (!polygons_.empty() && !kwhost::internal::TakeAllocation()) return false;
  static_cast<PolygonObject*>(dest)->polygons_ = polygons_;
  return true;
}

// ---------------------------------------------------------------------------------------------
// The document

BaseDocument::BaseDocument() : BaseList2D(kDocumentType) {}

BaseDocument::~BaseDocument() {
  while (firstObject_) {
    BaseObject* object = firstObject_;
    BaseObject::Free(object);
  }
}

BaseDocument* BaseDocument::Alloc() {
  return Construct(kDocumentTag, sizeof(BaseDocument),
                   [](void* block) { return new (block) BaseDocument(); });
}

void BaseDocument::Free(BaseDocument*& doc) {
  if (!doc) return;
  doc->anchor_->node = nullptr;
  doc->~BaseDocument();
  GeFreeRaw(doc);
  doc = nullptr;
}

void BaseDocument::InsertObject(BaseObject* object, BaseObject* parent, BaseObject* pred) {
  if (!object) return;
  if (pred) {
    object->InsertAfter(pred);
    return;
  }
  if (parent) {
    object->InsertUnder(parent);
    return;
  }
  object->Remove();
  object->next_ = firstObject_;
  if (firstObject_) firstObject_->pred_ = object;
  firstObject_ = object;
  object->topDocument_ = this;
  object->SetDirty(DIRTYFLAGS_MATRIX);
}

BaseObject* BaseDocument::GetActiveObject() const {
  for (const BaseLink& link : active_) {
    if (auto* object = dynamic_cast<BaseObject*>(link.GetLink(this))) return object;
  }
  return nullptr;
}

std::vector<BaseObject*> BaseDocument::GetActiveObjects() const {
  std::vector<BaseObject*> objects;
  for (const BaseLink& link : active_) {
    if (auto* object = dynamic_cast<BaseObject*>(link.GetLink(this))) objects.push_back(object);
  }
  return objects;
}

void BaseDocument::SetActiveObject(BaseObject* object) {
  active_.clear();
  AddActiveObject(object);
}

void BaseDocument::AddActiveObject(BaseObject* object) {
  if (!object) return;
  for (const BaseLink& link : active_)
    if (link.GetNode() == object) return;
  // Dead links go now, so selecting and freeing objects over a long session stays bounded.
  std::erase_if(active_, [](const BaseLink& link) { return !link.GetNode(); });
  active_.emplace_back(object);
}

Bool BaseDocument::StartUndo() {
  if (undoOpen_) return false;
  undoOpen_ = true;
  openUndo_.clear();
  return true;
}

Bool BaseDocument::AddUndo(LONG type, BaseList2D* node) {
  if (!undoOpen_ || !node) return false;
  try {
    openUndo_.push_back(UndoRecord{type, BaseLink(node), node->GetName()});
  } catch (...) {
    return false;
  }
  return true;
}

Bool BaseDocument::EndUndo() {
  if (!undoOpen_) return false;
  undoOpen_ = false;
  if (openUndo_.empty()) return true;
  try {
    undo_.push_back(std::move(openUndo_));
  } catch (...) {
    openUndo_.clear();
    return false;
  }
  openUndo_.clear();
  return true;
}
