// The host application's side: loading modules, the plug-in registry, the recorders of
// console, status bar and dialogs, and input state. Used by the kwhost program and by
// tests; modules never include this header.
#pragma once

#include <functional>
#include <vector>

#include "kwhost/c4d.h"

namespace kwhost {

enum class PluginKind { Deformer, Falloff, Tag, Object };

/// One registered plug-in.
struct PluginInfo {
  String module;  ///< the module that registered it ("Vexwarp")
  PluginKind kind = PluginKind::Object;
  LONG id = 0;
  String className;    ///< the class behind it ("KWTwirl")
  String name;         ///< display name from the module's string resource
  String description;  ///< description resource name ("otwirldeformer_kw")
  String icon;         ///< icon file name, empty when no icon was loaded
  LONG flags = 0;
  LONG diskLevel = 0;  ///< meaningless for falloff shapes
  DataAllocator allocator = nullptr;
  FalloffAllocator falloffAllocator = nullptr;
};

/// The plug-ins registered so far, in registration order.
const std::vector<PluginInfo>& RegisteredPlugins();
const PluginInfo* FindPlugin(LONG id);
/// A plug-in by display name or class name.
const PluginInfo* FindPluginByName(const String& name);
/// Makes registrations of `id` fail (a test's way to exercise a module's start).
void RefuseRegistration(LONG id);
/// Forgets every registration and registered description (between tests).
void ClearRegistry();

/// One loaded module.
struct ModuleInfo {
  String name;  ///< the file name without extension ("quillform")
  String file;  ///< the module file's path
  bool started = false;
  LONG initResult = 0, startResult = 0;
};

/// Loads modules through `c4d_main`: initialise, message 1 (resources), start; and at
/// `Shutdown` (or destruction) the end action for every module, in reverse order.
class ModuleLoader {
 public:
  ModuleLoader() = default;
  ~ModuleLoader();
  ModuleLoader(const ModuleLoader&) = delete;
  ModuleLoader& operator=(const ModuleLoader&) = delete;

  /// Loads every `<name>/<name>.cdl64` (and `*.cdl64`) below `folder`, sorted by name.
  /// False when the folder cannot be read; a module that fails is listed as not started.
  Bool LoadFolder(const String& folder);
  /// Loads one module file from its folder. False when it cannot be opened or has no
  /// `c4d_main`.
  Bool LoadModule(const String& file);
  void Shutdown();
  const std::vector<ModuleInfo>& Modules() const { return modules_; }
  /// The last error text (dlopen's or the loader's).
  const String& LastError() const { return error_; }

 private:
  struct Loaded;
  std::vector<ModuleInfo> modules_;
  std::vector<Loaded*> handles_;
  String error_;
};

/// The folder next to the running program where the build puts the modules
/// (<bin>/../plugins), or empty when it cannot be found.
String DefaultPluginFolder();

// Recorders of what plug-ins show the user.
const std::vector<String>& ConsoleLines();
const String& StatusText();
LONG StatusBar();
const std::vector<String>& Dialogs();
/// Forgets console lines, status and dialogs.
void ClearRecorders();
/// Called for every console line as it is printed (null: none).
void SetConsoleListener(std::function<void(const String&)> listener);

// Input state.
void SetQualifier(LONG qualifierBits);
void SetEscapePressed(Bool pressed);

/// The description a node shows: its plug-in's `GetDescription`, or the host's own for host
/// types. False when the node has none.
Bool GetNodeDescription(BaseList2D* node, Description& description);

/// Asks every live falloff last prepared with `owner`'s container whether its shape's result
/// changed (`C4D_Falloff::CheckDirty`); when one answers true, marks `owner`'s data dirty.
/// True when one did. The scene evaluation calls it for each deformer before its `CheckDirty`.
Bool CheckFalloffDirty(BaseObject* owner);

}  // namespace kwhost
