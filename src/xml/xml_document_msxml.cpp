// XmlDocument over the MSXML DOM document, created through COM; the bytes of an address are
// fetched under the shared policy and parsed from an array of bytes. Every document must also
// pass expat (expat_parser.h), as on POSIX, so the streaming reader refuses what this refuses.
// Windows target only.
#include "xml/xml_document.h"

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <msxml2.h>
#include <wrl/client.h>

#include <climits>
#include <cstring>
#include <cwchar>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "common/fixed_buffer.h"
#include "common/unique_handle.h"
#include "common/win32_handles.h"
#include "xml/expat_parser.h"
#include "xml/numbered_name.h"

using Microsoft::WRL::ComPtr;

namespace {

// The import libraries lack the symbols msxml2.h maps these names to, so they are spelled here.
const CLSID kDomDocumentClsid = {
    0xF6D90F11, 0x9C73, 0x11D3, {0xB3, 0x2E, 0x00, 0xC0, 0x4F, 0x99, 0x0B, 0xB4}};
const IID kDomDocumentIid = {
    0x2933BF81, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
const IID kDomDocument2Iid = {
    0x2933BF95, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

// The encoding expat reads a text MSXML took as characters in.
constexpr char kUtf8Encoding[] = "UTF-8";

// Element names compared by Exists are converted into a buffer of this size.
constexpr std::size_t kNameBufferSize = 250;

struct SafeArrayTraits {
  using Handle = SAFEARRAY*;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle handle) { SafeArrayDestroy(handle); }
};
using UniqueSafeArray = UniqueHandle<SafeArrayTraits>;

// A copy of `bytes` as a one-dimensional SAFEARRAY of VT_UI1, the form of a VARIANT that load()
// parses in one pass. (A memory stream from SHCreateMemStream is read in a way whose time grows
// with the square of its size under Wine: 126 s for 32 MiB, against half a second this way.)
// Raises std::bad_alloc when the array cannot be allocated.
UniqueSafeArray BytesToSafeArray(const std::vector<char>& bytes) {
  UniqueSafeArray array(SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size())));
  if (!array) throw std::bad_alloc();
  void* data = nullptr;
  if (FAILED(SafeArrayAccessData(array.Get(), &data))) throw std::bad_alloc();
  std::memcpy(data, bytes.data(), bytes.size());
  SafeArrayUnaccessData(array.Get());
  return array;
}

// Converts the whole narrow (ANSI code page) text, without its terminator, into a new BSTR.
// Returns false when the text cannot be converted; raises std::bad_alloc when the string cannot
// be allocated.
bool NarrowToBstr(const char* text, UniqueBstr& out) {
  if (text == nullptr) return false;
  const std::size_t length = std::strlen(text);
  if (length > static_cast<std::size_t>(INT_MAX)) return false;
  int wideLength = 0;
  if (length > 0) {
    wideLength = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0);
    if (wideLength <= 0) return false;
  }
  out.Reset(SysAllocStringLen(nullptr, static_cast<UINT>(wideLength)));
  if (!out) throw std::bad_alloc();
  return wideLength == 0 || MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length),
                                                out.Get(), wideLength) == wideLength;
}

// Number of bytes `text` takes in the ANSI code page (no terminator); -1 when it cannot be
// converted. An absent string is the empty text. A text holding U+0000 counts as unconvertible:
// every narrow reader measures by the terminator and would take it cut short.
long long MeasureNarrow(BSTR text) {
  const UINT wideLength = SysStringLen(text);
  if (wideLength == 0) return 0;
  if (wideLength > static_cast<UINT>(INT_MAX)) return -1;
  if (std::wmemchr(text, L'\0', wideLength) != nullptr) return -1;
  const int length = WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(wideLength), nullptr, 0,
                                         nullptr, nullptr);
  return length > 0 ? length : -1;
}

// Converts `text` to the ANSI code page; characters the code page lacks become its default
// character. Returns false when the conversion fails.
bool BstrToNarrow(BSTR text, std::string& out) {
  const long long length = MeasureNarrow(text);
  if (length < 0) return false;
  std::string converted(static_cast<std::size_t>(length), '\0');
  if (length > 0 &&
      WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(SysStringLen(text)), &converted[0],
                          static_cast<int>(length), nullptr, nullptr) != length) {
    return false;
  }
  out.swap(converted);
  return true;
}

