// zlib-made gzip and deflate bodies for the compressed-transfer tests. Portable.
#include "support/compression.h"

#include <zlib.h>

#include <stdexcept>

namespace {

// Window bits that make deflate write a zlib stream, or (plus 16) a gzip member.
constexpr int kZlibWindowBits = 15;
constexpr int kGzipWindowBits = kZlibWindowBits + 16;
constexpr int kMemoryLevel = 8;

std::string Compress(const std::string& data, int windowBits) {
  z_stream stream = {};
  if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, windowBits, kMemoryLevel,
                   Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("deflateInit2 failed");
  }
  std::string out(deflateBound(&stream, static_cast<uLong>(data.size())) + 64, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
  stream.avail_out = static_cast<uInt>(out.size());
  const int result = deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  if (result != Z_STREAM_END) throw std::runtime_error("deflate did not finish");
  return out;
}

}  // namespace

std::string GzipCompress(const std::string& data) { return Compress(data, kGzipWindowBits); }

std::string DeflateCompress(const std::string& data) { return Compress(data, kZlibWindowBits); }
