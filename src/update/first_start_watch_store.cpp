// The watch folder of a first-start watch: its record, the keeping sink in front of the disk, and
// the revert and clean-up that conclude a run, each resumable after a power cut.
#include "update/first_start_watch_store.h"

#include <sstream>
#include <vector>

#include "common/app_directory.h"
#include "common/buffer_sizes.h"
#include "common/file_ops.h"
#include "common/files.h"
#include "common/settings_write.h"
#include "update/file_sinks.h"

const char kStartWatchValue[] = "vigilarArranque";
const char kHeldVersionValue[] = "versionRetenida";
const char kWatchFolderName[] = ".mubax-previous";
const char kWatchRecordName[] = "record.txt";
const char kWatchRevertRecordName[] = "record-revert.txt";

namespace {

constexpr char kRecordHeader[] = "mubax-previous 1";
constexpr char kFieldSeparator = '\t';
const char* const kStateNames[] = {"keeping", "probation", "reverting", "cleaning"};

ConclusionStepHook g_conclusionHook = nullptr;

bool Proceed(ConclusionStep step) { return g_conclusionHook == nullptr || g_conclusionHook(step); }

// A text the record can hold on one field: no tab, no line break.
bool FitsField(const std::string& text) {
  return text.find_first_of("\t\r\n") == std::string::npos;
}

std::vector<std::string> SplitFields(const std::string& line) {
  std::vector<std::string> fields;
  std::string field;
  std::istringstream in(line);
  while (std::getline(in, field, kFieldSeparator)) fields.push_back(field);
  if (!line.empty() && line.back() == kFieldSeparator) fields.emplace_back();
  return fields;
}

bool ParseState(const std::string& name, FirstStartWatchState& state) {
  for (std::size_t i = 0; i < sizeof(kStateNames) / sizeof(kStateNames[0]); ++i) {
    if (name == kStateNames[i]) {
      state = static_cast<FirstStartWatchState>(i);
      return true;
    }
  }
  return false;
}

bool ParseFileLine(const std::vector<std::string>& fields, KeptFile& file) {
  if (fields.size() != 5 || (fields[1] != "replaced" && fields[1] != "new")) return false;
  file.replaced = fields[1] == "replaced";
  file.executable = fields[2] == "1";
  file.keptName = fields[3];
  file.destination = fields[4];
  return !file.destination.empty() && file.replaced == !file.keptName.empty();
}

bool Replaced(ReplaceResult result) {
  return result == ReplaceResult::kReplaced || result == ReplaceResult::kWrittenInPlace;
}

bool WriteWhole(const std::string& path, const std::string& bytes, bool executable) {
  return Replaced(ReplaceFileContents(path.c_str(),
                                      reinterpret_cast<const unsigned char*>(bytes.data()),
                                      bytes.size(), executable));
}

// The content of an open file, read and handed on a piece at a time: a copy costs one piece of
// memory whatever the file's size.
class CopiedContent : public ContentProducer {
 public:
  explicit CopiedContent(RegularFileReader& source) : m_source(source) {}
  bool Produce(ContentWriter& out) override {
    std::vector<unsigned char> piece(kCopyPieceBytes);
    for (;;) {
      const long long got = m_source.Read(piece.data(), piece.size());
      if (got <= 0) return got == 0;
      if (!out.Write(piece.data(), static_cast<std::size_t>(got))) return false;
    }
  }

 private:
  static constexpr std::size_t kCopyPieceBytes = std::size_t{64} * 1024;
  RegularFileReader& m_source;
};

// Replaces `path` with the rest of `source` in one step, flushed, as WriteWhole does.
bool CopyWhole(RegularFileReader& source, const std::string& path, bool executable) {
  CopiedContent content(source);
  return Replaced(ReplaceFileContents(path.c_str(), content, executable));
}

}  // namespace

void SetConclusionStepHook(ConclusionStepHook hook) { g_conclusionHook = hook; }

std::string FormatWatchRecord(const FirstStartWatchRecord& record) {
  std::string text = std::string(kRecordHeader) + "\n";
  text += std::string("state\t") + kStateNames[static_cast<int>(record.state)] + "\n";
  text += std::string("hold\t") + (record.holdOffered ? "1" : "0") + "\n";
  text += "offered\t" + record.offeredVersion + "\n";
  text += "installed\t" + record.installedVersion + "\n";
  for (const KeptFile& file : record.files) {
    text += std::string("file\t") + (file.replaced ? "replaced" : "new") + "\t" +
            (file.executable ? "1" : "0") + "\t" + file.keptName + "\t" + file.destination + "\n";
  }
  return text;
}

