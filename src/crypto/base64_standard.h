// The platform's standard base64 encoder, which base64url is mapped from (base64url.cpp).
// Windows: CryptBinaryToStringA (crypto_bcrypt.cpp); POSIX: EVP_EncodeBlock (crypto_libcrypto.cpp).
#pragma once

#include <cstddef>
#include <string>

// `length` bytes as standard base64 (RFC 4648 section 4) with "=" padding and no line breaks.
// Empty when the encoder failed or `length` is 0.
std::string EncodeBase64Standard(const unsigned char* data, std::size_t length);
