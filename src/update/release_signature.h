// Signed releases: the keys a program trusts, the detached signature file beside a manifest and
// the check of one against the other. Portable; the cryptography is the crypto service's.
//
// Public key text: one key per line, "mubax-p256-public " + 128 hexadecimal digits (X then Y),
// optionally followed by a space and a free label; blank lines and lines starting with "#" are
// skipped. A key file trusted by the updater is any number of such lines.
//
// Signature file (the manifest's address + ".sig"), four lines, each ending in LF:
//   mubax-release-signature 1
//   key-id <16 lowercase hex digits: the first 8 bytes of the SHA-256 of the public key>
//   expires <seconds since 1970-01-01 UTC, decimal>
//   signature <128 lowercase hex digits: r||s of ECDSA P-256 with SHA-256>
// The signature covers the first three lines exactly as written (the signed header) followed by
// the exact manifest bytes, so neither the expiry nor the manifest can be changed alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "crypto/crypto.h"

// The largest signature file fetched: the format needs about 200 bytes.
constexpr std::size_t kSignatureFileMaxBytes = 1024;
// How far the PC's clock may be behind the signer's before a fresh signature is refused as
// expired: an expiry is honoured until this long after the time it names.
constexpr std::int64_t kClockSkewSeconds = std::int64_t{5} * 60;
// The longest a signature may be valid for, counted from the PC's clock: ten years. A release
// signed for longer (for ever, say) could be replayed long after it was withdrawn.
constexpr std::int64_t kMaxSignatureLifetimeSeconds = std::int64_t{3650} * 24 * 60 * 60;
// Appended to the manifest's address to form the signature's.
extern const char kSignatureSuffix[];  // ".sig"
extern const char kPublicKeyTag[];     // "mubax-p256-public"
extern const char kPrivateKeyTag[];    // "mubax-p256-private"

// Why a manifest's signature was or was not accepted.
enum class SignatureCheck {
  kValid,
  kMissing,       // no signature file could be fetched
  kMalformed,     // not the format above (truncated, garbled, too large, unknown version)
  kUnknownKey,    // made by a key this program does not trust
  kBadSignature,  // does not verify over this header and these manifest bytes
  kExpired,       // its expiry (plus kClockSkewSeconds) is past
  kTooFarAhead,   // its expiry is more than kMaxSignatureLifetimeSeconds away
  // The signature is valid but a file of the release lacks its digest or does not match it
  // (found by the engine's check of every file before any is written).
  kFileDigest,
};

// Short English reason, for the release tool and diagnostics.
const char* DescribeSignatureCheck(SignatureCheck check);

// The key id a signature names: the first 8 bytes of the SHA-256 of the raw public key, as 16
// lowercase hexadecimal digits. Empty when hashing failed.
std::string KeyIdOf(const P256PublicKey& key);

// "mubax-p256-public <hex>\n".
std::string FormatPublicKeyLine(const P256PublicKey& key);
// "mubax-p256-private <hex of d, X, Y>\n".
std::string FormatPrivateKeyText(const P256PrivateKey& key);
// Reads the first non-comment line of a private key text; false when there is none or it is
// not one.
bool ParsePrivateKeyText(const std::string& text, P256PrivateKey& key);

// The release keys a program trusts.
class ReleaseKeySet {
 public:
  // Adds every key line of `text` (format above). Returns false when some line is neither a key,
  // a comment nor blank; the keys of the other lines are added all the same. Either way the set
  // then requires signatures: a key source that was given but unreadable must not turn checks off.
  bool AddFromText(const std::string& text);
  void Add(const P256PublicKey& key);

  // True once any key source was added, even one without a usable key.
  bool RequiresSignatures() const { return m_required; }
  // The key whose id is `keyId`, or null.
  const P256PublicKey* Find(const std::string& keyId) const;
  std::size_t Size() const { return m_keys.size(); }

 private:
  struct Entry {
    std::string id;
    P256PublicKey key;
  };
  std::vector<Entry> m_keys;
  bool m_required = false;
};

// What a signature file says, once parsed.
struct SignatureHeader {
  std::string keyId;
  std::int64_t expires = 0;  // seconds since 1970-01-01 UTC
};

// Checks the signature file `signatureFile` for the exact bytes `manifest` against `keys`, at the
// time `now` (seconds since 1970-01-01 UTC). Fills `header` when the file could be parsed.
// Checks in order: format, key, signature, expiry; returns the first that fails, or kValid.
SignatureCheck CheckReleaseSignature(const ReleaseKeySet& keys,
                                     const std::vector<char>& signatureFile,
                                     const std::vector<char>& manifest, std::int64_t now,
                                     SignatureHeader* header = nullptr);

// The signed header of a signature file (its first three lines, each ending in LF) for the key
// `keyId` until `expires`. The release tool signs it followed by the manifest's bytes.
std::string FormatSignedHeader(const std::string& keyId, std::int64_t expires);
// The last line of a signature file, "signature <hex>" ending in LF.
std::string FormatSignatureLine(const P256Signature& signature);

// Seconds since 1970-01-01 UTC now.
std::int64_t CurrentUnixTime();
