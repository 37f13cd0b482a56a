// Building documents from JSON scenes: the tree, placement, tags, parameters of every type,
// links and the falloff shape's drag-and-drop check, Shift placement, buttons, and one clear
// message for every malformed scene.
#include "scene.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "cli_error.h"
#include "kwtest_plugins.h"
#include "report.h"
#include "sample.h"

namespace kwcli {
namespace {

using ::testing::StartsWith;

constexpr LONG kTwirl = 1030430;
constexpr LONG TWIRL_RADIUS = 1000;
constexpr LONG MERGEFIELD_LINK_A = 100000;

/// The scene of the program's documentation: a sheet with a vertex map and an edge
/// selection, a Twirl under it restricted by the map and anchored to a null.
constexpr const char* kMinimalScene = R"({
  "document": {"fps": 25, "minFrame": 0, "maxFrame": 50, "frame": 10, "active": ["Sheet"]},
  "objects": [
    {"name": "Sheet", "type": "polygon",
     "matrix": {"off": [0, 0, 0], "v1": [1, 0, 0], "v2": [0, 1, 0], "v3": [0, 0, 1]},
     "points": [[-100, 0, -100], [100, 0, -100], [100, 0, 100], [-100, 0, 100]],
     "polygons": [[0, 1, 2, 3]],
     "tags": [{"type": "vertexmap", "name": "w", "values": [1, 0.5, 0.5, 1]},
              {"type": "edgeselection", "name": "rowA", "edges": [0, 2]}],
     "children": [
      {"name": "Twirl", "type": "Twirl", "position": [0, 0, 0],
       "params": {"TWIRL_RADIUS": 150, "TWIRL_ANGLE": 1.2, "FALLOFF_MODE": "sphere",
                  "FALLOFF_SIZE": [300, 300, 300], "DEFORMERBASE_MAPNAME": "diff"},
       "tags": [{"type": "restriction", "map": "w"},
                {"type": "Nullpin", "params": {"NULLPIN_LINK": "Pin"}}]}]},
    {"name": "Pin", "type": "null", "position": [50, 0, 0]}]})";

class SceneTest : public kwtest::PluginTest {
 protected:
  static std::unique_ptr<Scene> Parse(const std::string& text) {
    return ParseScene(text, "scene.json");
  }
  /// The message a malformed scene gives, or "" when it loads.
  static std::string ErrorOf(const std::string& text) {
    try {
      Parse(text);
    } catch (const CliError& e) {
      return e.what();
    }
    return "";
  }
};

TEST_F(SceneTest, BuildsTreeTagsLinksAndDocument) {
  const auto scene = Parse(kMinimalScene);
  BaseDocument* sceneDoc = scene->Document();
  BaseObject* sheet = scene->FindObject("Sheet", "test");
  BaseObject* twirl = scene->FindObject("Twirl", "test");
  BaseObject* pin = scene->FindObject("Pin", "test");

  EXPECT_EQ(sceneDoc->GetFirstObject(), sheet);
  EXPECT_EQ(sheet->GetDown(), twirl);
  EXPECT_EQ(sheet->GetNext(), pin);
  EXPECT_EQ(twirl->GetType(), kTwirl);
  EXPECT_EQ(pin->GetMg().off, Vector(50, 0, 0));
  ASSERT_EQ(scene->Objects().size(), 3u);
  EXPECT_EQ(scene->Objects()[1].place, "objects[0].children[0]");

  EXPECT_EQ(sceneDoc->GetFps(), 25);
  EXPECT_EQ(sceneDoc->GetMaxTime().GetFrame(25), 50);
  EXPECT_EQ(sceneDoc->GetTime().GetFrame(25), 10);
  EXPECT_EQ(scene->Frame(), 10);
  EXPECT_EQ(sceneDoc->GetActiveObject(), sheet);

  const auto* points = static_cast<PolygonObject*>(sheet);
  ASSERT_EQ(points->GetPointCount(), 4);
  EXPECT_EQ(points->GetPointR()[2], Vector(100, 0, 100));
  EXPECT_EQ(points->GetPolygonR()[0], CPolygon(0, 1, 2, 3));

  const auto* map = static_cast<VariableTag*>(sheet->GetFirstTag());
  ASSERT_EQ(map->GetType(), Tvertexmap);
  EXPECT_EQ(map->GetName(), "w");
  EXPECT_EQ(std::vector<SReal>(map->GetDataAddressR(), map->GetDataAddressR() + 4),
            (std::vector<SReal>{1.0f, 0.5f, 0.5f, 1.0f}));
  const auto* edges = static_cast<SelectionTag*>(map->GetNext());
  ASSERT_EQ(edges->GetType(), Tedgeselection);
  EXPECT_EQ(edges->GetBaseSelect()->GetAll(), (std::vector<LONG>{0, 2}));

  BaseTag* restriction = twirl->GetFirstTag();
  ASSERT_EQ(restriction->GetType(), Trestriction);
  EXPECT_EQ(restriction->GetDataInstance()->GetString(1), "w");
  BaseTag* nullpin = restriction->GetNext();
  ASSERT_EQ(nullpin->GetType(), Tnullpin);
  EXPECT_EQ(nullpin->GetDataInstance()->GetLink(1000, sceneDoc), pin);
  EXPECT_EQ(FalloffGizmo(twirl), pin);

  const BaseContainer* bc = twirl->GetDataInstance();
  EXPECT_EQ(bc->GetReal(TWIRL_RADIUS), 150.0);
  EXPECT_EQ(bc->GetLong(FALLOFF_MODE), FALLOFF_MODE_SPHERE);
  EXPECT_EQ(bc->GetVector(FALLOFF_SIZE), Vector(300, 300, 300));
  EXPECT_EQ(bc->GetString(200010), "diff");
}

