// Making release keys and signatures, in the release tool only: the updater links verification
// alone. ECDSA P-256 signing and key generation on CNG (p256_signing_bcrypt.cpp, Windows) or
// libcrypto (p256_signing_libcrypto.cpp, POSIX); signature files (release_signing.cpp, portable).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "crypto/crypto.h"

// Signs the SHA-256 of `message` with `key` into `signature` (randomised, so two signatures of one
// message differ; both verify). kBadKey for a key whose halves do not match.
CryptoStatus SignP256(const P256PrivateKey& key, const void* message, std::size_t length,
                      P256Signature& signature);

// Makes a fresh P-256 key pair from the platform's random source.
CryptoStatus GenerateP256(P256PrivateKey& privateKey);

// Signs `manifest` with `key` until `expires` into the text of a signature file (the format of
// update/release_signature.h). kOk, with `signatureFile` set, or why not.
CryptoStatus BuildSignatureFile(const P256PrivateKey& key, std::int64_t expires,
                                const std::string& manifest, std::string& signatureFile);
