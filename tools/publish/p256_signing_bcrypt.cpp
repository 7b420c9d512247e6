// ECDSA P-256 signing and key generation on CNG (Windows), for the release tool.
#include <windows.h>
#include <bcrypt.h>

#include <cstring>
#include <vector>

#include "crypto/bcrypt_keys.h"
#include "publish/release_signing.h"

CryptoStatus SignP256(const P256PrivateKey& key, const void* message, std::size_t length,
                      P256Signature& signature) {
  const UniqueAlgorithm algorithm = OpenAlgorithm(BCRYPT_ECDSA_P256_ALGORITHM);
  if (!algorithm) return CryptoStatus::kFailed;
  const UniqueKey imported =
      ImportP256Key(algorithm.Get(), key.data() + kP256FieldBytes, key.data());
  if (!imported) return CryptoStatus::kBadKey;
  Sha256Digest digest{};
  if (!ComputeSha256(message, length, digest)) return CryptoStatus::kFailed;
  P256Signature out{};
  ULONG written = 0;
  if (!Succeeded(BCryptSignHash(imported.Get(), nullptr, digest.data(), kSha256Bytes, out.data(),
                                kP256SignatureBytes, &written, 0)) ||
      written != kP256SignatureBytes) {
    return CryptoStatus::kFailed;
  }
  // CNG takes the two halves of a private blob on trust: a key whose halves do not match would
  // sign what nobody can verify, so the signature is checked against the public half.
  if (VerifyP256(PublicKeyOf(key), message, length, out) != CryptoStatus::kOk) {
    return CryptoStatus::kBadKey;
  }
  signature = out;
  return CryptoStatus::kOk;
}

CryptoStatus GenerateP256(P256PrivateKey& privateKey) {
  const UniqueAlgorithm algorithm = OpenAlgorithm(BCRYPT_ECDSA_P256_ALGORITHM);
  UniqueKey key;
  if (!algorithm ||
      !Succeeded(BCryptGenerateKeyPair(algorithm.Get(), key.Put(), 8 * kP256FieldBytes, 0)) ||
      !Succeeded(BCryptFinalizeKeyPair(key.Get(), 0))) {
    return CryptoStatus::kFailed;
  }
  std::vector<unsigned char> blob(sizeof(BCRYPT_ECCKEY_BLOB) + kP256PrivateKeyBytes);
  ULONG written = 0;
  const NTSTATUS exported = BCryptExportKey(key.Get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, blob.data(),
                                            static_cast<ULONG>(blob.size()), &written, 0);
  const bool whole = Succeeded(exported) && written == blob.size();
  if (whole) {
    // The blob holds X, Y, d; the private key form is d, X, Y.
    const unsigned char* body = blob.data() + sizeof(BCRYPT_ECCKEY_BLOB);
    std::memcpy(privateKey.data(), body + kP256PublicKeyBytes, kP256FieldBytes);
    std::memcpy(privateKey.data() + kP256FieldBytes, body, kP256PublicKeyBytes);
  }
  SecureZeroMemory(blob.data(), blob.size());
  return whole ? CryptoStatus::kOk : CryptoStatus::kFailed;
}