TEST_F(SceneTest, PlacesObjectsAsTheHostBuildsMatrices) {
  const std::string q = Json(std::numbers::pi / 2).dump();
  struct Case {
    std::string placement;
    Matrix expected;
  } cases[] = {
      {R"("position": [1, 2, 3])",
       Matrix(Vector(1, 2, 3), Vector(1, 0, 0), Vector(0, 1, 0), Vector(0, 0, 1))},
      // Heading turns about Y, pitch about X, bank about Z.
      {R"("rotation": [)" + q + ", 0, 0]",
       Matrix(Vector(), Vector(0, 0, -1), Vector(0, 1, 0), Vector(1, 0, 0))},
      {R"("rotation": [0, )" + q + ", 0]",
       Matrix(Vector(), Vector(1, 0, 0), Vector(0, 0, 1), Vector(0, -1, 0))},
      {R"("rotation": [0, 0, )" + q + "]",
       Matrix(Vector(), Vector(0, 1, 0), Vector(-1, 0, 0), Vector(0, 0, 1))},
      // H·P·B: the pitch is applied inside the heading.
      {R"("rotation": [)" + q + ", " + q + ", 0]",
       Matrix(Vector(), Vector(0, 0, -1), Vector(1, 0, 0), Vector(0, -1, 0))},
      {R"("position": [1, 2, 3], "scale": [2, 3, 4])",
       Matrix(Vector(1, 2, 3), Vector(2, 0, 0), Vector(0, 3, 0), Vector(0, 0, 4))},
      {R"("scale": 2)", Matrix(Vector(), Vector(2, 0, 0), Vector(0, 2, 0), Vector(0, 0, 2))},
      {R"("matrix": {"off": [5, 0, 0], "v2": [0, 0, 1], "v3": [0, -1, 0]})",
       Matrix(Vector(5, 0, 0), Vector(1, 0, 0), Vector(0, 0, 1), Vector(0, -1, 0))},
  };
  for (const Case& c : cases) {
    const auto scene =
        Parse(R"({"objects": [{"name": "N", "type": "null", )" + c.placement + "}]}");
    const Matrix m = scene->FindObject("N", "test")->GetMl();
    const Vector* got[] = {&m.off, &m.v1, &m.v2, &m.v3};
    const Vector* want[] = {&c.expected.off, &c.expected.v1, &c.expected.v2, &c.expected.v3};
    for (int k = 0; k < 4; ++k) {
      EXPECT_TRUE(kwtest::VectorNear(*want[k], *got[k], 1e-12)) << c.placement << " part " << k;
    }
  }
}

