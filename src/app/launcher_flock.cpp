// Linux launcher: the main application counts as running while some process holds an flock on
// $XDG_RUNTIME_DIR/MUB-AX Pirvel.lock (/tmp when unset); the start is a posix_spawn, not waited
// for.
#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <string>

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

bool StartProgram(const char* path) {
  // Not waited for: the updater exits moments later and the child is reparented.
  std::string program = path;
  char* const arguments[] = {&program[0], nullptr};
  pid_t child = 0;
  return posix_spawn(&child, path, nullptr, nullptr, arguments, environ) == 0;
}
