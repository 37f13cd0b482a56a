// The built kwhost program end to end: golden scenes, the plug-in listing, OBJ files, the
// report, pictures, samples, and what every failure leaves behind (one message, a status,
// no files).
//
// The golden reports in tests/scenes/<name>.expected.json are compared within a tolerance.
// After a change that is meant to alter them, regenerate them with
//   KW_REGENERATE=1 build/bin/cli_tests --gtest_filter='KwhostProgram.GoldenScenes'
// and review the diff before committing it.
#include <cairo.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "obj_io.h"
#include "output.h"
#include "values.h"

namespace kwcli {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::StartsWith;

const fs::path kScenes = fs::path(KW_SOURCE_DIR) / "tests" / "scenes";
const fs::path kExamples = fs::path(KW_SOURCE_DIR) / "examples";

struct Result {
  int status = -1;
  std::string out, err;
};

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (const char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class KwhostProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    // The process ID keeps builds that run the tests at the same time apart.
    work = fs::path(::testing::TempDir()) /
           ("kwhost-" + std::to_string(::getpid()) + "-" + info->name());
    fs::remove_all(work);
    fs::create_directories(work);
  }
  void TearDown() override { fs::remove_all(work); }

  /// Runs the program with the build's plug-ins; standard output and error are captured.
  Result Run(const std::vector<std::string>& args, bool withPlugins = true) {
    std::string command = Quote(KW_BIN_DIR "/kwhost");
    if (withPlugins) command += " --plugins " + Quote(KW_PLUGIN_DIR);
    for (const std::string& a : args) command += " " + Quote(a);
    const fs::path out = work / "stdout.txt", err = work / "stderr.txt";
    command += " >" + Quote(out.string()) + " 2>" + Quote(err.string()) + " </dev/null";
    const int raw = std::system(command.c_str());
    Result r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = ReadFile(out);
    r.err = ReadFile(err);
    fs::remove(out);
    fs::remove(err);
    return r;
  }

  /// Every file below `folder`, as paths relative to it.
  static std::vector<std::string> FilesIn(const fs::path& folder) {
    std::vector<std::string> files;
    if (!fs::exists(folder)) return files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
      if (entry.is_regular_file()) files.push_back(fs::relative(entry.path(), folder).string());
    }
    std::sort(files.begin(), files.end());
    return files;
  }

  fs::path work;
};

/// The first difference between two reports, numbers within a tolerance; "" when equal.
std::string Difference(const Json& expected, const Json& actual, const std::string& path) {
  if (expected.is_number() && actual.is_number()) {
    const double e = expected.get<double>(), a = actual.get<double>();
    return std::abs(e - a) <= 1e-9 + 1e-9 * std::abs(e)
               ? ""
               : path + ": expected " + expected.dump() + ", got " + actual.dump();
  }
  if (expected.type() != actual.type()) {
    return path + ": expected " + expected.dump() + ", got " + actual.dump();
  }
  if (expected.is_object()) {
    for (const auto& [key, value] : expected.items()) {
      if (!actual.contains(key)) return path + "." + key + ": missing";
      const std::string d = Difference(value, actual[key], path + "." + key);
      if (!d.empty()) return d;
    }
    for (const auto& [key, value] : actual.items()) {
      if (!expected.contains(key)) return path + "." + key + ": not expected";
    }
    return "";
  }
  if (expected.is_array()) {
    if (expected.size() != actual.size()) {
      return path + ": expected " + std::to_string(expected.size()) + " items, got " +
             std::to_string(actual.size());
    }
    for (size_t i = 0; i < expected.size(); ++i) {
      const std::string d =
          Difference(expected[i], actual[i], path + "[" + std::to_string(i) + "]");
      if (!d.empty()) return d;
    }
    return "";
  }
  return expected == actual ? ""
                            : path + ": expected " + expected.dump() + ", got " + actual.dump();
}

