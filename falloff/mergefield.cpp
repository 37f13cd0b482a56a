#include "falloff/mergefield.h"

#include <algorithm>

namespace {

// The host falloff parameters this shape leaves unused, hidden in the owner's description.
constexpr std::array<LONG, 10> kHiddenHostParameters = {5101, 5103, 5120, 5121, 5123,
                                                        5124, 5125, 5126, 5127, FALLOFF_STRENGTH};

/// The combiners of the stored operation values 0..5, for A's weight a and B's weight b.
/// Maximum and minimum fall back to b whenever their comparison fails: for equal weights, and
/// for a NaN on either side.
constexpr MergeCombiner kCombiners[] = {
    [](Real a, Real b) { return a + b; },          // add
    [](Real a, Real b) { return a - b; },          // subtract
    [](Real a, Real b) { return a * b; },          // multiply
    [](Real a, Real b) { return a > b ? a : b; },  // maximum
    [](Real a, Real b) { return b > a ? a : b; },  // minimum
    [](Real a, Real b) { return (a + b) * 0.5; },  // average
};

/// The combiner of every other operation value: A's weight unchanged.
Real KeepA(Real a, Real b) {
  return a;
}

// The containers whose Mergefield is preparing its links on this thread, innermost last.
// A linked object's own falloff may lead back to one of them through another shape that
// samples linked objects (Grainfield does); the nested preparation then uses no links, so the
// preparation ends instead of recursing without limit.
constexpr int kMaxNesting = 16;
thread_local const BaseContainer* preparing[kMaxNesting];
thread_local int preparingCount = 0;

bool IsPreparing(const BaseContainer* bc) {
  return preparingCount == kMaxNesting ||
         std::find(preparing, preparing + preparingCount, bc) != preparing + preparingCount;
}

// Marks `bc` as preparing for the scope's lifetime (the caller has checked there is room).
class PreparingScope {
 public:
  explicit PreparingScope(const BaseContainer* bc) { preparing[preparingCount++] = bc; }
  ~PreparingScope() { --preparingCount; }
  PreparingScope(const PreparingScope&) = delete;
  PreparingScope& operator=(const PreparingScope&) = delete;
};

}  // namespace

MergeCombiner MergeCombinerFor(LONG operation) {
  if (operation < 0 || operation >= static_cast<LONG>(std::size(kCombiners))) return KeepA;
  return kCombiners[operation];
}

Mergefield::Mergefield()
    : KWPTFalloff("Mergefield"),
      falloffA(C4D_Falloff::Alloc()),
      falloffB(C4D_Falloff::Alloc()),
      combine(MergeCombinerFor(operation)) {}

Mergefield::~Mergefield() {
  C4D_Falloff::Free(falloffA);
  C4D_Falloff::Free(falloffB);
}

Bool Mergefield::Init(FalloffDataData& data, BaseContainer* bc) {
  if (!KWPTFalloff::Init(data, bc)) return false;
  SetDefaultValue(*bc, MERGEFIELD_LINK_A, GeData(BaseLink()));
  SetDefaultValue(*bc, MERGEFIELD_LINK_B, GeData(BaseLink()));
  SetDefaultValue(*bc, MERGEFIELD_OPERATION, GeData(LONG{MERGEFIELD_OPERATION_MULTIPLY}));
  SetDefaultValue(*bc, MERGEFIELD_MIX, GeData(Real{1.0}));
  title = "Mergefield";
  bc->SetReal(FALLOFF_STRENGTH, 1.0);
  return true;
}

Bool Mergefield::Accepts(const BaseList2D* node) {
  if (!dynamic_cast<const BaseObject*>(node)) return false;
  return node->GetDataInstance()->GetLong(FALLOFF_MODE) != kPluginId;
}

