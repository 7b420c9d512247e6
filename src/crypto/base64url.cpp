// base64url from the platform's standard base64: the alphabets differ in two characters only,
// and the digests it carries are a fixed length, so the padding says nothing.
#include "crypto/base64_standard.h"
#include "crypto/crypto.h"

std::string EncodeBase64Url(const unsigned char* data, std::size_t length) {
  std::string text = EncodeBase64Standard(data, length);
  while (!text.empty() && text.back() == '=') text.pop_back();
  for (char& c : text) {
    if (c == '+') c = '-';
    if (c == '/') c = '_';
  }
  return text;
}

P256PublicKey PublicKeyOf(const P256PrivateKey& privateKey) {
  P256PublicKey key{};
  for (std::size_t i = 0; i < key.size(); ++i) key[i] = privateKey[kP256FieldBytes + i];
  return key;
}
