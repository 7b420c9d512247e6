// The per-file integrity check carried in a file entry's `firma` (and, for application releases,
// `firmacompN` and `firmadescarga`): "S256:" followed by the unpadded base64url SHA-256 of the
// decoded file bytes, 48 characters in all. The digest is formed as bytes come, so a file can be
// checked piece by piece before its replacement is committed.
#pragma once

#include <cstddef>
#include <string>

#include "crypto/crypto.h"

extern const char kFileDigestPrefix[];  // "S256:"
// "S256:" and 43 base64url characters: within the 49 a manifest's `firma` may hold.
constexpr std::size_t kFileDigestTextLength = 48;

// "S256:" + base64url of `digest`; empty when the platform's encoder failed.
std::string FormatFileDigest(const Sha256Digest& digest);
// True when `text` has exactly the form above (prefix, length and alphabet).
bool IsFileDigestText(const char* text);

// How a file's bytes stand against its entry's digest text.
enum class DigestVerdict {
  kMatches,    // a digest was given and the bytes match it
  kUnchecked,  // no digest in the form above, and none was required: nothing to check
  kMissing,    // signatures are required, and the entry carries no digest in the form above
  kMismatch,   // the bytes do not match the digest given
  kFailed,     // hashing failed
};

// One file's check: construct from the entry's text, feed the bytes in any pieces, then Finish.
class FileDigestCheck {
 public:
  // `text` may be null (no digest). `required`: the program trusts release keys, so a file
  // without a digest must not be installed.
  FileDigestCheck(const char* text, bool required);

  // False when the file is refused whatever its bytes (required and absent): fetch nothing.
  bool Admits() const { return m_admits; }
  void Update(const unsigned char* data, std::size_t length);
  DigestVerdict Finish();

 private:
  bool m_expected;
  bool m_admits;
  std::string m_text;
  Sha256 m_hash;
  bool m_failed = false;
};
