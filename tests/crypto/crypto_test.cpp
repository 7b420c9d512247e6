// The crypto service's contract, run unchanged on both back ends: published SHA-256 and base64url
// vectors, a fixed ECDSA P-256 vector made by one back end that every target must verify, and
// the refusals a release check relies on.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crypto/crypto.h"
#include "publish/release_signing.h"
#include "update/hex_decoder.h"

namespace {

template <std::size_t N>
std::array<unsigned char, N> FromHex(const std::string& digits) {
  std::array<unsigned char, N> bytes{};
  EXPECT_EQ(digits.size(), 2 * N);
  EXPECT_EQ(HexDecoder().Decode(bytes.data(), digits.data(), digits.size()), 0);
  return bytes;
}

template <std::size_t N>
std::string ToHex(const std::array<unsigned char, N>& bytes) {
  std::string text(2 * N, '\0');
  EncodeHex(bytes.data(), N, &text[0]);
  return text;
}

// Made once with OpenSSL's command-line tool (libcrypto): key, message and r||s.
const char kVectorPublicKey[] =
    "4EEEE60601A8DE7C83A922AD320F27F5042D5D5A5E709B9D6C8B42B76064C34D"
    "9FFA7E0D57D5856B28DF3D00CE57DBEBA5A3B86E9EE498AA0F08432C17D299DD";
const char kVectorMessage[] =
    "mubax contract vector: a signature made once, verified on every target\n";
const char kVectorSignature[] =
    "E1CF6EE32D40444235ED7BF4EF22681B25B653D7DBF8ABE24AD5734898C16233"
    "539E4AF89A7A660ED4CD074D890D3C9DDE5AEDDCC333FED1EDE7BCBB66B751CC";

// Made once by CNG (mubax-publish.exe keygen and sign under Wine): a signature file's header
// followed by the same message, so libcrypto is shown to verify what CNG signs.
const char kCngPublicKey[] =
    "96255D86AF70136FB4B74B0196060C36A2D17E68DC8E3707F314A2F4396E7A49"
    "43311BFA994CD1B1AEC43E9BE71C813EB12BCD02693F9242179A712771D23E22";
const char kCngSignedHeader[] =
    "mubax-release-signature 1\nkey-id e061d4986a5b0574\nexpires 1799234721\n";
const char kCngSignature[] =
    "D28DC2F364797DD08ADC0069CB74FC9548FD6A7EA167FA6328170A5B286D4C8D"
    "460A5115C76DFB4A8051113FB48137B018CDA1A274A27A90F659BEDFF777FAEF";

struct Vector {
  P256PublicKey key;
  std::string message;
  P256Signature signature;
};

Vector FixedVector() {
  return Vector{FromHex<kP256PublicKeyBytes>(kVectorPublicKey), kVectorMessage,
                FromHex<kP256SignatureBytes>(kVectorSignature)};
}

Vector CngVector() {
  return Vector{FromHex<kP256PublicKeyBytes>(kCngPublicKey),
                std::string(kCngSignedHeader) + kVectorMessage,
                FromHex<kP256SignatureBytes>(kCngSignature)};
}

CryptoStatus Verify(const Vector& v) {
  return VerifyP256(v.key, v.message.data(), v.message.size(), v.signature);
}

TEST(Sha256, PublishedVectorsWholeAndInPieces) {
  struct Case {
    std::string message;
    const char* digest;
  };
  const Case cases[] = {
      {"", "E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855"},
      {"abc", "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248D6A61D20638B8E5C026930C3E6039A33CE45964FF2167F6ECEDD419DB06C1"},
      {std::string(1000000, 'a'),
       "CDC76E5C9914FB9281A1C7E284D73E67F1809A48A497200E046D39CCC7112CD0"},
  };
  for (const Case& c : cases) {
    Sha256Digest whole{};
    ASSERT_TRUE(ComputeSha256(c.message.data(), c.message.size(), whole));
    EXPECT_EQ(ToHex(whole), c.digest) << c.message.size();
    // Pieces of every awkward size: the digest must not depend on how the bytes arrive.
    for (const std::size_t piece :
         {std::size_t{1}, std::size_t{63}, std::size_t{64}, std::size_t{65}, std::size_t{4096}}) {
      if (c.message.size() > 100000 && piece < 64) continue;
      Sha256 hash;
      for (std::size_t at = 0; at < c.message.size(); at += piece) {
        ASSERT_TRUE(hash.Update(c.message.data() + at, std::min(piece, c.message.size() - at)));
      }
      Sha256Digest pieces{};
      ASSERT_TRUE(hash.Final(pieces));
      EXPECT_EQ(ToHex(pieces), c.digest) << c.message.size() << " in pieces of " << piece;
    }
  }
}

TEST(Sha256, SpentHashRefusesASecondFinalAndFurtherBytes) {
  Sha256 hash;
  Sha256Digest digest{};
  ASSERT_TRUE(hash.Final(digest));
  Sha256Digest again = FromHex<kSha256Bytes>(std::string(64, '1'));
  EXPECT_FALSE(hash.Final(again));
  EXPECT_EQ(ToHex(again), std::string(64, '1'));  // untouched
  EXPECT_FALSE(hash.Update("x", 1));
}

TEST(EcdsaP256, FixedVectorsOfBothBackEndsVerifyOnEveryTarget) {
  EXPECT_EQ(Verify(FixedVector()), CryptoStatus::kOk);
  EXPECT_EQ(Verify(CngVector()), CryptoStatus::kOk);
}

TEST(EcdsaP256, AnyChangeToMessageOrSignatureIsRefused) {
  struct Change {
    const char* what;
    void (*apply)(Vector&);
  };
  const Change changes[] = {
      {"first message byte", [](Vector& v) { v.message[0] ^= 0x01; }},
      {"last message byte", [](Vector& v) { v.message.back() ^= 0x80; }},
      {"message one byte shorter", [](Vector& v) { v.message.pop_back(); }},
      {"message one byte longer", [](Vector& v) { v.message += '\n'; }},
      {"first byte of r", [](Vector& v) { v.signature[0] ^= 0x01; }},
      {"last byte of s", [](Vector& v) { v.signature[63] ^= 0x01; }},
      {"r and s swapped",
       [](Vector& v) {
         std::swap_ranges(v.signature.begin(), v.signature.begin() + 32, v.signature.begin() + 32);
       }},
      {"r and s zero", [](Vector& v) { v.signature.fill(0); }},
      {"r and s all ones (above the group order)", [](Vector& v) { v.signature.fill(0xFF); }},
  };
  for (const Change& change : changes) {
    for (Vector v : {FixedVector(), CngVector()}) {
      change.apply(v);
      EXPECT_EQ(Verify(v), CryptoStatus::kBadSignature) << change.what;
    }
  }
}

TEST(EcdsaP256, KeyOffTheCurveNeverVerifies) {
  Vector v = FixedVector();
  v.key[63] ^= 0x01;  // Y no longer matches X
  Vector zero = FixedVector();
  zero.key.fill(0);
  for (const Vector& bad : {v, zero}) {
    const CryptoStatus status = Verify(bad);
    // Refused at import where the platform checks the point; Wine's CNG imports any 64 bytes
    // and the verification fails instead.
    EXPECT_TRUE(status == CryptoStatus::kBadKey || status == CryptoStatus::kBadSignature)
        << static_cast<int>(status);
  }
}

TEST(EcdsaP256, GeneratedKeysSignAndVerifyOnlyForThemselves) {
  P256PrivateKey first{};
  P256PrivateKey second{};
  ASSERT_EQ(GenerateP256(first), CryptoStatus::kOk);
  ASSERT_EQ(GenerateP256(second), CryptoStatus::kOk);
  EXPECT_NE(ToHex(first), ToHex(second));
  const std::string message = "release manifest bytes";
  P256Signature one{};
  P256Signature two{};
  ASSERT_EQ(SignP256(first, message.data(), message.size(), one), CryptoStatus::kOk);
  ASSERT_EQ(SignP256(first, message.data(), message.size(), two), CryptoStatus::kOk);
  EXPECT_NE(ToHex(one), ToHex(two));  // randomised: a fixed nonce would give the key away
  EXPECT_EQ(VerifyP256(PublicKeyOf(first), message.data(), message.size(), one), CryptoStatus::kOk);
  EXPECT_EQ(VerifyP256(PublicKeyOf(first), message.data(), message.size(), two), CryptoStatus::kOk);
  EXPECT_EQ(VerifyP256(PublicKeyOf(second), message.data(), message.size(), one),
            CryptoStatus::kBadSignature);
}

TEST(EcdsaP256, PrivateKeyWhoseHalvesDisagreeDoesNotSign) {
  P256PrivateKey first{};
  P256PrivateKey second{};
  ASSERT_EQ(GenerateP256(first), CryptoStatus::kOk);
  ASSERT_EQ(GenerateP256(second), CryptoStatus::kOk);
  P256PrivateKey mixed = first;
  std::copy(second.begin() + kP256FieldBytes, second.end(), mixed.begin() + kP256FieldBytes);
  P256Signature signature{};
  EXPECT_EQ(SignP256(mixed, "m", 1, signature), CryptoStatus::kBadKey);
}

TEST(Base64Url, PublishedVectorsAndTheTwoUrlCharacters) {
  struct Case {
    std::string bytes;
    std::string text;
  };
  const Case cases[] = {
      {"f", "Zg"},
      {"fo", "Zm8"},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg"},
      {"fooba", "Zm9vYmE"},
      {"foobar", "Zm9vYmFy"},
      {"\xFB\xFF", "-_8"},  // standard base64: "+/8="
      // Long enough for a line break in the MIME form, which must not appear.
      {std::string(57, '\xFF'), std::string(76, '_')},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(
        EncodeBase64Url(reinterpret_cast<const unsigned char*>(c.bytes.data()), c.bytes.size()),
        c.text)
        << c.bytes.size();
  }
}

}  // namespace
