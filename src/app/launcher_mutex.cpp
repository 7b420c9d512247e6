// Windows launcher: the main application counts as running while the named mutex "MUB-AX Pirvel"
// exists; the probe never keeps it. The start is CreateProcessA on the registered path.
#include <windows.h>

#include "app/launcher.h"
#include "common/app_directory.h"
#include "common/settings.h"
#include "common/win32_handles.h"

bool IsMainApplicationRunning() {
  UniqueKernelHandle mutex(::CreateMutexA(nullptr, FALSE, "MUB-AX Pirvel"));
  const DWORD error = ::GetLastError();
  // Closing the only handle of a mutex this probe created removes it again.
  return error == ERROR_ALREADY_EXISTS || error == ERROR_ACCESS_DENIED;
}

LaunchOutcome LaunchMainApplication(unsigned waitMilliseconds) {
  try {
    ::Sleep(waitMilliseconds);
    char path[255] = {};
    ReadRegistryString(RegistryRoot::CurrentUser, kAppSettingsKey, kAppPathValue, path,
                       sizeof(path));
    if (IsMainApplicationRunning()) return LaunchOutcome::kAlreadyRunning;
    if (path[0] == '\0') return LaunchOutcome::kNoPath;

    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOW;
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessA(path, nullptr, nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS, nullptr,
                          nullptr, &startup, &process)) {
      return LaunchOutcome::kStartFailed;
    }
    UniqueKernelHandle processHandle(process.hProcess);
    UniqueKernelHandle threadHandle(process.hThread);
    return LaunchOutcome::kStarted;
  } catch (...) {
    return LaunchOutcome::kStartFailed;
  }
}
