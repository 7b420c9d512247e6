// File-system services the updater needs: search, full-path resolution, size, atomic replacement.
// Windows: files_win32.cpp (FindFirstFileA, GetFullPathNameA, MoveFileExA).
// Both: file_replacement.cpp (temporary names, the step hook for tests; what the back ends share
// is in file_replacement.h, private to src/common).
// POSIX: files_posix.cpp (glob, lexical resolution against the working directory, rename).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

// "\\" on Windows, "/" on POSIX: what ends a directory in paths the updater builds itself.
extern const char kDirectorySeparator[];

// True when the platform's file search finds at least one entry (file or directory) matching
// `name`. With `replaceWithFound` set, `name` (a buffer of `nameSize` bytes) receives the name of
// the entry found, when it fits; otherwise it is untouched.
bool FileExists(char* name, std::size_t nameSize, bool replaceWithFound);

// Resolves `path` to a full path in `buffer` (never more than `bufferSize` bytes). On success
// returns the length and sets `fileNameOffset` to where the file-name part starts (the length
// itself when the path has no file-name part). Returns 0 and leaves `buffer` untouched when the
// path is empty, cannot be resolved or does not fit.
std::size_t GetFullPath(const char* path, char* buffer, std::size_t bufferSize,
                        std::size_t* fileNameOffset);

// Size in bytes of the regular file at `path`, or -1 when it cannot be opened for reading or is
// no regular file (a FIFO is never waited on).
std::int64_t GetFileSizeBytes(const char* path);

// How a replacement ended.
enum class ReplaceResult {
  kReplaced,        // the new file took the destination's place in one step
  kWrittenInPlace,  // the bytes were written into the existing file itself (see below)
  kNotWritable,     // the process may not open the destination for writing: it is untouched
  kFailed,          // any other failure: the destination is as it was
};

// Replaces `destination` with `data` in one step: writes a temporary file in the destination's
// directory, flushes it to disk, then renames it over the destination. Whatever the result, no
// temporary file is left behind.
// - A destination the process could not open for writing (POSIX: write permission of the
//   effective user, a read-only file system, a running program; Windows: the read-only
//   attribute, the file's access rights, another process holding it without sharing) is refused
//   with kNotWritable, as a plain open for writing would be, and never truncated.
// - A symbolic link is kept: the file it leads to is replaced.
// - The new file gets the old one's owner, group and permission bits (POSIX) or its attributes
//   and, where the process may set it, its access control list (Windows). With `executable` set
//   the file can be run afterwards (POSIX: execute permission wherever read permission is
//   given). A new file gets mode 0644 (plus execute bits when `executable`).
// - When the directory takes no new file but the destination itself is writable, or (POSIX) the
//   new file could not be given the old one's owner and group, the bytes are written into the
//   existing file in place instead (kWrittenInPlace): owner and rights stay as they are, but the
//   write is not one step. When that write fails the old bytes are written back.
// The temporary file is named ".<name>.mubax-new.XXXXXX" (TemporaryNamePrefix and six characters);
// any such file a killed run left beside the destination is removed before it is written again.
// Only one run writes a destination at a time, so a file of that pattern is never a live one.
ReplaceResult ReplaceFileContents(const char* destination, const unsigned char* data,
                                  std::size_t length, bool executable = false);

// Takes the new content of a file as it is made.
class ContentWriter {
 public:
  virtual ~ContentWriter() = default;
  // False when the bytes could not be written; the replacement then fails whatever follows.
  virtual bool Write(const unsigned char* data, std::size_t length) = 0;
};

// Makes a file's new content piece by piece (decoding it as it is fetched, say), so that content
// of any size goes to disk without being held whole.
class ContentProducer {
 public:
  virtual ~ContentProducer() = default;
  // Writes the whole content through `out`, in order. True when it is complete and may take the
  // destination's place; false throws away whatever was written. Called at most once.
  virtual bool Produce(ContentWriter& out) = 0;
};

// As above, with the content made by `content` while the temporary file is open: nothing is held
// in memory but what the producer holds. The producer is run only when the destination is to be
// written (it may not run at all, say for kNotWritable); when the destination is to be written in
// place, its content is gathered in memory first, since the old bytes may only be touched once
// the new ones are complete. kFailed, and the destination untouched, when the producer says so.
// What the replacements of one run share, so that a release of many small files costs per file
// little more than its own bytes: each directory is searched for a killed run's temporary files
// once, not once per file (which grew with the square of the files in it), and each directory's
// entries are flushed once when the batch is finished, not after every rename. Every file's own
// bytes are still on the disk before its rename; until Finish, a crash may undo a rename, leaving
// the old file whole. Only one run writes at a time, so no temporary file appears in a directory
// once it was searched. Not for use from two threads at once.
class ReplacementBatch {
 public:
  ReplacementBatch() = default;
  ~ReplacementBatch() { Finish(); }
  ReplacementBatch(const ReplacementBatch&) = delete;
  ReplacementBatch& operator=(const ReplacementBatch&) = delete;

  // Flushes the entries of every directory a file was renamed into since the last Finish.
  void Finish();

  // For the replacement back ends: the temporary files found in `directory` when it was first
  // searched (null when it was not yet), which they take off as they remove them.
  std::vector<std::string>* StaleTemporaries(const std::string& directory);
  void RecordSearch(const std::string& directory, std::vector<std::string> temporaries);
  // A rename into `directory` whose entry still has to reach the disk.
  void DeferDirectoryFlush(const std::string& directory) { m_unflushed.insert(directory); }

 private:
  std::map<std::string, std::vector<std::string>> m_searched;
  std::set<std::string> m_unflushed;
};

ReplaceResult ReplaceFileContents(const char* destination, ContentProducer& content,
                                  bool executable = false, ReplacementBatch* batch = nullptr);

// Content already in memory, as a producer: for the byte overload of ReplaceFileContents.
class BytesContent : public ContentProducer {
 public:
  BytesContent(const unsigned char* data, std::size_t length) : m_data(data), m_length(length) {}
  bool Produce(ContentWriter& out) override { return m_length == 0 || out.Write(m_data, m_length); }

 private:
  const unsigned char* m_data;
  std::size_t m_length;
};

// Runs `content` into memory, for writing a file in place. False when the producer refuses or
// memory runs out.
bool GatherContent(ContentProducer& content, std::string& bytes);

// Test seam, in the manner of an overridable system-call table: the steps of a replacement, in
// the order they run. The hook is called before each step; a fault it returns makes that step
// fail as its system call would (kAccessDenied like a refused permission). Tests also use it to
// record the order of the steps and to end the process at one. Null (the default) runs them all.
enum class ReplaceStep {
  kCreateTemporary,  // create the temporary file beside the destination
  kCarryOver,        // give it the old file's owner, group and mode (or attributes and ACL)
  kWrite,            // write the bytes
  kFlush,            // flush them to the disk
  kRename,           // put the temporary file in the destination's place
  kWriteInPlace,     // the fallback: write into the existing file
};
enum class StepFault { kNone, kAccessDenied, kOtherError };
using ReplaceStepHook = StepFault (*)(ReplaceStep step);
void SetReplaceStepHook(ReplaceStepHook hook);
