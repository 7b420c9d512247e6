// Owners of POSIX handles shared by the POSIX platform files.
#pragma once

#include <unistd.h>

#include "common/unique_handle.h"

struct FdTraits {
  using Handle = int;
  static Handle Invalid() { return -1; }
  static void Close(Handle fd) { ::close(fd); }
};
using UniqueFd = UniqueHandle<FdTraits>;
