// The `firma` digest: formed through the crypto service, compared as text so the canonical
// encoding is the only one accepted.
#include "update/file_digest.h"

#include <cstring>

const char kFileDigestPrefix[] = "S256:";

namespace {

bool IsBase64UrlCharacter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_';
}

}  // namespace

std::string FormatFileDigest(const Sha256Digest& digest) {
  const std::string encoded = EncodeBase64Url(digest.data(), digest.size());
  if (encoded.empty()) return std::string();
  return kFileDigestPrefix + encoded;
}

bool IsFileDigestText(const char* text) {
  if (text == nullptr || std::strlen(text) != kFileDigestTextLength) return false;
  const std::size_t prefixLength = std::strlen(kFileDigestPrefix);
  if (std::strncmp(text, kFileDigestPrefix, prefixLength) != 0) return false;
  for (std::size_t i = prefixLength; i < kFileDigestTextLength; ++i) {
    if (!IsBase64UrlCharacter(text[i])) return false;
  }
  return true;
}

FileDigestCheck::FileDigestCheck(const char* text, bool required)
    : m_expected(IsFileDigestText(text)),
      m_admits(m_expected || !required),
      m_text(m_expected ? text : "") {}

void FileDigestCheck::Update(const unsigned char* data, std::size_t length) {
  if (m_expected && !m_hash.Update(data, length)) m_failed = true;
}

DigestVerdict FileDigestCheck::Finish() {
  if (!m_admits) return DigestVerdict::kMissing;
  if (!m_expected) return DigestVerdict::kUnchecked;
  Sha256Digest digest{};
  if (m_failed || !m_hash.Final(digest)) return DigestVerdict::kFailed;
  const std::string formed = FormatFileDigest(digest);
  if (formed.empty()) return DigestVerdict::kFailed;
  return formed == m_text ? DigestVerdict::kMatches : DigestVerdict::kMismatch;
}
