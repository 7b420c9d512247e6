// Linux: the main application's mark is an flock on "MUB-AX Pirvel.lock".
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>

#include "support/main_app_lock.h"

struct MainAppLock::State {
  int fd = -1;
};

std::string MainAppLockFilePath() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  return std::string(runtime != nullptr && runtime[0] != '\0' ? runtime : "/tmp") +
         "/MUB-AX Pirvel.lock";
}

MainAppLock::MainAppLock() : m_state(new State) {
  m_state->fd = ::open(MainAppLockFilePath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (m_state->fd >= 0 && ::flock(m_state->fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(m_state->fd);
    m_state->fd = -1;
  }
}

MainAppLock::~MainAppLock() {
  if (m_state->fd >= 0) {
    ::close(m_state->fd);
    ::unlink(MainAppLockFilePath().c_str());
  }
}

bool MainAppLock::Held() const { return m_state->fd >= 0; }

bool MainAppMarkExists() { return ::access(MainAppLockFilePath().c_str(), F_OK) == 0; }
