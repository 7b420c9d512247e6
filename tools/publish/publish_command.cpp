// The app and library commands: plan and check the whole release, then write it in one piece.
#include "publish/commands.h"
#include "publish/manifest_text.h"
#include "publish/release_patches.h"
#include "publish/release_text.h"
#include "publish/release_writer.h"
#include "publish/signing.h"
#include "update/release_signature.h"

namespace {

void PrintSummary(const Release& release, const ReleaseOptions& options) {
  PrintLine("Published version " + release.version + " (" +
            (release.library ? "library" : "application") + " manifest) in " + release.outDir);
  for (const ReleaseFile& file : release.files) {
    std::string line = "  " + file.documentName + ": " + DescribeFile(file) + ", " +
                       std::to_string(file.size) + " bytes, limit " + std::to_string(file.limit);
    if (file.role != FileStage::kMainExecutable) line += ", to " + file.destination;
    PrintLine(line);
    if (!file.patch.empty()) {
      PrintLine("  " + file.patchDocumentName + ": its patch against " + file.patchBase + ", " +
                std::to_string(file.patch.size()) + " bytes");
    }
  }
  std::string manifestAddress;
  std::string ignored;
  JoinAddress(options.baseUrl, release.manifestName, manifestAddress, ignored);
  PrintLine("  " + release.manifestName + ": the manifest, to be fetched from " + manifestAddress);
  if (!options.signing.keyFile.empty()) {
    PrintLine("  " + release.manifestName + kSignatureSuffix + ": its signature, valid until " +
              FormatUtc(CurrentUnixTime() + options.signing.lifetimeSeconds));
  }
}

// With a key: every file's digest into the release and the manifest's signature into
// `signature`. False, having said why, when the release cannot be signed.
bool PrepareSignature(const SigningOptions& signing, Release& release, std::string& signature) {
  if (signing.keyFile.empty()) return true;
  P256PrivateKey key{};
  std::string error;
  if (!ReadPrivateKeyFile(signing.keyFile, key, error)) {
    PrintError(error);
    return false;
  }
  for (ReleaseFile& file : release.files) {
    file.digest = DigestFile(file.source, error);
    if (file.digest.empty()) {
      PrintError(error);
      return false;
    }
  }
  signature = SignManifestText(key, signing.lifetimeSeconds, BuildManifestText(release), error);
  if (signature.empty()) PrintError(error);
  return !signature.empty();
}

int Publish(std::vector<std::string> problems, Release release, const ReleaseOptions& options) {
  if (problems.empty()) problems = PlanPatches(options.previousDirs, options.baseUrl, release);
  if (!problems.empty()) {
    for (const std::string& problem : problems) PrintError(problem);
    PrintError("nothing was written");
    return 1;
  }
  Release signedRelease = release;
  std::string signature;
  if (!PrepareSignature(options.signing, signedRelease, signature)) {
    PrintError("nothing was written");
    return 1;
  }
  bool partlyInPlace = false;
  const std::string error =
      WriteRelease(signedRelease, BuildManifestText(signedRelease), signature, partlyInPlace);
  if (!error.empty()) {
    PrintError(error);
    PrintError(partlyInPlace ? "some file documents were replaced, the manifest was not"
                             : "nothing was written");
    return 1;
  }
  PrintSummary(signedRelease, options);
  return 0;
}

}  // namespace

int RunAppCommand(const AppReleaseOptions& options) {
  Release release;
  const std::vector<std::string> problems = PlanAppRelease(options, release);
  return Publish(problems, release, options.common);
}

int RunLibraryCommand(const LibraryReleaseOptions& options) {
  Release release;
  const std::vector<std::string> problems = PlanLibraryRelease(options, release);
  return Publish(problems, release, options.common);
}
