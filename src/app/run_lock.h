// The updater's own run lock, so two updaters never install at once. Distinct from the main
// application's mark. Windows: the named mutex "MUB-AX Pirvel Updater" (run_lock_mutex.cpp);
// Linux: an flock on "MUB-AX Pirvel Updater.lock" in the runtime directory (run_lock_flock.cpp).
#pragma once

#include <memory>

// How long a second run waits for the first before it goes on without updating: a whole run
// with default settings ends well inside it, and the till still starts soon after.
constexpr unsigned kRunLockWaitMilliseconds = 120000;

enum class RunLockResult {
  kHeld,           // taken at once: no other run holds it
  kOtherRunEnded,  // taken after waiting for another run to end
  kTimedOut,       // another run still holds it after the wait
  kUnavailable,    // the lock itself could not be made (no runtime directory, no mutex)
};

// Holds the lock, once acquired, until destroyed. Windows: destroy it on the thread that
// acquired it (a mutex belongs to its thread).
class RunLock {
 public:
  RunLock();
  ~RunLock();
  RunLock(const RunLock&) = delete;
  RunLock& operator=(const RunLock&) = delete;

  // Takes the lock, waiting up to `waitMilliseconds` while another run holds it. Call once.
  RunLockResult Acquire(unsigned waitMilliseconds);

  struct State;

 private:
  std::unique_ptr<State> m_state;
};
