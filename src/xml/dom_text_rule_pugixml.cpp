// pugixml's text of an element (POSIX): each run of character data between two pieces of markup
// is kept unless it is nothing but literal white space (a reference such as "&#32;" counts as
// content); CDATA sections are always kept. A white-space run is held back until it either ends
// at markup (dropped) or turns out to carry content (handed on whole). Texts stay in UTF-8.
#include <new>
#include <string>

#include "xml/dom_text_rule.h"

namespace {

bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool AllSpace(const char* data, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    if (!IsXmlSpace(data[i])) return false;
  }
  return true;
}

class PugixmlTextRule : public DomTextRule {
 public:
  explicit PugixmlTextRule(TextPieceSink& sink) : m_sink(sink) {}

  void StartElement() override { EndRun(); }
  void EndElement() override { EndRun(); }
  void Markup() override { EndRun(); }
  void Cdata(bool starts) override {
    EndRun();
    m_inCdata = starts;
  }
  void End() override { EndRun(); }
  bool OutOfMemory() const override { return m_outOfMemory; }

  void Characters(const char* data, std::size_t length, WrittenAs writtenAs) override {
    if (m_inCdata || m_runHasContent) {
      m_sink.TextPiece(data, length);
      return;
    }
    try {
      if (writtenAs == WrittenAs::kReference || !AllSpace(data, length)) {
        m_runHasContent = true;
        if (!m_heldSpace.empty()) m_sink.TextPiece(m_heldSpace.data(), m_heldSpace.size());
        m_heldSpace.clear();
        m_sink.TextPiece(data, length);
      } else {
        m_heldSpace.append(data, length);
      }
    } catch (const std::bad_alloc&) {
      m_outOfMemory = true;
    }
  }

 private:
  // Markup ends the run: a run of white space alone is dropped.
  void EndRun() {
    m_runHasContent = false;
    m_heldSpace.clear();
  }

  TextPieceSink& m_sink;
  std::string m_heldSpace;
  bool m_inCdata = false;
  bool m_runHasContent = false;
  bool m_outOfMemory = false;
};

}  // namespace

std::unique_ptr<DomTextRule> CreateDomTextRule(TextPieceSink& sink) {
  return std::make_unique<PugixmlTextRule>(sink);
}

bool DomTextIsUtf8() { return true; }
