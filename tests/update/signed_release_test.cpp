// Signed releases through whole update runs, documents served from memory: one signed release,
// changed one way per row, must install byte for byte or leave every destination as it was, with
// the main application started and the reason logged. Also the digest check without keys.
#include <chrono>
#include <filesystem>
#include <functional>

#include "common/files.h"
#include "publish/release_signing.h"
#include "support/memory_fetcher.h"
#include "update/engine_fixture.h"
#include "update/file_digest.h"
#include "update/mirror_fetcher.h"
#include "update/release_signature.h"

namespace {

const char kManifestAddress[] = "mem:manifest.xml";
const char kSignatureAddress[] = "mem:manifest.xml.sig";
constexpr std::int64_t kDay = 24 * 60 * 60;

std::string DigestOf(const std::string& bytes) {
  Sha256Digest digest{};
  EXPECT_TRUE(ComputeSha256(bytes.data(), bytes.size(), digest));
  return FormatFileDigest(digest);
}

// One release as the server holds it: its files, the manifest and its signature file.
struct Release {
  std::map<std::string, std::string> files;      // document address -> file bytes
  std::map<std::string, std::string> documents;  // document address -> file document
  std::map<std::string, std::string> digests;    // document address -> firma text
  std::string version = "2.0";
  bool library = false;
  std::string manifest;
  std::string signature;
};

std::string ApplicationManifest(const Release& r) {
  std::string xml = "<m><version>" + r.version +
                    "</version><componentes>2</componentes>"
                    "<tamfichero>10000</tamfichero>";
  const char* names[] = {"uno.dll", "dos.dll"};
  for (int i = 1; i <= 2; ++i) {
    const std::string n = std::to_string(i);
    const std::string address = "mem:c" + n;
    xml += "<urlcomp" + n + ">" + address + "</urlcomp" + n + "><destcomp" + n + ">" +
           names[i - 1] + "</destcomp" + n + ">";
    if (r.digests.count(address) != 0) {
      xml += "<firmacomp" + n + ">" + r.digests.at(address) + "</firmacomp" + n + ">";
    }
  }
  xml += "<urldescarga>mem:main</urldescarga>";
  if (r.digests.count("mem:main") != 0) {
    xml += "<firmadescarga>" + r.digests.at("mem:main") + "</firmadescarga>";
  }
  return xml + "</m>";
}

std::string Entry(const Release& r, const std::string& name, const std::string& address,
                  const std::string& destination, const std::string& extra) {
  std::string xml = "<" + name + ">" + extra + "<urldescarga>" + address +
                    "</urldescarga><destFichero>" + destination + "</destFichero>";
  if (r.digests.count(address) != 0) xml += "<firma>" + r.digests.at(address) + "</firma>";
  return xml + "</" + name + ">";
}

class SignedReleaseTest : public EngineTest {
 protected:
  static void SetUpTestSuite() {
    for (P256PrivateKey* key : {&s_keyA, &s_keyB, &s_unknown}) {
      ASSERT_EQ(GenerateP256(*key), CryptoStatus::kOk);
    }
  }

  void SetUp() override {
    EngineTest::SetUp();
    ASSERT_TRUE(WriteWholeFile(AppFile("logUpdate.txt"), ""));
    SetTestSetting(kAppSettingsKey, kManifestUrlValue, kManifestAddress);
    SetTestSetting(kAppSettingsKey, kVersionValue, "1.0");
    for (const char* name : {"uno.dll", "dos.dll", "pos.exe", "lib.dll"}) {
      ASSERT_TRUE(WriteWholeFile(AppFile(name), std::string("old ") + name));
    }
    m_trusted.Add(PublicKeyOf(s_keyA));
    m_trusted.Add(PublicKeyOf(s_keyB));
  }

  // The typical release: two components and the main executable, or a library release of one
  // additional file and the library file; every file with its digest.
  Release MakeRelease(bool library) {
    Release r;
    r.library = library;
    r.files = {{"mem:c1", PatternBytes(3000, 1)}, {"mem:c2", PatternBytes(1200, 2)}};
    r.files[library ? "mem:lib" : "mem:main"] = PatternBytes(2500, 3);
    for (const auto& file : r.files) {
      r.documents[file.first] = FileDocument(file.second);
      r.digests[file.first] = DigestOf(file.second);
    }
    return r;
  }

