// The trusted key text: what counts as a key, and that a key source given but unreadable still
// demands signatures rather than turning the check off; the signature file's check at its edges.
#include <gtest/gtest.h>

#include <functional>

#include "publish/release_signing.h"
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

// One signature file, changed one way per row, checked at a fixed clock: any deviation from the
// format is malformed, the expiry holds to its edges, and only a trusted key that verifies counts.
TEST(ReleaseSignature, EachSignatureFileAtItsEdges) {
  constexpr std::int64_t kNow = 1700000000;
  P256PrivateKey key{};
  ASSERT_EQ(GenerateP256(key), CryptoStatus::kOk);
  const std::string manifest = "<m><version>2</version></m>";
  const std::vector<char> manifestBytes(manifest.begin(), manifest.end());
  struct Row {
    const char* name;
    std::int64_t expires;
    std::function<void(std::string&)> change;  // of the signature file's text
    SignatureCheck expected;
  };
  const auto none = [](std::string&) {};
  const auto upperSignature = [](std::string& text) {
    const std::size_t at = text.find("signature ") + 10;
    for (std::size_t i = at; i < text.size(); ++i) {
      if (text[i] >= 'a' && text[i] <= 'f') text[i] = static_cast<char>(text[i] - 'a' + 'A');
    }
  };
  const Row rows[] = {
      {"valid", kNow + 60, none, SignatureCheck::kValid},
      {"upper-case signature digits", kNow + 60, upperSignature, SignatureCheck::kMalformed},
      {"bytes after the last line", kNow + 60, [](std::string& t) { t += "x"; },
       SignatureCheck::kMalformed},
      {"an empty line after the last", kNow + 60, [](std::string& t) { t += "\n"; },
       SignatureCheck::kMalformed},
      {"expired exactly the clock skew ago", kNow - kClockSkewSeconds, none,
       SignatureCheck::kValid},
      {"expired a second more than the skew ago", kNow - kClockSkewSeconds - 1, none,
       SignatureCheck::kExpired},
      {"valid for exactly the longest lifetime", kNow + kMaxSignatureLifetimeSeconds, none,
       SignatureCheck::kValid},
      {"valid for a second longer", kNow + kMaxSignatureLifetimeSeconds + 1, none,
       SignatureCheck::kTooFarAhead},
      {"valid for ever (18 digits)", 999999999999999999, none, SignatureCheck::kTooFarAhead},
  };
  ReleaseKeySet trusted;
  trusted.Add(PublicKeyOf(key));
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::string text;
    ASSERT_EQ(BuildSignatureFile(key, row.expires, manifest, text), CryptoStatus::kOk);
    row.change(text);
    const std::vector<char> file(text.begin(), text.end());
    EXPECT_EQ(CheckReleaseSignature(trusted, file, manifestBytes, kNow), row.expected);
  }
}

// A trusted key that cannot be imported (a point off the curve) refuses every signature naming it;
// it never lets one through.
TEST(ReleaseSignature, ATrustedKeyOffTheCurveAcceptsNothing) {
  P256PrivateKey key{};
  ASSERT_EQ(GenerateP256(key), CryptoStatus::kOk);
  P256PublicKey offCurve = PublicKeyOf(key);
  offCurve.back() ^= 0x01;
  ReleaseKeySet trusted;
  trusted.Add(offCurve);
  const std::string manifest = "<m/>";
  std::string text;
  ASSERT_EQ(BuildSignatureFile(key, CurrentUnixTime() + 60, manifest, text), CryptoStatus::kOk);
  // The file names the key the set holds.
  const std::size_t idAt = text.find("key-id ") + 7;
  text.replace(idAt, 16, KeyIdOf(offCurve));
  const std::vector<char> file(text.begin(), text.end());
  const std::vector<char> bytes(manifest.begin(), manifest.end());
  EXPECT_EQ(CheckReleaseSignature(trusted, file, bytes, CurrentUnixTime()),
            SignatureCheck::kBadSignature);
}

// r and s are fixed-width: one that starts with a zero byte (about one signature in 128) is
// written and read back as any other.
TEST(ReleaseSignature, AnROrSWithALeadingZeroByteSignsAndVerifies) {
  P256PrivateKey key{};
  ASSERT_EQ(GenerateP256(key), CryptoStatus::kOk);
  ReleaseKeySet trusted;
  trusted.Add(PublicKeyOf(key));
  int found = 0;
  for (int attempt = 0; attempt < 4000 && found < 2; ++attempt) {
    const std::string manifest = "<m>" + std::to_string(attempt) + "</m>";
    std::string text;
    ASSERT_EQ(BuildSignatureFile(key, CurrentUnixTime() + 60, manifest, text), CryptoStatus::kOk);
    const std::string digits = text.substr(text.find("signature ") + 10, 128);
    if (digits.compare(0, 2, "00") != 0 && digits.compare(64, 2, "00") != 0) continue;
    ++found;
    const std::vector<char> file(text.begin(), text.end());
    const std::vector<char> bytes(manifest.begin(), manifest.end());
    EXPECT_EQ(CheckReleaseSignature(trusted, file, bytes, CurrentUnixTime()),
              SignatureCheck::kValid)
        << text;
  }
  EXPECT_GE(found, 1);
}

}  // namespace
