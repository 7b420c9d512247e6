// File-system services the updater needs: search, full-path resolution, size, atomic replacement.
// Windows: files_win32.cpp (FindFirstFileA, GetFullPathNameA, MoveFileExA).
// POSIX: files_posix.cpp (glob, lexical resolution against the working directory, rename).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

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

// Size in bytes of the file at `path`, or -1 when it cannot be opened for reading.
std::int64_t GetFileSizeBytes(const char* path);

// Replaces `destination` with `data` in one step: writes a temporary file in the destination's
// directory, flushes it to disk, then renames it over the destination. Returns true on success.
// On any failure returns false, removes the temporary file, and leaves the destination as it was.
// The temporary file is named ".<name>.mubax-new.XXXXXX" (TemporaryNamePrefix and six characters);
// any such file a killed run left beside the destination is removed before it is written again.
// Only one run writes a destination at a time, so a file of that pattern is never a live one.
// With `executable` set the file can be run afterwards (POSIX: execute permission wherever read
// permission is given; Windows has no such bit). Otherwise an existing file keeps its permissions.
bool ReplaceFileContents(const char* destination, const unsigned char* data, std::size_t length,
                         bool executable = false);

// The temporary files of a replacement: "." + file name + kTemporaryNameMarker + a unique suffix
// of kTemporaryNameSuffixLength characters. The file name is cut where the whole would not fit a
// 255-byte file name.
extern const char kTemporaryNameMarker[];  // ".mubax-new."
constexpr std::size_t kTemporaryNameSuffixLength = 6;
std::string TemporaryNamePrefix(const char* fileName);
// True when `entryName` (a name in a directory) is a temporary file of a replacement of the file
// named `fileName` in that directory.
bool IsTemporaryNameOf(const char* entryName, const char* fileName);
