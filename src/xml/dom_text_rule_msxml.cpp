// MSXML's text of an element (Windows), as its `text` property gives it, measured under Wine 8
// (tests/xml/child_text_reader_test.cpp holds the two together). Character data comes in chunks:
// each reference is one, and so is each literal run between references, markup and line ends
// written with a carriage return. Before the first chunk with content since markup, chunks of
// white space alone are dropped. Inside a text (after content) they stay, but for the last one
// before markup when it is a reference or a literal run of spaces and line ends only (a tab
// keeps the run). Where white space was dropped, the element owes one space, paid before its
// next content once it has text of its own; an element's owed space at its end passes to its
// parent. CDATA sections are kept whole and settle an owed space even when empty; sections with
// only white space between them are joined into one. Characters beyond ASCII come out as one
// byte each in the ANSI code page.
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "xml/dom_text_rule.h"

namespace {

constexpr char kOwedSpace = ' ';
// The longest character a reference stands for, in UTF-8.
constexpr std::size_t kLongestCharacter = 4;

bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool AllSpace(const char* data, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    if (!IsXmlSpace(data[i])) return false;
  }
  return true;
}

// One open element: the child whose text is read, or one of its descendants.
struct Frame {
  bool hasText = false;     // text has been handed on for it
  bool owesSpace = false;   // white space was dropped from it since its last content
  bool inTextNode = false;  // its last content was character data, with no markup since
};

class MsxmlTextRule : public DomTextRule {
 public:
  explicit MsxmlTextRule(TextPieceSink& sink) : m_sink(sink), m_frames(1) {}

  void StartElement() override {
    EndText();
    m_afterCdata = false;
    Guarded([this] { m_frames.emplace_back(); });
  }
  void EndElement() override {
    EndText();
    m_afterCdata = false;
    if (m_frames.size() < 2) return;
    const bool owed = m_frames.back().owesSpace;
    m_frames.pop_back();
    m_frames.back().owesSpace = m_frames.back().owesSpace || owed;
  }
  void Markup() override {
    EndText();
    m_afterCdata = false;
  }
  void Cdata(bool starts) override {
    const bool joined = starts && m_afterCdata;
    EndText();
    m_inCdata = starts;
    Frame& top = m_frames.back();
    if (!starts) {
      top.owesSpace = top.owesSpace || m_spaceAfterJoined;
      m_spaceAfterJoined = false;
      m_afterCdata = true;
    } else if (joined) {
      // The DOM joins a section to the one before it when only white space lies between: the
      // space that white space owes comes after both.
      m_spaceAfterJoined = m_spaceAfterJoined || top.owesSpace;
      top.owesSpace = false;
    } else {
      if (top.hasText && top.owesSpace) m_sink.TextPiece(&kOwedSpace, 1);
      top.owesSpace = false;
    }
  }
  void End() override { EndText(); }
  bool OutOfMemory() const override { return m_outOfMemory; }

  void Characters(const char* data, std::size_t length, WrittenAs writtenAs) override {
    // A line end written with a carriage return ends the literal run before it.
    if (writtenAs == WrittenAs::kReturnedLineEnd && !m_inCdata) EndLiteral(false);
    if (m_inCdata) {
      Append(data, length);
    } else if (writtenAs == WrittenAs::kReference) {
      Reference(data, length);
    } else if (m_literalHasContent) {
      m_sink.TextPiece(data, length);
    } else {
      Literal(data, length);
    }
  }

 private:
  template <typename Action>
  void Guarded(Action action) {
    try {
      action();
    } catch (const std::bad_alloc&) {
      m_outOfMemory = true;
    }
  }

  void Literal(const char* data, std::size_t length) {
    KeepHeldReference();
    m_literalOpen = true;
    if (AllSpace(data, length)) {
      Guarded([&] { m_literalSpace.append(data, length); });
      return;
    }
    m_literalHasContent = true;
    Content(data, length);
  }

