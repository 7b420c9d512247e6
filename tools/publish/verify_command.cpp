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
#include "update/release_signature.h"
#include "update/log_texts.h"
#include "update/manifest_limits.h"
#include "update/manifest_names.h"
#include "update/update_engine.h"
#include "update/verified_manifest.h"
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
  PatchOffer patch;     // as the engine read it
};

// Records what the engine reports of each file and of the manifest; the window and console
// front ends do nothing with these.
class ReportingHost : public SilentUpdateHost {
 public:
  void FileFinished(const FileOutcome& file) override;
  void ManifestDecided(const ManifestDecision& decision) override { m_mode = decision.mode; }

  const std::vector<FileReport>& Reports() const { return m_reports; }
  UpdateMode Mode() const { return m_mode; }

 private:
  std::vector<FileReport> m_reports;
  UpdateMode m_mode = UpdateMode::kNone;
};

void ReportingHost::FileFinished(const FileOutcome& file) {
  FileReport report;
  report.stage = file.stage;
  report.number = file.number;
  report.address = file.address;
  report.destination = ShownDestination(file);
  report.result = file.result;
  if (file.problem != InstallProblem::kNone) report.reasons = DescribeFileProblem(file);
  if (file.result == 1) report.size = static_cast<long long>(file.bytes);
  report.patch = file.patch;
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
  // An additional file goes unnumbered: its destination, which the line shows, tells it apart.
  if (report.stage == FileStage::kComponent) {
    return std::string(FileStageName(report.stage)) + " " + std::to_string(report.number);
  }
  return FileStageName(report.stage);
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

// The signature line: what the check of the signature beside the manifest found.
void PrintSignature(const VerifiedManifest& verified) {
  const bool valid = verified.signature == SignatureCheck::kValid;
  std::string detail;
  if (!verified.header.keyId.empty()) {
    detail =
        " (key " + verified.header.keyId + ", expires " + FormatUtc(verified.header.expires) + ")";
  }
  PrintLine(
      std::string("signature: ") +
      (valid ? "valid" : std::string("REFUSED: ") + DescribeSignatureCheck(verified.signature)) +
      detail);
}

// Loads the manifest as the updater does (with keys, its bytes once and the signature beside
// them), saying what the signature check found; a refused manifest is read all the same, to show
// what it would install. `signatureValid` tells the verdict.
bool LoadManifest(XmlDocument& manifest, const std::string& address, const ReleaseKeySet& keys,
                  bool& signatureValid) {
  const ManifestSource source{DefaultFetcher(), FetchLimits(), keys, nullptr};
  const VerifiedManifest verified =
      LoadVerifiedManifest(source, address.c_str(), RefusedManifest::kParsed, manifest);
  if (verified.fetched != FetchStatus::kOk) {
    PrintLine(std::string("mode: none: the manifest cannot be loaded: ") +
              DescribeFetchStatus(verified.fetched));
    return false;
  }
  if (verified.signatureChecked) {
    PrintSignature(verified);
    signatureValid = verified.signature == SignatureCheck::kValid;
  }
  if (!verified.loaded) PrintLine("mode: none: the manifest cannot be loaded: not well-formed XML");
  return verified.loaded;
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

// What a first-start watch (setting vigilarArranque) on the shop PCs will be watching: the new main
// executable, or the unchanged one starting over files that changed under it.
void PrintStartWatch(const std::vector<FileReport>& reports) {
  bool replacesMain = false;
  for (const FileReport& report : reports) {
    replacesMain =
        replacesMain || (report.stage == FileStage::kMainExecutable && report.result == 1);
  }
  PrintLine(
      replacesMain
          ? "first-start watch: the release replaces the main executable; a first-start watch "
            "watches the new one start"
          : "first-start watch: the release does not replace the main executable (a "
            "library release replaces it only when a destination is its "
            "registered path); a first-start watch watches the unchanged one start");
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
int CheckPatches(const std::vector<FileReport>& reports,
                 const std::vector<std::string>& previousDirs) {
  const std::map<std::string, std::string> bases = IndexPreviousFiles(previousDirs);
  int status = 0;
  for (const FileReport& report : reports) {
    bool failed = false;
    const std::string line = CheckOfferedPatch(report.patch, bases, !previousDirs.empty(), failed);
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
  if (!LoadManifest(manifest, address, keys, signatureValid)) return 1;

  DryRunFileSink sink;
  ReportingHost host;
  // With keys every file must carry its digest and match it, as the signed updater demands.
  UpdateOptions engineOptions;
  engineOptions.keys = &keys;
  UpdateEngine engine(host, sink, DefaultFetcher(), engineOptions);
  RunContext run;  // logging off: the engine reports each file's stage in its own types
  run.documentsMayBeLocal = DocumentsMayBeLocal(address.c_str());
  try {
    // Nothing is written.
    engine.UpdateFromManifest(manifest, installed.c_str(), run);
  } catch (...) {
    PrintError("the update engine failed while reading the manifest");
    return 1;
  }
  const UpdateMode mode = host.Mode();
  PrintMode(mode, manifest, installed);
  if (mode == UpdateMode::kNone) return 1;
  const int filesStatus = Conclude(host.Reports(), options.appDir);
  const int patchesStatus = CheckPatches(host.Reports(), options.previousDirs);
  return signatureValid && patchesStatus == 0 ? filesStatus : 1;
}
