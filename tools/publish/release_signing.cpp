// Signature files: the signed header and the manifest's bytes signed together, so neither the
// expiry nor the manifest can be changed alone. Portable.
#include "publish/release_signing.h"

#include "update/release_signature.h"

CryptoStatus BuildSignatureFile(const P256PrivateKey& key, std::int64_t expires,
                                const std::string& manifest, std::string& signatureFile) {
  const std::string header = FormatSignedHeader(KeyIdOf(PublicKeyOf(key)), expires);
  const std::string message = header + manifest;
  P256Signature signature{};
  const CryptoStatus status = SignP256(key, message.data(), message.size(), signature);
  if (status != CryptoStatus::kOk) return status;
  signatureFile = header + FormatSignatureLine(signature);
  return CryptoStatus::kOk;
}
