// Plays an updater run in progress for end-to-end tests: holds the updater's run lock until
// standard input closes, after saying "held" on standard output.
#include <cstdio>

#include "app/run_lock.h"

int main() {
  RunLock lock;
  if (lock.Acquire(0) != RunLockResult::kHeld) return 1;
  std::puts("held");
  std::fflush(stdout);
  while (std::getchar() != EOF) {
  }
  return 0;
}
