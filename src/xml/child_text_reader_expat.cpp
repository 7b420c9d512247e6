// The streaming child-text reader over expat: the events of expat_parser.h turned into the text
// pugixml's DOM gives. pugixml keeps each run of character data between two pieces of markup
// unless the run is nothing but literal white space (a reference such as "&#32;" counts as
// content); CDATA sections are always kept. A white-space run is therefore held back until it
// either ends at markup (dropped) or turns out to carry content (handed on whole).
#include <new>
#include <string>

#include "xml/child_text_reader.h"
#include "xml/expat_parser.h"

namespace {

constexpr int kChildDepth = 1;

bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool AllSpace(const char* data, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    if (!IsXmlSpace(data[i])) return false;
  }
  return true;
}

class ExpatChildTextReader : public ChildTextReader, private ExpatParser {
 public:
  ExpatChildTextReader(const char* childName, TextPieceSink& sink)
      : m_childName(childName), m_sink(sink) {}

  bool Feed(const char* bytes, std::size_t length) override {
    if (length > 0) Parse(bytes, length, false);
    return !OutOfMemory() && !m_outOfMemory;
  }

  ChildTextOutcome Finish() override {
    Parse(nullptr, 0, true);
    ChildTextOutcome outcome;
    outcome.outOfMemory = OutOfMemory() || m_outOfMemory;
    outcome.wellFormed = !Failed() && !outcome.outOfMemory;
    outcome.exists = m_rootIsNamed || m_childFound;
    outcome.childFound = m_childFound;
    return outcome;
  }

 private:
  void OnStartElement(const char* name, int depth) override {
    EndRun();
    if (depth == 0) m_rootIsNamed = m_childName == name;
    if (depth == kChildDepth && !m_childFound && m_childName == name) {
      m_childFound = true;
      m_inChild = true;
    }
  }
  void OnEndElement(int depth) override {
    EndRun();
    if (depth == kChildDepth) m_inChild = false;
  }
  void OnMarkup() override { EndRun(); }
  void OnCdata(bool starts) override {
    EndRun();
    m_inCdata = starts;
  }

  void OnCharacters(const char* data, std::size_t length) override {
    if (!m_inChild || Failed()) return;
    if (m_inCdata || m_runHasContent) {
      Emit(data, length);
      return;
    }
    try {
      if (!AllSpace(data, length) || CurrentEventIsReference()) {
        m_runHasContent = true;
        if (!m_heldSpace.empty()) Emit(m_heldSpace.data(), m_heldSpace.size());
        m_heldSpace.clear();
        Emit(data, length);
      } else {
        m_heldSpace.append(data, length);
      }
    } catch (const std::bad_alloc&) {
      m_outOfMemory = true;
    }
  }

  // Markup ends the run: a run of white space alone is dropped.
  void EndRun() {
    m_runHasContent = false;
    m_heldSpace.clear();
  }

  // Expat hands every document's text on in UTF-8, as the DOM now reads 8-bit documents too.
  void Emit(const char* data, std::size_t length) { m_sink.TextPiece(data, length); }

  std::string m_childName;
  TextPieceSink& m_sink;
  std::string m_heldSpace;
  bool m_rootIsNamed = false;
  bool m_childFound = false;
  bool m_inChild = false;
  bool m_inCdata = false;
  bool m_runHasContent = false;
  bool m_outOfMemory = false;
};

}  // namespace

std::unique_ptr<ChildTextReader> CreateChildTextReader(const char* childName, TextPieceSink& sink) {
  try {
    return std::make_unique<ExpatChildTextReader>(childName != nullptr ? childName : "", sink);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
