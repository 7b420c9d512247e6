// The trusted key text: what counts as a key, and that a key source given but unreadable still
// demands signatures rather than turning the check off.
#include <gtest/gtest.h>

#include "update/release_signature.h"

namespace {

TEST(ReleaseKeySet, KeyTextLinesAndWhatTheyLeaveRequired) {
  P256PrivateKey first{};
  P256PrivateKey second{};
  ASSERT_EQ(GenerateP256(first), CryptoStatus::kOk);
  ASSERT_EQ(GenerateP256(second), CryptoStatus::kOk);
  const std::string one = FormatPublicKeyLine(PublicKeyOf(first));
  const std::string two = FormatPublicKeyLine(PublicKeyOf(second));
  const std::string oneWithoutNewline = one.substr(0, one.size() - 1);
  struct Case {
    const char* name;
    std::string text;
    bool allRead;
    std::size_t keys;
  };
  const Case cases[] = {
      {"two keys", one + two, true, 2},
      {"comments, blank lines, CRLF and a label",
       "# release keys\r\n\r\n" + oneWithoutNewline + " release-2025\r\n" + two, true, 2},
      {"a line that is not a key", one + "mubax-p256-public 1234\n", false, 1},
      {"a private key is not a trusted key", FormatPrivateKeyText(first), false, 0},
      {"empty file", "", true, 0},
  };
  for (const Case& c : cases) {
    ReleaseKeySet keys;
    EXPECT_EQ(keys.AddFromText(c.text), c.allRead) << c.name;
    EXPECT_EQ(keys.Size(), c.keys) << c.name;
    // Whatever the file held, once it was given the program installs signed releases only.
    EXPECT_TRUE(keys.RequiresSignatures()) << c.name;
  }
  ReleaseKeySet both;
  both.AddFromText(one + two);
  EXPECT_NE(both.Find(KeyIdOf(PublicKeyOf(second))), nullptr);
  EXPECT_EQ(both.Find("0000000000000000"), nullptr);
  EXPECT_FALSE(ReleaseKeySet().RequiresSignatures());
}

TEST(ReleaseSignature, PrivateKeyTextRoundTripsAndRefusesOtherText) {
  P256PrivateKey key{};
  ASSERT_EQ(GenerateP256(key), CryptoStatus::kOk);
  P256PrivateKey read{};
  ASSERT_TRUE(ParsePrivateKeyText("# made by keygen\n" + FormatPrivateKeyText(key), read));
  EXPECT_EQ(read, key);
  EXPECT_FALSE(ParsePrivateKeyText(FormatPublicKeyLine(PublicKeyOf(key)), read));
  EXPECT_FALSE(ParsePrivateKeyText("", read));
}

}  // namespace
