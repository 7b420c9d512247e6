// POSIX: the engine reads UTF-8, and terminals take UTF-8; nothing to convert.
#include "publish/native_text.h"

bool Utf8ToEngineText(const std::string& text, std::string& engineText) {
  engineText = text;
  return true;
}

std::string EngineTextToUtf8(const std::string& engineText) { return engineText; }

void WriteConsoleText(std::FILE* stream, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stream);
}
