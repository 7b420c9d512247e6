// Planning a release's patches; see release_patches.h.
#include "publish/release_patches.h"

#include <filesystem>
#include <system_error>

#include "crypto/crypto.h"
#include "publish/patch_maker.h"
#include "publish/release_text.h"
#include "publish/signing.h"
#include "update/delta_patch.h"
#include "update/file_digest.h"
#include "update/manifest_limits.h"

namespace fs = std::filesystem;

namespace {

constexpr char kPatchDocumentSuffix[] = ".patch.xml";
constexpr char kDocumentSuffix[] = ".xml";

std::string Digest(const std::string& bytes) {
  Sha256Digest digest{};
  return ComputeSha256(bytes.data(), bytes.size(), digest) ? FormatFileDigest(digest)
                                                           : std::string();
}

// Collects what a patch makes, to compare it with the file it stands for.
class Collector : public ContentWriter {
 public:
  bool Write(const unsigned char* data, std::size_t length) override {
    bytes.append(reinterpret_cast<const char*>(data), length);
    return true;
  }
  std::string bytes;
};

// The updater's own applier, run on the patch: only a patch that gives the file back is kept.
bool AppliesBack(const std::string& base, const std::string& patch, const std::string& result,
                 const std::string& resultDigest) {
  const std::vector<unsigned char> prefix(base.begin(), base.end());
  Collector out;
  PatchApplier applier(prefix, resultDigest.c_str(), out);
  applier.Write(reinterpret_cast<const unsigned char*>(patch.data()), patch.size());
  return applier.Finish() == PatchVerdict::kApplied && out.bytes == result;
}

std::string LastSegment(const std::string& path) {
  const std::size_t separator = path.find_last_of("/\\");
  return separator == std::string::npos ? path : path.substr(separator + 1);
}

// The smallest good patch of `file` (whose bytes are `result`) against the earlier copies.
void ChoosePatch(const std::vector<std::string>& previousDirs, const std::string& result,
                 ReleaseFile& file) {
  const std::string resultDigest = Digest(result);
  for (const std::string& directory : previousDirs) {
    const std::string basePath = PreviousFilePath(directory, file);
    std::string base;
    std::string patch;
    std::string absent;  // an earlier release need not hold every file
    if (!ReadWholeFile(basePath, base, absent) || !MakePatch(base, result, patch)) continue;
    if (patch.size() > result.size() / kPatchShareDivisor) continue;
    if (!file.patch.empty() && patch.size() >= file.patch.size()) continue;
    if (!AppliesBack(base, patch, result, resultDigest)) continue;
    file.patch = patch;
    file.patchBase = basePath;
    file.patchBaseDigest = Digest(base);
    file.patchResultDigest = resultDigest;
  }
}

}  // namespace

std::string PreviousFilePath(const std::string& previousDir, const ReleaseFile& file) {
  std::string relative;
  switch (file.role) {
    case FileStage::kComponent:
      relative = file.destination;
      break;
    case FileStage::kMainExecutable:
      relative = fs::u8path(file.source).filename().u8string();
      break;
    case FileStage::kAdditionalFile:
    case FileStage::kActiveXFile:
    case FileStage::kLibraryFile:
      relative = LastSegment(file.destination);
      break;
  }
  for (char& c : relative) {
    if (c == '\\') c = '/';
  }
  return (fs::u8path(previousDir) / fs::u8path(relative)).u8string();
}

std::vector<std::string> PlanPatches(const std::vector<std::string>& previousDirs,
                                     const std::string& baseUrl, Release& release) {
  std::vector<std::string> problems;
  if (previousDirs.empty()) return problems;
  for (const std::string& directory : previousDirs) {
    std::error_code error;
    if (!fs::is_directory(fs::u8path(directory), error)) {
      problems.push_back("--previous " + directory + " is not a directory");
    }
  }
  if (!problems.empty()) return problems;
  for (ReleaseFile& file : release.files) {
    std::string result;
    std::string error;
    if (!ReadWholeFile(file.source, result, error)) {
      problems.push_back(error);
      continue;
    }
    ChoosePatch(previousDirs, result, file);
    if (file.patch.empty()) continue;
    const std::string stem =
        file.documentName.substr(0, file.documentName.size() - std::string(kDocumentSuffix).size());
    file.patchDocumentName = stem + kPatchDocumentSuffix;
    if (!JoinAddress(baseUrl, file.patchDocumentName, file.patchAddress, error)) {
      problems.push_back(error);
    } else if (file.patchAddress.size() > kMaxManifestTextBytes) {
      problems.push_back(file.source + ": the address of its patch is longer than " +
                         std::to_string(kMaxManifestTextBytes) + " bytes");
    }
  }
  return problems;
}
