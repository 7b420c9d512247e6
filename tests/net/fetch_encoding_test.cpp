// Compressed transfer on both targets: the fetch asks for gzip and deflate, hands out the decoded
// bytes, and counts its size cap in decoded bytes, so a compression bomb stops at the cap.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/fetch.h"
#include "support/compression.h"
#include "support/http_server.h"

namespace {

// Bytes that do not compress: their gzip form is a little longer than they are.
std::string Incompressible(std::size_t size) {
  std::string data;
  data.reserve(size);
  unsigned state = 2463534242u;
  while (data.size() < size) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    data += static_cast<char>(state >> 24);
  }
  return data;
}

std::string HexDocument(const std::string& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text = "<?xml version=\"1.0\"?>\n<documento><fichero>";
  for (unsigned char byte : bytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0xF];
  }
  return text + "</fichero></documento>\n";
}

using Encoder = std::string (*)(const std::string&);

struct EncodingCase {
  const char* name;
  Encoder encode;
};

const EncodingCase kAllEncodings[] = {{"gzip", GzipCompress}, {"deflate", DeflateCompress}};

// The encodings this platform's client asks for: the ones it must decode.
std::vector<EncodingCase> AcceptedEncodings() {
  std::vector<EncodingCase> accepted;
  for (const EncodingCase& encoding : kAllEncodings) {
    if (std::string(kAcceptedContentEncodings).find(encoding.name) != std::string::npos) {
      accepted.push_back(encoding);
    }
  }
  return accepted;
}

class FetchEncodingTest : public ::testing::Test {
 protected:
  FetchStatus Fetch(const std::string& path) {
    body.assign({'o', 'l', 'd'});
    return FetchAddress(server.Url(path).c_str(), limits, body);
  }

  TestHttpServer server;
  FetchLimits limits;
  std::vector<char> body;
};

}  // namespace

TEST_F(FetchEncodingTest, AsksForGzip) {
  server.AddFile("/plain.xml", "<r/>");
  ASSERT_EQ(Fetch("/plain.xml"), FetchStatus::kOk);
  const std::string accepted = server.LastRequestHeader("/plain.xml", "Accept-Encoding");
  EXPECT_NE(accepted.find("gzip"), std::string::npos) << accepted;
  EXPECT_EQ(accepted, kAcceptedContentEncodings);
}

TEST_F(FetchEncodingTest, CompressedBodyArrivesDecoded) {
  const std::string document = HexDocument(Incompressible(300 * 1024));
  for (const EncodingCase& encoding : AcceptedEncodings()) {
    SCOPED_TRACE(encoding.name);
    const std::string path = std::string("/doc.") + encoding.name;
    server.AddEncodedFile(path, encoding.encode(document), encoding.name);
    ASSERT_EQ(Fetch(path), FetchStatus::kOk);
    EXPECT_TRUE(std::string(body.begin(), body.end()) == document)
        << "decoded body differs (" << body.size() << " bytes)";
  }
}

// The cap counts decoded bytes on both sides of it, whatever the encoded length announces.
TEST_F(FetchEncodingTest, CapCountsDecodedBytes) {
  const std::string random = Incompressible(200 * 1024);
  const std::string zeros(4 * 1024 * 1024, '0');
  struct Case {
    const char* name;
    const std::string* decoded;
    std::size_t maxBytes;
    FetchStatus expected;
  };
  const Case cases[] = {
      // The encoded body is longer than the cap; decoded it fits exactly.
      {"incompressible at the cap", &random, random.size(), FetchStatus::kOk},
      {"incompressible one over the cap", &random, random.size() - 1, FetchStatus::kTooLarge},
      // A few KiB on the wire that decode to 4 MiB.
      {"bomb at the cap", &zeros, zeros.size(), FetchStatus::kOk},
      {"bomb over the cap", &zeros, 64 * 1024, FetchStatus::kTooLarge},
  };
  for (const EncodingCase& encoding : AcceptedEncodings()) {
    for (const Case& test : cases) {
      SCOPED_TRACE(std::string(encoding.name) + ": " + test.name);
      const std::string path = std::string("/cap.") + encoding.name;
      server.AddEncodedFile(path, encoding.encode(*test.decoded), encoding.name);
      limits.maxBytes = test.maxBytes;
      EXPECT_EQ(Fetch(path), test.expected);
      if (test.expected == FetchStatus::kOk) {
        EXPECT_TRUE(std::string(body.begin(), body.end()) == *test.decoded);
      } else {
        EXPECT_TRUE(body.empty());
      }
    }
  }
}

// A bomb far beyond what memory could hold ends at the cap, long before it is decoded whole.
TEST_F(FetchEncodingTest, LargeBombStopsAtCap) {
  const std::string encoded = GzipCompress(std::string(64u * 1024u * 1024u, 'A'));
  ASSERT_LT(encoded.size(), 1024u * 1024u);
  server.AddEncodedFile("/bomb.xml", encoded, "gzip");
  limits.maxBytes = 1024 * 1024;
  EXPECT_EQ(Fetch("/bomb.xml"), FetchStatus::kTooLarge);
  EXPECT_TRUE(body.empty());
}
