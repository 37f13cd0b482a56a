// The scene's nodes: tree operations, documents, dirty counters, tags, plug-in nodes, clones,
// restriction weights, the undo journal and the active objects.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kwtest.h"
#include "test_plugin.h"

namespace {

using hosttest::TestCalls;
using kwtest::VectorNear;

class NodesTest : public kwtest::HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    hosttest::Register();
  }
  void TearDown() override {
    HostTest::TearDown();
    kwhost::ClearRegistry();
  }

  static BaseObject* Named(LONG type, const char* name) {
    BaseObject* op = BaseObject::Alloc(type);
    if (op) op->SetName(name);
    return op;
  }

  /// The names of the children of `parent`, in order, checking the back links on the way.
  static std::string Children(BaseObject* parent) {
    std::string names;
    BaseObject* pred = nullptr;
    for (BaseObject* c = parent->GetDown(); c; c = c->GetNext()) {
      EXPECT_EQ(c->GetUp(), parent);
      EXPECT_EQ(c->GetPred(), pred);
      pred = c;
      names += c->GetName();
    }
    EXPECT_EQ(parent->GetDownLast(), pred);
    return names;
  }

  static std::string TopLevel(BaseDocument* d) {
    std::string names;
    for (BaseObject* op = d->GetFirstObject(); op; op = op->GetNext()) names += op->GetName();
    return names;
  }
};

// ---------------------------------------------------------------------------------------------
// Tree operations

TEST_F(NodesTest, InsertAndRemoveKeepTheListsLinked) {
  BaseObject* parent = Named(Onull, "P");
  doc->InsertObject(parent, nullptr, nullptr);
  BaseObject* a = Named(Onull, "a");
  BaseObject* b = Named(Onull, "b");
  BaseObject* c = Named(Onull, "c");
  BaseObject* d = Named(Onull, "d");
  b->InsertUnderLast(parent);
  c->InsertUnderLast(parent);
  a->InsertUnder(parent);
  EXPECT_EQ(Children(parent), "abc");
  d->InsertAfter(a);
  EXPECT_EQ(Children(parent), "adbc");

  d->Remove();
  EXPECT_EQ(Children(parent), "abc");
  EXPECT_EQ(d->GetUp(), nullptr);
  EXPECT_EQ(d->GetNext(), nullptr);
  EXPECT_EQ(d->GetPred(), nullptr);
  a->Remove();  // the first child: the parent's down link moves on
  EXPECT_EQ(Children(parent), "bc");
  c->Remove();
  EXPECT_EQ(Children(parent), "b");

  // Inserting a linked node moves it.
  b->InsertAfter(parent);
  EXPECT_EQ(Children(parent), "");
  EXPECT_EQ(TopLevel(doc), "Pb");
  for (BaseObject* loose : {a, c, d}) BaseObject::Free(loose);
}

TEST_F(NodesTest, RefusesToMakeACycle) {
  BaseObject* a = Named(Onull, "a");
  BaseObject* b = Named(Onull, "b");
  BaseObject* c = Named(Onull, "c");
  doc->InsertObject(a, nullptr, nullptr);
  b->InsertUnder(a);
  c->InsertUnder(b);
  a->InsertUnder(c);  // below its own grandchild
  a->InsertUnder(a);  // below itself
  a->InsertAfter(b);  // beside its own child
  a->InsertUnderLast(b);
  EXPECT_EQ(a->GetUp(), nullptr);
  EXPECT_EQ(doc->GetFirstObject(), a);
  EXPECT_EQ(Children(a), "b");
  EXPECT_EQ(Children(b), "c");
}

TEST_F(NodesTest, VisitTreeGoesDepthFirstParentsFirst) {
  // r(a(a1, a2(a21)), b, c(c1))
  BaseObject* r = Named(Onull, "r");
  doc->InsertObject(r, nullptr, nullptr);
  auto add = [](const char* name, BaseObject* parent) {
    BaseObject* op = Named(Onull, name);
    op->InsertUnderLast(parent);
    return op;
  };
  BaseObject* a = add("a", r);
  add("a1", a);
  add("a21", add("a2", a));
  add("b", r);
  add("c1", add("c", r));
  BaseObject* after = Named(Onull, "after");  // a sibling of the root is not visited
  doc->InsertObject(after, nullptr, r);

  std::vector<std::string> order;
  VisitTree(r, [&](BaseObject* op) { order.push_back(op->GetName()); });
  EXPECT_EQ(order, (std::vector<std::string>{"r", "a", "a1", "a2", "a21", "b", "c", "c1"}));
  order.clear();
  VisitTree(a, [&](BaseObject* op) { order.push_back(op->GetName()); });
  EXPECT_EQ(order, (std::vector<std::string>{"a", "a1", "a2", "a21"}));
  VisitTree(nullptr, [&](BaseObject*) { ADD_FAILURE(); });
}

