// The 8-bit encodings Windows knows by name: MLang's charset table, the one its own web and XML
// components read declarations with (Windows).
#include <windows.h>
#include <objbase.h>
#include <mlang.h>
#include <wrl/client.h>

#include <cstring>

#include "common/win32_handles.h"
#include "xml/text_encoding.h"

using Microsoft::WRL::ComPtr;

namespace {

// mlang.h names the interface without its identifier, and the import libraries lack it.
const IID kMultiLanguage2Iid = {
    0xDCCFC164, 0x2B38, 0x11D2, {0xB7, 0xEC, 0x00, 0xC0, 0x4F, 0x8F, 0x5D, 0x9A}};

constexpr int kUnmappedByte = -1;
constexpr UINT kSingleByte = 1;

// The code page MLang gives for the charset `name`, or 0 when it knows none.
UINT CodePageOf(const char* name) {
  const int wideLength = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, -1, nullptr, 0);
  if (wideLength <= 1) return 0;
  UniqueBstr charset(SysAllocStringLen(nullptr, static_cast<UINT>(wideLength - 1)));
  if (!charset || MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, -1, charset.Get(),
                                      wideLength) != wideLength) {
    return 0;
  }
  // The process normally initialised COM already; a second initialisation is harmless.
  CoInitialize(nullptr);
  ComPtr<IMultiLanguage2> languages;
  if (FAILED(CoCreateInstance(CLSID_CMultiLanguage, nullptr, CLSCTX_INPROC_SERVER,
                              kMultiLanguage2Iid,
                              reinterpret_cast<void**>(languages.GetAddressOf())))) {
    return 0;
  }
  MIMECSETINFO info;
  std::memset(&info, 0, sizeof info);
  if (languages->GetCharsetInfo(charset.Get(), &info) != S_OK) return 0;
  // The Internet encoding is the one a declaration means ("iso-8859-1" is not code page 1252).
  return info.uiInternetEncoding;
}

}  // namespace

bool EightBitCodePoints(const char* name, int (&codePoints)[kBytesInEightBitEncoding]) {
  const UINT codePage = CodePageOf(name);
  CPINFO pageInfo;
  if (codePage == 0 || !GetCPInfo(codePage, &pageInfo) || pageInfo.MaxCharSize != kSingleByte) {
    return false;
  }
  for (int value = 0; value < kBytesInEightBitEncoding; ++value) {
    const char in = static_cast<char>(value);
    wchar_t out = 0;
    codePoints[value] = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, &in, 1, &out, 1) == 1
                            ? static_cast<int>(out)
                            : kUnmappedByte;
  }
  return true;
}
