// Staged rollout: a manifest may offer its release to a share of the tills only. Each till takes
// a stable bucket from its machine identity and the offered version, so its answer holds for one
// release and another release picks other tills. Portable.
#pragma once

#include <string>

// The share a manifest without the element offers to: every till, as before there was one.
constexpr int kFullRolloutPercent = 100;
// Buckets a till can fall into: 0 .. kRolloutBuckets - 1, one per percent of the share.
constexpr int kRolloutBuckets = 100;

// Reads the text of the rollout element: a whole number 0 to 100, white space at its ends
// allowed. False (`percent` untouched) for anything else.
bool ParseRolloutPercent(const char* text, int& percent);

// The till's bucket for `offeredVersion`: the first eight bytes of SHA-256(identity, a newline,
// the version), big-endian, modulo kRolloutBuckets. -1 when the identity is empty or the hash
// failed.
int RolloutBucket(const std::string& identity, const char* offeredVersion);

// Whether a till in `bucket` takes a release offered to `percent` % of the tills. A till without
// a bucket (-1) takes only a release offered to every till.
bool TakesRollout(int bucket, int percent);