TEST_F(SceneTest, ChildMatricesAreRelativeToTheParent) {
  const auto scene = Parse(R"({"objects": [
      {"name": "Parent", "type": "null", "position": [10, 0, 0], "rotation": [1.5707963267948966, 0, 0],
       "children": [{"name": "Child", "type": "null", "position": [0, 0, 5]}]}]})");
  EXPECT_TRUE(
      kwtest::VectorNear(Vector(15, 0, 0), scene->FindObject("Child", "t")->GetMg().off, 1e-12));
}

TEST_F(SceneTest, PrimitivesTakeFriendlyKeysAndNumericIds) {
  const auto scene = Parse(R"({"objects": [
      {"name": "P", "type": "plane", "params": {"width": 300, "height": 100, "widthSegments": 3,
                                                 "1103": 2}},
      {"name": "C", "type": "cube", "params": {"size": [10, 20, 30], "segments": [1, 2, 3]}},
      {"name": "C1", "type": "cube", "params": {"segments": 4, "1104": 5}},
      {"name": "S", "type": "sphere", "params": {"radius": 50, "segments": 8}}]})");
  const BaseContainer* plane = scene->FindObject("P", "t")->GetDataInstance();
  EXPECT_EQ(plane->GetReal(1100), 300.0);
  EXPECT_EQ(plane->GetReal(1101), 100.0);
  EXPECT_EQ(plane->GetLong(1102), 3);
  EXPECT_EQ(plane->GetLong(1103), 2);
  const BaseContainer* cube = scene->FindObject("C", "t")->GetDataInstance();
  EXPECT_EQ(cube->GetVector(1100), Vector(10, 20, 30));
  EXPECT_EQ(cube->GetLong(1102) * 100 + cube->GetLong(1103) * 10 + cube->GetLong(1104), 123);
  const BaseContainer* cube1 = scene->FindObject("C1", "t")->GetDataInstance();
  EXPECT_EQ(cube1->GetLong(1102) * 100 + cube1->GetLong(1103) * 10 + cube1->GetLong(1104), 445);
  const BaseContainer* sphere = scene->FindObject("S", "t")->GetDataInstance();
  EXPECT_EQ(sphere->GetReal(1110), 50.0);
  EXPECT_EQ(sphere->GetLong(1111), 8);
}

// The report writes every parameter in the form the scene takes, so a report's params fed
// back into a scene rebuild the same container.
TEST_F(SceneTest, ReportedParamsLoadBackToTheSameValues) {
  const auto first = Parse(R"({"objects": [
      {"name": "Sheet", "type": "polygon", "points": [[0, 0, 0], [1, 0, 0], [0, 0, 1]],
       "polygons": [[0, 1, 2]], "tags": [{"type": "vertexmap", "name": "old", "values": [0, 0, 0]}],
       "children": [{"name": "Twirl", "type": "Twirl", "params": {
         "TWIRL_RADIUS": 123.456, "TWIRL_REVERSE": "On", "TWIRL_LIMIT": true,
         "DEFORMERBASE_MAPNAME": "m", "DEFORMERBASE_MAPMODE": "Angle",
         "DEFORMERBASE_MAPCURVE": {"knots": [[1, 0.5], [0, 0.25]]},
         "DEFORMERBASE_MAPLINK": {"object": "Sheet", "tag": "old"},
         "FALLOFF_MODE": "box", "FALLOFF_SIZE": [1, 2, 3], "FALLOFF_INVERT": true}}]}]})");
  BaseObject* twirl = first->FindObject("Twirl", "t");
  const Json params = ParamsReport(twirl);
  EXPECT_EQ(params["TWIRL_REVERSE"], 1);
  EXPECT_EQ(params["DEFORMERBASE_MAPLINK"], Json::parse(R"({"object": "Sheet", "tag": "old"})"));
  EXPECT_EQ(params["DEFORMERBASE_MAPCURVE"],
            Json::parse(R"({"knots": [[0.0, 0.25], [1.0, 0.5]]})"));

  Json scene = Json::parse(R"({"objects": [
      {"name": "Sheet", "type": "polygon", "points": [[0, 0, 0], [1, 0, 0], [0, 0, 1]],
       "polygons": [[0, 1, 2]], "tags": [{"type": "vertexmap", "name": "old", "values": [0, 0, 0]}],
       "children": [{"name": "Twirl", "type": "Twirl"}]}]})");
  scene["objects"][0]["children"][0]["params"] = params;
  const auto second = Parse(scene.dump());
  BaseObject* again = second->FindObject("Twirl", "t");
  EXPECT_EQ(ParamsReport(again), params);
  for (const auto& [id, value] : twirl->GetDataInstance()->Entries()) {
    const GeData* copy = again->GetDataInstance()->GetData(id);
    ASSERT_NE(copy, nullptr) << id;
    if (value.GetType() == DataType::Link) {
      EXPECT_EQ(copy->GetBaseLink()->GetNode()->GetName(),
                value.GetBaseLink()->GetNode()->GetName());
    } else {
      EXPECT_EQ(*copy, value) << id;
    }
  }
}

