// What the replacement back ends (files_win32.cpp, files_posix.cpp) share beyond files.h: the
// temporary names, the directory flush and the step hook's verdict. Private to src/common (and its
// tests); defined in file_replacement.cpp but for the flush, which is each back end's.
#pragma once

#include <cstddef>
#include <string>

#include "common/files.h"

// The temporary files of a replacement: "." + file name + kTemporaryNameMarker + a unique suffix
// of kTemporaryNameSuffixLength characters. The file name is cut where the whole would not fit a
// 255-byte file name, or past `longestName` bytes where the whole path has a limit of its own.
extern const char kTemporaryNameMarker[];  // ".mubax-new."
constexpr std::size_t kTemporaryNameSuffixLength = 6;
constexpr std::size_t kNoPathLimit = static_cast<std::size_t>(-1);
std::string TemporaryNamePrefix(const char* fileName, std::size_t longestName = kNoPathLimit);
// True when `entryName` (a name in a directory) is a temporary file of a replacement of the file
// named `fileName` in that directory (its name cut at `longestName`, as TemporaryNamePrefix cuts).
bool IsTemporaryNameOf(const char* entryName, const char* fileName,
                       std::size_t longestName = kNoPathLimit);
// How much of a file name a temporary name in a directory of `directoryLength` bytes (with its
// separator) may keep so that the whole path stays within `longestPath` bytes.
std::size_t LongestNameInTemporaryName(std::size_t directoryLength, std::size_t longestPath);

// Flushes the entries of `directory` to disk (a rename into it is durable afterwards). POSIX:
// fsync of the directory; Windows: nothing, as MoveFileExA writes through.
void FlushDirectoryEntries(const std::string& directory);

// What the hook says of `step` (kNone without a hook). For the replacement back ends.
StepFault CheckReplaceStep(ReplaceStep step);
