// POSIX file services: glob for the file search, lexical full-path resolution against the working
// directory (the file need not exist, as on Windows), and atomic replacement through rename that
// keeps the old file's links, owner, group and mode.
#include <dirent.h>
#include <fcntl.h>
#include <glob.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "common/file_replacement.h"
#include "common/files.h"
#include "common/fixed_buffer.h"
#include "common/posix_handles.h"

const char kDirectorySeparator[] = "/";

namespace {

// Bytes read at a time when the old file is kept for writing back.
constexpr std::size_t kReadChunkBytes = std::size_t{64} * 1024;
// Mode of a destination that did not exist before.
constexpr mode_t kNewFileMode = 0644;
// The rights and special bits of a mode, without its file type.
constexpr mode_t kModeBits = 07777;
// Everyone's read bits; shifted right by kReadToExecuteShift they are the same people's execute
// bits, so an executable destination may be run by whoever may read it.
constexpr mode_t kReadBits = 0444;
constexpr unsigned kReadToExecuteShift = 2;
// The working directory is read into a buffer of the longest path the system takes.
constexpr std::size_t kWorkingDirectoryBufferSize = PATH_MAX;

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

// Removes the temporary file `name` a killed run left in `directory` (regular files only).
void RemoveStaleTemporaryFile(const std::string& directory, const char* name) {
  const std::string path = directory + "/" + name;
  struct stat info;
  if (::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) ::unlink(path.c_str());
}

// The names in `directory` that may be temporary files of a replacement.
std::vector<std::string> ListTemporaryNames(const std::string& directory) {
  std::vector<std::string> names;
  UniqueDir entries(::opendir(directory.c_str()));
  if (!entries) return names;
  while (const dirent* entry = ::readdir(entries.Get())) {
    if (std::strstr(entry->d_name, kTemporaryNameMarker) != nullptr)
      names.emplace_back(entry->d_name);
  }
  return names;
}

// Removes the temporary files a killed run left while writing `fileName` in `directory`: searched
// for once per batch, or here and now without one.
void RemoveStaleTemporaryFiles(const std::string& directory, const std::string& fileName,
                               ReplacementBatch* batch) {
  std::vector<std::string> unbatched;
  std::vector<std::string>* names = batch != nullptr ? batch->StaleTemporaries(directory) : nullptr;
  if (names == nullptr) {
    if (batch != nullptr) {
      batch->RecordSearch(directory, ListTemporaryNames(directory));
      names = batch->StaleTemporaries(directory);
    } else {
      unbatched = ListTemporaryNames(directory);
      names = &unbatched;
    }
  }
  for (auto name = names->begin(); name != names->end();) {
    if (IsTemporaryNameOf(name->c_str(), fileName.c_str())) {
      RemoveStaleTemporaryFile(directory, name->c_str());
      name = names->erase(name);
    } else {
      ++name;
    }
  }
}

// Fails the way the step hook asks, setting errno as the system call would have.
bool StepFails(ReplaceStep step) {
  const StepFault fault = CheckReplaceStep(step);
  if (fault == StepFault::kNone) return false;
  errno = fault == StepFault::kAccessDenied ? EACCES : EIO;
  return true;
}

// The errors with which an open for writing is refused for want of a right, not by a fault.
bool IsRefusal(int error) {
  return error == EACCES || error == EPERM || error == EROFS || error == ETXTBSY;
}

// The most symbolic links followed from one destination, as the kernel's own limit.
constexpr int kMostLinksFollowed = 40;

// Follows symbolic links from `path` to the path of the file they lead to, which need not exist
// (an open for writing would create it). False on a loop or an unreadable link.
bool FollowLinks(const std::string& path, std::string& target) {
  target = path;
  for (int hop = 0; hop < kMostLinksFollowed; ++hop) {
    struct stat info;
    if (::lstat(target.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return true;
    std::vector<char> link(static_cast<std::size_t>(PATH_MAX) + 1);
    const ssize_t size = ::readlink(target.c_str(), link.data(), link.size() - 1);
    if (size <= 0) return false;
    const std::string next(link.data(), static_cast<std::size_t>(size));
    if (next[0] == '/') {
      target = next;
    } else {
      target = DirectoryOf(target);
      target += '/';
      target += next;
    }
  }
  return false;
}

// Removes a replacement's temporary file unless it went into place.
class TemporaryFile {
 public:
  explicit TemporaryFile(std::string path) : m_path(std::move(path)) {}
  ~TemporaryFile() {
    if (!m_path.empty()) ::unlink(m_path.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  const char* Path() const { return m_path.c_str(); }
  void Keep() { m_path.clear(); }
  void Remove() {
    ::unlink(m_path.c_str());
    m_path.clear();
  }

 private:
  std::string m_path;
};

// Reads all of a file's bytes from its start.
bool ReadAll(int fd, std::string& bytes) {
  bytes.clear();
  char chunk[kReadChunkBytes];
  for (off_t offset = 0;;) {
    const ssize_t got = ::pread(fd, chunk, sizeof chunk, offset);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    bytes.append(chunk, static_cast<std::size_t>(got));
    offset += got;
  }
}

// Makes `fd` hold exactly `data`: written from the start, cut to its length, flushed.
bool Overwrite(int fd, const unsigned char* data, std::size_t length) {
  return ::lseek(fd, 0, SEEK_SET) == 0 && WriteAll(fd, data, length) &&
         ::ftruncate(fd, static_cast<off_t>(length)) == 0 && ::fsync(fd) == 0;
}

// The fallback: writes into the existing file (opened for writing as `target`), which keeps its
// owner, group and rights. Should the write fail, the old bytes are written back.
ReplaceResult WriteInPlace(const std::string& target, int fd, const unsigned char* data,
                           std::size_t length, mode_t mode) {
  std::string old;
  UniqueFd reader(::open(target.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!reader || !ReadAll(reader.Get(), old)) return ReplaceResult::kFailed;
  if (!StepFails(ReplaceStep::kWriteInPlace) && Overwrite(fd, data, length)) {
    struct stat info;
    // Best effort: only the owner may change the mode of the file.
    if (::fstat(fd, &info) == 0 && (info.st_mode & kModeBits) != mode) ::fchmod(fd, mode);
    return ReplaceResult::kWrittenInPlace;
  }
  Overwrite(fd, reinterpret_cast<const unsigned char*>(old.data()), old.size());
  return ReplaceResult::kFailed;
}

// Gives the new file the old one's owner and group (only root may give a file away, and a user
// only a group of his own), then its mode: fchown clears set-user-ID bits, so it goes first.
bool CarryOver(int fd, const struct stat* existing, mode_t mode) {
  if (StepFails(ReplaceStep::kCarryOver)) return false;
  struct stat created;
  if (existing != nullptr && ::fstat(fd, &created) == 0 &&
      (created.st_uid != existing->st_uid || created.st_gid != existing->st_gid) &&
      ::fchown(fd, existing->st_uid, existing->st_gid) != 0) {
    return false;
  }
  return ::fchmod(fd, mode) == 0;
}

// Writes content into a file descriptor; the first failure sticks.
class DescriptorWriter : public ContentWriter {
 public:
  explicit DescriptorWriter(int fd) : m_fd(fd) {}
  bool Write(const unsigned char* data, std::size_t length) override {
    if (m_failed) return false;
    m_failed = !WriteAll(m_fd, data, length);
    return !m_failed;
  }
  bool Failed() const { return m_failed; }

 private:
  int m_fd;
  bool m_failed = false;
};

// Writes the temporary file's bytes as they are made and flushes them: nothing is renamed into
// place before its bytes are on the disk, or a crash could leave an empty or partial file under
// the old name.
bool WriteAndFlush(int fd, ContentProducer& content) {
  if (StepFails(ReplaceStep::kWrite)) return false;
  DescriptorWriter writer(fd);
  if (!content.Produce(writer) || writer.Failed()) return false;
  return !StepFails(ReplaceStep::kFlush) && ::fsync(fd) == 0;
}

// The fallback with content still to be made: gathered whole first, as the old bytes may only be
// touched once the new ones are complete.
ReplaceResult ProduceInPlace(const std::string& target, int fd, ContentProducer& content,
                             mode_t mode) {
  std::string bytes;
  if (!GatherContent(content, bytes)) return ReplaceResult::kFailed;
  return WriteInPlace(target, fd, reinterpret_cast<const unsigned char*>(bytes.data()),
                      bytes.size(), mode);
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
    std::vector<char> workingDirectory(kWorkingDirectoryBufferSize);
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
  // Without O_NONBLOCK, opening a FIFO waits for a writer.
  UniqueFd file(::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!file) return -1;
  struct stat info;
  if (::fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode)) return -1;
  return static_cast<std::int64_t>(info.st_size);
}

// The destination as it stands: whether it exists, and a handle open for writing when it does.
struct ExistingFile {
  bool exists = false;
  struct stat info {};
  UniqueFd writer;
};

// Opens an existing destination for writing, never truncating it, exactly as the old in-place
// write would have: what that open refuses is refused.
ReplaceResult OpenExisting(const std::string& target, ExistingFile& existing) {
  if (::stat(target.c_str(), &existing.info) != 0) {
    return errno == ENOENT ? ReplaceResult::kReplaced : ReplaceResult::kFailed;
  }
  if (!S_ISREG(existing.info.st_mode)) return ReplaceResult::kFailed;
  existing.exists = true;
  existing.writer.Reset(::open(target.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (existing.writer) return ReplaceResult::kReplaced;
  return IsRefusal(errno) ? ReplaceResult::kNotWritable : ReplaceResult::kFailed;
}

void FlushDirectoryEntries(const std::string& directory) {
  UniqueFd directoryHandle(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directoryHandle) ::fsync(directoryHandle.Get());
}

ReplaceResult ReplaceFileContents(const char* destination, ContentProducer& content,
                                  bool executable, ReplacementBatch* batch) {
  if (destination == nullptr || destination[0] == '\0') return ReplaceResult::kFailed;
  std::string target;
  if (!FollowLinks(destination, target) || target.back() == '/') return ReplaceResult::kFailed;
  const std::string directory = DirectoryOf(target);
  const std::string name = FileNameOf(target);

  ExistingFile existing;
  const ReplaceResult opened = OpenExisting(target, existing);
  if (opened != ReplaceResult::kReplaced) return opened;
  mode_t mode = existing.exists ? (existing.info.st_mode & kModeBits) : kNewFileMode;
  if (executable) mode |= (mode & kReadBits) >> kReadToExecuteShift;

  RemoveStaleTemporaryFiles(directory, name, batch);
  std::string temporaryPath = directory + "/" + TemporaryNamePrefix(name.c_str()) + "XXXXXX";
  UniqueFd file(StepFails(ReplaceStep::kCreateTemporary) ? -1 : ::mkstemp(&temporaryPath[0]));
  if (!file) {
    const bool refused = IsRefusal(errno);
    if (existing.exists && refused) {
      return ProduceInPlace(target, existing.writer.Get(), content, mode);
    }
    return ReplaceResult::kFailed;
  }
  TemporaryFile temporary(temporaryPath);
  if (!CarryOver(file.Get(), existing.exists ? &existing.info : nullptr, mode)) {
    file.Reset();
    temporary.Remove();
    if (!existing.exists) return ReplaceResult::kFailed;
    return ProduceInPlace(target, existing.writer.Get(), content, mode);
  }
  if (!WriteAndFlush(file.Get(), content)) return ReplaceResult::kFailed;
  // A failed close can mean unwritten data; it must not be renamed into place.
  if (::close(file.Release()) != 0) return ReplaceResult::kFailed;
  existing.writer.Reset();
  if (StepFails(ReplaceStep::kRename) || ::rename(temporary.Path(), target.c_str()) != 0) {
    return ReplaceResult::kFailed;
  }
  temporary.Keep();
  // The rename is durable only once the directory entry itself reaches the disk.
  if (batch != nullptr) {
    batch->DeferDirectoryFlush(directory);
  } else {
    FlushDirectoryEntries(directory);
  }
  return ReplaceResult::kReplaced;
}
