// A module's resources: its string table, description resources and icons.
#pragma once

#include <map>
#include <memory>

#include "kwhost/types.h"

struct DescriptionResource;

/// The string table and description resources of one module, read from its "res" folder:
/// res/strings.json and res/description/<name>.json (format: docs/host.md).
class GeResource {
 public:
  GeResource();
  ~GeResource();
  GeResource(const GeResource&) = delete;
  GeResource& operator=(const GeResource&) = delete;

  /// Loads the resources below `moduleFolder`/res. False when the string table is missing
  /// or malformed; the resource is then empty.
  Bool Init(const String& moduleFolder);
  /// Releases everything loaded.
  void Free();
  Bool IsLoaded() const { return loaded_; }
  const String& GetFolder() const { return folder_; }
  /// The string with `id`; empty when it is missing or nothing is loaded.
  String LoadString(LONG id) const;

 private:
  Bool loaded_ = false;
  String folder_;
  std::map<LONG, String> strings_;
};

/// An image (icons). Loaded from TIFF, PNG is not needed by the modules.
class BaseBitmap {
 public:
  static BaseBitmap* Alloc();
  static void Free(BaseBitmap*& bitmap);
  /// Reads an image file. False when it is missing or cannot be decoded.
  Bool Init(const String& path);
  LONG GetBw() const { return width_; }
  LONG GetBh() const { return height_; }
  const String& GetFileName() const { return file_; }

 private:
  BaseBitmap() = default;
  LONG width_ = 0, height_ = 0;
  String file_;
};
