// Whatever the server or the file document does, a run leaves the destination whole, logs 0 for
// the file, leaves no temporary file, launches the main application and ends in bounded time.
// One table of scenarios over one fixture: a loopback server that misbehaves on demand.
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>

#include "common/files.h"
#include "support/memory_fetcher.h"
#include "update/engine_fixture.h"

namespace {

constexpr int kSizeLimit = 64;
constexpr char kOldBytes[] = "old bytes of x.dll";
constexpr char kDocumentPath[] = "/doc.xml";
// Short limits keep the suite quick; the scenarios are the same at the product's defaults.
constexpr long kTestStallSeconds = 2;
constexpr long kTestTotalSeconds = 3;
constexpr long kTestRunLimitSeconds = 12;

struct Scenario {
  const char* name;
  // Sets the server up to answer kDocumentPath (or not) and returns the document's address.
  std::function<std::string(TestHttpServer&, const TempDir&)> serve;
};

std::string Document(const std::string& text) { return "<d><fichero>" + text + "</fichero></d>"; }

std::string Nested(int depth, const std::string& inner) {
  std::string xml;
  xml.reserve(static_cast<std::size_t>(depth) * 7 + inner.size());
  for (int i = 0; i < depth; ++i) xml += "<a>";
  xml += inner;
  for (int i = 0; i < depth; ++i) xml += "</a>";
  return xml;
}

std::string Serve(TestHttpServer& server, const std::string& body) {
  server.AddFile(kDocumentPath, body);
  return server.Url(kDocumentPath);
}

const Scenario kScenarios[] = {
    {"404",
     [](TestHttpServer& s, const TempDir&) {
       s.AddStatus(kDocumentPath, 404);
       return s.Url(kDocumentPath);
     }},
    {"500",
     [](TestHttpServer& s, const TempDir&) {
       s.AddStatus(kDocumentPath, 500);
       return s.Url(kDocumentPath);
     }},
    {"connection refused",
     [](TestHttpServer&, const TempDir&) {
       return "http://127.0.0.1:" + std::to_string(UnusedLoopbackPort()) + kDocumentPath;
     }},
    {"body short of its length",
     [](TestHttpServer& s, const TempDir&) {
       s.AddStall(kDocumentPath, "<d><fichero>4142", 0);
       return s.Url(kDocumentPath);
     }},
    {"stall",
     [](TestHttpServer& s, const TempDir&) {
       s.AddStall(kDocumentPath, "<d><fichero>4142", 60);
       return s.Url(kDocumentPath);
     }},
    {"drip",
     [](TestHttpServer& s, const TempDir&) {
       s.AddDrip(kDocumentPath, "<d><fichero>", 200);
       return s.Url(kDocumentPath);
     }},
    {"endless body",
     [](TestHttpServer& s, const TempDir&) {
       s.AddEndless(kDocumentPath, "<d><fichero>");
       return s.Url(kDocumentPath);
     }},
    {"redirect loop",
     [](TestHttpServer& s, const TempDir&) {
       s.AddRedirect(kDocumentPath, kDocumentPath);
       return s.Url(kDocumentPath);
     }},
    {"redirect to file:",
     [](TestHttpServer& s, const TempDir& t) {
       const std::string local = t.Join("local.xml");
       WriteWholeFile(local, FileDocument("local bytes"));
       s.AddRedirect(kDocumentPath, "file://" + local);
       return s.Url(kDocumentPath);
     }},
    {"local path named by a network manifest",
     [](TestHttpServer&, const TempDir& t) {
       const std::string local = t.Join("local.xml");
       WriteWholeFile(local, FileDocument("local bytes"));
       return local;
     }},
    {"malformed XML",
     [](TestHttpServer& s, const TempDir&) { return Serve(s, "<d><fichero>4142</d>"); }},
    {"odd-length text",
     [](TestHttpServer& s, const TempDir&) { return Serve(s, Document("414")); }},
    {"non-hex text", [](TestHttpServer& s, const TempDir&) { return Serve(s, Document("41G2")); }},
    {"text of exactly twice the limit",
     [](TestHttpServer& s, const TempDir&) {
       return Serve(s, Document(std::string(2 * kSizeLimit, 'A')));
     }},
    {"NUL in text",
     [](TestHttpServer& s, const TempDir&) { return Serve(s, Document("414243&#0;4445")); }},
    {"billion laughs",
     [](TestHttpServer& s, const TempDir&) {
       std::string dtd = "<!DOCTYPE d [<!ENTITY a \"4141414141\">";
       for (int i = 1; i < 10; ++i) {
         const std::string prev = "&" + std::string(1, static_cast<char>('a' + i - 1)) + ";";
         dtd += "<!ENTITY " + std::string(1, static_cast<char>('a' + i)) + " \"" + prev + prev +
                prev + prev + prev + prev + prev + prev + prev + prev + "\">";
       }
       return Serve(s, dtd + "]><d><fichero>&j;</fichero></d>");
     }},
    {"deep nesting inside fichero",
     [](TestHttpServer& s, const TempDir&) { return Serve(s, Document(Nested(150000, "41"))); }},
};

class FaultScenarioTest : public EngineTest, public ::testing::WithParamInterface<Scenario> {};

TEST_P(FaultScenarioTest, DestinationWholeNoTemporaryZeroLoggedLaunchedInTime) {
  ASSERT_TRUE(WriteWholeFile(AppFile("x.dll"), kOldBytes));
  ASSERT_TRUE(WriteWholeFile(AppFile("logUpdate.txt"), ""));
  const std::string address = GetParam().serve(m_server, m_temp);
  ServeManifest("<m><version>2</version><componentes>1</componentes><tamfichero>" +
                std::to_string(kSizeLimit) + "</tamfichero><urlcomp1>" + address +
                "</urlcomp1><destcomp1>x.dll</destcomp1></m>");

  UpdateOptions options;
  options.limits.connectTimeoutSeconds = kTestStallSeconds;
  options.limits.stallTimeoutSeconds = kTestStallSeconds;
  options.limits.totalTimeoutSeconds = kTestTotalSeconds;
  options.runFetchLimitSeconds = kTestRunLimitSeconds;
  UpdateEngine engine(m_host, m_disk, DefaultFetcher(), options);
  const auto started = std::chrono::steady_clock::now();
  engine.RunUpdate();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

  EXPECT_EQ(ReadFile(AppFile("x.dll")), kOldBytes);
  EXPECT_EQ(
      m_host.Only("log Fichero actualizado"),
      (std::vector<std::string>{"log Fichero actualizado|" + Line(address, AppFile("x.dll"), 0)}));
  EXPECT_EQ(m_host.Only("launch").size(), 1u);
  EXPECT_EQ(m_host.events.back(), "end");
  EXPECT_LT(seconds, static_cast<double>(kTestRunLimitSeconds));
  for (const auto& entry : std::filesystem::directory_iterator(AppDir())) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == "x.dll" || name == "logUpdate.txt") << "left behind: " << name;
  }
}

