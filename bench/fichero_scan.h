/* What the two reference programs share: the fichero text of a file document decoded as its bytes
   arrive, without any XML checks: the least a streaming install must do. */
#ifndef MUBAX_BENCH_FICHERO_SCAN_H
#define MUBAX_BENCH_FICHERO_SCAN_H

#include <stddef.h>

enum { kScanBlock = 1 << 16 };

/* Takes each full block of decoded bytes, and the last one; nonzero when it was written. */
typedef int (*ScanWrite)(void* target, const unsigned char* data, size_t length);

struct FicheroScan {
  size_t matched, used;
  int inside, done, high;
  ScanWrite write;
  void* target;
  unsigned char out[kScanBlock];
};

static inline void ScanStart(struct FicheroScan* scan, ScanWrite write, void* target) {
  scan->matched = scan->used = 0;
  scan->inside = scan->done = 0;
  scan->high = -1;
  scan->write = write;
  scan->target = target;
}

static inline int ScanDigit(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

/* Decodes the next `length` bytes of the document; zero when a block could not be written. */
static inline int ScanBytes(struct FicheroScan* scan, const char* in, size_t length) {
  static const char kOpen[] = "<fichero>";
  for (size_t i = 0; i < length && !scan->done; ++i) {
    if (!scan->inside) {
      scan->matched = in[i] == kOpen[scan->matched] ? scan->matched + 1 : (in[i] == '<');
      scan->inside = scan->matched == sizeof kOpen - 1;
      continue;
    }
    int value = ScanDigit((unsigned char)in[i]);
    if (value < 0) {
      scan->done = in[i] == '<';
      continue;
    }
    if (scan->high < 0) {
      scan->high = value;
      continue;
    }
    scan->out[scan->used++] = (unsigned char)(scan->high << 4 | value);
    scan->high = -1;
    if (scan->used == sizeof scan->out) {
      if (!scan->write(scan->target, scan->out, scan->used)) return 0;
      scan->used = 0;
    }
  }
  return 1;
}

/* Writes the last block; nonzero when it was written. `done` tells whether the text was closed. */
static inline int ScanFinish(struct FicheroScan* scan) {
  return scan->write(scan->target, scan->out, scan->used);
}

#endif
