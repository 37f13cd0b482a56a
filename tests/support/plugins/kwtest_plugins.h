// In-process registration of the modules' plug-ins, with the resources the build placed
// in build/plugins/<module>/res: the plug-in code runs in the test process, no module is
// loaded.
#pragma once

#include "frame/module_tables.h"
#include "kwtest.h"

namespace kwtest {

/// Registers the plug-ins of `spec` with the resources of build/plugins/`folder`.
/// Failures are test failures.
void RegisterModule(const kw::frame::ModuleSpec& spec, const char* folder);

/// Registers the plug-ins of all six modules.
void RegisterAllModules();

/// `HostTest` with every plug-in registered.
class PluginTest : public HostTest {
 protected:
  void SetUp() override;
  void TearDown() override;
};

}  // namespace kwtest
