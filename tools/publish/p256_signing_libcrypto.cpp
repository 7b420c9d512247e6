// ECDSA P-256 signing and key generation on OpenSSL's libcrypto (POSIX), for the release tool:
// libcrypto signs in DER, converted here to the raw r||s both back ends exchange.
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/ec.h>
#include <openssl/evp.h>

#include <cstring>
#include <vector>

#include "crypto/libcrypto_keys.h"
#include "publish/release_signing.h"

namespace {

// The DER signature libcrypto made as r||s; false when it is not one.
bool DerToSignature(const unsigned char* der, std::size_t length, P256Signature& signature) {
  const unsigned char* cursor = der;
  UniqueEcdsaSig sig(d2i_ECDSA_SIG(nullptr, &cursor, static_cast<long>(length)));
  if (!sig) return false;
  const BIGNUM* r = nullptr;
  const BIGNUM* s = nullptr;
  ECDSA_SIG_get0(sig.Get(), &r, &s);
  return BN_bn2binpad(r, signature.data(), kP256FieldBytes) == kP256FieldBytes &&
         BN_bn2binpad(s, signature.data() + kP256FieldBytes, kP256FieldBytes) == kP256FieldBytes;
}

}  // namespace

CryptoStatus SignP256(const P256PrivateKey& key, const void* message, std::size_t length,
                      P256Signature& signature) {
  const UniqueKey imported = ImportP256Key(key.data() + kP256FieldBytes, key.data());
  if (!imported) return CryptoStatus::kBadKey;
  UniqueMdContext context(EVP_MD_CTX_new());
  if (!context ||
      EVP_DigestSignInit(context.Get(), nullptr, EVP_sha256(), nullptr, imported.Get()) != 1) {
    return CryptoStatus::kFailed;
  }
  const auto* bytes = static_cast<const unsigned char*>(message);
  std::size_t derLength = 0;
  if (EVP_DigestSign(context.Get(), nullptr, &derLength, bytes, length) != 1) {
    return CryptoStatus::kFailed;
  }
  std::vector<unsigned char> der(derLength);
  if (EVP_DigestSign(context.Get(), der.data(), &derLength, bytes, length) != 1 ||
      !DerToSignature(der.data(), derLength, signature)) {
    return CryptoStatus::kFailed;
  }
  return CryptoStatus::kOk;
}

CryptoStatus GenerateP256(P256PrivateKey& privateKey) {
  UniqueKey key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
  if (!key) return CryptoStatus::kFailed;
  unsigned char encoded[kEncodedPointBytes] = {};
  std::size_t encodedLength = 0;
  UniqueBignum d;
  BIGNUM* scalar = nullptr;
  if (EVP_PKEY_get_octet_string_param(key.Get(), OSSL_PKEY_PARAM_PUB_KEY, encoded, sizeof(encoded),
                                      &encodedLength) != 1 ||
      encodedLength != kEncodedPointBytes || encoded[0] != kUncompressedPoint ||
      EVP_PKEY_get_bn_param(key.Get(), OSSL_PKEY_PARAM_PRIV_KEY, &scalar) != 1) {
    return CryptoStatus::kFailed;
  }
  d.Reset(scalar);
  if (BN_bn2binpad(d.Get(), privateKey.data(), kP256FieldBytes) != kP256FieldBytes) {
    return CryptoStatus::kFailed;
  }
  std::memcpy(privateKey.data() + kP256FieldBytes, encoded + 1, kP256PublicKeyBytes);
  return CryptoStatus::kOk;
}
