// What plug-ins show the user (console, status bar, dialogs), recorded for the program and
// tests; the input state; the break test of host threads.
#include "kwhost/gui.h"

#include <algorithm>
#include <atomic>
#include <mutex>

#include "kwhost/app/host.h"
#include "kwhost/ids.h"

namespace {

struct Recorders {
  std::mutex mutex;
  std::vector<String> console;
  String status;
  LONG bar = 0;
  std::vector<String> dialogs;
  std::function<void(const String&)> listener;
};

// Never destroyed: modules may print while the process shuts down.
Recorders& GetRecorders() {
  static Recorders* recorders = new Recorders;
  return *recorders;
}

std::atomic<LONG> qualifier{0};
std::atomic<bool> escapePressed{false};

}  // namespace

void GePrint(const String& line) {
  Recorders& r = GetRecorders();
  std::function<void(const String&)> listener;
  {
    std::lock_guard<std::mutex> lock(r.mutex);
    r.console.push_back(line);
    listener = r.listener;
  }
  // Outside the lock, so a listener may itself ask for the recorded lines.
  if (listener) listener(line);
}

void StatusSetText(const String& text) {
  Recorders& r = GetRecorders();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.status = text;
}

void StatusSetBar(LONG percent) {
  Recorders& r = GetRecorders();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.bar = std::clamp<LONG>(percent, 0, 100);
}

void StatusClear() {
  Recorders& r = GetRecorders();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.status.clear();
  r.bar = 0;
}

void MessageDialog(const String& text) {
  Recorders& r = GetRecorders();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.dialogs.push_back(text);
}

Bool GetInputState(LONG device, LONG channel, BaseContainer& result) {
  result.SetLong(BFM_INPUT_QUALIFIER, qualifier.load());
  result.SetLong(BFM_INPUT_CHANNEL, channel);
  // Escape is the only key this host knows to be down; every other key reads as up.
  const bool down = device == BFM_INPUT_KEYBOARD && channel == KEY_ESC && escapePressed.load();
  result.SetLong(BFM_INPUT_VALUE, down ? 1 : 0);
  return true;
}

Bool BaseThread::TestBreak() {
  ++polls_;
  return breakAfter_ >= 0 && polls_ > breakAfter_;
}

namespace kwhost {

const std::vector<String>& ConsoleLines() {
  return GetRecorders().console;
}
const String& StatusText() {
  return GetRecorders().status;
}
LONG StatusBar() {
  return GetRecorders().bar;
}
const std::vector<String>& Dialogs() {
  return GetRecorders().dialogs;
}

void ClearRecorders() {
  Recorders& r = GetRecorders();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.console.clear();
  r.status.clear();
  r.bar = 0;
  r.dialogs.clear();
}

void SetConsoleListener(std::function<void(const String&)> listener) {
  Recorders& r = GetRecorders();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.listener = std::move(listener);
}

void SetQualifier(LONG qualifierBits) {
  qualifier = qualifierBits;
}
void SetEscapePressed(Bool pressed) {
  escapePressed = pressed;
}

}  // namespace kwhost
