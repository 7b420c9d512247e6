// Starts the main application at the end of a run, unless it is already running.
// Windows: probes the named mutex "MUB-AX Pirvel" and starts the program with CreateProcessA
// (launcher_mutex.cpp). Linux: probes an flock on "MUB-AX Pirvel.lock" and posix_spawn's it
// (launcher_flock.cpp).
#pragma once

// What the launch did, for tests and diagnostics; callers of the run do not look at it.
enum class LaunchOutcome { kStarted, kAlreadyRunning, kNoPath, kStartFailed };

// How long the product waits before it looks for the main application; tests pass less.
constexpr unsigned kLaunchWaitMilliseconds = 1000;

// Waits `waitMilliseconds` (kLaunchWaitMilliseconds in the product), reads the registered "path",
// probes whether the main application runs and, when it does not, starts "path" without arguments
// and without waiting for it. Never throws.
LaunchOutcome LaunchMainApplication(unsigned waitMilliseconds);

// True when the main application counts as running. Leaves no mutex or lock file behind.
bool IsMainApplicationRunning();

// Starts the program at `path` without arguments and without waiting for it; true when it
// started. Per platform: CreateProcessA | posix_spawn.
bool StartProgram(const char* path);
