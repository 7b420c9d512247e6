// The verify command's check of a delta release: every patch the manifest offers is applied to
// its base, found by digest among the files of earlier releases, and its result compared with
// the digest the manifest promises.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "update/patch_offer.h"

// The regular files under `directories` (recursively) by their "S256:..." digest.
std::map<std::string, std::string> IndexPreviousFiles(const std::vector<std::string>& directories);

// The check of the patch `offer` the engine read for a file: empty when none is offered, else
// one line for the report. `failed` is set when the patch does not apply (or, with `bases`
// given, no base was found for it).
std::string CheckOfferedPatch(const PatchOffer& offer,
                              const std::map<std::string, std::string>& bases, bool checkBases,
                              bool& failed);
