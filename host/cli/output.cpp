#include "output.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <ostream>

#include "cli_error.h"

namespace kwcli {

String ReadTextFile(const String& path, const String& shown) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    throw CliError(kExitInput, shown + ": cannot read: it is a folder");
  }
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) throw CliError(kExitInput, shown + ": cannot read: " + std::strerror(errno));
  String text;
  char buffer[1 << 16];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
  const bool failed = std::ferror(file) != 0;
  const int error = errno;
  std::fclose(file);
  if (failed) throw CliError(kExitInput, shown + ": cannot read: " + std::strerror(error));
  return text;
}

OutputFiles::~OutputFiles() {
  for (const Staged& s : staged_) std::remove(s.temporary.c_str());
}

String OutputFiles::Stage(const String& path) {
  const std::filesystem::path target(path);
  if (target.filename().empty()) throw CliError(kExitOutput, path + ": not a file name");
  // A hidden name in the same folder, so the final rename cannot cross file systems.
  const String temporary =
      (target.parent_path() / ("." + target.filename().string() + ".kwhost-" +
                               std::to_string(::getpid()) + "-" + std::to_string(staged_.size())))
          .string();
  staged_.push_back({path, temporary});
  return temporary;
}

void OutputFiles::Write(const String& path, const String& contents) {
  const String temporary = Stage(path);
  std::FILE* file = std::fopen(temporary.c_str(), "wb");
  if (!file) throw CliError(kExitOutput, path + ": cannot write: " + std::strerror(errno));
  const bool written = std::fwrite(contents.data(), 1, contents.size(), file) == contents.size();
  const int error = errno;
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed) {
    throw CliError(kExitOutput, path + ": cannot write: " + std::strerror(written ? errno : error));
  }
}

void OutputFiles::WriteWith(const String& path,
                            const std::function<void(const String& temporary)>& writer) {
  writer(Stage(path));
}

void OutputFiles::Commit() {
  for (const Staged& s : staged_) {
    if (std::rename(s.temporary.c_str(), s.target.c_str()) != 0) {
      throw CliError(kExitOutput, s.target + ": cannot write: " + std::strerror(errno));
    }
  }
  staged_.clear();
}

std::vector<String> OutputFiles::Targets() const {
  std::vector<String> targets;
  for (const Staged& s : staged_) targets.push_back(s.target);
  return targets;
}

static long long NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

Progress::Progress(std::ostream& err, bool enabled, String label, long long total)
    : err_(err), enabled_(enabled), label_(std::move(label)), total_(total) {}

Progress::~Progress() {
  if (drawn_) err_ << "\r\033[K" << std::flush;
}

void Progress::Update(long long done) {
  if (!enabled_) return;
  const long long now = NowMs();
  // A terminal redrawn on every step would slow the work it reports.
  if (lastDrawMs_ >= 0 && now - lastDrawMs_ < 200 && done < total_) return;
  lastDrawMs_ = now;
  drawn_ = true;
  err_ << "\r\033[K" << label_ << ": " << done << "/" << total_ << std::flush;
}

bool StderrIsTerminal() {
  return ::isatty(STDERR_FILENO) == 1;
}

}  // namespace kwcli
