// Log texts on Windows: narrow texts are in the ANSI code page, Windows-1252, already (Windows).
#include "log/log_text.h"

std::string ToLogEncoding(const char* text) { return text != nullptr ? text : ""; }
