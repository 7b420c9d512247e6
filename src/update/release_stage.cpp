// The staging folder of a release: its record, the download of each document into a part file
// that grows across runs, and the fetcher that serves the staged documents to the install.
#include "update/release_stage.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "common/file_ops.h"
#include "common/files.h"
#include "common/growing_file.h"
#include "crypto/crypto.h"

const char kStageFolderName[] = ".mubax-staging";
const char kStageRecordName[] = "record.txt";

namespace {

constexpr char kRecordHeader[] = "mubax-staging 1";
constexpr char kReleaseKey[] = "release";
constexpr char kDocumentKey[] = "doc";
constexpr char kPartSuffix[] = ".part";
// A fetch that ends with less than this left of the budget was cut by it.
constexpr auto kBudgetSlack = std::chrono::milliseconds(250);

StageAttemptHook g_attemptHook = nullptr;

// The fields of one record line, split at its tabs.
std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (;;) {
    const std::size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string::npos ? tab : tab - start));
    if (tab == std::string::npos) return fields;
    start = tab + 1;
  }
}

bool ParseCount(const std::string& text, std::uint64_t& value) {
  if (text.empty() || text.size() > 19) return false;
  value = 0;
  for (const char digit : text) {
    if (digit < '0' || digit > '9') return false;
    value = value * 10 + static_cast<std::uint64_t>(digit - '0');
  }
  return true;
}

bool ParseDocumentLine(const std::vector<std::string>& fields, StagedDocument& document) {
  if (fields.size() != 5 || (fields[1] != "0" && fields[1] != "1")) return false;
  document.complete = fields[1] == "1";
  document.validator = fields[3];
  document.address = fields[4];
  return ParseCount(fields[2], document.durable) && !document.address.empty();
}

// A validator that can be sent back in a header and kept on one record field; else none.
std::string UsableValidator(const std::string& validator) {
  if (validator.size() > kLongestValidator) return std::string();
  for (const char c : validator) {
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) {
      return std::string();
    }
  }
  return validator;
}

// Statuses after which the same request may still succeed: the line, not the document, failed.
bool IsPassing(FetchStatus status) {
  return status == FetchStatus::kTransferFailed || status == FetchStatus::kStalled ||
         status == FetchStatus::kDeadlineExceeded || status == FetchStatus::kConnectFailed;
}

bool BudgetSpent(std::chrono::steady_clock::time_point deadline) {
  return std::chrono::steady_clock::now() + kBudgetSlack >= deadline;
}

}  // namespace

bool FitBudget(FetchLimits& limits, std::chrono::steady_clock::time_point deadline) {
  const auto left =
      std::chrono::ceil<std::chrono::seconds>(deadline - std::chrono::steady_clock::now());
  if (left.count() <= 0) return false;
  limits.totalTimeoutSeconds = std::min<long>(limits.totalTimeoutSeconds, left.count());
  return true;
}

void SetStageAttemptHook(StageAttemptHook hook) { g_attemptHook = hook; }

std::string FormatStageRecord(const StageRecord& record) {
  std::string text = std::string(kRecordHeader) + "\n";
  text += std::string(kReleaseKey) + "\t" + record.release + "\n";
  for (const StagedDocument& document : record.documents) {
    text += std::string(kDocumentKey) + "\t" + (document.complete ? "1" : "0") + "\t" +
            std::to_string(document.durable) + "\t" + document.validator + "\t" + document.address +
            "\n";
  }
  return text;
}

bool ParseStageRecord(const std::string& text, StageRecord& record) {
  record = StageRecord();
  std::size_t start = 0;
  bool headerSeen = false;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    if (end == std::string::npos) return false;  // a record is whole or it is not one
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    if (!headerSeen) {
      headerSeen = line == kRecordHeader;
      if (!headerSeen) return false;
      continue;
    }
    const std::vector<std::string> fields = Fields(line);
    if (fields[0] == kReleaseKey && fields.size() == 2) {
      record.release = fields[1];
    } else if (fields[0] == kDocumentKey) {
      StagedDocument document;
      if (!ParseDocumentLine(fields, document)) return false;
      record.documents.push_back(document);
    } else {
      return false;
    }
  }
  return headerSeen && !record.release.empty();
}

std::string ReleaseIdentity(const std::vector<char>& manifestBytes) {
  Sha256Digest digest;
  if (!ComputeSha256(manifestBytes.data(), manifestBytes.size(), digest)) return std::string();
  std::string hex;
  char pair[3];
  for (const unsigned char byte : digest) {
    std::snprintf(pair, sizeof pair, "%02x", byte);
    hex += pair;
  }
  return hex;
}

namespace {

// Takes one attempt's body into the part file: from where the server says it starts, never past
// the document's cap, the record brought up to date as the bytes reach the disk.
class PartReceiver : public ByteReceiver {
 public:
  using SaveFunction = bool (*)(void* owner);
  PartReceiver(StagedDocument& document, GrowingFile& part, void* owner, SaveFunction save)
      : m_document(document), m_part(part), m_owner(owner), m_save(save) {}

