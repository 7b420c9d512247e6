// Whole update runs: the logging decision, the manifest address, mode selection, and the launch
// and end that follow every path. One typical run also goes through a real log file.
#include <cstdio>
#include <filesystem>
#include <regex>

#include "common/files.h"
#include "crypto/crypto.h"
#include "log/log_file.h"
#include "publish/patch_maker.h"
#include "net/address.h"
#include "publish/release_signing.h"
#include "support/memory_fetcher.h"
#include "update/file_digest.h"
#include "update/release_stage.h"
#include "update/rollout.h"
#include "update/run_report.h"
#include "update/engine_fixture.h"

namespace {

class UpdateRunTest : public EngineTest {
 protected:
  void EnableLog() { ASSERT_TRUE(WriteWholeFile(AppFile("logUpdate.txt"), "")); }
  void RunOnce(Fetcher& fetcher = DefaultFetcher(), const std::string& identity = "") {
    UpdateOptions options;
    options.tillIdentity = identity;
    options.limits.connectTimeoutSeconds = 5;
    options.limits.stallTimeoutSeconds = 5;
    UpdateEngine engine(m_host, m_disk, fetcher, options);
    engine.RunUpdate();
  }
  std::string Desde() const {
    return "log ActualizandoVersion desde |" + m_server.Url("/manifest.xml");
  }
  static std::string ApplicationManifest(const std::string& version) {
    return "<m><version>" + version + "</version><tamfichero>10</tamfichero></m>";
  }
};

TEST_F(UpdateRunTest, SameVersionRunsNoModeButStillLaunches) {
  EnableLog();
  SetTestSetting(kAppSettingsKey, kVersionValue, "2.0");
  ServeManifest(ApplicationManifest("2.0"));
  RunOnce();
  EXPECT_EQ(m_host.events,
            (std::vector<std::string>{"session " + AppFile("logUpdate.txt"), Desde(),
                                      "log Actualizando() |IniAppUsuario", "launch", "end"}));
}

TEST_F(UpdateRunTest, VersionsAreComparedAsExactText) {
  SetTestSetting(kAppSettingsKey, kVersionValue, "2.0");
  // No ordering of versions: an older one installs too.
  for (const char* offered : {"1.9", "2.0a", "2.O", "2.00", "02.0"}) {
    m_host.events.clear();
    ServeManifest(ApplicationManifest(offered));
    RunOnce();
    EXPECT_EQ(m_host.Only("log ActualizaVersionAplicacion").size(), 0u);  // logging is off
    EXPECT_EQ(m_host.Only("range"), (std::vector<std::string>{"range 1", "range 1"})) << offered;
  }
}

TEST_F(UpdateRunTest, ModeSelection) {
  struct Case {
    const char* manifest;
    const char* expectedMode;  // "APLICACION", "TRANSPARENTE" or "" for none
  };
  const Case cases[] = {
      {"<m><version>3</version><actLibreria><versionLib>3</versionLib></actLibreria></m>",
       "APLICACION"},
      {"<m><version></version><actLibreria><versionLib>3</versionLib></actLibreria></m>", ""},
      {"<m><actLibreria><versionLib>3</versionLib></actLibreria></m>", "TRANSPARENTE"},
      {"<m><actLibreria><versionLib></versionLib></actLibreria></m>", ""},
      {"<m><actLibreria><tamfichero>1</tamfichero></actLibreria></m>", ""},
      {"<m><actLibreria><versionLib>2.0</versionLib></actLibreria></m>", ""},
      {"<version><otro>3</otro></version>", ""},
      {"<m><otro>3</otro></m>", ""},
  };
  SetTestSetting(kAppSettingsKey, kVersionValue, "2.0");
  EnableLog();
  for (const Case& c : cases) {
    m_host.events.clear();
    ServeManifest(c.manifest);
    RunOnce();
    const auto modeLines = m_host.Only("log ActualizaVersionAplicacion|");
    if (c.expectedMode[0] == '\0') {
      EXPECT_TRUE(modeLines.empty()) << c.manifest;
    } else {
      ASSERT_EQ(modeLines.size(), 1u) << c.manifest;
      EXPECT_EQ(
          modeLines[0],
          std::string("log ActualizaVersionAplicacion|Actualizando version modo ") + c.expectedMode)
          << c.manifest;
    }
    EXPECT_EQ(m_host.events.back(), "end") << c.manifest;
  }
}

TEST_F(UpdateRunTest, AbsentInstalledVersionMeansAnyOfferedVersionInstalls) {
  ServeManifest(ApplicationManifest("0.1"));
  RunOnce();
  EXPECT_EQ(m_host.Only("range"), (std::vector<std::string>{"range 1", "range 1"}));
}

TEST_F(UpdateRunTest, UnreachableManifestIsLoggedAndNothingIsTouched) {
  EnableLog();
  SetTestSetting(kAppSettingsKey, kManifestUrlValue, m_server.Url("/missing.xml"));
  RunOnce();
  EXPECT_EQ(m_host.events,
            (std::vector<std::string>{
                "session " + AppFile("logUpdate.txt"),
                "log ActualizandoVersion desde |" + m_server.Url("/missing.xml"),
                "log Error al recuperar informaci\xF3n desde |" + m_server.Url("/missing.xml"),
                "log Actualizando() |IniAppUsuario", "launch", "end"}));

  m_host.events.clear();
  m_server.AddFile("/not-xml.xml", "this is <not xml");
  SetTestSetting(kAppSettingsKey, kManifestUrlValue, m_server.Url("/not-xml.xml"));
  RunOnce();
  EXPECT_EQ(m_host.Only("log Error al recuperar").size(), 1u);
  EXPECT_TRUE(m_host.Only("range").empty());
}

// Manifests the document backends refuse: each is a failed load, and the run still ends by
// starting the main application.
TEST_F(UpdateRunTest, RefusedManifestsFailTheLoadAndTheRunGoesOn) {
  std::string deep = "<m><version>";
  for (int i = 0; i < 150000; ++i) deep += "<a>";
  deep += "2";
  for (int i = 0; i < 150000; ++i) deep += "</a>";
  deep += "</version><tamfichero>10</tamfichero></m>";
  const std::pair<const char*, std::string> manifests[] = {
      {"150,000 nested elements", deep},
      {"a NUL in the version", "<m><version>3&#0;</version><tamfichero>10</tamfichero></m>"},
      {"an internal entity", "<!DOCTYPE m [<!ENTITY v \"3\">]><m><version>&v;</version></m>"},
  };
  EnableLog();
  for (const auto& manifest : manifests) {
    SCOPED_TRACE(manifest.first);
    m_host.events.clear();
    ServeManifest(manifest.second);
    RunOnce();
    EXPECT_EQ(m_host.Only("log Error al recuperar").size(), 1u);
    EXPECT_TRUE(m_host.Only("range").empty());
    EXPECT_EQ(m_host.Only("launch").size(), 1u);
    ASSERT_FALSE(m_host.events.empty());
    EXPECT_EQ(m_host.events.back(), "end");
  }
}

// The log is in Windows-1252 on both targets: a manifest's "versi\u00F3n" is the single byte 0xF3,
// as the program's own "Versi\xF3n" is, whatever the manifest's encoding. (A character with a
// best-fit look-alike, such as U+03A9, becomes that look-alike on Windows and '?' on POSIX.)
TEST_F(UpdateRunTest, ManifestTextsAreLoggedInWindows1252) {
  EnableLog();
  SetTestSetting(kAppSettingsKey, kVersionValue, "1.0");
  ServeManifest(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
      "<m><version>versi\xC3\xB3n 5\xE2\x82\xAC "
      "\xE4\xB8\xAD</version><tamfichero>10</tamfichero></m>");
  RunOnce();
  EXPECT_EQ(m_host.Only("log Versi\xF3n Disponible|"),
            (std::vector<std::string>{"log Versi\xF3n Disponible|versi\xF3n 5\x80 ?"}));
}

TEST_F(UpdateRunTest, WithoutAddressTheBuiltInOneIsUsedAndSaidTwice) {
  EnableLog();
  // Served from memory: the built-in host is never looked up from a test.
  MemoryFetcher fetcher;
  RunOnce(fetcher);
  EXPECT_EQ(fetcher.fetched, std::vector<std::string>{kDefaultManifestAddress});
  ASSERT_GE(m_host.events.size(), 3u);
  EXPECT_EQ(m_host.events[1], "log ActualizandoVersion |Sin URL en Registro. Utiliza url defecto");
  EXPECT_EQ(m_host.events[2],
            std::string("log ActualizandoVersion desde |") + kDefaultManifestAddress);
  EXPECT_NE(std::string(kDefaultManifestAddress).find("/MUB_AX/ActiveX/actvardenov2.xml"),
            std::string::npos);
  EXPECT_EQ(m_host.events.back(), "end");
}

TEST_F(UpdateRunTest, WithoutMarkerNothingIsLogged) {
  ServeManifest(ApplicationManifest("9"));
  RunOnce();
  EXPECT_TRUE(m_host.Only("log").empty());
  EXPECT_TRUE(m_host.Only("session").empty());
  EXPECT_EQ(m_host.Only("range").size(), 2u);
  EXPECT_FALSE(PathExists(AppFile("logUpdate.txt")));
}

TEST_F(UpdateRunTest, MarkerIsFoundInADirectoryWhoseNameLooksLikeAPattern) {
  const std::string directory = m_temp.Join("pos[1]");
  std::filesystem::create_directories(directory);
  ASSERT_TRUE(WriteWholeFile(directory + kDirectorySeparator + "logUpdate.txt", ""));
  SetTestSetting(kAppSettingsKey, kAppPathValue, directory + kDirectorySeparator + "pos.exe");
  ServeManifest(ApplicationManifest("9"));
  RunOnce();
  EXPECT_EQ(
      m_host.Only("session"),
      (std::vector<std::string>{"session " + directory + kDirectorySeparator + "logUpdate.txt"}));
}

// Forwards the engine's log to a real log file, as the window does.
class LogFileHost : public RecordingHost {
 public:
  void StartLogSession(const char* logPath) override {
    m_log.SetPath(logPath);
    m_log.NewSessionId();
  }
  void WriteLog(const char* component, const char* operation, const char* text) override {
    m_log.Write(component, operation, text);
  }
  LogFile m_log;
};

TEST_F(UpdateRunTest, TypicalRunInstallsEverythingAndLeavesTheTrace) {
  SetTestSetting("Software\\MubAX", "NivelLog", "0");
  EnableLog();
  SetTestSetting(kAppSettingsKey, kVersionValue, "1.0");
  const std::string one = PatternBytes(1000, 1), two = PatternBytes(3000, 2);
  const std::string main = PatternBytes(5000, 3);
  const std::string a1 = ServeFile("/c1.xml", one), a2 = ServeFile("/c2.xml", two);
  const std::string am = ServeFile("/main.xml", main);
  ServeManifest(
      "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><actualizacion>"
      "<version>1.1</version><componentes>2</componentes>"
      "<tamfichero>10000</tamfichero>"
      "<urlcomp1>" +
      a1 +
      "</urlcomp1><destcomp1>uno.dll</destcomp1>"
      "<urlcomp2>" +
      a2 +
      "</urlcomp2><destcomp2>dos.dll</destcomp2>"
      "<urldescarga>" +
      am + "</urldescarga></actualizacion>");
  LogFileHost host;
  UpdateEngine engine(host, m_disk);
  engine.RunUpdate();

  EXPECT_EQ(ReadFile(AppFile("uno.dll")), one);
  EXPECT_EQ(ReadFile(AppFile("dos.dll")), two);
  EXPECT_EQ(ReadFile(MainExecutable()), main);
  EXPECT_EQ(host.Only("range"), (std::vector<std::string>{"range 1", "range 3"}));
  EXPECT_EQ(host.Only("pos"), (std::vector<std::string>{"pos 1", "pos 2", "pos 3"}));
  EXPECT_EQ(std::vector<std::string>(host.events.end() - 2, host.events.end()),
            (std::vector<std::string>{"launch", "end"}));

  // Every line: "[dd/mm/yyyy - hh:mm:ss] id-NNNNNN - MubaxVardeno.<operation> <text> \r\r\n".
  const std::string log = ReadFile(AppFile("logUpdate.txt"));
  const std::regex linePattern(
      R"(\[\d\d/\d\d/\d{4} - \d\d:\d\d:\d\d\] id-0\d{5} - MubaxVardeno\.([^\r]*) \r\r\n)");
  std::vector<std::string> lines;
  for (std::sregex_iterator it(log.begin(), log.end(), linePattern), end; it != end; ++it) {
    lines.push_back((*it)[1]);
  }
  const std::string desde = m_server.Url("/manifest.xml");
  EXPECT_EQ(lines,
            (std::vector<std::string>{
                "ActualizandoVersion desde  " + desde,
                "ActualizaVersionAplicacion Actualizando version modo APLICACION",
                "Versi\xF3n App 1.0",
                "Versi\xF3n Disponible 1.1",
                "Fichero actualizado URL Act [" + a1 + "] Fich Dest [" + AppFile("uno.dll") + "] 1",
                "Fichero actualizado URL Act [" + a2 + "] Fich Dest [" + AppFile("dos.dll") + "] 1",
                "Actualizando AppPrincipal cUrl " + am,
                "AppPrincipal actualizada URL Act [" + am + "] Fich Dest [path app] 1",
                "Actualizando()  IniAppUsuario",
            }));
  // Nothing else in the file: each line adds 53 fixed bytes (stamp, id, component, line end).
  std::size_t joined = 0;
  for (const std::string& line : lines) joined += line.size() + 53;
  EXPECT_EQ(log.size(), joined);
}

// A simulated till of a fleet: identities shaped like /etc/machine-id's 32 hexadecimal digits.
std::string SimulatedIdentity(int till) {
  char text[33] = {};
  std::snprintf(text, sizeof(text), "%08x%024x", static_cast<unsigned>(till) * 2654435761u, till);
  return text;
}

TEST(Rollout, PercentTextIsAWholeNumberFrom0To100) {
  struct Case {
    const char* text;
    int expected;  // -1: refused
  };
  const Case cases[] = {{"0", 0},   {"100", 100}, {" 25\n", 25}, {"007", 7},  {"101", -1},
                        {"-1", -1}, {"", -1},     {"5%", -1},    {"2.5", -1}, {"99999999999", -1}};
  for (const Case& c : cases) {
    int percent = -1;
    EXPECT_EQ(ParseRolloutPercent(c.text, percent), c.expected != -1) << c.text;
    EXPECT_EQ(percent, c.expected) << c.text;
  }
}

TEST(Rollout, ShareOfTenThousandTillsIsWithinTwoPoints) {
  constexpr int kTills = 10000;
  for (const int percent : {0, 1, 10, 25, 50, 75, 99, 100}) {
    int taking = 0;
    for (int till = 0; till < kTills; ++till) {
      const int bucket = RolloutBucket(SimulatedIdentity(till), "1.3");
      ASSERT_GE(bucket, 0);
      ASSERT_LT(bucket, kRolloutBuckets);
      if (TakesRollout(bucket, percent)) ++taking;
    }
    EXPECT_NEAR(taking * 100.0 / kTills, percent, 2.0) << percent;
  }
}

TEST(Rollout, ATillsAnswerHoldsForOneReleaseAndAnotherReleasePicksOthers) {
  constexpr int kTills = 10000;
  int inBoth = 0;
  int inFirst = 0;
  for (int till = 0; till < kTills; ++till) {
    const std::string identity = SimulatedIdentity(till);
    EXPECT_EQ(RolloutBucket(identity, "1.3"), RolloutBucket(identity, "1.3"));
    const bool first = TakesRollout(RolloutBucket(identity, "1.3"), 10);
    inFirst += first ? 1 : 0;
    inBoth += first && TakesRollout(RolloutBucket(identity, "1.4"), 10) ? 1 : 0;
  }
  // Independent picks share about a tenth of the first release's tills, not all of them.
  EXPECT_NEAR(inBoth * 100.0 / inFirst, 10.0, 3.0);
}

TEST(Rollout, ATillWithoutIdentityTakesOnlyAFullRollout) {
  EXPECT_EQ(RolloutBucket("", "1.3"), -1);
  EXPECT_FALSE(TakesRollout(-1, 99));
  EXPECT_TRUE(TakesRollout(-1, 100));
}

TEST_F(UpdateRunTest, RolloutDecidesBeforeAnythingIsFetched) {
  // A till in bucket 40 for version 1.1: in at 41 %, out at 40 %.
  std::string inBucket40;
  for (int till = 0; inBucket40.empty(); ++till) {
    if (RolloutBucket(SimulatedIdentity(till), "1.1") == 40) inBucket40 = SimulatedIdentity(till);
  }
  struct Case {
    const char* element;  // "" for none
    std::string identity;
    bool installs;
  };
  const Case cases[] = {
      {"", "", true},
      {"<porcentajeDespliegue>100</porcentajeDespliegue>", "", true},
      {"<porcentajeDespliegue>0</porcentajeDespliegue>", inBucket40, false},
      {"<porcentajeDespliegue>41</porcentajeDespliegue>", inBucket40, true},
      {"<porcentajeDespliegue>40</porcentajeDespliegue>", inBucket40, false},
      {"<porcentajeDespliegue>99</porcentajeDespliegue>", "", false},
      {"<porcentajeDespliegue>mitad</porcentajeDespliegue>", inBucket40, false},
  };
  EnableLog();
  SetTestSetting(kAppSettingsKey, kVersionValue, "1.0");
  const std::string main = PatternBytes(300, 5);
  const std::string address = ServeFile("/main.xml", main);
  for (const Case& c : cases) {
    std::filesystem::remove(MainExecutable());
    m_host.events.clear();
    ServeManifest(std::string("<m><version>1.1</version><tamfichero>1000</tamfichero>") +
                  c.element + "<urldescarga>" + address + "</urldescarga></m>");
    const int fetchesBefore = m_server.RequestCount("/main.xml");
    RunOnce(DefaultFetcher(), c.identity);
    EXPECT_EQ(ReadFile(MainExecutable()), c.installs ? main : "<missing>") << c.element;
    EXPECT_EQ(m_server.RequestCount("/main.xml") - fetchesBefore, c.installs ? 1 : 0) << c.element;
    const std::vector<std::string> outLine = {
        "log ActualizandoVersion |Versi\xF3n en despliegue escalonado. Este equipo a\xFAn no la "
        "instala"};
    EXPECT_EQ(m_host.Only("log ActualizandoVersion |"),
              c.installs ? std::vector<std::string>{} : outLine)
        << c.element;
    EXPECT_EQ(m_host.events.back(), "end");
    EXPECT_FALSE(std::filesystem::exists(AppFile(".mubax-staging"))) << c.element;
  }
}

// A watch that holds every offered version back, as after a failed first start.
class HoldingWatch : public FirstStartWatchHooks {
 public:
  void FinishEarlierRun(RunLog& /*log*/) override {}
  bool MayInstall(const char* /*offeredVersion*/) override { return false; }
  void BeginInstall(const char* /*installed*/, const char* /*offered*/) override {}
  void EndInstall() override {}
};

class BusyHost : public RecordingHost {
 public:
  bool TakeUpdateTurn() override { return false; }
};

bool BudgetEnds(int /*documentNumber*/) { return false; }

// Every outcome a run can have, from a real run: the engine's one summary event, and the report
// made of it as a loopback server receives it (one request each).
TEST_F(UpdateRunTest, EachOutcomeIsReportedOnceAndReceived) {
  P256PrivateKey key{};
  ASSERT_EQ(GenerateP256(key), CryptoStatus::kOk);
  ReleaseKeySet keys;
  keys.Add(PublicKeyOf(key));
  HoldingWatch holding;
  const std::string main = PatternBytes(200, 9);
  const std::string address = ServeFile("/main.xml", main);
  Sha256Digest otherDigest{};
  ASSERT_TRUE(ComputeSha256("other", 5, otherDigest));
  const std::string offering = "<m><version>1.1</version><tamfichero>1000</tamfichero>";
  const std::string mainEntry = "<urldescarga>" + address + "</urldescarga>";
  struct Case {
    std::string manifest;  // "" serves none
    const char* expected;  // the report's query from "outcome="
    const ReleaseKeySet* keys = nullptr;
    FirstStartWatchHooks* watch = nullptr;
    bool busy = false;
    bool budgetEnds = false;
    // A run that fetched no manifest, or refused it unread, knows of no offered version.
    bool manifestRead = true;
  };
  const std::string digestEntry =
      "<firmadescarga>" + FormatFileDigest(otherDigest) + "</firmadescarga>" + mainEntry + "</m>";
  std::vector<Case> cases = {
      {"<m><version>1.0</version></m>", "outcome=nothing-to-do"},
      {offering + mainEntry + "</m>", "outcome=installed"},
      {offering + "<urldescarga>" + m_server.Url("/gone.xml") + "</urldescarga></m>",
       "outcome=failed-files&failed=1"},
      {offering + mainEntry + "</m>", "outcome=deferred"},
      {offering + "<porcentajeDespliegue>0</porcentajeDespliegue>" + mainEntry + "</m>",
       "outcome=not-in-rollout"},
      {offering + mainEntry + "</m>",
       "outcome=refused&reason=no%20signature%20file%20could%20be%20fetched"},
      {offering + digestEntry,
       "outcome=refused&reason=a%20file%20of%20the%20release%20does%20not%20match%20its%20S256%20"
       "digest"},
      {offering + mainEntry + "</m>", "outcome=held"},
      {"", "outcome=no-manifest"},
      {offering + mainEntry + "</m>", "outcome=busy"},
  };
  cases[3].budgetEnds = true;
  cases[5].keys = &keys;
  cases[5].manifestRead = false;
  cases[8].manifestRead = false;
  cases[9].manifestRead = false;
  cases[6].keys = &keys;
  cases[7].watch = &holding;
  cases[9].busy = true;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    SetTestSetting(kAppSettingsKey, kVersionValue, "1.0");
    std::filesystem::remove_all(AppFile(".mubax-staging"));
    ServeManifest(c.manifest.empty() ? std::string("<m><version>") : c.manifest);
    if (c.manifest.empty()) m_server.AddStatus("/manifest.xml", 404);
    std::string signature;
    ASSERT_EQ(BuildSignatureFile(key, CurrentUnixTime() + 600, c.manifest, signature),
              CryptoStatus::kOk);
    if (c.keys != nullptr && c.manifest == offering + digestEntry) {
      m_server.AddFile("/manifest.xml.sig", signature, "text/plain");
    }
    BusyHost busy;
    RecordingHost& host = c.busy ? busy : m_host;
    host.outcomes.clear();
    UpdateOptions options;
    options.keys = c.keys;
    options.firstStartWatch = c.watch;
    UpdateEngine engine(host, m_disk, DefaultFetcher(), options);
    SetStageAttemptHook(c.budgetEnds ? BudgetEnds : nullptr);
    engine.RunUpdate();
    SetStageAttemptHook(nullptr);
    ASSERT_EQ(host.outcomes.size(), 1u);

    const int before = m_server.RequestCount("/report");
    m_server.AddStatus("/report", 404);  // a static server without the file still logs the query
    EXPECT_EQ(SendReport(DefaultFetcher(), FormatReportAddress(m_server.Url("/report?shop=7"),
                                                               host.outcomes[0], "ab12")),
              FetchStatus::kHttpError);
    EXPECT_EQ(m_server.RequestCount("/report"), before + 1);
    std::string offered;
    if (c.manifestRead) offered = c.manifest.find("1.1") == std::string::npos ? "1.0" : "1.1";
    EXPECT_EQ(m_server.LastRequestTarget("/report"),
              "/report?shop=7&till=ab12&installed=1.0&offered=" + offered + "&" + c.expected);
  }
}

