// One file document fetched, read and decoded on the way into its file: the document's bytes go
// to the streaming XML reader, the text of its `fichero` to the hexadecimal decoder, the decoded
// bytes to the digest check and the file being written. Nothing is held whole, and the verdict is
// the one a document read whole would get, so the same files are installed and the same ones
// refused.
#pragma once

#include <cstddef>
#include <memory>

#include "common/files.h"
#include "net/fetch.h"
#include "update/file_digest.h"
#include "update/hex_decoder.h"
#include "xml/child_text_reader.h"

// What became of a file document, in the order its checks are made.
enum class FileContentVerdict {
  kComplete,       // fetched, well-formed, its text decoded and matching its digest
  kFetchFailed,    // see FetchFailure()
  kNotWellFormed,  // not XML, or refused as XmlDocument::Load refuses
  kNoElement,      // neither the document element nor a child of it is a `fichero`
  kTooLong,        // the text is not shorter than twice the file's size limit
  kEmpty,          // no text, or no `fichero` child of the document element
  kNotHex,         // not an even number of hexadecimal digits
  kDigestRefused,  // see Digest()
  kOutOfMemory,
};

class FileContentStream : public ContentProducer,
                          private ByteReceiver,
                          private TextPieceSink,
                          private DecodedBytesSink {
 public:
  // Fetches `address` under `limits`; the text may hold at most `longestText` characters. `digest`
  // must outlive the stream.
  FileContentStream(Fetcher& fetcher, const char* address, const FetchLimits& limits,
                    std::size_t longestText, FileDigestCheck& digest);

  // Fetches the document, writing the decoded bytes through `out`. True when complete.
  bool Produce(ContentWriter& out) override;
  // Runs the fetch and the checks without writing anything, unless Produce already ran: so the
  // document is judged even when its destination turned out unwritable before it was fetched.
  void Judge();
  FileContentVerdict Verdict() const { return m_verdict; }
  FetchStatus FetchFailure() const { return m_fetch; }
  DigestVerdict Digest() const { return m_digestVerdict; }

 private:
  bool Receive(const char* data, std::size_t length) override;
  void TextPiece(const char* text, std::size_t length) override;
  void DecodedBytes(const unsigned char* data, std::size_t length) override;
  FileContentVerdict Decide(const ChildTextOutcome& document, HexTextVerdict text);

  Fetcher& m_fetcher;
  const char* m_address;
  FetchLimits m_limits;
  std::size_t m_longestText;
  FileDigestCheck& m_digest;
  std::unique_ptr<ChildTextReader> m_reader;
  std::unique_ptr<HexTextStream> m_text;
  ContentWriter* m_out = nullptr;
  bool m_ran = false;
  FileContentVerdict m_verdict = FileContentVerdict::kOutOfMemory;
  FetchStatus m_fetch = FetchStatus::kOk;
  DigestVerdict m_digestVerdict = DigestVerdict::kUnchecked;
};
