// The verify command: the update engine itself runs on the manifest, with a dry-run installer and
// a host that records what it reports, so the verdict is the updater's own.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "common/app_directory.h"
#include "publish/commands.h"
#include "publish/release_text.h"
#include "publish/signing.h"
#include "publish/verify_patches.h"
#include "net/fetched_bytes_fetcher.h"
#include "update/release_signature.h"
#include "update/log_texts.h"
#include "update/manifest_limits.h"
#include "update/manifest_names.h"
#include "update/update_engine.h"
#include "xml/xml_document.h"

namespace {

struct FileReport {
  FileStage stage = FileStage::kMainExecutable;
  int number = 0;
  std::string address;  // texts as the engine holds them
  std::string destination;
  std::string reasons;
  int result = 0;
  long long size = -1;  // bytes the dry run would write; -1 when it would write none
};

// Records each installation attempt; the window and console front ends do nothing with these.
class ReportingHost : public SilentUpdateHost {
 public:
  explicit ReportingHost(const DryRunFileSink& sink) : m_sink(sink) {}

  void ReportInstallProblem(const InstallItem& /*item*/, const char* reason) override {
    if (!m_pendingReasons.empty()) m_pendingReasons += "; ";
    m_pendingReasons += reason;
  }
  void ReportInstallResult(const InstallItem& item, int result) override;

  const std::vector<FileReport>& Reports() const { return m_reports; }

