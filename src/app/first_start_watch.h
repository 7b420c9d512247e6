// Watching the first start of a new release: the start is good once the main application holds
// its mark and still holds it a while later; it failed when the started process ends before
// that, or the watch period ends without the mark ever held. Portable; the probe is the launcher's.
#pragma once

#include <chrono>

#include "app/started_process.h"

enum class StartVerdict {
  kGood,       // the mark was held, and still held kSteadyHold later
  kExited,     // the started process ended (or could not be started) before the start was good
  kNeverHeld,  // the watch period ended and the mark had not been held
  kLetGo,      // the mark was held but let go before the steady hold, and then the started
               // process ended or the watch period did with the mark not held
};

// How long the mark must stay held for a good start: long enough for an application that
// crashes right after its single-instance check to show it.
constexpr std::chrono::milliseconds kSteadyHold{3000};
// How often the mark and the process are looked at.
constexpr std::chrono::milliseconds kWatchPoll{100};

struct WatchTiming {
  std::chrono::milliseconds period{0};
  std::chrono::milliseconds steadyHold = kSteadyHold;  // tests pass less
  std::chrono::milliseconds poll = kWatchPoll;
};

// Watches until a verdict. A mark first seen held before the watch period ends is followed to the
// end of its steady hold even past the watch period. `process` may hold no process (the application
// was already running, or there was no path); one whose start failed fails at once.
StartVerdict WatchFirstStart(StartedProcess& process, const WatchTiming& timing);
