// The streaming child-text reader against the DOM, on both targets: for every document, fed whole,
// byte by byte and in uneven pieces, the reader must refuse what XmlDocument::Load refuses and
// give, once trimmed, the text XmlDocument::GetLongValue gives.
#include "xml/child_text_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "xml/dom_text_rule.h"
#include "xml/xml_document.h"

namespace {

constexpr char kChild[] = "fichero";

class Collected : public TextPieceSink {
 public:
  void TextPiece(const char* text, std::size_t length) override { text_.append(text, length); }
  std::string text_;
};

struct Reading {
  bool wellFormed = false;
  bool exists = false;
  bool childFound = false;
  std::string text;  // trimmed as the DOM trims
};

std::string Trimmed(const std::string& text) {
  const char* space = " \t\r\n";
  const std::size_t first = text.find_first_not_of(space);
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(space) - first + 1);
}

Reading ReadWithDom(const std::string& document) {
  Reading reading;
  // Loaded as bytes, so a document may hold NUL bytes (UTF-16).
  XmlDocument dom;
  reading.wellFormed = dom.LoadBytes(std::vector<char>(document.begin(), document.end()));
  if (!reading.wellFormed) return reading;
  reading.exists = dom.Exists(kChild);
  std::string text;
  reading.childFound = reading.exists && dom.GetLongValue(kChild, text, document.size()) >= 0;
  if (reading.childFound) reading.text = Trimmed(text);
  return reading;
}

Reading ReadStreaming(const std::string& document, std::size_t pieceLength) {
  Collected sink;
  const auto reader = CreateChildTextReader(kChild, sink);
  Reading reading;
  if (!reader) return reading;
  for (std::size_t at = 0; at < document.size(); at += pieceLength) {
    EXPECT_TRUE(reader->Feed(document.data() + at, std::min(pieceLength, document.size() - at)));
  }
  const ChildTextOutcome outcome = reader->Finish();
  EXPECT_FALSE(outcome.outOfMemory);
  reading.wellFormed = outcome.wellFormed;
  if (!reading.wellFormed) return reading;
  reading.exists = outcome.exists;
  reading.childFound = outcome.childFound;
  if (reading.childFound) reading.text = Trimmed(sink.text_);
  return reading;
}

// Where the DOM hands text out in UTF-8 (POSIX, 8-bit documents included), the same bytes. Where
// it hands out one byte of the code page per character (Windows), the reader gives a stand-in
// for each character beyond ASCII, which every consumer refuses alike: then length and ASCII
// content must agree.
bool SameText(const std::string& dom, const std::string& streamed) {
  if (DomTextIsUtf8()) return dom == streamed;
  if (dom.size() != streamed.size()) return false;
  for (std::size_t i = 0; i < dom.size(); ++i) {
    const bool domAscii = static_cast<unsigned char>(dom[i]) < 0x80;
    const bool streamedAscii = static_cast<unsigned char>(streamed[i]) < 0x80;
    if (domAscii != streamedAscii || (domAscii && dom[i] != streamed[i])) return false;
  }
  return true;
}

void ExpectSameAsDom(const std::string& name, const std::string& document, bool expectWellFormed) {
  const Reading dom = ReadWithDom(document);
  EXPECT_EQ(dom.wellFormed, expectWellFormed) << name;
  for (const std::size_t piece : {document.size() + 1, std::size_t{1}, std::size_t{7}}) {
    const Reading streamed = ReadStreaming(document, piece);
    EXPECT_EQ(streamed.wellFormed, dom.wellFormed) << name << ", pieces of " << piece;
    EXPECT_EQ(streamed.exists, dom.exists) << name << ", pieces of " << piece;
    EXPECT_EQ(streamed.childFound, dom.childFound) << name << ", pieces of " << piece;
    EXPECT_TRUE(SameText(dom.text, streamed.text))
        << name << ", pieces of " << piece << ": DOM [" << dom.text << "] streamed ["
        << streamed.text << "]";
  }
}

std::string Nested(int depth) {
  std::string xml = "<r><fichero>";
  for (int i = 1; i < depth; ++i) xml += "<a>";
  xml += "AB";
  for (int i = 1; i < depth; ++i) xml += "</a>";
  return xml + "</fichero></r>";
}

std::string Utf16LittleEndian(const std::string& ascii) {
  std::string wide = "\xFF\xFE";
  for (const char c : ascii) {
    wide += c;
    wide += '\0';
  }
  return wide;
}

// Content built at random from the pieces whose mix decides what a DOM makes of white space:
// content, white space written literally and as references, CDATA (empty, blank, with content),
// comments, instructions and nested elements.
std::string GeneratedContent(std::mt19937& random, int depth) {
  constexpr int kMaxDepth = 4;
  constexpr int kMaxPieces = 5;
  const std::vector<const char*> text = {"0A", "1B", " 2C", "3D ", "4E\r\n5F", "&#x30;", "&amp;"};
  const std::vector<const char*> space = {" ",       "  ",    "\n",   " \r\n\t",
                                          " &#32; ", "&#32;", "&#9;", " &lt;&#9;"};
  const std::vector<const char*> other = {"<![CDATA[]]>", "<![CDATA[ ]]>", "<![CDATA[6A]]>",
                                          "<!--c-->",     "<?p x?>",       "<w/>"};
  auto pick = [&random](const std::vector<const char*>& from) {
    return std::string(
        from[std::uniform_int_distribution<std::size_t>(0, from.size() - 1)(random)]);
  };
  std::string content;
  const int pieces = std::uniform_int_distribution<int>(0, kMaxPieces)(random);
  for (int i = 0; i < pieces; ++i) {
    switch (std::uniform_int_distribution<int>(0, 3)(random)) {
      case 0:
        content += pick(text);
        break;
      case 1:
        content += pick(space);
        break;
      case 2:
        content += pick(other);
        break;
      default:
        content +=
            depth < kMaxDepth ? "<e>" + GeneratedContent(random, depth + 1) + "</e>" : "<w/>";
        break;
    }
  }
  return content;
}

