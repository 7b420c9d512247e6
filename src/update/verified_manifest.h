// Loading a manifest as the updater loads it: its bytes fetched once, with release keys the
// detached signature beside it checked against them, then the document parsed from exactly the
// bytes fetched. Shared by the updater and the release tool's verify command. Portable.
#pragma once

#include <chrono>
#include <string>

#include "net/fetch.h"
#include "update/release_signature.h"
#include "xml/xml_document.h"

// Where a manifest comes from and what it is held to.
struct ManifestSource {
  Fetcher& fetcher;
  FetchLimits limits;  // the manifest's; its signature's are these with kSignatureFileMaxBytes
  const ReleaseKeySet& keys;  // a signature is required when keys.RequiresSignatures()
  // Each fetch is fitted to what is left before it (FitBudget); null: no run deadline.
  const std::chrono::steady_clock::time_point* deadline = nullptr;
};

// Whether a manifest whose signature was refused is parsed all the same: the updater never reads
// one, the release tool reads it to say what it would have installed.
enum class RefusedManifest { kNotParsed, kParsed };

// What loading a manifest found.
struct VerifiedManifest {
  // The manifest's own fetch (kDeadlineExceeded also when no time was left for it); nothing else
  // was done unless kOk.
  FetchStatus fetched = FetchStatus::kOk;
  bool signatureChecked = false;  // the keys required a signature and it was looked for
  SignatureCheck signature = SignatureCheck::kValid;
  SignatureHeader header;  // as the signature file says, when it could be parsed
  bool loaded = false;     // the document was parsed from the fetched bytes
  std::string release;     // ReleaseIdentity of the fetched bytes
};

// Fetches the manifest at `address` from `source`; with keys, fetches the signature at
// `address` + kSignatureSuffix (a signature file that is too large counts as malformed, one that
// cannot be fetched as missing) and checks it at the current time; then loads `manifest` from the
// fetched bytes, unless the signature was refused and `refused` is kNotParsed. A parse that runs
// out of memory counts as not loaded. `manifest` is untouched unless a parse was attempted.
VerifiedManifest LoadVerifiedManifest(const ManifestSource& source, const char* address,
                                      RefusedManifest refused, XmlDocument& manifest);