  bool Start(const BodyStart& start) override {
    if (start.offset == 0) {
      // The whole document again: nothing held stays, and the record says so before any of the
      // new bytes can reach the disk.
      if (!m_part.Empty() || !m_part.Flush()) return Fail(FetchStatus::kTransferFailed);
      m_document.validator = UsableValidator(start.validator);
      m_document.durable = 0;
      if (!m_save(m_owner)) return Fail(FetchStatus::kTransferFailed);
    } else if (start.offset != m_part.Size()) {
      return Fail(FetchStatus::kTransferFailed);
    }
    return true;
  }

  bool Receive(const char* data, std::size_t length) override {
    if (length > m_document.limits.maxBytes -
                     std::min<std::uint64_t>(m_part.Size(), m_document.limits.maxBytes)) {
      return Fail(FetchStatus::kTooLarge);  // staged parts never outgrow their document's cap
    }
    if (!m_part.Append(data, length)) return Fail(FetchStatus::kTransferFailed);
    if (m_part.Size() >= m_document.durable + kStageCheckpointBytes ||
        std::chrono::steady_clock::now() - m_lastCheckpoint >= kStageCheckpointInterval) {
      Checkpoint();
    }
    return true;
  }

  // Flushes what arrived and records its length.
  void Checkpoint() {
    m_lastCheckpoint = std::chrono::steady_clock::now();
    if (m_part.Size() == m_document.durable || !m_part.Flush()) return;
    m_document.durable = m_part.Size();
    m_save(m_owner);  // a record not written keeps a shorter length, which stays true
  }
  // The fetch's status as this receiver saw it: its own refusal replaces the fetch's.
  FetchStatus Outcome(FetchStatus fetched) const {
    return m_refusal != FetchStatus::kOk ? m_refusal : fetched;
  }
  // Whether the attempt left more of the document than it found: a server that sends the same
  // first bytes again and again (ignoring the range, or with no validator) makes no progress.
  bool Grew() const { return m_part.Size() > m_sizeBefore; }
  void BeginAttempt() {
    m_sizeBefore = m_part.Size();
    m_refusal = FetchStatus::kOk;
  }

 private:
  bool Fail(FetchStatus refusal) {
    m_refusal = refusal;
    return false;
  }

  StagedDocument& m_document;
  GrowingFile& m_part;
  void* m_owner;
  SaveFunction m_save;
  std::uint64_t m_sizeBefore = 0;
  std::chrono::steady_clock::time_point m_lastCheckpoint = std::chrono::steady_clock::now();
  FetchStatus m_refusal = FetchStatus::kOk;
};

}  // namespace

ReleaseStage::ReleaseStage(const std::string& appDirectory)
    : m_folder(appDirectory + kStageFolderName + kDirectorySeparator) {}

std::string ReleaseStage::PartPath(std::size_t index) const {
  return m_folder + std::to_string(index + 1) + kPartSuffix;
}

void ReleaseStage::Drop() {
  const std::string recordPath = m_folder + kStageRecordName;
  std::string text;
  StageRecord onDisk;
  const std::size_t recorded =
      ReadFileBytes(recordPath.c_str(), text) && ParseStageRecord(text, onDisk)
          ? onDisk.documents.size()
          : 0;
  // Parts are made in order, so past the record's count the first one missing is the end.
  for (std::size_t index = 0;; ++index) {
    const std::string part = PartPath(index);
    if (index >= recorded && !PathIsPresent(part.c_str())) break;
    RemoveFileAt(part.c_str());
  }
  RemoveFileAt(recordPath.c_str());
  RemoveEmptyDirectory(m_folder.c_str());
  m_record = StageRecord();
}

bool ReleaseStage::SaveRecord() {
  const std::string text = FormatStageRecord(m_record);
  return ReplaceFileContents((m_folder + kStageRecordName).c_str(),
                             reinterpret_cast<const unsigned char*>(text.data()),
                             text.size()) == ReplaceResult::kReplaced;
}

bool ReleaseStage::Adopt(const std::string& release, std::vector<StagedDocument>& documents) {
  std::string text;
  StageRecord onDisk;
  bool same = ReadFileBytes((m_folder + kStageRecordName).c_str(), text) &&
              ParseStageRecord(text, onDisk) && onDisk.release == release &&
              onDisk.documents.size() == documents.size();
  for (std::size_t i = 0; same && i < documents.size(); ++i) {
    same = onDisk.documents[i].address == documents[i].address;
  }
  if (same) {
    for (std::size_t i = 0; i < documents.size(); ++i) {
      documents[i].validator = onDisk.documents[i].validator;
      documents[i].durable = onDisk.documents[i].durable;
      documents[i].complete = onDisk.documents[i].complete;
    }
  } else {
    Drop();  // at most one release is staged at a time
  }
  if (!MakeDirectory(m_folder.c_str())) return false;
  m_record.release = release;
  m_record.documents = std::move(documents);
  return SaveRecord();
}

