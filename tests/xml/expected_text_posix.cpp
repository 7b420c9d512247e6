// Expected element texts on POSIX: UTF-8 (POSIX).
#include "expected_text.h"

const char kVersionWord[] = "Versi\xC3\xB3n";
const char kEuroPrice[] = "5 \xE2\x82\xAC";