bool ParseWatchRecord(const std::string& text, FirstStartWatchRecord& record) {
  record = FirstStartWatchRecord();
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line) || line != kRecordHeader) return false;
  bool haveState = false;
  while (std::getline(in, line)) {
    const std::vector<std::string> fields = SplitFields(line);
    if (fields.empty()) return false;
    const std::string& name = fields[0];
    const std::string value = fields.size() == 2 ? fields[1] : std::string();
    if (name == "file") {
      KeptFile file;
      if (!ParseFileLine(fields, file)) return false;
      record.files.push_back(file);
    } else if (fields.size() != 2) {
      return false;
    } else if (name == "state") {
      haveState = ParseState(value, record.state);
    } else if (name == "hold") {
      record.holdOffered = value == "1";
    } else if (name == "offered") {
      record.offeredVersion = value;
    } else if (name == "installed") {
      record.installedVersion = value;
    }
  }
  return haveState;
}

FirstStartWatchStore::FirstStartWatchStore(const std::string& appDirectory) {
  if (!appDirectory.empty()) {
    m_folder = appDirectory + kWatchFolderName + kDirectorySeparator;
  }
}

bool FirstStartWatchStore::HasRecord() const {
  return !m_folder.empty() && PathIsPresent((m_folder + kWatchRecordName).c_str());
}

bool FirstStartWatchStore::Load() {
  std::string text;
  return !m_folder.empty() && ReadFileBytes((m_folder + kWatchRecordName).c_str(), text) &&
         ParseWatchRecord(text, m_record);
}

bool FirstStartWatchStore::SaveRecord() {
  return WriteWhole(m_folder + kWatchRecordName, FormatWatchRecord(m_record), false);
}

bool FirstStartWatchStore::Begin(const std::string& installedVersion,
                                 const std::string& offeredVersion) {
  m_record = FirstStartWatchRecord();
  m_record.installedVersion = installedVersion;
  m_record.offeredVersion = offeredVersion;
  if (m_folder.empty() || !FitsField(installedVersion) || !FitsField(offeredVersion)) return false;
  const std::string folder = m_folder.substr(0, m_folder.size() - 1);
  m_begun = MakeDirectory(folder.c_str()) && SaveRecord();
  return m_begun;
}

KeepResult FirstStartWatchStore::Keep(const std::string& destination, bool executable) {
  if (!m_begun || !FitsField(destination)) return KeepResult::kFailed;
  for (const KeptFile& file : m_record.files) {
    // The first keep holds the old bytes.
    if (file.destination == destination) return KeepResult::kKept;
  }
  KeptFile file;
  file.destination = destination;
  file.executable = executable;
  RegularFileReader old;
  switch (old.Open(destination.c_str())) {
    case OpenResult::kAbsent:
      break;
    case OpenResult::kOpened:
      file.replaced = true;
      file.keptName = std::to_string(m_record.files.size() + 1);
      if (!CopyWhole(old, m_folder + file.keptName, false)) return KeepResult::kFailed;
      break;
    case OpenResult::kNotRegular:
      return KeepResult::kNotAFile;
    case OpenResult::kFailed:
      return KeepResult::kFailed;
  }
  m_record.files.push_back(file);
  if (SaveRecord()) return KeepResult::kKept;
  m_record.files.pop_back();
  return KeepResult::kFailed;
}

bool FirstStartWatchStore::SetState(FirstStartWatchState state) {
  m_record.state = state;
  return SaveRecord();
}

bool FirstStartWatchStore::BeginWatch() {
  FirstStartWatchRecord failed = m_record;
  failed.state = FirstStartWatchState::kReverting;
  failed.holdOffered = true;
  return WriteWhole(m_folder + kWatchRevertRecordName, FormatWatchRecord(failed), false) &&
         SetState(FirstStartWatchState::kWatching);
}

bool FirstStartWatchStore::CommitPreparedRecord() {
  const std::string prepared = m_folder + kWatchRevertRecordName;
  std::string text;
  // Only the very record wanted goes in: a copy from another run or state never does.
  return ReadFileBytes(prepared.c_str(), text) && text == FormatWatchRecord(m_record) &&
         RenameOver(prepared.c_str(), (m_folder + kWatchRecordName).c_str());
}

