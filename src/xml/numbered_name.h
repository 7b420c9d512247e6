// Numbered element names ("urlcomp10"): a stem followed by a decimal number.
#pragma once

// The number `name` carries after `stem`: 1 or more, written without sign or leading zeros and no
// larger than the largest int. 0 when `name` is not such a name.
int NumberAfterStem(const char* name, const char* stem);
