// Windows launcher: the main application counts as running while the named mutex "MUB-AX Pirvel"
// exists; the probe never keeps it. The start is in started_process_win32.cpp.
#include <windows.h>

#include "app/launcher.h"
#include "common/win32_handles.h"

bool IsMainApplicationRunning() {
  UniqueKernelHandle mutex(::CreateMutexA(nullptr, FALSE, "MUB-AX Pirvel"));
  const DWORD error = ::GetLastError();
  // Closing the only handle of a mutex this probe created removes it again.
  return error == ERROR_ALREADY_EXISTS || error == ERROR_ACCESS_DENIED;
}
