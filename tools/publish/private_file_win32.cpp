// Private key files on Windows: created new (never over an existing file) through the wide API.
// The file takes the protection of its folder, as files a user makes always do.
#include <windows.h>

#include "common/win32_handles.h"
#include "publish/private_file.h"

namespace {

std::wstring Wide(const std::string& text) {
  const int length = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &wide[0], length);
  wide.resize(static_cast<std::size_t>(length) - 1);
  return wide;
}

}  // namespace

std::string WriteNewPrivateFile(const std::string& path, const std::string& text) {
  const std::wstring widePath = Wide(path);
  UniqueFileHandle file(CreateFileW(widePath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return "cannot create " + path + " (error " + std::to_string(GetLastError()) + ")";
  DWORD written = 0;
  const BOOL ok =
      WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
      written == text.size() && FlushFileBuffers(file.Get());
  if (ok) return std::string();
  std::string error = "cannot write " + path + " (error " + std::to_string(GetLastError()) + ")";
  file.Reset();
  DeleteFileW(widePath.c_str());
  return error;
}
