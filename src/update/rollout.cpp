// Staged rollout: the percentage text and the till's bucket.
#include "update/rollout.h"

#include <cstdint>

#include "crypto/crypto.h"

namespace {

// Bytes of the digest read as the bucket's number: far more than 100 values, so the modulo's
// bias is below one in a trillion.
constexpr std::size_t kBucketDigestBytes = 8;
constexpr int kDecimalBase = 10;

bool IsEdgeSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

bool ParseRolloutPercent(const char* text, int& percent) {
  if (text == nullptr) return false;
  const char* at = text;
  while (IsEdgeSpace(*at)) ++at;
  int value = 0;
  int digits = 0;
  for (; *at >= '0' && *at <= '9'; ++at, ++digits) {
    value = value * kDecimalBase + (*at - '0');
    if (value > kFullRolloutPercent) return false;
  }
  while (IsEdgeSpace(*at)) ++at;
  if (digits == 0 || *at != '\0') return false;
  percent = value;
  return true;
}

int RolloutBucket(const std::string& identity, const char* offeredVersion) {
  if (identity.empty() || offeredVersion == nullptr) return -1;
  // The separator keeps ("ab", "c") and ("a", "bc") apart.
  const std::string input = identity + '\n' + offeredVersion;
  Sha256Digest digest{};
  if (!ComputeSha256(input.data(), input.size(), digest)) return -1;
  std::uint64_t number = 0;
  for (std::size_t i = 0; i < kBucketDigestBytes; ++i) number = (number << 8) | digest[i];
  return static_cast<int>(number % kRolloutBuckets);
}

bool TakesRollout(int bucket, int percent) {
  if (percent >= kFullRolloutPercent) return true;
  return bucket >= 0 && bucket < percent;
}