INSTANTIATE_TEST_SUITE_P(Server, FaultScenarioTest, ::testing::ValuesIn(kScenarios),
                         [](const ::testing::TestParamInfo<Scenario>& param) {
                           std::string name;
                           for (const char* c = param.param.name; *c != '\0'; ++c) {
                             name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
                           }
                           return name;
                         });

// The run's own bound: a manifest that drips is abandoned when the run's fetching time is up,
// and the main application is still launched.
TEST_F(EngineTest, RunBoundStopsADrippingManifestAndLaunches) {
  m_server.AddDrip("/manifest.xml", "<m><version>", 100);
  SetTestSetting(kAppSettingsKey, kManifestUrlValue, m_server.Url("/manifest.xml"));
  UpdateOptions options;
  options.runFetchLimitSeconds = 2;
  UpdateEngine engine(m_host, m_disk, DefaultFetcher(), options);
  const auto started = std::chrono::steady_clock::now();
  engine.RunUpdate();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  EXPECT_EQ(m_host.events, (std::vector<std::string>{"launch", "end"}));
  EXPECT_LT(seconds, 4.0);
  EXPECT_GE(seconds, 1.5);
}

// Each fetch of a run carries at most what is left of the run's budget, and once the budget is
// spent no fetch is made at all: never one with no time limit. The first document takes longer
// than the whole budget (a server that drips), so the second is never asked for, and the release
// waits for the next run: nothing of it is installed.
TEST_F(EngineTest, NoFetchOutlastsTheRunsBudget) {
  MemoryFetcher fetcher;
  fetcher.Add("mem:manifest",
              "<m><version>2</version><componentes>2</componentes><tamfichero>10</tamfichero>"
              "<urlcomp1>mem:c1</urlcomp1><destcomp1>a</destcomp1>"
              "<urlcomp2>mem:c2</urlcomp2><destcomp2>b</destcomp2></m>");
  fetcher.Add("mem:c1", FileDocument("1"));
  fetcher.Add("mem:c2", FileDocument("2"));
  fetcher.Delay("mem:c1", std::chrono::milliseconds(1200));
  SetTestSetting(kAppSettingsKey, kManifestUrlValue, "mem:manifest");
  UpdateOptions options;
  options.runFetchLimitSeconds = 1;
  UpdateEngine engine(m_host, m_disk, fetcher, options);
  engine.RunUpdate();
  EXPECT_EQ(fetcher.fetched, (std::vector<std::string>{"mem:manifest", "mem:c1"}));
  for (const FetchLimits& limits : fetcher.limitsAsked) {
    EXPECT_GE(limits.totalTimeoutSeconds, 1);
    EXPECT_LE(limits.totalTimeoutSeconds, 1);
  }
  EXPECT_EQ(ReadFile(AppFile("a")), "<missing>");
  EXPECT_EQ(ReadFile(AppFile("b")), "<missing>");
  EXPECT_TRUE(m_host.reports.empty()) << ::testing::PrintToString(m_host.reports);
  EXPECT_EQ(m_host.Only("launch").size(), 1u);
}

