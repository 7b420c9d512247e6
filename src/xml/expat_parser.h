// One configuration of expat for every document either build reads, so the DOM and the streaming
// reader refuse exactly the same documents on both: a DOCTYPE, elements nested deeper than
// kMaxElementDepth, and anything expat finds not well-formed (bytes that are not of the document's
// encoding, duplicate attributes, references to undefined entities or to characters XML forbids).
// An 8-bit encoding expat lacks (windows-1252, say) is read through the platform's tables
// (text_encoding.h) when it agrees with ASCII on the first 128 bytes. Private to src/xml.
#pragma once

#include <expat.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

// How the characters of one event were written in the document.
enum class WrittenAs {
  kLiteral,
  kReference,        // as one reference ("&#32;", "&amp;"); expat reports it as an event alone
  kReturnedLineEnd,  // a line end written with a carriage return, read as a line feed
};

class ExpatParser {
 public:
  // The document's own declaration names its encoding, unless `encoding` does: a text the program
  // already decoded is read as that, whatever it declares.
  explicit ExpatParser(const char* encoding = nullptr);
  virtual ~ExpatParser();
  ExpatParser(const ExpatParser&) = delete;
  ExpatParser& operator=(const ExpatParser&) = delete;

  // Parses the next bytes of the document; `last` with its final bytes. False once the document
  // is known not to be well-formed (then further bytes are ignored), or memory ran out.
  bool Parse(const char* bytes, std::size_t length, bool last);
  bool Failed() const { return m_failed; }
  bool OutOfMemory() const { return m_outOfMemory; }
  // True when the document is in an 8-bit encoding read through the platform's tables: its
  // characters beyond ASCII are one byte each in the document, though handed on in UTF-8.
  bool SingleByteEncoding() const { return m_singleByte; }
  // With SingleByteEncoding: that encoding's name, as the document declares it.
  const std::string& EncodingName() const { return m_encodingName; }

 protected:
  // The events the streaming reader needs, after the checks of this class. `depth` is 0 for the
  // document element. Markup stands for anything that is not character data: it ends a run of
  // character data.
  virtual void OnStartElement(const char* /*name*/, int /*depth*/) {}
  virtual void OnEndElement(int /*depth*/) {}
  virtual void OnMarkup() {}
  virtual void OnCdata(bool /*starts*/) {}
  virtual void OnCharacters(const char* /*data*/, std::size_t /*length*/) {}
  // Within OnCharacters: how its characters were written.
  WrittenAs CurrentEventWrittenAs() const;

 private:
  static void XMLCALL StartElement(void* user, const XML_Char* name, const XML_Char** attributes);
  static void XMLCALL EndElement(void* user, const XML_Char* name);
  static void XMLCALL Characters(void* user, const XML_Char* data, int length);
  static void XMLCALL Comment(void* user, const XML_Char* data);
  static void XMLCALL Instruction(void* user, const XML_Char* target, const XML_Char* data);
  static void XMLCALL StartCdata(void* user);
  static void XMLCALL EndCdata(void* user);
  static void XMLCALL StartDoctype(void* user, const XML_Char* name, const XML_Char* system,
                                   const XML_Char* publicId, int internalSubset);
  static int XMLCALL UnknownEncoding(void* data, const XML_Char* name, XML_Encoding* info);
  // Stops the parse: the document is refused.
  void Refuse();

  XML_Parser m_parser;
  int m_depth = -1;  // of the element open innermost; -1 outside the document element
  bool m_failed = false;
  bool m_outOfMemory = false;
  bool m_singleByte = false;
  std::string m_encodingName;  // of the 8-bit encoding read through the platform's tables
};

// Whether expat, configured as above, finds the whole document well-formed. Raises
// std::bad_alloc when memory ran out, so a document is never refused for the machine's state.
bool ExpatAccepts(const char* data, std::size_t size, const char* encoding = nullptr);
