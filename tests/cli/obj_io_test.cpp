// OBJ meshes: exact coordinates, kept vertex order, triangles and quads, and errors by line.
#include "obj_io.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <tiny_obj_loader.h>

#include <cstdlib>
#include <cstring>
#include <sstream>

#include "cli_error.h"
#include "kwtest.h"

namespace kwcli {
namespace {

// Decimal texts whose nearest double a naive digit-times-power parser misses.
constexpr const char* kTrickyNumbers[] = {"0.123456789012",         "0.3",
                                          "123456.789012345678",    "2.2250738585072014e-308",
                                          "1.7976931348623157e308", "7.0000000000000009e-3"};

// Why the coordinates are not taken from tinyobjloader: its own number parser (the double
// build) does not return strtod's double for these texts.
TEST(ObjPrecision, TinyobjloaderAloneMissesTheNearestDouble) {
  int missed = 0;
  for (const char* text : kTrickyNumbers) {
    std::istringstream in(std::string("v ") + text + " 0 0\n");
    tinyobj::attrib_t attrib;
    std::vector<tinyobj::shape_t> shapes;
    std::vector<tinyobj::material_t> materials;
    std::string warning, error;
    ASSERT_TRUE(tinyobj::LoadObj(&attrib, &shapes, &materials, &warning, &error, &in));
    if (attrib.vertices[0] != std::strtod(text, nullptr)) ++missed;
  }
  EXPECT_GT(missed, 0) << "tinyobjloader reads every coordinate exactly now; the own "
                          "coordinate pass in obj_io.cpp could go";
}

TEST(ObjPrecision, CoordinatesReadAsStrtodsDouble) {
  std::string text;
  for (const char* number : kTrickyNumbers) {
    text += std::string("v ") + number + " -" + number + " +" + number + "\n";
  }
  const Mesh mesh = ParseObj(text, "m.obj");
  ASSERT_EQ(mesh.points.size(), std::size(kTrickyNumbers));
  for (size_t i = 0; i < mesh.points.size(); ++i) {
    const double expected = std::strtod(kTrickyNumbers[i], nullptr);
    EXPECT_EQ(mesh.points[i], Vector(expected, -expected, expected)) << kTrickyNumbers[i];
  }
}

TEST(ObjPrecision, WrittenMeshesReadBackBitForBit) {
  PolygonObject* op = kwtest::MakePolygonObject({{0.1, 0.2, 0.3},
                                                 {1.0 / 3.0, -2.0 / 7.0, 1e-300},
                                                 {123456789.123456789, 5e-324, -0.0},
                                                 {-1.7976931348623157e308, 2, 3}},
                                                {{0, 1, 2, 3}, {3, 2, 1}});
  ASSERT_NE(op, nullptr);
  const String text = FormatObj("Mesh", *op);
  EXPECT_THAT(text, ::testing::HasSubstr("\nf 1 2 3 4\nf 4 3 2\n"));
  const Mesh mesh = ParseObj(text, "m.obj");
  ASSERT_EQ(mesh.points.size(), 4u);
  for (LONG i = 0; i < 4; ++i) {
    EXPECT_EQ(std::memcmp(&mesh.points[i], &op->GetPointR()[i], sizeof(Vector)), 0) << i;
  }
  EXPECT_EQ(mesh.polygons, (std::vector<CPolygon>{CPolygon(0, 1, 2, 3), CPolygon(3, 2, 1)}));
  BaseObject* object = op;
  BaseObject::Free(object);
}

TEST(ObjStructure, KeepsVertexOrderAcrossGroupsAndResolvesRelativeIndices) {
  const Mesh mesh = ParseObj(
      "# two groups\nmtllib missing.mtl\no A\nv 0 0 0\nv 1 0 0\nv 1 1 0\nvt 0 0\nvn 0 0 1\n"
      "f 1/1/1 2/1/1 3/1/1\ng B\nv 0 1 0\r\nf -4 -2 -1\nl 1 2\n",
      "m.obj");
  EXPECT_EQ(mesh.points, (std::vector<Vector>{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}));
  EXPECT_EQ(mesh.polygons, (std::vector<CPolygon>{CPolygon(0, 1, 2), CPolygon(0, 2, 3)}));
}

TEST(ObjStructure, ErrorsNameTheFileAndLine) {
  struct Case {
    const char* text;
    const char* message;
  } cases[] = {
      {"v 0 0 0\nv 1 x 0\n", "m.obj: line 2: expected three coordinates after 'v'"},
      {"v 0 0\n", "m.obj: line 1: expected three coordinates after 'v'"},
      {"v 0 0 0\nv 1 0 0\nf 1 2\n", "m.obj: line 3: a face needs at least three corners"},
      {"v 0 0 0\nv 1 0 0\nv 1 1 0\n\nf 1 2 4\n",
       "m.obj: line 5: vertex index out of range (the file has 3 vertices)"},
      {"v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 0 2 0\nf 1 2 3\nf 1 2 3 4 5\n",
       "m.obj: line 7: a face with 5 corners (triangles and quads only)"},
  };
  for (const Case& c : cases) {
    try {
      ParseObj(c.text, "m.obj");
      ADD_FAILURE() << c.text << " was accepted";
    } catch (const CliError& e) {
      EXPECT_EQ(e.what(), std::string(c.message));
      EXPECT_EQ(e.Status(), kExitInput);
    }
  }
}

}  // namespace
}  // namespace kwcli