TEST_F(KwhostProgram, GoldenScenes) {
  const bool regenerate =
      std::getenv("KW_REGENERATE") && std::string(std::getenv("KW_REGENERATE")) == "1";
  int scenes = 0;
  for (const auto& entry : fs::directory_iterator(kScenes)) {
    const fs::path scene = entry.path();
    if (scene.extension() != ".json" || scene.string().ends_with(".expected.json")) continue;
    ++scenes;
    SCOPED_TRACE(scene.filename().string());
    const fs::path report = work / "report.json";
    std::vector<std::string> args = {"eval", scene.string(), "--json", report.string()};
    fs::path extra = scene;
    extra.replace_extension(".args");
    std::ifstream argsFile(extra);
    for (std::string line; std::getline(argsFile, line);) {
      if (!line.empty()) args.push_back(line);
    }
    const Result r = Run(args);
    ASSERT_EQ(r.status, 0) << r.err;
    const Json actual = Json::parse(ReadFile(report));
    fs::path expectedFile = scene;
    expectedFile.replace_extension(".expected.json");
    if (regenerate) {
      std::ofstream(expectedFile) << FormatJson(actual);
      continue;
    }
    ASSERT_TRUE(fs::exists(expectedFile)) << "no " << expectedFile << "; run with KW_REGENERATE=1";
    EXPECT_EQ(Difference(Json::parse(ReadFile(expectedFile)), actual, "report"), "");
  }
  EXPECT_GE(scenes, 1);
}

