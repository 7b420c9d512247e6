// Windows set-up of replacement conditions: a destination held open without sharing. The others
// need a second user, resource limits or a child process and are reported as unavailable.
#include <windows.h>

#include "common/win32_handles.h"
#include "support/disk_conditions.h"

bool ReplaceUnder(const ReplaceConditions& conditions, const std::vector<ReplaceJob>& jobs,
                  std::vector<ReplaceResult>& results, std::string& why) {
  results.clear();
  if (conditions.unprivileged) {
    why = "the Windows tests run as one user";
    return false;
  }
  if (conditions.fileSizeLimit > 0) {
    why = "Windows has no file-size resource limit";
    return false;
  }
  if (conditions.stop) {
    why = "ending the installer part-way needs a child process, which is tested on Linux";
    return false;
  }
  UniqueFileHandle holder;
  if (conditions.heldOpenWithoutSharing && !jobs.empty()) {
    holder.Reset(CreateFileA(jobs.front().first.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!holder) {
      why = "cannot hold the destination open";
      return false;
    }
  }
  for (const ReplaceJob& job : jobs) {
    results.push_back(ReplaceFileContents(job.first.c_str(),
                                          reinterpret_cast<const unsigned char*>(job.second.data()),
                                          job.second.size()));
  }
  return true;
}

bool MountSmallVolume(const std::string& /*path*/, std::uint64_t /*bytes*/, std::string& why) {
  why = "no small volume can be mounted from a Windows test";
  return false;
}

void UnmountSmallVolume(const std::string& /*path*/) {}

void GiveToUnprivilegedUser(const std::string& /*path*/) {}

bool MakeHostileObject(HostileObject kind, const std::string& path, std::string& why) {
  // Named pipes live outside the file system and links need a privilege the tests lack.
  if (kind != HostileObject::kDirectory) {
    why = "only a directory can stand in a file's place from a Windows test";
    return false;
  }
  if (CreateDirectoryA(path.c_str(), nullptr)) return true;
  why = "cannot make the directory";
  return false;
}

std::vector<std::string> MakeNonRegularFiles(const std::string& directory) {
  const std::string folder = directory + "\\folder";
  CreateDirectoryA(folder.c_str(), nullptr);
  return {folder, "NUL"};
}

void ReleaseWaitingReader(const std::string& /*path*/) {}
