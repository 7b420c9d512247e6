// Table-driven hexadecimal decoding and encoding: one lookup per digit, no per-pair parsing or
// formatting.
#include "update/hex_decoder.h"

#include <array>

#include "common/ascii.h"
#include "update/manifest_names.h"

namespace {

constexpr char kDigitText[] = "0123456789ABCDEF";
constexpr char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
// Any name serves the updater, which reads the content element wherever the root is.
constexpr char kDocumentRoot[] = "documento";

}  // namespace

bool IsHexText(const char* text, std::size_t length) {
  if (length % 2 != 0) return false;
  for (std::size_t i = 0; i < length; ++i) {
    if (kHexDigitValues[static_cast<unsigned char>(text[i])] == kNotHexDigit) return false;
  }
  return true;
}

int HexDecoder::Decode(unsigned char* output, const char* text, std::size_t length) const {
  if (length % 2 != 0) return 1;
  for (std::size_t i = 0; i < length; i += 2) {
    const unsigned char high = kHexDigitValues[static_cast<unsigned char>(text[i])];
    const unsigned char low = kHexDigitValues[static_cast<unsigned char>(text[i + 1])];
    // Stray characters would otherwise become bytes of a corrupted program.
    if (high == kNotHexDigit || low == kNotHexDigit) return 1;
    output[i / 2] = static_cast<unsigned char>((high << 4) | low);
  }
  return 0;
}

void EncodeHex(const unsigned char* data, std::size_t length, char* output) {
  for (std::size_t i = 0; i < length; ++i) {
    output[2 * i] = kDigitText[data[i] >> 4];
    output[2 * i + 1] = kDigitText[data[i] & 0x0F];
  }
}

std::string FileDocumentHead() {
  return kDeclaration + ("<" + std::string(kDocumentRoot) + "><" + kFileContentElement + ">");
}

std::string FileDocumentTail() {
  return "</" + std::string(kFileContentElement) + "></" + kDocumentRoot + ">\n";
}

namespace {

bool IsTextSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

HexTextStream::HexTextStream(DecodedBytesSink& sink, std::size_t longestText)
    : m_sink(sink), m_longestText(longestText) {}

void HexTextStream::Feed(const char* text, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    const char c = text[i];
    if (IsTextSpace(c)) {
      if (m_length > 0) ++m_heldSpace;  // leading white space is trimmed away
      continue;
    }
    if (m_heldSpace > 0) {
      // White space with text after it lies inside the text: no digit, so never decoded.
      m_length += m_heldSpace;
      m_heldSpace = 0;
      Refuse();
    }
    ++m_length;
    if (m_refused) continue;
    const unsigned char digit = kHexDigitValues[static_cast<unsigned char>(c)];
    if (digit == kNotHexDigit || m_length > m_longestText) {
      Refuse();
      continue;
    }
    if (!m_highPending) {
      m_high = digit;
      m_highPending = true;
      continue;
    }
    m_highPending = false;
    m_block[m_filled++] = static_cast<unsigned char>((m_high << 4) | digit);
    if (m_filled == kBlockBytes) Flush();
  }
}

void HexTextStream::Flush() {
  if (m_filled > 0) m_sink.DecodedBytes(m_block, m_filled);
  m_filled = 0;
}

HexTextVerdict HexTextStream::Finish() {
  if (m_length > m_longestText) return HexTextVerdict::kTooLong;
  if (m_length == 0) return HexTextVerdict::kEmpty;
  if (m_refused || m_highPending) return HexTextVerdict::kNotHex;
  Flush();
  return HexTextVerdict::kDecoded;
}
