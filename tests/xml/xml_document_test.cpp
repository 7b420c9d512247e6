// Contract tests for XmlDocument and GetNodeText. The same file runs against both backends (the
// platform DOM under Wine, pugixml natively), so every expectation here must hold on both.
#include "xml/xml_document.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "expected_text.h"
#include "support/http_server.h"
#include "support/marked_buffer.h"

namespace {

const char kLibraryManifest[] =
    "<?xml version=\"1.0\"?>\n"
    "<actualizacion>\n"
    "  <versionLib>raiz</versionLib>\n"
    "  <actLibreria><versionLib>3.1</versionLib><vacio/></actLibreria>\n"
    "  <fichAdic1>primero</fichAdic1>\n"
    "  <fichAdic1>segundo</fichAdic1>\n"
    "</actualizacion>\n";

int GetValueInto(const XmlDocument& document, const char* path, MarkedBuffer& buffer) {
  return document.GetValue(path, buffer.Data(), buffer.Size());
}

int GetNodeTextInto(const XmlNode& node, const char* path, MarkedBuffer& buffer) {
  return GetNodeText(node, path, buffer.Data(), buffer.Size());
}

// A node that names element `p` (whose child `e` holds "x"), to show later that a call left it be.
void SelectSampleNode(XmlDocument& owner, XmlNode& node) {
  ASSERT_TRUE(owner.Load("<r><p><e>x</e></p></r>", false));
  ASSERT_EQ(owner.SelectNode(node, "p"), 1);
}

// `<r><version>` and then `<a>` elements, `depth` levels below the document element in all, the
// innermost holding the text "2".
std::string NestedDocument(int depth) {
  std::string xml = "<r><version>";
  const std::size_t levels = depth > 1 ? static_cast<std::size_t>(depth - 1) : 0;
  xml.reserve(xml.size() + 7 * levels + 16);
  for (std::size_t i = 0; i < levels; ++i) xml += "<a>";
  xml += "2";
  for (std::size_t i = 0; i < levels; ++i) xml += "</a>";
  return xml + "</version></r>";
}

void ExpectStillSampleNode(const XmlNode& node) {
  MarkedBuffer buffer(8);
  EXPECT_EQ(GetNodeTextInto(node, "e", buffer), 1);
  EXPECT_EQ(buffer.Text(), "x");
}

}  // namespace

TEST(XmlDocumentTest, NeverLoadedDocumentHasNothing) {
  XmlDocument sampleOwner;
  XmlNode node;
  SelectSampleNode(sampleOwner, node);

  XmlDocument document;
  EXPECT_FALSE(document.Exists("a"));
  MarkedBuffer buffer(32);
  EXPECT_EQ(GetValueInto(document, "a", buffer), -1);
  EXPECT_TRUE(buffer.Untouched());
  std::string text = "keep";
  EXPECT_EQ(document.GetLongValue("a", text, 100), -1);
  EXPECT_EQ(text, "keep");
  EXPECT_EQ(document.SelectNode(node, "a"), 0);
  ExpectStillSampleNode(node);
}

// A failed load, on a fresh object or after a good load, leaves a document without a document
// element: nothing of the earlier content and nothing half-parsed may remain.
TEST(XmlDocumentTest, FailedLoadLeavesDocumentWithoutDocumentElement) {
  const char* badSources[] = {"", "<r><b>x</b>", "<r><b>x</c></r>", "just text", "<r/><r/>"};
  for (const char* bad : badSources) {
    for (int form = 0; form < 4; ++form) {
      const bool loadedBefore = (form & 1) != 0;
      const bool asBytes = (form & 2) != 0;
      SCOPED_TRACE(std::string("source \"") + bad + "\", loaded before: " +
                   (loadedBefore ? "yes" : "no") + (asBytes ? ", as bytes" : ""));
      XmlDocument sampleOwner;
      XmlNode node;
      SelectSampleNode(sampleOwner, node);

      XmlDocument document;
      if (loadedBefore) {
        ASSERT_TRUE(document.Load("<r><b>x</b></r>", false));
      }
      EXPECT_FALSE(asBytes ? document.LoadBytes(std::vector<char>(bad, bad + std::strlen(bad)))
                           : document.Load(bad, false));

      EXPECT_EQ(document.SelectNode(node, "b"), 0);
      ExpectStillSampleNode(node);
      MarkedBuffer buffer(32);
      EXPECT_EQ(GetValueInto(document, "b", buffer), 0);
      EXPECT_TRUE(buffer.Untouched());
      std::string text = "keep";
      EXPECT_EQ(document.GetLongValue("b", text, 100), 0);
      EXPECT_EQ(text, "keep");
      EXPECT_FALSE(document.Exists("r"));
      EXPECT_FALSE(document.Exists("b"));
    }
  }
}

