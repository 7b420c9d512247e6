// The launch sequence both targets share: wait, read the registered path, probe, start. Only the
// probe and the start are per platform (launcher_mutex.cpp | launcher_flock.cpp).
#include "app/launcher.h"

#include <chrono>
#include <thread>

#include "common/app_directory.h"
#include "common/buffer_sizes.h"
#include "common/settings.h"

LaunchOutcome LaunchMainApplication(unsigned waitMilliseconds, StartedProcess* started) {
  try {
    std::this_thread::sleep_for(std::chrono::milliseconds(waitMilliseconds));
    char path[kSettingTextBufferSize] = {};
    ReadRegistryString(RegistryRoot::CurrentUser, kAppSettingsKey, kAppPathValue, path,
                       sizeof(path));
    if (IsMainApplicationRunning()) return LaunchOutcome::kAlreadyRunning;
    if (path[0] == '\0') return LaunchOutcome::kNoPath;
    if (StartProgram(path, started)) return LaunchOutcome::kStarted;
    if (started != nullptr) started->MarkStartFailed();
    return LaunchOutcome::kStartFailed;
  } catch (...) {
    return LaunchOutcome::kStartFailed;
  }
}
