// The first-start watch: polls the main application's mark with the probe that never takes it,
// and the started process, until the start proves good or fails.
#include "app/first_start_watch.h"

#include <thread>

#include "app/launcher.h"

StartVerdict WatchFirstStart(StartedProcess& process, const WatchTiming& timing) {
  if (process.StartFailed()) return StartVerdict::kExited;
  using Clock = std::chrono::steady_clock;
  const Clock::time_point end = Clock::now() + timing.period;
  bool held = false;
  bool everHeld = false;  // the log must not say the mark was never taken when it was
  Clock::time_point heldSince;
  for (;;) {
    const Clock::time_point now = Clock::now();
    // Looked at before the mark: a process that has ended has let its mark go too.
    if (process.HasExited()) return everHeld ? StartVerdict::kLetGo : StartVerdict::kExited;
    if (IsMainApplicationHeld()) {
      if (!held) heldSince = now;
      held = everHeld = true;
      if (now - heldSince >= timing.steadyHold) return StartVerdict::kGood;
    } else {
      held = false;  // let go again: the steady hold starts over
    }
    if (!held && now >= end) return everHeld ? StartVerdict::kLetGo : StartVerdict::kNeverHeld;
    std::this_thread::sleep_for(timing.poll);
  }
}
