// Where the installer's decoded bytes go: one write per file, returning how it went, and a flush
// after the run's last file.
#pragma once

#include <cstddef>

#include "common/files.h"

// How one write went: the disk's own result (a dry run answers kReplaced for what it would
// write), and the bytes the content made.
struct FileWrite {
  ReplaceResult outcome = ReplaceResult::kFailed;
  std::size_t bytes = 0;
  // True when the file is in place, in one step or written into the existing file.
  bool Installed() const {
    return outcome == ReplaceResult::kReplaced || outcome == ReplaceResult::kWrittenInPlace;
  }
};

class FileSink {
 public:
  virtual ~FileSink() = default;
  // Writes the content `content` makes (see ContentProducer) to `destination`, or over the
  // registered main executable when `destination` is null. The sink may decide not to make it at
  // all, and writes nothing the producer does not call complete.
  virtual FileWrite Write(ContentProducer& content, const char* destination) = 0;
  // After the last file of a run: whatever the sink deferred (flushing directory entries) is
  // done before the main application starts.
  virtual void FinishWrites() {}
};
