// The one load of a signed or unsigned manifest, for the updater and the release tool alike.
#include "update/verified_manifest.h"

#include <new>
#include <utility>
#include <vector>

#include "update/release_stage.h"

namespace {

bool FitDeadline(const ManifestSource& source, FetchLimits& limits) {
  return source.deadline == nullptr || FitBudget(limits, *source.deadline);
}

// The check of the signature beside the manifest at `address` for its `bytes`.
SignatureCheck CheckSignatureBeside(const ManifestSource& source, const char* address,
                                    const std::vector<char>& bytes, SignatureHeader& header) {
  // The signature is fetched under the same policy, within what is left of the run's time.
  FetchLimits limits = source.limits;
  limits.maxBytes = kSignatureFileMaxBytes;
  if (!FitDeadline(source, limits)) return SignatureCheck::kMissing;
  const std::string signatureAddress = std::string(address) + kSignatureSuffix;
  std::vector<char> signature;
  const FetchStatus fetched = source.fetcher.Fetch(signatureAddress.c_str(), limits, signature);
  if (fetched == FetchStatus::kTooLarge) return SignatureCheck::kMalformed;
  if (fetched != FetchStatus::kOk) return SignatureCheck::kMissing;
  return CheckReleaseSignature(source.keys, signature, bytes, CurrentUnixTime(), &header);
}

}  // namespace

VerifiedManifest LoadVerifiedManifest(const ManifestSource& source, const char* address,
                                      RefusedManifest refused, XmlDocument& manifest) {
  VerifiedManifest verified;
  FetchLimits limits = source.limits;
  std::vector<char> bytes;
  verified.fetched = FitDeadline(source, limits) ? source.fetcher.Fetch(address, limits, bytes)
                                                 : FetchStatus::kDeadlineExceeded;
  if (verified.fetched != FetchStatus::kOk) return verified;
  if (source.keys.RequiresSignatures()) {
    verified.signatureChecked = true;
    verified.signature = CheckSignatureBeside(source, address, bytes, verified.header);
    if (verified.signature != SignatureCheck::kValid && refused == RefusedManifest::kNotParsed) {
      return verified;
    }
  }
  verified.release = ReleaseIdentity(bytes);
  try {
    // Parsed from exactly the bytes fetched (and, with keys, checked): never a second fetch.
    verified.loaded = manifest.LoadBytes(std::move(bytes));
  } catch (const std::bad_alloc&) {
    verified.loaded = false;
  }
  return verified;
}
