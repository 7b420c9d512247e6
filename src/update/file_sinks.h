// The engine's file sinks: to disk, each file replaced in one step, or nowhere (a dry run).
#pragma once

#include <cstddef>

#include "common/files.h"
#include "update/file_sink.h"

// Writes installed files to disk, each replaced in one step (the old file stays whole on failure).
// An installed file is one replaced or, when its directory takes no new file, written in place;
// the write's outcome tells them apart.
class DiskFileSink : public FileSink {
 public:
  FileWrite Write(ContentProducer& content, const char* destination) override;
  void FinishWrites() override { m_batch.Finish(); }

 private:
  ReplacementBatch m_batch;
};

// Writes nothing: makes the content without keeping it, for checking a release before it goes
// live. A null destination (the registered main executable) counts as writable; an empty one does
// not.
class DryRunFileSink : public FileSink {
 public:
  FileWrite Write(ContentProducer& content, const char* destination) override;
};

// Where a file goes: `destination` when given, else the registered main executable's path.
// Returns false, leaving `buffer` empty, when there is no usable path (never a made-up one).
bool ResolveInstallDestination(const char* destination, char* buffer, std::size_t bufferSize);
