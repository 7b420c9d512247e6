// The hexadecimal codec of file documents: text to bytes for the updater, bytes to text (and the
// document around it) for the release tool and for the documents the updater rebuilds from patches.
#pragma once

#include <cstddef>
#include <string>

class HexDecoder {
 public:
  virtual ~HexDecoder() = default;

  // Decodes the first `length` characters of `text`, two hexadecimal digits (either case, high
  // digit first) per byte, into `output` (`length` / 2 bytes). Returns 0 when decoded, 1 when
  // refused: an odd length, or any character that is not a hexadecimal digit. A refused text
  // may leave `output` partly written; callers discard it.
  int Decode(unsigned char* output, const char* text, std::size_t length) const;
};

// True when every one of the `length` characters is a hexadecimal digit and `length` is even.
bool IsHexText(const char* text, std::size_t length);

// Writes the `length` bytes of `data` as 2 * `length` upper-case hexadecimal digits, high digit
// first, to `output` (no terminator). The updater's decoder reads them back unchanged.
void EncodeHex(const unsigned char* data, std::size_t length, char* output);

// What comes before and after the hexadecimal digits in a file document as the release tool
// writes it: one frame, so a document rebuilt from a patch is the one the publisher would serve.
std::string FileDocumentHead();
std::string FileDocumentTail();

// Takes the bytes a HexTextStream decodes, in blocks.
class DecodedBytesSink {
 public:
  virtual ~DecodedBytesSink() = default;
  virtual void DecodedBytes(const unsigned char* data, std::size_t length) = 0;
};

// How a streamed text turned out, checked in the order a whole text would be: its length after
// trimming, then its digits.
enum class HexTextVerdict {
  kDecoded,  // even-length, all hexadecimal digits, within the limit: every byte was handed on
  kTooLong,  // longer than the limit after trimming
  kEmpty,    // nothing but white space
  kNotHex,   // an odd number of characters, or a character that is not a hexadecimal digit
};

// Decodes a text that arrives in pieces, as the DOM would read it whole: the white space around
// it (space, tab, CR, LF) trimmed, then two hexadecimal digits per byte. Decoded bytes are handed
// on in blocks as they come; once the text is refused nothing more is handed on, but the rest is
// still measured, as a whole text's length would be.
class HexTextStream {
 public:
  // `longestText`: the most characters the trimmed text may hold.
  HexTextStream(DecodedBytesSink& sink, std::size_t longestText);
  void Feed(const char* text, std::size_t length);
  // After the last piece: hands on the last block when the text is decoded.
  HexTextVerdict Finish();
  // The trimmed text's length so far (white space at its end counts once more follows).
  std::size_t Length() const { return m_length; }

 private:
  static constexpr std::size_t kBlockBytes = std::size_t{64} * 1024;
  void Refuse() { m_refused = true; }
  void Flush();

  DecodedBytesSink& m_sink;
  std::size_t m_longestText;
  std::size_t m_length = 0;
  std::size_t m_heldSpace = 0;  // white space after the last digit: inside the text or after it
  bool m_refused = false;
  bool m_highPending = false;
  unsigned char m_high = 0;
  std::size_t m_filled = 0;
  unsigned char m_block[kBlockBytes];
};