BaseObject* Mergefield::PrepareLink(BaseContainer& bc, LONG linkId, C4D_Falloff* falloff,
                                    Bool* ok) {
  BaseList2D* node = bc.GetLink(linkId, nullptr);
  if (!node) return nullptr;
  if (!Accepts(node)) {
    bc.SetLink(linkId, nullptr);
    return nullptr;
  }
  auto* object = static_cast<BaseObject*>(node);
  if (!falloff->InitFalloff(object->GetDataInstance(), object->GetDocument(), object)) {
    *ok = false;
    return nullptr;
  }
  return object;
}

Bool Mergefield::InitFalloff(BaseContainer* bc, FalloffDataData& data) {
  linkA = nullptr;
  linkB = nullptr;
  if (!bc) return false;
  operation = bc->GetLong(MERGEFIELD_OPERATION);
  mix = bc->GetReal(MERGEFIELD_MIX);
  combine = MergeCombinerFor(operation);
  // A preparation nested inside one for the same container is a cycle through the links.
  if (IsPreparing(bc)) return true;

  PreparingScope scope(bc);
  Bool ok = true;
  linkA = PrepareLink(*bc, MERGEFIELD_LINK_A, falloffA, &ok);
  if (ok) linkB = PrepareLink(*bc, MERGEFIELD_LINK_B, falloffB, &ok);
  if (!ok) {
    linkA = nullptr;
    linkB = nullptr;
  }
  return ok;
}

void Mergefield::Sample(const Vector& p, const FalloffDataData& data, Real* result) {
  const Vector globalPos = FalloffToGlobal(p, data);
  Real a = 0.0;
  Real b = 0.0;
  if (linkA) falloffA->Sample(globalPos, &a, true, 0.0);
  if (linkB) falloffB->Sample(globalPos, &b, true, 0.0);
  *result = MixMergedWeight(a, combine(a, b), mix);
}

Bool Mergefield::CheckDirty(BaseContainer* bc) {
  if (!bc) return false;
  Bool changed = false;
  auto check = [&](LONG linkId, const BaseList2D*& lastLink, LLONG& lastDirty) {
    const BaseList2D* link = bc->GetLink(linkId, nullptr);
    if (link) {
      const LLONG dirty = link->GetDirty(DIRTYFLAGS_MATRIX | DIRTYFLAGS_DATA);
      if (dirty != lastDirty) {
        lastDirty = dirty;
        changed = true;
      }
    }
    if (link != lastLink) {
      lastLink = link;
      changed = true;
    }
  };
  check(MERGEFIELD_LINK_A, lastLinkA, dirtyA);
  check(MERGEFIELD_LINK_B, lastLinkB, dirtyB);
  return changed;
}

Bool Mergefield::GetDVisible(const DescID& id, BaseContainer* bc, BaseContainer* descbc) {
  return std::find(kHiddenHostParameters.begin(), kHiddenHostParameters.end(), id[0]) ==
         kHiddenHostParameters.end();
}

Bool Mergefield::Message(LONG id, BaseContainer* bc, void* data) {
  if (id != MSG_DESCRIPTION_CHECKDRAGANDDROP || !data) return KWPTFalloff::Message(id, bc, data);
  auto* check = static_cast<DescriptionCheckDragAndDrop*>(data);
  if (check->id[0] != MERGEFIELD_LINK_A && check->id[0] != MERGEFIELD_LINK_B) {
    return KWPTFalloff::Message(id, bc, data);
  }
  const GeListNode* node = check->element;
  const bool listedType =
      node && std::find(kMergefieldLinkTypes.begin(), kMergefieldLinkTypes.end(),
                        node->GetType()) != kMergefieldLinkTypes.end();
  check->result = listedType && Accepts(dynamic_cast<const BaseList2D*>(node));
  return true;
}

FalloffData* Mergefield::Alloc() {
  Mergefield* shape = NewObj<Mergefield>("mergefield\\source\\mergefield", __LINE__);
  if (shape && (!shape->falloffA || !shape->falloffB)) DeleteObj(shape);
  return shape;
}