TEST(RunReport, ValuesAreQueryEncodedAndTheTillIsNamedByAHashOnly) {
  RunSummary summary;
  summary.installedVersion = "1.0 beta&x=1";
  summary.offeredVersion = "2.0+\xF3";
  EXPECT_EQ(
      FormatReportAddress("http://h/r", summary, "n"),
      "http://h/r?till=n&installed=1.0%20beta%26x%3D1&offered=2.0%2B%F3&outcome=nothing-to-do");
  EXPECT_EQ(DecodeQueryValue("1.0%20beta%26x%3D1+y%zz%4"), "1.0 beta&x=1 y%zz%4");
  const std::string name = TillReportName("3d1219c7c4c5404aaa1f6d2a48adfda4");
  EXPECT_EQ(name.size(), 32u);
  EXPECT_EQ(name.find("3d1219c7"), std::string::npos);
  EXPECT_NE(name, TillReportName("3d1219c7c4c5404aaa1f6d2a48adfda5"));
  EXPECT_EQ(TillReportName(""), "");
  // One request, whatever the server answers: a redirect is not followed.
  TestHttpServer server;
  server.AddRedirect("/moved", "/report");
  server.AddFile("/report", "");
  EXPECT_EQ(SendReport(DefaultFetcher(), server.Url("/moved?till=n")),
            FetchStatus::kRedirectRefused);
  EXPECT_EQ(server.RequestCount("/moved"), 1);
  EXPECT_EQ(server.RequestCount("/report"), 0);
  // Only http and https: a report never reads a file or a share.
  MemoryFetcher never;
  EXPECT_EQ(SendReport(never, "/etc/passwd"), FetchStatus::kUnsupportedAddress);
  EXPECT_EQ(SendReport(never, "file:///etc/passwd"), FetchStatus::kUnsupportedAddress);
  EXPECT_TRUE(never.fetched.empty());
}

}  // namespace

