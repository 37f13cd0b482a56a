// Module resources: the string table (res/strings.json) and icons (TIFF through libtiff).
#include "kwhost/resource.h"

#include <tiffio.h>

#include <charconv>
#include <cstdint>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "kwhost/memory.h"

namespace {

constexpr const char* kBitmapTag = "host\\bitmap";
// Icons are small; a header claiming more pixels than this is refused before decoding.
constexpr LLONG kMaxBitmapPixels = LLONG(16384) * 16384;

/// Parses a whole string as a LONG; false for anything else ("1x", "", "99999999999").
bool ParseLong(const String& text, LONG& value) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end && !text.empty();
}

/// libtiff's messages go nowhere: a missing or broken icon is reported by Init's result.
int SilentTiffHandler(TIFF*, void*, const char*, const char*, va_list) {
  return 1;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// GeResource

GeResource::GeResource() = default;
GeResource::~GeResource() = default;

Bool GeResource::Init(const String& moduleFolder) {
  Free();
  std::ifstream in(moduleFolder + "/res/strings.json", std::ios::binary);
  if (!in) return false;
  std::stringstream text;
  text << in.rdbuf();
  const nlohmann::json doc = nlohmann::json::parse(text.str(), nullptr, false);
  if (doc.is_discarded() || !doc.is_object()) return false;
  auto table = doc.find("strings");
  if (table == doc.end() || !table->is_object()) return false;
  std::map<LONG, String> strings;
  for (auto it = table->begin(); it != table->end(); ++it) {
    LONG id = 0;
    if (!ParseLong(it.key(), id) || !it.value().is_string()) return false;
    strings[id] = it.value().get<String>();
  }
  strings_ = std::move(strings);
  folder_ = moduleFolder;
  loaded_ = true;
  return true;
}

void GeResource::Free() {
  strings_.clear();
  folder_.clear();
  loaded_ = false;
}

String GeResource::LoadString(LONG id) const {
  auto found = strings_.find(id);
  return found == strings_.end() ? String() : found->second;
}

// ---------------------------------------------------------------------------------------------
// BaseBitmap

BaseBitmap* BaseBitmap::Alloc() {
  void* block = GeAlloc(sizeof(BaseBitmap), kBitmapTag, __LINE__);
  return block ? new (block) BaseBitmap() : nullptr;
}

void BaseBitmap::Free(BaseBitmap*& bitmap) {
  if (!bitmap) return;
  bitmap->~BaseBitmap();
  GeFreeRaw(bitmap);
  bitmap = nullptr;
}

Bool BaseBitmap::Init(const String& path) {
  width_ = height_ = 0;
  file_.clear();

  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (!options) return false;
  TIFFOpenOptionsSetErrorHandlerExtR(options, SilentTiffHandler, nullptr);
  TIFFOpenOptionsSetWarningHandlerExtR(options, SilentTiffHandler, nullptr);
  TIFF* tiff = TIFFOpenExt(path.c_str(), "r", options);
  TIFFOpenOptionsFree(options);
  if (!tiff) return false;

  std::uint32_t width = 0, height = 0;
  bool ok = TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width) == 1 &&
            TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height) == 1 && width > 0 && height > 0 &&
            LLONG(width) * LLONG(height) <= kMaxBitmapPixels;
  char message[1024] = {};
  ok = ok && TIFFRGBAImageOK(tiff, message) == 1;
  // Decoding every pixel is what tells a readable image from a broken one.
  std::uint32_t* pixels =
      ok ? GeAllocArray<std::uint32_t>(LLONG(width) * LLONG(height), kBitmapTag, __LINE__)
         : nullptr;
  ok = ok && pixels &&
       TIFFReadRGBAImageOriented(tiff, width, height, pixels, ORIENTATION_TOPLEFT, 0) == 1;
  GeFree(pixels);
  TIFFClose(tiff);
  if (!ok) return false;

  width_ = static_cast<LONG>(width);
  height_ = static_cast<LONG>(height);
  file_ = path;
  return true;
}
