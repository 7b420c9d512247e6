// The POSIX build's common expat configuration; see expat_parser.h.
#include "xml/expat_parser.h"

#include <iconv.h>

#include <cstdint>
#include <cstring>
#include <limits>

#include "common/posix_handles.h"
#include "xml/xml_document.h"

namespace {

constexpr int kBytesInEightBitEncoding = 256;
constexpr int kFirstNonAsciiByte = 0x80;
constexpr int kUnmappedByte = -1;
constexpr std::size_t kUtf32Bytes = 4;
constexpr char kCodePointEncoding[] = "UTF-32LE";
constexpr char kUtf8Encoding[] = "UTF-8";
// An 8-bit encoding's characters are all in the Basic Multilingual Plane: three UTF-8 bytes.
constexpr std::size_t kLongestUtf8OfOneByte = 3;

// The code point iconv gives for one byte of `from`, or kUnmappedByte.
int DecodeOneByte(iconv_t converter, unsigned char byte) {
  char in[1] = {static_cast<char>(byte)};
  unsigned char out[kUtf32Bytes] = {};
  char* inAt = in;
  char* outAt = reinterpret_cast<char*>(out);
  std::size_t inLeft = sizeof in;
  std::size_t outLeft = sizeof out;
  iconv(converter, nullptr, nullptr, nullptr, nullptr);
  if (iconv(converter, &inAt, &inLeft, &outAt, &outLeft) == static_cast<std::size_t>(-1) ||
      inLeft != 0 || outLeft != 0) {
    return kUnmappedByte;
  }
  const std::uint32_t codePoint =
      static_cast<std::uint32_t>(out[0]) | static_cast<std::uint32_t>(out[1]) << 8 |
      static_cast<std::uint32_t>(out[2]) << 16 | static_cast<std::uint32_t>(out[3]) << 24;
  return static_cast<int>(codePoint);
}

}  // namespace

ExpatParser::ExpatParser() : m_parser(XML_ParserCreate(nullptr)) {
  if (m_parser == nullptr) {
    m_failed = m_outOfMemory = true;
    return;
  }
  XML_SetUserData(m_parser, this);
  XML_SetElementHandler(m_parser, StartElement, EndElement);
  XML_SetCharacterDataHandler(m_parser, Characters);
  XML_SetCommentHandler(m_parser, Comment);
  XML_SetProcessingInstructionHandler(m_parser, Instruction);
  XML_SetCdataSectionHandler(m_parser, StartCdata, EndCdata);
  XML_SetStartDoctypeDeclHandler(m_parser, StartDoctype);
  XML_SetUnknownEncodingHandler(m_parser, UnknownEncoding, this);
}

ExpatParser::~ExpatParser() {
  if (m_parser != nullptr) XML_ParserFree(m_parser);
}

bool ExpatParser::Parse(const char* bytes, std::size_t length, bool last) {
  constexpr std::size_t kLargestPiece = std::numeric_limits<int>::max() / 2;
  while (!m_failed && (length > 0 || last)) {
    const std::size_t piece = length < kLargestPiece ? length : kLargestPiece;
    const bool final = last && piece == length;
    if (XML_Parse(m_parser, bytes, static_cast<int>(piece), final ? XML_TRUE : XML_FALSE) !=
        XML_STATUS_OK) {
      m_failed = true;
      m_outOfMemory = XML_GetErrorCode(m_parser) == XML_ERROR_NO_MEMORY;
    }
    bytes += piece;
    length -= piece;
    if (final) break;
  }
  return !m_failed;
}

void ExpatParser::Refuse() {
  m_failed = true;
  XML_StopParser(m_parser, XML_FALSE);
}

bool ExpatParser::CurrentEventIsReference() const {
  int offset = 0;
  int size = 0;
  const char* context = XML_GetInputContext(m_parser, &offset, &size);
  const int count = XML_GetCurrentByteCount(m_parser);
  if (context == nullptr || count <= 0 || offset < 0 || offset + count > size) return false;
  // Only a reference puts an '&' byte into the raw bytes of character data (in UTF-16 too).
  return std::memchr(context + offset, '&', static_cast<std::size_t>(count)) != nullptr;
}

void XMLCALL ExpatParser::StartElement(void* user, const XML_Char* name,
                                       const XML_Char** /*attributes*/) {
  auto& self = *static_cast<ExpatParser*>(user);
  if (++self.m_depth > kMaxElementDepth) {
    self.Refuse();
    return;
  }
  self.OnStartElement(name, self.m_depth);
}

void XMLCALL ExpatParser::EndElement(void* user, const XML_Char* /*name*/) {
  auto& self = *static_cast<ExpatParser*>(user);
  self.OnEndElement(self.m_depth--);
}

void XMLCALL ExpatParser::Characters(void* user, const XML_Char* data, int length) {
  auto& self = *static_cast<ExpatParser*>(user);
  if (length <= 0) return;
  self.OnCharacters(data, static_cast<std::size_t>(length));
}

void XMLCALL ExpatParser::Comment(void* user, const XML_Char* /*data*/) {
  static_cast<ExpatParser*>(user)->OnMarkup();
}

void XMLCALL ExpatParser::Instruction(void* user, const XML_Char* /*target*/,
                                      const XML_Char* /*data*/) {
  static_cast<ExpatParser*>(user)->OnMarkup();
}

void XMLCALL ExpatParser::StartCdata(void* user) { static_cast<ExpatParser*>(user)->OnCdata(true); }

void XMLCALL ExpatParser::EndCdata(void* user) { static_cast<ExpatParser*>(user)->OnCdata(false); }

void XMLCALL ExpatParser::StartDoctype(void* user, const XML_Char* /*name*/,
                                       const XML_Char* /*system*/, const XML_Char* /*publicId*/,
                                       int /*internalSubset*/) {
  // No document of ours needs one, and refusing it leaves no entity to expand or fetch.
  static_cast<ExpatParser*>(user)->Refuse();
}

int XMLCALL ExpatParser::UnknownEncoding(void* data, const XML_Char* name, XML_Encoding* info) {
  const UniqueIconv converter(iconv_open(kCodePointEncoding, name));
  if (converter.Get() == IconvTraits::Invalid()) return XML_STATUS_ERROR;
  bool asciiCompatible = true;
  for (int byte = 0; byte < kBytesInEightBitEncoding; ++byte) {
    info->map[byte] = DecodeOneByte(converter.Get(), static_cast<unsigned char>(byte));
    if (byte < kFirstNonAsciiByte && info->map[byte] != byte) asciiCompatible = false;
  }
  info->data = nullptr;
  info->convert = nullptr;
  info->release = nullptr;
  if (!asciiCompatible) return XML_STATUS_ERROR;
  auto* parser = static_cast<ExpatParser*>(data);
  parser->m_singleByte = true;
  parser->m_encodingName = name;
  return XML_STATUS_OK;
}

bool ExpatParser::ConvertToUtf8(std::vector<char>& document) const {
  const UniqueIconv converter(iconv_open(kUtf8Encoding, m_encodingName.c_str()));
  if (converter.Get() == IconvTraits::Invalid()) return false;
  std::vector<char> utf8(document.size() * kLongestUtf8OfOneByte + 1);
  char* in = document.data();
  std::size_t inLeft = document.size();
  char* out = utf8.data();
  std::size_t outLeft = utf8.size();
  if (iconv(converter.Get(), &in, &inLeft, &out, &outLeft) == static_cast<std::size_t>(-1) ||
      inLeft != 0) {
    return false;
  }
  utf8.resize(utf8.size() - outLeft);
  document.swap(utf8);
  return true;
}
