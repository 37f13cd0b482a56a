// A tiny object and tag plug-in for the host's own tests: it counts the calls it gets and
// holds a block of its own, so a missed Free shows up as a leak.
#pragma once

#include "kwhost/app/host.h"
#include "kwhost/c4d.h"

namespace hosttest {

constexpr LONG kTestObjectId = 1099001;
constexpr LONG kTestTagId = 1099002;
constexpr LONG kTestParam = 1000;
constexpr const char* kTestDataTag = "tests\\host\\testdata";

/// What the plug-ins were asked to do; reset by `Register`.
struct Calls {
  int init = 0, free = 0, copyTo = 0, message = 0;
  LONG lastMessage = -1;
  bool failInit = false, failCopy = false;
};

inline Calls& TestCalls() {
  static Calls calls;
  return calls;
}

class TestData : public ObjectData {
 public:
  Bool Init(GeListNode* node) override {
    ++TestCalls().init;
    static_cast<BaseList2D*>(node)->GetDataInstance()->SetReal(kTestParam, 2.5);
    block_ = GeAlloc(32, kTestDataTag, __LINE__);
    return block_ && !TestCalls().failInit;
  }
  void Free(GeListNode*) override {
    ++TestCalls().free;
    GeFree(block_);
  }
  Bool Message(GeListNode*, LONG type, void*) override {
    ++TestCalls().message;
    TestCalls().lastMessage = type;
    return type != 999;
  }
  Bool CopyTo(NodeData* dest, GeListNode*, GeListNode*, LONG, AliasTrans*) override {
    ++TestCalls().copyTo;
    static_cast<TestData*>(dest)->copiedState_ = state_;
    return !TestCalls().failCopy;
  }
  int state_ = 0;
  int copiedState_ = -1;

 private:
  void* block_ = nullptr;
};

class TestTagData : public TagData {
 public:
  Bool Init(GeListNode* node) override {
    ++TestCalls().init;
    return !TestCalls().failInit;
  }
  void Free(GeListNode*) override { ++TestCalls().free; }
  Bool CopyTo(NodeData*, GeListNode*, GeListNode*, LONG, AliasTrans*) override {
    ++TestCalls().copyTo;
    return !TestCalls().failCopy;
  }
};

inline NodeData* AllocTestData() {
  return NewObj<TestData>(kTestDataTag, __LINE__);
}
inline NodeData* AllocTestTagData() {
  return NewObj<TestTagData>(kTestDataTag, __LINE__);
}

/// Registers the test deformer (with the modifier flag) and the test tag.
inline void Register() {
  TestCalls() = Calls();
  RegisterObjectPlugin(kTestObjectId, "Test Deformer", OBJECT_MODIFIER, AllocTestData, "", nullptr,
                       1, "TestData");
  RegisterTagPlugin(kTestTagId, "Test Tag", TAG_VISIBLE, AllocTestTagData, "", nullptr, 0,
                    "TestTagData");
}

}  // namespace hosttest
