// POSIX XML access over pugixml. Texts come out in UTF-8; element texts follow the DOM's rule of
// all descendant character data with leading and trailing white space dropped.
#include <iconv.h>
#include <pugixml.hpp>

#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "common/fixed_buffer.h"
#include "common/posix_handles.h"
#include "xml/expat_parser.h"
#include "xml/numbered_name.h"
#include "xml/xml_document.h"

namespace {

// The parsed document and the bytes it was parsed from in place; shared with every node handed
// out, so a node stays valid after the XmlDocument that produced it has gone.
struct ParsedDocument {
  std::vector<char> storage;
  pugi::xml_document document;
};

// DOCTYPEs are kept as nodes so that a document having one can be refused.
constexpr unsigned kParseOptions = pugi::parse_default | pugi::parse_doctype;
constexpr unsigned long kLastCodePoint = 0x10FFFF;

bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Collects all descendant character data in document order. pugixml's traversal climbs back
// through parent links, so even a very deep element costs no stack.
class DescendantText : public pugi::xml_tree_walker {
 public:
  explicit DescendantText(std::string& text) : m_text(text) {}
  bool for_each(pugi::xml_node& node) override {
    if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata) m_text += node.value();
    return true;
  }

 private:
  std::string& m_text;
};

// Finds whether any element lies deeper than kMaxElementDepth; stops at the first that does.
class DepthCheck : public pugi::xml_tree_walker {
 public:
  bool for_each(pugi::xml_node& node) override {
    // depth() is 0 for the document element when walking from the document.
    m_tooDeep = node.type() == pugi::node_element && depth() > kMaxElementDepth;
    return !m_tooDeep;
  }
  bool TooDeep() const { return m_tooDeep; }

 private:
  bool m_tooDeep = false;
};

void AppendDescendantText(pugi::xml_node node, std::string& text) {
  DescendantText collector(text);
  node.traverse(collector);
}

// The text of a selected node, trimmed, as a pointer and length. A node whose text is one run of
// character data (the usual case, and the one for large file contents) is read in place.
void NodeText(const pugi::xpath_node& found, std::string& scratch, const char*& text,
              std::size_t& length) {
  if (found.attribute()) {
    text = found.attribute().value();
  } else {
    const pugi::xml_node node = found.node();
    const pugi::xml_node first = node.first_child();
    const bool singleRun = first && !first.next_sibling() &&
                           (first.type() == pugi::node_pcdata || first.type() == pugi::node_cdata);
    if (singleRun) {
      text = first.value();
    } else {
      scratch.clear();
      AppendDescendantText(node, scratch);
      text = scratch.c_str();
    }
  }
  length = std::strlen(text);
  while (length > 0 && IsXmlSpace(*text)) {
    ++text;
    --length;
  }
  while (length > 0 && IsXmlSpace(text[length - 1])) --length;
}

// Characters XML allows in a document; a reference to any other makes it not well-formed.
bool IsXmlChar(unsigned long c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
         (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= kLastCodePoint);
}

bool IsDigitOf(char c, int base) {
  if (c >= '0' && c <= '9') return true;
  return base == 16 && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'));
}

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  return (c >= 'a' && c <= 'f') ? c - 'a' + 10 : c - 'A' + 10;
}

// Length of the character reference ("#65;", "#x41;") at `text`, after its '&', when it names a
// character XML allows; 0 otherwise.
std::size_t CharacterReferenceLength(const char* text, std::size_t size) {
  std::size_t at = 1;
  int base = 10;
  if (at < size && text[at] == 'x') {
    base = 16;
    ++at;
  }
  const std::size_t firstDigit = at;
  unsigned long value = 0;
  for (; at < size && IsDigitOf(text[at], base); ++at) {
    value =
        value * static_cast<unsigned long>(base) + static_cast<unsigned long>(DigitValue(text[at]));
    if (value > kLastCodePoint) return 0;
  }
  if (at == firstDigit || at >= size || text[at] != ';' || !IsXmlChar(value)) return 0;
  return at + 1;
}

