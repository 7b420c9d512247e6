// Plays a running main application for end-to-end tests: holds its mark (the named mutex or the
// flock) until standard input closes, after saying "held" on standard output.
#include <cstdio>

#include "support/main_app_lock.h"

int main() {
  MainAppLock lock;
  if (!lock.Held()) return 1;
  std::puts("held");
  std::fflush(stdout);
  while (std::getchar() != EOF) {
  }
  return 0;
}