TEST_F(NodesTest, DocumentKeepsItsTopLevelListAndAnswersGetDocument) {
  BaseObject* a = Named(Onull, "a");
  BaseObject* b = Named(Onull, "b");
  BaseObject* c = Named(Onull, "c");
  BaseObject* child = Named(Onull, "x");
  doc->InsertObject(b, nullptr, nullptr);
  doc->InsertObject(a, nullptr, nullptr);  // first
  doc->InsertObject(c, nullptr, b);        // after b
  doc->InsertObject(child, c, nullptr);    // under c
  EXPECT_EQ(TopLevel(doc), "abc");
  EXPECT_EQ(child->GetDocument(), doc);
  BaseTag* tag = child->MakeTag(Trestriction);
  EXPECT_EQ(tag->GetDocument(), doc);

  a->Remove();  // the first top-level object
  EXPECT_EQ(TopLevel(doc), "bc");
  EXPECT_EQ(a->GetDocument(), nullptr);
  c->Remove();  // takes its subtree out of the document
  EXPECT_EQ(TopLevel(doc), "b");
  EXPECT_EQ(child->GetDocument(), nullptr);
  EXPECT_EQ(tag->GetDocument(), nullptr);

  c->InsertUnderLast(doc);  // a document as parent means the top level
  a->InsertUnder(doc);
  EXPECT_EQ(TopLevel(doc), "abc");
  EXPECT_EQ(child->GetDocument(), doc);
}

TEST_F(NodesTest, FreeingAnObjectFreesItsSubtreeAndDropsLinks) {
  BaseObject* parent = Named(Onull, "P");
  doc->InsertObject(parent, nullptr, nullptr);
  BaseObject* deformer = BaseObject::Alloc(hosttest::kTestObjectId);
  ASSERT_NE(deformer, nullptr);
  deformer->InsertUnder(parent);
  PolygonObject* mesh = kwtest::MakeGrid(10, 10, 2, 2);
  mesh->InsertUnderLast(parent);
  mesh->MakeVariableTag(Tvertexmap, mesh->GetPointCount());
  BaseTag* pluginTag = mesh->MakeTag(hosttest::kTestTagId);
  ASSERT_NE(pluginTag, nullptr);

  BaseContainer links;
  links.SetLink(1, deformer);
  links.SetLink(2, pluginTag);
  links.SetLink(3, parent);
  const int freesBefore = TestCalls().free;
  BaseObject::Free(parent);
  EXPECT_EQ(parent, nullptr);
  EXPECT_EQ(doc->GetFirstObject(), nullptr);
  EXPECT_EQ(TestCalls().free - freesBefore, 2);  // the deformer's and the tag's data
  for (LONG id : {1, 2, 3}) EXPECT_EQ(links.GetLink(id, nullptr), nullptr) << id;
  // The fixture checks that every host block came back.
}

// ---------------------------------------------------------------------------------------------
// Matrices and bounds

TEST_F(NodesTest, GlobalMatrixComposesTheParents) {
  BaseObject* parent = Named(Onull, "P");
  BaseObject* child = Named(Onull, "c");
  doc->InsertObject(parent, nullptr, nullptr);
  child->InsertUnder(parent);
  const Matrix parentMl({10, 0, 0}, {0, 0, -1}, {0, 1, 0}, {2, 0, 0});
  parent->SetMl(parentMl);
  child->SetMl(Matrix({1, 2, 3}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}));
  EXPECT_EQ(child->GetMg(), parentMl * child->GetMl());

  const Matrix wanted({5, 5, 5}, {0, 1, 0}, {-1, 0, 0}, {0, 0, 1});
  child->SetMg(wanted);
  const Matrix mg = child->GetMg();
  EXPECT_TRUE(VectorNear(wanted.off, mg.off, 1e-12));
  EXPECT_TRUE(VectorNear(wanted.v1, mg.v1, 1e-12));
  EXPECT_TRUE(VectorNear(wanted.v3, mg.v3, 1e-12));
  parent->SetMg(wanted);  // top level: the local matrix is the global one
  EXPECT_EQ(parent->GetMl(), wanted);
}

