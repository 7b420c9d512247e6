// The XML the updater reads: the manifest of a planned release (the frame of a file document is
// the updater's own, in update/hex_decoder.h).
#pragma once

#include <string>

#include "publish/release_plan.h"

// The application or library manifest of `release`, in UTF-8 with its encoding declared, texts
// escaped. Elements in the order the updater reads them.
std::string BuildManifestText(const Release& release);