  void Reference(const char* data, std::size_t length) {
    EndLiteral(false);
    if (!m_frames.back().inTextNode) {
      if (AllSpace(data, length)) {
        m_dropped = true;
      } else {
        Content(data, length);
      }
      return;
    }
    KeepHeldReference();
    if (length <= sizeof m_heldReference && AllSpace(data, length)) {
      std::memcpy(m_heldReference, data, length);
      m_heldReferenceLength = length;
    } else {
      m_sink.TextPiece(data, length);
    }
  }

  // A held reference of white space that turned out not to be the last chunk before markup.
  void KeepHeldReference() {
    if (m_heldReferenceLength > 0) m_sink.TextPiece(m_heldReference, m_heldReferenceLength);
    m_heldReferenceLength = 0;
  }

  // Ends a literal run; one of white space alone is kept or dropped.
  void EndLiteral(bool atMarkup) {
    if (m_literalOpen && !m_literalHasContent) {
      const bool keep = m_frames.back().inTextNode &&
                        (!atMarkup || m_literalSpace.find('\t') != std::string::npos);
      if (keep) {
        m_sink.TextPiece(m_literalSpace.data(), m_literalSpace.size());
      } else {
        m_dropped = true;
      }
    }
    m_literalSpace.clear();
    m_literalOpen = false;
    m_literalHasContent = false;
  }

  // Content after markup, or in a text: white space dropped before it is owed, while the white
  // space its own literal run began with stays.
  void Content(const char* data, std::size_t length) {
    m_afterCdata = false;
    Frame& top = m_frames.back();
    if (m_dropped && !top.inTextNode) top.owesSpace = true;
    m_dropped = false;
    Append(m_literalSpace.data(), m_literalSpace.size());
    m_literalSpace.clear();
    Append(data, length);
    m_frames.back().inTextNode = true;
  }

  // Hands on content, paying the space owed by the nearest element that already has text, when
  // this is the first text of the elements between.
  void Append(const char* data, std::size_t length) {
    if (length == 0) return;
    std::size_t first = m_frames.size() - 1;
    while (first > 0 && !m_frames[first].hasText && !m_frames[first - 1].hasText) --first;
    if (m_frames[first].hasText) {
      if (m_frames[first].owesSpace) m_sink.TextPiece(&kOwedSpace, 1);
    } else if (first > 0 && m_frames[first - 1].owesSpace) {
      m_sink.TextPiece(&kOwedSpace, 1);
      m_frames[first - 1].owesSpace = false;
    }
    for (std::size_t i = first; i < m_frames.size(); ++i) {
      m_frames[i].hasText = true;
      m_frames[i].owesSpace = false;
    }
    m_sink.TextPiece(data, length);
  }

  // Markup ends the text: what white space is dropped there makes the element owe a space.
  void EndText() {
    EndLiteral(true);
    Frame& top = m_frames.back();
    if (m_heldReferenceLength > 0 || m_dropped) top.owesSpace = true;
    m_heldReferenceLength = 0;
    m_dropped = false;
    top.inTextNode = false;
  }

  TextPieceSink& m_sink;
  std::vector<Frame> m_frames;
  std::string m_literalSpace;  // the open literal run, while it is white space alone
  bool m_literalOpen = false;
  bool m_literalHasContent = false;
  bool m_dropped = false;  // white space since the last content or markup was dropped
  // A reference of white space inside a text, dropped if markup comes next.
  char m_heldReference[kLongestCharacter] = {};
  std::size_t m_heldReferenceLength = 0;
  bool m_inCdata = false;
  bool m_afterCdata = false;        // a CDATA section ended, and only white space came since
  bool m_spaceAfterJoined = false;  // white space between joined sections owes a space after them
  bool m_outOfMemory = false;
};

}  // namespace

std::unique_ptr<DomTextRule> CreateDomTextRule(TextPieceSink& sink) {
  return std::make_unique<MsxmlTextRule>(sink);
}

bool DomTextIsUtf8() { return false; }
