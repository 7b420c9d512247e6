// Windows: whether the main application holds its mutex, by opening the existing "MUB-AX Pirvel"
// (OpenMutexA, synchronize right only): the probe never creates it, so it never makes the
// application's own CreateMutexA report the mutex as taken. Windows target only.
#include <windows.h>

#include "app/launcher.h"
#include "common/win32_handles.h"

bool IsMainApplicationHeld() {
  UniqueKernelHandle mutex(::OpenMutexA(SYNCHRONIZE, FALSE, "MUB-AX Pirvel"));
  // A mutex of another user's that this one may not open exists all the same.
  return mutex.IsValid() || ::GetLastError() == ERROR_ACCESS_DENIED;
}