// pugixml keeps an unknown or malformed reference as typed, and writes a reference to U+0000 as
// the very terminator its texts are measured by, so such a text would read cut short; the DOM
// refuses the document. True when every '&' in `text` opens one of the five predefined entities
// or a character reference to a character XML allows.
bool ReferencesResolve(const char* text, std::size_t size) {
  static const char* const kPredefined[] = {"amp;", "lt;", "gt;", "quot;", "apos;"};
  if (size == 0) return true;  // an empty body may come without any storage at all
  const char* end = text + size;
  for (const char* at = text; (at = static_cast<const char*>(std::memchr(at, '&', end - at)));) {
    ++at;
    const std::size_t left = static_cast<std::size_t>(end - at);
    std::size_t length = left > 0 && *at == '#' ? CharacterReferenceLength(at, left) : 0;
    for (const char* name : kPredefined) {
      const std::size_t nameLength = std::strlen(name);
      if (length == 0 && left >= nameLength && std::memcmp(at, name, nameLength) == 0) {
        length = nameLength;
      }
    }
    if (length == 0) return false;
    at += length;
  }
  return true;
}

// Checks the references of character data and attribute values as written, i.e. in a parse that
// leaves them undecoded; CDATA sections and comments may hold any '&'.
class ReferenceCheck : public pugi::xml_tree_walker {
 public:
  bool for_each(pugi::xml_node& node) override {
    if (node.type() == pugi::node_pcdata) m_resolve = Resolves(node.value());
    for (pugi::xml_attribute attribute : node.attributes()) {
      if (m_resolve) m_resolve = Resolves(attribute.value());
    }
    return m_resolve;
  }
  bool Resolve() const { return m_resolve; }

 private:
  static bool Resolves(const char* text) { return ReferencesResolve(text, std::strlen(text)); }
  bool m_resolve = true;
};

// Whether the document in `data` holds only references the DOM would resolve alike. The bytes as a
// whole usually settle it at once; only a document with a doubtful '&' somewhere (perhaps inside
// a CDATA section, or in a UTF-16 document) is parsed a second time to look at its values.
bool DocumentReferencesResolve(const char* data, std::size_t size) {
  if (ReferencesResolve(data, size)) return true;
  pugi::xml_document undecoded;
  if (!undecoded.load_buffer(data, size, kParseOptions & ~pugi::parse_escapes)) return false;
  ReferenceCheck check;
  undecoded.traverse(check);
  return check.Resolve();
}

constexpr char kUtf8Encoding[] = "UTF-8";
// An 8-bit encoding's characters are all in the Basic Multilingual Plane: three UTF-8 bytes.
constexpr std::size_t kLongestUtf8OfOneByte = 3;

// Replaces `document`, in the 8-bit encoding `encoding`, with the same characters in UTF-8. False,
// `document` unspecified, when they cannot be converted.
bool ConvertToUtf8(const std::string& encoding, std::vector<char>& document) {
  const UniqueIconv converter(iconv_open(kUtf8Encoding, encoding.c_str()));
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

// As ExpatAccepts, for fetched bytes. pugixml decodes only Latin-1 beside the Unicode encodings
// and would hand out the bytes of any other 8-bit encoding (windows-1252, say) as they are, not
// as UTF-8: such a document is converted to UTF-8 first, as the DOM on Windows decodes it, so both
// targets read the same characters (and name the same files). `converted` says it was.
bool ExpatAcceptsFetched(std::vector<char>& bytes, bool& converted) {
  ExpatParser parser;
  parser.Parse(bytes.data(), bytes.size(), true);
  if (parser.OutOfMemory()) throw std::bad_alloc();
  converted = !parser.Failed() && parser.SingleByteEncoding();
  return !parser.Failed() && (!converted || ConvertToUtf8(parser.EncodingName(), bytes));
}

// pugixml accepts fragments; a document is one element, with only markup and white space around.
// A DOCTYPE is refused: pugixml would leave its entities unexpanded where the DOM expands them,
// and no document of ours needs one. The nesting limit the DOM parser applies is checked here, so
// both backends refuse alike.
bool IsWellFormedDocument(pugi::xml_document& document) {
  int elements = 0;
  for (pugi::xml_node child = document.first_child(); child; child = child.next_sibling()) {
    if (child.type() == pugi::node_element) ++elements;
    if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata ||
        child.type() == pugi::node_doctype) {
      return false;
    }
  }
  if (elements != 1) return false;
  DepthCheck depth;
  document.traverse(depth);
  return !depth.TooDeep();
}

// Whether a parse that ended in `result` left a document to keep; empties `parsed` otherwise.
// Raises std::bad_alloc when the parse ran out of memory.
bool KeepIfWellFormed(ParsedDocument& parsed, const pugi::xml_parse_result& result,
                      bool referencesResolve) {
  if (result.status == pugi::status_out_of_memory) throw std::bad_alloc();
  if (!result || !referencesResolve || !IsWellFormedDocument(parsed.document)) {
    parsed.document.reset();
    parsed.storage.clear();
    parsed.storage.shrink_to_fit();
    return false;
  }
  return true;
}