TEST_F(NodesTest, BoundingBoxOfThePoints) {
  PolygonObject* mesh = kwtest::MakePolygonObject({{-1, 2, 4}, {3, 0, 6}, {1, 10, 5}}, {{0, 1, 2}});
  doc->InsertObject(mesh, nullptr, nullptr);
  EXPECT_EQ(mesh->GetMp(), Vector(1, 5, 5));
  EXPECT_EQ(mesh->GetRad(), Vector(2, 5, 1));
  BaseObject* null = BaseObject::Alloc(Onull);
  doc->InsertObject(null, nullptr, nullptr);
  EXPECT_EQ(null->GetMp(), Vector());
  EXPECT_EQ(null->GetRad(), Vector());
  PolygonObject* empty = PolygonObject::Alloc(0, 0);
  EXPECT_EQ(empty->GetRad(), Vector());
  BaseObject* freeEmpty = empty;
  BaseObject::Free(freeEmpty);
}

TEST_F(NodesTest, BoundingBoxOfAPrimitiveIsItsGeneratorCaches) {
  BaseObject* plane = BaseObject::Alloc(Oplane);
  doc->InsertObject(plane, nullptr, nullptr);
  EXPECT_EQ(plane->GetRad(), Vector());  // nothing generated yet
  BaseThread thread;
  ASSERT_TRUE(doc->ExecutePasses(&thread, true, true, true, 0));
  ASSERT_NE(plane->GetCache(), nullptr);
  EXPECT_NE(plane->GetRad(), Vector());
  EXPECT_EQ(plane->GetRad(), plane->GetCache()->GetRad());
  EXPECT_EQ(plane->GetMp(), plane->GetCache()->GetMp());
}

// ---------------------------------------------------------------------------------------------
// Dirty counters

TEST_F(NodesTest, CountersGrowWithChangesOfTheirKind) {
  BaseObject* parent = Named(Onull, "P");
  BaseObject* child = Named(Onull, "c");
  doc->InsertObject(parent, nullptr, nullptr);
  child->InsertUnder(parent);

  const LLONG matrix0 = child->GetDirty(DIRTYFLAGS_MATRIX);
  const LLONG data0 = child->GetDirty(DIRTYFLAGS_DATA);
  const LLONG cache0 = child->GetDirty(DIRTYFLAGS_CACHE);

  child->SetMl(child->GetMl());  // no change
  EXPECT_EQ(child->GetDirty(DIRTYFLAGS_MATRIX), matrix0);
  parent->SetMl(Matrix({1, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}));  // the parent moves
  EXPECT_EQ(child->GetDirty(DIRTYFLAGS_MATRIX), matrix0 + 1);
  EXPECT_EQ(child->GetDirty(DIRTYFLAGS_DATA), data0);

  child->GetDataInstance()->SetReal(5, 1.0);  // the container counts as data
  child->SetDirty(DIRTYFLAGS_DATA);
  EXPECT_EQ(child->GetDirty(DIRTYFLAGS_DATA), data0 + 2);
  child->SetDirty(DIRTYFLAGS_CACHE);
  EXPECT_EQ(child->GetDirty(DIRTYFLAGS_CACHE), cache0 + 1);
  EXPECT_EQ(child->GetDirty(DIRTYFLAGS_MATRIX | DIRTYFLAGS_DATA | DIRTYFLAGS_CACHE),
            matrix0 + 1 + data0 + 2 + cache0 + 1);

  child->Message(MSG_UPDATE);  // points moved: the data changed
  EXPECT_EQ(child->GetDirty(DIRTYFLAGS_DATA), data0 + 3);
}

