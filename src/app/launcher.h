// Starts the main application at the end of a run, unless it is already running.
// Windows: probes the named mutex "MUB-AX Pirvel" and starts the program with CreateProcessA
// (launcher_mutex.cpp). Linux: probes an flock on "MUB-AX Pirvel.lock" and posix_spawn's it
// (launcher_flock.cpp).
#pragma once

#include "app/started_process.h"

// What the launch did, for tests and diagnostics; callers of the run do not look at it.
enum class LaunchOutcome { kStarted, kAlreadyRunning, kNoPath, kStartFailed };

// How long the product waits before it looks for the main application; tests pass less.
constexpr unsigned kLaunchWaitMilliseconds = 1000;

// Waits `waitMilliseconds` (kLaunchWaitMilliseconds in the product), reads the registered "path",
// probes whether the main application runs and, when it does not, starts "path" without arguments
// and without waiting for it. When `started` is given it receives the process started, for a
// first-start watch. Never throws.
LaunchOutcome LaunchMainApplication(unsigned waitMilliseconds, StartedProcess* started = nullptr);

// True when the main application counts as running. Leaves no mutex or lock file behind.
bool IsMainApplicationRunning();

// True when the main application holds its mark now. Unlike IsMainApplicationRunning it never
// creates the mutex nor takes the lock, so it can be asked again and again while the application
// starts without ever making the application's own single-instance check fail. Windows: opens the
// existing mutex (OpenMutexA) | Linux: looks the lock file up in the kernel's lock table
// (/proc/locks).
bool IsMainApplicationHeld();