TEST(XmlDocumentTest, TextFormReadsChildText) {
  XmlDocument document;
  ASSERT_TRUE(document.Load("<a><b>x</b></a>", false));
  MarkedBuffer buffer(255);
  EXPECT_EQ(GetValueInto(document, "b", buffer), 1);
  EXPECT_EQ(buffer.Text(), "x");
}

TEST(XmlDocumentTest, LoadsByAddressFromHttpServer) {
  TestHttpServer server;
  server.AddFile("/MUB_AX/act.xml",
                 "<?xml version=\"1.0\"?><actualizacion><version>2.5</version>"
                 "<componentes>2</componentes></actualizacion>");
  XmlDocument document;
  ASSERT_TRUE(document.Load(server.Url("/MUB_AX/act.xml").c_str(), true));
  EXPECT_EQ(document.GetLastFetchStatus(), FetchStatus::kOk);
  EXPECT_EQ(server.RequestCount("/MUB_AX/act.xml"), 1);
  MarkedBuffer buffer(255);
  EXPECT_EQ(GetValueInto(document, "version", buffer), 3);
  EXPECT_EQ(buffer.Text(), "2.5");
  EXPECT_TRUE(document.Exists("componentes"));
}

TEST(XmlDocumentTest, ExistsComparesNamesWithTheLastStep) {
  XmlDocument document;
  ASSERT_TRUE(document.Load("<fichero><datos id=\"7\"><parte>p</parte></datos></fichero>", false));

  // The document element counts when its own name is the leaf, though no child bears it.
  EXPECT_TRUE(document.Exists("fichero"));
  MarkedBuffer buffer(32);
  EXPECT_EQ(GetValueInto(document, "fichero", buffer), -1);
  EXPECT_TRUE(buffer.Untouched());
  EXPECT_TRUE(document.Exists("cualquiera/fichero"));

  EXPECT_TRUE(document.Exists("datos"));
  EXPECT_TRUE(document.Exists("datos/parte"));
  // Paths start below the document element and a plain name selects a child only.
  EXPECT_FALSE(document.Exists("parte"));
  // The attribute exists, but its name is not the leaf "@id".
  EXPECT_FALSE(document.Exists("datos/@id"));
  EXPECT_FALSE(document.Exists("Datos"));
  EXPECT_FALSE(document.Exists("nada"));
}

TEST(XmlDocumentTest, EmptyElementGivesEmptyText) {
  XmlDocument document;
  ASSERT_TRUE(document.Load("<r><e/><f></f><g>   </g></r>", false));
  for (const char* path : {"e", "f", "g"}) {
    SCOPED_TRACE(path);
    MarkedBuffer buffer(32);
    EXPECT_EQ(GetValueInto(document, path, buffer), 0);
    EXPECT_EQ(buffer.Data()[0], '\0');
  }
}

