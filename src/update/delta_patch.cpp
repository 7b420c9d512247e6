// Applying a zstd patch against its base, streamed; see delta_patch.h.
#include "update/delta_patch.h"

#include <new>

#include <zstd.h>
#include <zstd_errors.h>

#include "common/file_ops.h"

namespace {

constexpr std::size_t kBaseReadBytes = std::size_t{64} * 1024;

struct ContextDeleter {
  void operator()(ZSTD_DCtx* context) const { ZSTD_freeDCtx(context); }
};

PatchVerdict ClassifyError(std::size_t code) {
  switch (ZSTD_getErrorCode(code)) {
    case ZSTD_error_frameParameter_windowTooLarge:
    case ZSTD_error_prefix_unknown:
    case ZSTD_error_frameParameter_unsupported:
      return PatchVerdict::kRefused;
    case ZSTD_error_memory_allocation:
      return PatchVerdict::kOutOfMemory;
    default:
      break;
  }
  return PatchVerdict::kCorrupt;
}

}  // namespace

PatchBaseResult ReadPatchBase(const char* path, const char* digest,
                              std::vector<unsigned char>& bytes) {
  bytes.clear();
  FileDigestCheck check(digest, true);
  if (!check.Admits()) return PatchBaseResult::kDiffers;
  RegularFileReader reader;
  if (reader.Open(path) != OpenResult::kOpened) return PatchBaseResult::kUnreadable;
  const std::int64_t size = GetFileSizeBytes(path);
  if (size > static_cast<std::int64_t>(kPatchWindowBytes)) return PatchBaseResult::kTooLarge;
  try {
    bytes.reserve(size > 0 ? static_cast<std::size_t>(size) : 0);
    for (;;) {
      const std::size_t held = bytes.size();
      bytes.resize(held + kBaseReadBytes);
      const long long got = reader.Read(bytes.data() + held, kBaseReadBytes);
      bytes.resize(held + static_cast<std::size_t>(got > 0 ? got : 0));
      if (got == 0) break;
      if (got < 0) {
        bytes.clear();
        return PatchBaseResult::kUnreadable;
      }
      // A file that grew since its size was taken is held to the window all the same.
      if (bytes.size() > kPatchWindowBytes) {
        bytes.clear();
        return PatchBaseResult::kTooLarge;
      }
    }
  } catch (const std::bad_alloc&) {
    bytes = std::vector<unsigned char>();
    return PatchBaseResult::kUnreadable;
  }
  check.Update(bytes.data(), bytes.size());
  if (check.Finish() == DigestVerdict::kMatches) return PatchBaseResult::kMatches;
  bytes.clear();
  return PatchBaseResult::kDiffers;
}

const char* DescribePatchVerdict(PatchVerdict verdict) {
  switch (verdict) {
    case PatchVerdict::kApplied:
      return "applies, and the result matches its digest";
    case PatchVerdict::kRefused:
      return "not a zstd frame, or its window is larger than the updater accepts";
    case PatchVerdict::kCorrupt:
      return "the decoder found it damaged or made against another base";
    case PatchVerdict::kTruncated:
      return "it ends inside its frame, or bytes follow the frame";
    case PatchVerdict::kResultMismatch:
      return "the result does not match its digest";
    case PatchVerdict::kWriteFailed:
      return "the result could not be written";
    case PatchVerdict::kOutOfMemory:
      break;
  }
  return "memory ran out";
}

struct PatchApplier::Decoder {
  std::unique_ptr<ZSTD_DCtx, ContextDeleter> context;
};

PatchApplier::PatchApplier(const std::vector<unsigned char>& base, const char* resultDigest,
                           ContentWriter& out)
    : m_out(out), m_digest(resultDigest, true) {
  try {
    m_decoder = std::make_unique<Decoder>();
    m_buffer.resize(ZSTD_DStreamOutSize());
  } catch (const std::bad_alloc&) {
    m_decoder.reset();
  }
  if (m_decoder) m_decoder->context.reset(ZSTD_createDCtx());
  if (!m_decoder || !m_decoder->context) {
    Fail(PatchVerdict::kOutOfMemory);
    return;
  }
  ZSTD_DCtx* context = m_decoder->context.get();
  // The base is the frame's prefix: it is referenced, not copied, and counts as history within
  // the window only.
  if (ZSTD_isError(ZSTD_DCtx_setParameter(context, ZSTD_d_windowLogMax, kPatchWindowLog)) ||
      ZSTD_isError(ZSTD_DCtx_refPrefix(context, base.data(), base.size()))) {
    Fail(PatchVerdict::kOutOfMemory);
  }
  if (!m_digest.Admits()) Fail(PatchVerdict::kResultMismatch);
}

PatchApplier::~PatchApplier() = default;

bool PatchApplier::Fail(PatchVerdict verdict) {
  if (m_failure == PatchVerdict::kApplied) m_failure = verdict;
  return false;
}

bool PatchApplier::Emit(const unsigned char* data, std::size_t length) {
  if (length == 0) return true;
  m_digest.Update(data, length);
  return m_out.Write(data, length) || Fail(PatchVerdict::kWriteFailed);
}

bool PatchApplier::Write(const unsigned char* data, std::size_t length) {
  if (m_failure != PatchVerdict::kApplied) return false;
  // One frame is the whole patch: a second one (or anything) after it is not this format.
  if (m_frameDone) return length == 0 || Fail(PatchVerdict::kTruncated);
  ZSTD_inBuffer in{data, length, 0};
  for (;;) {
    ZSTD_outBuffer out{m_buffer.data(), m_buffer.size(), 0};
    const std::size_t left = ZSTD_decompressStream(m_decoder->context.get(), &out, &in);
    if (ZSTD_isError(left)) return Fail(ClassifyError(left));
    if (!Emit(m_buffer.data(), out.pos)) return false;
    if (left == 0) {
      m_frameDone = true;
      return in.pos == in.size || Fail(PatchVerdict::kTruncated);
    }
    // A full output buffer may leave decoded bytes inside the decoder: drain them first.
    if (in.pos == in.size && out.pos < out.size) return true;
  }
}

PatchVerdict PatchApplier::Finish() {
  if (m_failure != PatchVerdict::kApplied) return m_failure;
  if (!m_frameDone) return PatchVerdict::kTruncated;
  return m_digest.Finish() == DigestVerdict::kMatches ? PatchVerdict::kApplied
                                                      : PatchVerdict::kResultMismatch;
}
