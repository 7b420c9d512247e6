// Linux launcher: the main application counts as running while some process holds an flock on
// $XDG_RUNTIME_DIR/MUB-AX Pirvel.lock (/tmp when unset). The start is in started_process_spawn.cpp.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "app/launcher.h"
#include "app/xdg_runtime.h"
#include "common/posix_handles.h"

bool IsMainApplicationRunning() {
  // Opened without O_CREAT: the probe never leaves a lock file of its own.
  UniqueFd lock(::open(RuntimeFilePath("MUB-AX Pirvel.lock").c_str(), O_RDONLY | O_CLOEXEC));
  if (!lock) return errno == EACCES || errno == EPERM;
  if (::flock(lock.Get(), LOCK_EX | LOCK_NB) != 0) return errno == EWOULDBLOCK;
  ::flock(lock.Get(), LOCK_UN);
  return false;
}
