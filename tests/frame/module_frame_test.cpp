// The module frame: c4d_main's actions, the start's failure rules and the banners, first
// in-process on a fresh module state, then through the real module files.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "frame/module_tables.h"
#include "kwtest_plugins.h"

namespace {

using kw::frame::ModuleMain;
using kw::frame::ModuleSpec;
using kw::frame::ModuleState;

void* Message(LONG id) {
  return reinterpret_cast<void*>(static_cast<std::intptr_t>(id));
}

std::string ModuleFolder(const char* module) {
  return std::string(KW_PLUGIN_DIR) + "/" + module;
}

class ModuleFrameTest : public kwtest::HostTest {
 protected:
  void SetUp() override {
    kwhost::ClearRegistry();
    HostTest::SetUp();
  }
  void TearDown() override {
    // The state owns a resource; release it before the leak check.
    while (state.initCount > 0) ModuleMain(spec(), state, C4DPL_END, nullptr, nullptr, nullptr);
    HostTest::TearDown();
    kwhost::ClearRegistry();
  }
  const ModuleSpec& spec() const { return kw::frame::VexwarpModule(); }

  LONG Init(const HostInterface* host, const char* folder) {
    return ModuleMain(spec(), state, C4DPL_INIT_SYS, const_cast<HostInterface*>(host), nullptr,
                      const_cast<char*>(folder));
  }
  LONG Call(LONG action, void* first = nullptr) {
    return ModuleMain(spec(), state, action, first, nullptr, nullptr);
  }