// The two reads differ on purpose: GetValue keeps a caller's preset default, GetNodeText empties.
TEST(XmlDocumentTest, MissingElementKeepsValueBufferButEmptiesNodeTextBuffer) {
  XmlDocument document;
  ASSERT_TRUE(document.Load(kLibraryManifest, false));
  MarkedBuffer valueBuffer(32);
  EXPECT_EQ(GetValueInto(document, "falta", valueBuffer), -1);
  EXPECT_TRUE(valueBuffer.Untouched());

  XmlNode node;
  ASSERT_EQ(document.SelectNode(node, "actLibreria"), 1);
  MarkedBuffer nodeBuffer(32);
  EXPECT_EQ(GetNodeTextInto(node, "falta", nodeBuffer), -1);
  EXPECT_EQ(nodeBuffer.Data()[0], '\0');

  MarkedBuffer emptyNodeBuffer(32);
  EXPECT_EQ(GetNodeTextInto(XmlNode(), "versionLib", emptyNodeBuffer), -1);
  EXPECT_EQ(emptyNodeBuffer.Data()[0], '\0');
}

// A cut path or address would name another file, so a text that does not fit is refused whole.
TEST(XmlDocumentTest, TextThatDoesNotFitIsRefused) {
  XmlDocument document;
  ASSERT_TRUE(document.Load("<r><e>12345</e><p><e>12345</e></p></r>", false));
  MarkedBuffer tooSmall(5);
  EXPECT_EQ(GetValueInto(document, "e", tooSmall), -1);
  EXPECT_TRUE(tooSmall.Untouched());
  MarkedBuffer exact(6);
  EXPECT_EQ(GetValueInto(document, "e", exact), 5);
  EXPECT_EQ(exact.Text(), "12345");

  XmlNode node;
  ASSERT_EQ(document.SelectNode(node, "p"), 1);
  MarkedBuffer nodeTooSmall(5);
  EXPECT_EQ(GetNodeTextInto(node, "e", nodeTooSmall), -1);
  EXPECT_EQ(nodeTooSmall.Data()[0], '\0');
  MarkedBuffer nodeExact(6);
  EXPECT_EQ(GetNodeTextInto(node, "e", nodeExact), 5);
  EXPECT_EQ(nodeExact.Text(), "12345");
}

TEST(XmlDocumentTest, SurroundingWhiteSpaceIsDropped) {
  XmlDocument document;
  ASSERT_TRUE(document.Load("<r><e>  a b  </e><f>\n\t a b \r\n</f></r>", false));
  for (const char* path : {"e", "f"}) {
    SCOPED_TRACE(path);
    MarkedBuffer buffer(32);
    EXPECT_EQ(GetValueInto(document, path, buffer), 3);
    EXPECT_EQ(buffer.Text(), "a b");
  }
}

