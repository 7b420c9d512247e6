// A file that grows across runs: a staged download appended to as its bytes arrive, kept to the
// length known to be on the disk. POSIX: growing_file_posix.cpp (open, ftruncate, fsync);
// Windows: growing_file_win32.cpp (CreateFileA, SetEndOfFile, FlushFileBuffers).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

class GrowingFile {
 public:
  GrowingFile();
  ~GrowingFile();
  GrowingFile(const GrowingFile&) = delete;
  GrowingFile& operator=(const GrowingFile&) = delete;

  // Opens `path` for appending, creating it when absent, and cuts it to at most `keepBytes`
  // (bytes past what was last flushed may be anything after a power cut). Opened without
  // blocking and only when it is a regular file: a pipe, a device or a directory of that name is
  // refused, untouched. False on any failure (the object is then closed).
  bool Open(const char* path, std::uint64_t keepBytes);
  // Bytes in the file now.
  std::uint64_t Size() const { return m_size; }
  // Appends `length` bytes; false when they could not all be written.
  bool Append(const void* data, std::size_t length);
  // Cuts the file to nothing, for a document sent again whole.
  bool Empty();
  // Puts the bytes written so far on the disk.
  bool Flush();
  void Close();

 private:
  struct Impl;  // the platform's handle
  std::unique_ptr<Impl> m_impl;
  std::uint64_t m_size = 0;
};