// The programs run with these defaults; a change must be deliberate (README and tests alike).
TEST(FetchDefaults, AreTheDocumentedOnes) {
  const FetchLimits limits;
  EXPECT_EQ(limits.connectTimeoutSeconds, 15);
  EXPECT_EQ(limits.stallTimeoutSeconds, 30);
  EXPECT_EQ(limits.totalTimeoutSeconds, 120);
  EXPECT_EQ(limits.maxRedirects, 5);
  EXPECT_EQ(limits.maxBytes, 8u * 1024u * 1024u);
  EXPECT_TRUE(limits.allowLocalFiles);
  EXPECT_EQ(kRunFetchLimitSeconds, 100);
}

}  // namespace

namespace {

// A release of two components and the main executable, each a file document on a server that
// takes ranges: what a shop on a slow line is offered.
class StagedReleaseTest : public EngineTest {
 protected:
  static constexpr std::size_t kFileBytes = 3000;  // a document of about twice that
  static constexpr long kRunSeconds = 1;

  void Offer(const TestHttpServer::Resumable& options, const std::string& version = "2") {
    std::string xml = "<m><version>" + version + "</version><componentes>2</componentes>" +
                      "<tamfichero>100000</tamfichero>";
    for (int i = 1; i <= 3; ++i) {
      const std::string path = "/" + version + "/doc" + std::to_string(i) + ".xml";
      m_documents[i - 1] = FileDocument(PatternBytes(kFileBytes, static_cast<unsigned>(i)));
      m_server.AddResumableFile(path, m_documents[i - 1], options);
      m_paths[i - 1] = path;
      xml += i < 3 ? "<urlcomp" + std::to_string(i) + ">" + m_server.Url(path) + "</urlcomp" +
                         std::to_string(i) + "><destcomp" + std::to_string(i) + ">c" +
                         std::to_string(i) + ".dll</destcomp" + std::to_string(i) + ">"
                   : "<urldescarga>" + m_server.Url(path) + "</urldescarga>";
    }
    m_manifest = xml + "</m>";
    ServeManifest(m_manifest);
    WriteWholeFile(AppFile("logUpdate.txt"), "");
  }
  std::string Release() const {
    return ReleaseIdentity(std::vector<char>(m_manifest.begin(), m_manifest.end()));
  }
  // One start of the updater with the shortened budget; its host's events.
  std::vector<std::string> Start() {
    RecordingHost host;
    UpdateOptions options;
    options.runFetchLimitSeconds = kRunSeconds;
    UpdateEngine engine(host, m_disk, DefaultFetcher(), options);
    engine.RunUpdate();
    EXPECT_EQ(host.Only("launch").size(), 1u);
    m_downloads = host.downloads;
    return host.events;
  }
  // "old", "new" or "mixed": what the application directory holds of the release.
  std::string Installed() const {
    const std::string files[] = {AppFile("c1.dll"), AppFile("c2.dll"), MainExecutable()};
    int updated = 0;
    for (int i = 0; i < 3; ++i) {
      updated += ReadFile(files[i]) == PatternBytes(kFileBytes, static_cast<unsigned>(i + 1));
    }
    return updated == 0 ? "old" : updated == 3 ? "new" : "mixed";
  }
  std::size_t DocumentBytes() const {
    return m_documents[0].size() + m_documents[1].size() + m_documents[2].size();
  }
  std::size_t BytesSent() const {
    return m_server.BodyBytesSent(m_paths[0]) + m_server.BodyBytesSent(m_paths[1]) +
           m_server.BodyBytesSent(m_paths[2]);
  }
  bool Staging() const { return std::filesystem::exists(AppFile(kStageFolderName)); }

