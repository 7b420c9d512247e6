// Linux run lock: an flock on "MUB-AX Pirvel Updater.lock" in the runtime directory. The file is
// left in place: removing a lock file races with a run that has just opened it.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "app/run_lock.h"
#include "app/xdg_runtime.h"
#include "common/posix_handles.h"

namespace {

constexpr int kRetryMilliseconds = 50;

}  // namespace

struct RunLock::State {
  UniqueFd lock;
};

RunLock::RunLock() : m_state(new State) {}
RunLock::~RunLock() = default;  // closing the descriptor drops the flock

RunLockResult RunLock::Acquire(unsigned waitMilliseconds) {
  m_state->lock.Reset(::open(RuntimeFilePath("MUB-AX Pirvel Updater.lock").c_str(),
                             O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (!m_state->lock) return RunLockResult::kUnavailable;
  if (::flock(m_state->lock.Get(), LOCK_EX | LOCK_NB) == 0) return RunLockResult::kHeld;
  if (errno != EWOULDBLOCK) return RunLockResult::kUnavailable;
  // flock has no time-out of its own: poll until the deadline.
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMilliseconds);
  while (std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(kRetryMilliseconds));
    if (::flock(m_state->lock.Get(), LOCK_EX | LOCK_NB) == 0) return RunLockResult::kOtherRunEnded;
    if (errno != EWOULDBLOCK) return RunLockResult::kUnavailable;
  }
  return RunLockResult::kTimedOut;
}