// Whether expat takes a text MSXML reads as characters (loadXML): its UTF-16 form, in UTF-8, read
// as UTF-8 whatever it declares, since MSXML ignores the declaration there too. Raises
// std::bad_alloc when memory ran out.
bool ExpatAcceptsText(BSTR text) {
  const UINT wideLength = SysStringLen(text);
  if (wideLength > static_cast<UINT>(INT_MAX)) return false;
  std::string utf8;
  if (wideLength > 0) {
    const int length =
        WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, static_cast<int>(wideLength),
                            nullptr, 0, nullptr, nullptr);
    if (length <= 0) return false;
    utf8.resize(static_cast<std::size_t>(length));
    if (WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, static_cast<int>(wideLength),
                            &utf8[0], length, nullptr, nullptr) != length) {
      return false;
    }
  }
  return ExpatAccepts(utf8.data(), utf8.size(), kUtf8Encoding);
}

// Converts a name for Exists; false when it cannot be converted or is longer than the name
// buffer holds, so an over-long name never compares equal to anything.
bool ReadName(BSTR name, char (&buffer)[kNameBufferSize]) {
  std::string narrow;
  if (!BstrToNarrow(name, narrow)) return false;
  return CopyText(buffer, narrow.c_str());
}

// Sets one parser or query property through the newer interface; false when the DOM lacks the
// interface or refuses the property.
bool SetDocumentProperty(IXMLDOMDocument* document, const wchar_t* propertyName,
                         const VARIANT& value) {
  ComPtr<IXMLDOMDocument2> document2;
  if (FAILED(document->QueryInterface(kDomDocument2Iid,
                                      reinterpret_cast<void**>(document2.GetAddressOf())))) {
    return false;
  }
  UniqueBstr name(SysAllocString(propertyName));
  if (!name) return false;
  return SUCCEEDED(document2->setProperty(name.Get(), value));
}

// Paths are queried as XPath 1.0, the language the POSIX backend speaks, so both read a path
// alike. The default (XSLPattern) also takes the whole process down under Wine on a path it
// cannot parse, where XPath fails the call. Without the newer interface the default stays.
void UseXPathQueries(IXMLDOMDocument* document) {
  UniqueBstr language(SysAllocString(L"XPath"));
  if (!language) return;
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_BSTR;
  value.bstrVal = language.Get();  // borrowed: `language` frees it
  SetDocumentProperty(document, L"SelectionLanguage", value);
}

// The same nesting limit as the POSIX backend; the property counts the document element as a
// level of its own. Older DOM versions default to no limit at all; Wine ignores the property, its
// parser stopping at the same depth by itself.
void LimitElementDepth(IXMLDOMDocument* document) {
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_I4;
  value.lVal = kMaxElementDepth + 1;
  SetDocumentProperty(document, L"MaxElementDepth", value);
}

// A document names no other document the DOM would fetch by itself, outside the fetch rules:
// external DTDs and entities are neither resolved nor validated against. A DOCTYPE is refused
// outright, as the POSIX backend refuses it, which also ends entity expansion attacks.
void RefuseExternalResources(IXMLDOMDocument* document) {
  document->put_resolveExternals(VARIANT_FALSE);
  document->put_validateOnParse(VARIANT_FALSE);
  VARIANT prohibit;
  VariantInit(&prohibit);
  prohibit.vt = VT_BOOL;
  prohibit.boolVal = VARIANT_TRUE;
  SetDocumentProperty(document, L"ProhibitDTD", prohibit);
}

// Wine accepts the property above but parses a DOCTYPE anyway: whatever came through is refused
// after the parse. Its parser stops entity expansion attacks by itself.
bool HasDocumentType(IXMLDOMDocument* document) {
  ComPtr<IXMLDOMDocumentType> type;
  return document->get_doctype(type.GetAddressOf()) == S_OK && type;
}

// Drops the document's content, so that a failed load leaves no document element behind.
void ClearDocument(IXMLDOMDocument* document) {
  UniqueBstr empty(SysAllocString(L""));
  if (!empty) return;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  document->loadXML(empty.Get(), &loaded);
}