// The shape's own link fields appear only once the shape is chosen, whatever the order of
// the keys; links on them are offered to the shape, which refuses what it cannot use.
TEST_F(SceneTest, FalloffShapeFieldsFollowTheModeAndTheShapeChecksLinks) {
  const char* scene = R"({"objects": [
      {"name": "A", "type": "falloff", "params": {"FALLOFF_MODE": "sphere"}},
      {"name": "Chain", "type": "falloff", "params": {"FALLOFF_MODE": "Mergefield"}},
      {"name": "Other", "type": "null"},
      {"name": "Sheet", "type": "plane", "children": [
        {"name": "Twirl", "type": "Twirl",
         "params": {"MERGEFIELD_LINK_A": "%s", "FALLOFF_MODE": "Mergefield"}}]},
      {"name": "Own", "type": "falloff",
       "params": {"MERGEFIELD_LINK_A": "%s", "FALLOFF_MODE": 1031672}}]})";
  auto with = [&](const char* deformerLink, const char* objectLink) {
    char text[2048];
    std::snprintf(text, sizeof text, scene, deformerLink, objectLink);
    return std::string(text);
  };
  const auto good = Parse(with("A", "A"));
  for (const char* owner : {"Twirl", "Own"}) {
    const BaseContainer* bc = good->FindObject(owner, "t")->GetDataInstance();
    EXPECT_EQ(bc->GetLong(FALLOFF_MODE), 1031672) << owner;
    EXPECT_EQ(bc->GetLink(MERGEFIELD_LINK_A, good->Document()), good->FindObject("A", "t"));
    // The shape's defaults arrived with the mode.
    EXPECT_EQ(bc->GetLong(200000, -1), 2) << owner;
  }
  EXPECT_EQ(ErrorOf(with("Other", "A")),
            "scene.json: objects[3].children[0].params.MERGEFIELD_LINK_A: Mergefield refuses the "
            "link to 'Other'");
  EXPECT_EQ(ErrorOf(with("Chain", "A")),
            "scene.json: objects[3].children[0].params.MERGEFIELD_LINK_A: Mergefield refuses the "
            "link to 'Chain'");
  EXPECT_EQ(ErrorOf(with("A", "Chain")),
            "scene.json: objects[4].params.MERGEFIELD_LINK_A: Mergefield refuses the link to "
            "'Chain'");
}

TEST_F(SceneTest, ShiftPlacesANewDeformerOnTheActiveObject) {
  const char* scene = R"({"document": {"active": [%s]}, "objects": [
      {"name": "Box", "type": "cube", "position": [10, 20, 30], "rotation": [0.5, 0, 0],
       "params": {"size": [200, 100, 200]}},
      {"name": "Twirl", "type": "Twirl", "position": [-5, 0, 0], %s}]})";
  struct Case {
    const char* active;
    const char* shift;
    Vector offset;
    Real radius;
  } cases[] = {
      {R"("Box")", R"("shift": true)", Vector(10, 20, 30), std::sqrt(100.0 * 100 + 100 * 100)},
      {R"("Box")", R"("shift": false)", Vector(-5, 0, 0), 400.0},
      {"", R"("shift": true)", Vector(-5, 0, 0), 400.0},
      // The scene's own parameters come after the placement.
      {R"("Box")", R"("shift": true, "params": {"TWIRL_RADIUS": 7})", Vector(10, 20, 30), 7.0},
  };
  for (const Case& c : cases) {
    char text[1024];
    std::snprintf(text, sizeof text, scene, c.active, c.shift);
    const auto loaded = Parse(text);
    BaseObject* twirl = loaded->FindObject("Twirl", "t");
    EXPECT_TRUE(kwtest::VectorNear(c.offset, twirl->GetMg().off, 1e-9)) << text;
    EXPECT_NEAR(twirl->GetDataInstance()->GetReal(TWIRL_RADIUS), c.radius, 1e-9) << text;
    EXPECT_EQ(kwhost::StatusText(), "");
  }
}

