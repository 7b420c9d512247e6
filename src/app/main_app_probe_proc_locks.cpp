// Linux: whether the main application holds its flock, read from the kernel's lock table
// (/proc/locks) by the lock file's device and inode, so the probe never takes the lock itself.
// F_GETLK and F_OFD_GETLK cannot see flock locks; the table lists them. Linux target only.
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <fstream>
#include <sstream>
#include <string>

#include "app/launcher.h"
#include "app/xdg_runtime.h"
#include "common/fixed_buffer.h"

namespace {

constexpr char kLockTable[] = "/proc/locks";
// "major:minor:inode" of a 64-bit inode with room to spare.
constexpr std::size_t kFileIdBufferSize = 64;

// A table line: "<n>: FLOCK  ADVISORY  WRITE <pid> <major>:<minor>:<inode> <start> <end>";
// lines of waiters carry "->" after the number and hold nothing.
bool LineHoldsFlockOn(const std::string& line, const std::string& fileId) {
  std::istringstream fields(line);
  std::string number, kind, mode, access, pid, id;
  fields >> number >> kind;
  if (kind != "FLOCK") return false;
  fields >> mode >> access >> pid >> id;
  return id == fileId;
}

}  // namespace

bool IsMainApplicationHeld() {
  struct stat lockFile {};
  if (::stat(RuntimeFilePath("MUB-AX Pirvel.lock").c_str(), &lockFile) != 0) return false;
  // The table names devices as two-digit hexadecimal major:minor and the inode in decimal.
  char fileId[kFileIdBufferSize];
  FormatText(fileId, sizeof(fileId), "%02x:%02x:%llu", ::major(lockFile.st_dev),
             ::minor(lockFile.st_dev), static_cast<unsigned long long>(lockFile.st_ino));
  std::ifstream table(kLockTable);
  std::string line;
  while (std::getline(table, line)) {
    if (LineHoldsFlockOn(line, fileId)) return true;
  }
  return false;
}
