#include "values.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>

namespace kwcli {

static bool IsFlatArray(const Json& value) {
  if (!value.is_array()) return false;
  for (const Json& item : value) {
    if (item.is_structured()) return false;
  }
  return true;
}

static void FormatInto(const Json& value, int indent, String& text) {
  const String pad(static_cast<size_t>(indent) + 2, ' ');
  if (value.is_object() && !value.empty()) {
    text += "{\n";
    size_t i = 0;
    for (const auto& [key, item] : value.items()) {
      text += pad + Json(key).dump() + ": ";
      FormatInto(item, indent + 2, text);
      text += ++i < value.size() ? ",\n" : "\n";
    }
    text += String(static_cast<size_t>(indent), ' ') + "}";
  } else if (value.is_array() && !value.empty() && !IsFlatArray(value)) {
    text += "[\n";
    for (size_t i = 0; i < value.size(); ++i) {
      text += pad;
      FormatInto(value[i], indent + 2, text);
      text += i + 1 < value.size() ? ",\n" : "\n";
    }
    text += String(static_cast<size_t>(indent), ' ') + "]";
  } else if (value.is_array()) {
    text += "[";
    for (size_t i = 0; i < value.size(); ++i) text += (i ? ", " : "") + value[i].dump();
    text += "]";
  } else {
    text += value.dump();
  }
}

String FormatJson(const Json& value) {
  String text;
  FormatInto(value, 0, text);
  return text + "\n";
}

std::vector<std::pair<LONG, String>> ParseCycle(const String& cycle) {
  std::vector<std::pair<LONG, String>> choices;
  size_t start = 0;
  while (start < cycle.size()) {
    size_t end = cycle.find(';', start);
    if (end == String::npos) end = cycle.size();
    const String item = cycle.substr(start, end - start);
    const size_t colon = item.find(':');
    if (colon != String::npos) {
      try {
        choices.emplace_back(static_cast<LONG>(std::stol(item.substr(0, colon))),
                             item.substr(colon + 1));
      } catch (const std::exception&) {
        // A choice without a number cannot be selected by label; leave it out.
      }
    }
    start = end + 1;
  }
  return choices;
}

static String Lower(String s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

std::optional<LONG> CycleValue(const std::vector<std::pair<LONG, String>>& cycle,
                               const String& label) {
  for (const auto& [value, text] : cycle) {
    if (text == label) return value;
  }
  const String wanted = Lower(label);
  for (const auto& [value, text] : cycle) {
    if (Lower(text) == wanted) return value;
  }
  return std::nullopt;
}

std::optional<Vector> VectorFromJson(const Json& value) {
  if (!value.is_array() || value.size() != 3) return std::nullopt;
  for (const Json& c : value) {
    if (!c.is_number()) return std::nullopt;
  }
  return Vector(value[0].get<Real>(), value[1].get<Real>(), value[2].get<Real>());
}

std::optional<Matrix> MatrixFromJson(const Json& value) {
  if (!value.is_object()) return std::nullopt;
  Matrix m;
  for (const auto& [key, part] : value.items()) {
    const std::optional<Vector> v = VectorFromJson(part);
    if (!v) return std::nullopt;
    if (key == "off") {
      m.off = *v;
    } else if (key == "v1") {
      m.v1 = *v;
    } else if (key == "v2") {
      m.v2 = *v;
    } else if (key == "v3") {
      m.v3 = *v;
    } else {
      return std::nullopt;
    }
  }
  return m;
}

std::optional<LONG> IntegerFromJson(const Json& value) {
  if (value.is_number_integer()) {
    const auto v = value.get<long long>();
    if (value.is_number_unsigned() &&
        value.get<unsigned long long>() >
            static_cast<unsigned long long>(std::numeric_limits<LONG>::max())) {
      return std::nullopt;
    }
    if (v < std::numeric_limits<LONG>::min() || v > std::numeric_limits<LONG>::max()) {
      return std::nullopt;
    }
    return static_cast<LONG>(v);
  }
  if (value.is_number_float()) {
    const Real v = value.get<Real>();
    if (std::trunc(v) != v || v < std::numeric_limits<LONG>::min() ||
        v > std::numeric_limits<LONG>::max()) {
      return std::nullopt;
    }
    return static_cast<LONG>(v);
  }
  return std::nullopt;
}

Json VectorToJson(const Vector& v) {
  return Json::array({v.x, v.y, v.z});
}

Json MatrixToJson(const Matrix& m) {
  Json j = Json::object();
  j["off"] = VectorToJson(m.off);
  j["v1"] = VectorToJson(m.v1);
  j["v2"] = VectorToJson(m.v2);
  j["v3"] = VectorToJson(m.v3);
  return j;
}

static String CycleLabels(const String& cycle) {
  String labels;
  for (const auto& [value, text] : ParseCycle(cycle)) {
    if (!labels.empty()) labels += ", ";
    labels += "\"" + text + "\"";
  }
  return labels;
}

std::optional<GeData> ValueFromJson(const Json& value, DescType type, const String& cycle,
                                    String* expected) {
  switch (type) {
    case DescType::Long: {
      if (const std::optional<LONG> v = IntegerFromJson(value)) return GeData(*v);
      if (value.is_string() && !cycle.empty()) {
        if (const std::optional<LONG> v = CycleValue(ParseCycle(cycle), value.get<String>())) {
          return GeData(*v);
        }
      }
      *expected = cycle.empty() ? "expected an integer"
                                : "expected an integer or one of " + CycleLabels(cycle);
      return std::nullopt;
    }
    case DescType::Real:
      if (value.is_number()) return GeData(value.get<Real>());
      *expected = "expected a number";
      return std::nullopt;
    case DescType::Bool:
      if (value.is_boolean()) return GeData(value.get<bool>());
      *expected = "expected true or false";
      return std::nullopt;
    case DescType::String:
      if (value.is_string()) return GeData(value.get<String>());
      *expected = "expected a string";
      return std::nullopt;
    case DescType::Vector:
      if (const std::optional<Vector> v = VectorFromJson(value)) return GeData(*v);
      *expected = "expected [x, y, z]";
      return std::nullopt;
    case DescType::Matrix:
      if (const std::optional<Matrix> m = MatrixFromJson(value)) return GeData(*m);
      *expected = "expected {\"off\", \"v1\", \"v2\", \"v3\"} of [x, y, z]";
      return std::nullopt;
    case DescType::Time:
      if (value.is_number()) return GeData(BaseTime::FromSeconds(value.get<Real>()));
      *expected = "expected a time in seconds";
      return std::nullopt;
    case DescType::Spline: {
      *expected = "expected {\"knots\": [[x, y], ...]}";
      if (!value.is_object() || value.size() != 1 || !value.contains("knots")) return std::nullopt;
      const Json& knots = value["knots"];
      if (!knots.is_array()) return std::nullopt;
      std::vector<SplineData::Knot> list;
      for (const Json& k : knots) {
        if (!k.is_array() || k.size() != 2 || !k[0].is_number() || !k[1].is_number()) {
          return std::nullopt;
        }
        list.push_back({k[0].get<Real>(), k[1].get<Real>()});
      }
      return GeData(SplineData(std::move(list)));
    }
    case DescType::Link:
      *expected = "links are resolved by the scene";
      return std::nullopt;
    case DescType::Button:
      *expected = "is a button, not a value (press it with --press)";
      return std::nullopt;
    case DescType::Separator:
      *expected = "is a separator, not a value";
      return std::nullopt;
  }
  *expected = "has a type scenes cannot set";
  return std::nullopt;
}

Json ValueToJson(const GeData& value) {
  switch (value.GetType()) {
    case DataType::None:
      return nullptr;
    case DataType::Long:
      return value.GetLong();
    case DataType::Real:
      return value.GetReal();
    case DataType::Bool:
      return value.GetBool();
    case DataType::String:
      return value.GetString();
    case DataType::Vector:
      return VectorToJson(value.GetVector());
    case DataType::Matrix:
      return MatrixToJson(value.GetMatrix());
    case DataType::Time:
      return value.GetTime().Get();
    case DataType::Link: {
      const BaseList2D* node = value.GetBaseLink() ? value.GetBaseLink()->GetNode() : nullptr;
      if (!node) return nullptr;
      if (const auto* tag = dynamic_cast<const BaseTag*>(node)) {
        Json j = Json::object();
        j["object"] = tag->GetObject() ? Json(tag->GetObject()->GetName()) : Json(nullptr);
        j["tag"] = tag->GetName();
        return j;
      }
      return node->GetName();
    }
    case DataType::Spline: {
      Json knots = Json::array();
      for (const SplineData::Knot& k : value.GetSpline()->GetKnots()) {
        knots.push_back(Json::array({k.x, k.y}));
      }
      Json j = Json::object();
      j["knots"] = std::move(knots);
      return j;
    }
  }
  return nullptr;
}

namespace {
constexpr PrimitiveParameter kPlane[] = {
    {"width", 1100, DescType::Real},
    {"height", 1101, DescType::Real},
    {"widthSegments", 1102, DescType::Long},
    {"heightSegments", 1103, DescType::Long},
};
constexpr PrimitiveParameter kCube[] = {
    {"size", 1100, DescType::Vector},
    {"segments", kCubeSegmentsX, DescType::Long},
};
constexpr PrimitiveParameter kSphere[] = {
    {"radius", 1110, DescType::Real},
    {"segments", 1111, DescType::Long},
};
}  // namespace

std::span<const PrimitiveParameter> PrimitiveParameters(LONG type) {
  switch (type) {
    case Oplane:
      return kPlane;
    case Ocube:
      return kCube;
    case Osphere:
      return kSphere;
    default:
      return {};
  }
}

}  // namespace kwcli
