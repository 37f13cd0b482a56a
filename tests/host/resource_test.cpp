// Module resources: the string table, description resources and TIFF icons.
#include <gtest/gtest.h>
#include <tiffio.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <vector>

#include "kwtest.h"
#include "test_plugin.h"

namespace {

namespace fs = std::filesystem;

/// A module folder of its own under the temporary directory, removed afterwards.
class ResourceTest : public kwtest::HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    folder =
        fs::temp_directory_path() / ("kwhost_res_" + std::to_string(getpid()) + "_" + info->name());
    fs::remove_all(folder);
    fs::create_directories(folder / "res" / "description");
  }
  void TearDown() override {
    resource.Free();
    fs::remove_all(folder);
    HostTest::TearDown();
    kwhost::ClearRegistry();
  }

  void Write(const fs::path& relative, const std::string& text) {
    std::ofstream(folder / relative, std::ios::binary) << text;
  }
  void WriteDescription(const std::string& name, const std::string& text) {
    Write(fs::path("res") / "description" / (name + ".json"), text);
  }
  /// Loads a string table and registers description `name` under `id`.
  bool RegisterAs(LONG id, const std::string& name) {
    if (!resource.IsLoaded()) {
      Write("res/strings.json", R"({"strings": {"0": "Twirl"}})");
      if (!resource.Init(folder.string())) return false;
    }
    return RegisterDescription(id, name, &resource);
  }

  fs::path folder;
  GeResource resource;
};

// ---------------------------------------------------------------------------------------------
// String table

TEST_F(ResourceTest, LoadsTheStringTable) {
  Write("res/strings.json",
        R"({"strings": {"0": "Expand", "1": "Rebend", "3": "Ridado Reruvod"}})");
  ASSERT_TRUE(resource.Init(folder.string()));
  EXPECT_TRUE(resource.IsLoaded());
  EXPECT_EQ(resource.GetFolder(), folder.string());
  EXPECT_EQ(resource.LoadString(0), "Expand");
  EXPECT_EQ(resource.LoadString(3), "Ridado Reruvod");
  EXPECT_EQ(resource.LoadString(2), "");  // missing
  resource.Free();
  EXPECT_FALSE(resource.IsLoaded());
  EXPECT_EQ(resource.LoadString(0), "");
}

TEST_F(ResourceTest, MissingOrMalformedTablesLeaveItEmpty) {
  const char* bad[] = {
      "",                                       // empty file
      "{\"strings\": {\"0\": \"Expand\"",       // cut short
      "[1, 2]",                                 // not an object
      "{\"names\": {}}",                        // no table
      "{\"strings\": [\"Expand\"]}",            // table not an object
      "{\"strings\": {\"zero\": \"Expand\"}}",  // key not a number
      "{\"strings\": {\"1x\": \"Expand\"}}",
      "{\"strings\": {\"99999999999\": \"Expand\"}}",  // beyond 32 bits
      "{\"strings\": {\"0\": 5}}",                     // value not a string
  };
  EXPECT_FALSE(resource.Init(folder.string()));  // no file yet
  for (const char* text : bad) {
    Write("res/strings.json", R"({"strings": {"0": "Before"}})");
    ASSERT_TRUE(resource.Init(folder.string()));
    Write("res/strings.json", text);
    EXPECT_FALSE(resource.Init(folder.string())) << text;
    EXPECT_FALSE(resource.IsLoaded()) << text;
    EXPECT_EQ(resource.LoadString(0), "") << text;  // nothing of the earlier load is left
  }
}

// ---------------------------------------------------------------------------------------------
// Description resources

