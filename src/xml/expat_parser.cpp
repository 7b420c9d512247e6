// The common expat configuration of both builds; see expat_parser.h.
#include "xml/expat_parser.h"

#include <limits>
#include <new>

#include "xml/text_encoding.h"
#include "xml/xml_document.h"

namespace {

constexpr int kFirstNonAsciiByte = 0x80;

}  // namespace

ExpatParser::ExpatParser(const char* encoding) : m_parser(XML_ParserCreate(encoding)) {
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

WrittenAs ExpatParser::CurrentEventWrittenAs() const {
  int offset = 0;
  int size = 0;
  const char* context = XML_GetInputContext(m_parser, &offset, &size);
  const int count = XML_GetCurrentByteCount(m_parser);
  if (context == nullptr || count <= 0 || offset < 0 || offset + count > size) {
    return WrittenAs::kLiteral;
  }
  // The first character tells: one byte, or a UTF-16 unit whose other byte is 0. Literal
  // character data never holds '&' itself, and a line end is an event of its own, so for white
  // space and line ends (the cases that matter) this never errs; in UTF-16 a character U+xx26 or
  // U+xx0D may pass for a reference or a line end.
  const char* event = context + offset;
  const char first = event[0] != '\0' || count < 2 ? event[0] : event[1];
  if (first == '&') return WrittenAs::kReference;
  if (first == '\r') return WrittenAs::kReturnedLineEnd;
  return WrittenAs::kLiteral;
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
  if (!EightBitCodePoints(name, info->map)) return XML_STATUS_ERROR;
  for (int value = 0; value < kFirstNonAsciiByte; ++value) {
    if (info->map[value] != value) return XML_STATUS_ERROR;
  }
  info->data = nullptr;
  info->convert = nullptr;
  info->release = nullptr;
  auto* parser = static_cast<ExpatParser*>(data);
  parser->m_singleByte = true;
  parser->m_encodingName = name;
  return XML_STATUS_OK;
}

bool ExpatAccepts(const char* data, std::size_t size, const char* encoding) {
  ExpatParser parser(encoding);
  parser.Parse(data, size, true);
  if (parser.OutOfMemory()) throw std::bad_alloc();
  return !parser.Failed();
}
