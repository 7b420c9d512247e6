// The crypto service on CNG (Windows): bcrypt's SHA-256 and ECDSA P-256 verification, whose key
// blobs and raw r||s signatures are already the forms this interface exchanges; crypt32's base64.
// Signing and key generation are the release tool's.
#include <windows.h>
#include <bcrypt.h>
#include <wincrypt.h>

#include <climits>
#include <cstring>
#include <vector>

#include "common/unique_handle.h"
#include "crypto/base64_standard.h"
#include "crypto/bcrypt_keys.h"
#include "crypto/crypto.h"

namespace {

struct HashTraits {
  using Handle = BCRYPT_HASH_HANDLE;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle handle) { BCryptDestroyHash(handle); }
};
using UniqueHash = UniqueHandle<HashTraits>;

}  // namespace

UniqueAlgorithm OpenAlgorithm(LPCWSTR name) {
  UniqueAlgorithm algorithm;
  if (!Succeeded(BCryptOpenAlgorithmProvider(algorithm.Put(), name, nullptr, 0))) {
    return UniqueAlgorithm();
  }
  return algorithm;
}

UniqueKey ImportP256Key(BCRYPT_ALG_HANDLE algorithm, const unsigned char* point,
                        const unsigned char* scalar) {
  std::vector<unsigned char> blob(sizeof(BCRYPT_ECCKEY_BLOB) + kP256PrivateKeyBytes);
  BCRYPT_ECCKEY_BLOB header{};
  header.dwMagic =
      scalar != nullptr ? BCRYPT_ECDSA_PRIVATE_P256_MAGIC : BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
  header.cbKey = kP256FieldBytes;
  std::memcpy(blob.data(), &header, sizeof(header));
  std::memcpy(blob.data() + sizeof(header), point, kP256PublicKeyBytes);
  std::size_t blobLength = sizeof(header) + kP256PublicKeyBytes;
  if (scalar != nullptr) {
    std::memcpy(blob.data() + blobLength, scalar, kP256FieldBytes);
    blobLength += kP256FieldBytes;
  }
  UniqueKey key;
  const LPCWSTR type = scalar != nullptr ? BCRYPT_ECCPRIVATE_BLOB : BCRYPT_ECCPUBLIC_BLOB;
  const NTSTATUS imported = BCryptImportKeyPair(algorithm, nullptr, type, key.Put(), blob.data(),
                                                static_cast<ULONG>(blobLength), 0);
  SecureZeroMemory(blob.data(), blob.size());
  if (!Succeeded(imported)) return UniqueKey();
  return key;
}

struct Sha256::Impl {
  UniqueAlgorithm algorithm;
  std::vector<unsigned char> object;  // the hash's state, which CNG keeps in caller memory
  UniqueHash hash;
  bool failed = false;
};

Sha256::Sha256() : m_impl(new Impl) {
  Impl& impl = *m_impl;
  impl.algorithm = OpenAlgorithm(BCRYPT_SHA256_ALGORITHM);
  DWORD objectLength = 0;
  ULONG got = 0;
  impl.failed =
      !impl.algorithm || !Succeeded(BCryptGetProperty(impl.algorithm.Get(), BCRYPT_OBJECT_LENGTH,
                                                      reinterpret_cast<PUCHAR>(&objectLength),
                                                      sizeof(objectLength), &got, 0));
  if (impl.failed) return;
  impl.object.resize(objectLength);
  impl.failed = !Succeeded(BCryptCreateHash(impl.algorithm.Get(), impl.hash.Put(),
                                            impl.object.data(), objectLength, nullptr, 0, 0));
}

Sha256::~Sha256() {
  m_impl->hash.Reset();  // before the memory it lives in
}

bool Sha256::Update(const void* data, std::size_t length) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (!m_impl->failed && length > 0) {
    // CNG takes 32-bit lengths: larger inputs go in pieces.
    const ULONG piece = length > ULONG_MAX ? ULONG_MAX : static_cast<ULONG>(length);
    m_impl->failed =
        !Succeeded(BCryptHashData(m_impl->hash.Get(), const_cast<PUCHAR>(bytes), piece, 0));
    bytes += piece;
    length -= piece;
  }
  return !m_impl->failed;
}

bool Sha256::Final(Sha256Digest& digest) {
  if (m_impl->failed) return false;
  Sha256Digest out{};
  m_impl->failed = true;  // the hash is spent whatever happens
  if (!Succeeded(BCryptFinishHash(m_impl->hash.Get(), out.data(), kSha256Bytes, 0))) return false;
  digest = out;
  return true;
}

CryptoStatus VerifyP256(const P256PublicKey& key, const void* message, std::size_t length,
                        const P256Signature& signature) {
  const UniqueAlgorithm algorithm = OpenAlgorithm(BCRYPT_ECDSA_P256_ALGORITHM);
  if (!algorithm) return CryptoStatus::kFailed;
  const UniqueKey imported = ImportP256Key(algorithm.Get(), key.data(), nullptr);
  if (!imported) return CryptoStatus::kBadKey;
  Sha256Digest digest{};
  if (!ComputeSha256(message, length, digest)) return CryptoStatus::kFailed;
  const NTSTATUS verified =
      BCryptVerifySignature(imported.Get(), nullptr, digest.data(), kSha256Bytes,
                            const_cast<PUCHAR>(signature.data()), kP256SignatureBytes, 0);
  return Succeeded(verified) ? CryptoStatus::kOk : CryptoStatus::kBadSignature;
}

std::string EncodeBase64Standard(const unsigned char* data, std::size_t length) {
  if (length == 0 || length > INT_MAX / 4) return std::string();
  const DWORD flags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
  DWORD size = 0;
  if (!CryptBinaryToStringA(data, static_cast<DWORD>(length), flags, nullptr, &size) || size == 0) {
    return std::string();
  }
  std::string text(size, '\0');
  if (!CryptBinaryToStringA(data, static_cast<DWORD>(length), flags, &text[0], &size)) {
    return std::string();
  }
  text.resize(size);  // the count returned excludes the terminator
  // Defensive: some encoders end the text with a line break even when told not to.
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '\0')) {
    text.pop_back();
  }
  return text;
}
