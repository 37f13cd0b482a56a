// The module frame shared by all six modules: `c4d_main`'s action handling, the module
// state, resource loading, plug-in registration and the start banner.
#pragma once

#include <cstddef>

#include "kwhost/c4d.h"

namespace kw::frame {

enum class PluginKind { Deformer, FalloffShape, Tag };

/// One row of a module's registration table.
struct PluginEntry {
  PluginKind kind;
  LONG id;
  const char* className;
  LONG nameString;          ///< ID of the display name in the module's string table
  const char* description;  ///< description resource name; empty: none
  const char* icon;         ///< icon file in the module's "res" folder; null: none
  LONG flags;
  LONG diskLevel;  ///< not used for falloff shapes
  DataAllocator allocator = nullptr;
  FalloffAllocator falloffAllocator = nullptr;
};

/// When a module's start fails.
enum class StartPolicy {
  FailWhenAllFail,  ///< the deformer modules: only when every registration failed
  FailWhenAnyFails  ///< the single-plug-in modules
};

/// How the banner is printed.
enum class BannerStyle {
  Framed,  ///< a line holding a single blank, the banner, and again a single blank
  Plain    ///< the banner line alone
};

/// What distinguishes one module from another.
struct ModuleSpec {
  const char* name;     ///< as in the banner ("Vexwarp")
  const char* version;  ///< "v1.05"
  const PluginEntry* plugins;
  std::size_t pluginCount;
  StartPolicy startPolicy;
  BannerStyle bannerStyle;
};

/// A module's state, kept from initialisation to the last end action.
struct ModuleState {
  LONG initCount = 0;
  String folder;
  GeResource resource;
};

/// The body of every module's `c4d_main`.
LONG ModuleMain(const ModuleSpec& spec, ModuleState& state, LONG action, void* first, void* second,
                void* third);

/// Registers one plug-in: its description first (a failure there skips the plug-in), its
/// icon when the file loads, then the plug-in itself. True when it was registered.
Bool RegisterPlugin(const PluginEntry& entry, const GeResource& resource);

/// Registers the module's plug-ins in table order and returns how many failed.
std::size_t RegisterPlugins(const ModuleSpec& spec, const GeResource& resource);

/// The start operation: registration, the failure rule, the banner. True on success.
Bool StartModule(const ModuleSpec& spec, const GeResource& resource);

/// "<name> <version>".
String BannerLine(const ModuleSpec& spec);

}  // namespace kw::frame