 private:
  const DryRunFileSink& m_sink;
  std::vector<FileReport> m_reports;
  std::string m_pendingReasons;
  std::size_t m_writesSeen = 0;
};

void ReportingHost::ReportInstallResult(const InstallItem& item, int result) {
  FileReport report;
  report.stage = item.stage;
  report.number = item.number;
  report.address = item.address;
  report.destination = item.destination;
  report.result = result;
  report.reasons.swap(m_pendingReasons);
  if (m_sink.Writes().size() > m_writesSeen) {
    m_writesSeen = m_sink.Writes().size();
    report.size = static_cast<long long>(m_sink.Writes().back().length);
  }
  m_reports.push_back(report);
}

std::string Quote(const std::string& engineText) {
  return "\"" + EngineTextToUtf8(engineText) + "\"";
}

// The offered version as the engine reads it, and the element it comes from: only to explain the
// engine's choice, which has already been made.
std::string ReadOfferedVersion(const XmlDocument& manifest, std::string& source) {
  char offered[kManifestTextBufferSize] = {};
  if (manifest.Exists(kVersionElement)) {
    source = kVersionElement;
    manifest.GetValue(kVersionElement, offered, sizeof(offered));
    return offered;
  }
  XmlNode library;
  if (!manifest.Exists(kLibraryElement) || manifest.SelectNode(library, kLibraryElement) != 1) {
    return std::string();
  }
  source = kLibraryVersionElement;
  if (GetNodeText(library, kLibraryVersionElement, offered, sizeof(offered)) == -1) {
    source += " (missing)";
  }
  return offered;
}

std::string ExplainNoMode(const XmlDocument& manifest) {
  std::string source;
  const std::string offered = ReadOfferedVersion(manifest, source);
  if (source.empty()) return "the manifest has neither version nor actLibreria";
  if (offered.empty()) {
    return source + " is empty, missing or longer than " + std::to_string(kMaxManifestTextBytes) +
           " bytes";
  }
  return source + " " + Quote(offered) + " equals the installed version";
}

void PrintMode(UpdateMode mode, const XmlDocument& manifest, const std::string& installed) {
  if (mode == UpdateMode::kNone) {
    PrintLine("mode: none: " + ExplainNoMode(manifest));
    return;
  }
  std::string source;
  const std::string offered = ReadOfferedVersion(manifest, source);
  PrintLine(std::string("mode: ") +
            (mode == UpdateMode::kApplication ? "APLICACION" : "TRANSPARENTE") + " (" + source +
            " " + Quote(offered) + ", installed version " + Quote(installed) + ")");
}

std::string DescribeStage(const FileReport& report) {
  switch (report.stage) {
    case FileStage::kComponent:
      return "component " + std::to_string(report.number);
    case FileStage::kMainExecutable:
      return "main executable";
    case FileStage::kAdditionalFile:
      return "additional file";  // numbered by its destination, which the line shows
    case FileStage::kActiveXFile:
      return "ActiveX file";
    case FileStage::kLibraryFile:
      return "library file";
  }
  return "file";
}

// Why a component would not fit the updater's buffers once placed in `appDir`, or empty. The
// engine here sees this machine's application directory (usually none), not the shop PCs'.
std::string CheckInAppDir(const FileReport& report, const std::string& appDir) {
  char engineDir[kManifestTextBufferSize] = {};
  GetAppDirectory(engineDir, sizeof(engineDir));
  std::string relative = EngineTextToUtf8(report.destination);
  const std::string engineDirText = EngineTextToUtf8(engineDir);
  if (relative.compare(0, engineDirText.size(), engineDirText) == 0) {
    relative.erase(0, engineDirText.size());
  }
  const std::string placed = WithTrailingSeparator(appDir) + relative;
  const std::size_t placedLength = UpdaterTextLength(placed);
  if (placedLength > kMaxManifestTextBytes) {
    return "in " + appDir + " its destination would be " + std::to_string(placedLength) +
           " bytes, over the updater's " + std::to_string(kMaxManifestTextBytes);
  }
  return std::string();
}

// Prints one line per attempted file; returns how many would install.
int PrintReports(const std::vector<FileReport>& reports, const std::string& appDir) {
  int installing = 0;
  for (const FileReport& report : reports) {
    const std::string label = DescribeStage(report);
    std::string reason = report.result == 1 ? std::string() : report.reasons;
    if (report.result != 1 && reason.empty()) reason = "not installed";
    if (reason.empty() && !appDir.empty() && report.stage == FileStage::kComponent) {
      reason = CheckInAppDir(report, appDir);
    }
    std::string line = label + ": " + EngineTextToUtf8(report.address) + " -> " +
                       EngineTextToUtf8(report.destination) + ": ";
    if (report.size >= 0) line += std::to_string(report.size) + " bytes, ";
    line += reason.empty() ? "would install" : "would NOT install: " + reason;
    PrintLine(line);
    installing += reason.empty() ? 1 : 0;
  }
  return installing;
}

bool LoadManifest(XmlDocument& manifest, const std::string& address) {
  bool loaded = false;
  try {
    loaded = manifest.Load(address.c_str(), true);
  } catch (...) {
    loaded = false;
  }
  if (!loaded) {
    const FetchStatus status = manifest.GetLastFetchStatus();
    PrintLine("mode: none: the manifest cannot be loaded: " +
              std::string(status == FetchStatus::kOk ? "not well-formed XML"
                                                     : DescribeFetchStatus(status)));
  }
  return loaded;
}

// The trusted keys of --public-key; false, having said why, when the file holds none or a line
// that is not a key.
bool ReadTrustedKeys(const std::string& path, ReleaseKeySet& keys) {
  std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
  std::ostringstream text;
  if (!in || !(text << in.rdbuf())) {
    PrintError("cannot read " + path);
    return false;
  }
  if (!keys.AddFromText(text.str()) || keys.Size() == 0) {
    PrintError(path + " is not a public key file (lines \"" + kPublicKeyTag + " <hex>\")");
    return false;
  }
  return true;
}

// As the updater with keys loads a manifest: its bytes once, the signature beside it, then the
// document from those bytes. Says what the signature check found; `valid` tells the verdict.
bool LoadSignedManifest(XmlDocument& manifest, const std::string& address,
                        const ReleaseKeySet& keys, bool& valid) {
  std::vector<char> bytes;
  std::vector<char> signature;
  FetchLimits signatureLimits;
  signatureLimits.maxBytes = kSignatureFileMaxBytes;
  const FetchStatus fetched = FetchAddress(address.c_str(), FetchLimits(), bytes);
  if (fetched != FetchStatus::kOk) {
    PrintLine(std::string("mode: none: the manifest cannot be loaded: ") +
              DescribeFetchStatus(fetched));
    return false;
  }
  SignatureHeader header;
  const FetchStatus signatureFetched =
      FetchAddress((address + kSignatureSuffix).c_str(), signatureLimits, signature);
  const SignatureCheck check =
      signatureFetched == FetchStatus::kOk
          ? CheckReleaseSignature(keys, signature, bytes, CurrentUnixTime(), &header)
          : (signatureFetched == FetchStatus::kTooLarge ? SignatureCheck::kMalformed
                                                        : SignatureCheck::kMissing);
  valid = check == SignatureCheck::kValid;
  std::string detail;
  if (!header.keyId.empty()) {
    detail = " (key " + header.keyId + ", expires " + FormatUtc(header.expires) + ")";
  }
  PrintLine(std::string("signature: ") +
            (valid ? "valid" : std::string("REFUSED: ") + DescribeSignatureCheck(check)) + detail);
  FetchedBytesFetcher checked(address, bytes);
  manifest.SetFetcher(checked);
  bool loaded = false;
  try {
    loaded = manifest.Load(address.c_str(), true);
  } catch (...) {
    loaded = false;
  }
  manifest.SetFetcher(DefaultFetcher());
  if (!loaded) PrintLine("mode: none: the manifest cannot be loaded: not well-formed XML");
  return loaded;
}

// The options as the engine takes them; false, having said why, when it could not read them.
bool ToEngineTexts(const VerifyOptions& options, std::string& address, std::string& installed) {
  if (!Utf8ToEngineText(options.address, address) ||
      !Utf8ToEngineText(options.installedVersion, installed)) {
    PrintError("the address or the installed version holds characters the updater cannot read");
    return false;
  }
  const std::string problem = options.appDir.empty()
                                  ? std::string()
                                  : CheckManifestText(options.appDir, kMaxManifestTextBytes);
  if (!problem.empty()) PrintError("application directory " + problem);
  return problem.empty();
}

// What a start watch (setting vigilarArranque) on the shop PCs will be watching: the new main
// executable, or the unchanged one starting over files that changed under it.
void PrintStartWatch(const std::vector<FileReport>& reports) {
  bool replacesMain = false;
  for (const FileReport& report : reports) {
    replacesMain =
        replacesMain || (report.stage == FileStage::kMainExecutable && report.result == 1);
  }
  PrintLine(replacesMain ? "start watch: the release replaces the main executable; a start watch "
                           "watches the new one start"
                         : "start watch: the release does not replace the main executable (a "
                           "library release replaces it only when a destination is its "
                           "registered path); a start watch watches the unchanged one start");
}

int Conclude(const std::vector<FileReport>& reports, const std::string& appDir) {
  const int installing = PrintReports(reports, appDir);
  PrintStartWatch(reports);
  const int total = static_cast<int>(reports.size());
  PrintLine(std::to_string(installing) + " of " + std::to_string(total) + " files would install");
  if (total == 0) PrintLine("the release installs nothing");
  return total > 0 && installing == total ? 0 : 1;
}

// Applies every patch the manifest offers for the files the engine attempted; 1 when any fails.
int CheckPatches(const XmlDocument& manifest, const std::vector<FileReport>& reports,
                 const std::vector<std::string>& previousDirs) {
  const std::map<std::string, std::string> bases = IndexPreviousFiles(previousDirs);
  int status = 0;
  for (const FileReport& report : reports) {
    bool failed = false;
    const std::string line = CheckOfferedPatch(manifest, report.stage, report.number, bases,
                                               !previousDirs.empty(), failed);
    if (line.empty()) continue;
    PrintLine(DescribeStage(report) + line);
    if (failed) status = 1;
  }
  return status;
}

}  // namespace

