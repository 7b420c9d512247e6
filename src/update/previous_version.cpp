// The keep folder of a first-start watch: its record, the keeping sink in front of the disk, and
// the revert and clean-up that settle a run, each resumable after a power cut.
#include "update/previous_version.h"

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
const char kKeepFolderName[] = ".mubax-previous";
const char kKeepRecordName[] = "record.txt";
const char kKeepRevertRecordName[] = "record-revert.txt";

namespace {

constexpr char kRecordHeader[] = "mubax-previous 1";
constexpr char kFieldSeparator = '\t';
const char* const kStateNames[] = {"keeping", "probation", "reverting", "cleaning"};

SettleStepHook g_settleHook = nullptr;

bool Proceed(SettleStep step) { return g_settleHook == nullptr || g_settleHook(step); }

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

bool ParseState(const std::string& name, KeepState& state) {
  for (std::size_t i = 0; i < sizeof(kStateNames) / sizeof(kStateNames[0]); ++i) {
    if (name == kStateNames[i]) {
      state = static_cast<KeepState>(i);
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

void SetSettleStepHook(SettleStepHook hook) { g_settleHook = hook; }

std::string FormatKeepRecord(const KeepRecord& record) {
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

bool ParseKeepRecord(const std::string& text, KeepRecord& record) {
  record = KeepRecord();
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

PreviousVersionStore::PreviousVersionStore(const std::string& appDirectory) {
  if (!appDirectory.empty()) {
    m_folder = appDirectory + kKeepFolderName + kDirectorySeparator;
  }
}

bool PreviousVersionStore::HasRecord() const {
  return !m_folder.empty() && PathIsPresent((m_folder + kKeepRecordName).c_str());
}

bool PreviousVersionStore::Load() {
  std::string text;
  return !m_folder.empty() && ReadFileBytes((m_folder + kKeepRecordName).c_str(), text) &&
         ParseKeepRecord(text, m_record);
}

bool PreviousVersionStore::SaveRecord() {
  return WriteWhole(m_folder + kKeepRecordName, FormatKeepRecord(m_record), false);
}

bool PreviousVersionStore::Begin(const std::string& installedVersion,
                                 const std::string& offeredVersion) {
  m_record = KeepRecord();
  m_record.installedVersion = installedVersion;
  m_record.offeredVersion = offeredVersion;
  if (m_folder.empty() || !FitsField(installedVersion) || !FitsField(offeredVersion)) return false;
  const std::string folder = m_folder.substr(0, m_folder.size() - 1);
  m_begun = MakeDirectory(folder.c_str()) && SaveRecord();
  return m_begun;
}

KeepResult PreviousVersionStore::Keep(const std::string& destination, bool executable) {
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

bool PreviousVersionStore::SetState(KeepState state) {
  m_record.state = state;
  return SaveRecord();
}

bool PreviousVersionStore::BeginProbation() {
  KeepRecord failed = m_record;
  failed.state = KeepState::kReverting;
  failed.holdOffered = true;
  return WriteWhole(m_folder + kKeepRevertRecordName, FormatKeepRecord(failed), false) &&
         SetState(KeepState::kProbation);
}

bool PreviousVersionStore::CommitPreparedRecord() {
  const std::string prepared = m_folder + kKeepRevertRecordName;
  std::string text;
  // Only the very record wanted goes in: a copy from another run or state never does.
  return ReadFileBytes(prepared.c_str(), text) && text == FormatKeepRecord(m_record) &&
         RenameOver(prepared.c_str(), (m_folder + kKeepRecordName).c_str());
}

bool PreviousVersionStore::MarkReverting() {
  const KeepState before = m_record.state;
  m_record.state = KeepState::kReverting;
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

SettleResult PreviousVersionStore::RestoreAll() {
  for (const KeptFile& file : m_record.files) {
    if (file.replaced) {
      if (!Proceed(SettleStep::kRestoreFile)) return SettleResult::kInterrupted;
      RegularFileReader copy;
      if (copy.Open((m_folder + file.keptName).c_str()) != OpenResult::kOpened ||
          !CopyWhole(copy, file.destination, file.executable)) {
        return SettleResult::kFailed;
      }
    }
  }
  for (const KeptFile& file : m_record.files) {
    if (!file.replaced) {
      if (!Proceed(SettleStep::kRemoveNewFile)) return SettleResult::kInterrupted;
      if (!RemoveFileAt(file.destination.c_str())) return SettleResult::kFailed;
    }
  }
  return SettleResult::kDone;
}

SettleResult PreviousVersionStore::Revert(bool hold) {
  if (!Proceed(SettleStep::kMarkReverting)) return SettleResult::kInterrupted;
  m_record.holdOffered = m_record.holdOffered || hold;
  // Nothing is put back before the hold is recorded: a revert that lost its hold would let the
  // next run install the failed release again, and again.
  if (m_record.state != KeepState::kReverting && !MarkReverting()) return SettleResult::kFailed;
  const SettleResult restored = RestoreAll();
  if (restored != SettleResult::kDone) return restored;
  if (m_record.holdOffered && !m_record.offeredVersion.empty()) {
    if (!Proceed(SettleStep::kHoldVersion)) return SettleResult::kInterrupted;
    if (!WriteRegistryString(RegistryRoot::CurrentUser, kAppSettingsKey, kHeldVersionValue,
                             m_record.offeredVersion.c_str())) {
      return SettleResult::kFailed;
    }
  }
  return Clean();
}

SettleResult PreviousVersionStore::Clean() {
  if (!Proceed(SettleStep::kMarkCleaning)) return SettleResult::kInterrupted;
  if (m_record.state != KeepState::kCleaning && !SetState(KeepState::kCleaning)) {
    return SettleResult::kFailed;
  }
  return RemoveFolder();
}

SettleResult PreviousVersionStore::RemoveFolder() {
  for (const KeptFile& file : m_record.files) {
    if (!file.replaced) continue;
    if (!Proceed(SettleStep::kRemoveKeptFile)) return SettleResult::kInterrupted;
    if (!RemoveFileAt((m_folder + file.keptName).c_str())) return SettleResult::kFailed;
  }
  if (!Proceed(SettleStep::kRemoveRecord)) return SettleResult::kInterrupted;
  if (!RemoveFileAt((m_folder + kKeepRevertRecordName).c_str()) ||
      !RemoveFileAt((m_folder + kKeepRecordName).c_str())) {
    return SettleResult::kFailed;
  }
  // A copy a killed keep left unrecorded keeps the folder; the next run writes over it.
  RemoveEmptyDirectory(m_folder.substr(0, m_folder.size() - 1).c_str());
  m_record = KeepRecord();
  m_begun = false;
  return SettleResult::kDone;
}

bool KeepingFileSink::KeepBefore(const char* destination) {
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
FileWrite KeepingFileSink::Write(ContentProducer& content, const char* destination) {
  if (!KeepBefore(destination)) return FileWrite();
  return m_inner.Write(content, destination);
}
