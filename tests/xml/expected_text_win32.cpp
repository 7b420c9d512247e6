// Expected element texts on Windows: the ANSI code page, Windows-1252 (Windows).
#include "expected_text.h"

const char kVersionWord[] = "Versi\xF3n";
const char kEuroPrice[] = "5 \x80";
