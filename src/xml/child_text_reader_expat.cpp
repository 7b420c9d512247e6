// The streaming child-text reader over expat, on both targets: the events of expat_parser.h
// inside the child, handed to the platform's DOM text rule (dom_text_rule.h), so the text is the
// one the platform's DOM gives.
#include <new>
#include <string>

#include "xml/child_text_reader.h"
#include "xml/dom_text_rule.h"
#include "xml/expat_parser.h"

namespace {

constexpr int kChildDepth = 1;
constexpr unsigned char kFirstNonAscii = 0x80;
constexpr unsigned char kUtf8Continuation = 0xC0;
// What a non-ASCII character becomes where the DOM hands it out as one byte (an 8-bit document on
// POSIX, any document on Windows); no byte of that range can pass for text of ours.
constexpr char kSingleByteStandIn = static_cast<char>(0x80);

class ExpatChildTextReader : public ChildTextReader, private ExpatParser, private TextPieceSink {
 public:
  ExpatChildTextReader(const char* childName, TextPieceSink& sink)
      : m_childName(childName), m_sink(sink), m_rule(CreateDomTextRule(*this)) {}

  bool Feed(const char* bytes, std::size_t length) override {
    if (length > 0) Parse(bytes, length, false);
    return !OutOfMemory() && !m_rule->OutOfMemory();
  }

  ChildTextOutcome Finish() override {
    Parse(nullptr, 0, true);
    ChildTextOutcome outcome;
    outcome.outOfMemory = OutOfMemory() || m_rule->OutOfMemory();
    outcome.wellFormed = !Failed() && !outcome.outOfMemory;
    outcome.exists = m_rootIsNamed || m_childFound;
    outcome.childFound = m_childFound;
    return outcome;
  }

 private:
  void OnStartElement(const char* name, int depth) override {
    if (m_inChild) {
      m_rule->StartElement();
      return;
    }
    if (depth == 0) m_rootIsNamed = m_childName == name;
    if (depth == kChildDepth && !m_childFound && m_childName == name) {
      m_childFound = true;
      m_inChild = true;
    }
  }
  void OnEndElement(int depth) override {
    if (!m_inChild) return;
    if (depth > kChildDepth) {
      m_rule->EndElement();
      return;
    }
    m_rule->End();
    m_inChild = false;
  }
  void OnMarkup() override {
    if (m_inChild) m_rule->Markup();
  }
  void OnCdata(bool starts) override {
    if (m_inChild) m_rule->Cdata(starts);
  }
  void OnCharacters(const char* data, std::size_t length) override {
    if (m_inChild && !Failed()) m_rule->Characters(data, length, CurrentEventWrittenAs());
  }

  // The rule's text, in the form the DOM hands characters beyond ASCII out in: UTF-8 on POSIX,
  // where the DOM reads 8-bit documents converted to UTF-8 too; one byte each on Windows.
  void TextPiece(const char* data, std::size_t length) override {
    if (DomTextIsUtf8()) {
      m_sink.TextPiece(data, length);
      return;
    }
    std::size_t start = 0;
    for (std::size_t i = 0; i < length; ++i) {
      const auto value = static_cast<unsigned char>(data[i]);
      if (value < kFirstNonAscii) continue;
      if (i > start) m_sink.TextPiece(data + start, i - start);
      if (value >= kUtf8Continuation) m_sink.TextPiece(&kSingleByteStandIn, 1);
      start = i + 1;
    }
    if (length > start) m_sink.TextPiece(data + start, length - start);
  }

  std::string m_childName;
  TextPieceSink& m_sink;
  std::unique_ptr<DomTextRule> m_rule;
  bool m_rootIsNamed = false;
  bool m_childFound = false;
  bool m_inChild = false;
};

}  // namespace

std::unique_ptr<ChildTextReader> CreateChildTextReader(const char* childName, TextPieceSink& sink) {
  try {
    return std::make_unique<ExpatChildTextReader>(childName != nullptr ? childName : "", sink);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
