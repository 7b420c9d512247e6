// Windows: the main application is started with CreateProcessA; the process handle is kept so a
// watch can see it end. Windows target only.
#include <windows.h>

#include "app/started_process.h"
#include "common/win32_handles.h"

struct StartedProcess::State {
  UniqueKernelHandle process;
};

StartedProcess::StartedProcess() : m_state(new State) {}
StartedProcess::~StartedProcess() = default;

bool StartedProcess::Started() const { return m_state->process.IsValid(); }

bool StartedProcess::HasExited() {
  return m_state->process && ::WaitForSingleObject(m_state->process.Get(), 0) == WAIT_OBJECT_0;
}

void StartedProcess::Terminate() {
  if (!m_state->process || HasExited()) return;
  ::TerminateProcess(m_state->process.Get(), 1);
  ::WaitForSingleObject(m_state->process.Get(), INFINITE);
}

bool StartProgram(const char* path, StartedProcess* started) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOW;
  PROCESS_INFORMATION process = {};
  if (!::CreateProcessA(path, nullptr, nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS, nullptr,
                        nullptr, &startup, &process)) {
    return false;
  }
  UniqueKernelHandle processHandle(process.hProcess);
  UniqueKernelHandle threadHandle(process.hThread);
  if (started != nullptr) started->Platform().process = std::move(processHandle);
  return true;
}