TEST_F(SceneTest, PressingTheCreateMapButtonMakesDifferenceMaps) {
  const auto scene = Parse(kMinimalScene);
  PressButton(*scene, "Twirl:DEFORMERBASE_CREATEMAP");
  PressButton(*scene, "Twirl:210000");
  BaseObject* sheet = scene->FindObject("Sheet", "t");
  EXPECT_EQ(sheet->GetFirstTag()->GetName(), "Twirl.DifferenceMap.1");
  EXPECT_EQ(sheet->GetFirstTag()->GetNext()->GetName(), "Twirl.DifferenceMap");
  EXPECT_EQ(scene->FindObject("Twirl", "t")->GetDataInstance()->GetString(200010),
            "Twirl.DifferenceMap.1");
}

TEST_F(SceneTest, BadPressesNameTheOption) {
  const auto scene = Parse(kMinimalScene);
  struct Case {
    const char* press;
    const char* message;
    int status;
  } cases[] = {
      {"Twirl", "--press Twirl: expected OBJECT:BUTTON", kExitUsage},
      {"Ghost:1", "--press Ghost:1: no object is named 'Ghost'", kExitInput},
      {"Twirl:NOPE", "--press Twirl:NOPE: Twirl has no parameter 'NOPE'", kExitInput},
      {"Twirl:TWIRL_RADIUS", "--press Twirl:TWIRL_RADIUS: 'TWIRL_RADIUS' is not a button",
       kExitInput},
      {"Pin:1", "--press Pin:1: null has no parameter '1'", kExitInput},
  };
  for (const Case& c : cases) {
    try {
      PressButton(*scene, c.press);
      ADD_FAILURE() << c.press << " was accepted";
    } catch (const CliError& e) {
      EXPECT_EQ(e.what(), std::string(c.message));
      EXPECT_EQ(e.Status(), c.status) << c.press;
    }
  }
}

