// File reads and the directory, removal and rename steps the updater's watch folder needs.
// Portable: file_ops.cpp (whole-file reads). Per platform: file_ops_posix.cpp (open, mkdir,
// unlink, rmdir, rename) | file_ops_win32.cpp (CreateFileA, CreateDirectoryA, DeleteFileA,
// RemoveDirectoryA, MoveFileExA).
#pragma once

#include <cstddef>
#include <memory>
#include <string>

// How opening a file for reading went.
enum class OpenResult {
  kOpened,
  kAbsent,      // nothing is there
  kNotRegular,  // something other than a regular file is there (directory, FIFO, device)
  kFailed,      // any other failure (no right to read, say)
};

// One regular file open for reading in pieces. The open never waits (on a FIFO without a writer,
// say), and nothing is read before the file is known to be a regular one: a device or a pipe
// could block or never end.
class RegularFileReader {
 public:
  RegularFileReader();
  ~RegularFileReader();
  RegularFileReader(const RegularFileReader&) = delete;
  RegularFileReader& operator=(const RegularFileReader&) = delete;

  // Opens `path` (links followed); any file open before is closed first.
  OpenResult Open(const char* path);
  // Reads the next bytes of the open file into `buffer`: how many, 0 at its end, -1 when the read
  // failed or no file is open.
  long long Read(unsigned char* buffer, std::size_t size);

 private:
  struct Handle;  // the platform's owner of the open file
  std::unique_ptr<Handle> m_handle;
};

// Reads the whole file at `path` into `bytes`. False (with `bytes` empty) when it is not a
// regular file or cannot be opened or read to its end.
bool ReadFileBytes(const char* path, std::string& bytes);

// Creates the directory `path` (its parent must exist). True when it exists afterwards.
bool MakeDirectory(const char* path);

// Removes the file `path`. True when it is absent afterwards (also when it never existed).
bool RemoveFileAt(const char* path);

// Removes the empty directory `path`. True when it is absent afterwards.
bool RemoveEmptyDirectory(const char* path);

// True when `path` names an existing file or directory (links followed).
bool PathIsPresent(const char* path);

// Puts the file `from` in the place of the file `to` in one step, replacing it, and flushes the
// directory entry. Needs no free space (both in one directory), so it works on a full disk. True
// when done; on failure both files are as they were.
bool RenameOver(const char* from, const char* to);