StageOutcome ReleaseStage::Stage(const std::string& release, std::vector<StagedDocument> documents,
                                 Fetcher& network, std::chrono::steady_clock::time_point deadline) {
  if (release.empty() || !Adopt(release, documents)) return StageOutcome::kUnavailable;
  const int total = static_cast<int>(m_record.documents.size());
  int done = 0;
  for (std::size_t index = 0; index < m_record.documents.size(); ++index) {
    StagedDocument& document = m_record.documents[index];
    // A part that is not as long as recorded was touched by someone else: fetched again.
    if (document.complete &&
        GetFileSizeBytes(PartPath(index).c_str()) != static_cast<std::int64_t>(document.durable)) {
      document.complete = false;
      document.durable = 0;
      document.validator.clear();
    }
    done += document.complete ? 1 : 0;
  }
  if (m_progress) m_progress(done, total);
  for (std::size_t index = 0; index < m_record.documents.size(); ++index) {
    if (m_record.documents[index].complete) continue;
    if (!StageDocument(index, network, deadline)) return StageOutcome::kDeferred;
    if (m_progress) m_progress(++done, total);
  }
  return StageOutcome::kStaged;
}

bool ReleaseStage::StageDocument(std::size_t index, Fetcher& network,
                                 std::chrono::steady_clock::time_point deadline) {
  StagedDocument& document = m_record.documents[index];
  GrowingFile part;
  if (!part.Open(PartPath(index).c_str(), document.durable)) {
    document.failure = FetchStatus::kTransferFailed;
    return true;
  }
  document.durable = part.Size();
  PartReceiver receiver(document, part, this, [](void* owner) {
    return static_cast<ReleaseStage*>(owner)->SaveRecord();
  });
  for (int attempt = 0; attempt < kMaxStageAttempts; ++attempt) {
    FetchLimits limits = document.limits;
    if ((g_attemptHook != nullptr && !g_attemptHook(static_cast<int>(index) + 1)) ||
        !FitBudget(limits, deadline)) {
      return false;
    }
    // Without a validator nothing held can be trusted to be of the document the server has now.
    const ResumePoint from{document.validator.empty() ? 0 : part.Size(), document.validator};
    receiver.BeginAttempt();
    const FetchStatus status =
        receiver.Outcome(network.FetchFrom(document.address.c_str(), limits, from, receiver));
    receiver.Checkpoint();
    if (status == FetchStatus::kOk) {
      document.complete = true;
      SaveRecord();
      return true;
    }
    if (BudgetSpent(deadline) && IsPassing(status)) return false;
    // A resumed request the server refused (a range past a shorter document): once more whole.
    const bool refusedRange = status == FetchStatus::kHttpError && from.offset > 0;
    if (refusedRange) document.validator.clear();
    // Another attempt only where it can take up what this one brought: without a validator it
    // would start again from nothing, which is what the budget cannot afford.
    const bool resumable = IsPassing(status) && receiver.Grew() && !document.validator.empty();
    if (!refusedRange && !resumable) {
      document.failure = status;
      return true;
    }
  }
  document.failure = FetchStatus::kTransferFailed;
  return true;
}

void ReleaseStage::Forget(const std::string& address) {
  for (std::size_t index = 0; index < m_record.documents.size(); ++index) {
    StagedDocument& document = m_record.documents[index];
    if (document.address != address) continue;
    document.complete = false;
    document.durable = 0;
    document.validator.clear();
    document.failure = FetchStatus::kOk;
    SaveRecord();  // first: a part shorter than recorded is fetched again anyway
    RemoveFileAt(PartPath(index).c_str());
  }
}

const StagedDocument* ReleaseStage::Find(const char* address) const {
  for (const StagedDocument& document : m_record.documents) {
    if (address != nullptr && document.address == address) return &document;
  }
  return nullptr;
}

FetchStatus ReleaseStage::FetchInto(const char* address, const FetchLimits& limits,
                                    ByteReceiver& receiver) {
  const StagedDocument* document = Find(address);
  if (document == nullptr) return FetchStatus::kTransferFailed;
  if (document->failure != FetchStatus::kOk) return document->failure;
  if (!document->complete) return FetchStatus::kTransferFailed;
  FetchLimits local = limits;
  local.allowLocalFiles = true;  // the updater's own folder, whatever the manifest's origin
  const std::size_t index = static_cast<std::size_t>(document - m_record.documents.data());
  return m_local.FetchInto(PartPath(index).c_str(), local, receiver);
}

FetchStatus ReleaseStage::Fetch(const char* address, const FetchLimits& limits,
                                std::vector<char>& body) {
  body.clear();
  const StagedDocument* document = Find(address);
  if (document == nullptr || (document->failure == FetchStatus::kOk && !document->complete)) {
    return FetchStatus::kTransferFailed;
  }
  if (document->failure != FetchStatus::kOk) return document->failure;
  FetchLimits local = limits;
  local.allowLocalFiles = true;
  const std::size_t index = static_cast<std::size_t>(document - m_record.documents.data());
  return m_local.Fetch(PartPath(index).c_str(), local, body);
}
