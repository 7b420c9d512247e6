// Narrow texts as each target's XML backend hands them out: the ANSI code page (Windows-1252)
// on Windows, UTF-8 on POSIX. Defined in expected_text_win32.cpp / expected_text_posix.cpp.
#pragma once

// "Versión" (U+00F3).
extern const char kVersionWord[];
// "5 €" (U+20AC, which Windows-1252 holds as 0x80 and ISO-8859-1 does not hold at all).
extern const char kEuroPrice[];