  void Compose(Release& r) {
    if (!r.library) {
      r.manifest = ApplicationManifest(r);
      return;
    }
    r.manifest = "<m><fichAdicionales>1</fichAdicionales>" +
                 Entry(r, "fichAdic1", "mem:c1", AppFile("uno.dll"), "") +
                 Entry(r, "actLibreria", "mem:lib", AppFile("lib.dll"),
                       "<versionLib>" + r.version + "</versionLib>") +
                 "</m>";
  }

  void Sign(Release& r, const P256PrivateKey& key, std::int64_t expires) {
    ASSERT_EQ(BuildSignatureFile(key, expires, r.manifest, r.signature), CryptoStatus::kOk);
  }

  void Serve(const Release& r) {
    m_fetcher.Add(kManifestAddress, r.manifest);
    if (!r.signature.empty()) m_fetcher.Add(kSignatureAddress, r.signature);
    for (const auto& document : r.documents) m_fetcher.Add(document.first, document.second);
  }

  void Run(const ReleaseKeySet& keys) {
    UpdateOptions options;
    options.keys = &keys;
    UpdateEngine engine(m_host, m_disk, m_fetcher, options);
    engine.RunUpdate();
  }

  // Where each file of `r` goes.
  std::map<std::string, std::string> Destinations(const Release& r) const {
    std::map<std::string, std::string> where = {{"mem:c1", AppFile("uno.dll")},
                                                {"mem:c2", AppFile("dos.dll")}};
    where[r.library ? "mem:lib" : "mem:main"] = r.library ? AppFile("lib.dll") : MainExecutable();
    if (r.library) where.erase("mem:c2");
    return where;
  }

