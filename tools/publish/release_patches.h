// Planning the patches of a delta release: each file of the release is looked for in the
// directories of earlier releases, and a patch against the copy found is kept when it is small
// enough to be worth a till's while. Made and checked in memory, before anything is written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "publish/release_plan.h"

// A patch is published only when it is at most this share of its file's bytes (one eighth): its
// document (the patch as hexadecimal text, which gzip brings back to about 1.15 times the patch)
// then costs at most about 0.14 of the file's bytes on the wire, against 0.24 to 0.45 for the
// file's own gzip'd document (the project's executables), so a till whose patch fails has paid at
// most about half as much again before the full document comes.
constexpr std::uint64_t kPatchShareDivisor = 8;

// Where a file of `release` was shipped under an earlier release's directory `previousDir`:
// a component at its destination, the main executable under its source's file name, a library
// release's file under its destination's file name.
std::string PreviousFilePath(const std::string& previousDir, const ReleaseFile& file);

// Gives each file of `release` the smallest patch against its copy in `previousDirs` (see
// PreviousFilePath) that is within kPatchShareDivisor and applies back to the file byte for byte.
// Returns every problem found (an unreadable file, an address that cannot be made).
std::vector<std::string> PlanPatches(const std::vector<std::string>& previousDirs,
                                     const std::string& baseUrl, Release& release);
