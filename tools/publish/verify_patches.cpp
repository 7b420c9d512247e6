// Applying each offered patch to its base for the verify command; see verify_patches.h.
#include "publish/verify_patches.h"

#include <filesystem>
#include <system_error>

#include "publish/signing.h"
#include "update/delta_patch.h"
#include "update/file_content_stream.h"
#include "update/patch_offer.h"
#include "update/file_installer.h"

namespace fs = std::filesystem;

namespace {

// Counts the result's bytes; only its digest is kept.
class CountingWriter : public ContentWriter {
 public:
  bool Write(const unsigned char* /*data*/, std::size_t length) override {
    bytes += length;
    return true;
  }
  std::size_t bytes = 0;
};

// Fetches the patch document and applies it to `basePath`; the verdict's text.
std::string ApplyTo(const PatchOffer& offer, const std::string& basePath, bool& failed) {
  std::vector<unsigned char> base;
  if (ReadPatchBase(basePath.c_str(), offer.baseDigest.c_str(), base) !=
      PatchBaseResult::kMatches) {
    failed = true;
    return "does NOT apply: " + basePath + " cannot be read as its base";
  }
  CountingWriter result;
  PatchApplier applier(base, offer.resultDigest.c_str(), result);
  FetchLimits limits;
  limits.allowLocalFiles = true;  // the publisher's own machine, as for the manifest
  limits.maxBytes = FileDocumentFetchCap(static_cast<int>(kPatchWindowBytes));
  FileDigestCheck unchecked(nullptr, false);
  FileContentStream patch(DefaultFetcher(), offer.address.c_str(), limits, limits.maxBytes,
                          unchecked);
  if (!patch.Produce(applier)) {
    failed = true;
    return "does NOT apply: its document cannot be read (" +
           std::string(patch.Verdict() == FileContentVerdict::kFetchFailed
                           ? DescribeFetchStatus(patch.FetchFailure())
                           : "not a file document of hexadecimal text") +
           ")";
  }
  const PatchVerdict verdict = applier.Finish();
  failed = verdict != PatchVerdict::kApplied;
  return std::string(failed ? "does NOT apply to " : "to ") + basePath + ": " +
         DescribePatchVerdict(verdict) +
         (failed ? "" : " (" + std::to_string(result.bytes) + " bytes)");
}

}  // namespace

std::map<std::string, std::string> IndexPreviousFiles(const std::vector<std::string>& directories) {
  std::map<std::string, std::string> index;
  for (const std::string& directory : directories) {
    std::error_code error;
    for (fs::recursive_directory_iterator it(fs::u8path(directory), error), end;
         !error && it != end; it.increment(error)) {
      if (!it->is_regular_file(error)) continue;
      std::string ignored;
      const std::string path = it->path().u8string();
      const std::string digest = DigestFile(path, ignored);
      if (!digest.empty()) index.emplace(digest, path);
    }
  }
  return index;
}

std::string CheckOfferedPatch(const PatchOffer& offer,
                              const std::map<std::string, std::string>& bases, bool checkBases,
                              bool& failed) {
  failed = false;
  if (!offer.Usable()) return std::string();
  const std::string head = " patch " + offer.address + ": ";
  if (!checkBases) return head + "offered, not checked (give --previous DIR)";
  const auto base = bases.find(offer.baseDigest);
  if (base == bases.end()) {
    failed = true;
    return head + "does NOT apply: no file under --previous has its base digest " +
           offer.baseDigest;
  }
  return head + ApplyTo(offer, base->second, failed);
}
