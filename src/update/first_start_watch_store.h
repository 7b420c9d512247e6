// The previous version of a release kept for a first-start watch: a folder of the updater's own
// inside the application directory holding a copy of every file a run replaces and a record of
// what the run did, and the revert and clean-up that conclude it. Portable.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "update/file_sink.h"

// Settings beside "path", "urlact" and "version".
extern const char kStartWatchValue[];   // "vigilarArranque": seconds of watching, 0/absent = off
extern const char kHeldVersionValue[];  // "versionRetenida": the version held after a failed start

// The watch folder's name inside the application directory, and the record's inside the folder.
extern const char kWatchFolderName[];  // ".mubax-previous"
extern const char kWatchRecordName[];  // "record.txt"
// The record as a failed start will make it (reverting, hold), written while the release goes under
// watch, so that the hold is put in place by one rename, which a full disk still takes.
extern const char kWatchRevertRecordName[];  // "record-revert.txt"

enum class FirstStartWatchState {
  kKeeping,    // a mode is installing: files are kept one by one before each is replaced
  kWatching,   // installed; the first start is being watched
  kReverting,  // putting the previous version back
  kCleaning,   // the release stays: removing the kept copies
};

struct KeptFile {
  bool replaced = false;    // false: the file did not exist before the run (a new file)
  bool executable = false;  // the registered main executable: must stay runnable
  std::string keptName;     // the copy's name in the watch folder; empty for a new file
  std::string destination;  // the full path the run wrote
};

struct FirstStartWatchRecord {
  FirstStartWatchState state = FirstStartWatchState::kKeeping;
  bool holdOffered = false;  // the revert records the offered version as held
  std::string offeredVersion;
  std::string installedVersion;
  std::vector<KeptFile> files;
};

// The record as text, one line per field and per file, fields separated by tabs.
std::string FormatWatchRecord(const FirstStartWatchRecord& record);
// Reads a record written by FormatWatchRecord; false (record unspecified) when the text is not one.
bool ParseWatchRecord(const std::string& text, FirstStartWatchRecord& record);

// The steps of a revert and a clean-up, in the order they run. Test seam: a hook that returns
// false stops the settling right before that step, leaving the disk as a power cut there would.
enum class ConclusionStep {
  kMarkReverting,
  kRestoreFile,
  kRemoveNewFile,
  kHoldVersion,
  kMarkCleaning,
  kRemoveKeptFile,
  kRemoveRecord,
};
using ConclusionStepHook = bool (*)(ConclusionStep step);
void SetConclusionStepHook(ConclusionStepHook hook);

enum class ConclusionResult {
  kDone,         // concluded: the watch folder is gone
  kInterrupted,  // stopped by the test hook
  kFailed,       // a file could not be put back or removed: the record stays for the next run
};

enum class KeepResult {
  kKept,
  kNotAFile,  // a directory, FIFO or device is there: not kept, not to be written
  kFailed,
};

// One application directory's watch folder. Every change to the record is written in one step and
// flushed before the step it announces, so a run that dies at any point leaves a record the next
// run can conclude from.
class FirstStartWatchStore {
 public:
  // `appDirectory` ends with its separator, as GetAppDirectory gives it; an empty one keeps
  // nothing (Keep fails).
  explicit FirstStartWatchStore(const std::string& appDirectory);

  const std::string& Folder() const { return m_folder; }  // with its trailing separator
  // True when a record from this or an earlier run is on disk.
  bool HasRecord() const;
  // Reads the record on disk into the store; false when there is none or it is damaged.
  bool Load();
  const FirstStartWatchRecord& Record() const { return m_record; }

  // Starts a fresh record (state kKeeping) for a run installing `offered` over `installed`.
  // False when the folder or the record cannot be written.
  bool Begin(const std::string& installedVersion, const std::string& offeredVersion);
  // Before `destination` is written: copies it into the folder (in pieces, flushed) and adds it
  // to the record (flushed), or records it as new when it does not exist. A destination already
  // kept by this run is kept once. kNotAFile, with nothing read, copied or recorded, when
  // something other than a regular file is there: the disk refuses to write it, and so must the
  // caller. kFailed when the copy or the record cannot be made, or Begin did not succeed: then
  // the destination must not be written.
  KeepResult Keep(const std::string& destination, bool executable);
  // Writes the record with `state`. False when it cannot be written.
  bool SetState(FirstStartWatchState state);
  // After the install: prepares the record a failed start needs (reverting, hold), then moves the
  // record on to watching. False when either cannot be written: then nothing may be watched, as
  // a failed start could not be sure of recording its hold.
  bool BeginWatch();

  // Puts every kept file back (each in one step), removes the files the run created, records the
  // offered version as held when `hold` (or when an interrupted revert said so), then removes the
  // folder. Resumable: running it again after any interruption ends in the same place. A hold is
  // recorded before anything is put back (in the record, by the prepared record's rename when the
  // disk is full, or else in the settings); when it cannot be, nothing is touched (kFailed).
  ConclusionResult Revert(bool hold);
  // The release stays: removes the kept copies, the record and the folder. Resumable.
  ConclusionResult Clean();

 private:
  bool SaveRecord();
  // Moves the record on to reverting, holding the offered version when the record says so.
  bool MarkReverting();
  // Puts the prepared record in the record's place when it is exactly the record now wanted.
  bool CommitPreparedRecord();
  ConclusionResult RestoreAll();
  ConclusionResult RemoveFolder();

  std::string m_folder;
  FirstStartWatchRecord m_record;
  bool m_begun = false;  // Begin succeeded: files may be kept
};

// A sink in front of the disk that keeps each destination before it is written. After one keep
// fails it writes nothing more: the run then goes back to what was kept so far.
class FirstStartWatchSink : public FileSink {
 public:
  FirstStartWatchSink(FileSink& inner, FirstStartWatchStore& store)
      : m_inner(inner), m_store(store) {}
  // The old file is kept before the new one is written; a keep that fails writes nothing.
  FileWrite Write(ContentProducer& content, const char* destination) override;
  void FinishWrites() override { m_inner.FinishWrites(); }
  // True once a keep has failed: nothing after it was written.
  bool KeepFailed() const { return m_keepFailed; }

 private:
  FileSink& m_inner;
  FirstStartWatchStore& m_store;
  // Keeps `destination` unless a keep failed before or fails now; false: write nothing.
  bool KeepBefore(const char* destination);

  bool m_keepFailed = false;
};
