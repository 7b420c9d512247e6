// The crypto service on OpenSSL's libcrypto (POSIX). Keys enter through OSSL_PARAM arrays in
// their raw forms; ECDSA signatures are converted from the raw r||s both back ends exchange to
// the DER libcrypto speaks. Signing and key generation are the release tool's.
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include <climits>
#include <cstring>
#include <vector>

#include "common/unique_handle.h"
#include "crypto/base64_standard.h"
#include "crypto/crypto.h"
#include "crypto/libcrypto_keys.h"

namespace {

// r||s as the DER sequence libcrypto verifies; empty when the numbers cannot be formed.
std::vector<unsigned char> SignatureToDer(const P256Signature& signature) {
  UniqueEcdsaSig sig(ECDSA_SIG_new());
  UniqueBignum r(BN_bin2bn(signature.data(), kP256FieldBytes, nullptr));
  UniqueBignum s(BN_bin2bn(signature.data() + kP256FieldBytes, kP256FieldBytes, nullptr));
  if (!sig || !r || !s || ECDSA_SIG_set0(sig.Get(), r.Get(), s.Get()) != 1) return {};
  r.Release();  // owned by `sig` from here
  s.Release();
  unsigned char* der = nullptr;
  const int length = i2d_ECDSA_SIG(sig.Get(), &der);
  if (length <= 0 || der == nullptr) return {};
  std::vector<unsigned char> bytes(der, der + length);
  OPENSSL_free(der);
  return bytes;
}

}  // namespace

UniqueKey ImportP256Key(const unsigned char* point, const unsigned char* scalar) {
  unsigned char encoded[kEncodedPointBytes];
  encoded[0] = kUncompressedPoint;
  std::memcpy(encoded + 1, point, kP256PublicKeyBytes);
  UniqueParamBuilder builder(OSSL_PARAM_BLD_new());
  UniqueBignum d(scalar != nullptr ? BN_bin2bn(scalar, kP256FieldBytes, nullptr) : nullptr);
  if (!builder || (scalar != nullptr && !d) ||
      OSSL_PARAM_BLD_push_utf8_string(builder.Get(), OSSL_PKEY_PARAM_GROUP_NAME, kCurveName, 0) !=
          1 ||
      OSSL_PARAM_BLD_push_octet_string(builder.Get(), OSSL_PKEY_PARAM_PUB_KEY, encoded,
                                       sizeof(encoded)) != 1 ||
      (d && OSSL_PARAM_BLD_push_BN(builder.Get(), OSSL_PKEY_PARAM_PRIV_KEY, d.Get()) != 1)) {
    return UniqueKey();
  }
  UniqueParams params(OSSL_PARAM_BLD_to_param(builder.Get()));
  UniqueKeyContext context(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
  if (!params || !context || EVP_PKEY_fromdata_init(context.Get()) != 1) return UniqueKey();
  UniqueKey key;
  const int selection = scalar != nullptr ? EVP_PKEY_KEYPAIR : EVP_PKEY_PUBLIC_KEY;
  if (EVP_PKEY_fromdata(context.Get(), key.Put(), selection, params.Get()) != 1) {
    return UniqueKey();
  }
  if (scalar != nullptr) {
    // A private key file whose halves do not match would sign what nobody can verify.
    UniqueKeyContext check(EVP_PKEY_CTX_new_from_pkey(nullptr, key.Get(), nullptr));
    if (!check || EVP_PKEY_pairwise_check(check.Get()) != 1) return UniqueKey();
  }
  return key;
}

struct Sha256::Impl {
  UniqueMdContext context;
  bool failed = false;
};

Sha256::Sha256() : m_impl(new Impl) {
  m_impl->context.Reset(EVP_MD_CTX_new());
  m_impl->failed =
      !m_impl->context || EVP_DigestInit_ex(m_impl->context.Get(), EVP_sha256(), nullptr) != 1;
}

Sha256::~Sha256() = default;

bool Sha256::Update(const void* data, std::size_t length) {
  if (m_impl->failed) return false;
  if (length > 0 && EVP_DigestUpdate(m_impl->context.Get(), data, length) != 1) {
    m_impl->failed = true;
  }
  return !m_impl->failed;
}

bool Sha256::Final(Sha256Digest& digest) {
  if (m_impl->failed) return false;
  Sha256Digest out{};
  unsigned int length = 0;
  // A second Final is refused: the context is spent.
  m_impl->failed = true;
  if (EVP_DigestFinal_ex(m_impl->context.Get(), out.data(), &length) != 1 ||
      length != kSha256Bytes) {
    return false;
  }
  digest = out;
  return true;
}

CryptoStatus VerifyP256(const P256PublicKey& key, const void* message, std::size_t length,
                        const P256Signature& signature) {
  const UniqueKey imported = ImportP256Key(key.data(), nullptr);
  if (!imported) return CryptoStatus::kBadKey;
  const std::vector<unsigned char> der = SignatureToDer(signature);
  UniqueMdContext context(EVP_MD_CTX_new());
  if (der.empty() || !context) return CryptoStatus::kFailed;
  if (EVP_DigestVerifyInit(context.Get(), nullptr, EVP_sha256(), nullptr, imported.Get()) != 1) {
    return CryptoStatus::kFailed;
  }
  const int verified = EVP_DigestVerify(context.Get(), der.data(), der.size(),
                                        static_cast<const unsigned char*>(message), length);
  return verified == 1 ? CryptoStatus::kOk : CryptoStatus::kBadSignature;
}

std::string EncodeBase64Standard(const unsigned char* data, std::size_t length) {
  if (length == 0 || length > INT_MAX / 4) return std::string();
  std::string text(4 * ((length + 2) / 3) + 1, '\0');
  const int written =
      EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&text[0]), data, static_cast<int>(length));
  text.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
  return text;
}