TEST_F(NodesTest, IsDirtyUntilTouched) {
  BaseObject* parent = Named(Onull, "P");
  BaseObject* child = Named(Onull, "c");
  doc->InsertObject(parent, nullptr, nullptr);
  child->InsertUnder(parent);
  child->Touch();
  EXPECT_FALSE(child->IsDirty(DIRTYFLAGS_MATRIX | DIRTYFLAGS_DATA | DIRTYFLAGS_CACHE));

  parent->SetMl(Matrix({0, 3, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}));
  EXPECT_TRUE(child->IsDirty(DIRTYFLAGS_MATRIX));
  EXPECT_FALSE(child->IsDirty(DIRTYFLAGS_DATA));
  child->Touch();
  EXPECT_FALSE(child->IsDirty(DIRTYFLAGS_MATRIX));

  child->GetDataInstance()->SetLong(7, 1);
  EXPECT_TRUE(child->IsDirty(DIRTYFLAGS_DATA));
  EXPECT_EQ(child->GetDataInstance()->GetDirty(), 1);
  child->Touch();
  EXPECT_FALSE(child->IsDirty(DIRTYFLAGS_DATA));
  EXPECT_EQ(child->GetDataInstance()->GetDirty(), 0);
  child->SetDirty(DIRTYFLAGS_CACHE);
  EXPECT_TRUE(child->IsDirty(DIRTYFLAGS_CACHE));
  EXPECT_FALSE(child->IsDirty(DIRTYFLAGS_MATRIX | DIRTYFLAGS_DATA));
}

TEST_F(NodesTest, MovingToAnotherParentNeverLowersTheMatrixCounter) {
  BaseObject* busy = Named(Onull, "busy");
  BaseObject* quiet = Named(Onull, "quiet");
  BaseObject* child = Named(Onull, "c");
  BaseObject* grandchild = Named(Onull, "g");
  doc->InsertObject(busy, nullptr, nullptr);
  doc->InsertObject(quiet, nullptr, nullptr);
  child->InsertUnder(busy);
  grandchild->InsertUnder(child);
  for (int i = 0; i < 20; ++i)
    busy->SetMl(Matrix({Real(i), 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}));

  const LLONG childBefore = child->GetDirty(DIRTYFLAGS_MATRIX);
  const LLONG grandchildBefore = grandchild->GetDirty(DIRTYFLAGS_MATRIX);
  child->Touch();
  child->InsertUnder(quiet);
  EXPECT_GT(child->GetDirty(DIRTYFLAGS_MATRIX), childBefore);
  EXPECT_GT(grandchild->GetDirty(DIRTYFLAGS_MATRIX), grandchildBefore);
  EXPECT_TRUE(child->IsDirty(DIRTYFLAGS_MATRIX));
}

// ---------------------------------------------------------------------------------------------
// Tags

TEST_F(NodesTest, TagsKeepTheirOrderAndAreFoundByType) {
  BaseObject* op = Named(Onull, "op");
  doc->InsertObject(op, nullptr, nullptr);
  BaseTag* r1 = op->MakeTag(Trestriction);
  BaseTag* map = op->MakeVariableTag(Tvertexmap, 3);  // first
  BaseTag* r2 = op->MakeTag(Trestriction, r1);        // after r1
  BaseTag* sel = op->MakeTag(Tedgeselection, r2);
  ASSERT_TRUE(r1 && map && r2 && sel);
  std::vector<BaseTag*> order;
  for (BaseTag* t = op->GetFirstTag(); t; t = t->GetNext()) order.push_back(t);
  EXPECT_EQ(order, (std::vector<BaseTag*>{map, r1, r2, sel}));
  EXPECT_EQ(r2->GetPred(), r1);
  EXPECT_EQ(r1->GetObject(), op);
  EXPECT_EQ(op->GetTag(Trestriction), r1);
  EXPECT_EQ(op->GetTag(Trestriction, 1), r2);
  EXPECT_EQ(op->GetTag(Trestriction, 2), nullptr);
  EXPECT_EQ(op->GetTag(Tnullpin), nullptr);

  auto* values = static_cast<VariableTag*>(map);
  EXPECT_EQ(values->GetDataCount(), 3);
  for (LONG i = 0; i < 3; ++i) EXPECT_EQ(values->GetDataAddressR()[i], 0.0f);

  op->RemoveTag(r1);
  EXPECT_EQ(r1->GetObject(), nullptr);
  EXPECT_EQ(map->GetNext(), r2);
  EXPECT_EQ(r2->GetPred(), map);
  r1->InsertAfter(sel);  // a tag placed after another joins its object
  EXPECT_EQ(sel->GetNext(), r1);
  EXPECT_EQ(r1->GetObject(), op);
  r1->Remove();
  BaseTag::Free(r1);
  EXPECT_EQ(sel->GetNext(), nullptr);
}

