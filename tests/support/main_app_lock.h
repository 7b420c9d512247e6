// Holds what marks the main application as running (the named mutex on Windows, the flock on
// Linux) for the life of the object, as the real main application would.
#pragma once

#include <memory>
#include <string>

class MainAppLock {
 public:
  MainAppLock();
  ~MainAppLock();
  MainAppLock(const MainAppLock&) = delete;
  MainAppLock& operator=(const MainAppLock&) = delete;
  bool Held() const;

  struct State;

 private:
  std::unique_ptr<State> m_state;
};

// The lock file on Linux ("" on Windows, where the mark is a mutex with no file).
std::string MainAppLockFilePath();
// True when a named mutex "MUB-AX Pirvel" exists (Windows) / the lock file exists (Linux).
bool MainAppMarkExists();
