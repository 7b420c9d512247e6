// The one-call SHA-256, the same over either platform's incremental hash.
#include "crypto/crypto.h"

bool ComputeSha256(const void* data, std::size_t length, Sha256Digest& digest) {
  Sha256 hash;
  return hash.Update(data, length) && hash.Final(digest);
}
