/* The benchmark's reference program under Wine: fetches one file document with WinINet, decodes
   the fichero text as it arrives into a temporary file beside DEST, flushes it and moves it over
   DEST. The least the updater must do on Windows; no XML checks. Windows. */
#include <windows.h>
#include <wininet.h>

#include <stdio.h>

enum { kChunk = 1 << 16 };

static int Digit(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

int main(int argc, char** argv) {
  static char in[kChunk];
  static unsigned char out[kChunk];
  static const char kOpen[] = "<fichero>";
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
  size_t matched = 0, used = 0;
  int inside = 0, done = 0, high = -1;
  DWORD got = 0, written = 0;
  while (InternetReadFile(request, in, sizeof in, &got) && got > 0) {
    for (DWORD i = 0; i < got && !done; ++i) {
      if (!inside) {
        matched = in[i] == kOpen[matched] ? matched + 1 : (in[i] == '<');
        inside = matched == sizeof kOpen - 1;
        continue;
      }
      int value = Digit((unsigned char)in[i]);
      if (value < 0) {
        done = in[i] == '<';
        continue;
      }
      if (high < 0) {
        high = value;
        continue;
      }
      out[used++] = (unsigned char)(high << 4 | value);
      high = -1;
      if (used == sizeof out) {
        if (!WriteFile(file, out, (DWORD)used, &written, NULL)) return 1;
        used = 0;
      }
    }
  }
  if (!WriteFile(file, out, (DWORD)used, &written, NULL) || !FlushFileBuffers(file)) return 1;
  CloseHandle(file);
  InternetCloseHandle(request);
  InternetCloseHandle(session);
  return MoveFileExA(temporary, argv[2], MOVEFILE_REPLACE_EXISTING) && done ? 0 : 1;
}
