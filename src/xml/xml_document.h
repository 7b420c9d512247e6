// The system's only access to XML: load a document by address, from bytes or from text, and read
// element texts by path. Windows: the MSXML DOM through COM (xml_document_msxml.cpp); POSIX:
// pugixml (xml_document_pugixml.cpp). Texts are narrow: the ANSI code page on Windows, UTF-8 on
// POSIX.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "net/fetch.h"

// The most levels of elements a document may nest below its document element. A deeper document
// is refused at load on both backends (Wine's DOM parser stops at exactly this depth), so no walk
// over a loaded document ever goes deeper.
constexpr int kMaxElementDepth = 256;

// What GetLongValue and GetNodeLongText answer besides a text's length (0 is also what
// GetLongValue answers for a document without document element).
constexpr long long kLongTextNotFound = -1;  // no document, nothing matches, a NUL, failed
constexpr long long kLongTextTooLong = -2;   // longer than the caller's maximum

// One reference to an element handed out by XmlDocument::SelectNode. Releases it when destroyed
// or reset; safe to outlive the document it came from.
class XmlNode {
 public:
  XmlNode();
  ~XmlNode();
  XmlNode(XmlNode&& other) noexcept;
  XmlNode& operator=(XmlNode&& other) noexcept;
  XmlNode(const XmlNode&) = delete;
  XmlNode& operator=(const XmlNode&) = delete;

  bool IsEmpty() const;
  void Reset();

 private:
  // The backend's own handle on the element: only the backend (XmlDocument and the node text
  // readers it defines) reaches it.
  struct Impl;
  friend class XmlDocument;
  friend int GetNodeText(const XmlNode& node, const char* path, char* buffer,
                         std::size_t bufferSize);
  friend long long GetNodeLongText(const XmlNode& node, const char* path, std::string& text,
                                   std::size_t maxLength);
  Impl* GetImpl() const { return m_impl.get(); }
  void SetImpl(std::unique_ptr<Impl> impl);

  std::unique_ptr<Impl> m_impl;
};

class XmlDocument {
 public:
  XmlDocument();
  virtual ~XmlDocument();
  XmlDocument(const XmlDocument&) = delete;
  XmlDocument& operator=(const XmlDocument&) = delete;

  // Loads the document. With `fromAddress` true `source` is an address (fetched under the current
  // fetch limits, then parsed); otherwise it is the XML text itself. Returns true when loaded.
  // Refused as not well-formed: a document with a DOCTYPE (so no entity is ever expanded or
  // fetched), a document nested deeper than kMaxElementDepth, and one whose
  // character data or attributes hold a reference that is not one of the five predefined
  // entities or a character reference to a character XML allows (such as `&#0;`). A failed load
  // leaves a document without a document element. Raises std::bad_alloc only when
  // memory for the request runs out.
  // A load by address is a fetch followed by LoadBytes.
  bool Load(const char* source, bool fromAddress);

  // Loads the document from `bytes` as a load by address would after its fetch: the document's
  // own encoding declaration decides the decoding, and the same documents are refused. For bytes
  // already fetched and checked (a signed manifest), so the document is parsed from exactly them.
  // The last fetch status becomes kOk. Returns true when loaded; raises std::bad_alloc only when
  // memory runs out.
  bool LoadBytes(std::vector<char> bytes);

  // Limits for the next loads by address (size cap, time-outs).
  void SetFetchLimits(const FetchLimits& limits);
  // Where the next loads by address fetch from (default: DefaultFetcher()). `fetcher` must
  // outlive those loads.
  void SetFetcher(Fetcher& fetcher);
  // Why the last load by address failed at the fetch (kOk when the fetch succeeded).
  FetchStatus GetLastFetchStatus() const;

  // True when `path` names an element: the document element counts when its own name equals the
  // last step of `path`; otherwise the element the path selects must bear that name.
  bool Exists(const char* path) const;

  // Copies the text of the element at `path` (relative to the document element) with its
  // terminator into `buffer`. Returns its length in bytes; -1 when there is no document, nothing
  // matches, or the text does not fit `bufferSize` bytes or holds a NUL (it could only be read
  // cut); 0 when the document has no document element. Writes `buffer` only when it returns a
  // length of a text it copied.
  int GetValue(const char* path, char* buffer, std::size_t bufferSize) const;

  // As GetValue, for texts too large for a fixed buffer: replaces `text` with the element's text
  // when it is at most `maxLength` bytes long and returns its length. Otherwise `text` is
  // untouched and the result is kLongTextNotFound (no document, nothing matches, a text holding a
  // NUL, failed), kLongTextTooLong (the element's text is longer than `maxLength`) or 0 (a
  // document without document element).
  long long GetLongValue(const char* path, std::string& text, std::size_t maxLength) const;

  // Hands out the element at `path` in `nodeOut`. Returns 1 when found, -1 when not found or
  // failed, 0 when there is no document or no document element (then `nodeOut` is untouched).
  int SelectNode(XmlNode& nodeOut, const char* path) const;

  // The highest N for which the document element has a child element named `stem` followed by N
  // (see NumberAfterStem); 0 when there is none or no document. One pass over the children, so
  // a count in a manifest can be bounded by what the manifest actually holds.
  int HighestNumberedChild(const char* stem) const;

 private:
  struct Impl;  // defined by the backend
  std::unique_ptr<Impl> m_impl;
};

// Copies the text of the child of `node` at `path` into `buffer`, which is emptied first.
// Returns the text's length in bytes, or -1 when there is no such child, `node` is empty, or the
// text does not fit `bufferSize` bytes or holds a NUL (the buffer then holds the empty string).
int GetNodeText(const XmlNode& node, const char* path, char* buffer, std::size_t bufferSize);

// As GetNodeText, telling a missing child from a long text: replaces `text` with the text of the
// child of `node` at `path` when it is at most `maxLength` bytes and returns its length; otherwise
// leaves `text` untouched and returns kLongTextNotFound (no such child, `node` empty, failed) or
// kLongTextTooLong (the text is longer than `maxLength`).
long long GetNodeLongText(const XmlNode& node, const char* path, std::string& text,
                          std::size_t maxLength);
