// Files in and out: reading inputs, writing outputs so that no half-written file is ever
// left behind, and progress on a terminal.
#pragma once

#include <functional>
#include <iosfwd>
#include <vector>

#include "kwhost/types.h"

namespace kwcli {

/// The whole file at `path`. Throws CliError (input) "`shown`: cannot read: reason".
String ReadTextFile(const String& path, const String& shown);

/// Output files staged under temporary names beside their targets and renamed into place
/// together by `Commit`. Whatever is not committed is removed when the set is destroyed, so
/// a failing command leaves no partial output.
class OutputFiles {
 public:
  OutputFiles() = default;
  ~OutputFiles();
  OutputFiles(const OutputFiles&) = delete;
  OutputFiles& operator=(const OutputFiles&) = delete;

  /// Stages `contents` for `path`. Throws CliError (output) when it cannot be written.
  void Write(const String& path, const String& contents);
  /// Stages a file that `writer` writes to the temporary path it is given; `writer` throws
  /// CliError itself when it fails.
  void WriteWith(const String& path, const std::function<void(const String& temporary)>& writer);
  /// Renames every staged file to its target.
  void Commit();
  /// The targets staged so far, in order.
  std::vector<String> Targets() const;

 private:
  String Stage(const String& path);
  struct Staged {
    String target, temporary;
  };
  std::vector<Staged> staged_;
};

/// A progress line on standard error ("eval: 12/40"), shown only when `enabled` (standard
/// error is a terminal); redrawn at most a few times a second and erased at the end.
class Progress {
 public:
  Progress(std::ostream& err, bool enabled, String label, long long total);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;
  void Update(long long done);

 private:
  std::ostream& err_;
  bool enabled_;
  String label_;
  long long total_;
  long long lastDrawMs_ = -1;
  bool drawn_ = false;
};

/// Whether standard error is a terminal (progress is shown only then).
bool StderrIsTerminal();

}  // namespace kwcli
