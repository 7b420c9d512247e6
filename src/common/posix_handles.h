// Owners of POSIX handles shared by the POSIX platform files.
#pragma once

#include <iconv.h>
#include <unistd.h>

#include "common/unique_handle.h"

struct FdTraits {
  using Handle = int;
  static Handle Invalid() { return -1; }
  static void Close(Handle fd) { ::close(fd); }
};
using UniqueFd = UniqueHandle<FdTraits>;

struct IconvTraits {
  using Handle = iconv_t;
  // iconv_open reports failure as (iconv_t)-1: the cast is the interface.
  static Handle Invalid() {
    return reinterpret_cast<iconv_t>(-1);  // NOLINT(performance-no-int-to-ptr)
  }
  static void Close(Handle handle) { iconv_close(handle); }
};
using UniqueIconv = UniqueHandle<IconvTraits>;
