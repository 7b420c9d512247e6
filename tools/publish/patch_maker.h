// Making the patch of a delta release: one zstd frame of the new file made with the earlier file
// (its base) as the encoder's prefix, at the strongest level with long-distance matching, within
// the window the updater accepts. Portable (libzstd).
#pragma once

#include <string>

// Makes the patch that turns `base` into `result`, into `patch`. False (with `patch` empty) when
// either file is larger than the updater's window (update/delta_patch.h) or libzstd fails.
bool MakePatch(const std::string& base, const std::string& result, std::string& patch);