namespace {

std::string S256(const std::string& bytes) {
  Sha256Digest digest{};
  EXPECT_TRUE(ComputeSha256(bytes.data(), bytes.size(), digest));
  return FormatFileDigest(digest);
}

// Where a manifest keeps a file and its patch offer: a component, the main executable, the
// library file of a library release (read as every file entry is).
enum class Shape { kComponent, kMain, kLibraryEntry };

std::string PatchManifest(Shape shape, const std::string& full, const std::string& patch,
                          const std::string& base, const std::string& result,
                          const std::string& destination) {
  const std::string offer[3] = {"<urlparche>" + patch + "</urlparche>",
                                "<firmabase>" + base + "</firmabase>",
                                "<firmaresultado>" + result + "</firmaresultado>"};
  switch (shape) {
    case Shape::kComponent:
      return "<a><version>1.1</version><componentes>1</componentes><tamfichero>90000</tamfichero>"
             "<urlcomp1>" +
             full +
             "</urlcomp1><destcomp1>uno.dll</destcomp1>"
             "<urlparchecomp1>" +
             patch + "</urlparchecomp1><firmabasecomp1>" + base +
             "</firmabasecomp1><firmaresultadocomp1>" + result + "</firmaresultadocomp1></a>";
    case Shape::kMain:
      return "<a><version>1.1</version><tamfichero>90000</tamfichero><urldescarga>" + full +
             "</urldescarga><urlparchedescarga>" + patch +
             "</urlparchedescarga>"
             "<firmabasedescarga>" +
             base + "</firmabasedescarga><firmaresultadodescarga>" + result +
             "</firmaresultadodescarga></a>";
    case Shape::kLibraryEntry:
      break;
  }
  return "<a><actLibreria><versionLib>1.1</versionLib><tamfichero>90000</tamfichero><urldescarga>" +
         full + "</urldescarga><destFichero>" + destination + "</destFichero>" + offer[0] +
         offer[1] + offer[2] + "</actLibreria></a>";
}

}  // namespace