// Reads the `text` of `node` into `out`; false when it cannot be read or converted.
bool ReadNodeText(IXMLDOMNode* node, std::string& out) {
  UniqueBstr text;
  if (FAILED(node->get_text(text.Put()))) return false;
  return BstrToNarrow(text.Get(), out);
}

}  // namespace

struct XmlNode::Impl {
  ComPtr<IXMLDOMNode> m_node;
};

struct XmlDocument::Impl {
  int m_comInitialized = 0;  // set when Load initialised COM; COM is never uninitialised
  ComPtr<IXMLDOMDocument> m_document;
  FetchLimits m_limits;
  Fetcher* m_fetcher = &DefaultFetcher();
  FetchStatus m_lastFetchStatus = FetchStatus::kOk;

  // The node whose text GetValue and GetLongValue read: 1 with the node; -1 no document or
  // nothing matches; 0 a document without document element.
  int SelectTextNode(const XmlDocument& owner, XmlNode& node, const char* path) const;
  // Creates the DOM document at the first load; false when COM cannot make one.
  bool EnsureDocument();
  // Whether a parse that ended with `result` and `loaded` left a document to keep; clears it
  // otherwise.
  bool KeepLoaded(HRESULT result, VARIANT_BOOL loaded);
};

XmlNode::XmlNode() = default;
XmlNode::~XmlNode() = default;
XmlNode::XmlNode(XmlNode&& other) noexcept = default;
XmlNode& XmlNode::operator=(XmlNode&& other) noexcept = default;

bool XmlNode::IsEmpty() const { return !m_impl || !m_impl->m_node; }

void XmlNode::Reset() { m_impl.reset(); }

void XmlNode::SetImpl(std::unique_ptr<Impl> impl) { m_impl = std::move(impl); }

XmlDocument::XmlDocument() : m_impl(std::make_unique<Impl>()) {}

XmlDocument::~XmlDocument() {
  try {
    if (m_impl && m_impl->m_document) {
      ClearDocument(m_impl->m_document.Get());
      m_impl->m_document.Reset();
    }
  } catch (...) {
    // A destructor has no one to report to.
  }
}

void XmlDocument::SetFetchLimits(const FetchLimits& limits) { m_impl->m_limits = limits; }

void XmlDocument::SetFetcher(Fetcher& fetcher) { m_impl->m_fetcher = &fetcher; }

FetchStatus XmlDocument::GetLastFetchStatus() const { return m_impl->m_lastFetchStatus; }

bool XmlDocument::Impl::EnsureDocument() {
  if (m_document) return true;
  // The process normally initialised COM already; a second initialisation is harmless.
  CoInitialize(nullptr);
  m_comInitialized = 1;
  const HRESULT created =
      CoCreateInstance(kDomDocumentClsid, nullptr, CLSCTX_INPROC_SERVER, kDomDocumentIid,
                       reinterpret_cast<void**>(m_document.ReleaseAndGetAddressOf()));
  if (FAILED(created) || !m_document) {
    m_document.Reset();
    return false;
  }
  UseXPathQueries(m_document.Get());
  LimitElementDepth(m_document.Get());
  RefuseExternalResources(m_document.Get());
  return true;
}

bool XmlDocument::Impl::KeepLoaded(HRESULT result, VARIANT_BOOL loaded) {
  IXMLDOMDocument* document = m_document.Get();
  const bool success = result == S_OK && loaded != VARIANT_FALSE && !HasDocumentType(document);
  if (!success) ClearDocument(document);
  return success;
}

bool XmlDocument::Load(const char* source, bool fromAddress) {
  Impl& impl = *m_impl;
  if (!impl.EnsureDocument()) return false;
  IXMLDOMDocument* document = impl.m_document.Get();
  if (fromAddress) {
    std::vector<char> body;
    const FetchStatus fetched = source != nullptr
                                    ? impl.m_fetcher->Fetch(source, impl.m_limits, body)
                                    : FetchStatus::kUnsupportedAddress;
    if (fetched != FetchStatus::kOk) {
      impl.m_lastFetchStatus = fetched;
      ClearDocument(document);
      return false;
    }
    return LoadBytes(std::move(body));
  }
  UniqueBstr text;
  bool converted = false;
  try {
    converted = source != nullptr && NarrowToBstr(source, text) && ExpatAcceptsText(text.Get());
  } catch (const std::bad_alloc&) {
    ClearDocument(document);
    throw;
  }
  if (!converted) {
    ClearDocument(document);
    return false;
  }
  VARIANT_BOOL loaded = VARIANT_FALSE;
  const HRESULT result = document->loadXML(text.Get(), &loaded);
  return impl.KeepLoaded(result, loaded);
}

