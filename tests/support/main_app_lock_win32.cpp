// Windows: the main application's mark is the named mutex "MUB-AX Pirvel".
#include <windows.h>

#include "support/main_app_lock.h"

struct MainAppLock::State {
  HANDLE mutex = nullptr;
};

std::string MainAppLockFilePath() { return std::string(); }

MainAppLock::MainAppLock() : m_state(new State) {
  m_state->mutex = ::CreateMutexA(nullptr, TRUE, "MUB-AX Pirvel");
  // Taken already, as a single-instance application sees it: not held (like the Linux flock).
  if (m_state->mutex != nullptr && ::GetLastError() == ERROR_ALREADY_EXISTS) {
    ::CloseHandle(m_state->mutex);
    m_state->mutex = nullptr;
  }
}

MainAppLock::~MainAppLock() {
  if (m_state->mutex != nullptr) ::CloseHandle(m_state->mutex);
}

bool MainAppLock::Held() const { return m_state->mutex != nullptr; }

bool MainAppMarkExists() {
  HANDLE mutex = ::OpenMutexA(SYNCHRONIZE, FALSE, "MUB-AX Pirvel");
  if (mutex == nullptr) return false;
  ::CloseHandle(mutex);
  return true;
}
