// The kwhost program's commands: plugins, eval, render and sample (docs/cli.md).
#pragma once

#include <iosfwd>

namespace kwcli {

/// Runs the program with its command line; writes results to `out` and the one error
/// message, progress and timing to `err`. Returns the exit status (cli_error.h).
int RunKwhost(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

}  // namespace kwcli
