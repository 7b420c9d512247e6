/* The benchmark's reference decoder: reads a file document on standard input as it arrives, writes
   the bytes of its fichero text into a temporary file beside DEST, fsyncs it and renames it over
   DEST. The least a streaming install must do; no XML checks. Linux.
     hex_decode DEST            one document on standard input
     hex_decode --many          lines "DOCUMENT DEST" on standard input: each document file in turn */
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

/* Decodes the document read from `input` into DEST, as described above; 0 when done. */
static int DecodeInto(int input, const char* dest) {
  static char in[kChunk];
  static unsigned char out[kChunk];
  static const char kOpen[] = "<fichero>";
  char temporary[4096];
  if (snprintf(temporary, sizeof temporary, "%s.bench-new", dest) >= (int)sizeof temporary)
    return 2;
  int fd = open(temporary, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return 1;
  size_t matched = 0, used = 0;
  int inside = 0, done = 0, high = -1;
  ssize_t got;
  while (!done && (got = read(input, in, sizeof in)) > 0) {
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
  while (read(input, in, sizeof in) > 0) {
  }
  if (write(fd, out, used) != (ssize_t)used || fsync(fd) != 0 || close(fd) != 0) return 1;
  return rename(temporary, dest) == 0 && done ? 0 : 1;
}

int main(int argc, char** argv) {
  if (argc == 2 && strcmp(argv[1], "--many") != 0) return DecodeInto(0, argv[1]);
  if (argc != 2) return 2;
  char document[4096], dest[4096];
  while (scanf("%4095s %4095s", document, dest) == 2) {
    int input = open(document, O_RDONLY);
    if (input < 0) return 1;
    int result = DecodeInto(input, dest);
    close(input);
    if (result != 0) return result;
  }
  return 0;
}
