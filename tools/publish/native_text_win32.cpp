// Windows: the engine's texts are in the ANSI code page; a console shows wide text written with
// WriteConsoleW whatever its own code page, while pipes and files receive the UTF-8 bytes.
#include <windows.h>

#include <io.h>

#include "publish/native_text.h"

namespace {

std::wstring ToWide(const std::string& text, UINT codePage, DWORD flags) {
  if (text.empty()) return std::wstring();
  const int size = ::MultiByteToWideChar(codePage, flags, text.data(),
                                         static_cast<int>(text.size()), nullptr, 0);
  if (size <= 0) return std::wstring();
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  ::MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()), &wide[0],
                        size);
  return wide;
}

std::string FromWide(const std::wstring& wide, UINT codePage) {
  if (wide.empty()) return std::string();
  const int size = ::WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()),
                                         nullptr, 0, nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string text(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), &text[0], size,
                        nullptr, nullptr);
  return text;
}

}  // namespace

bool Utf8ToEngineText(const std::string& text, std::string& engineText) {
  if (text.empty()) {
    engineText.clear();
    return true;
  }
  const std::wstring wide = ToWide(text, CP_UTF8, MB_ERR_INVALID_CHARS);
  if (wide.empty()) return false;
  const int size =
      ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(),
                            static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  if (size <= 0) return false;
  std::string narrow(static_cast<std::size_t>(size), '\0');
  BOOL usedDefault = FALSE;
  ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                        &narrow[0], size, nullptr, &usedDefault);
  if (usedDefault) return false;
  engineText.swap(narrow);
  return true;
}

std::string EngineTextToUtf8(const std::string& engineText) {
  return FromWide(ToWide(engineText, CP_ACP, 0), CP_UTF8);
}

void WriteConsoleText(std::FILE* stream, const std::string& text) {
  const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
  DWORD mode = 0;
  if (handle == INVALID_HANDLE_VALUE || !::GetConsoleMode(handle, &mode)) {
    std::fwrite(text.data(), 1, text.size(), stream);
    return;
  }
  std::fflush(stream);
  const std::wstring wide = ToWide(text, CP_UTF8, 0);
  DWORD written = 0;
  ::WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
}
