// Loading modules through c4d_main.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "kwtest.h"

namespace {

namespace fs = std::filesystem;

class LoaderTest : public kwtest::HostTest {
 protected:
  void TearDown() override {
    HostTest::TearDown();
    kwhost::ClearRegistry();
  }
};

TEST_F(LoaderTest, ReportsFoldersAndFilesItCannotUse) {
  kwhost::ModuleLoader loader;
  EXPECT_FALSE(loader.LoadFolder("/nonexistent/kwhost/plugins"));
  EXPECT_FALSE(loader.LastError().empty());

  const fs::path folder = fs::temp_directory_path() / ("kwhost_loader_" + std::to_string(getpid()));
  fs::create_directories(folder / "broken");
  std::ofstream(folder / "broken" / "broken.cdl64") << "not a shared library";
  std::ofstream(folder / "readme.txt") << "ignored";
  ASSERT_TRUE(loader.LoadFolder(folder.string()));
  ASSERT_EQ(loader.Modules().size(), 1u);
  EXPECT_EQ(loader.Modules()[0].name, "broken");
  EXPECT_FALSE(loader.Modules()[0].started);

  EXPECT_FALSE(loader.LoadModule((folder / "missing.cdl64").string()));
  // A real shared library without the entry point.
  EXPECT_FALSE(loader.LoadModule("libm.so.6"));
  EXPECT_NE(loader.LastError().find("c4d_main"), std::string::npos);
  fs::remove_all(folder);
}

TEST_F(LoaderTest, StartsTheBuiltModulesAndEndsThemAtShutdown) {
  const fs::path module = fs::path(KW_PLUGIN_DIR) / "nullpin" / "nullpin.cdl64";
  if (!fs::exists(module)) GTEST_SKIP() << "the Nullpin module is not built";
  kwhost::ClearRegistry();
  {
    kwhost::ModuleLoader loader;
    ASSERT_TRUE(loader.LoadModule(module.string()));
    ASSERT_EQ(loader.Modules().size(), 1u);
    EXPECT_EQ(loader.Modules()[0].initResult, 1);
    EXPECT_EQ(loader.Modules()[0].startResult, 1);
    EXPECT_TRUE(loader.Modules()[0].started);
    // Message 1 loaded the resources before the start registered the tag with its name.
    const kwhost::PluginInfo* tag = kwhost::FindPlugin(Tnullpin);
    ASSERT_NE(tag, nullptr);
    EXPECT_EQ(tag->module, "Nullpin");
    EXPECT_EQ(tag->kind, kwhost::PluginKind::Tag);
    EXPECT_EQ(tag->name, "Nullpin");
    const auto& console = kwhost::ConsoleLines();
    EXPECT_NE(std::find(console.begin(), console.end(), "Nullpin v1.00"), console.end());

    BaseObject* op = BaseObject::Alloc(Onull);
    doc->InsertObject(op, nullptr, nullptr);
    EXPECT_NE(op->MakeTag(Tnullpin), nullptr);
    BaseObject::Free(op);  // before the module's code goes away
    loader.Shutdown();
    EXPECT_EQ(kwhost::FindPlugin(Tnullpin), nullptr);  // no allocator of unloaded code stays
    EXPECT_FALSE(loader.Modules()[0].started);
  }
}

TEST(DefaultPluginFolder, IsBesideTheProgramsFolder) {
  const String folder = kwhost::DefaultPluginFolder();
  // The tests run from build/bin; the build puts the modules in build/plugins.
  if (!fs::is_directory(KW_PLUGIN_DIR)) GTEST_SKIP() << "no plug-in folder built";
  EXPECT_EQ(fs::canonical(folder), fs::canonical(KW_PLUGIN_DIR));
}

}  // namespace