  static P256PrivateKey s_keyA;
  static P256PrivateKey s_keyB;
  static P256PrivateKey s_unknown;
  MemoryFetcher m_fetcher;
  ReleaseKeySet m_trusted;
};

P256PrivateKey SignedReleaseTest::s_keyA{};
P256PrivateKey SignedReleaseTest::s_keyB{};
P256PrivateKey SignedReleaseTest::s_unknown{};

std::int64_t Now() { return CurrentUnixTime(); }

struct Row {
  const char* name;
  bool library;
  // Changes the composed release before it is signed (`beforeSigning`) or after.
  std::function<void(Release&)> beforeSigning;
  std::function<void(Release&, const P256PrivateKey*&, std::int64_t&)> signing;
  std::function<void(Release&)> afterSigning;
  const char* refusal;  // the text of the "Manifiesto rechazado" line; null: installs
};

void Nothing(Release&) {}
void ByKeyA(Release&, const P256PrivateKey*&, std::int64_t&) {}

TEST_F(SignedReleaseTest, EachChangeInstallsNothingAndSaysWhy) {
  const P256PrivateKey* keyB = &s_keyB;
  const P256PrivateKey* unknown = &s_unknown;
  const Row rows[] = {
      {"application release signed by key A", false, Nothing, ByKeyA, Nothing, nullptr},
      {"library release signed by key A", true, Nothing, ByKeyA, Nothing, nullptr},
      {"signed by key B: a build trusting two keys takes either", false, Nothing,
       [keyB](Release&, const P256PrivateKey*& key, std::int64_t&) { key = keyB; }, Nothing,
       nullptr},
      {"expired, but within the clock skew allowed", false, Nothing,
       [](Release&, const P256PrivateKey*&, std::int64_t& expires) {
         expires = Now() - kClockSkewSeconds + 60;
       },
       Nothing, nullptr},
      {"one byte of the manifest changed", false, Nothing, ByKeyA,
       [](Release& r) { r.manifest[r.manifest.find("2.0") + 2] = '1'; },
       "La firma no corresponde al manifiesto"},
      {"one byte of a file document changed", false, Nothing, ByKeyA,
       [](Release& r) {
         std::string& doc = r.documents["mem:c2"];
         const std::size_t at = doc.find("<fichero>") + 20;
         doc[at] = doc[at] == '0' ? '1' : '0';
       },
       "Un fichero no corresponde a su huella S256: no se instala nada"},
      {"one byte of a library release's document changed", true, Nothing, ByKeyA,
       [](Release& r) {
         std::string& doc = r.documents["mem:lib"];
         const std::size_t at = doc.find("</fichero>") - 1;
         doc[at] = doc[at] == '0' ? '1' : '0';
       },
       "Un fichero no corresponde a su huella S256: no se instala nada"},
      {"a document swapped for another file of the same release", false, Nothing, ByKeyA,
       [](Release& r) { r.documents["mem:c1"] = r.documents["mem:c2"]; },
       "Un fichero no corresponde a su huella S256: no se instala nada"},
      {"a firma that does not match its file", false,
       [](Release& r) { r.digests["mem:main"] = DigestOf("other bytes"); }, ByKeyA, Nothing,
       "Un fichero no corresponde a su huella S256: no se instala nada"},
      {"a file without firma in a signed release", false,
       [](Release& r) { r.digests.erase("mem:c2"); }, ByKeyA, Nothing,
       "Un fichero no corresponde a su huella S256: no se instala nada"},
      {"signed by a key the build does not trust", false, Nothing,
       [unknown](Release&, const P256PrivateKey*& key, std::int64_t&) { key = unknown; }, Nothing,
       "Firma de una clave no reconocida"},
      {"no signature file", false, Nothing, ByKeyA, [](Release& r) { r.signature.clear(); },
       "Sin fichero de firma"},
      {"signature file cut in half", false, Nothing, ByKeyA,
       [](Release& r) { r.signature.resize(r.signature.size() / 2); },
       "Fichero de firma mal formado"},
      {"signature file garbled", false, Nothing, ByKeyA,
       [](Release& r) { r.signature[r.signature.size() - 10] = 'z'; },
       "Fichero de firma mal formado"},
      {"signature file larger than any signature", false, Nothing, ByKeyA,
       [](Release& r) { r.signature += std::string(kSignatureFileMaxBytes, '#'); },
       "Fichero de firma mal formado"},
      {"one digit of the signature changed", false, Nothing, ByKeyA,
       [](Release& r) {
         char& digit = r.signature[r.signature.size() - 2];
         digit = digit == '0' ? '1' : '0';
       },
       "La firma no corresponde al manifiesto"},
      {"expiry moved later by hand", false, Nothing,
       [](Release&, const P256PrivateKey*&, std::int64_t& expires) { expires = Now() - kDay; },
       [](Release& r) {
         const std::size_t at = r.signature.find("expires ") + 8;
         r.signature[at] = static_cast<char>(r.signature[at] + 1);
       },
       "La firma no corresponde al manifiesto"},
      {"expired a day ago", false, Nothing,
       [](Release&, const P256PrivateKey*&, std::int64_t& expires) { expires = Now() - kDay; },
       Nothing, "Firma caducada"},
      {"an old signed release replayed after its expiry", false,
       [](Release& r) { r.version = "1.5"; },
       [](Release&, const P256PrivateKey*&, std::int64_t& expires) { expires = Now() - 90 * kDay; },
       Nothing, "Firma caducada"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    SetUp();  // fresh destinations and log for each row
    m_host.events.clear();
    m_fetcher = MemoryFetcher();
    Release r = MakeRelease(row.library);
    row.beforeSigning(r);
    Compose(r);
    const P256PrivateKey* key = &s_keyA;
    std::int64_t expires = Now() + 30 * kDay;
    row.signing(r, key, expires);
    Sign(r, *key, expires);
    row.afterSigning(r);
    Serve(r);
    Run(m_trusted);

    const auto refused = m_host.Only("log Manifiesto rechazado|");
    for (const auto& where : Destinations(r)) {
      const std::string name = where.second.substr(AppDir().size());
      // Compared by digest: a failure names the file without printing kilobytes of it.
      EXPECT_EQ(DigestOf(ReadFile(where.second)),
                DigestOf(row.refusal ? "old " + name : r.files[where.first]))
          << name << (row.refusal ? " must be untouched" : " must be installed");
    }
    if (row.refusal != nullptr) {
      EXPECT_EQ(refused,
                std::vector<std::string>{std::string("log Manifiesto rechazado|") + row.refusal});
      EXPECT_TRUE(m_host.Only("log ActualizaVersionAplicacion").empty());
    } else {
      EXPECT_TRUE(refused.empty());
    }
    EXPECT_EQ(m_host.Only("launch").size(), 1u);
    EXPECT_EQ(m_host.events.back(), "end");
  }
}

// Shops serve the big files from their own server: a manifest read over HTTP may name documents
// on a share or local path once a trusted key signed it (each document held to its digest). The
// same manifest unsigned may not, so a stranger's manifest never opens a share of its choosing.
TEST_F(SignedReleaseTest, OnlyASignedManifestOverHttpMayNameLocalDocuments) {
  const std::string bytes = PatternBytes(500, 4);
  const std::string local = m_temp.Join("uno.xml");
  ASSERT_TRUE(WriteWholeFile(local, FileDocument(bytes)));
  const std::string manifest =
      "<m><version>2.0</version><componentes>1</componentes><tamfichero>10000</tamfichero>"
      "<urlcomp1>" +
      local + "</urlcomp1><destcomp1>uno.dll</destcomp1><firmacomp1>" + DigestOf(bytes) +
      "</firmacomp1></m>";
  std::string signature;
  ASSERT_EQ(BuildSignatureFile(s_keyA, Now() + kDay, manifest, signature), CryptoStatus::kOk);
  m_server.AddFile("/rel/manifest.xml", manifest);
  m_server.AddFile("/rel/manifest.xml.sig", signature, "text/plain");
  SetTestSetting(kAppSettingsKey, kManifestUrlValue, m_server.Url("/rel/manifest.xml"));
  NetworkFetcher network;
  const ReleaseKeySet none;
  const ReleaseKeySet* const runs[] = {&none, &m_trusted};
  for (const ReleaseKeySet* keys : runs) {
    SCOPED_TRACE(keys == &none ? "unsigned" : "signed");
    m_host.reports.clear();
    UpdateOptions options;
    options.keys = keys;
    UpdateEngine engine(m_host, m_disk, network, options);
    engine.RunUpdate();
    const bool signedRun = keys == &m_trusted;
    EXPECT_EQ(ReadFile(AppFile("uno.dll")), signedRun ? bytes : std::string("old uno.dll"));
    EXPECT_EQ(m_host.reports.back(), "component 1 " + local + " -> " + AppFile("uno.dll") + " = " +
                                         (signedRun ? "1" : "0"));
  }
}

// The signature file is fetched under its own small cap, not the manifest's.
TEST_F(SignedReleaseTest, TheSignatureIsFetchedUnderItsOwnCap) {
  Release r = MakeRelease(false);
  Compose(r);
  Sign(r, s_keyA, Now() + kDay);
  Serve(r);
  Run(m_trusted);
  ASSERT_GE(m_fetcher.fetched.size(), 2u);
  ASSERT_EQ(m_fetcher.fetched[1], kSignatureAddress);
  EXPECT_EQ(m_fetcher.limitsAsked[0].maxBytes, kManifestMaxBytes);
  EXPECT_EQ(m_fetcher.limitsAsked[1].maxBytes, kSignatureFileMaxBytes);
  EXPECT_EQ(ReadFile(AppFile("uno.dll")), r.files.at("mem:c1"));
}

TEST_F(SignedReleaseTest, ManifestAndSignatureAreFetchedOnceEach) {
  Release r = MakeRelease(false);
  Compose(r);
  Sign(r, s_keyA, Now() + kDay);
  Serve(r);
  Run(m_trusted);
  // The documents once each: staged, checked from the disk, then installed from it.
  EXPECT_EQ(m_fetcher.fetched, (std::vector<std::string>{kManifestAddress, kSignatureAddress,
                                                         "mem:c1", "mem:c2", "mem:main"}));
  EXPECT_FALSE(std::filesystem::exists(AppFile(kStageFolderName)));
}

TEST_F(SignedReleaseTest, WithoutKeysNoSignatureIsFetchedAndOnlyDigestFormFirmaIsChecked) {
  struct Case {
    const char* name;
    std::string firmaOfC1;  // empty: no firma element
    bool c1Installs;
  };
  const Case cases[] = {
      {"no firma", "", true},
      {"matching digest", DigestOf(PatternBytes(3000, 1)), true},
      {"digest of other bytes", DigestOf("other"), false},
      {"free text firma, as releases carry today", "firma del proveedor 2019", true},
      {"digest form one character short", DigestOf(PatternBytes(3000, 1)).substr(0, 47), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    m_fetcher = MemoryFetcher();
    Release r = MakeRelease(true);
    r.digests.clear();
    if (!c.firmaOfC1.empty()) r.digests["mem:c1"] = c.firmaOfC1;
    Compose(r);
    Serve(r);
    Run(ReleaseKeySet());
    EXPECT_EQ(ReadFile(AppFile("uno.dll")), c.c1Installs ? r.files["mem:c1"] : "old uno.dll");
    EXPECT_EQ(ReadFile(AppFile("lib.dll")), r.files["mem:lib"]);  // the others go on as today
    EXPECT_EQ(std::count(m_fetcher.fetched.begin(), m_fetcher.fetched.end(), kSignatureAddress), 0);
  }
}

TEST(FileDigest, FormAndPublishedDigests) {
  // SHA-256 of "abc" and of nothing, in base64url, made apart from this code.
  EXPECT_EQ(DigestOf("abc"), "S256:ungWv48Bz-pBQUDeXa4iI7ADYaOWF3qctBD_YfIAFa0");
  EXPECT_EQ(DigestOf(""), "S256:47DEQpj8HBSa-_TImW-5JCeuQeRkm5NMpJWZG3hSuFU");
  const std::string good = DigestOf("abc");
  EXPECT_TRUE(IsFileDigestText(good.c_str()));
  for (const std::string& bad :
       {good.substr(0, 47), good + "A", "s256" + good.substr(4),
        good.substr(0, 20) + "+" + good.substr(21), good.substr(0, 47) + "="}) {
    EXPECT_FALSE(IsFileDigestText(bad.c_str())) << bad;
  }
  EXPECT_FALSE(IsFileDigestText(nullptr));
}

TEST(Mirrors, ListAndPublisherBase) {
  EXPECT_EQ(ParseMirrorList(" http://tienda/pos ; ;\\\\srv\\pos;/mnt/pos/ "),
            (std::vector<std::string>{"http://tienda/pos/", "\\\\srv\\pos\\", "/mnt/pos/"}));
  EXPECT_TRUE(ParseMirrorList("").empty());
  EXPECT_EQ(PublisherBase("http://h/pos/1.3/manifest.xml"), "http://h/pos/1.3/");
  EXPECT_EQ(PublisherBase("\\\\srv\\pos\\m.xml"), "\\\\srv\\pos\\");
  EXPECT_EQ(PublisherBase("mem:manifest"), "");
}

// Every address a run asks of the network, in order, on the way to the real fetcher.
class CountingFetcher : public Fetcher {
 public:
  FetchStatus Fetch(const char* address, const FetchLimits& limits,
                    std::vector<char>& body) override {
    asked.emplace_back(address);
    return m_network.Fetch(address, limits, body);
  }
  FetchStatus FetchInto(const char* address, const FetchLimits& limits,
                        ByteReceiver& receiver) override {
    asked.emplace_back(address);
    return m_network.FetchInto(address, limits, receiver);
  }
  FetchStatus FetchFrom(const char* address, const FetchLimits& limits, const ResumePoint& from,
                        ByteReceiver& receiver) override {
    asked.emplace_back(address);
    return m_network.FetchFrom(address, limits, from, receiver);
  }
  int Count(const std::string& prefix) const {
    return static_cast<int>(std::count_if(asked.begin(), asked.end(), [&](const std::string& a) {
      return a.compare(0, prefix.size(), prefix) == 0;
    }));
  }
  std::vector<std::string> asked;

 private:
  NetworkFetcher m_network;
};

// A release of two components and the main executable published at /pub/ on the loopback
// server, and a shop's mirror at /m/ on a server of its own.
class MirrorTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    ASSERT_EQ(GenerateP256(m_key), CryptoStatus::kOk);
    m_keys.Add(PublicKeyOf(m_key));
    SetTestSetting(kAppSettingsKey, kVersionValue, "1.0");
    for (const char* name : {"c1", "c2", "main"}) m_files[name] = PatternBytes(1500, name[1]);
  }
  // Publishes the release (documents, manifest with digests, signature) and copies its
  // documents to the mirror, as the shop's server would hold them.
  void Publish() {
    std::string manifest =
        "<m><version>2.0</version><componentes>2</componentes>"
        "<tamfichero>10000</tamfichero>";
    for (const char* n : {"1", "2"}) {
      const std::string name = std::string("c") + n;
      manifest += std::string("<urlcomp") + n + ">" + m_server.Url("/pub/" + name + ".xml") +
                  "</urlcomp" + n + "><destcomp" + n + ">" + name + ".dll</destcomp" + n +
                  "><firmacomp" + n + ">" + DigestOf(m_files[name]) + "</firmacomp" + n + ">";
    }
    manifest += "<urldescarga>" + m_server.Url("/pub/main.xml") + "</urldescarga><firmadescarga>" +
                DigestOf(m_files["main"]) + "</firmadescarga></m>";
    std::string signature;
    ASSERT_EQ(BuildSignatureFile(m_key, CurrentUnixTime() + kDay, manifest, signature),
              CryptoStatus::kOk);
    m_server.AddFile("/pub/manifest.xml", manifest);
    m_server.AddFile("/pub/manifest.xml.sig", signature, "text/plain");
    SetTestSetting(kAppSettingsKey, kManifestUrlValue, m_server.Url("/pub/manifest.xml"));
    for (const auto& file : m_files) {
      m_server.AddFile("/pub/" + file.first + ".xml", FileDocument(file.second));
      m_mirror.AddFile("/m/" + file.first + ".xml", FileDocument(file.second));
    }
  }
  void Run(bool withKeys) {
    UpdateOptions options;
    if (withKeys) options.keys = &m_keys;
    UpdateEngine engine(m_host, m_disk, m_network, options);
    engine.RunUpdate();
  }
  void ExpectInstalled() {
    EXPECT_EQ(ReadFile(AppFile("c1.dll")), m_files["c1"]);
    EXPECT_EQ(ReadFile(AppFile("c2.dll")), m_files["c2"]);
    EXPECT_EQ(ReadFile(MainExecutable()), m_files["main"]);
  }
  int FromPublisher() const {
    return m_server.RequestCount("/pub/c1.xml") + m_server.RequestCount("/pub/c2.xml") +
           m_server.RequestCount("/pub/main.xml");
  }

  P256PrivateKey m_key{};
  ReleaseKeySet m_keys;
  std::map<std::string, std::string> m_files;
  TestHttpServer m_mirror;
  CountingFetcher m_network;
};

TEST_F(MirrorTest, ADeadFirstMirrorIsAskedOnceAndTheNextServesEveryDocument) {
  const std::string dead = "http://127.0.0.1:" + std::to_string(UnusedLoopbackPort()) + "/m";
  for (const bool withKeys : {false, true}) {
    SCOPED_TRACE(withKeys ? "signed" : "unsigned");
    SetUp();
    m_network.asked.clear();
    Publish();
    const int publisherBefore = FromPublisher();
    SetTestSetting(kAppSettingsKey, kMirrorsValue, dead + " ; " + m_mirror.Url("/m/"));
    Run(withKeys);
    ExpectInstalled();
    EXPECT_EQ(m_network.Count(dead), 1);  // the run's one cost of a dead mirror
    EXPECT_EQ(m_network.Count(m_mirror.Url("/m/")), 3);
    EXPECT_EQ(FromPublisher(), publisherBefore);
  }
}

TEST_F(MirrorTest, AWrongDocumentOnAMirrorIsRefusedByDigestAndTheNextSourceServesIt) {
  Publish();
  // The shop's copy of c2 is another file of the release: a valid document, the wrong bytes.
  m_mirror.AddFile("/m/c2.xml", FileDocument(m_files["c1"]));
  SetTestSetting(kAppSettingsKey, kMirrorsValue, m_mirror.Url("/m/"));
  Run(true);
  ExpectInstalled();
  EXPECT_EQ(m_server.RequestCount("/pub/c2.xml"), 1);
  EXPECT_EQ(m_server.RequestCount("/pub/c1.xml") + m_server.RequestCount("/pub/main.xml"), 0);
  EXPECT_EQ(m_mirror.RequestCount("/m/c2.xml"), 1);
  EXPECT_TRUE(m_host.Only("log Manifiesto rechazado").empty());
}

TEST_F(MirrorTest, AShareMirrorServesAnHttpManifestsDocumentsOnlyWithKeys) {
  const std::string share = m_temp.Join("share") + kDirectorySeparator;
  for (const bool withKeys : {false, true}) {
    SCOPED_TRACE(withKeys ? "signed" : "unsigned");
    SetUp();
    Publish();
    std::filesystem::create_directories(m_temp.Join("share"));
    for (const auto& file : m_files) {
      ASSERT_TRUE(WriteWholeFile(share + file.first + ".xml", FileDocument(file.second)));
    }
    const int publisherBefore = FromPublisher();
    SetTestSetting(kAppSettingsKey, kMirrorsValue, share);
    Run(withKeys);
    ExpectInstalled();
    // Without keys nothing would check what the share holds: the publisher serves, as today.
    EXPECT_EQ(FromPublisher() - publisherBefore, withKeys ? 0 : 3);
    EXPECT_EQ(m_network.Count(share), withKeys ? 3 : 0);
    m_network.asked.clear();
  }
}

}  // namespace