TEST_F(ResourceTest, ParsesEntriesWithTheirIncludesFirst) {
  WriteDescription("base", R"({"name": "base", "parameters": [
      {"id": 200010, "ident": "DEFORMERBASE_MAPNAME", "type": "string", "label": "Map"},
      {"id": 1000, "ident": "OLD_RADIUS", "type": "real", "label": "Old"}]})");
  WriteDescription("otwirl", R"({"name": "otwirl", "include": ["base"],
   "parameters": [
     {"id": 1000, "ident": "TWIRL_RADIUS", "type": "real", "label": "Radius", "group": "Object",
      "unit": "distance", "min": 0, "max": 1e20},
     {"id": 1002, "ident": "TWIRL_REVERSE", "type": "long", "label": "Reverse",
      "cycle": [[0, "Off"], [1, "On"]]},
     {"id": 1003, "ident": "TWIRL_HIDDEN", "type": "bool", "hide": true},
     {"id": 1004, "type": "separator"},
     {"id": 210000, "ident": "DEFORMERBASE_CREATEMAP", "type": "button", "label": "Create Map"}]})");
  ASSERT_TRUE(RegisterAs(hosttest::kTestObjectId, "otwirl"));

  Description description;
  ASSERT_TRUE(description.LoadDescription(hosttest::kTestObjectId));
  const auto& entries = description.Entries();
  ASSERT_EQ(entries.size(), 6u);
  // The include's entries come first; a later entry with the same ID takes its place.
  EXPECT_EQ(entries[0].id.id, 200010);
  EXPECT_EQ(entries[1].id.id, 1000);
  EXPECT_EQ(entries[1].bc.GetString(DESC_IDENT), "TWIRL_RADIUS");
  EXPECT_EQ(entries[2].id.id, 1002);

  const Description::Entry* radius = description.FindByIdent("TWIRL_RADIUS");
  ASSERT_NE(radius, nullptr);
  EXPECT_EQ(radius->type, DescType::Real);
  EXPECT_EQ(radius->bc.GetString(DESC_NAME), "Radius");
  EXPECT_EQ(radius->bc.GetString(DESC_GROUP), "Object");
  EXPECT_EQ(radius->bc.GetString(DESC_UNIT), "distance");
  EXPECT_EQ(radius->bc.GetReal(DESC_MIN, -1), 0.0);
  EXPECT_EQ(radius->bc.GetReal(DESC_MAX), 1e20);
  EXPECT_EQ(radius->bc.GetLong(DESC_DTYPE), static_cast<LONG>(DescType::Real));
  EXPECT_EQ(description.Find(1002)->bc.GetString(DESC_CYCLE), "0:Off;1:On");
  EXPECT_TRUE(description.Find(1003)->bc.GetBool(DESC_HIDE));
  EXPECT_FALSE(radius->bc.GetBool(DESC_HIDE));
  EXPECT_EQ(description.Find(1004)->type, DescType::Separator);
  EXPECT_EQ(description.FindByIdent("DEFORMERBASE_CREATEMAP")->type, DescType::Button);
  EXPECT_EQ(description.FindByIdent("OLD_RADIUS"), nullptr);
  EXPECT_EQ(description.FindByIdent(""), nullptr);
  EXPECT_EQ(description.Find(4242), nullptr);

  BaseContainer* bc = description.GetParameterI(DescID(1000));
  ASSERT_NE(bc, nullptr);
  bc->SetBool(DESC_HIDE, true);
  EXPECT_TRUE(description.Find(1000)->bc.GetBool(DESC_HIDE));
  EXPECT_EQ(description.GetParameterI(DescID(4242)), nullptr);

  Description byName;
  EXPECT_TRUE(byName.LoadDescription("otwirl"));
  EXPECT_EQ(byName.Entries().size(), 6u);
  EXPECT_FALSE(byName.LoadDescription("base"));  // an include is not registered by itself
  EXPECT_FALSE(byName.LoadDescription(4242));
}

TEST_F(ResourceTest, EveryTypeNameIsKnown) {
  const std::pair<const char*, DescType> types[] = {
      {"long", DescType::Long},     {"real", DescType::Real},          {"bool", DescType::Bool},
      {"string", DescType::String}, {"vector", DescType::Vector},      {"matrix", DescType::Matrix},
      {"time", DescType::Time},     {"link", DescType::Link},          {"spline", DescType::Spline},
      {"button", DescType::Button}, {"separator", DescType::Separator}};
  std::string params;
  LONG id = 1;
  for (const auto& [name, type] : types) {
    if (!params.empty()) params += ",";
    params += "{\"id\": " + std::to_string(id++) + ", \"type\": \"" + name + "\"}";
  }
  WriteDescription("all", "{\"parameters\": [" + params + "]}");
  ASSERT_TRUE(RegisterAs(hosttest::kTestObjectId, "all"));
  Description description;
  ASSERT_TRUE(description.LoadDescription(hosttest::kTestObjectId));
  for (LONG i = 0; i < LONG(std::size(types)); ++i)
    EXPECT_EQ(description.Find(i + 1)->type, types[i].second) << types[i].first;
}