// The first node `path` selects below `context`; empty when none or the path is malformed.
pugi::xpath_node SelectFirst(const pugi::xml_node& context, const char* path) {
  if (path == nullptr || path[0] == '\0') return pugi::xpath_node();
  try {
    return context.select_node(path);
  } catch (...) {
    return pugi::xpath_node();
  }
}

// Copies a found text with its terminator when it fits; -1 (buffer untouched) when it does not.
int CopyFoundText(const char* text, std::size_t length, char* buffer, std::size_t bufferSize) {
  if (buffer == nullptr || length >= bufferSize || length > 0x7FFFFFFEu) return -1;
  std::memcpy(buffer, text, length);
  buffer[length] = '\0';
  return static_cast<int>(length);
}

}  // namespace

struct XmlNode::Impl {
  std::shared_ptr<ParsedDocument> owner;
  pugi::xpath_node node;
};

XmlNode::XmlNode() = default;
XmlNode::~XmlNode() = default;
XmlNode::XmlNode(XmlNode&& other) noexcept = default;
XmlNode& XmlNode::operator=(XmlNode&& other) noexcept = default;
bool XmlNode::IsEmpty() const { return !m_impl || !m_impl->node; }
void XmlNode::Reset() { m_impl.reset(); }
void XmlNode::SetImpl(std::unique_ptr<Impl> impl) { m_impl = std::move(impl); }

struct XmlDocument::Impl {
  std::shared_ptr<ParsedDocument> parsed;  // null until the first Load
  FetchLimits limits;
  Fetcher* fetcher = &DefaultFetcher();
  FetchStatus lastFetchStatus = FetchStatus::kOk;

  pugi::xml_node Root() const {
    return parsed ? parsed->document.document_element() : pugi::xml_node();
  }
  int FindText(const char* path, std::string& scratch, const char*& text,
               std::size_t& length) const;
};

XmlDocument::XmlDocument() : m_impl(new Impl) {}
XmlDocument::~XmlDocument() = default;

void XmlDocument::SetFetchLimits(const FetchLimits& limits) { m_impl->limits = limits; }
void XmlDocument::SetFetcher(Fetcher& fetcher) { m_impl->fetcher = &fetcher; }
FetchStatus XmlDocument::GetLastFetchStatus() const { return m_impl->lastFetchStatus; }

bool XmlDocument::Load(const char* source, bool fromAddress) {
  // Each load replaces the content; nodes handed out earlier keep the old content alive.
  auto fresh = std::make_shared<ParsedDocument>();
  m_impl->parsed = fresh;
  if (source == nullptr) return false;
  if (fromAddress) {
    std::vector<char> bytes;
    m_impl->lastFetchStatus = m_impl->fetcher->Fetch(source, m_impl->limits, bytes);
    if (m_impl->lastFetchStatus == FetchStatus::kOutOfMemory) throw std::bad_alloc();
    if (m_impl->lastFetchStatus != FetchStatus::kOk) return false;
    return LoadBytes(std::move(bytes));
  }
  m_impl->lastFetchStatus = FetchStatus::kOk;
  // pugixml takes much that is not XML (duplicate attributes, bytes that are not of the
  // document's encoding, control characters); expat, which the streaming reader uses, takes none
  // of it. A document is loaded only when expat finds it well-formed too.
  const bool referencesResolve = ExpatAccepts(source, std::strlen(source)) &&
                                 DocumentReferencesResolve(source, std::strlen(source));
  const pugi::xml_parse_result result = fresh->document.load_string(source, kParseOptions);
  return KeepIfWellFormed(*fresh, result, referencesResolve);
}

bool XmlDocument::LoadBytes(std::vector<char> bytes) {
  auto fresh = std::make_shared<ParsedDocument>();
  m_impl->parsed = fresh;
  m_impl->lastFetchStatus = FetchStatus::kOk;
  fresh->storage.swap(bytes);
  // Checked before the in-place parse rewrites the bytes.
  bool converted = false;
  const bool referencesResolve =
      ExpatAcceptsFetched(fresh->storage, converted) &&
      DocumentReferencesResolve(fresh->storage.data(), fresh->storage.size());
  const pugi::xml_parse_result result = fresh->document.load_buffer_inplace(
      fresh->storage.data(), fresh->storage.size(), kParseOptions,
      converted ? pugi::encoding_utf8 : pugi::encoding_auto);
  return KeepIfWellFormed(*fresh, result, referencesResolve);
}

