/* The benchmark's reference decoder: reads a file document on standard input as it arrives, writes
   the bytes of its fichero text into a temporary file beside DEST, fsyncs it and renames it over
   DEST. The least a streaming install must do; no XML checks. Linux.
     hex_decode DEST            one document on standard input
     hex_decode --many          lines "DOCUMENT DEST" on standard input: each document file in turn */
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "fichero_scan.h"

static int WriteToFd(void* target, const unsigned char* data, size_t length) {
  return write(*(int*)target, data, length) == (ssize_t)length;
}

/* Decodes the document read from `input` into DEST, as described above; 0 when done. */
static int DecodeInto(int input, const char* dest) {
  static char in[kScanBlock];
  static struct FicheroScan scan;
  char temporary[4096];
  if (snprintf(temporary, sizeof temporary, "%s.bench-new", dest) >= (int)sizeof temporary)
    return 2;
  int fd = open(temporary, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return 1;
  ScanStart(&scan, WriteToFd, &fd);
  ssize_t got;
  while (!scan.done && (got = read(input, in, sizeof in)) > 0) {
    if (!ScanBytes(&scan, in, (size_t)got)) return 1;
  }
  while (read(input, in, sizeof in) > 0) {
  }
  if (!ScanFinish(&scan) || fsync(fd) != 0 || close(fd) != 0) return 1;
  return rename(temporary, dest) == 0 && scan.done ? 0 : 1;
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
