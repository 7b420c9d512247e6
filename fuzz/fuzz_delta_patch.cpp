// Fuzz target: a patch applied against its base, fed in pieces. Byte 0 picks the piece size (1 to
// 256 bytes), bytes 1 and 2 the base's length (little-endian, cut to what follows), then the base,
// then the patch. libzstd given the whole patch at once is the reference: the applier fed in
// pieces must give exactly its bytes when it decodes one frame within the window, and apply
// nothing otherwise.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The frame header's window is read with libzstd's own parser, apart from the applier's limit.
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

#include "crypto/crypto.h"
#include "fuzz_check.h"
#include "update/delta_patch.h"

namespace {

// Results beyond this are not compared: the reference would need the whole of them in memory.
constexpr std::size_t kLargestResult = std::size_t{1} << 20;

// Collects what the applier makes, refusing past the largest result.
class Collector : public ContentWriter {
 public:
  bool Write(const unsigned char* data, std::size_t length) override {
    if (bytes.size() + length > kLargestResult) return false;
    bytes.append(reinterpret_cast<const char*>(data), length);
    return true;
  }
  std::string bytes;
};

std::string Digest(const std::string& bytes) {
  Sha256Digest digest{};
  FUZZ_CHECK(ComputeSha256(bytes.data(), bytes.size(), digest));
  return FormatFileDigest(digest);
}

// What libzstd makes of the patch given whole at once: true with `result` when it is exactly one
// frame within the updater's window that decodes against the base. libzstd's streaming decoder
// is the reference, not its one-shot one: 1.5.4's one-shot decoding accepts an RLE block larger
// than the block maximum, which the format and the streaming decoder refuse (kept regression
// rle_block_over_the_block_maximum).
bool Reference(const std::vector<unsigned char>& base, const std::uint8_t* patch, std::size_t size,
               std::string& result) {
  if (ZSTD_findFrameCompressedSize(patch, size) != size) return false;
  ZSTD_frameHeader header{};
  if (ZSTD_getFrameHeader(&header, patch, size) != 0 || header.frameType != ZSTD_frame ||
      header.windowSize > kPatchWindowBytes) {
    return false;
  }
  ZSTD_DCtx* context = ZSTD_createDCtx();
  FUZZ_CHECK(context != nullptr);
  ZSTD_DCtx_refPrefix(context, base.data(), base.size());
  result.resize(kLargestResult);
  ZSTD_inBuffer in{patch, size, 0};
  ZSTD_outBuffer out{result.data(), result.size(), 0};
  const std::size_t left = ZSTD_decompressStream(context, &out, &in);
  ZSTD_freeDCtx(context);
  // A frame not ended with all of its input taken, or a result past the largest compared.
  if (ZSTD_isError(left) || left != 0 || in.pos != size || out.pos == out.size) return false;
  result.resize(out.pos);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const std::size_t piece = std::size_t{data[0]} + 1;
  std::size_t baseLength = std::size_t{data[1]} | (std::size_t{data[2]} << 8);
  data += 3;
  size -= 3;
  if (baseLength > size) baseLength = size;
  const std::vector<unsigned char> base(data, data + baseLength);
  const std::uint8_t* patch = data + baseLength;
  const std::size_t patchSize = size - baseLength;

  std::string expected;
  const bool decodes = Reference(base, patch, patchSize, expected);
  Collector out;
  PatchApplier applier(base, Digest(decodes ? expected : std::string("\x01")).c_str(), out);
  for (std::size_t at = 0; at < patchSize; at += piece) {
    if (!applier.Write(patch + at, patchSize - at < piece ? patchSize - at : piece)) break;
  }
  const PatchVerdict verdict = applier.Finish();
  if (decodes) {
    FUZZ_CHECK(verdict == PatchVerdict::kApplied);
    FUZZ_CHECK(out.bytes == expected);
  } else {
    // Anything the reference refuses, or a result it makes that is not the promised one, never
    // counts as applied.
    FUZZ_CHECK(verdict != PatchVerdict::kApplied);
  }
  return 0;
}
