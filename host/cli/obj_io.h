// Wavefront OBJ meshes in and out, keeping every coordinate's 64-bit value.
#pragma once

#include <vector>

#include "kwhost/c4d.h"

namespace kwcli {

/// A mesh as read from an OBJ file: points in file order and polygons (triangles repeat c).
struct Mesh {
  std::vector<Vector> points;
  std::vector<CPolygon> polygons;
};

/// Parses OBJ text. The structure (faces, their corners) comes from tinyobjloader; the
/// coordinates of every `v` line are taken with std::from_chars, because tinyobjloader's
/// own number parser is not correctly rounded (it reads "0.3" as 0.30000000000000004).
/// Faces must have three or four corners. Throws CliError whose message starts with `shown`
/// and names the line of the fault.
Mesh ParseObj(const String& text, const String& shown);

/// Reads and parses the OBJ file at `path` (`shown` names it in messages).
Mesh ReadObj(const String& path, const String& shown);

/// The OBJ text of a point object: its object-local points with %.17g (they read back as
/// the same doubles), then its polygons, triangles with three indices.
String FormatObj(const String& name, const PointObject& object);

}  // namespace kwcli
