// Reading the text of one child of a document's element as the document's bytes arrive, never
// holding the document whole: for file documents, whose text may run to hundreds of MiB. The text
// is the one XmlDocument gives for that child (all descendant character data, white space between
// markup dropped as the DOM drops it), handed on in pieces and not yet trimmed; the document is
// refused exactly as XmlDocument::Load refuses it. Both targets: child_text_reader_expat.cpp, with
// the expat configuration every XmlDocument load must also pass.
#pragma once

#include <cstddef>
#include <memory>

// Takes the pieces of the text, in document order.
class TextPieceSink {
 public:
  virtual ~TextPieceSink() = default;
  virtual void TextPiece(const char* text, std::size_t length) = 0;
};

// What a finished document held, as XmlDocument would have told it.
struct ChildTextOutcome {
  bool wellFormed = false;
  bool outOfMemory = false;
  // XmlDocument::Exists: the document element or a child of it bears the child's name.
  bool exists = false;
  // The child's text was read: the document element has such a child, and its text holds no NUL.
  bool childFound = false;
};

class ChildTextReader {
 public:
  virtual ~ChildTextReader() = default;
  // The next bytes of the document. Once it is known not to be well-formed, nothing more reaches
  // the sink, but the bytes are still taken. False only when memory ran out.
  virtual bool Feed(const char* bytes, std::size_t length) = 0;
  // After the last bytes. Pieces the sink received belong to the outcome's text only when the
  // document turned out well-formed with the child found.
  virtual ChildTextOutcome Finish() = 0;
};

// A reader for the text of the first child of the document element named `childName` (a plain
// name, as XmlDocument::GetLongValue takes it), handing it to `sink`; both must outlive the
// reader. Null when memory ran out.
std::unique_ptr<ChildTextReader> CreateChildTextReader(const char* childName, TextPieceSink& sink);