// Every malformed scene ends with one message naming the file and the place; a message
// ending in "..." is compared up to there.
TEST_F(SceneTest, MalformedScenesNameThePlace) {
  const std::string sheet =
      R"("name": "Sheet", "type": "polygon", "points": [[0, 0, 0], [1, 0, 0], [0, 0, 1]], "polygons": [[0, 1, 2]])";
  auto twirl = [](const std::string& params) {
    return R"({"objects": [{"name": "T", "type": "Twirl", "params": {)" + params + "}}]}";
  };
  struct Case {
    std::string scene;
    std::string message;
  } cases[] = {
      {"[]", R"(scene.json: expected a scene object {"document", "objects"})"},
      {R"({"objects": [], "extra": 1})", "scene.json: extra: unknown key"},
      {R"({"objects": {}})", "scene.json: objects: expected an array of objects"},
      {R"({"objects": [{"type": "null"}]})", R"(scene.json: objects[0]: missing "name")"},
      {R"({"objects": [{"name": 3, "type": "null"}]})",
       "scene.json: objects[0].name: expected a string"},
      {R"({"objects": [{"name": "A", "type": "Wobble"}]})",
       "scene.json: objects[0].type: unknown object type 'Wobble' (polygon, null, plane, cube, "
       "sphere, falloff or a plug-in: ..."},
      {R"({"objects": [{"name": "A", "type": 42}]})",
       "scene.json: objects[0].type: unknown object type 42 ..."},
      {R"({"objects": [{"name": "A", "type": "Mergefield"}]})",
       "scene.json: objects[0].type: 'Mergefield' is a falloff shape: give a falloff object or a "
       "deformer FALLOFF_MODE 'Mergefield'"},
      {R"({"objects": [{"name": "A", "type": "Nullpin"}]})",
       R"(scene.json: objects[0].type: 'Nullpin' is a tag: list it under "tags")"},
      {R"({"objects": [{"name": "A", "type": "null", "colour": 1}]})",
       "scene.json: objects[0].colour: unknown key"},
      {R"({"objects": [{"name": "A", "type": "null", "shift": true}]})",
       "scene.json: objects[0].shift: unknown key"},
      {R"({"objects": [{"name": "A", "type": "null", "position": [1, 2]}]})",
       "scene.json: objects[0].position: expected [x, y, z]"},
      {R"({"objects": [{"name": "A", "type": "null", "matrix": {}, "position": [1, 2, 3]}]})",
       "scene.json: objects[0].matrix: a matrix excludes position, rotation and scale"},
      {R"({"objects": [{"name": "A", "type": "null", "matrix": {"v4": [1, 0, 0]}}]})",
       R"(scene.json: objects[0].matrix: expected {"off", "v1", "v2", "v3"} of [x, y, z])"},
      {R"({"objects": [{"name": "P", "type": "polygon", "points": [[0, 0, 0]], "polygons": [[0, 0, 1]]}]})",
       "scene.json: objects[0].polygons[0][2]: point index 1 out of range (1 points)"},
      {R"({"objects": [{"name": "P", "type": "polygon", "points": [[0, 0, 0]], "polygons": [[0, 0]]}]})",
       "scene.json: objects[0].polygons[0]: expected three or four point indices"},
      {R"({"objects": [{"name": "P", "type": "polygon", "points": [[0, 0, "x"]]}]})",
       "scene.json: objects[0].points[0]: expected [x, y, z]"},
      {R"({"objects": [{"name": "P", "type": "polygon", "file": "m.obj", "points": []}]})",
       R"(scene.json: objects[0].file: "file" excludes "points" and "polygons")"},
      {R"({"objects": [{"name": "P", "type": "polygon", "file": "does-not-exist.obj"}]})",
       "does-not-exist.obj: cannot read: No such file or directory"},
      {twirl(R"("TWIRL_RADIUS": "big")"),
       "scene.json: objects[0].params.TWIRL_RADIUS: expected a number"},
      {twirl(R"("TWIRL_RADUS": 1)"),
       "scene.json: objects[0].params.TWIRL_RADUS: unknown parameter of Twirl"},
      {twirl(R"("99999": 1)"), "scene.json: objects[0].params.99999: unknown parameter of Twirl"},
      {twirl(R"("TWIRL_REVERSE": "sideways")"),
       R"(scene.json: objects[0].params.TWIRL_REVERSE: expected an integer or one of "Off", "On")"},
      {twirl(R"("TWIRL_REVERSE": 0.5)"),
       R"(scene.json: objects[0].params.TWIRL_REVERSE: expected an integer or one of "Off", "On")"},
      {twirl(R"("TWIRL_LIMIT": 1)"),
       "scene.json: objects[0].params.TWIRL_LIMIT: expected true or false"},
      {twirl(R"("DEFORMERBASE_MAPNAME": 5)"),
       "scene.json: objects[0].params.DEFORMERBASE_MAPNAME: expected a string"},
      {twirl(R"("FALLOFF_SIZE": [1, 2])"),
       "scene.json: objects[0].params.FALLOFF_SIZE: expected [x, y, z]"},
      {twirl(R"("DEFORMERBASE_MAPCURVE": {"knots": [[0]]})"),
       R"(scene.json: objects[0].params.DEFORMERBASE_MAPCURVE: expected {"knots": [[x, y], ...]})"},
      {twirl(R"("DEFORMERBASE_CREATEMAP": 1)"),
       "scene.json: objects[0].params.DEFORMERBASE_CREATEMAP: is a button, not a value (press it "
       "with --press)"},
      {twirl(R"("FALLOFF_MODE": "cylinder")"),
       R"(scene.json: objects[0].params.FALLOFF_MODE: expected "infinite", "sphere", "box" or a falloff shape (Fieldwise, Grainfield, Mergefield))"},
      {twirl(R"("FALLOFF_MODE": 1030430)"),
       R"(scene.json: objects[0].params.FALLOFF_MODE: expected "infinite", "sphere", "box" or a falloff shape (Fieldwise, Grainfield, Mergefield))"},
      {twirl(R"("MERGEFIELD_MIX": 1)"),
       "scene.json: objects[0].params.MERGEFIELD_MIX: unknown parameter of Twirl"},
      {twirl(R"("DEFORMERBASE_MAPLINK": 5)"),
       R"(scene.json: objects[0].params.DEFORMERBASE_MAPLINK: expected an object name or {"object": NAME, "tag": TAGNAME})"},
      {R"({"objects": [{"name": "T", "type": "Twirl", "tags": [{"type": "Nullpin", "params": {"NULLPIN_LINK": "Nowhere"}}]}]})",
       "scene.json: objects[0].tags[0].params.NULLPIN_LINK: no object is named 'Nowhere'"},
      {R"({"objects": [{"name": "Pin", "type": "null"}, {"name": "Pin", "type": "null"},
           {"name": "T", "type": "Twirl", "tags": [{"type": "Nullpin", "params": {"NULLPIN_LINK": "Pin"}}]}]})",
       "scene.json: objects[2].tags[0].params.NULLPIN_LINK: 2 objects are named 'Pin'; a link "
       "needs a unique name"},
      {R"({"objects": [{)" + sheet + R"(, "children": [{"name": "T", "type": "Twirl",
           "params": {"DEFORMERBASE_MAPLINK": {"object": "Sheet", "tag": "nope"}}}]}]})",
       "scene.json: objects[0].children[0].params.DEFORMERBASE_MAPLINK.tag: 'Sheet' has no tag "
       "named 'nope'"},
      {R"({"objects": [{"name": "T", "type": "Twirl", "tags": [{"type": "Nullpin", "params": {"NULLPIN_LNK": 1}}]}]})",
       "scene.json: objects[0].tags[0].params.NULLPIN_LNK: unknown parameter of Nullpin"},
      {R"({"objects": [{)" + sheet + R"(, "tags": [{"type": "vertexmap", "values": [1, 2]}]}]})",
       "scene.json: objects[0].tags[0].values: expected 3 values, one per point, not 2"},
      {R"({"objects": [{)" + sheet +
           R"(, "tags": [{"type": "vertexmap", "values": [1, 2, "x"]}]}]})",
       "scene.json: objects[0].tags[0].values[2]: expected a number"},
      {R"({"objects": [{"name": "N", "type": "null", "tags": [{"type": "vertexmap", "values": []}]}]})",
       "scene.json: objects[0].tags[0]: vertex maps belong on polygon objects"},
      {R"({"objects": [{)" + sheet + R"(, "tags": [{"type": "edgeselection", "edges": [4]}]}]})",
       "scene.json: objects[0].tags[0].edges[0]: edge 4 out of range (4 * polygon + side, below "
       "4)"},
      {R"({"objects": [{)" + sheet + R"(, "tags": [{"type": "sticker"}]}]})",
       "scene.json: objects[0].tags[0].type: unknown tag type 'sticker' (vertexmap, edgeselection, "
       "restriction or a plug-in tag: Nullpin)"},
      {R"({"objects": [{)" + sheet + R"(, "tags": [{"type": "restriction"}]}]})",
       R"(scene.json: objects[0].tags[0]: missing "map" (the vertex map it names))"},
      {R"({"objects": [{)" + sheet +
           R"(, "tags": [{"type": "restriction", "map": "w", "mode": 1}]}]})",
       "scene.json: objects[0].tags[0].mode: unknown key"},
      {R"({"document": {"fps": 0}})",
       "scene.json: document.fps: expected a frame rate of at least 1"},
      {R"({"document": {"frame": 1.5}})", "scene.json: document.frame: expected an integer"},
      {R"({"document": {"minFrame": 10, "maxFrame": 5}})",
       "scene.json: document.maxFrame: the last frame comes before the first"},
      {R"({"document": {"active": ["Ghost"]}})",
       "scene.json: document.active[0]: no object is named 'Ghost'"},
      {R"({"document": {"speed": 1}})", "scene.json: document.speed: unknown key"},
      {R"({"objects": [{"name": "P", "type": "plane", "params": {"widthSegments": 0}}]})",
       "scene.json: objects[0].params.widthSegments: expected a segment count of at least 1"},
      {R"({"objects": [{"name": "P", "type": "plane", "params": {"width": -1}}]})",
       "scene.json: objects[0].params.width: expected a size of at least 0"},
      {R"({"objects": [{"name": "P", "type": "plane", "params": {"depth": 1}}]})",
       "scene.json: objects[0].params.depth: unknown parameter of plane (width, height, "
       "widthSegments, heightSegments)"},
      {R"({"objects": [{"name": "C", "type": "cube", "params": {"segments": [1, 2]}}]})",
       "scene.json: objects[0].params.segments: expected a segment count or [x, y, z] counts"},
      {R"({"objects": [{"name": "N", "type": "null", "params": {"size": 1}}]})",
       "scene.json: objects[0].params.size: unknown parameter of null"},
      {R"({"objects": [{"name": "N", "type": "null", "params": []}]})",
       "scene.json: objects[0].params: expected an object of parameter values"},
      {R"({"camera": {"fov": 4}})",
       "scene.json: camera.fov: expected a field of view in radians between 0 and 3.1"},
      {R"({"camera": {"position": [0, 0, 0], "target": [0, 0, 0]}})",
       "scene.json: camera.target: the camera cannot look at its own position"},
  };
  for (const Case& c : cases) {
    const std::string message = ErrorOf(c.scene);
    if (c.message.ends_with("...")) {
      EXPECT_THAT(message, StartsWith(c.message.substr(0, c.message.size() - 3))) << c.scene;
    } else {
      EXPECT_EQ(message, c.message) << c.scene;
    }
  }
}

