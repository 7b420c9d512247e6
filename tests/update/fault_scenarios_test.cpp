// Whatever the server or the file document does, a run leaves the destination whole, logs 0 for
// the file, leaves no temporary file, launches the main application and ends in bounded time.
// One table of scenarios over one fixture: a loopback server that misbehaves on demand.
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

  UpdateEngine engine(m_host, m_disk);
  FetchLimits limits;
  limits.connectTimeoutSeconds = kTestStallSeconds;
  limits.stallTimeoutSeconds = kTestStallSeconds;
  limits.totalTimeoutSeconds = kTestTotalSeconds;
  engine.SetFetchLimits(limits);
  engine.SetRunFetchLimit(kTestRunLimitSeconds);
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
  UpdateEngine engine(m_host, m_disk);
  engine.SetRunFetchLimit(2);
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
// than the whole budget (a server that drips), so the second is never asked for.
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
  UpdateEngine engine(m_host, m_disk, fetcher);
  engine.SetRunFetchLimit(1);
  engine.RunUpdate();
  EXPECT_EQ(fetcher.fetched, (std::vector<std::string>{"mem:manifest", "mem:c1"}));
  for (const FetchLimits& limits : fetcher.limitsAsked) {
    EXPECT_GE(limits.totalTimeoutSeconds, 1);
    EXPECT_LE(limits.totalTimeoutSeconds, 1);
  }
  EXPECT_EQ(ReadFile(AppFile("b")), "<missing>");
  ASSERT_GE(m_host.reports.size(), 2u);
  EXPECT_EQ(m_host.reports[m_host.reports.size() - 2], "component 2 mem:c2 problem");
  EXPECT_EQ(m_host.reports.back(), "component 2 mem:c2 -> " + AppFile("b") + " = 0");
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
