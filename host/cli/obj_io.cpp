#include "obj_io.h"

#include <tiny_obj_loader.h>

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "cli_error.h"
#include "output.h"

namespace kwcli {

namespace {

/// What our own pass over the text finds: every vertex with its exact coordinates and the
/// line of every face, so faces can be named by line in messages.
struct Scan {
  std::vector<Vector> points;
  std::vector<long> faceLines;
};

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r';
}

const char* SkipSpace(const char* p, const char* end) {
  while (p < end && IsSpace(*p)) ++p;
  return p;
}

[[noreturn]] void Fail(const String& shown, long line, const String& text) {
  throw CliError(kExitInput, shown + ": line " + std::to_string(line) + ": " + text);
}

Scan ScanObj(const String& text, const String& shown) {
  Scan scan;
  const char* p = text.data();
  const char* const end = p + text.size();
  long line = 0;
  while (p < end) {
    ++line;
    const char* eol = p;
    while (eol < end && *eol != '\n') ++eol;
    const char* q = SkipSpace(p, eol);
    if (eol - q >= 2 && q[0] == 'v' && IsSpace(q[1])) {
      q += 2;
      Real c[3];
      for (Real& value : c) {
        q = SkipSpace(q, eol);
        // from_chars takes no leading '+', which OBJ writers sometimes emit.
        if (q < eol && *q == '+') ++q;
        const std::from_chars_result r = std::from_chars(q, eol, value);
        if (r.ec != std::errc() || (r.ptr < eol && !IsSpace(*r.ptr))) {
          Fail(shown, line, "expected three coordinates after 'v'");
        }
        q = r.ptr;
      }
      scan.points.emplace_back(c[0], c[1], c[2]);
    } else if (eol - q >= 2 && q[0] == 'f' && IsSpace(q[1])) {
      int corners = 0;
      q += 2;
      while ((q = SkipSpace(q, eol)) < eol && *q != '#') {
        ++corners;
        while (q < eol && !IsSpace(*q)) ++q;
      }
      if (corners < 3) Fail(shown, line, "a face needs at least three corners");
      scan.faceLines.push_back(line);
    }
    p = eol + 1;
  }
  return scan;
}

String FirstLine(const String& text) {
  String line = text.substr(0, text.find('\n'));
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
  return line;
}

}  // namespace

Mesh ParseObj(const String& text, const String& shown) {
  const Scan scan = ScanObj(text, shown);

  tinyobj::ObjReaderConfig config;
  config.triangulate = false;
  config.vertex_color = false;
  tinyobj::ObjReader reader;
  // Materials are no concern of a mesh here: an empty material text keeps tinyobjloader
  // from looking for .mtl files.
  if (!reader.ParseFromString(text, "", config)) {
    const String error = FirstLine(reader.Error());
    throw CliError(kExitInput, shown + ": " + (error.empty() ? "not an OBJ file" : error));
  }
  const tinyobj::attrib_t& attrib = reader.GetAttrib();
  if (attrib.vertices.size() != scan.points.size() * 3) {
    throw CliError(kExitInput, shown + ": the vertex lines could not be read consistently");
  }

  Mesh mesh;
  mesh.points = scan.points;
  const LONG pointCount = static_cast<LONG>(mesh.points.size());
  size_t faceIndex = 0;
  for (const tinyobj::shape_t& shape : reader.GetShapes()) {
    size_t corner = 0;
    for (const unsigned int count : shape.mesh.num_face_vertices) {
      const long line = faceIndex < scan.faceLines.size() ? scan.faceLines[faceIndex] : 0;
      ++faceIndex;
      if (count < 3 || count > 4) {
        Fail(shown, line,
             "a face with " + std::to_string(count) + " corners (triangles and quads only)");
      }
      LONG idx[4];
      for (unsigned int k = 0; k < count; ++k) {
        idx[k] = shape.mesh.indices[corner + k].vertex_index;
        if (idx[k] < 0 || idx[k] >= pointCount) {
          Fail(shown, line,
               "vertex index out of range (the file has " + std::to_string(pointCount) +
                   " vertices)");
        }
      }
      corner += count;
      mesh.polygons.push_back(count == 3 ? CPolygon(idx[0], idx[1], idx[2])
                                         : CPolygon(idx[0], idx[1], idx[2], idx[3]));
    }
  }
  return mesh;
}

Mesh ReadObj(const String& path, const String& shown) {
  return ParseObj(ReadTextFile(path, shown), shown);
}

String FormatObj(const String& name, const PointObject& object) {
  // A line break in a name would end the `o` line early.
  String shownName = name;
  std::replace_if(
      shownName.begin(), shownName.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
  String text = "# written by kwhost\no " + shownName + "\n";
  char buffer[128];
  const Vector* points = object.GetPointR();
  for (LONG i = 0; i < object.GetPointCount(); ++i) {
    std::snprintf(buffer, sizeof buffer, "v %.17g %.17g %.17g\n", points[i].x, points[i].y,
                  points[i].z);
    text += buffer;
  }
  if (object.IsInstanceOf(Opolygon)) {
    const auto& polygonObject = static_cast<const PolygonObject&>(object);
    const CPolygon* polygons = polygonObject.GetPolygonR();
    for (LONG i = 0; i < polygonObject.GetPolygonCount(); ++i) {
      const CPolygon& p = polygons[i];
      if (p.IsTriangle()) {
        std::snprintf(buffer, sizeof buffer, "f %d %d %d\n", p.a + 1, p.b + 1, p.c + 1);
      } else {
        std::snprintf(buffer, sizeof buffer, "f %d %d %d %d\n", p.a + 1, p.b + 1, p.c + 1, p.d + 1);
      }
      text += buffer;
    }
  }
  return text;
}

}  // namespace kwcli