// Texts come out in the target's narrow encoding whatever the document's own encoding, and
// lengths and buffer sizes count bytes.
TEST(XmlDocumentTest, NonAsciiTextComesOutInNarrowEncoding) {
  TestHttpServer server;
  server.AddFile("/latin1.xml",
                 "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r><t>Versi\xF3n</t></r>");
  server.AddFile("/utf8.xml",
                 "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
                 "<r><t>Versi\xC3\xB3n</t><p>5 \xE2\x82\xAC</p></r>");
  // Another 8-bit encoding is decoded as ISO-8859-1 is: the same characters on both targets.
  for (const char* encoding : {"windows-1252", "WINDOWS-1252", "ISO-8859-15"}) {
    server.AddFile(std::string("/") + encoding + ".xml",
                   std::string("<?xml version=\"1.0\" encoding=\"") + encoding +
                       "\"?><r><t>Versi\xF3n</t><p>5 " + (encoding[0] == 'I' ? "\xA4" : "\x80") +
                       "</p></r>");
  }
  const int versionLength = static_cast<int>(std::strlen(kVersionWord));
  for (const char* encoding : {"windows-1252", "WINDOWS-1252", "ISO-8859-15"}) {
    SCOPED_TRACE(encoding);
    XmlDocument eightBit;
    ASSERT_TRUE(eightBit.Load(server.Url(std::string("/") + encoding + ".xml").c_str(), true));
    MarkedBuffer word(255);
    EXPECT_EQ(GetValueInto(eightBit, "t", word), versionLength);
    EXPECT_EQ(word.Text(), kVersionWord);
    MarkedBuffer euro(255);
    EXPECT_EQ(GetValueInto(eightBit, "p", euro), static_cast<int>(std::strlen(kEuroPrice)));
    EXPECT_EQ(euro.Text(), kEuroPrice);
  }

  XmlDocument latin1;
  ASSERT_TRUE(latin1.Load(server.Url("/latin1.xml").c_str(), true));
  MarkedBuffer buffer(255);
  EXPECT_EQ(GetValueInto(latin1, "t", buffer), versionLength);
  EXPECT_EQ(buffer.Text(), kVersionWord);

  XmlDocument utf8;
  ASSERT_TRUE(utf8.Load(server.Url("/utf8.xml").c_str(), true));
  MarkedBuffer utf8Buffer(255);
  EXPECT_EQ(GetValueInto(utf8, "t", utf8Buffer), versionLength);
  EXPECT_EQ(utf8Buffer.Text(), kVersionWord);
  MarkedBuffer euroBuffer(255);
  EXPECT_EQ(GetValueInto(utf8, "p", euroBuffer), static_cast<int>(std::strlen(kEuroPrice)));
  EXPECT_EQ(euroBuffer.Text(), kEuroPrice);

  // One byte short of the text in bytes (not in characters) is refused.
  MarkedBuffer byteShort(static_cast<std::size_t>(versionLength));
  EXPECT_EQ(GetValueInto(utf8, "t", byteShort), -1);
  EXPECT_TRUE(byteShort.Untouched());

  // The text form takes narrow text in the same encoding and gives it back unchanged.
  XmlDocument textForm;
  ASSERT_TRUE(textForm.Load((std::string("<r><t>") + kVersionWord + "</t></r>").c_str(), false));
  MarkedBuffer roundTrip(255);
  EXPECT_EQ(GetValueInto(textForm, "t", roundTrip), versionLength);
  EXPECT_EQ(roundTrip.Text(), kVersionWord);
}

TEST(XmlDocumentTest, SelectedNodeAnswersPathsRelativeToItself) {
  XmlDocument document;
  ASSERT_TRUE(document.Load(kLibraryManifest, false));
  XmlNode node;
  EXPECT_TRUE(node.IsEmpty());
  ASSERT_EQ(document.SelectNode(node, "actLibreria"), 1);
  EXPECT_FALSE(node.IsEmpty());

  MarkedBuffer buffer(255);
  EXPECT_EQ(GetNodeTextInto(node, "versionLib", buffer), 3);
  EXPECT_EQ(buffer.Text(), "3.1");
  MarkedBuffer emptyBuffer(255);
  EXPECT_EQ(GetNodeTextInto(node, "vacio", emptyBuffer), 0);
  EXPECT_EQ(emptyBuffer.Data()[0], '\0');

  // The first of two elements of one name is the one selected.
  MarkedBuffer firstBuffer(255);
  EXPECT_EQ(GetValueInto(document, "fichAdic1", firstBuffer), 7);
  EXPECT_EQ(firstBuffer.Text(), "primero");

  // Selecting again into the same node replaces what it held.
  ASSERT_EQ(document.SelectNode(node, "fichAdic1"), 1);
  MarkedBuffer nothingBelow(255);
  EXPECT_EQ(GetNodeTextInto(node, "versionLib", nothingBelow), -1);
  EXPECT_EQ(document.SelectNode(node, "falta"), -1);
}