TEST_F(NodesTest, UnknownTypesAndBadCountsGiveNull) {
  EXPECT_EQ(BaseObject::Alloc(424242), nullptr);
  EXPECT_EQ(BaseObject::Alloc(hosttest::kTestTagId), nullptr);  // a tag is not an object
  EXPECT_EQ(BaseTag::Alloc(424242), nullptr);
  EXPECT_EQ(BaseTag::Alloc(hosttest::kTestObjectId), nullptr);
  EXPECT_EQ(VariableTag::Alloc(Tvertexmap, -1), nullptr);
  EXPECT_EQ(VariableTag::Alloc(Trestriction, 3), nullptr);
  EXPECT_EQ(SelectionTag::Alloc(Tvertexmap), nullptr);
  EXPECT_EQ(PolygonObject::Alloc(-1, 0), nullptr);
  BaseObject* op = BaseObject::Alloc(Onull);
  EXPECT_EQ(op->MakeTag(424242), nullptr);
  EXPECT_EQ(op->MakeVariableTag(Tvertexmap, -5), nullptr);
  EXPECT_EQ(op->GetFirstTag(), nullptr);
  BaseObject::Free(op);
}

TEST_F(NodesTest, ObjectTypesAnswerTheirInstanceBases) {
  struct Case {
    LONG type;
    std::vector<LONG> is, isNot;
  };
  const Case cases[] = {
      {Opolygon, {Opolygon, Opoint, Obase}, {Ospline, Ofalloffbase}},
      {Ospline, {Ospline, Opoint, Obase}, {Opolygon}},
      {Onull, {Onull, Obase}, {Opoint}},
      {Oplane, {Oplane, Obase}, {Opoint, Opolygon}},
      {Ofalloff, {Ofalloff, Ofalloffbase, Obase}, {Opoint}},
      {hosttest::kTestObjectId, {hosttest::kTestObjectId, Obase}, {Opoint}},
  };
  for (const Case& c : cases) {
    BaseObject* op = BaseObject::Alloc(c.type);
    ASSERT_NE(op, nullptr) << c.type;
    EXPECT_EQ(op->GetType(), c.type);
    for (LONG t : c.is) EXPECT_TRUE(op->IsInstanceOf(t)) << c.type << " is " << t;
    for (LONG t : c.isNot) EXPECT_FALSE(op->IsInstanceOf(t)) << c.type << " is not " << t;
    BaseObject::Free(op);
  }
}

// ---------------------------------------------------------------------------------------------
// Plug-in nodes

TEST_F(NodesTest, PluginObjectIsMadeThroughItsAllocatorAndInit) {
  BaseObject* op = BaseObject::Alloc(hosttest::kTestObjectId);
  ASSERT_NE(op, nullptr);
  EXPECT_EQ(TestCalls().init, 1);
  EXPECT_EQ(op->GetDataInstance()->GetReal(hosttest::kTestParam), 2.5);
  ASSERT_NE(op->GetNodeData<hosttest::TestData>(), nullptr);

  EXPECT_TRUE(op->Message(MSG_MENUPREPARE, doc));
  EXPECT_EQ(TestCalls().lastMessage, MSG_MENUPREPARE);
  EXPECT_FALSE(op->Message(999));  // the plug-in's answer comes back
  BaseObject* host = BaseObject::Alloc(Onull);
  EXPECT_TRUE(host->Message(MSG_UPDATE));  // host nodes have no data: true

  BaseObject::Free(op);
  BaseObject::Free(host);
  EXPECT_EQ(TestCalls().free, 1);
}

