// Owners of Win32 handles shared by the Windows platform files (and their tests).
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "common/unique_handle.h"

struct RegKeyTraits {
  using Handle = HKEY;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle key) { ::RegCloseKey(key); }
};
using UniqueRegKey = UniqueHandle<RegKeyTraits>;

// Kernel objects whose failure value is null (mutexes, processes, threads).
struct KernelHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle handle) { ::CloseHandle(handle); }
};
using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;

// Files, whose failure value is INVALID_HANDLE_VALUE.
struct FileHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Handle handle) { ::CloseHandle(handle); }
};
using UniqueFileHandle = UniqueHandle<FileHandleTraits>;

// COM strings.
struct BstrTraits {
  using Handle = BSTR;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle handle) { ::SysFreeString(handle); }
};
using UniqueBstr = UniqueHandle<BstrTraits>;
