// Whole-file reads and the directory and removal steps the updater's keep folder needs.
// Portable: file_ops.cpp (stdio). Per platform: file_ops_posix.cpp (mkdir, unlink, rmdir) |
// file_ops_win32.cpp (CreateDirectoryA, DeleteFileA, RemoveDirectoryA).
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
