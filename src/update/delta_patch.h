// Delta releases, the applying side: a patch is one zstd frame made with the file a till already
// has (its base) as the decoder's prefix. Applying it streams the new file out while its S256
// digest is formed; only a result that matches the manifest's digest counts. Portable (libzstd).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "common/files.h"
#include "update/file_digest.h"

// The largest window a patch may ask of the decoder: 2^25 bytes (32 MiB), enforced with
// ZSTD_d_windowLogMax. A patch reaches back into its base only within its window, so a base
// larger than this is refused before it is read. Applying holds the base whole (the decoder's
// prefix) and at most one window of the result, plus the decoder's own tables.
constexpr int kPatchWindowLog = 25;
constexpr std::uint64_t kPatchWindowBytes = std::uint64_t{1} << kPatchWindowLog;

// How the file at a destination stands against a patch's base digest.
enum class PatchBaseResult {
  kMatches,     // a regular file whose bytes have the digest: `bytes` holds them
  kUnreadable,  // no regular file there, or it could not be read whole
  kTooLarge,    // larger than the window: no patch can reach all of it
  kDiffers,     // another file, or the digest text is not of the S256 form
};

// Reads the file at `path` as the base `digest` ("S256:...") names. `bytes` is emptied unless
// the result is kMatches. Never waits on what `path` names (a FIFO, a device).
PatchBaseResult ReadPatchBase(const char* path, const char* digest,
                              std::vector<unsigned char>& bytes);

// What became of one patch.
enum class PatchVerdict {
  kApplied,         // one frame, decoded whole, and the result matches its digest
  kRefused,         // not a zstd frame, or it asks for a window above kPatchWindowBytes
  kCorrupt,         // the decoder found the frame damaged, or made against another base
  kTruncated,       // the patch ended inside its frame, or bytes follow the frame
  kResultMismatch,  // decoded, but the result does not match its digest (or has none)
  kWriteFailed,     // the writer refused the result's bytes
  kOutOfMemory,
};

// What a verdict means, for people (the release tool's verify command).
const char* DescribePatchVerdict(PatchVerdict verdict);

// Applies one patch fed in pieces through Write (a ContentWriter, so a streamed file document's
// decoded bytes can go straight in), handing the result's bytes to `out` as they are decoded.
// Bytes reach `out` before the result is judged: callers keep them out of place until Finish
// says kApplied.
class PatchApplier : public ContentWriter {
 public:
  // `base` must stay unchanged until Finish; `resultDigest` is the result's "S256:..." text.
  PatchApplier(const std::vector<unsigned char>& base, const char* resultDigest,
               ContentWriter& out);
  ~PatchApplier() override;
  PatchApplier(const PatchApplier&) = delete;
  PatchApplier& operator=(const PatchApplier&) = delete;

  // The patch's next bytes. False once the patch has failed; nothing more reaches `out` then.
  bool Write(const unsigned char* data, std::size_t length) override;
  // After the last piece: the verdict (also when Write already failed).
  PatchVerdict Finish();

 private:
  struct Decoder;  // libzstd's context, owned here
  bool Fail(PatchVerdict verdict);
  bool Emit(const unsigned char* data, std::size_t length);

  std::unique_ptr<Decoder> m_decoder;
  ContentWriter& m_out;
  FileDigestCheck m_digest;
  std::vector<unsigned char> m_buffer;
  bool m_frameDone = false;
  PatchVerdict m_failure = PatchVerdict::kApplied;  // kApplied: none yet
};
