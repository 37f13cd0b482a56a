// Plug-in registration.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "kwtest.h"
#include "test_plugin.h"

namespace {

using kwhost::PluginKind;

class RegistryTest : public kwtest::HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    kwhost::ClearRegistry();
  }
  void TearDown() override {
    HostTest::TearDown();
    kwhost::ClearRegistry();
  }
};

FalloffData* AllocNoFalloff() {
  return nullptr;
}

TEST_F(RegistryTest, RecordsEveryKindInOrder) {
  ASSERT_TRUE(RegisterObjectPlugin(1099101, "Twirl", OBJECT_MODIFIER, hosttest::AllocTestData,
                                   "otwirldeformer_kw", nullptr, 1, "KWTwirl"));
  ASSERT_TRUE(RegisterObjectPlugin(1099102, "Thing", 0, hosttest::AllocTestData, "", nullptr, 2));
  ASSERT_TRUE(RegisterTagPlugin(1099103, "Nullpin", TAG_VISIBLE, hosttest::AllocTestTagData,
                                "tnullpin_kw", nullptr, 0, "Nullpin"));
  ASSERT_TRUE(
      RegisterFalloffPlugin(1099104, "Fieldwise", 0, AllocNoFalloff, "ofalloff_kw", "Fieldwise"));

  const auto& plugins = kwhost::RegisteredPlugins();
  ASSERT_EQ(plugins.size(), 4u);
  EXPECT_EQ(plugins[0].kind, PluginKind::Deformer);
  EXPECT_EQ(plugins[0].className, "KWTwirl");
  EXPECT_EQ(plugins[0].description, "otwirldeformer_kw");
  EXPECT_EQ(plugins[0].diskLevel, 1);
  EXPECT_EQ(plugins[0].flags, OBJECT_MODIFIER);
  EXPECT_EQ(plugins[0].module, "");  // registered outside any module's start
  EXPECT_EQ(plugins[0].icon, "");
  EXPECT_EQ(plugins[1].kind, PluginKind::Object);
  EXPECT_EQ(plugins[1].className, "");
  EXPECT_EQ(plugins[2].kind, PluginKind::Tag);
  EXPECT_EQ(plugins[3].kind, PluginKind::Falloff);
  EXPECT_EQ(plugins[3].falloffAllocator, AllocNoFalloff);
  EXPECT_EQ(plugins[3].allocator, nullptr);

  EXPECT_EQ(kwhost::FindPlugin(1099103), &plugins[2]);
  EXPECT_EQ(kwhost::FindPlugin(5), nullptr);
  EXPECT_EQ(kwhost::FindPluginByName("Twirl"), &plugins[0]);    // display name
  EXPECT_EQ(kwhost::FindPluginByName("KWTwirl"), &plugins[0]);  // class name
  EXPECT_EQ(kwhost::FindPluginByName(""), nullptr);
  EXPECT_EQ(kwhost::FindPluginByName("Twirls"), nullptr);

  kwhost::ClearRegistry();
  EXPECT_TRUE(kwhost::RegisteredPlugins().empty());
  EXPECT_EQ(BaseObject::Alloc(1099101), nullptr);
}

TEST_F(RegistryTest, RefusesTakenRefusedAndHostIds) {
  ASSERT_TRUE(
      RegisterObjectPlugin(1099101, "A", OBJECT_MODIFIER, hosttest::AllocTestData, "", nullptr, 1));
  EXPECT_FALSE(RegisterTagPlugin(1099101, "B", 0, hosttest::AllocTestTagData, "", nullptr, 0));
  EXPECT_FALSE(RegisterObjectPlugin(Opolygon, "C", 0, hosttest::AllocTestData, "", nullptr, 0));
  EXPECT_FALSE(RegisterTagPlugin(Tvertexmap, "C", 0, hosttest::AllocTestTagData, "", nullptr, 0));
  EXPECT_FALSE(RegisterObjectPlugin(0, "D", 0, hosttest::AllocTestData, "", nullptr, 0));
  EXPECT_FALSE(RegisterObjectPlugin(-7, "D", 0, hosttest::AllocTestData, "", nullptr, 0));
  EXPECT_FALSE(RegisterObjectPlugin(1099105, "E", 0, nullptr, "", nullptr, 0));

  kwhost::RefuseRegistration(1099106);
  EXPECT_FALSE(RegisterFalloffPlugin(1099106, "F", 0, AllocNoFalloff, ""));
  EXPECT_EQ(kwhost::RegisteredPlugins().size(), 1u);
  kwhost::ClearRegistry();  // forgets the refusal too
  EXPECT_TRUE(RegisterFalloffPlugin(1099106, "F", 0, AllocNoFalloff, ""));
}

TEST_F(RegistryTest, TakesTheIconAndKeepsItsFileName) {
  const auto folder =
      std::filesystem::temp_directory_path() / ("kwhost_icon_" + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  // The smallest valid TIFF: one 8-bit grey pixel, written out byte by byte.
  const unsigned char tiff[] = {'I',  'I',  42, 0, 8, 0, 0, 0,  // header, first directory at 8
                                8,    0,                        // eight entries
                                0x00, 0x01, 3,  0, 1, 0, 0, 0, 1,   0, 0, 0,  // width 1
                                0x01, 0x01, 3,  0, 1, 0, 0, 0, 1,   0, 0, 0,  // length 1
                                0x02, 0x01, 3,  0, 1, 0, 0, 0, 8,   0, 0, 0,  // 8 bits
                                0x03, 0x01, 3,  0, 1, 0, 0, 0, 1,   0, 0, 0,  // no compression
                                0x06, 0x01, 3,  0, 1, 0, 0, 0, 1,   0, 0, 0,  // black is zero
                                0x11, 0x01, 4,  0, 1, 0, 0, 0, 110, 0, 0, 0,  // strip at 110
                                0x16, 0x01, 3,  0, 1, 0, 0, 0, 1,   0, 0, 0,  // one row per strip
                                0x17, 0x01, 4,  0, 1, 0, 0, 0, 1,   0, 0, 0,  // one byte in it
                                0,    0,    0,  0,  // no further directory
                                200};
  const auto file = folder / "kwtwirl.tif";
  std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(tiff), sizeof tiff);

  for (bool registered : {true, false}) {
    BaseBitmap* icon = BaseBitmap::Alloc();
    ASSERT_TRUE(icon->Init(file.string()));
    // Taken whether the registration succeeds or not: the fixture finds no leak.
    EXPECT_EQ(RegisterObjectPlugin(1099101, "Twirl", OBJECT_MODIFIER, hosttest::AllocTestData, "",
                                   icon, 1),
              registered);
  }
  EXPECT_EQ(kwhost::FindPlugin(1099101)->icon, "kwtwirl.tif");
  std::filesystem::remove_all(folder);
}

}  // namespace
