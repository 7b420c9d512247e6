// The libcrypto handles and the P-256 key import the crypto service's verifier and the release
// tool's signer share. POSIX only; private to src/crypto and tools/publish.
#pragma once

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include <cstddef>

#include "common/unique_handle.h"
#include "crypto/crypto.h"

template <typename T, void (*Free)(T*)>
struct OpenSslTraits {
  using Handle = T*;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle handle) { Free(handle); }
};
using UniqueMdContext = UniqueHandle<OpenSslTraits<EVP_MD_CTX, EVP_MD_CTX_free>>;
using UniqueKey = UniqueHandle<OpenSslTraits<EVP_PKEY, EVP_PKEY_free>>;
using UniqueKeyContext = UniqueHandle<OpenSslTraits<EVP_PKEY_CTX, EVP_PKEY_CTX_free>>;
using UniqueBignum = UniqueHandle<OpenSslTraits<BIGNUM, BN_clear_free>>;
using UniqueEcdsaSig = UniqueHandle<OpenSslTraits<ECDSA_SIG, ECDSA_SIG_free>>;
using UniqueParamBuilder = UniqueHandle<OpenSslTraits<OSSL_PARAM_BLD, OSSL_PARAM_BLD_free>>;
using UniqueParams = UniqueHandle<OpenSslTraits<OSSL_PARAM, OSSL_PARAM_free>>;

constexpr char kCurveName[] = "prime256v1";  // as libcrypto names P-256
constexpr unsigned char kUncompressedPoint = 0x04;
constexpr std::size_t kEncodedPointBytes = 1 + kP256PublicKeyBytes;

// A P-256 key from its raw public point and, when `scalar` is given, its private scalar. Null when
// the point is not on the curve or (private keys) the scalar does not belong to the point.
UniqueKey ImportP256Key(const unsigned char* point, const unsigned char* scalar);