  std::string m_manifest;
  std::vector<std::string> m_downloads;  // the last start's download progress
  std::string m_documents[3];
  std::string m_paths[3];
};

const char kDeferredLine[] =
    "log ActualizandoVersion |Descarga incompleta. Se contin\xFA"
    "a en el pr\xF3ximo arranque";

}  // namespace

// The budget cuts the download, not the release: each start installs nothing or everything,
// takes up the documents where the last one stopped, and the line carries about one copy.
TEST_F(StagedReleaseTest, BudgetCutDefersAndTheNextStartsResumeToAWholeRelease) {
  TestHttpServer::Resumable slow;
  slow.bytesPerSecond = 6000;  // about three starts for the whole release
  Offer(slow);
  int starts = 0;
  while (Installed() != "new" && starts < 8) {
    const std::vector<std::string> events = Start();
    ++starts;
    const bool deferred = std::find(events.begin(), events.end(), kDeferredLine) != events.end();
    EXPECT_EQ(Installed(), deferred ? "old" : "new") << "after start " << starts;
    EXPECT_EQ(Staging(), deferred);
    // The bar counts the documents on the disk, from what earlier starts staged on.
    ASSERT_FALSE(m_downloads.empty());
    EXPECT_EQ(m_downloads.back() == "3/3", !deferred) << ::testing::PrintToString(m_downloads);
    if (starts == 1) {
      EXPECT_EQ(m_downloads.front(), "0/3");
    }
  }
  EXPECT_EQ(Installed(), "new");
  EXPECT_GE(starts, 2);
  EXPECT_LE(BytesSent(), DocumentBytes() + DocumentBytes() / 10);
}

// Within one run a dropped connection is taken up where it broke, but only where the server
// grants the range: one that sends the whole document again never gets further, and the file
// fails as any broken download does, the old one left whole.
TEST_F(StagedReleaseTest, DroppedConnectionResumesOnlyWhereRangesAreGranted) {
  struct Case {
    const char* name;
    bool honourRanges;
    const char* installed;
  };
  for (const Case& c :
       {Case{"ranges granted", true, "new"}, Case{"ranges ignored", false, "old"}}) {
    SCOPED_TRACE(c.name);
    for (const char* name : {"c1.dll", "c2.dll", "pos.exe"}) WriteWholeFile(AppFile(name), "old");
    TestHttpServer::Resumable flaky;
    flaky.honourRanges = c.honourRanges;
    flaky.dropAfterBytes = kFileBytes;  // about half of each document per connection
    Offer(flaky, c.honourRanges ? "2" : "3");
    const std::vector<std::string> events = Start();
    EXPECT_EQ(Installed(), c.installed) << ::testing::PrintToString(events);
    EXPECT_FALSE(Staging());
  }
}