TEST(XmlDocumentTest, MalformedPathIsNotFoundAndNeverThrows) {
  XmlDocument document;
  ASSERT_TRUE(document.Load("<r><a><b>x</b></a></r>", false));
  XmlNode node;
  ASSERT_EQ(document.SelectNode(node, "a"), 1);
  for (const char* path : {"a[", "b]", "/(", "a//"}) {
    SCOPED_TRACE(path);
    XmlNode other;
    EXPECT_EQ(document.SelectNode(other, path), -1);
    MarkedBuffer buffer(32);
    EXPECT_EQ(GetValueInto(document, path, buffer), -1);
    EXPECT_TRUE(buffer.Untouched());
    std::string text = "keep";
    EXPECT_EQ(document.GetLongValue(path, text, 100), -1);
    EXPECT_EQ(text, "keep");
    EXPECT_FALSE(document.Exists(path));
    MarkedBuffer nodeBuffer(32);
    EXPECT_EQ(GetNodeTextInto(node, path, nodeBuffer), -1);
    EXPECT_EQ(nodeBuffer.Data()[0], '\0');
  }
}

TEST(XmlDocumentTest, LongValueHonoursMaxLength) {
  std::string big;
  while (big.size() < (1u << 20)) big += "0123456789ABCDEF";
  XmlDocument document;
  ASSERT_TRUE(document.Load(
      ("<fichero><corto>0123456789</corto><hex>" + big + "</hex></fichero>").c_str(), false));
  std::string text = "keep";
  EXPECT_EQ(document.GetLongValue("corto", text, 9), -2);
  EXPECT_EQ(text, "keep");
  EXPECT_EQ(document.GetLongValue("corto", text, 10), 10);
  EXPECT_EQ(text, "0123456789");
  EXPECT_EQ(document.GetLongValue("falta", text, 100), -1);
  EXPECT_EQ(text, "0123456789");

  std::string large;
  EXPECT_EQ(document.GetLongValue("hex", large, big.size()), static_cast<long long>(big.size()));
  EXPECT_TRUE(large == big) << "the large text came back altered (" << large.size() << " bytes)";
}

TEST(XmlDocumentTest, EachLoadReplacesTheContent) {
  TestHttpServer server;
  server.AddFile("/a.xml", "<a><soloA>1</soloA><comun>A</comun></a>");
  XmlDocument document;
  ASSERT_TRUE(document.Load(server.Url("/a.xml").c_str(), true));
  ASSERT_TRUE(document.Load("<b><comun>B</comun></b>", false));

  MarkedBuffer buffer(32);
  EXPECT_EQ(GetValueInto(document, "comun", buffer), 1);
  EXPECT_EQ(buffer.Text(), "B");
  MarkedBuffer gone(32);
  EXPECT_EQ(GetValueInto(document, "soloA", gone), -1);
  EXPECT_FALSE(document.Exists("a"));
  EXPECT_TRUE(document.Exists("b"));

  ASSERT_TRUE(document.Load(server.Url("/a.xml").c_str(), true));
  MarkedBuffer again(32);
  EXPECT_EQ(GetValueInto(document, "comun", again), 1);
  EXPECT_EQ(again.Text(), "A");

  // Bytes replace it too, and a load from bytes fetched nothing that could have failed.
  EXPECT_FALSE(document.Load(server.Url("/missing.xml").c_str(), true));
  EXPECT_NE(document.GetLastFetchStatus(), FetchStatus::kOk);
  const std::string bytes = "<c><comun>C</comun></c>";
  ASSERT_TRUE(document.LoadBytes(std::vector<char>(bytes.begin(), bytes.end())));
  EXPECT_EQ(document.GetLastFetchStatus(), FetchStatus::kOk);
  MarkedBuffer fromBytes(32);
  EXPECT_EQ(GetValueInto(document, "comun", fromBytes), 1);
  EXPECT_EQ(fromBytes.Text(), "C");
}

