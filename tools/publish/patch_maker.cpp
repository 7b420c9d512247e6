// The zstd side of making a patch; see patch_maker.h.
#include "publish/patch_maker.h"

#include <memory>

#include <zstd.h>

#include "update/delta_patch.h"

namespace {

// The strongest level short of zstd's "ultra" levels, whose windows the updater would refuse.
constexpr int kPatchLevel = 19;
constexpr int kSmallestWindowLog = 10;  // ZSTD_WINDOWLOG_MIN

struct ContextDeleter {
  void operator()(ZSTD_CCtx* context) const { ZSTD_freeCCtx(context); }
};

// The least window that lets the end of the result still reach the start of the base, held to
// what the updater accepts (a match only ever reaches back within the window, so a smaller one
// costs patch size, never correctness).
int WindowLog(std::size_t reach) {
  int log = kSmallestWindowLog;
  while (log < kPatchWindowLog && (std::size_t{1} << log) < reach) ++log;
  return log;
}

}  // namespace

bool MakePatch(const std::string& base, const std::string& result, std::string& patch) {
  patch.clear();
  if (base.size() > kPatchWindowBytes || result.size() > kPatchWindowBytes) return false;
  std::unique_ptr<ZSTD_CCtx, ContextDeleter> context(ZSTD_createCCtx());
  if (!context) return false;
  ZSTD_CCtx* c = context.get();
  if (ZSTD_isError(ZSTD_CCtx_setParameter(c, ZSTD_c_compressionLevel, kPatchLevel)) ||
      ZSTD_isError(
          ZSTD_CCtx_setParameter(c, ZSTD_c_windowLog, WindowLog(base.size() + result.size()))) ||
      ZSTD_isError(ZSTD_CCtx_setParameter(c, ZSTD_c_enableLongDistanceMatching, 1)) ||
      ZSTD_isError(ZSTD_CCtx_setParameter(c, ZSTD_c_checksumFlag, 1)) ||
      ZSTD_isError(ZSTD_CCtx_refPrefix(c, base.data(), base.size()))) {
    return false;
  }
  patch.resize(ZSTD_compressBound(result.size()));
  const std::size_t made =
      ZSTD_compress2(c, patch.data(), patch.size(), result.data(), result.size());
  if (ZSTD_isError(made)) {
    patch.clear();
    return false;
  }
  patch.resize(made);
  return true;
}
