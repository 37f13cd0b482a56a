// The anchor tag: a passive carrier of one link that survives copies and never dangles.
#include "tags/nullpin.h"
#include "kwtest_plugins.h"

namespace {

class NullpinTest : public kwtest::PluginTest {};

TEST_F(NullpinTest, InitWritesNoParameter) {
  BaseTag* tag = BaseTag::Alloc(Tnullpin);
  ASSERT_NE(tag, nullptr);
  EXPECT_TRUE(tag->GetDataInstance()->Entries().empty());
  EXPECT_EQ(tag->GetDataInstance()->GetLink(NULLPIN_LINK, nullptr), nullptr);
  BaseTag::Free(tag);
}

TEST_F(NullpinTest, LinkSurvivesACloneAndResolvesToNullOnceTheTargetIsFreed) {
  BaseObject* target = BaseObject::Alloc(Onull);
  BaseObject* carrier = BaseObject::Alloc(Onull);
  ASSERT_NE(target, nullptr);
  ASSERT_NE(carrier, nullptr);
  doc->InsertObject(target, nullptr, nullptr);
  doc->InsertObject(carrier, nullptr, nullptr);
  BaseTag* tag = carrier->MakeTag(Tnullpin);
  ASSERT_NE(tag, nullptr);
  tag->GetDataInstance()->SetLink(NULLPIN_LINK, target);

  BaseObject* copy = carrier->GetClone();
  ASSERT_NE(copy, nullptr);
  doc->InsertObject(copy, nullptr, nullptr);
  BaseTag* copiedTag = copy->GetTag(Tnullpin);
  ASSERT_NE(copiedTag, nullptr);
  EXPECT_NE(copiedTag, tag);
  EXPECT_NE(copiedTag->GetNodeData(), nullptr);
  EXPECT_EQ(copiedTag->GetDataInstance()->GetLink(NULLPIN_LINK, doc), target);

  BaseObject::Free(target);
  EXPECT_EQ(tag->GetDataInstance()->GetLink(NULLPIN_LINK, doc), nullptr);
  EXPECT_EQ(copiedTag->GetDataInstance()->GetLink(NULLPIN_LINK, doc), nullptr);
}

TEST_F(NullpinTest, LinkOutsideTheAskedDocumentResolvesToNull) {
  BaseDocument* other = BaseDocument::Alloc();
  BaseObject* elsewhere = BaseObject::Alloc(Onull);
  other->InsertObject(elsewhere, nullptr, nullptr);
  BaseTag* tag = BaseTag::Alloc(Tnullpin);
  tag->GetDataInstance()->SetLink(NULLPIN_LINK, elsewhere);
  EXPECT_EQ(tag->GetDataInstance()->GetLink(NULLPIN_LINK, doc), nullptr);
  EXPECT_EQ(tag->GetDataInstance()->GetLink(NULLPIN_LINK, other), elsewhere);
  BaseTag::Free(tag);
  BaseDocument::Free(other);
}

TEST_F(NullpinTest, AllocationFailureCreatesNoTag) {
  kwhost::memory::FailAllocation(1);
  EXPECT_EQ(BaseTag::Alloc(Tnullpin), nullptr);
}

}  // namespace