TEST_F(NodesTest, FailedInitOrAllocationLeavesNothing) {
  TestCalls().failInit = true;
  EXPECT_EQ(BaseObject::Alloc(hosttest::kTestObjectId), nullptr);
  EXPECT_EQ(BaseTag::Alloc(hosttest::kTestTagId), nullptr);
  // Init may have taken something before it failed; Free gets the chance to give it back.
  EXPECT_EQ(TestCalls().free, 2);
  TestCalls().failInit = false;

  // Three allocations: the node, the plug-in data and the block its Init takes.
  for (LLONG n = 1; n <= 4; ++n) {
    kwhost::memory::FailAllocation(n);
    BaseObject* op = BaseObject::Alloc(hosttest::kTestObjectId);
    kwhost::memory::FailAllocation(0);
    if (op) {
      EXPECT_EQ(n, 4);
      BaseObject::Free(op);
    } else {
      EXPECT_EQ(kwhost::memory::LiveBlocks(hosttest::kTestDataTag), 0) << n;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Clones

class CloneTest : public NodesTest {
 protected:
  /// A mesh with one of each tag kind and a plug-in child with a child of its own.
  PolygonObject* MakeSource() {
    PolygonObject* mesh = kwtest::MakePolygonObject(
        {{0, 0, 0}, {1, 0, 0}, {1, 0, 1}, {0, 0, 1}, {2, 0, 0}}, {{0, 1, 2, 3}, {1, 4, 2}});
    mesh->SetName("mesh");
    mesh->SetMl(Matrix({1, 2, 3}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}));
    mesh->GetDataInstance()->SetString(1, "value");
    VariableTag* map = mesh->MakeVariableTag(Tvertexmap, 5);
    map->SetName("weights");
    for (LONG i = 0; i < 5; ++i) map->GetDataAddressW()[i] = 0.1f * i;
    auto* sel = static_cast<SelectionTag*>(mesh->MakeTag(Tedgeselection, map));
    sel->GetBaseSelect()->Select(5);
    sel->GetBaseSelect()->Select(2);
    mesh->MakeTag(hosttest::kTestTagId, sel);
    BaseObject* deformer = BaseObject::Alloc(hosttest::kTestObjectId);
    deformer->SetName("deformer");
    deformer->GetDataInstance()->SetReal(hosttest::kTestParam, 9.0);
    deformer->GetNodeData<hosttest::TestData>()->state_ = 42;
    deformer->SetDeformMode(false);
    deformer->InsertUnder(mesh);
    BaseObject* grandchild = Named(Onull, "grandchild");
    grandchild->InsertUnder(deformer);
    return mesh;
  }
};

TEST_F(CloneTest, CopiesStateTagsChildrenAndPluginData) {
  PolygonObject* source = MakeSource();
  doc->InsertObject(source, nullptr, nullptr);
  const int copiesBefore = TestCalls().copyTo;
  auto* clone = static_cast<PolygonObject*>(source->GetClone());
  ASSERT_NE(clone, nullptr);
  doc->InsertObject(clone, nullptr, source);

  EXPECT_EQ(clone->GetName(), "mesh");
  EXPECT_EQ(clone->GetMl(), source->GetMl());
  EXPECT_EQ(clone->GetDataInstance()->GetString(1), "value");
  EXPECT_EQ(kwtest::Points(clone), kwtest::Points(source));
  ASSERT_EQ(clone->GetPolygonCount(), 2);
  EXPECT_EQ(clone->GetPolygonR()[1], CPolygon(1, 4, 2));

  // The copy is independent of the original.
  clone->GetPointW()[0] = Vector(9, 9, 9);
  EXPECT_EQ(source->GetPointR()[0], Vector(0, 0, 0));

  BaseTag* tag = clone->GetFirstTag();
  ASSERT_NE(tag, nullptr);
  ASSERT_EQ(tag->GetType(), Tvertexmap);
  EXPECT_EQ(tag->GetName(), "weights");
  EXPECT_EQ(static_cast<VariableTag*>(tag)->GetDataAddressR()[4], 0.4f);
  EXPECT_NE(tag, source->GetFirstTag());
  tag = tag->GetNext();
  ASSERT_EQ(tag->GetType(), Tedgeselection);
  EXPECT_EQ(static_cast<SelectionTag*>(tag)->GetBaseSelect()->GetAll(), (std::vector<LONG>{2, 5}));
  tag = tag->GetNext();
  ASSERT_EQ(tag->GetType(), hosttest::kTestTagId);
  EXPECT_NE(tag->GetNodeData(), nullptr);
  EXPECT_EQ(tag->GetObject(), clone);
  EXPECT_EQ(tag->GetNext(), nullptr);

  BaseObject* deformer = clone->GetDown();
  ASSERT_NE(deformer, nullptr);
  EXPECT_EQ(deformer->GetName(), "deformer");
  EXPECT_FALSE(deformer->GetDeformMode());
  // The container replaces Init's defaults; CopyTo carries the plug-in's own state.
  EXPECT_EQ(deformer->GetDataInstance()->GetReal(hosttest::kTestParam), 9.0);
  EXPECT_EQ(deformer->GetNodeData<hosttest::TestData>()->copiedState_, 42);
  EXPECT_EQ(TestCalls().copyTo - copiesBefore, 2);  // the deformer and the plug-in tag
  ASSERT_NE(deformer->GetDown(), nullptr);
  EXPECT_EQ(deformer->GetDown()->GetName(), "grandchild");
  EXPECT_EQ(clone->GetDocument(), doc);
}

TEST_F(CloneTest, FailsCleanlyWhereverAnAllocationFails) {
  PolygonObject* source = MakeSource();
  doc->InsertObject(source, nullptr, nullptr);
  const LLONG live = kwhost::memory::LiveBlocks();
  LLONG failures = 0;
  for (LLONG n = 1; n < 200; ++n) {
    kwhost::memory::FailAllocation(n);
    BaseObject* clone = source->GetClone();
    kwhost::memory::FailAllocation(0);
    if (clone) {
      BaseObject::Free(clone);
      break;
    }
    ++failures;
    ASSERT_EQ(kwhost::memory::LiveBlocks(), live) << "allocation " << n;
  }
  EXPECT_GE(failures, 10);  // every node, every array
  EXPECT_EQ(kwhost::memory::LiveBlocks(), live);
}

TEST_F(CloneTest, FailedCopyToGivesNull) {
  PolygonObject* source = MakeSource();
  doc->InsertObject(source, nullptr, nullptr);
  const LLONG live = kwhost::memory::LiveBlocks();
  TestCalls().failCopy = true;
  EXPECT_EQ(source->GetClone(), nullptr);
  EXPECT_EQ(source->GetFirstTag()->GetNext()->GetNext()->GetClone(), nullptr);
  EXPECT_EQ(kwhost::memory::LiveBlocks(), live);
}

// ---------------------------------------------------------------------------------------------
// Restriction weights

class CalcVertexMapTest : public NodesTest {
 protected:
  /// A fresh mesh of four points with the test deformer below it.
  void MakeScene() {
    BaseObject* old = mesh;
    BaseObject::Free(old);
    mesh = kwtest::MakeGrid(10, 10, 1, 1);
    doc->InsertObject(mesh, nullptr, nullptr);
    deformer = BaseObject::Alloc(hosttest::kTestObjectId);
    deformer->InsertUnder(mesh);
  }
  VariableTag* AddMap(const char* name, LONG count, SReal first) {
    VariableTag* map = mesh->MakeVariableTag(Tvertexmap, count, LastTag(mesh));
    map->SetName(name);
    for (LONG i = 0; i < count; ++i) map->GetDataAddressW()[i] = first + 0.125f * i;
    return map;
  }
  void Restrict(const char* name) {
    BaseTag* tag = deformer->MakeTag(Trestriction, LastTag(deformer));
    tag->GetDataInstance()->SetString(1, name);
  }
  static BaseTag* LastTag(BaseObject* op) {
    BaseTag* tag = op->GetFirstTag();
    while (tag && tag->GetNext()) tag = tag->GetNext();
    return tag;
  }

  PolygonObject* mesh = nullptr;
  BaseObject* deformer = nullptr;
};

TEST_F(CalcVertexMapTest, CopiesTheNamedMapWithOneValuePerPoint) {
  struct Case {
    const char* name;
    std::vector<const char*> restrictions;
    std::vector<std::pair<const char*, LONG>> maps;  // name, count; values start at 0.25·index
    SReal expectedFirst;                             // -1: no weights
  };
  const Case cases[] = {
      {"no restriction tag", {}, {{"w", 4}}, -1},
      {"named map", {"w"}, {{"other", 4}, {"w", 4}}, 0.25f},
      {"no map of that name", {"missing"}, {{"w", 4}}, -1},
      {"map of another length", {"w"}, {{"w", 3}}, -1},
      {"skips a same-named map of another length", {"w"}, {{"w", 5}, {"w", 4}}, 0.25f},
      {"empty name", {""}, {{"", 4}}, -1},
      {"a later restriction tag resolves", {"missing", "w"}, {{"w", 4}}, 0.0f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MakeScene();
    for (size_t i = 0; i < c.maps.size(); ++i)
      AddMap(c.maps[i].first, c.maps[i].second, 0.25f * static_cast<SReal>(i));
    for (const char* r : c.restrictions) Restrict(r);

    Bool failed = true;
    SReal* weights = mesh->CalcVertexMap(deformer, &failed);
    EXPECT_FALSE(failed);
    if (c.expectedFirst < 0) {
      EXPECT_EQ(weights, nullptr);
    } else {
      ASSERT_NE(weights, nullptr);
      for (LONG i = 0; i < 4; ++i) EXPECT_EQ(weights[i], c.expectedFirst + 0.125f * i);
      GeFree(weights);
    }
  }
}

TEST_F(CalcVertexMapTest, NoModifierOrNoPointsGiveNull) {
  MakeScene();
  AddMap("w", 4, 0.5f);
  Restrict("w");
  EXPECT_EQ(mesh->CalcVertexMap(nullptr), nullptr);
  PolygonObject* empty = PolygonObject::Alloc(0, 0);
  empty->InsertUnder(mesh);
  empty->MakeVariableTag(Tvertexmap, 0)->SetName("w");
  EXPECT_EQ(empty->CalcVertexMap(deformer), nullptr);
}

TEST_F(CalcVertexMapTest, AllocationFailureIsReported) {
  MakeScene();
  AddMap("w", 4, 0.5f);
  Restrict("w");
  kwhost::memory::FailAllocation(1);
  Bool failed = false;
  EXPECT_EQ(mesh->CalcVertexMap(deformer, &failed), nullptr);
  EXPECT_TRUE(failed);
  SReal* weights = mesh->CalcVertexMap(deformer, &failed);
  EXPECT_FALSE(failed);
  ASSERT_NE(weights, nullptr);
  EXPECT_EQ(weights[0], 0.5f);
  EXPECT_EQ(kwhost::memory::LiveBlocks("host\\calcvertexmap"), 1);
  GeFree(weights);
}

// ---------------------------------------------------------------------------------------------
// Undo journal and active objects

TEST_F(NodesTest, UndoJournalRecordsClosedGroups) {
  BaseObject* op = Named(Onull, "op");
  doc->InsertObject(op, nullptr, nullptr);
  EXPECT_FALSE(doc->AddUndo(UNDOTYPE_CHANGE, op));  // no group open
  EXPECT_FALSE(doc->EndUndo());
  ASSERT_TRUE(doc->StartUndo());
  EXPECT_FALSE(doc->StartUndo());  // groups do not nest
  EXPECT_TRUE(doc->AddUndo(UNDOTYPE_CHANGE, op));
  EXPECT_FALSE(doc->AddUndo(UNDOTYPE_NEW, nullptr));
  BaseTag* tag = op->MakeVariableTag(Tvertexmap, 0);
  tag->SetName("map");
  EXPECT_TRUE(doc->AddUndo(UNDOTYPE_NEW, tag));
  EXPECT_TRUE(doc->EndUndo());
  ASSERT_TRUE(doc->StartUndo());
  EXPECT_TRUE(doc->EndUndo());  // an empty group is dropped

  const auto& journal = doc->GetUndoJournal();
  ASSERT_EQ(journal.size(), 1u);
  ASSERT_EQ(journal[0].size(), 2u);
  EXPECT_EQ(journal[0][0].type, UNDOTYPE_CHANGE);
  EXPECT_EQ(journal[0][0].node.GetNode(), op);
  EXPECT_EQ(journal[0][1].type, UNDOTYPE_NEW);
  EXPECT_EQ(journal[0][1].name, "map");
  BaseTag::Free(tag);
  EXPECT_EQ(journal[0][1].node.GetNode(), nullptr);  // the journal never dangles
}

TEST_F(NodesTest, ActiveObjectsDropOutWhenFreedOrRemoved) {
  BaseObject* a = Named(Onull, "a");
  BaseObject* b = Named(Onull, "b");
  BaseObject* c = Named(Onull, "c");
  for (BaseObject* op : {c, b, a}) doc->InsertObject(op, nullptr, nullptr);
  EXPECT_EQ(doc->GetActiveObject(), nullptr);
  doc->SetActiveObject(b);
  doc->AddActiveObject(a);
  doc->AddActiveObject(b);  // once only
  doc->AddActiveObject(c);
  EXPECT_EQ(doc->GetActiveObjects(), (std::vector<BaseObject*>{b, a, c}));
  BaseObject::Free(b);
  EXPECT_EQ(doc->GetActiveObject(), a);
  a->Remove();
  EXPECT_EQ(doc->GetActiveObjects(), (std::vector<BaseObject*>{c}));
  doc->SetActiveObject(nullptr);
  EXPECT_EQ(doc->GetActiveObject(), nullptr);
  BaseObject::Free(a);
}

}  // namespace
