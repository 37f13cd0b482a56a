#include "kwtest_plugins.h"

#include <map>
#include <memory>

namespace kwtest {

void RegisterModule(const kw::frame::ModuleSpec& spec, const char* folder) {
  // Descriptions are parsed at registration; the resource only has to outlive that, but
  // keeping one per module costs nothing and keeps names loadable.
  static std::map<std::string, std::unique_ptr<GeResource>> resources;
  auto& resource = resources[folder];
  if (!resource) {
    resource = std::make_unique<GeResource>();
    ASSERT_TRUE(resource->Init(std::string(KW_PLUGIN_DIR) + "/" + folder)) << folder;
  }
  EXPECT_EQ(kw::frame::RegisterPlugins(spec, *resource), 0u) << spec.name;
}

void RegisterAllModules() {
  using namespace kw::frame;
  RegisterModule(VexwarpModule(), "vexwarp");
  RegisterModule(QuillformModule(), "quillform");
  RegisterModule(FieldwiseModule(), "fieldwise");
  RegisterModule(GrainfieldModule(), "grainfield");
  RegisterModule(MergefieldModule(), "mergefield");
  RegisterModule(NullpinModule(), "nullpin");
}

void PluginTest::SetUp() {
  kwhost::ClearRegistry();
  RegisterAllModules();
  HostTest::SetUp();
}

void PluginTest::TearDown() {
  HostTest::TearDown();
  kwhost::ClearRegistry();
}

}  // namespace kwtest