  ModuleState state;
  std::string folder = ModuleFolder("vexwarp");
};

TEST_F(ModuleFrameTest, InitialisationRefusesAnOldHostOrAMissingFolder) {
  const HostInterface old{12999, "old"};
  const HostInterface current{13000, "current"};
  struct Case {
    const HostInterface* host;
    const char* folder;
    LONG expected;
  } cases[] = {
      {nullptr, folder.c_str(), -3},
      {&old, folder.c_str(), -3},
      {&current, nullptr, -3},
      {&current, folder.c_str(), 1},
  };
  for (const Case& c : cases) {
    ModuleState fresh;
    EXPECT_EQ(ModuleMain(spec(), fresh, C4DPL_INIT_SYS, const_cast<HostInterface*>(c.host), nullptr,
                         const_cast<char*>(c.folder)),
              c.expected);
    EXPECT_EQ(fresh.initCount, c.expected == 1 ? 1 : 0);
  }
}

TEST_F(ModuleFrameTest, ActionResults) {
  ASSERT_EQ(Init(GetHostInterface(), folder.c_str()), 1);
  EXPECT_EQ(Call(C4DPL_QUERY), 5);
  EXPECT_EQ(Call(5), -1);
  EXPECT_EQ(Call(99), -1);
  EXPECT_EQ(Call(C4DPL_MESSAGE, Message(2)), -1);  // only message 1 is the frame's
  EXPECT_EQ(Call(C4DPL_MESSAGE, Message(C4DMSG_INIT_RESOURCES)), 1);
  EXPECT_EQ(Call(C4DPL_START), 1);
  EXPECT_EQ(Call(C4DPL_END), 1);
  EXPECT_EQ(state.initCount, 0);
}

TEST_F(ModuleFrameTest, SecondInitialisationOnlyCountsAndTheLastEndReleases) {
  ASSERT_EQ(Init(GetHostInterface(), folder.c_str()), 1);
  ASSERT_EQ(Call(C4DPL_MESSAGE, Message(C4DMSG_INIT_RESOURCES)), 1);
  // A second initialisation with a bad folder does not rebind.
  EXPECT_EQ(Init(GetHostInterface(), nullptr), 1);
  EXPECT_EQ(state.folder, folder);

  EXPECT_EQ(Call(C4DPL_END), 1);
  EXPECT_EQ(state.folder, folder);
  EXPECT_TRUE(state.resource.IsLoaded());
  EXPECT_EQ(state.resource.LoadString(0), "Expand");
  EXPECT_EQ(Call(C4DPL_START), 1) << "the module stays usable after one of two ends";

  EXPECT_EQ(Call(C4DPL_END), 1);
  EXPECT_TRUE(state.folder.empty());
  EXPECT_FALSE(state.resource.IsLoaded());
  EXPECT_EQ(Call(C4DPL_END), 1) << "an unmatched end changes nothing";
  EXPECT_EQ(state.initCount, 0);
}

TEST_F(ModuleFrameTest, MissingResourceFailsTheMessageAndLeavesNamesEmpty) {
  const std::string empty = testing::TempDir() + "/kw_no_resources";
  std::filesystem::create_directories(empty);
  ASSERT_EQ(Init(GetHostInterface(), empty.c_str()), 1);
  EXPECT_EQ(Call(C4DPL_MESSAGE, Message(C4DMSG_INIT_RESOURCES)), -1);
  EXPECT_EQ(state.resource.LoadString(0), "");
  EXPECT_EQ(Call(C4DPL_START), 0) << "no description can be registered without resources";
  EXPECT_TRUE(kwhost::ConsoleLines().empty());
}

// Which registrations fail -> whether the start succeeds and what the console shows.
struct StartCase {
  const char* label;
  const ModuleSpec& (*module)();
  const char* folder;
  std::vector<LONG> refused;
  bool started;
  std::vector<std::string> console;
};

class ModuleStartTest : public kwtest::HostTest, public ::testing::WithParamInterface<StartCase> {
 protected:
  void SetUp() override {
    kwhost::ClearRegistry();
    HostTest::SetUp();
  }
  void TearDown() override {
    HostTest::TearDown();
    kwhost::ClearRegistry();
  }
};

TEST_P(ModuleStartTest, FailureRuleAndBanner) {
  const StartCase& c = GetParam();
  const ModuleSpec& spec = c.module();
  for (LONG id : c.refused) kwhost::RefuseRegistration(id);
  GeResource resource;
  ASSERT_TRUE(resource.Init(ModuleFolder(c.folder)));

  EXPECT_EQ(kw::frame::StartModule(spec, resource), c.started);
  EXPECT_EQ(kwhost::ConsoleLines(), c.console);
  EXPECT_EQ(kwhost::RegisteredPlugins().size(), spec.pluginCount - c.refused.size());
}

const std::vector<std::string> kVexwarpBanner{" ", "Vexwarp v1.05", " "};

INSTANTIATE_TEST_SUITE_P(
    Modules, ModuleStartTest,
    ::testing::Values(
        StartCase{"VexwarpAll", kw::frame::VexwarpModule, "vexwarp", {}, true, kVexwarpBanner},
        StartCase{"VexwarpOneOfFour",
                  kw::frame::VexwarpModule,
                  "vexwarp",
                  {1031649, 1032036, 1031759},
                  true,
                  kVexwarpBanner},
        StartCase{"VexwarpNone",
                  kw::frame::VexwarpModule,
                  "vexwarp",
                  {1031649, 1032036, 1031654, 1031759},
                  false,
                  {}},
        StartCase{"QuillformNone",
                  kw::frame::QuillformModule,
                  "quillform",
                  {1029695, 1030430, 1030431, 1030432},
                  false,
                  {}},
        StartCase{"Quillform",
                  kw::frame::QuillformModule,
                  "quillform",
                  {},
                  true,
                  {" ", "Quillform v1.37", " "}},
        StartCase{"Fieldwise",
                  kw::frame::FieldwiseModule,
                  "fieldwise",
                  {},
                  true,
                  {" ", "Fieldwise v1.10", " "}},
        StartCase{
            "FieldwiseRefused", kw::frame::FieldwiseModule, "fieldwise", {1029531}, false, {}},
        StartCase{"Grainfield",
                  kw::frame::GrainfieldModule,
                  "grainfield",
                  {},
                  true,
                  {" ", "Grainfield v0.01", " "}},
        StartCase{"Mergefield",
                  kw::frame::MergefieldModule,
                  "mergefield",
                  {},
                  true,
                  {" ", "Mergefield v1.01", " "}},
        StartCase{"Nullpin", kw::frame::NullpinModule, "nullpin", {}, true, {"Nullpin v1.00"}},
        StartCase{"NullpinRefused", kw::frame::NullpinModule, "nullpin", {Tnullpin}, false, {}}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(ModuleFrameTest, MissingIconLeavesThePluginRegisteredWithoutIcon) {
  // A copy of the Nullpin resources without its icon.
  const std::filesystem::path copy = testing::TempDir() + "/kw_nullpin_noicon";
  std::filesystem::remove_all(copy);
  std::filesystem::copy(ModuleFolder("nullpin"), copy, std::filesystem::copy_options::recursive);
  std::filesystem::remove(copy / "res" / "nullpin.tif");
  GeResource resource;
  ASSERT_TRUE(resource.Init(copy.string()));

  ASSERT_TRUE(kw::frame::StartModule(kw::frame::NullpinModule(), resource));
  const kwhost::PluginInfo* info = kwhost::FindPlugin(Tnullpin);
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->icon, "");
  EXPECT_EQ(info->name, "Nullpin");
}

TEST_F(ModuleFrameTest, AllocatorsReturnNullWhenMemoryIsExhausted) {
  using kw::frame::PluginKind;
  for (const ModuleSpec* spec : {&kw::frame::VexwarpModule(), &kw::frame::QuillformModule(),
                                 &kw::frame::FieldwiseModule(), &kw::frame::GrainfieldModule(),
                                 &kw::frame::MergefieldModule(), &kw::frame::NullpinModule()}) {
    for (size_t i = 0; i < spec->pluginCount; ++i) {
      const auto& entry = spec->plugins[i];
      kwhost::memory::FailAllocationsFrom(1);
      if (entry.kind == PluginKind::FalloffShape) {
        EXPECT_EQ(entry.falloffAllocator(), nullptr) << entry.className;
      } else {
        EXPECT_EQ(entry.allocator(), nullptr) << entry.className;
      }
      kwhost::memory::FailAllocationsFrom(0);
    }
  }
}

// The real module files, loaded through c4d_main by the host's loader.
struct ExpectedPlugin {
  const char* module;
  kwhost::PluginKind kind;
  LONG id;
  const char* className;
  const char* name;
  const char* description;
  const char* icon;
  LONG flags;
  LONG diskLevel;
};

TEST_F(ModuleFrameTest, LoadsTheSixModulesThroughTheirEntryPoints) {
  using kwhost::PluginKind;
  const ExpectedPlugin expected[] = {
      {"Fieldwise", PluginKind::Falloff, 1029531, "Fieldwise", "Fieldwise", "ofalloff_kw", "", 0,
       0},
      {"Grainfield", PluginKind::Falloff, 1032559, "Grainfield", "Grainfield", "onoisefalloff_kw",
       "", 0, 0},
      {"Mergefield", PluginKind::Falloff, 1031672, "Mergefield", "Mergefield", "oboolefalloff_kw",
       "", 0, 0},
      {"Nullpin", PluginKind::Tag, 1030379, "Nullpin", "Nullpin", "tnullpin_kw", "nullpin.tif", 1,
       0},
      {"Quillform", PluginKind::Deformer, 1029695, "KWSphereWrap", "Dazori Roru",
       "ospherewrapdeformer_kw", "kwspherewrap.tif", 1, 1},
      {"Quillform", PluginKind::Deformer, 1030430, "KWTwirl", "Twirl", "otwirldeformer_kw",
       "kwtwirl.tif", 1, 1},
      {"Quillform", PluginKind::Deformer, 1030431, "KWScrollRoll", "Reduze Zivi",
       "oscrollrolldeformer_kw", "kwscrollroll.tif", 1, 1},
      {"Quillform", PluginKind::Deformer, 1030432, "KWImpact", "Impact", "oimpactdeformer_kw",
       "kwimpact.tif", 1, 1},
      {"Vexwarp", PluginKind::Deformer, 1031649, "KWRebend", "Rebend", "orebenddeformer_kw",
       "kwrebend.tif", 1, 1},
      {"Vexwarp", PluginKind::Deformer, 1032036, "KWMotionStretch", "Ridado Reruvod",
       "omotionstretchdeformer_kw", "kwmotionstretch.tif", 1, 3},
      {"Vexwarp", PluginKind::Deformer, 1031654, "KWExpand", "Expand", "oexpanddeformer_kw",
       "kwexpand.tif", 1, 1},
      {"Vexwarp", PluginKind::Deformer, 1031759, "KWSeam", "Seam", "oseamdeformer_kw", "kwseam.tif",
       1, 1},
  };

  {
    kwhost::ModuleLoader loader;
    ASSERT_TRUE(loader.LoadFolder(KW_PLUGIN_DIR)) << loader.LastError();
    ASSERT_EQ(loader.Modules().size(), 6u);
    for (const auto& module : loader.Modules()) EXPECT_TRUE(module.started) << module.name;

    const std::vector<std::string> banners{" ",
                                           "Fieldwise v1.10",
                                           " ",
                                           " ",
                                           "Grainfield v0.01",
                                           " ",
                                           " ",
                                           "Mergefield v1.01",
                                           " ",
                                           "Nullpin v1.00",
                                           " ",
                                           "Quillform v1.37",
                                           " ",
                                           " ",
                                           "Vexwarp v1.05",
                                           " "};
    EXPECT_EQ(kwhost::ConsoleLines(), banners);

    const auto& plugins = kwhost::RegisteredPlugins();
    ASSERT_EQ(plugins.size(), std::size(expected));
    for (size_t i = 0; i < plugins.size(); ++i) {
      const auto& e = expected[i];
      const auto& p = plugins[i];
      SCOPED_TRACE(e.className);
      EXPECT_EQ(p.module, e.module);
      EXPECT_EQ(p.kind, e.kind);
      EXPECT_EQ(p.id, e.id);
      EXPECT_EQ(p.className, e.className);
      EXPECT_EQ(p.name, e.name);
      EXPECT_EQ(p.description, e.description);
      EXPECT_EQ(p.icon, e.icon);
      EXPECT_EQ(p.flags, e.flags);
      if (e.kind != PluginKind::Falloff) {
        EXPECT_EQ(p.diskLevel, e.diskLevel);
      }
    }

    // A plug-in of a loaded module works through the host: a tag holds its link.
    BaseObject* target = BaseObject::Alloc(Onull);
    BaseObject* deformer = BaseObject::Alloc(1030430);
    ASSERT_NE(target, nullptr);
    ASSERT_NE(deformer, nullptr);
    doc->InsertObject(target, nullptr, nullptr);
    doc->InsertObject(deformer, nullptr, nullptr);
    BaseTag* tag = deformer->MakeTag(Tnullpin);
    ASSERT_NE(tag, nullptr);
    tag->GetDataInstance()->SetLink(1000, target);
    EXPECT_EQ(tag->GetDataInstance()->GetLink(1000, doc), target);
    BaseObject::Free(deformer);
    BaseObject::Free(target);
  }
}

}  // namespace

namespace {

TEST(ModuleFiles, ExportOnlyTheEntryPoint) {
  for (const char* module :
       {"vexwarp", "quillform", "fieldwise", "grainfield", "mergefield", "nullpin"}) {
    const std::string file = std::string(KW_PLUGIN_DIR) + "/" + module + "/" + module + ".cdl64";
    const std::string command = "nm -D --defined-only '" + file + "' 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[256];
    while (fgets(buffer, sizeof buffer, pipe)) output += buffer;
    ASSERT_EQ(pclose(pipe), 0) << output;
    std::vector<std::string> symbols;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
      symbols.push_back(line.substr(line.find_last_of(' ') + 1));
    }
    EXPECT_EQ(symbols, std::vector<std::string>{"c4d_main"}) << module;
  }
}

}  // namespace
