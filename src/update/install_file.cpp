// Installing one file and reporting it: its document streamed through the XML reader and the
// hexadecimal decoder into the sink; one typed report per file to the host, one result line to
// the log. Working memory does not grow with the file.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "common/buffer_sizes.h"
#include "common/fixed_buffer.h"
#include "update/delta_fetcher.h"
#include "update/file_content_stream.h"
#include "update/file_digest.h"
#include "update/log_texts.h"
#include "update/manifest_limits.h"
#include "update/manifest_names.h"
#include "update/update_engine.h"
#include "xml/xml_document.h"

std::size_t FileDocumentFetchCap(int maxSize) {
  if (maxSize <= 0) return 0;
  // Room for the text of the largest admitted file, twice over for wide encodings, plus the
  // document around it; never more than 2 GiB, as the platform parsers take a 32-bit length.
  const std::uint64_t cap = 4ull * static_cast<std::uint64_t>(maxSize) + 64ull * 1024ull;
  return static_cast<std::size_t>(std::min<std::uint64_t>(cap, 0x7FFFFFFFull));
}

long FileDocumentTimeout(int maxSize, long baseSeconds) {
  const std::size_t slowLineSeconds = FileDocumentFetchCap(maxSize) / kSlowestLineBytesPerSecond;
  const long maxSeconds = 0x7FFFFFFF / 1000;  // the platform clients take milliseconds in 32 bits
  return static_cast<long>(
      std::min<std::size_t>(static_cast<std::size_t>(baseSeconds) + slowLineSeconds, maxSeconds));
}

namespace {

// The operation each stage's result line is logged under.
const char* ResultOperation(FileStage stage) {
  switch (stage) {
    case FileStage::kMainExecutable:
      return kOpMainExecutableUpdated;
    case FileStage::kActiveXFile:
      return kOpActiveXUpdated;
    case FileStage::kLibraryFile:
      return kOpLibraryUpdated;
    case FileStage::kComponent:
    case FileStage::kAdditionalFile:
      break;
  }
  return kOpFileUpdated;
}

}  // namespace

void UpdateEngine::BeginFile(FileStage stage, int number, const char* destination) {
  m_current.stage = stage;
  m_current.number = number;
  m_current.destination = destination;
}

void UpdateEngine::Refuse(const char* address, const char* reason) {
  InstallItem item = m_current;
  item.address = address;
  m_host.ReportInstallProblem(item, reason);
}

void UpdateEngine::ReportWrite(const char* address, int written, bool loggingFlag) {
  const FileWriteOutcome outcome = m_sink.LastWriteOutcome();
  if (written == 0) {
    Refuse(address, outcome == FileWriteOutcome::kNotWritable
                        ? "destination may not be opened for writing (read-only, no right, in use)"
                        : "destination cannot be written");
  } else if (outcome == FileWriteOutcome::kWrittenInPlace) {
    // Installed, but not in one step: a crash meanwhile could have torn the file; say so.
    Refuse(address, "written into the existing file in place: its directory takes no new file");
    Log(loggingFlag, kOpInstallFile, kTextWrittenInPlace);
  }
}

void UpdateEngine::LogResult(bool loggingFlag, const char* address, int result) {
  InstallItem item = m_current;
  item.address = address;
  m_host.ReportInstallResult(item, result);
  if (result == 0) ++m_summary.failedFiles;
  if (!loggingFlag) return;
  // A line that would not fit the usual buffer is still logged whole.
  const std::string line = FormatResultLine(address, item.destination, result);
  LogOutsideText(loggingFlag, ResultOperation(item.stage), line.c_str());
}

int UpdateEngine::InstallFileEntry(const XmlNode& entry, FileStage stage, int number,
                                   bool loggingFlag) {
  char address[kManifestTextBufferSize];
  char destination[kManifestTextBufferSize];
  char signature[kSignatureBufferSize];

  // Missing or empty: the default limit. Too long to read whole: no limit can be trusted, so the
  // file is refused rather than given the default.
  std::string sizeText;
  const long long sizeLength =
      GetNodeLongText(entry, kFileSizeElement, sizeText, kMaxManifestTextBytes);
  const int sizeLimit = sizeLength > 0 ? ReadLeadingInt(sizeText.c_str()) : kDefaultEntrySizeLimit;
  // Missing (or unreadable) fields leave their buffers empty: an empty address fetches nothing
  // and an empty destination is never written.
  GetNodeText(entry, kDownloadUrlElement, address, sizeof(address));
  GetNodeText(entry, kDestinationElement, destination, sizeof(destination));
  GetNodeText(entry, kSignatureElement, signature, sizeof(signature));
  const PatchOffer patch = ReadEntryPatchOffer(entry);

  BeginFile(stage, number, destination);
  int result = 0;
  if (sizeLength == kLongTextTooLong) {
    Refuse(address, "tamfichero longer than 254 bytes");
  } else {
    result = InstallFile(address, destination, sizeLimit, signature, loggingFlag, &patch);
  }
  LogResult(loggingFlag, address, result);
  return result;
}

