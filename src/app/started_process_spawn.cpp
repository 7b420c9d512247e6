// Linux: the main application is started with posix_spawn; its pid is kept so a watch can reap
// it (waitpid WNOHANG) and see it end. POSIX target only.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "app/started_process.h"

struct StartedProcess::State {
  pid_t pid = -1;
  bool exited = false;
};

StartedProcess::StartedProcess() : m_state(new State) {}
// Not waited for: the updater exits moments later and the child is reparented.
StartedProcess::~StartedProcess() = default;

bool StartedProcess::Started() const { return m_state->pid > 0; }

bool StartedProcess::HasExited() {
  if (m_state->pid <= 0) return false;
  if (m_state->exited) return true;
  int status = 0;
  pid_t reaped = 0;
  do {
    reaped = ::waitpid(m_state->pid, &status, WNOHANG);
  } while (reaped < 0 && errno == EINTR);
  // ECHILD: someone else reaped it; either way it is gone.
  m_state->exited = reaped == m_state->pid || (reaped < 0 && errno == ECHILD);
  return m_state->exited;
}

void StartedProcess::Terminate() {
  if (m_state->pid <= 0 || HasExited()) return;
  ::kill(m_state->pid, SIGKILL);
  int status = 0;
  while (::waitpid(m_state->pid, &status, 0) < 0 && errno == EINTR) {
  }
  m_state->exited = true;
}

bool StartProgram(const char* path, StartedProcess* started) {
  std::string program = path;
  char* const arguments[] = {&program[0], nullptr};
  pid_t child = 0;
  if (posix_spawn(&child, path, nullptr, nullptr, arguments, environ) != 0) return false;
  if (started != nullptr) {
    started->Platform().pid = child;
    started->Platform().exited = false;
  }
  return true;
}
