// Dies in the middle of a revert, as a till whose power is cut would: reverts the watch folder of
// MUBAX_TEST_APP_DIR (with its trailing separator) and ends the process abruptly, nothing
// unwound or flushed, right before step number MUBAX_TEST_KILL_STEP (0-based) of the settling.
// Exits 0 when the revert finished before that step.
#include <cstdlib>
#include <string>

#include "update/first_start_watch_store.h"

namespace {

int g_stepsLeft = 0;

bool DieBeforeStep(ConclusionStep /*step*/) {
  if (g_stepsLeft-- == 0) std::_Exit(9);
  return true;
}

}  // namespace

int main() {
  const char* appDir = std::getenv("MUBAX_TEST_APP_DIR");
  const char* step = std::getenv("MUBAX_TEST_KILL_STEP");
  if (appDir == nullptr || step == nullptr) return 2;
  g_stepsLeft = std::atoi(step);
  FirstStartWatchStore store(appDir);
  if (!store.Load()) return 3;
  SetConclusionStepHook(DieBeforeStep);
  return store.Revert(true) == ConclusionResult::kDone ? 0 : 4;
}
