// Key texts, signature files and their check. The formats are line-based with fixed words so a
// person can read them and nothing is left to interpretation: any deviation is malformed.
#include "update/release_signature.h"

#include <chrono>
#include <cstring>

#include "update/hex_decoder.h"

const char kSignatureSuffix[] = ".sig";
const char kPublicKeyTag[] = "mubax-p256-public";
const char kPrivateKeyTag[] = "mubax-p256-private";

namespace {

const char kSignatureMagicLine[] = "mubax-release-signature 1";
const char kKeyIdWord[] = "key-id";
const char kExpiresWord[] = "expires";
const char kSignatureWord[] = "signature";
constexpr std::size_t kKeyIdBytes = 8;
constexpr std::size_t kSignatureLines = 4;
// More digits than any 64-bit count of seconds: a longer expiry is malformed, not wrapped.
constexpr std::size_t kMaxExpiryDigits = 18;

std::string LowerHex(const unsigned char* data, std::size_t length) {
  std::string text(2 * length, '\0');
  EncodeHex(data, length, &text[0]);
  for (char& c : text) {
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// Decodes exactly `out.size()` bytes from `text`; false unless it is exactly that many digits.
template <std::size_t N>
bool DecodeExactHex(const std::string& text, std::array<unsigned char, N>& out) {
  const HexDecoder decoder;
  return text.size() == 2 * N && decoder.Decode(out.data(), text.data(), text.size()) == 0;
}

// Splits `text` into lines at LF; the last piece is whatever follows the last LF.
std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  lines.push_back(text.substr(start));
  return lines;
}

// The value after "<word> " on `line`; false when the line does not start that way.
bool ValueAfter(const std::string& line, const char* word, std::string& value) {
  const std::string prefix = std::string(word) + " ";
  if (line.compare(0, prefix.size(), prefix) != 0) return false;
  value = line.substr(prefix.size());
  return true;
}

bool ReadDecimal(const std::string& text, std::int64_t& value) {
  if (text.empty() || text.size() > kMaxExpiryDigits) return false;
  value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return true;
}

// A key line's key: the tag, one space, the digits, then the end or a space and a label.
bool ParseKeyLine(const std::string& line, const char* tag, std::string& digits) {
  std::string rest;
  if (!ValueAfter(line, tag, rest)) return false;
  const std::size_t space = rest.find(' ');
  digits = rest.substr(0, space);
  return true;
}

bool IsSkippedLine(const std::string& line) {
  return line.empty() || line == "\r" || line[0] == '#';
}

// Parses the four lines; the signed header is everything up to the signature line.
bool ParseSignatureFile(const std::string& text, SignatureHeader& header, P256Signature& signature,
                        std::size_t& signedLength) {
  const std::vector<std::string> lines = SplitLines(text);
  // Four lines each ending in LF leave one empty piece after the last.
  if (lines.size() != kSignatureLines + 1 || !lines.back().empty()) return false;
  std::string keyId;
  std::string expires;
  std::string signatureDigits;
  if (lines[0] != kSignatureMagicLine || !ValueAfter(lines[1], kKeyIdWord, keyId) ||
      !ValueAfter(lines[2], kExpiresWord, expires) ||
      !ValueAfter(lines[3], kSignatureWord, signatureDigits)) {
    return false;
  }
  std::array<unsigned char, kKeyIdBytes> idBytes{};
  // Digits read back as written, so one signature has exactly one text.
  if (!DecodeExactHex(keyId, idBytes) || LowerHex(idBytes.data(), idBytes.size()) != keyId ||
      !ReadDecimal(expires, header.expires) || !DecodeExactHex(signatureDigits, signature) ||
      LowerHex(signature.data(), signature.size()) != signatureDigits) {
    return false;
  }
  header.keyId = keyId;
  signedLength = lines[0].size() + lines[1].size() + lines[2].size() + 3;
  return true;
}

}  // namespace

const char* DescribeSignatureCheck(SignatureCheck check) {
  switch (check) {
    case SignatureCheck::kValid:
      return "signature valid";
    case SignatureCheck::kMissing:
      return "no signature file could be fetched";
    case SignatureCheck::kMalformed:
      return "the signature file is malformed";
    case SignatureCheck::kUnknownKey:
      return "signed by a key that is not trusted";
    case SignatureCheck::kBadSignature:
      return "the signature does not match the manifest";
    case SignatureCheck::kExpired:
      return "the signature has expired";
    case SignatureCheck::kTooFarAhead:
      return "the signature is valid for more than ten years";
    case SignatureCheck::kFileDigest:
      return "a file of the release does not match its S256 digest";
  }
  return "signature not checked";
}

std::string KeyIdOf(const P256PublicKey& key) {
  Sha256Digest digest{};
  if (!ComputeSha256(key.data(), key.size(), digest)) return std::string();
  return LowerHex(digest.data(), kKeyIdBytes);
}

std::string FormatPublicKeyLine(const P256PublicKey& key) {
  return std::string(kPublicKeyTag) + " " + LowerHex(key.data(), key.size()) + "\n";
}

std::string FormatPrivateKeyText(const P256PrivateKey& key) {
  return std::string(kPrivateKeyTag) + " " + LowerHex(key.data(), key.size()) + "\n";
}

bool ParsePrivateKeyText(const std::string& text, P256PrivateKey& key) {
  for (const std::string& line : SplitLines(text)) {
    if (IsSkippedLine(line)) continue;
    std::string digits;
    return ParseKeyLine(line, kPrivateKeyTag, digits) && DecodeExactHex(digits, key);
  }
  return false;
}

bool ReleaseKeySet::AddFromText(const std::string& text) {
  m_required = true;
  bool allRead = true;
  for (std::string line : SplitLines(text)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();  // a file edited on Windows
    if (IsSkippedLine(line)) continue;
    std::string digits;
    P256PublicKey key{};
    if (ParseKeyLine(line, kPublicKeyTag, digits) && DecodeExactHex(digits, key)) {
      Add(key);
    } else {
      allRead = false;
    }
  }
  return allRead;
}

void ReleaseKeySet::Add(const P256PublicKey& key) {
  m_required = true;
  m_keys.push_back(Entry{KeyIdOf(key), key});
}

const P256PublicKey* ReleaseKeySet::Find(const std::string& keyId) const {
  for (const Entry& entry : m_keys) {
    if (!entry.id.empty() && entry.id == keyId) return &entry.key;
  }
  return nullptr;
}

SignatureCheck CheckReleaseSignature(const ReleaseKeySet& keys,
                                     const std::vector<char>& signatureFile,
                                     const std::vector<char>& manifest, std::int64_t now,
                                     SignatureHeader* header) {
  SignatureHeader parsed;
  P256Signature signature{};
  std::size_t signedLength = 0;
  const std::string text(signatureFile.begin(), signatureFile.end());
  if (!ParseSignatureFile(text, parsed, signature, signedLength)) {
    return SignatureCheck::kMalformed;
  }
  if (header != nullptr) *header = parsed;
  const P256PublicKey* key = keys.Find(parsed.keyId);
  if (key == nullptr) return SignatureCheck::kUnknownKey;
  std::vector<unsigned char> message(text.data(), text.data() + signedLength);
  message.insert(message.end(), manifest.begin(), manifest.end());
  if (VerifyP256(*key, message.data(), message.size(), signature) != CryptoStatus::kOk) {
    return SignatureCheck::kBadSignature;
  }
  // Checked after the signature, so an expiry is only ever reported for one the key made.
  if (now > parsed.expires && now - parsed.expires > kClockSkewSeconds) {
    return SignatureCheck::kExpired;
  }
  if (parsed.expires > now && parsed.expires - now > kMaxSignatureLifetimeSeconds) {
    return SignatureCheck::kTooFarAhead;
  }
  return SignatureCheck::kValid;
}

std::string FormatSignedHeader(const std::string& keyId, std::int64_t expires) {
  return std::string(kSignatureMagicLine) + "\n" + kKeyIdWord + " " + keyId + "\n" + kExpiresWord +
         " " + std::to_string(expires) + "\n";
}

std::string FormatSignatureLine(const P256Signature& signature) {
  return std::string(kSignatureWord) + " " + LowerHex(signature.data(), signature.size()) + "\n";
}

std::int64_t CurrentUnixTime() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}
