/* The benchmark's reference decoder: reads a file document on standard input as it arrives, writes
   the bytes of its fichero text into a temporary file beside DEST, fsyncs it and renames it over
   DEST. The least a streaming install must do; no XML checks. Linux. */
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

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
  char temporary[4096];
  if (argc != 2 ||
      snprintf(temporary, sizeof temporary, "%s.bench-new", argv[1]) >= (int)sizeof temporary)
    return 2;
  int fd = open(temporary, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return 1;
  size_t matched = 0, used = 0;
  int inside = 0, done = 0, high = -1;
  ssize_t got;
  while (!done && (got = read(0, in, sizeof in)) > 0) {
    for (ssize_t i = 0; i < got && !done; ++i) {
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
        if (write(fd, out, used) != (ssize_t)used) return 1;
        used = 0;
      }
    }
  }
  while (read(0, in, sizeof in) > 0) {
  }
  if (write(fd, out, used) != (ssize_t)used || fsync(fd) != 0 || close(fd) != 0) return 1;
  return rename(temporary, argv[1]) == 0 && done ? 0 : 1;
}
