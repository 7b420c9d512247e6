// Conditions a replacement meets on a shop PC that a test must set up on purpose: no root
// rights, a file-size limit, a destination another process holds, a kill part-way, something
// other than a file where a file is expected.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "common/files.h"

struct ReplaceConditions {
  bool unprivileged = false;        // as a user without root's rights ("nobody")
  std::uint64_t fileSizeLimit = 0;  // a file-size resource limit in bytes; 0: none
  bool heldOpenWithoutSharing =
      false;                  // another handle holds the first destination, sharing nothing
  bool stop = false;          // the process ends, as if killed, when it reaches...
  int stopInReplacement = 0;  // ...this replacement (0-based)...
  ReplaceStep stopAtStep = ReplaceStep::kCreateTemporary;  // ...at the start of this step
};

// One file to replace: destination and new bytes.
using ReplaceJob = std::pair<std::string, std::string>;

// Runs ReplaceFileContents on each job in turn under `conditions`, in a child process where they
// need one; `results` gets one result per job that finished. Returns false, saying why, when this
// platform or user cannot set the conditions up (the caller skips).
bool ReplaceUnder(const ReplaceConditions& conditions, const std::vector<ReplaceJob>& jobs,
                  std::vector<ReplaceResult>& results, std::string& why);

// Mounts a file system of `bytes` capacity at the existing directory `path`; false, saying why,
// when that cannot be done here. UnmountSmallVolume undoes it.
bool MountSmallVolume(const std::string& path, std::uint64_t bytes, std::string& why);
void UnmountSmallVolume(const std::string& path);

// Makes `path` (file or directory) owned by the user ReplaceUnder's unprivileged runs use; no-op
// where there is none.
void GiveToUnprivilegedUser(const std::string& path);

// What anyone on the shop PC can put where the updater expects a file.
enum class HostileObject {
  kFifo,    // a named pipe: opening it to read waits for a writer
  kDevice,  // a link to an endless character device
  kDirectory,
  kDanglingLink,  // a symbolic link to nothing
  kLinkLoop,      // a symbolic link to itself
};
extern const HostileObject kHostileObjects[5];
const char* HostileObjectName(HostileObject kind);
// Puts `kind` at `path` (which must not exist yet); false, saying why, where this platform or
// user cannot make it (the caller skips that row).
bool MakeHostileObject(HostileObject kind, const std::string& path, std::string& why);
// Paths of things that are not regular files, where a file is expected: made under `directory`
// where they must be made, named where they exist. POSIX: a directory, a FIFO without a writer,
// /dev/null, /dev/zero (endless); Windows: a directory, the NUL device.
std::vector<std::string> MakeNonRegularFiles(const std::string& directory);
// Lets a reader waiting in the open of `path` (a FIFO without a writer) go on; no-op elsewhere.
void ReleaseWaitingReader(const std::string& path);
