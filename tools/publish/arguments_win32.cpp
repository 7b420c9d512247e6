// Windows: argv holds the ANSI code page, which loses characters; the wide command line holds
// them all and is converted to UTF-8 here.
#include <windows.h>

#include <shellapi.h>

#include <cstddef>

#include "common/unique_handle.h"
#include "publish/arguments.h"

namespace {

struct LocalMemoryTraits {
  using Handle = LPWSTR*;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle memory) { ::LocalFree(memory); }
};
using UniqueArgumentList = UniqueHandle<LocalMemoryTraits>;

std::string WideToUtf8(const wchar_t* text) {
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return std::string();
  std::string converted(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, -1, &converted[0], size, nullptr, nullptr);
  converted.resize(static_cast<std::size_t>(size) - 1);  // the terminator
  return converted;
}

}  // namespace

std::vector<std::string> GetUtf8Arguments(int argc, char** argv) {
  int count = 0;
  const UniqueArgumentList wide(::CommandLineToArgvW(::GetCommandLineW(), &count));
  if (!wide) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> arguments;
  arguments.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) arguments.push_back(WideToUtf8(wide.Get()[i]));
  return arguments;
}