struct Case {
  const char* name;
  std::string document;
  bool wellFormed;
};

}  // namespace

TEST(ChildTextReaderTest, ReadsWhatTheDomReads) {
  const std::vector<Case> cases = {
      {"plain", "<r><fichero>0A1B</fichero></r>", true},
      {"declared and spaced", "<?xml version=\"1.0\"?>\n<r>\n <fichero>\n  0A1B \n</fichero>\n</r>",
       true},
      {"descendants' text", "<r><fichero>0A<x>1B<y>2C</y></x>3D</fichero></r>", true},
      {"CDATA", "<r><fichero>0A<![CDATA[1B]]>2C</fichero></r>", true},
      {"white-space CDATA is kept", "<r><fichero>0A<x/><![CDATA[  ]]><y/>1B</fichero></r>", true},
      {"white space between markup dropped",
       "<r><fichero>0A<x/>  \r\n\t<y/>1B<!-- c -->  <?pi x?>\n2C</fichero></r>", true},
      {"white space before content kept", "<r><fichero>0A<x/>  1B</fichero></r>", true},
      {"a referenced space is content", "<r><fichero>0A<x/>&#32;<y/>1B</fichero></r>", true},
      {"references", "<r><fichero>&#x30;A&#49;B&amp;&lt;&gt;&quot;&apos;</fichero></r>", true},
      {"comment inside the text", "<r><fichero>0A<!-- x -->1B</fichero></r>", true},
      {"the first of two", "<r><fichero>0A</fichero><fichero>1B</fichero></r>", true},
      {"a deeper one is not a child", "<r><x><fichero>0A</fichero></x></r>", true},
      {"after a deeper one", "<r><x><fichero>0A</fichero></x><fichero>1B</fichero></r>", true},
      {"root of that name", "<fichero>0A1B</fichero>", true},
      {"root of that name with such a child", "<fichero><fichero>0A</fichero></fichero>", true},
      {"none", "<r><otro>0A</otro></r>", true},
      {"empty", "<r><fichero/></r>", true},
      {"prefixed name is another name", "<r xmlns:p=\"u\"><p:fichero>0A</p:fichero></r>", true},
      {"attributes", "<r a=\"1\"><fichero b='&amp;'>0A</fichero></r>", true},
      {"ISO-8859-1",
       "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r><fichero>0A\xE9</fichero></r>", true},
      {"windows-1252",
       "<?xml version=\"1.0\" encoding=\"windows-1252\"?><r><fichero>0A\x80\xE9</fichero></r>",
       true},
      {"UTF-8 beyond ASCII", "<r><fichero>0A\xC3\xA9</fichero></r>", true},
      {"UTF-16", Utf16LittleEndian("<r><fichero> 0A1B </fichero></r>"), true},
      {"as deep as allowed", Nested(kMaxElementDepth), true},
      {"deeper than allowed", Nested(kMaxElementDepth + 1), false},
      {"DOCTYPE", "<!DOCTYPE r><r><fichero>0A</fichero></r>", false},
      {"unclosed", "<r><fichero>0A</fichero>", false},
      {"mismatched", "<r><fichero>0A</r></fichero>", false},
      {"two roots", "<r><fichero>0A</fichero></r><r/>", false},
      {"text outside the root", "<r><fichero>0A</fichero></r>x", false},
      {"reference to NUL", "<r><fichero>0A&#0;1B</fichero></r>", false},
      {"undefined entity", "<r><fichero>0A&x;</fichero></r>", false},
      {"duplicate attribute", "<r a=\"1\" a=\"2\"><fichero>0A</fichero></r>", false},
      {"not UTF-8", "<r><fichero>0A\xE9</fichero></r>", false},
      {"control character", "<r><fichero>0A\x01</fichero></r>", false},
      {"empty document", "", false},
  };
  for (const Case& c : cases) ExpectSameAsDom(c.name, c.document, c.wellFormed);
}

TEST(ChildTextReaderTest, ReadsWhatTheDomReadsInGeneratedDocuments) {
  constexpr unsigned kSeed = 19;
  constexpr int kDocuments = 1000;
  std::mt19937 random(kSeed);
  for (int i = 0; i < kDocuments; ++i) {
    const std::string document = "<r><fichero>" + GeneratedContent(random, 1) + "</fichero></r>";
    ExpectSameAsDom(document, document, true);
  }
}

TEST(ChildTextReaderTest, BytesAfterARefusalAreTakenAndIgnored) {
  Collected sink;
  const auto reader = CreateChildTextReader(kChild, sink);
  ASSERT_TRUE(reader);
  const std::string bad = "<r><fichero>0A</r>";
  EXPECT_TRUE(reader->Feed(bad.data(), bad.size()));
  const std::string more = "<fichero>1B</fichero>";
  EXPECT_TRUE(reader->Feed(more.data(), more.size()));
  EXPECT_FALSE(reader->Finish().wellFormed);
}