int RunVerifyCommand(const VerifyOptions& options) {
  std::string address;
  std::string installed;
  if (!ToEngineTexts(options, address, installed)) return 1;
  ReleaseKeySet keys;
  if (!options.publicKeyFile.empty() && !ReadTrustedKeys(options.publicKeyFile, keys)) return 1;
  PrintLine("manifest: " + options.address);
  XmlDocument manifest;
  bool signatureValid = true;
  if (keys.RequiresSignatures() ? !LoadSignedManifest(manifest, address, keys, signatureValid)
                                : !LoadManifest(manifest, address)) {
    return 1;
  }

  DryRunFileSink sink;
  ReportingHost host(sink);
  UpdateEngine engine(host, sink);
  engine.SetManifestOrigin(address.c_str());
  // With keys every file must carry its digest and match it, as the signed updater demands.
  engine.SetReleaseKeys(keys);
  UpdateMode mode = UpdateMode::kNone;
  try {
    // Logging off: the engine reports each file's stage in its own types. Nothing is written.
    mode = engine.UpdateFromManifest(manifest, installed.c_str(), false);
  } catch (...) {
    PrintError("the update engine failed while reading the manifest");
    return 1;
  }
  PrintMode(mode, manifest, installed);
  if (mode == UpdateMode::kNone) return 1;
  const int filesStatus = Conclude(host.Reports(), options.appDir);
  const int patchesStatus = CheckPatches(manifest, host.Reports(), options.previousDirs);
  return signatureValid && patchesStatus == 0 ? filesStatus : 1;
}
