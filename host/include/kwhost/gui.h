// Console, status bar, dialogs, input state and the break test of host threads.
#pragma once

#include "kwhost/container.h"
#include "kwhost/types.h"

/// Prints one line to the host console.
void GePrint(const String& line);
/// Sets the status bar text.
void StatusSetText(const String& text);
/// Sets the status bar's progress (0..100).
void StatusSetBar(LONG percent);
/// Clears the status bar text and progress.
void StatusClear();
/// Shows a modal message dialog (recorded by this host).
void MessageDialog(const String& text);

/// Fills `result` with the current input state of a device and channel: the qualifier bits
/// at BFM_INPUT_QUALIFIER (Shift = 1) and, for a key channel, whether it is down at
/// BFM_INPUT_VALUE. Returns true.
Bool GetInputState(LONG device, LONG channel, BaseContainer& result);

/// A thread the host evaluates on. Plug-ins poll `TestBreak` in long loops.
class BaseThread {
 public:
  /// True when the host asks the work on this thread to stop.
  Bool TestBreak();
  /// Host side: answer true from the (polls + 1)-th call of `TestBreak` on; -1: never.
  void RequestBreakAfter(LONG polls) {
    breakAfter_ = polls;
    polls_ = 0;
  }
  LONG PollCount() const { return polls_; }

 private:
  LONG breakAfter_ = -1;
  LONG polls_ = 0;
};