TEST(XmlDocumentTest, NodeOutlivingItsDocumentStaysSafe) {
  XmlNode node;
  {
    XmlDocument document;
    ASSERT_TRUE(document.Load(kLibraryManifest, false));
    ASSERT_EQ(document.SelectNode(node, "actLibreria"), 1);
  }
  // Whether the detached node still answers is the backend's affair; it must answer consistently
  // and without touching freed memory.
  MarkedBuffer buffer(32);
  int result = GetNodeTextInto(node, "versionLib", buffer);
  EXPECT_TRUE((result == 3 && buffer.Text() == "3.1") || (result == -1 && buffer.Text().empty()))
      << "result " << result << ", text \"" << buffer.Text() << "\"";

  XmlNode moved(std::move(node));
  EXPECT_TRUE(node.IsEmpty());
  EXPECT_FALSE(moved.IsEmpty());
  moved.Reset();
  EXPECT_TRUE(moved.IsEmpty());
}

TEST(XmlDocumentTest, HighestNumberedChildCountsOnlyWellFormedNumbersOfDirectChildren) {
  XmlDocument document;
  EXPECT_EQ(document.HighestNumberedChild("urlcomp"), 0);
  ASSERT_TRUE(document.Load(
      "<urlcomp99><urlcomp2/><urlcomp10>x</urlcomp10><urlcomp011/><urlcomp12x/><urlcomp-13/>"
      "<otro><urlcomp50/></otro><!-- urlcomp70 --><urlcomp2147483648/><tamcomp30/></urlcomp99>",
      false));
  EXPECT_EQ(document.HighestNumberedChild("urlcomp"), 10);
  EXPECT_EQ(document.HighestNumberedChild("tamcomp"), 30);
  EXPECT_EQ(document.HighestNumberedChild("destcomp"), 0);
}

// A deep document must neither take the process down nor load on one backend only; a document
// of the same size that is merely wide still loads, with its text read across all its elements.
TEST(XmlDocumentTest, DocumentsNestedBeyondTheLimitAreRefused) {
  const int kMiB = 1 << 20;
  struct Case {
    const char* name;
    int depth;
    bool loads;
  };
  const Case cases[] = {
      {"at the limit", kMaxElementDepth, true},
      {"one beyond", kMaxElementDepth + 1, false},
      {"150,000 levels (1 MB)", 150000, false},
      {"2 MiB of levels", 2 * kMiB / 7, false},
  };
  TestHttpServer server;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string xml = NestedDocument(c.depth);
    server.AddFile("/deep.xml", xml);
    for (bool fromAddress : {false, true}) {
      XmlDocument document;
      const std::string source = fromAddress ? server.Url("/deep.xml") : xml;
      EXPECT_EQ(document.Load(source.c_str(), fromAddress), c.loads)
          << "by address: " << fromAddress;
      MarkedBuffer buffer(32);
      EXPECT_EQ(GetValueInto(document, "version", buffer), c.loads ? 1 : 0);
      if (c.loads) {
        EXPECT_EQ(buffer.Text(), "2");
      }
    }
  }

  std::string wide = "<r><version>";
  const std::string item = "<a>1</a>";
  const std::size_t items = 2 * kMiB / item.size();
  for (std::size_t i = 0; i < items; ++i) wide += item;
  wide += "</version></r>";
  XmlDocument document;
  ASSERT_TRUE(document.Load(wide.c_str(), false));
  std::string text;
  EXPECT_EQ(document.GetLongValue("version", text, 4 * kMiB), static_cast<long long>(items));
  EXPECT_EQ(text, std::string(items, '1'));
}