int XmlDocument::SelectNode(XmlNode& nodeOut, const char* path) const {
  try {
    const pugi::xml_node root = m_impl->Root();
    if (!root) return 0;
    const pugi::xpath_node found = SelectFirst(root, path);
    if (!found) return -1;
    auto impl = std::make_unique<XmlNode::Impl>();
    impl->owner = m_impl->parsed;
    impl->node = found;
    nodeOut.SetImpl(std::move(impl));
    return 1;
  } catch (...) {
    return -1;
  }
}

bool XmlDocument::Exists(const char* path) const {
  try {
    const pugi::xml_node root = m_impl->Root();
    if (!root || path == nullptr) return false;
    const char* slash = std::strrchr(path, '/');
    const char* leaf = slash != nullptr ? slash + 1 : path;
    if (std::strcmp(root.name(), leaf) == 0) return true;
    const pugi::xpath_node found = SelectFirst(root, path);
    if (!found) return false;
    const char* name = found.attribute() ? found.attribute().name() : found.node().name();
    return std::strcmp(name, leaf) == 0;
  } catch (...) {
    return false;
  }
}

// The text at `path` below the document element, for GetValue and GetLongValue: -1 no document
// or nothing matches, 0 no document element, 1 found (then `text` and `length` are set).
int XmlDocument::Impl::FindText(const char* path, std::string& scratch, const char*& text,
                                std::size_t& length) const {
  if (!parsed) return -1;
  const pugi::xml_node root = Root();
  if (!root) return 0;
  const pugi::xpath_node found = SelectFirst(root, path);
  if (!found) return -1;
  NodeText(found, scratch, text, length);
  return 1;
}

int XmlDocument::GetValue(const char* path, char* buffer, std::size_t bufferSize) const {
  try {
    std::string scratch;
    const char* text = nullptr;
    std::size_t length = 0;
    const int found = m_impl->FindText(path, scratch, text, length);
    if (found != 1) return found;
    return CopyFoundText(text, length, buffer, bufferSize);
  } catch (...) {
    return -1;
  }
}

long long XmlDocument::GetLongValue(const char* path, std::string& text,
                                    std::size_t maxLength) const {
  try {
    std::string scratch;
    const char* value = nullptr;
    std::size_t length = 0;
    const int found = m_impl->FindText(path, scratch, value, length);
    if (found != 1) return found;
    if (length > maxLength) return kLongTextTooLong;
    text.assign(value, length);
    return static_cast<long long>(length);
  } catch (...) {
    return -1;
  }
}

int XmlDocument::HighestNumberedChild(const char* stem) const {
  int highest = 0;
  const pugi::xml_node root = m_impl->Root();
  for (pugi::xml_node child = root.first_child(); child; child = child.next_sibling()) {
    if (child.type() != pugi::node_element) continue;
    const int number = NumberAfterStem(child.name(), stem);
    if (number > highest) highest = number;
  }
  return highest;
}

int GetNodeText(const XmlNode& node, const char* path, char* buffer, std::size_t bufferSize) {
  try {
    if (buffer == nullptr || bufferSize == 0) return -1;
    buffer[0] = '\0';
    if (node.IsEmpty() || !node.GetImpl()->node.node()) return -1;
    const pugi::xpath_node found = SelectFirst(node.GetImpl()->node.node(), path);
    if (!found) return -1;
    std::string scratch;
    const char* text = nullptr;
    std::size_t length = 0;
    NodeText(found, scratch, text, length);
    return CopyFoundText(text, length, buffer, bufferSize);
  } catch (...) {
    return -1;
  }
}

long long GetNodeLongText(const XmlNode& node, const char* path, std::string& text,
                          std::size_t maxLength) {
  try {
    if (node.IsEmpty() || !node.GetImpl()->node.node()) return -1;
    const pugi::xpath_node found = SelectFirst(node.GetImpl()->node.node(), path);
    if (!found) return -1;
    std::string scratch;
    const char* value = nullptr;
    std::size_t length = 0;
    NodeText(found, scratch, value, length);
    if (length > maxLength) return kLongTextTooLong;
    text.assign(value, length);
    return static_cast<long long>(length);
  } catch (...) {
    return -1;
  }
}