TEST_F(SceneTest, MalformedJsonNamesLineAndColumn) {
  EXPECT_THAT(ErrorOf("{\n  \"objects\": [,]\n}"),
              StartsWith("scene.json: malformed JSON: parse error at line 2, column 15"));
}

// Running out of host memory anywhere while a scene is built ends the load with one
// message; the partly built document goes, and nothing leaks.
TEST_F(SceneTest, AllocationFailureAbortsCleanly) {
  const LLONG before = kwhost::memory::LiveBlocks();
  for (LLONG n = 1;; ++n) {
    kwhost::memory::FailAllocation(n);
    bool loaded = false;
    try {
      const auto scene = Parse(kMinimalScene);
      loaded = true;
    } catch (const CliError& e) {
      EXPECT_EQ(e.Status(), kExitHost) << n << ": " << e.what();
      EXPECT_THAT(e.what(), StartsWith("scene.json: ")) << n;
    }
    kwhost::memory::FailAllocation(0);
    ASSERT_EQ(kwhost::memory::LiveBlocks(), before) << "leak when allocation " << n << " failed";
    if (loaded) {
      EXPECT_GT(n, 1) << "the scene was built without a host allocation";
      break;
    }
    ASSERT_LT(n, 10000);
  }
}

// Evaluating and sampling under exhausted memory fail or succeed as a whole; nothing leaks.
TEST_F(SceneTest, EvaluationAndSamplingUnderAllocationFailure) {
  const auto scene = Parse(kMinimalScene);
  BaseObject* twirl = scene->FindObject("Twirl", "t");
  BaseThread first;
  ASSERT_TRUE(Evaluate(*scene, 0, &first));
  // What a pass builds stays with the document until the next pass, so each round ends
  // with a good pass and is compared with the state after one.
  const LLONG before = kwhost::memory::LiveBlocks();
  bool evaluated = false, sampled = false, evaluationFailed = false;
  for (LLONG n = 1; !(evaluated && sampled); ++n) {
    ASSERT_LT(n, 10000);
    kwhost::memory::FailAllocation(n);
    BaseThread thread;
    evaluated = Evaluate(*scene, 0, &thread);
    evaluationFailed = evaluationFailed || !evaluated;
    kwhost::memory::FailAllocation(n);
    try {
      const std::vector<FalloffSample> samples = SampleFalloff(*scene, twirl, {Vector(50, 0, 0)});
      ASSERT_EQ(samples.size(), 1u);
      EXPECT_EQ(samples[0].weight, 1.0);
      sampled = true;
    } catch (const CliError& e) {
      EXPECT_EQ(e.Status(), kExitHost) << e.what();
      sampled = false;
    }
    kwhost::memory::FailAllocation(0);
    BaseThread again;
    ASSERT_TRUE(Evaluate(*scene, 0, &again)) << n;
    ASSERT_EQ(kwhost::memory::LiveBlocks(), before) << "leak when allocation " << n << " failed";
  }
  EXPECT_TRUE(evaluationFailed) << "no pass ran out of memory";
}

}  // namespace
}  // namespace kwcli
