// Windows launcher: the main application counts as running while the named mutex "MUB-AX Pirvel"
// exists; the probe never keeps it. The start is CreateProcessA.
#include <windows.h>

#include "app/launcher.h"
#include "common/win32_handles.h"

bool IsMainApplicationRunning() {
  UniqueKernelHandle mutex(::CreateMutexA(nullptr, FALSE, "MUB-AX Pirvel"));
  const DWORD error = ::GetLastError();
  // Closing the only handle of a mutex this probe created removes it again.
  return error == ERROR_ALREADY_EXISTS || error == ERROR_ACCESS_DENIED;
}

bool StartProgram(const char* path) {
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
  return true;
}
