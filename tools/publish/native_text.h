// Texts between the tool (UTF-8) and the update engine, which works in the system's narrow code
// page: the ANSI code page on Windows (native_text_win32.cpp), UTF-8 on POSIX
// (native_text_posix.cpp); and the tool's console output.
#pragma once

#include <cstdio>
#include <string>

// Converts UTF-8 `text` to the engine's code page. Returns false when some character has no
// exact form there (the engine would read a different text).
bool Utf8ToEngineText(const std::string& text, std::string& engineText);

// Converts a text the engine produced (an address, a destination, a version) to UTF-8.
std::string EngineTextToUtf8(const std::string& engineText);

// Writes UTF-8 `text` to `stream` so that a console shows it as written.
void WriteConsoleText(std::FILE* stream, const std::string& text);
