/* The benchmark's reference program under Wine: fetches one file document with WinINet, decodes
   the fichero text as it arrives into a temporary file beside DEST, flushes it and moves it over
   DEST. The least the updater must do on Windows; no XML checks. Windows. */
#include <windows.h>
#include <wininet.h>

#include <stdio.h>

#include "fichero_scan.h"

static int WriteToHandle(void* target, const unsigned char* data, size_t length) {
  DWORD written = 0;
  return WriteFile(*(HANDLE*)target, data, (DWORD)length, &written, NULL) && written == length;
}

int main(int argc, char** argv) {
  static char in[kScanBlock];
  static struct FicheroScan scan;
  char temporary[MAX_PATH + 16];
  if (argc != 3 ||
      snprintf(temporary, sizeof temporary, "%s.bench-new", argv[2]) >= (int)sizeof temporary)
    return 2;
  HINTERNET session = InternetOpenA("bench", INTERNET_OPEN_TYPE_DIRECT, NULL, NULL, 0);
  HINTERNET request = session
                          ? InternetOpenUrlA(session, argv[1], NULL, 0,
                                             INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0)
                          : NULL;
  HANDLE file =
      CreateFileA(temporary, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (!request || file == INVALID_HANDLE_VALUE) return 1;
  ScanStart(&scan, WriteToHandle, &file);
  DWORD got = 0;
  while (InternetReadFile(request, in, sizeof in, &got) && got > 0) {
    if (!ScanBytes(&scan, in, got)) return 1;
  }
  if (!ScanFinish(&scan) || !FlushFileBuffers(file)) return 1;
  CloseHandle(file);
  InternetCloseHandle(request);
  InternetCloseHandle(session);
  return MoveFileExA(temporary, argv[2], MOVEFILE_REPLACE_EXISTING) && scan.done ? 0 : 1;
}
