// The main application process a launch started, kept so a first-start watch can see it end.
// Windows: the process handle from CreateProcessA (started_process_win32.cpp). Linux: the child's
// pid from posix_spawn, reaped with waitpid (started_process_spawn.cpp).
#pragma once

#include <memory>

class StartedProcess {
 public:
  StartedProcess();
  ~StartedProcess();
  StartedProcess(const StartedProcess&) = delete;
  StartedProcess& operator=(const StartedProcess&) = delete;

  // True when a launch started a process into this object (whether or not it still runs).
  bool Started() const;
  // True once the started process has ended. False while it runs and when none was started.
  bool HasExited();
  // A launch that tried to start the process and failed says so here.
  void MarkStartFailed() { m_startFailed = true; }
  bool StartFailed() const { return m_startFailed; }
  // Ends the started process, if it still runs, and waits for it. Only ever the process this
  // object started; nothing when none was.
  void Terminate();

  struct State;
  State& Platform() { return *m_state; }

 private:
  std::unique_ptr<State> m_state;
  bool m_startFailed = false;
};

// Starts the program at `path` without arguments and without waiting for it; true when it
// started. When `started` is given it receives the new process. Per platform: CreateProcessA |
// posix_spawn.
bool StartProgram(const char* path, StartedProcess* started = nullptr);
