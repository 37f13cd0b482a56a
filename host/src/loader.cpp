// Loading modules through their one exported entry point, c4d_main.
#include <dlfcn.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <system_error>

#include "host_internal.h"
#include "kwhost/app/host.h"

namespace {

namespace fs = std::filesystem;

using C4DMain = LONG (*)(LONG action, void* p1, void* p2, void* p3);

constexpr const char* kModuleExtension = ".cdl64";

/// The name plug-ins of a module are listed under: its file name, capitalised ("Vexwarp").
String ModuleDisplayName(const String& fileStem) {
  String name = fileStem;
  if (!name.empty()) name[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
  return name;
}

}  // namespace

const HostInterface* GetHostInterface() {
  static const HostInterface host{HOST_API_VERSION, "kwhost"};
  return &host;
}

namespace kwhost {

struct ModuleLoader::Loaded {
  void* handle = nullptr;
  C4DMain main = nullptr;
  String displayName;
};

ModuleLoader::~ModuleLoader() {
  Shutdown();
}

Bool ModuleLoader::LoadFolder(const String& folder) {
  std::error_code error;
  fs::directory_iterator it(folder, error);
  if (error) {
    error_ = folder + ": " + error.message();
    return false;
  }
  // Either <name>/<name>.cdl64 (the build's layout, resources beside it) or a bare file.
  std::vector<fs::path> files;
  for (; it != fs::directory_iterator(); it.increment(error)) {
    if (error) break;
    const fs::path& path = it->path();
    if (it->is_directory(error)) {
      fs::path file = path / (path.filename().string() + kModuleExtension);
      if (fs::is_regular_file(file, error)) files.push_back(file);
    } else if (path.extension() == kModuleExtension) {
      files.push_back(path);
    }
  }
  std::sort(files.begin(), files.end(), [](const fs::path& a, const fs::path& b) {
    return a.stem().string() < b.stem().string();
  });
  for (const fs::path& file : files) LoadModule(file.string());
  return true;
}

Bool ModuleLoader::LoadModule(const String& file) {
  const fs::path path(file);
  ModuleInfo info;
  info.name = path.stem().string();
  info.file = file;

  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* message = dlerror();
    error_ = message ? message : file + ": cannot be loaded";
    modules_.push_back(info);
    return false;
  }
  auto main = reinterpret_cast<C4DMain>(dlsym(handle, "c4d_main"));
  if (!main) {
    error_ = file + ": no c4d_main";
    dlclose(handle);
    modules_.push_back(info);
    return false;
  }

  // The folder the module keeps: where its res/ folder is.
  const String folder = path.parent_path().string();
  const String displayName = ModuleDisplayName(info.name);
  internal::SetLoadingModule(displayName);
  info.initResult = main(C4DPL_INIT_SYS, const_cast<HostInterface*>(GetHostInterface()), nullptr,
                         const_cast<char*>(folder.c_str()));
  if (info.initResult != 1) {
    // A module that did not bind is never started, so it gets no end action either.
    internal::SetLoadingModule({});
    error_ = file + ": initialisation failed";
    dlclose(handle);
    modules_.push_back(info);
    return true;
  }
  // Message 1 loads the resources. A module without them still starts, with empty names.
  main(C4DPL_MESSAGE, reinterpret_cast<void*>(static_cast<std::intptr_t>(C4DMSG_INIT_RESOURCES)),
       nullptr, nullptr);
  info.startResult = main(C4DPL_START, nullptr, nullptr, nullptr);
  info.started = info.startResult == 1;
  internal::SetLoadingModule({});

  auto* loaded = new Loaded{handle, main, displayName};
  handles_.push_back(loaded);
  modules_.push_back(info);
  return true;
}

void ModuleLoader::Shutdown() {
  // Reverse order: a module loaded later may rely on one loaded before it.
  while (!handles_.empty()) {
    Loaded* loaded = handles_.back();
    handles_.pop_back();
    loaded->main(C4DPL_END, nullptr, nullptr, nullptr);
    // Its allocators are about to go away with its code.
    internal::ForgetModule(loaded->displayName);
    dlclose(loaded->handle);
    delete loaded;
  }
  for (ModuleInfo& info : modules_) info.started = false;
}

String DefaultPluginFolder() {
  std::error_code error;
  const fs::path exe = fs::read_symlink("/proc/self/exe", error);
  if (error) return {};
  const fs::path folder = (exe.parent_path() / ".." / "plugins").lexically_normal();
  if (!fs::is_directory(folder, error)) return {};
  return folder.string();
}

}  // namespace kwhost