bool FirstStartWatchStore::MarkReverting() {
  const FirstStartWatchState before = m_record.state;
  m_record.state = FirstStartWatchState::kReverting;
  if (SaveRecord()) return true;
  // A full disk takes no new record, but a rename needs no room.
  if (m_record.holdOffered && CommitPreparedRecord()) return true;
  // The hold where later runs look for it is as good: the record may then stay as it was.
  if (m_record.holdOffered && !m_record.offeredVersion.empty() &&
      WriteRegistryString(RegistryRoot::CurrentUser, kAppSettingsKey, kHeldVersionValue,
                          m_record.offeredVersion.c_str())) {
    return true;
  }
  m_record.state = before;
  return false;
}

ConclusionResult FirstStartWatchStore::RestoreAll() {
  for (const KeptFile& file : m_record.files) {
    if (file.replaced) {
      if (!Proceed(ConclusionStep::kRestoreFile)) return ConclusionResult::kInterrupted;
      RegularFileReader copy;
      if (copy.Open((m_folder + file.keptName).c_str()) != OpenResult::kOpened ||
          !CopyWhole(copy, file.destination, file.executable)) {
        return ConclusionResult::kFailed;
      }
    }
  }
  for (const KeptFile& file : m_record.files) {
    if (!file.replaced) {
      if (!Proceed(ConclusionStep::kRemoveNewFile)) return ConclusionResult::kInterrupted;
      if (!RemoveFileAt(file.destination.c_str())) return ConclusionResult::kFailed;
    }
  }
  return ConclusionResult::kDone;
}

ConclusionResult FirstStartWatchStore::Revert(bool hold) {
  if (!Proceed(ConclusionStep::kMarkReverting)) return ConclusionResult::kInterrupted;
  m_record.holdOffered = m_record.holdOffered || hold;
  // Nothing is put back before the hold is recorded: a revert that lost its hold would let the
  // next run install the failed release again, and again.
  if (m_record.state != FirstStartWatchState::kReverting && !MarkReverting())
    return ConclusionResult::kFailed;
  const ConclusionResult restored = RestoreAll();
  if (restored != ConclusionResult::kDone) return restored;
  if (m_record.holdOffered && !m_record.offeredVersion.empty()) {
    if (!Proceed(ConclusionStep::kHoldVersion)) return ConclusionResult::kInterrupted;
    if (!WriteRegistryString(RegistryRoot::CurrentUser, kAppSettingsKey, kHeldVersionValue,
                             m_record.offeredVersion.c_str())) {
      return ConclusionResult::kFailed;
    }
  }
  return Clean();
}

ConclusionResult FirstStartWatchStore::Clean() {
  if (!Proceed(ConclusionStep::kMarkCleaning)) return ConclusionResult::kInterrupted;
  if (m_record.state != FirstStartWatchState::kCleaning &&
      !SetState(FirstStartWatchState::kCleaning)) {
    return ConclusionResult::kFailed;
  }
  return RemoveFolder();
}

ConclusionResult FirstStartWatchStore::RemoveFolder() {
  for (const KeptFile& file : m_record.files) {
    if (!file.replaced) continue;
    if (!Proceed(ConclusionStep::kRemoveKeptFile)) return ConclusionResult::kInterrupted;
    if (!RemoveFileAt((m_folder + file.keptName).c_str())) return ConclusionResult::kFailed;
  }
  if (!Proceed(ConclusionStep::kRemoveRecord)) return ConclusionResult::kInterrupted;
  if (!RemoveFileAt((m_folder + kWatchRevertRecordName).c_str()) ||
      !RemoveFileAt((m_folder + kWatchRecordName).c_str())) {
    return ConclusionResult::kFailed;
  }
  // A copy a killed keep left unrecorded keeps the folder; the next run writes over it.
  RemoveEmptyDirectory(m_folder.substr(0, m_folder.size() - 1).c_str());
  m_record = FirstStartWatchRecord();
  m_begun = false;
  return ConclusionResult::kDone;
}

bool FirstStartWatchSink::KeepBefore(const char* destination) {
  char path[kPathBufferSize];
  // No usable destination: the disk refuses it as well, and there is nothing to keep.
  if (!m_keepFailed && ResolveInstallDestination(destination, path, sizeof(path))) {
    const KeepResult kept = m_store.Keep(path, destination == nullptr);
    // Not a file: refused as the disk refuses it without the watch; this file only, the run
    // goes on.
    if (kept == KeepResult::kNotAFile) return false;
    m_keepFailed = kept == KeepResult::kFailed;
  }
  return !m_keepFailed;
}

// The old file is kept before the new one is fetched into place: a keep of a file whose document
// is then refused costs a copy, never a wrong revert, as the copy holds the very bytes that stay.
FileWrite FirstStartWatchSink::Write(ContentProducer& content, const char* destination) {
  if (!KeepBefore(destination)) return FileWrite();
  return m_inner.Write(content, destination);
}
