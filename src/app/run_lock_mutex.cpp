// Windows run lock: the named mutex "MUB-AX Pirvel Updater", owned while a run updates. A run
// that ended without releasing it (killed) leaves it abandoned, which the next run takes.
#include <windows.h>

#include "app/run_lock.h"
#include "common/win32_handles.h"

struct RunLock::State {
  UniqueKernelHandle mutex;
  bool owned = false;
  ~State() {
    if (owned) ::ReleaseMutex(mutex.Get());
  }
};

RunLock::RunLock() : m_state(new State) {}
RunLock::~RunLock() = default;

namespace {

bool Taken(DWORD wait) { return wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED; }

}  // namespace

RunLockResult RunLock::Acquire(unsigned waitMilliseconds) {
  m_state->mutex.Reset(::CreateMutexA(nullptr, FALSE, "MUB-AX Pirvel Updater"));
  if (!m_state->mutex) return RunLockResult::kUnavailable;
  if (Taken(::WaitForSingleObject(m_state->mutex.Get(), 0))) {
    m_state->owned = true;
    return RunLockResult::kHeld;
  }
  const DWORD wait = ::WaitForSingleObject(m_state->mutex.Get(), waitMilliseconds);
  if (Taken(wait)) {
    m_state->owned = true;
    return RunLockResult::kOtherRunEnded;
  }
  return wait == WAIT_TIMEOUT ? RunLockResult::kTimedOut : RunLockResult::kUnavailable;
}
