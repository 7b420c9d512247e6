// Differential fuzz target: one file document installed by the streaming path (the engine's
// FileContentStream, fed in pieces of a size the input picks) and read the way it was read before
// streaming (the whole document loaded into the DOM, its text taken out and decoded). Both must
// install the same bytes or refuse for the same reason.
// Input: byte 0 picks the file's size limit, byte 1 the piece size, the rest is the document.
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "common/files.h"
#include "fuzz_check.h"
#include "support/memory_fetcher.h"
#include "update/file_content_stream.h"
#include "update/hex_decoder.h"
#include "update/manifest_names.h"
#include "xml/xml_document.h"

namespace {

constexpr char kAddress[] = "http://fuzz.invalid/file.xml";
constexpr std::size_t kHeaderBytes = 2;
// Selector values below this pick a small size limit (1 to 64 bytes), so texts cross it often;
// the others a limit no input reaches.
constexpr unsigned kSmallLimitSelectors = 128;
constexpr std::size_t kSmallLimitRange = 64;
constexpr std::size_t kLargeLimit = std::size_t{1} << 24;
constexpr std::size_t kPieceRange = 97;

struct Result {
  FileContentVerdict verdict = FileContentVerdict::kOutOfMemory;
  std::string bytes;
};

// The reading before streaming: the whole document into the DOM, then the text, then the bytes.
Result ReadWhole(const std::string& document, std::size_t longestText) {
  Result result;
  std::vector<char> body(document.begin(), document.end());
  XmlDocument dom;
  if (!dom.LoadBytes(std::move(body))) {
    result.verdict = FileContentVerdict::kNotWellFormed;
    return result;
  }
  if (!dom.Exists(kFileContentElement)) {
    result.verdict = FileContentVerdict::kNoElement;
    return result;
  }
  std::string text;
  const long long length = dom.GetLongValue(kFileContentElement, text, longestText);
  if (length == kLongTextTooLong) {
    result.verdict = FileContentVerdict::kTooLong;
    return result;
  }
  if (length <= 0) {
    result.verdict = FileContentVerdict::kEmpty;
    return result;
  }
  std::vector<unsigned char> content(text.size() / 2 + 1);
  if (HexDecoder().Decode(content.data(), text.data(), text.size()) != 0) {
    result.verdict = FileContentVerdict::kNotHex;
    return result;
  }
  result.verdict = FileContentVerdict::kComplete;
  result.bytes.assign(reinterpret_cast<const char*>(content.data()), text.size() / 2);
  return result;
}

class Gathered : public ContentWriter {
 public:
  bool Write(const unsigned char* data, std::size_t length) override {
    bytes.append(reinterpret_cast<const char*>(data), length);
    return true;
  }
  std::string bytes;
};

Result ReadStreaming(const std::string& document, std::size_t longestText,
                     std::size_t pieceLength) {
  MemoryFetcher fetcher;
  fetcher.Add(kAddress, document);
  fetcher.SetPieceLength(pieceLength);
  FetchLimits limits;
  limits.maxBytes = document.size() + 1;
  FileDigestCheck digest(nullptr, false);
  FileContentStream stream(fetcher, kAddress, limits, longestText, digest);
  Gathered out;
  const bool complete = stream.Produce(out);
  FUZZ_CHECK(complete == (stream.Verdict() == FileContentVerdict::kComplete));
  Result result;
  result.verdict = stream.Verdict();
  if (complete) result.bytes = out.bytes;
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < kHeaderBytes) return 0;
  const std::size_t maxSize =
      data[0] < kSmallLimitSelectors ? 1 + data[0] % kSmallLimitRange : kLargeLimit;
  const std::size_t pieceLength = 1 + data[1] % kPieceRange;
  const std::string document(reinterpret_cast<const char*>(data) + kHeaderBytes,
                             size - kHeaderBytes);
  const std::size_t longestText = 2 * maxSize - 1;

  const Result whole = ReadWhole(document, longestText);
  const Result streamed = ReadStreaming(document, longestText, pieceLength);
  if (whole.verdict != streamed.verdict || whole.bytes != streamed.bytes) {
    std::fprintf(stderr, "DOM verdict %d (%zu bytes), streamed verdict %d (%zu bytes)\n",
                 static_cast<int>(whole.verdict), whole.bytes.size(),
                 static_cast<int>(streamed.verdict), streamed.bytes.size());
  }
  FUZZ_CHECK(whole.verdict == streamed.verdict);
  FUZZ_CHECK(whole.bytes == streamed.bytes);
  return 0;
}
