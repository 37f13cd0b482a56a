// The JSON forms of container values, shared by the scene loader and the report: a scene
// and the report of its evaluation write every value the same way.
#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "kwhost/c4d.h"

namespace kwcli {

/// Scenes and reports keep their keys in the order they were written.
using Json = nlohmann::ordered_json;

/// `value` as indented JSON text for people and diffs: objects one key per line, arrays of
/// plain values on one line ([x, y, z]), arrays of such arrays one per line.
String FormatJson(const Json& value);

/// The choices of a Long parameter, from a description's DESC_CYCLE ("0:Off;1:On").
std::vector<std::pair<LONG, String>> ParseCycle(const String& cycle);

/// The value of `label` in `cycle`: an exact match first, else one ignoring case.
std::optional<LONG> CycleValue(const std::vector<std::pair<LONG, String>>& cycle,
                               const String& label);

/// [x, y, z] as a Vector; nullopt when `value` is not an array of three numbers.
std::optional<Vector> VectorFromJson(const Json& value);
/// {"off", "v1", "v2", "v3"}; missing parts keep the identity's. nullopt when malformed.
std::optional<Matrix> MatrixFromJson(const Json& value);
/// A number that is an exact 32-bit integer (2 and 2.0 are, 2.5 is not).
std::optional<LONG> IntegerFromJson(const Json& value);

Json VectorToJson(const Vector& v);
Json MatrixToJson(const Matrix& m);

/// Converts a scene value into a container value of description type `type`. Links are
/// not handled here (they need the scene's names). On a mismatch the result is nullopt and
/// `expected` says what the type takes ("expected a number").
std::optional<GeData> ValueFromJson(const Json& value, DescType type, const String& cycle,
                                    String* expected);

/// A container value in the scene's JSON form. A link gives the linked object's name, a
/// link to a tag {"object", "tag"}, an empty link null.
Json ValueToJson(const GeData& value);

/// A parameter of a host primitive, under the key scenes use for it.
struct PrimitiveParameter {
  const char* key;
  LONG id;
  DescType type;
};

/// The parameters of the host primitive `type` (Oplane, Ocube, Osphere); empty otherwise.
/// The cube's three segment counts (1102-1104) are one key, "segments", read as [x, y, z].
std::span<const PrimitiveParameter> PrimitiveParameters(LONG type);

/// The cube's segment counts, under "segments": one integer for all three axes or [x, y, z].
constexpr LONG kCubeSegmentsX = 1102;

}  // namespace kwcli