TEST_F(ResourceTest, RefusesMalformedDescriptions) {
  struct Case {
    const char* why;
    const char* text;
  };
  const Case cases[] = {
      {"not JSON", "{\"parameters\": ["},
      {"not an object", "[]"},
      {"name not a string", R"({"name": 5, "parameters": []})"},
      {"parameters not an array", R"({"parameters": {"id": 1}})"},
      {"parameter not an object", R"({"parameters": [1]})"},
      {"no id", R"({"parameters": [{"type": "real"}]})"},
      {"id not an integer", R"({"parameters": [{"id": 1.5, "type": "real"}]})"},
      {"id beyond 32 bits", R"({"parameters": [{"id": 4294967296, "type": "real"}]})"},
      {"unknown type", R"({"parameters": [{"id": 1, "type": "float"}]})"},
      {"no type", R"({"parameters": [{"id": 1}]})"},
      {"label not a string", R"({"parameters": [{"id": 1, "type": "real", "label": 3}]})"},
      {"min not a number", R"({"parameters": [{"id": 1, "type": "real", "min": "0"}]})"},
      {"hide not a bool", R"({"parameters": [{"id": 1, "type": "real", "hide": 1}]})"},
      {"cycle not pairs", R"({"parameters": [{"id": 1, "type": "long", "cycle": [[0]]}]})"},
      {"cycle label", R"({"parameters": [{"id": 1, "type": "long", "cycle": [[0, 1]]}]})"},
      {"include not a list", R"({"include": "base", "parameters": []})"},
      {"missing include", R"({"include": ["nowhere"], "parameters": []})"},
      {"include outside the folder", R"({"include": ["../../strings"], "parameters": []})"},
      {"includes itself", R"({"include": ["bad"], "parameters": []})"},
  };
  for (const Case& c : cases) {
    WriteDescription("bad", c.text);
    EXPECT_FALSE(RegisterAs(hosttest::kTestObjectId, "bad")) << c.why;
  }
  EXPECT_FALSE(RegisterAs(hosttest::kTestObjectId, "absent"));
  EXPECT_FALSE(RegisterAs(hosttest::kTestObjectId, ""));
  Write("res/escape.json", R"({"parameters": []})");
  EXPECT_FALSE(RegisterAs(hosttest::kTestObjectId, "../escape"));
  Description description;
  EXPECT_FALSE(description.LoadDescription(hosttest::kTestObjectId));
}

TEST_F(ResourceTest, IncludeCyclesFail) {
  WriteDescription("a", R"({"include": ["b"], "parameters": [{"id": 1, "type": "real"}]})");
  WriteDescription("b", R"({"include": ["a"], "parameters": [{"id": 2, "type": "real"}]})");
  EXPECT_FALSE(RegisterAs(hosttest::kTestObjectId, "a"));
  // The same include twice is no cycle.
  WriteDescription("c", R"({"parameters": [{"id": 3, "type": "real"}]})");
  WriteDescription("d", R"({"include": ["c", "c"], "parameters": []})");
  EXPECT_TRUE(RegisterAs(hosttest::kTestObjectId, "d"));
}

TEST_F(ResourceTest, NeedsALoadedResource) {
  WriteDescription("ok", R"({"parameters": []})");
  GeResource empty;
  EXPECT_FALSE(RegisterDescription(1, "ok", &empty));
  EXPECT_FALSE(RegisterDescription(1, "ok", nullptr));
}

