// The data classes plug-ins derive from, and plug-in registration.
#pragma once

#include "kwhost/container.h"
#include "kwhost/description.h"
#include "kwhost/nodes.h"
#include "kwhost/types.h"

class BaseDraw;
class BaseDrawHelp;
class BaseThread;
class BaseBitmap;
class GeResource;
class HyperFile;
class AliasTrans;

/// The base of every plug-in's data. The host owns the node; the data lives with it.
class BaseData {
 public:
  virtual ~BaseData() = default;
};

/// The operations every node plug-in may override, in the host's slot order.
class NodeData : public BaseData {
 public:
  /// Writes the defaults into the node's container. False makes the host drop the node.
  virtual Bool Init(GeListNode* node) { return true; }
  /// Releases what `Init` created; the destructor follows.
  virtual void Free(GeListNode* node) {}
  virtual Bool Read(GeListNode* node, HyperFile* hf, LONG level) { return true; }
  virtual Bool Write(GeListNode* node, HyperFile* hf) { return true; }
  /// Handles a message; the default answers true.
  virtual Bool Message(GeListNode* node, LONG type, void* data) { return true; }
  /// Copies the plug-in's own state into the copy of the node (the host has copied the
  /// container already). The default succeeds.
  virtual Bool CopyTo(NodeData* dest, GeListNode* source, GeListNode* destNode, LONG flags,
                      AliasTrans* trans) {
    return true;
  }
  /// Fills the node's description. The default loads the description registered for the
  /// node's type unless `flags` already has DESCFLAGS_DESC_LOADED, and succeeds.
  virtual Bool GetDescription(GeListNode* node, Description* description, LONG& flags);
  /// Whether a parameter is editable; the default answers true.
  virtual Bool GetDEnabling(GeListNode* node, const DescID& id, const GeData& data, LONG flags,
                            const BaseContainer* itemdesc) {
    return true;
  }
};

/// Object plug-ins (the deformers).
class ObjectData : public NodeData {
 public:
  /// The bounding box of the object's gizmo.
  virtual void GetDimension(BaseObject* op, Vector* centre, Vector* halfSize) {
    *centre = Vector();
    *halfSize = Vector();
  }
  /// Draws the object in one pass (DRAWPASS_OBJECT, DRAWPASS_HANDLES). True on success.
  virtual Bool Draw(BaseObject* op, LONG drawpass, BaseDraw* bd, BaseDrawHelp* bh) { return true; }
  /// Deforms `op` (the deform cache of an object below the deformer's parent) in place.
  /// The default leaves the points unchanged.
  virtual Bool ModifyObject(BaseObject* mod, BaseDocument* doc, BaseObject* op, const Matrix& opMg,
                            const Matrix& modMg, Real lod, LONG flags, BaseThread* thread) {
    return true;
  }
  /// Called before each evaluation; marks the object dirty when it must be re-evaluated.
  virtual void CheckDirty(BaseObject* op, BaseDocument* doc) {}
  virtual LONG GetHandleCount(BaseObject* op) { return 0; }
  virtual void GetHandle(BaseObject* op, LONG i, HandleInfo& info) {}
  virtual void SetHandle(BaseObject* op, LONG i, Vector p, const HandleInfo& info) {}
};

/// Tag plug-ins.
class TagData : public NodeData {
 public:
  virtual Bool Draw(BaseTag* tag, BaseObject* op, BaseDraw* bd, BaseDrawHelp* bh) { return true; }
};

/// The sample record the host hands to every falloff-shape operation. Its first member is the
/// falloff's matrix (falloff-local to global space).
struct FalloffDataData {
  Matrix mat;
  Matrix imat;                  ///< inverse of `mat`
  BaseDocument* doc = nullptr;  ///< the owner's document
  BaseObject* owner = nullptr;  ///< the object the falloff was initialised with
};

/// Falloff-shape plug-ins, in the host's slot order.
class FalloffData : public BaseData {
 public:
  virtual Bool Init(FalloffDataData& data, BaseContainer* bc) { return true; }
  virtual Bool InitFalloff(BaseContainer* bc, FalloffDataData& data) { return true; }
  /// The raw weight at the falloff-local position `p`.
  virtual void Sample(const Vector& p, const FalloffDataData& data, Real* result) { *result = 1.0; }
  virtual void FreeFalloff(FalloffDataData& data) {}
  virtual Bool CheckDirty(BaseContainer* bc) { return false; }
  /// False hides the description entry `id` (first level) in the owner's description.
  virtual Bool GetDVisible(const DescID& id, BaseContainer* bc, BaseContainer* descbc) {
    return true;
  }
  virtual LONG GetHandleCount(BaseContainer* bc, const FalloffDataData& data) { return 0; }
  virtual void GetHandle(LONG i, BaseContainer* bc, HandleInfo& info, const FalloffDataData& data) {
  }
  virtual void SetHandle(LONG i, Vector p, BaseContainer* bc, const HandleInfo& info,
                         const FalloffDataData& data) {}
  virtual Bool Draw(const FalloffDataData& data, BaseDraw* bd, BaseDrawHelp* bh, BaseObject* op) {
    return true;
  }
  virtual Bool Message(LONG id, BaseContainer* bc, void* data) { return true; }
};

/// Creates one plug-in instance through the host allocator; null when memory is exhausted.
using DataAllocator = NodeData* (*)();
using FalloffAllocator = FalloffData* (*)();

/// Registers the description resource `name` of `resource` under the plug-in ID. False when
/// the resource has no such description.
Bool RegisterDescription(LONG id, const String& name, GeResource* resource);

/// Registers an object plug-in. `icon` (may be null) passes to the host. `className` names
/// the plug-in's class in listings. False when the ID is taken or the host refuses it.
Bool RegisterObjectPlugin(LONG id, const String& name, LONG flags, DataAllocator allocator,
                          const String& description, BaseBitmap* icon, LONG diskLevel,
                          const char* className = nullptr);
/// Registers a tag plug-in (see `RegisterObjectPlugin`).
Bool RegisterTagPlugin(LONG id, const String& name, LONG flags, DataAllocator allocator,
                       const String& description, BaseBitmap* icon, LONG diskLevel,
                       const char* className = nullptr);
/// Registers a falloff-shape plug-in; it becomes selectable as an owner's shape (5105 = id).
Bool RegisterFalloffPlugin(LONG id, const String& name, LONG flags, FalloffAllocator allocator,
                           const String& description, const char* className = nullptr);