bool XmlDocument::LoadBytes(std::vector<char> bytes) {
  Impl& impl = *m_impl;
  if (!impl.EnsureDocument()) return false;
  impl.m_lastFetchStatus = FetchStatus::kOk;
  IXMLDOMDocument* document = impl.m_document.Get();
  UniqueSafeArray array;
  {
    // The array keeps its own copy; the bytes go as soon as it exists.
    std::vector<char> body(std::move(bytes));
    if (body.empty() || body.size() > static_cast<std::size_t>(UINT_MAX)) {
      ClearDocument(document);
      return false;
    }
    try {
      if (!ExpatAccepts(body.data(), body.size())) {
        ClearDocument(document);
        return false;
      }
      array = BytesToSafeArray(body);
    } catch (const std::bad_alloc&) {
      ClearDocument(document);
      throw;
    }
  }
  // Parsing from bytes lets the document's own encoding declaration decide the decoding.
  VARIANT input;
  VariantInit(&input);
  input.vt = VT_ARRAY | VT_UI1;
  input.parray = array.Get();  // borrowed: `array` destroys it
  document->put_async(VARIANT_FALSE);
  VARIANT_BOOL loaded = VARIANT_FALSE;
  const HRESULT result = document->load(input, &loaded);
  return impl.KeepLoaded(result, loaded);
}

int XmlDocument::SelectNode(XmlNode& nodeOut, const char* path) const {
  if (!m_impl->m_document) return 0;
  try {
    ComPtr<IXMLDOMElement> root;
    if (m_impl->m_document->get_documentElement(root.GetAddressOf()) != S_OK || !root) return 0;
    UniqueBstr query;
    if (!NarrowToBstr(path, query)) return -1;
    ComPtr<IXMLDOMNode> found;
    if (root->selectSingleNode(query.Get(), found.GetAddressOf()) != S_OK || !found) return -1;
    auto impl = std::make_unique<XmlNode::Impl>();
    impl->m_node = std::move(found);
    nodeOut.SetImpl(std::move(impl));
    return 1;
  } catch (...) {
    return -1;
  }
}

int XmlDocument::Impl::SelectTextNode(const XmlDocument& owner, XmlNode& node,
                                      const char* path) const {
  if (!m_document) return -1;
  const int selected = owner.SelectNode(node, path);
  if (selected == -1) return -1;
  return node.IsEmpty() ? selected : 1;
}

int XmlDocument::GetValue(const char* path, char* buffer, std::size_t bufferSize) const {
  try {
    XmlNode node;
    const int selected = m_impl->SelectTextNode(*this, node, path);
    if (selected != 1) return selected;
    std::string text;
    if (!ReadNodeText(node.GetImpl()->m_node.Get(), text)) return -1;
    if (text.size() > static_cast<std::size_t>(INT_MAX)) return -1;
    // A text that does not fit is refused whole: a cut path or address would name another file.
    if (!CopyText(buffer, bufferSize, text.c_str())) return -1;
    return static_cast<int>(text.size());
  } catch (...) {
    return -1;
  }
}

long long XmlDocument::GetLongValue(const char* path, std::string& text,
                                    std::size_t maxLength) const {
  try {
    XmlNode node;
    const int selected = m_impl->SelectTextNode(*this, node, path);
    if (selected != 1) return selected;
    UniqueBstr wide;
    if (FAILED(node.GetImpl()->m_node->get_text(wide.Put()))) return -1;
    node.Reset();
    // Measured before converting, so an oversized text never costs a narrow copy.
    const long long length = MeasureNarrow(wide.Get());
    if (length < 0) return -1;
    if (static_cast<unsigned long long>(length) > maxLength) return kLongTextTooLong;
    std::string converted;
    if (!BstrToNarrow(wide.Get(), converted)) return -1;
    text.swap(converted);
    return length;
  } catch (...) {
    return -1;
  }
}

