// Opening the files the updater reads or appends to by name (its log, its settings store) as
// regular files only: a FIFO, a device or a directory in a file's place, which any user of the PC
// can make, is refused at once instead of blocking the till or being read without end.
// POSIX: regular_file_posix.cpp (open with O_NONBLOCK, fstat). Windows: regular_file_win32.cpp
// (CreateFileA, GetFileType).
#pragma once

#include "common/stdio_file.h"

enum class RegularFileUse {
  kRead,      // read from the start; the file must exist
  kAppend,    // write at the end, creating the file when absent
  kTruncate,  // write from an emptied file, creating it when absent
};

enum class RegularFileOpen {
  kOpened,      // `file` holds a binary stdio stream on the regular file
  kAbsent,      // no entry by that name (to write: no directory to make it in)
  kNotRegular,  // a FIFO, a device, a directory, a link to nothing: left untouched
  kFailed,      // any other failure (no right, no room, a link loop)
};

// Opens `path` for `use` without ever waiting on what it names, and hands the stream out only
// when it is a regular file; `file` is reset on every other result. Nothing is truncated unless
// the file turned out to be regular.
RegularFileOpen OpenRegularFile(const char* path, RegularFileUse use, UniqueStdioFile& file);