bool UpdateEngine::ReportDigest(DigestVerdict verdict, const char* address, bool loggingFlag) {
  switch (verdict) {
    case DigestVerdict::kMatches:
    case DigestVerdict::kUnchecked:
      return true;
    case DigestVerdict::kMismatch:
      Refuse(address, "the file's bytes do not match its S256 digest");
      break;
    case DigestVerdict::kMissing:
      Refuse(address, "signed release without an S256 digest for this file");
      break;
    case DigestVerdict::kFailed:
      Refuse(address, "the file's digest could not be computed");
      break;
  }
  ++m_digestRefusals;
  m_digestRefused.emplace_back(address);
  Log(loggingFlag, kOpInstallFile, kTextDigestMismatch);
  return false;
}

bool UpdateEngine::ReportContent(const FileContentStream& file, const char* address,
                                 bool loggingFlag) {
  switch (file.Verdict()) {
    case FileContentVerdict::kComplete:
      return true;
    case FileContentVerdict::kOutOfMemory:
      // Memory for this file ran out, not for the run: the file fails and the next one is tried.
      Refuse(address, "memory ran out while installing the file");
      Log(loggingFlag, kOpContentAllocation, kTextNull);
      break;
    case FileContentVerdict::kFetchFailed:
      Refuse(address, DescribeFetchStatus(file.FetchFailure()));
      Log(loggingFlag, kOpInstallFile, kTextNoContentElement);
      break;
    case FileContentVerdict::kNotWellFormed:
      Refuse(address, "file document is not well-formed XML");
      Log(loggingFlag, kOpInstallFile, kTextNoContentElement);
      break;
    case FileContentVerdict::kNoElement:
      Refuse(address, "file document has no fichero element");
      Log(loggingFlag, kOpInstallFile, kTextNoContentElement);
      break;
    case FileContentVerdict::kTooLong:
      Refuse(address, "file is not smaller than its size limit");
      break;
    case FileContentVerdict::kEmpty:
      Refuse(address, "fichero is empty or not a child of the root");
      Log(loggingFlag, kOpInstallFile, kTextEmptyContent);
      break;
    case FileContentVerdict::kNotHex:
      Refuse(address, "fichero is not an even number of hexadecimal digits");
      break;
    case FileContentVerdict::kDigestRefused:
      ReportDigest(file.Digest(), address, loggingFlag);
      break;
  }
  return false;
}

int UpdateEngine::InstallFile(const char* address, const char* destination, int maxSize,
                              const char* signature, bool loggingFlag, const PatchOffer* patch) {
  if (maxSize <= 0) {
    Refuse(address, "size limit is 0 or less");
    return 0;
  }
  // The digest the file must match; a signed release carries one for every file.
  FileDigestCheck digest(signature, m_keys->RequiresSignatures());
  if (!digest.Admits()) {
    ++m_digestRefusals;
    m_digestRefused.emplace_back(address);
    Refuse(address, "signed release without an S256 digest for this file");
    Log(loggingFlag, kOpInstallFile, kTextDigestMissing);
    return 0;
  }
  FetchLimits limits = m_limits;
  limits.maxBytes = FileDocumentFetchCap(maxSize);
  limits.totalTimeoutSeconds = FileDocumentTimeout(maxSize, m_limits.totalTimeoutSeconds);
  limits.allowLocalFiles = m_documentsMayBeLocal;
  if (!FitRunDeadline(limits)) {
    Refuse(address, "the run's time for fetching is used up");
    return 0;
  }
  // The text must be shorter than twice the limit: a file of maxSize bytes is refused.
  const std::size_t longestText = 2 * static_cast<std::size_t>(maxSize) - 1;
  char patchBase[kPathBufferSize];
  if (m_patchOffers != nullptr && patch != nullptr &&
      ResolveInstallDestination(destination, patchBase, sizeof(patchBase))) {
    m_patchOffers->Note(address, patchBase, *patch);
  }
  // The document goes straight into the file being written; the sink keeps it out of place until
  // every check has passed, and may not run it at all (an unwritable destination), so it is judged
  // here then: its refusals come first, as when it was read before the destination was tried.
  auto file = std::make_unique<FileContentStream>(*m_fetcher, address, limits, longestText, digest);
  const int written = m_sink.WriteFileFrom(*file, destination);
  file->Judge();
  if (!ReportContent(*file, address, loggingFlag)) return 0;
  ReportWrite(address, written, loggingFlag);
  return written;
}
