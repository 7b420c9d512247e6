// How the platform's DOM forms the text of an element out of its content, for the streaming
// reader to hand on the same text piece by piece: which runs of white space between markup it
// drops, and the form it gives characters beyond ASCII. POSIX: dom_text_rule_pugixml.cpp;
// Windows: dom_text_rule_msxml.cpp. Private to src/xml.
#pragma once

#include <cstddef>
#include <memory>

#include "xml/child_text_reader.h"
#include "xml/expat_parser.h"

// Takes the content of one element in document order, as the parser reports it, and hands the
// element's text to a sink, not yet trimmed.
class DomTextRule {
 public:
  virtual ~DomTextRule() = default;
  // A descendant element starts or ends.
  virtual void StartElement() = 0;
  virtual void EndElement() = 0;
  // A comment or processing instruction.
  virtual void Markup() = 0;
  // A CDATA section starts or ends.
  virtual void Cdata(bool starts) = 0;
  // Characters, as expat hands them on, and how they were written.
  virtual void Characters(const char* data, std::size_t length, WrittenAs writtenAs) = 0;
  // The element ends.
  virtual void End() = 0;
  // True once memory ran out; the text handed on is then incomplete.
  virtual bool OutOfMemory() const = 0;
};

// The platform's rule, handing the text to `sink`, which must outlive it. Raises std::bad_alloc.
std::unique_ptr<DomTextRule> CreateDomTextRule(TextPieceSink& sink);

// True when the DOM hands a UTF-8 document's text out in UTF-8 (POSIX); false when it hands out
// every character beyond ASCII as one byte of the ANSI code page, whatever the document's
// encoding (Windows).
bool DomTextIsUtf8();