int XmlDocument::HighestNumberedChild(const char* stem) const {
  if (!m_impl->m_document || stem == nullptr) return 0;
  try {
    ComPtr<IXMLDOMElement> root;
    if (FAILED(m_impl->m_document->get_documentElement(root.GetAddressOf())) || !root) return 0;
    ComPtr<IXMLDOMNodeList> children;
    if (FAILED(root->get_childNodes(children.GetAddressOf())) || !children) return 0;
    long count = 0;
    if (FAILED(children->get_length(&count))) return 0;
    int highest = 0;
    for (long i = 0; i < count; ++i) {
      ComPtr<IXMLDOMNode> child;
      DOMNodeType type = NODE_INVALID;
      if (children->get_item(i, child.GetAddressOf()) != S_OK || !child) continue;
      if (FAILED(child->get_nodeType(&type)) || type != NODE_ELEMENT) continue;
      UniqueBstr nodeName;
      char name[kNameBufferSize] = {};
      if (FAILED(child->get_nodeName(nodeName.Put())) || !ReadName(nodeName.Get(), name)) continue;
      const int number = NumberAfterStem(name, stem);
      if (number > highest) highest = number;
    }
    return highest;
  } catch (...) {
    return 0;
  }
}

bool XmlDocument::Exists(const char* path) const {
  if (!m_impl->m_document || path == nullptr) return false;
  try {
    const char* slash = std::strrchr(path, '/');
    const char* leaf = slash != nullptr ? slash + 1 : path;
    char name[kNameBufferSize] = {};

    {
      ComPtr<IXMLDOMElement> root;
      if (FAILED(m_impl->m_document->get_documentElement(root.GetAddressOf())) || !root) {
        return false;
      }
      UniqueBstr tagName;
      // An absent name reads as the empty string.
      if (FAILED(root->get_tagName(tagName.Put()))) tagName.Reset();
      // The document element counts on its own name alone, whatever the path's other steps say.
      if (ReadName(tagName.Get(), name) && lstrcmpA(name, leaf) == 0) return true;
    }

    XmlNode node;
    SelectNode(node, path);
    if (node.IsEmpty()) return false;
    UniqueBstr nodeName;
    if (FAILED(node.GetImpl()->m_node->get_nodeName(nodeName.Put()))) nodeName.Reset();
    // An attribute step's node is named without its "@", so it never matches the leaf.
    return ReadName(nodeName.Get(), name) && lstrcmpA(name, leaf) == 0;
  } catch (...) {
    return false;
  }
}

namespace {

// The text of the child of `node` at `path`; false when there is none or it cannot be read.
bool ReadChildText(IXMLDOMNode* element, const char* path, std::string& text) {
  UniqueBstr query;
  if (!NarrowToBstr(path, query)) return false;
  ComPtr<IXMLDOMNode> found;
  if (element->selectSingleNode(query.Get(), found.GetAddressOf()) != S_OK || !found) {
    return false;
  }
  return ReadNodeText(found.Get(), text);
}

}  // namespace

int GetNodeText(const XmlNode& node, const char* path, char* buffer, std::size_t bufferSize) {
  CopyText(buffer, bufferSize, "");
  try {
    std::string text;
    if (node.IsEmpty() || !ReadChildText(node.GetImpl()->m_node.Get(), path, text)) {
      return -1;
    }
    if (text.size() > static_cast<std::size_t>(INT_MAX)) return -1;
    if (!CopyText(buffer, bufferSize, text.c_str())) return -1;
    return static_cast<int>(text.size());
  } catch (...) {
    return -1;
  }
}

long long GetNodeLongText(const XmlNode& node, const char* path, std::string& text,
                          std::size_t maxLength) {
  try {
    std::string value;
    if (node.IsEmpty() || !ReadChildText(node.GetImpl()->m_node.Get(), path, value)) {
      return kLongTextNotFound;
    }
    if (value.size() > maxLength) return kLongTextTooLong;
    text.swap(value);
    return static_cast<long long>(text.size());
  } catch (...) {
    return kLongTextNotFound;
  }
}
