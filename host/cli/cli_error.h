// The failures the kwhost program reports: one message and an exit status.
#pragma once

#include <stdexcept>
#include <string>

namespace kwcli {

/// Exit statuses of the program (docs/cli.md lists them for users).
enum ExitStatus : int {
  kExitOk = 0,
  kExitInput = 1,    ///< a scene, mesh or option value is malformed or names nothing
  kExitUsage = 2,    ///< the command line itself is wrong
  kExitPlugins = 3,  ///< the plug-in folder cannot be read
  kExitHost = 4,     ///< evaluation failed or host memory ran out
  kExitOutput = 5,   ///< an output file cannot be written
};

/// A failure that ends the command. The message is complete ("scene.json: objects[2].name:
/// expected a string") and is printed as the program's only error line.
class CliError : public std::runtime_error {
 public:
  CliError(int status, const std::string& message) : std::runtime_error(message), status_(status) {}
  int Status() const { return status_; }

 private:
  int status_;
};

}  // namespace kwcli
