// The one address classifier both the updater and the release tool use.
#include "net/address.h"

#include <gtest/gtest.h>

namespace {

TEST(Address, ClassifiesBySchemeWithoutRegardToCase) {
  const struct {
    const char* address;
    AddressKind kind;
  } kCases[] = {
      {"", AddressKind::kEmpty},
      {"http://h/x.xml", AddressKind::kHttp},
      {"HTTP://h/x.xml", AddressKind::kHttp},
      {"https://h/x.xml", AddressKind::kHttps},
      {"HttpS://h/x.xml", AddressKind::kHttps},
      {"file:///tmp/x.xml", AddressKind::kFileUrl},
      {"FILE://server/share/x.xml", AddressKind::kFileUrl},
      {"/tmp/x.xml", AddressKind::kLocalPath},
      {"C:\\dir\\x.xml", AddressKind::kLocalPath},  // a drive letter is not a scheme
      {"\\\\server\\share\\x.xml", AddressKind::kLocalPath},
      {"relative/x.xml", AddressKind::kLocalPath},
      {"ftp://h/x.xml", AddressKind::kOtherScheme},
      {"http:x.xml", AddressKind::kOtherScheme},  // no "//": not an address the client takes
      {"svn+ssh://h/x", AddressKind::kOtherScheme},
      {"1http://h/x", AddressKind::kLocalPath},  // a scheme starts with a letter
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(ClassifyAddress(c.address), c.kind) << c.address;
  }
  EXPECT_EQ(ClassifyAddress(nullptr), AddressKind::kEmpty);
}

TEST(Address, SchemeLengthStopsAtTheColon) {
  EXPECT_EQ(SchemeLength("https://h/"), 5u);
  EXPECT_EQ(SchemeLength("svn+ssh://h/"), 7u);
  EXPECT_EQ(SchemeLength("C:\\x"), 0u);
  EXPECT_EQ(SchemeLength("no-colon"), 0u);
  EXPECT_EQ(SchemeLength(nullptr), 0u);
}

}  // namespace