// A reference the DOM refuses must not load on the other backend either, least of all `&#0;`,
// which a text measured by its terminator would read cut short ("414243" of "414243&#0;4445").
TEST(XmlDocumentTest, ReferencesToForbiddenCharactersAndMalformedOnesAreRefused) {
  const char* refused[] = {
      "<d><fichero>414243&#0;4445</fichero></d>",
      "<d><fichero>41&#x0;42</fichero></d>",
      "<d><fichero>41&#0000;42</fichero></d>",
      "<d><fichero a=\"&#0;\">41</fichero></d>",
      "<d><fichero>41&#1;42</fichero></d>",
      "<d><fichero>&#xD800;</fichero></d>",
      "<d><fichero>&#x110000;</fichero></d>",
      "<d><fichero>&#99999999999999999999;</fichero></d>",
      "<d><fichero>a & b</fichero></d>",
      "<d><fichero>a &amp b</fichero></d>",
      "<d><fichero>&#;</fichero></d>",
  };
  for (const char* xml : refused) {
    SCOPED_TRACE(xml);
    XmlDocument document;
    EXPECT_FALSE(document.Load(xml, false));
    MarkedBuffer buffer(32);
    EXPECT_EQ(GetValueInto(document, "fichero", buffer), 0);
    EXPECT_TRUE(buffer.Untouched());
  }

  // What the DOM accepts: the predefined entities and allowed characters, and any '&' where no
  // reference is read (CDATA sections, comments).
  XmlDocument document;
  ASSERT_TRUE(document.Load(
      "<r><!-- &#0; & --><t a=\"&lt;&#65;\">a&amp;b&#65;&#x42;&lt;&gt;&quot;&apos;</t>"
      "<c><![CDATA[41&#0;&v;42]]></c></r>",
      false));
  MarkedBuffer text(32);
  EXPECT_EQ(GetValueInto(document, "t", text), 9);
  EXPECT_EQ(text.Text(), "a&bAB<>\"'");
  MarkedBuffer attribute(32);
  EXPECT_EQ(GetValueInto(document, "t/@a", attribute), 2);
  EXPECT_EQ(attribute.Text(), "<A");
  MarkedBuffer cdata(32);
  EXPECT_EQ(GetValueInto(document, "c", cdata), 11);
  EXPECT_EQ(cdata.Text(), "41&#0;&v;42");
  XmlDocument beyondTheBasicPlane;
  EXPECT_TRUE(beyondTheBasicPlane.Load("<r><t>&#x1F600;&#1114111;</t></r>", false));
}

// No DTD is ever read: the backends expanded internal entities differently, and a DTD is how
// entity expansion attacks and fetches the fetch rules never see get in.
TEST(XmlDocumentTest, DocumentsWithADoctypeAreRefused) {
  std::string laughs = "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY l0 \"lol\">";
  for (int level = 1; level <= 9; ++level) {
    laughs += "<!ENTITY l" + std::to_string(level) + " \"";
    for (int i = 0; i < 10; ++i) laughs += "&l" + std::to_string(level - 1) + ";";
    laughs += "\">";
  }
  laughs += "]><r><t>&l9;</t></r>";
  TestHttpServer server;
  server.AddFile("/x.dtd", "<!ENTITY v \"from outside\">");
  const std::string external = server.Url("/x.dtd");
  const std::pair<const char*, std::string> cases[] = {
      {"internal entity", "<!DOCTYPE r [<!ENTITY v \"x\">]><r><t>&v;</t></r>"},
      {"unused internal subset", "<!DOCTYPE r [<!ELEMENT r ANY>]><r><t>1</t></r>"},
      {"bare doctype", "<!DOCTYPE r><r><t>1</t></r>"},
      {"external entity",
       "<!DOCTYPE r [<!ENTITY v SYSTEM \"" + external + "\">]><r><t>&v;</t></r>"},
      {"external subset", "<!DOCTYPE r SYSTEM \"" + external + "\"><r><t>&v;</t></r>"},
      {"billion laughs", laughs},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    server.AddFile("/doc.xml", c.second);
    for (bool fromAddress : {false, true}) {
      XmlDocument document;
      ASSERT_TRUE(document.Load("<r><t>before</t></r>", false));
      const std::string source = fromAddress ? server.Url("/doc.xml") : c.second;
      EXPECT_FALSE(document.Load(source.c_str(), fromAddress)) << "by address: " << fromAddress;
      MarkedBuffer buffer(32);
      EXPECT_EQ(GetValueInto(document, "t", buffer), 0);
      EXPECT_TRUE(buffer.Untouched());
    }
  }
  EXPECT_EQ(server.RequestCount("/x.dtd"), 0);
}
