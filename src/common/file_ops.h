// Whole-file reads and the directory, removal and rename steps the updater's keep folder needs.
// Portable: file_ops.cpp (stdio). Per platform: file_ops_posix.cpp (mkdir, unlink, rmdir, rename) |
// file_ops_win32.cpp (CreateDirectoryA, DeleteFileA, RemoveDirectoryA, MoveFileExA).
#pragma once

#include <string>

// Reads the whole file at `path` into `bytes`. False (with `bytes` empty) when it cannot be
// opened or read to its end.
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
