// POSIX file services: glob for the file search, lexical full-path resolution against the working
// directory (the file need not exist, as on Windows), and atomic replacement through rename.
#include <dirent.h>
#include <fcntl.h>
#include <glob.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "common/files.h"
#include "common/fixed_buffer.h"
#include "common/posix_handles.h"

const char kDirectorySeparator[] = "/";

namespace {

class GlobResult {
 public:
  GlobResult() { std::memset(&m_glob, 0, sizeof(m_glob)); }
  ~GlobResult() { globfree(&m_glob); }
  GlobResult(const GlobResult&) = delete;
  GlobResult& operator=(const GlobResult&) = delete;
  glob_t* Get() { return &m_glob; }

 private:
  glob_t m_glob;
};

// Writes all of `data`, retrying short writes and interruptions.
bool WriteAll(int fd, const unsigned char* data, std::size_t length) {
  while (length > 0) {
    const ssize_t written = ::write(fd, data, length);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    length -= static_cast<std::size_t>(written);
  }
  return true;
}

struct DirTraits {
  using Handle = DIR*;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle dir) { ::closedir(dir); }
};
using UniqueDir = UniqueHandle<DirTraits>;

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string FileNameOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Removes the temporary files a killed run left while writing `fileName` in `directory`.
void RemoveStaleTemporaryFiles(const std::string& directory, const std::string& fileName) {
  UniqueDir entries(::opendir(directory.c_str()));
  if (!entries) return;
  while (const dirent* entry = ::readdir(entries.Get())) {
    if (!IsTemporaryNameOf(entry->d_name, fileName.c_str())) continue;
    const std::string path = directory + "/" + entry->d_name;
    struct stat info;
    if (::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) ::unlink(path.c_str());
  }
}

}  // namespace

bool FileExists(char* name, std::size_t nameSize, bool replaceWithFound) {
  if (name == nullptr || name[0] == '\0') return false;
  GlobResult found;
  std::string match;
  struct stat info;
  if (::lstat(name, &info) == 0) {
    // The literal name first: a directory such as "pos[1]" must not be read as a pattern.
    match = name;
  } else if (glob(name, GLOB_NOSORT, nullptr, found.Get()) == 0 && found.Get()->gl_pathc > 0) {
    match = found.Get()->gl_pathv[0];
  } else {
    return false;
  }
  if (replaceWithFound) {
    while (match.size() > 1 && match.back() == '/') match.pop_back();
    const std::size_t slash = match.find_last_of('/');
    const std::string entryName = slash == std::string::npos ? match : match.substr(slash + 1);
    CopyText(name, nameSize, entryName.c_str());
  }
  return true;
}

std::size_t GetFullPath(const char* path, char* buffer, std::size_t bufferSize,
                        std::size_t* fileNameOffset) {
  if (path == nullptr || path[0] == '\0') return 0;
  std::string combined;
  if (path[0] != '/') {
    std::vector<char> workingDirectory(4096);
    if (getcwd(workingDirectory.data(), workingDirectory.size()) == nullptr) return 0;
    combined = std::string(workingDirectory.data()) + "/";
  }
  combined += path;
  const bool endsWithSeparator = combined.back() == '/';

  // Drop empty and "." steps, let ".." remove the step before it.
  std::vector<std::string> steps;
  std::size_t start = 0;
  while (start <= combined.size()) {
    std::size_t end = combined.find('/', start);
    if (end == std::string::npos) end = combined.size();
    const std::string step = combined.substr(start, end - start);
    if (step == "..") {
      if (!steps.empty()) steps.pop_back();
    } else if (!step.empty() && step != ".") {
      steps.push_back(step);
    }
    start = end + 1;
  }
  std::string resolved;
  for (const std::string& step : steps) resolved += "/" + step;
  if (resolved.empty() || endsWithSeparator) resolved += "/";

  if (!CopyText(buffer, bufferSize, resolved.c_str())) return 0;
  if (fileNameOffset != nullptr) {
    *fileNameOffset = resolved.back() == '/' ? resolved.size() : resolved.find_last_of('/') + 1;
  }
  return resolved.size();
}

std::int64_t GetFileSizeBytes(const char* path) {
  if (path == nullptr || path[0] == '\0') return -1;
  UniqueFd file(::open(path, O_RDONLY | O_CLOEXEC));
  if (!file) return -1;
  struct stat info;
  if (::fstat(file.Get(), &info) != 0) return -1;
  return static_cast<std::int64_t>(info.st_size);
}

bool ReplaceFileContents(const char* destination, const unsigned char* data, std::size_t length,
                         bool executable) {
  if (destination == nullptr || destination[0] == '\0') return false;
  const std::string target = destination;
  if (target.back() == '/') return false;
  const std::string directory = DirectoryOf(target);

  RemoveStaleTemporaryFiles(directory, FileNameOf(target));
  std::string temporary =
      directory + "/" + TemporaryNamePrefix(FileNameOf(target).c_str()) + "XXXXXX";
  UniqueFd file(::mkstemp(&temporary[0]));
  if (!file) return false;

  // Keep the permissions an existing destination had (an executable stays executable).
  struct stat existing;
  mode_t mode = ::stat(destination, &existing) == 0 ? (existing.st_mode & 07777) : 0644;
  if (executable) mode |= (mode & 0444) >> 2;
  bool ok = ::fchmod(file.Get(), mode) == 0;
  ok = ok && WriteAll(file.Get(), data, length);
  ok = ok && ::fsync(file.Get()) == 0;
  ok = ok && ::close(file.Release()) == 0;
  ok = ok && ::rename(temporary.c_str(), destination) == 0;
  if (!ok) {
    file.Reset();
    ::unlink(temporary.c_str());
    return false;
  }
  // The rename is durable only once the directory entry itself reaches the disk.
  UniqueFd directoryHandle(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directoryHandle) ::fsync(directoryHandle.Get());
  return true;
}
