// Fuzz target: XmlDocument on any bytes, loaded as the engine loads documents (fetched into
// memory, so the text has no terminator), then every query the engine makes, into the buffer
// sizes it uses. The answers are checked against each other and against the documented contract.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_check.h"
#include "support/memory_fetcher.h"
#include "update/manifest_limits.h"
#include "update/manifest_names.h"
#include "xml/xml_document.h"

namespace {

constexpr char kAddress[] = "http://fuzz.invalid/document.xml";
constexpr char kMarker = '\x5A';
// Beyond the longest input the target is run with (2 MiB): "no limit" for GetLongValue.
constexpr std::size_t kUnlimited = 64u * 1024u * 1024u;
// A limit short of many texts, so the "longer than allowed" answer is reached.
constexpr std::size_t kShortLimit = 3;

// Every element name the engine asks a manifest or a file document for.
const char* const kEnginePaths[] = {
    kVersionElement,  kComponentCountElement,
    kFileSizeElement, kDownloadUrlElement,
    kLibraryElement,  kExtraFileCountElement,
    kActiveXElement,  kFileContentElement,
    "tamcomp1",       "urlcomp1",
    "destcomp1",      "fichAdic1",
};
// The fields the engine reads from a file entry (an additional, ActiveX or library entry).
const char* const kEntryFields[] = {kFileSizeElement, kDownloadUrlElement, kDestinationElement,
                                    kSignatureElement, kLibraryVersionElement};
const char* const kStems[] = {kComponentSizeStem, kComponentUrlStem, kComponentDestStem,
                              kExtraFileStem};

// A heap buffer of exactly `size` bytes filled with the marker: ASan sees any write past it and
// the marker shows whether it was written.
struct MarkedBuffer {
  explicit MarkedBuffer(std::size_t bufferSize) : size(bufferSize), bytes(new char[bufferSize]) {
    std::memset(bytes.get(), kMarker, size);
  }
  bool Untouched() const {
    for (std::size_t i = 0; i < size; ++i) {
      if (bytes[i] != kMarker) return false;
    }
    return true;
  }
  std::size_t size;
  std::unique_ptr<char[]> bytes;
};

// GetValue into a buffer of `bufferSize` agrees with GetLongValue and keeps its contract.
void CheckGetValue(const XmlDocument& document, bool loaded, const char* path,
                   std::size_t bufferSize) {
  std::string longText = "untouched";
  const long long longLength = document.GetLongValue(path, longText, kUnlimited);
  FUZZ_CHECK(longLength >= -1);
  if (!loaded) FUZZ_CHECK(longLength == 0);
  if (longLength < 0) FUZZ_CHECK(longText == "untouched");
  if (longLength >= 0 && loaded) {
    FUZZ_CHECK(static_cast<long long>(longText.size()) == longLength);
    FUZZ_CHECK(document.Exists(path));
  }

  MarkedBuffer buffer(bufferSize);
  const int length = document.GetValue(path, buffer.bytes.get(), buffer.size);
  if (length < 0 || !loaded) {
    FUZZ_CHECK(length == kLongTextNotFound || (length == 0 && !loaded));
    FUZZ_CHECK(buffer.Untouched());
  } else {
    FUZZ_CHECK(static_cast<std::size_t>(length) < bufferSize);
    FUZZ_CHECK(buffer.bytes[length] == '\0');
    FUZZ_CHECK(length == longLength);
    FUZZ_CHECK(std::memcmp(buffer.bytes.get(), longText.data(), longText.size()) == 0);
  }
  // GetValue refuses a text that does not fit, not one that was not found.
  if (loaded && longLength >= 0 && static_cast<std::size_t>(longLength) >= bufferSize) {
    FUZZ_CHECK(length == kLongTextNotFound);
  }
  if (loaded && longLength >= 0 && static_cast<std::size_t>(longLength) < bufferSize) {
    FUZZ_CHECK(length == longLength);
  }

  std::string shortText = "untouched";
  const long long shortLength = document.GetLongValue(path, shortText, kShortLimit);
  if (loaded && longLength > static_cast<long long>(kShortLimit)) {
    FUZZ_CHECK(shortLength == kLongTextTooLong);
    FUZZ_CHECK(shortText == "untouched");
  } else {
    FUZZ_CHECK(shortLength == longLength);
  }
}

// GetNodeText on a handed-out node: -1 leaves the empty string, a length is a copied text.
void CheckNodeText(const XmlNode& node, const char* path, std::size_t bufferSize) {
  MarkedBuffer buffer(bufferSize);
  const int length = GetNodeText(node, path, buffer.bytes.get(), buffer.size);
  if (length < 0) {
    FUZZ_CHECK(length == kLongTextNotFound);
    FUZZ_CHECK(buffer.bytes[0] == '\0');
  } else {
    FUZZ_CHECK(static_cast<std::size_t>(length) < bufferSize);
    FUZZ_CHECK(buffer.bytes[length] == '\0');
    FUZZ_CHECK(std::strlen(buffer.bytes.get()) == static_cast<std::size_t>(length));
  }
}

// Entries are handed out by SelectNode and read after the document has gone, as nodes may be.
void CheckEntries(const XmlDocument& document, bool loaded, XmlNode (&entries)[3]) {
  const char* const entryPaths[] = {kLibraryElement, kActiveXElement, "fichAdic1"};
  for (int i = 0; i < 3; ++i) {
    const int found = document.SelectNode(entries[i], entryPaths[i]);
    FUZZ_CHECK(found == -1 || found == 0 || found == 1);
    if (!loaded) FUZZ_CHECK(found == 0);
    FUZZ_CHECK((found == 1) == !entries[i].IsEmpty());
    if (found == 1) FUZZ_CHECK(document.Exists(entryPaths[i]));
  }
}

void CheckNumberedChildren(const XmlDocument& document, bool loaded) {
  for (const char* stem : kStems) {
    const int highest = document.HighestNumberedChild(stem);
    FUZZ_CHECK(highest >= 0);
    if (!loaded) FUZZ_CHECK(highest == 0);
    if (highest == 0) continue;
    // The highest numbered child is one the engine can then find by its name.
    const std::string name = stem + std::to_string(highest);
    FUZZ_CHECK(document.Exists(name.c_str()));
    XmlNode node;
    FUZZ_CHECK(document.SelectNode(node, name.c_str()) == 1);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  MemoryFetcher fetcher;
  fetcher.Add(kAddress, std::string(reinterpret_cast<const char*>(data), size));

  XmlNode entries[3];
  {
    XmlDocument document;
    document.SetFetcher(fetcher);
    const bool loaded = document.Load(kAddress, true);
    FUZZ_CHECK(document.GetLastFetchStatus() == FetchStatus::kOk);

    for (const char* path : kEnginePaths) {
      CheckGetValue(document, loaded, path, kManifestTextBufferSize);
      CheckGetValue(document, loaded, path, kSignatureBufferSize);
      if (!loaded) FUZZ_CHECK(!document.Exists(path));
    }
    CheckEntries(document, loaded, entries);
    CheckNumberedChildren(document, loaded);
  }
  for (const XmlNode& entry : entries) {
    for (const char* field : kEntryFields) {
      CheckNodeText(entry, field, kManifestTextBufferSize);
      CheckNodeText(entry, field, kSignatureBufferSize);
    }
  }
  return 0;
}
