// The streamed install of one file document; see file_content_stream.h.
#include "update/file_content_stream.h"

#include <new>

#include "update/manifest_names.h"

namespace {

// Takes what is written when nothing is to be.
class DiscardingWriter : public ContentWriter {
 public:
  bool Write(const unsigned char* /*data*/, std::size_t /*length*/) override { return true; }
};

}  // namespace

FileContentStream::FileContentStream(Fetcher& fetcher, const char* address,
                                     const FetchLimits& limits, std::size_t longestText,
                                     FileDigestCheck& digest)
    : m_fetcher(fetcher),
      m_address(address),
      m_limits(limits),
      m_longestText(longestText),
      m_digest(digest) {}

bool FileContentStream::Produce(ContentWriter& out) {
  if (m_ran) return false;
  m_ran = true;
  m_out = &out;
  try {
    m_reader = CreateChildTextReader(kFileContentElement, static_cast<TextPieceSink&>(*this));
    m_text = std::make_unique<HexTextStream>(static_cast<DecodedBytesSink&>(*this), m_longestText);
  } catch (const std::bad_alloc&) {
    m_reader.reset();
  }
  if (!m_reader) {
    m_verdict = FileContentVerdict::kOutOfMemory;
    return false;
  }
  m_fetch = m_fetcher.FetchInto(m_address, m_limits, static_cast<ByteReceiver&>(*this));
  // A failed fetch decides the verdict alone: the part received is not worth reading to its end.
  const ChildTextOutcome document =
      m_fetch == FetchStatus::kOk ? m_reader->Finish() : ChildTextOutcome();
  m_verdict = Decide(document, m_text->Finish());
  if (m_verdict == FileContentVerdict::kComplete) {
    m_digestVerdict = m_digest.Finish();
    if (m_digestVerdict != DigestVerdict::kMatches && m_digestVerdict != DigestVerdict::kUnchecked)
      m_verdict = FileContentVerdict::kDigestRefused;
  }
  m_out = nullptr;
  m_reader.reset();
  m_text.reset();
  return m_verdict == FileContentVerdict::kComplete;
}

void FileContentStream::Judge() {
  if (m_ran) return;
  DiscardingWriter nowhere;
  Produce(nowhere);
}

FileContentVerdict FileContentStream::Decide(const ChildTextOutcome& document,
                                             HexTextVerdict text) {
  if (m_fetch == FetchStatus::kOutOfMemory || document.outOfMemory) {
    return FileContentVerdict::kOutOfMemory;
  }
  if (m_fetch != FetchStatus::kOk) return FileContentVerdict::kFetchFailed;
  if (!document.wellFormed) return FileContentVerdict::kNotWellFormed;
  if (!document.exists) return FileContentVerdict::kNoElement;
  if (!document.childFound) return FileContentVerdict::kEmpty;
  switch (text) {
    case HexTextVerdict::kDecoded:
      return FileContentVerdict::kComplete;
    case HexTextVerdict::kTooLong:
      return FileContentVerdict::kTooLong;
    case HexTextVerdict::kEmpty:
      return FileContentVerdict::kEmpty;
    case HexTextVerdict::kNotHex:
      break;
  }
  return FileContentVerdict::kNotHex;
}

bool FileContentStream::Receive(const char* data, std::size_t length) {
  return m_reader->Feed(data, length);
}

void FileContentStream::TextPiece(const char* text, std::size_t length) {
  m_text->Feed(text, length);
}

void FileContentStream::DecodedBytes(const unsigned char* data, std::size_t length) {
  m_digest.Update(data, length);
  m_out->Write(data, length);
}
