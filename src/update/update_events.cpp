// The texts of the engine's typed events (one switch for the stages of a release, one for the
// problems a file can have), and the parts that hear nothing.
#include "update/update_events.h"

#include "update/update_host.h"

#include "update/log_texts.h"
#include "update/manifest_limits.h"

// The texts below name the updater's longest manifest text.
static_assert(kMaxManifestTextBytes == 254, "the problem texts name the longest manifest text");

const char* DescribeInstallProblem(InstallProblem problem) {
  switch (problem) {
    case InstallProblem::kNone:
      return "";
    case InstallProblem::kSizeTextTooLong:
      return "tamfichero longer than 254 bytes";
    case InstallProblem::kComponentTextMissing:
      return "component address or destination missing or longer than 254 bytes";
    case InstallProblem::kOutsideAppDirectory:
      return "component destination leaves the application directory";
    case InstallProblem::kAppDirectoryTooLong:
      return "application directory and destination longer than 254 bytes";
    case InstallProblem::kMainAddressTooLong:
      return "main executable address longer than 254 bytes";
    case InstallProblem::kSizeLimitNotPositive:
      return "size limit is 0 or less";
    case InstallProblem::kRunTimeUsedUp:
      return "the run's time for fetching is used up";
    case InstallProblem::kFetchFailed:
      return "the file document could not be fetched";
    case InstallProblem::kOutOfMemory:
      return "memory ran out while installing the file";
    case InstallProblem::kNotWellFormed:
      return "file document is not well-formed XML";
    case InstallProblem::kNoContentElement:
      return "file document has no fichero element";
    case InstallProblem::kContentTooLong:
      return "file is not smaller than its size limit";
    case InstallProblem::kContentEmpty:
      return "fichero is empty or not a child of the root";
    case InstallProblem::kContentNotHex:
      return "fichero is not an even number of hexadecimal digits";
    case InstallProblem::kDigestMismatch:
      return "the file's bytes do not match its S256 digest";
    case InstallProblem::kDigestMissing:
      return "signed release without an S256 digest for this file";
    case InstallProblem::kDigestFailed:
      return "the file's digest could not be computed";
    case InstallProblem::kDestinationNotWritable:
      return "destination may not be opened for writing (read-only, no right, in use)";
    case InstallProblem::kWriteFailed:
      return "destination cannot be written";
    case InstallProblem::kWrittenInPlace:
      return "written into the existing file in place: its directory takes no new file";
  }
  return "";
}

const char* FileStageName(FileStage stage) {
  switch (stage) {
    case FileStage::kComponent:
      return "component";
    case FileStage::kMainExecutable:
      return "main executable";
    case FileStage::kAdditionalFile:
      return "additional file";
    case FileStage::kActiveXFile:
      return "ActiveX file";
    case FileStage::kLibraryFile:
      return "library file";
  }
  return "file";
}

bool IsNumberedStage(FileStage stage) {
  return stage == FileStage::kComponent || stage == FileStage::kAdditionalFile;
}

const char* DescribeFileProblem(const FileOutcome& file) {
  return file.problem == InstallProblem::kFetchFailed ? DescribeFetchStatus(file.fetch)
                                                      : DescribeInstallProblem(file.problem);
}

const char* ShownDestination(const FileOutcome& file) {
  return file.stage == FileStage::kMainExecutable ? kMainExecutableDestinationText
                                                  : file.destination;
}

UpdateEvents& IgnoredUpdateEvents() {
  static UpdateEvents ignored;
  return ignored;
}

namespace {

class DroppingRunLog : public RunLog {
 public:
  void StartLogSession(const char* /*logPath*/) override {}
  void WriteLog(const char* /*component*/, const char* /*operation*/,
                const char* /*text*/) override {}
};

}  // namespace

RunLog& DroppedRunLog() {
  static DroppingRunLog dropped;
  return dropped;
}
