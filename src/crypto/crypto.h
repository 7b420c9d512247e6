// The cryptography releases are checked with: SHA-256, ECDSA P-256 verification with SHA-256,
// and the base64url form of digests (signing and key generation are the release tool's,
// tools/publish/release_signing.h). Windows: CNG (crypto_bcrypt.cpp); POSIX: OpenSSL's libcrypto
// (crypto_libcrypto.cpp). Keys and signatures cross this interface only in fixed raw forms, so a
// signature made by one back end verifies on the other.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

constexpr std::size_t kSha256Bytes = 32;
// A P-256 coordinate or scalar, big-endian.
constexpr std::size_t kP256FieldBytes = 32;
// A public key: the point's X then Y coordinate (the uncompressed point without its 0x04 prefix).
constexpr std::size_t kP256PublicKeyBytes = 2 * kP256FieldBytes;
// A private key: the scalar d followed by its public key, so both back ends import it whole.
constexpr std::size_t kP256PrivateKeyBytes = kP256FieldBytes + kP256PublicKeyBytes;
// A signature: r then s, each big-endian in 32 bytes (not DER).
constexpr std::size_t kP256SignatureBytes = 2 * kP256FieldBytes;

using Sha256Digest = std::array<unsigned char, kSha256Bytes>;
using P256PublicKey = std::array<unsigned char, kP256PublicKeyBytes>;
using P256PrivateKey = std::array<unsigned char, kP256PrivateKeyBytes>;
using P256Signature = std::array<unsigned char, kP256SignatureBytes>;

enum class CryptoStatus {
  kOk,
  kBadKey,        // the key is not a point on the curve, or not a usable private key
  kBadSignature,  // well-formed input whose signature does not verify
  kFailed,        // the platform's library failed (out of memory, provider missing)
};

// An incremental SHA-256: Update any number of times, then Final once. A digest can be formed
// chunk by chunk as bytes arrive, before anything is written.
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  // Adds `length` bytes. False when the hash could not be started or updated; the object then
  // stays failed and Final reports it.
  bool Update(const void* data, std::size_t length);
  // Writes the digest of everything added into `digest`. False (digest untouched) when any step
  // failed or Final was already called.
  bool Final(Sha256Digest& digest);

  struct Impl;  // defined by the back end

 private:
  std::unique_ptr<Impl> m_impl;
};

// The SHA-256 of `length` bytes in one call. False when the platform's library failed.
bool ComputeSha256(const void* data, std::size_t length, Sha256Digest& digest);

// Checks that `signature` is a valid ECDSA P-256 signature by `key` over the SHA-256 of `message`.
// kOk only then; otherwise kBadSignature, or kBadKey for a key that is not on the curve where the
// platform checks keys on import (libcrypto and Windows do; Wine's CNG does not, and such a key
// then fails as kBadSignature). Either way a key off the curve never verifies anything.
CryptoStatus VerifyP256(const P256PublicKey& key, const void* message, std::size_t length,
                        const P256Signature& signature);

// The public half of a private key (its last kP256PublicKeyBytes bytes).
P256PublicKey PublicKeyOf(const P256PrivateKey& privateKey);

// `length` bytes as unpadded base64url (RFC 4648 section 5: "-" and "_", no "="). Empty when
// the platform's encoder failed.
std::string EncodeBase64Url(const unsigned char* data, std::size_t length);