// A document changed on the server between two starts is fetched again whole, never spliced
// onto the bytes of the old one; a different release offered meanwhile replaces what was staged.
TEST_F(StagedReleaseTest, ChangedDocumentOrReleaseStartsAgainClean) {
  TestHttpServer::Resumable slow;
  slow.bytesPerSecond = 4000;
  Offer(slow);
  Start();
  ASSERT_TRUE(Staging());
  // Same manifest, first document republished with other bytes and served at full speed.
  const std::string changed = FileDocument(PatternBytes(kFileBytes, 99));
  TestHttpServer::Resumable republished;
  republished.etag = "\"v2\"";
  m_server.AddResumableFile(m_paths[0], changed, republished);
  TestHttpServer::Resumable fast;
  m_server.AddResumableFile(m_paths[1], m_documents[1], fast);
  m_server.AddResumableFile(m_paths[2], m_documents[2], fast);
  Start();
  EXPECT_EQ(ReadFile(AppFile("c1.dll")), PatternBytes(kFileBytes, 99));
  EXPECT_FALSE(Staging());

  // Another release cut half way, then a newer one offered: the old parts go.
  Offer(slow, "4");
  Start();
  ASSERT_TRUE(Staging());
  Offer(fast, "5");
  Start();
  EXPECT_EQ(Installed(), "new");
  EXPECT_FALSE(Staging());
}

// What a killed run leaves in the folder is either taken up or dropped, never trusted blindly:
// a garbled record, a part longer than recorded (bytes that never reached the disk), a part
// shorter than a record that calls it complete.
TEST_F(StagedReleaseTest, LeftoversOfAKilledRunAreTakenUpOrDropped) {
  TestHttpServer::Resumable fast;
  Offer(fast);
  const std::string folder = AppFile(kStageFolderName) + kDirectorySeparator;
  struct Case {
    const char* name;
    std::string record;
    std::string part1;
  };
  std::string taken = "mubax-staging 1\nrelease\t" + Release() + "\n";
  taken += "doc\t0\t3\t\"v1\"\t" + m_server.Url(m_paths[0]) + "\n";
  taken += "doc\t1\t9\t\"v1\"\t" + m_server.Url(m_paths[1]) + "\n";  // part 2 is not 9 bytes
  taken += "doc\t0\t0\t\t" + m_server.Url(m_paths[2]) + "\n";
  const Case cases[] = {
      {"garbled record", "mubax-staging 1\nrelease\tx\ndoc\tmaybe\n", "junk"},
      {"parts longer and shorter than recorded", taken, m_documents[0].substr(0, 3) + "torn"},
      {"other release", "mubax-staging 1\nrelease\tother\ndoc\t1\t4\t\"v1\"\tx\n", "junk"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const char* name : {"c1.dll", "c2.dll", "pos.exe"}) WriteWholeFile(AppFile(name), "old");
    std::filesystem::create_directories(folder);
    ASSERT_TRUE(WriteWholeFile(folder + kStageRecordName, c.record));
    ASSERT_TRUE(WriteWholeFile(folder + "1.part", c.part1));
    ASSERT_TRUE(WriteWholeFile(folder + "2.part", "leftover of another release"));
    const std::vector<std::string> events = Start();
    EXPECT_EQ(Installed(), "new") << ::testing::PrintToString(events);
    EXPECT_FALSE(Staging());
  }
}

TEST(StageRecordTest, RoundTripsAndRefusesWhatIsNotOne) {
  StageRecord record;
  record.release = "ab12";
  StagedDocument document;
  document.address = "http://h/a b.xml";
  document.validator = "\"etag\"";
  document.durable = 123456789012ull;
  document.complete = true;
  record.documents = {document, StagedDocument()};
  record.documents[1].address = "http://h/2.xml";
  StageRecord back;
  ASSERT_TRUE(ParseStageRecord(FormatStageRecord(record), back));
  EXPECT_EQ(FormatStageRecord(back), FormatStageRecord(record));
  EXPECT_EQ(back.documents[0].durable, 123456789012ull);
  const std::string whole = FormatStageRecord(record);
  for (const std::string& text :
       {whole.substr(0, whole.size() - 1), std::string("mubax-staging 2\nrelease\tab\n"),
        std::string("mubax-staging 1\n"), whole + "doc\t1\t-5\t\tx\n", whole + "doc\t1\t5\t\t\n",
        whole + "unknown\tline\n"}) {
    StageRecord refused;
    EXPECT_FALSE(ParseStageRecord(text, refused)) << text;
  }
}
