// Installing one file and reporting it: its document streamed through the XML reader and the
// hexadecimal decoder into the sink; one typed report per file to the host, one result line to
// the log. Working memory does not grow with the file.
#include "update/file_installer.h"

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
#include "update/file_sinks.h"
#include "update/log_texts.h"
#include "update/manifest_limits.h"
#include "update/manifest_names.h"
#include "update/release_stage.h"
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

void FileInstaller::BeginFile(FileStage stage, int number, const char* destination,
                              const PatchOffer& patch) {
  m_file = FileOutcome();
  m_file.stage = stage;
  m_file.number = number;
  m_file.destination = destination;
  m_file.patch = patch;
}

void FileInstaller::Refuse(InstallProblem problem) { m_file.problem = problem; }

void FileInstaller::ReportWrite(const FileWrite& write) {
  m_file.write = write.outcome;
  m_file.bytes = write.bytes;
  if (!write.Installed()) {
    Refuse(write.outcome == ReplaceResult::kNotWritable ? InstallProblem::kDestinationNotWritable
                                                        : InstallProblem::kWriteFailed);
  } else if (write.outcome == ReplaceResult::kWrittenInPlace) {
    // Installed, but not in one step: a crash meanwhile could have torn the file; say so.
    Refuse(InstallProblem::kWrittenInPlace);
    m_parts.log.Line(kOpInstallFile, kTextWrittenInPlace);
  }
}

void FileInstaller::Finish(const char* address, int result) {
  m_file.address = address;
  m_file.result = result;
  m_parts.events.FileFinished(m_file);
  if (result == 0) ++m_parts.summary.failedFiles;
  if (!m_parts.log.On()) return;
  // A line that would not fit the usual buffer is still logged whole.
  const std::string line = FormatResultLine(address, ShownDestination(m_file), result);
  m_parts.log.OutsideText(ResultOperation(m_file.stage), line.c_str());
}

int FileInstaller::InstallEntry(const XmlNode& entry, FileStage stage, int number) {
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

  BeginFile(stage, number, destination, ReadEntryPatchOffer(entry));
  int result = 0;
  if (sizeLength == kLongTextTooLong) {
    Refuse(InstallProblem::kSizeTextTooLong);
  } else {
    result = InstallDocument(address, destination, sizeLimit, signature);
  }
  Finish(address, result);
  return result;
}

bool FileInstaller::ReportDigest(DigestVerdict verdict, const char* address) {
  m_file.digest = verdict;
  switch (verdict) {
    case DigestVerdict::kMatches:
    case DigestVerdict::kUnchecked:
      return true;
    case DigestVerdict::kMismatch:
      Refuse(InstallProblem::kDigestMismatch);
      break;
    case DigestVerdict::kMissing:
      Refuse(InstallProblem::kDigestMissing);
      break;
    case DigestVerdict::kFailed:
      Refuse(InstallProblem::kDigestFailed);
      break;
  }
  m_parts.digestRefused.emplace_back(address);
  m_parts.log.Line(kOpInstallFile, kTextDigestMismatch);
  return false;
}

bool FileInstaller::ReportContent(const FileContentStream& file, const char* address) {
  switch (file.Verdict()) {
    case FileContentVerdict::kComplete:
      return true;
    case FileContentVerdict::kOutOfMemory:
      // Memory for this file ran out, not for the run: the file fails and the next one is tried.
      Refuse(InstallProblem::kOutOfMemory);
      m_parts.log.Line(kOpContentAllocation, kTextNull);
      break;
    case FileContentVerdict::kFetchFailed:
      Refuse(InstallProblem::kFetchFailed);
      m_file.fetch = file.FetchFailure();
      m_parts.log.Line(kOpInstallFile, kTextNoContentElement);
      break;
    case FileContentVerdict::kNotWellFormed:
      Refuse(InstallProblem::kNotWellFormed);
      m_parts.log.Line(kOpInstallFile, kTextNoContentElement);
      break;
    case FileContentVerdict::kNoElement:
      Refuse(InstallProblem::kNoContentElement);
      m_parts.log.Line(kOpInstallFile, kTextNoContentElement);
      break;
    case FileContentVerdict::kTooLong:
      Refuse(InstallProblem::kContentTooLong);
      break;
    case FileContentVerdict::kEmpty:
      Refuse(InstallProblem::kContentEmpty);
      m_parts.log.Line(kOpInstallFile, kTextEmptyContent);
      break;
    case FileContentVerdict::kNotHex:
      Refuse(InstallProblem::kContentNotHex);
      break;
    case FileContentVerdict::kDigestRefused:
      ReportDigest(file.Digest(), address);
      break;
  }
  return false;
}

int FileInstaller::InstallDocument(const char* address, const char* destination, int maxSize,
                                   const char* signature) {
  if (maxSize <= 0) {
    Refuse(InstallProblem::kSizeLimitNotPositive);
    return 0;
  }
  // The digest the file must match; a signed release carries one for every file.
  FileDigestCheck digest(signature, m_parts.keys.RequiresSignatures());
  if (!digest.Admits()) {
    m_parts.digestRefused.emplace_back(address);
    Refuse(InstallProblem::kDigestMissing);
    m_parts.log.Line(kOpInstallFile, kTextDigestMissing);
    return 0;
  }
  FetchLimits limits = m_parts.limits;
  limits.maxBytes = FileDocumentFetchCap(maxSize);
  limits.totalTimeoutSeconds = FileDocumentTimeout(maxSize, m_parts.limits.totalTimeoutSeconds);
  limits.allowLocalFiles = m_parts.run.documentsMayBeLocal;
  if (!FitRunDeadline(limits)) {
    Refuse(InstallProblem::kRunTimeUsedUp);
    return 0;
  }
  // The text must be shorter than twice the limit: a file of maxSize bytes is refused.
  const std::size_t longestText = 2 * static_cast<std::size_t>(maxSize) - 1;
  char patchBase[kPathBufferSize];
  if (m_parts.patchOffers != nullptr &&
      ResolveInstallDestination(destination, patchBase, sizeof(patchBase))) {
    m_parts.patchOffers->Note(address, patchBase, m_file.patch);
  }
  // The document goes straight into the file being written; the sink keeps it out of place until
  // every check has passed, and may not run it at all (an unwritable destination), so it is judged
  // here then: its refusals come first, as when it was read before the destination was tried.
  auto file =
      std::make_unique<FileContentStream>(m_parts.fetcher, address, limits, longestText, digest);
  const FileWrite write = m_parts.sink.Write(*file, destination);
  file->Judge();
  if (!ReportContent(*file, address)) return 0;
  ReportWrite(write);
  return write.Installed() ? 1 : 0;
}

bool FileInstaller::FitRunDeadline(FetchLimits& limits) const {
  return !m_parts.run.hasDeadline || FitBudget(limits, m_parts.run.deadline);
}