// The examples a user is pointed to keep working.
TEST_F(KwhostProgram, ExamplesEvaluateAndRender) {
  int examples = 0;
  for (const auto& entry : fs::directory_iterator(kExamples)) {
    if (entry.path().extension() != ".json") continue;
    ++examples;
    SCOPED_TRACE(entry.path().filename().string());
    Result r = Run({"eval", entry.path().string(), "--json", "-"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(Json::parse(r.out)["objects"].empty());
    r = Run(
        {"render", entry.path().string(), "--out", (work / "p.png").string(), "--size", "64x48"});
    EXPECT_EQ(r.status, 0) << r.err;
  }
  EXPECT_GE(examples, 3);
}

TEST_F(KwhostProgram, PluginsListsEveryRegistration) {
  const Result r = Run({"plugins", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  const Json listing = Json::parse(r.out);
  ASSERT_EQ(listing["modules"].size(), 6u);
  for (const Json& m : listing["modules"]) EXPECT_TRUE(m["started"].get<bool>()) << m.dump();
  EXPECT_THAT(listing["console"].get<std::vector<std::string>>(),
              ::testing::IsSupersetOf({"Vexwarp v1.05", "Quillform v1.37", "Nullpin v1.00"}));
  ASSERT_EQ(listing["plugins"].size(), 12u);
  std::map<int, Json> byId;
  for (const Json& p : listing["plugins"]) byId[p["id"].get<int>()] = p;
  EXPECT_EQ(byId[1030430], Json::parse(R"({"module": "Quillform", "kind": "deformer",
      "id": 1030430, "class": "KWTwirl", "name": "Twirl", "description": "otwirldeformer_kw",
      "icon": "kwtwirl.tif", "flags": 1, "diskLevel": 1})"));
  EXPECT_EQ(byId[1031672]["kind"], "falloff");
  EXPECT_EQ(byId[1031672]["icon"], nullptr);
  EXPECT_EQ(byId[1031672]["diskLevel"], nullptr);
  EXPECT_EQ(byId[1030379]["kind"], "tag");
  EXPECT_EQ(byId[1032036]["diskLevel"], 3);

  const Result text = Run({"plugins"});
  ASSERT_EQ(text.status, 0);
  EXPECT_THAT(text.out, HasSubstr("Quillform v1.37\n"));
  EXPECT_THAT(text.out, ::testing::ContainsRegex("Quillform +deformer +1030430 +KWTwirl +Twirl "
                                                 "+otwirldeformer_kw +kwtwirl.tif +1 +1\n"));
}

TEST_F(KwhostProgram, ObjFilesHoldTheReportedPoints) {
  const fs::path out = work / "meshes";
  const Result r = Run({"eval", (kScenes / "primitives.json").string(), "--out", out.string(),
                        "--json", (work / "report.json").string()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(FilesIn(out), (std::vector<std::string>{"Ball.obj", "Box.obj", "Floor.obj"}));
  EXPECT_THAT(r.out, HasSubstr("wrote " + (out / "Floor.obj").string() + "\n"));
  const Json report = Json::parse(ReadFile(work / "report.json"));
  for (const Json& object : report["objects"]) {
    if (!object.contains("points")) continue;
    const std::string name = object["name"];
    const Mesh mesh = ReadObj((out / (name + ".obj")).string(), name);
    ASSERT_EQ(mesh.points.size(), object["points"].size()) << name;
    for (size_t i = 0; i < mesh.points.size(); ++i) {
      // Both the OBJ file and the report keep every bit of the evaluated points.
      EXPECT_EQ(mesh.points[i], *VectorFromJson(object["points"][i])) << name << " " << i;
    }
  }
  // The cube of 2 x 1 x 2 segments has 2·(4 + 2 + 2) quads.
  EXPECT_EQ(ReadObj((out / "Box.obj").string(), "Box").polygons.size(), 16u);
}

TEST_F(KwhostProgram, ReportToStandardOutputAndTimings) {
  const Result r = Run({"eval", (kScenes / "minimal.json").string(), "--json", "-", "--repeat", "3",
                        "--frame", "4"});
  ASSERT_EQ(r.status, 0) << r.err;
  const Json report = Json::parse(r.out);
  EXPECT_EQ(report["frame"], 4);
  EXPECT_DOUBLE_EQ(report["time"].get<double>(), 4.0 / 30.0);
  EXPECT_EQ(report["timing"]["passes"], 3);
  EXPECT_LE(report["timing"]["minMs"].get<double>(), report["timing"]["medianMs"].get<double>());
  EXPECT_THAT(r.err, StartsWith("timing: 3 passes, median "));
}

// A PNG's size sits in its IHDR chunk; cairo decodes it to show it is a whole picture.
TEST_F(KwhostProgram, RendersPngAndSvgOfTheAskedSize) {
  const fs::path png = work / "pic.png";
  Result r = Run(
      {"render", (kExamples / "twirl.json").string(), "--out", png.string(), "--size", "321x123"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string bytes = ReadFile(png);
  ASSERT_GE(bytes.size(), 24u);
  EXPECT_EQ(bytes.substr(0, 8), "\x89PNG\r\n\x1a\n");
  auto be32 = [&](size_t at) {
    return (static_cast<unsigned char>(bytes[at]) << 24) |
           (static_cast<unsigned char>(bytes[at + 1]) << 16) |
           (static_cast<unsigned char>(bytes[at + 2]) << 8) |
           static_cast<unsigned char>(bytes[at + 3]);
  };
  EXPECT_EQ(be32(16), 321u);
  EXPECT_EQ(be32(20), 123u);
  cairo_surface_t* decoded = cairo_image_surface_create_from_png(png.c_str());
  ASSERT_EQ(cairo_surface_status(decoded), CAIRO_STATUS_SUCCESS);
  EXPECT_EQ(cairo_image_surface_get_width(decoded), 321);
  EXPECT_EQ(cairo_image_surface_get_height(decoded), 123);
  // Something was drawn over the background: the picture holds more than one colour.
  const auto* pixels = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(decoded));
  const int stride = cairo_image_surface_get_stride(decoded) / 4;
  int differing = 0;
  for (int y = 0; y < 123; ++y) {
    for (int x = 0; x < 321; ++x) differing += pixels[y * stride + x] != pixels[0];
  }
  EXPECT_GT(differing, 321 * 123 / 20);
  cairo_surface_destroy(decoded);

  const fs::path svg = work / "pic.SVG";
  r = Run({"render", (kExamples / "falloff.json").string(), "--out", svg.string(), "--size",
           "640x480", "--wireframe"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string text = ReadFile(svg);
  EXPECT_THAT(text, StartsWith("<?xml"));
  EXPECT_THAT(text, HasSubstr(R"(width="640pt" height="480pt" viewBox="0 0 640 480")"));
  EXPECT_THAT(text, HasSubstr("<path"));
  EXPECT_THAT(text, ::testing::EndsWith("</svg>\n"));
  EXPECT_EQ(FilesIn(work), (std::vector<std::string>{"pic.SVG", "pic.png"}));
}

TEST_F(KwhostProgram, SamplesWeightsOfDeformersAndFalloffObjects) {
  const std::string scene = (kScenes / "mergefield.json").string();
  Result r = Run({"sample", scene, "--object", "A", "--at", "-60,0,0", "--at", "0,0,0", "--at",
                  "1e3,0,0", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Difference(Json::parse(R"([{"at": [-60, 0, 0], "weight": 1, "raw": 1},
                                       {"at": [0, 0, 0], "weight": 0.5, "raw": 0.5},
                                       {"at": [1000, 0, 0], "weight": 0, "raw": 0}])"),
                       Json::parse(r.out), "samples"),
            "");
  // The Mergefield shape on the Twirl: (a − b) mixed by 0.75, where A's sphere gives 1 and
  // B's box 0 at A's centre.
  r = Run({"sample", scene, "--object", "Twirl", "--at", "-60,0,0"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "-60,0,0  weight 1  raw 1\n");

  r = Run({"sample", scene, "--object", "Sheet", "--at", "0,0,0"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "--object Sheet: a plane carries no falloff (deformers and falloff objects do)\n");
}

// Each failure: its status, exactly one line on standard error, nothing on standard output
// and no file in the output folder (not even a temporary one).
TEST_F(KwhostProgram, FailuresLeaveOneMessageAndNoFiles) {
  const fs::path bad = work / "bad.json";
  std::ofstream(bad)
      << R"({"objects": [{"name": "T", "type": "Twirl", "params": {"TWIRL_RADIUS": "x"}}]})";
  const fs::path slash = work / "slash.json";
  std::ofstream(slash) << R"({"objects": [{"name": "a/b", "type": "plane"}]})";
  const fs::path twins = work / "twins.json";
  std::ofstream(twins) << R"({"objects": [{"name": "P", "type": "plane"},
                                          {"name": "P", "type": "cube"}]})";
  const fs::path out = work / "out";
  const std::string minimal = (kScenes / "minimal.json").string();
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string message;
    bool withPlugins = true;
  } cases[] = {
      {{"eval", bad.string(), "--out", out.string(), "--json", (out / "r.json").string()},
       1,
       bad.string() + ": objects[0].params.TWIRL_RADIUS: expected a number"},
      {{"eval", slash.string(), "--out", out.string()},
       1,
       slash.string() + ": object 'a/b': its name cannot name an OBJ file"},
      {{"eval", twins.string(), "--out", out.string(), "--json", (out / "r.json").string()},
       1,
       twins.string() + ": two point objects are named 'P'; their OBJ files would collide"},
      {{"eval", (work / "none.json").string(), "--out", out.string()},
       1,
       (work / "none.json").string() + ": cannot read: No such file or directory"},
      {{"eval", minimal, "--press", "Twirl:NOPE", "--out", out.string()},
       1,
       "--press Twirl:NOPE: Twirl has no parameter 'NOPE'"},
      // The meshes are staged before the report fails; they must go too.
      {{"eval", minimal, "--out", out.string(), "--json", (work / "no/such/dir/r.json").string()},
       5,
       (work / "no/such/dir/r.json").string() + ": cannot write: No such file or directory"},
      {{"render", minimal, "--out", (out / "p.jpg").string()},
       2,
       "--out " + (out / "p.jpg").string() + ": expected a .png or .svg file"},
      {{"render", minimal, "--out", (out / "p.png").string(), "--size", "0x10"},
       2,
       "--size 0x10: expected WxH, each from 1 to 16384"},
      {{"sample", minimal, "--object", "Twirl", "--at", "1,2"}, 2, "--at 1,2: expected X,Y,Z"},
      {{"sample", minimal, "--object", "Ghost", "--at", "1,2,3"},
       1,
       "--object Ghost: no object is named 'Ghost'"},
      {{"--plugins", (work / "nowhere").string(), "eval", minimal, "--out", out.string()},
       3,
       (work / "nowhere").string() + ": cannot read the plug-in folder...",
       false},
  };
  for (const Case& c : cases) {
    const Result r = Run(c.args, c.withPlugins);
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    EXPECT_EQ(r.status, c.status) << r.err;
    if (c.message.ends_with("...")) {
      EXPECT_THAT(r.err, StartsWith(c.message.substr(0, c.message.size() - 3)));
    } else {
      EXPECT_EQ(r.err, c.message + "\n");
    }
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(FilesIn(out), std::vector<std::string>()) << "left behind";
  }
}

TEST_F(KwhostProgram, CommandLineMistakesAreUsageErrors) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{},
                                               {"frobnicate"},
                                               {"eval"},
                                               {"eval", "s.json", "--bogus"},
                                               {"render", "s.json"},
                                               {"eval", "s.json", "--repeat", "0"}}) {
    const Result r = Run(args);
    EXPECT_EQ(r.status, 2) << ::testing::PrintToString(args) << r.err;
    EXPECT_THAT(r.err, ::testing::EndsWith(" (see --help)\n"));
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  }
  const Result help = Run({"eval", "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_THAT(help.out, HasSubstr("--press"));
}

}  // namespace
}  // namespace kwcli