// A file with a patch offered: the patch when the till has its base and it gives the file its
// result digest promises, else the full document in the same run, each tried once; never a wrong
// byte, and with neither usable the old file stays.
TEST_F(UpdateRunTest, APatchOrElseTheFullDocumentInstallsTheNewFile) {
  const std::string oldBytes = PatternBytes(60000, 4);
  std::string newBytes = oldBytes;
  newBytes.replace(20000, 7, "changed");
  std::string patch;
  ASSERT_TRUE(MakePatch(oldBytes, newBytes, patch));
  std::string damaged = patch;
  damaged[damaged.size() / 2] = static_cast<char>(damaged[damaged.size() / 2] ^ 0x40);
  struct Case {
    const char* name;
    std::string onDisk;       // the destination's file before the run
    std::string patchServed;  // empty: the patch document is missing (404)
    std::string result;       // the result digest offered
    bool fullServed;
    bool installs;
    int patchRequests, fullRequests;
  };
  const Case cases[] = {
      {"applies", oldBytes, patch, S256(newBytes), true, true, 1, 0},
      {"wrong base", PatternBytes(60000, 9), patch, S256(newBytes), true, true, 0, 1},
      {"corrupted patch", oldBytes, damaged, S256(newBytes), true, true, 1, 1},
      {"missing patch", oldBytes, "", S256(newBytes), true, true, 1, 1},
      {"wrong result digest", oldBytes, patch, S256(oldBytes), true, true, 1, 1},
      {"corrupted patch, no full", oldBytes, damaged, S256(newBytes), false, false, 1, 1},
  };
  int round = 0;
  for (const Shape shape : {Shape::kComponent, Shape::kMain, Shape::kLibraryEntry}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + ", shape " + std::to_string(static_cast<int>(shape)));
      const std::string tag = std::to_string(++round);
      const std::string destination =
          shape == Shape::kComponent
              ? AppFile("uno.dll")
              : (shape == Shape::kMain ? MainExecutable() : AppFile("x.bin"));
      ASSERT_TRUE(WriteWholeFile(destination, c.onDisk));
      SetTestSetting(kAppSettingsKey, kVersionValue, "1.0");
      const std::string full = "/full" + tag + ".xml", patchPath = "/patch" + tag + ".xml";
      if (c.fullServed) ServeFile(full, newBytes);
      if (!c.patchServed.empty()) ServeFile(patchPath, c.patchServed);
      ServeManifest(PatchManifest(shape, m_server.Url(full), m_server.Url(patchPath),
                                  S256(oldBytes), c.result, destination));
      m_host = RecordingHost();
      RunOnce();
      EXPECT_TRUE(ReadFile(destination) == (c.installs ? newBytes : c.onDisk));
      EXPECT_EQ(m_server.RequestCount(patchPath), c.patchRequests);
      EXPECT_EQ(m_server.RequestCount(full), c.fullRequests);
      // Reported as the full document, as if no patch had existed.
      ASSERT_FALSE(m_host.reports.empty());
      EXPECT_NE(m_host.reports.back().find(m_server.Url(full) + " -> "), std::string::npos);
      EXPECT_EQ(m_host.reports.back().back(), c.installs ? '1' : '0');
    }
  }
}
