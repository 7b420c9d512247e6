// The owner of a C stdio stream, shared by the portable code that reads or appends files.
#pragma once

#include <cstdio>

#include "common/unique_handle.h"

struct StdioFileTraits {
  using Handle = std::FILE*;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle file) { std::fclose(file); }
};
using UniqueStdioFile = UniqueHandle<StdioFileTraits>;