TEST_F(ResourceTest, NodeDescriptionsComeFromThePluginOrTheHost) {
  WriteDescription("otest",
                   R"({"parameters": [{"id": 1000, "ident": "TEST_VALUE", "type": "real"}]})");
  ASSERT_TRUE(RegisterAs(hosttest::kTestObjectId, "otest"));
  hosttest::Register();
  BaseObject* op = BaseObject::Alloc(hosttest::kTestObjectId);
  ASSERT_NE(op, nullptr);
  Description description;
  // The plug-in keeps NodeData's GetDescription, which loads the registered description.
  ASSERT_TRUE(kwhost::GetNodeDescription(op, description));
  EXPECT_NE(description.FindByIdent("TEST_VALUE"), nullptr);

  LONG flags = DESCFLAGS_DESC_LOADED;  // someone loaded it already: nothing is added
  Description untouched;
  EXPECT_TRUE(op->GetNodeData()->GetDescription(op, &untouched, flags));
  EXPECT_TRUE(untouched.Entries().empty());

  BaseObject* null = BaseObject::Alloc(Onull);
  Description none;
  EXPECT_FALSE(kwhost::GetNodeDescription(null, none));
  EXPECT_FALSE(kwhost::GetNodeDescription(nullptr, none));
  BaseObject::Free(op);
  BaseObject::Free(null);
}

// ---------------------------------------------------------------------------------------------
// Icons

/// Writes an RGBA TIFF of `width` × `height` through libtiff.
bool WriteTiff(const fs::path& path, std::uint32_t width, std::uint32_t height) {
  TIFF* tiff = TIFFOpen(path.c_str(), "w");
  if (!tiff) return false;
  TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height);
  TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 4);
  TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  const std::uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
  TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, extra);
  TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, height);
  std::vector<std::uint8_t> row(width * 4);
  bool ok = true;
  for (std::uint32_t y = 0; y < height && ok; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      row[x * 4 + 0] = static_cast<std::uint8_t>(x * 8);
      row[x * 4 + 1] = static_cast<std::uint8_t>(y * 8);
      row[x * 4 + 2] = 128;
      row[x * 4 + 3] = 255;
    }
    ok = TIFFWriteScanline(tiff, row.data(), y, 0) == 1;
  }
  TIFFClose(tiff);
  return ok;
}

TEST_F(ResourceTest, BitmapReadsARealTiff) {
  const fs::path file = folder / "res" / "icon.tif";
  ASSERT_TRUE(WriteTiff(file, 32, 24));
  BaseBitmap* bitmap = BaseBitmap::Alloc();
  ASSERT_NE(bitmap, nullptr);
  ASSERT_TRUE(bitmap->Init(file.string()));
  EXPECT_EQ(bitmap->GetBw(), 32);
  EXPECT_EQ(bitmap->GetBh(), 24);
  EXPECT_EQ(bitmap->GetFileName(), file.string());
  BaseBitmap::Free(bitmap);
  EXPECT_EQ(bitmap, nullptr);
}

TEST_F(ResourceTest, BitmapRefusesMissingAndBrokenFiles) {
  BaseBitmap* bitmap = BaseBitmap::Alloc();
  const fs::path good = folder / "good.tif";
  ASSERT_TRUE(WriteTiff(good, 4, 4));
  ASSERT_TRUE(bitmap->Init(good.string()));

  EXPECT_FALSE(bitmap->Init((folder / "missing.tif").string()));
  EXPECT_EQ(bitmap->GetBw(), 0);  // nothing of the earlier image stays
  EXPECT_EQ(bitmap->GetFileName(), "");
  Write("text.tif", "this is not an image");
  EXPECT_FALSE(bitmap->Init((folder / "text.tif").string()));
  // A file cut short after its header.
  std::ifstream in(good, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), {});
  Write("cut.tif", bytes.substr(0, 16));
  EXPECT_FALSE(bitmap->Init((folder / "cut.tif").string()));
  EXPECT_FALSE(bitmap->Init(folder.string()));  // a folder

  kwhost::memory::FailAllocation(1);  // the pixel buffer
  EXPECT_FALSE(bitmap->Init(good.string()));
  BaseBitmap::Free(bitmap);
}

}  // namespace
