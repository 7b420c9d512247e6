// The release tool's planning, manifest text, all-or-nothing writer and verdict, on real files in
// a temporary directory; releases are published to a local directory and read back from there.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/files.h"
#include "publish/commands.h"
#include "publish/manifest_text.h"
#include "publish/release_plan.h"
#include "publish/release_writer.h"
#include "publish/report_summary.h"
#include "publish/signing.h"
#include "update/release_signature.h"
#include "support/temp_dir.h"
#include "xml/xml_document.h"

namespace fs = std::filesystem;

namespace {

class PublishTest : public ::testing::Test {
 protected:
  std::string Source(const std::string& name, const std::string& bytes = "data") {
    const std::string path = m_temp.Join(name);
    EXPECT_TRUE(WriteWholeFile(path, bytes));
    return path;
  }
  AppReleaseOptions AppOptions(std::vector<std::string> components) {
    AppReleaseOptions options;
    options.common.version = "2.0";
    options.common.baseUrl = m_temp.Join("out");
    options.common.outDir = m_temp.Join("out");
    options.mainFile = Source("pos.exe", "MZ");
    options.components = std::move(components);
    return options;
  }
  std::string Text(const XmlDocument& manifest, const char* name) {
    char text[256] = {};
    return manifest.GetValue(name, text, sizeof(text)) >= 0 ? text : "<missing>";
  }

  TempDir m_temp;
  std::string m_error;
};

TEST_F(PublishTest, ComponentCountLeavesOutTheMainExecutable) {
  for (int components = 0; components <= 2; ++components) {
    SCOPED_TRACE(components);
    std::vector<std::string> mappings;
    for (int i = 1; i <= components; ++i) {
      mappings.push_back(Source("c" + std::to_string(i) + ".dll", "x") + "=c" + std::to_string(i) +
                         ".dll");
    }
    Release release;
    ASSERT_EQ(PlanAppRelease(AppOptions(mappings), release), std::vector<std::string>{});
    XmlDocument manifest;
    ASSERT_TRUE(manifest.Load(BuildManifestText(release).c_str(), false));
    EXPECT_EQ(Text(manifest, "componentes"), std::to_string(components));
    EXPECT_EQ(Text(manifest, "tamfichero"), "3");  // "MZ" and one byte of room
    EXPECT_EQ(Text(manifest, ("urlcomp" + std::to_string(components + 1)).c_str()), "<missing>");
  }
}

TEST_F(PublishTest, ComponentDestinationsMustStayInsideTheApplicationDirectory) {
  const std::string source = Source("uno.dll");
  struct Row {
    const char* destination;
    bool accepted;
  };
  for (const Row row :
       {Row{"sub/uno.dll", true}, Row{"sub\\uno.dll", true}, Row{"a..b", true},
        Row{"../../../etc/evil.dll", false}, Row{"sub\\..\\..\\x", false}, Row{"/etc/x", false},
        Row{"\\\\host\\share\\x", false}, Row{"C:\\x", false}, Row{"x:stream", false}}) {
    SCOPED_TRACE(row.destination);
    Release release;
    const auto problems = PlanAppRelease(AppOptions({source + "=" + row.destination}), release);
    EXPECT_EQ(problems.empty(), row.accepted);
  }
}

TEST_F(PublishTest, DocumentsAreInPlaceBeforeTheManifest) {
  Release release;
  ASSERT_TRUE(PlanAppRelease(AppOptions({Source("uno.dll") + "=uno.dll"}), release).empty());
  // A directory in the manifest's way makes its rename, the last one, fail.
  fs::create_directories(fs::u8path(m_temp.Join("out")) / "manifest.xml" / "occupied");
  bool partlyInPlace = false;
  EXPECT_NE(WriteRelease(release, BuildManifestText(release), "", partlyInPlace), "");
  EXPECT_TRUE(partlyInPlace);
  for (const ReleaseFile& file : release.files) {
    EXPECT_TRUE(fs::is_regular_file(fs::u8path(m_temp.Join("out")) / file.documentName))
        << file.documentName;
  }
  EXPECT_TRUE(fs::is_directory(fs::u8path(m_temp.Join("out")) / "manifest.xml"));
}

TEST_F(PublishTest, VerifySucceedsOnlyWhenFilesWouldInstall) {
  Release release;
  ASSERT_TRUE(PlanAppRelease(AppOptions({Source("uno.dll") + "=uno.dll"}), release).empty());
  bool partlyInPlace = false;
  ASSERT_EQ(WriteRelease(release, BuildManifestText(release), "", partlyInPlace), "");
  VerifyOptions verify;
  verify.address = m_temp.Join("out") + "/manifest.xml";
  verify.installedVersion = "1.0";
  EXPECT_EQ(RunVerifyCommand(verify), 0);

  // A mode runs, but there is nothing in it to install.
  verify.address = Source("empty.xml", "<m><version>2.0</version><componentes>0</componentes></m>");
  EXPECT_EQ(RunVerifyCommand(verify), 1);
  // No mode runs: the offered version is the installed one.
  verify.installedVersion = "2.0";
  verify.address = m_temp.Join("out") + "/manifest.xml";
  EXPECT_EQ(RunVerifyCommand(verify), 1);
}

// --previous: a patch for a file found in an earlier release when it is small enough, offered in
// the manifest with both digests; verify applies it to its base and fails on a damaged one.
TEST_F(PublishTest, PatchesAgainstAnEarlierReleaseAreWrittenAndVerified) {
  std::string oldBytes(40000, '\0');
  for (std::size_t i = 0; i < oldBytes.size(); ++i)
    oldBytes[i] = static_cast<char>(i * 7 + i / 300);
  const std::string newBytes = oldBytes.substr(0, 30000) + "one change" + oldBytes.substr(30000);
  fs::create_directories(fs::u8path(m_temp.Join("v1/sub")));
  ASSERT_TRUE(WriteWholeFile(m_temp.Join("v1/sub/uno.dll"), oldBytes));
  ASSERT_TRUE(WriteWholeFile(m_temp.Join("v1/pos.exe"), std::string(4000, 'z')));  // too unlike
  AppReleaseOptions options = AppOptions({Source("uno.dll", newBytes) + "=sub/uno.dll"});
  options.common.previousDirs = {m_temp.Join("v1")};
  ASSERT_EQ(RunAppCommand(options), 0);
  XmlDocument manifest;
  ASSERT_TRUE(manifest.Load((m_temp.Join("out") + "/manifest.xml").c_str(), true));
  const std::string full = Text(manifest, "urlcomp1");
  EXPECT_EQ(Text(manifest, "urlparchecomp1"), full.substr(0, full.size() - 4) + ".patch.xml");
  EXPECT_EQ(Text(manifest, "firmabasecomp1"), DigestFile(m_temp.Join("v1/sub/uno.dll"), m_error));
  EXPECT_EQ(Text(manifest, "firmaresultadocomp1"),
            DigestFile(Source("uno.dll", newBytes), m_error));
  EXPECT_EQ(Text(manifest, "urlparchedescarga"), "<missing>");  // "MZ" from 4000 bytes of z

  VerifyOptions verify;
  verify.address = m_temp.Join("out") + "/manifest.xml";
  verify.previousDirs = {m_temp.Join("v1")};
  EXPECT_EQ(RunVerifyCommand(verify), 0);
  // The same patch document with a digit changed: the frame no longer gives the file.
  const std::string patchPath = m_temp.Join("out") + "/comp1-uno.dll.patch.xml";
  std::string document;
  ASSERT_TRUE(ReadWholeFile(patchPath, document, m_error));
  const std::size_t digit = document.find("<fichero>") + 9 + 40;
  document[digit] = document[digit] == '0' ? '1' : '0';
  ASSERT_TRUE(WriteWholeFile(patchPath, document));
  EXPECT_EQ(RunVerifyCommand(verify), 1);
}

TEST_F(PublishTest, RolloutSetsTheShareAndSignsAgain) {
  Release release;
  ASSERT_TRUE(PlanAppRelease(AppOptions({Source("uno.dll") + "=uno.dll"}), release).empty());
  const std::string published = BuildManifestText(release);
  const std::string manifest = Source("manifest.xml", published);
  RolloutOptions rollout;
  rollout.manifest = manifest;
  // Each share in turn: the element is added once, then only its text changes.
  for (const int percent : {10, 0, 100}) {
    SCOPED_TRACE(percent);
    rollout.percent = percent;
    ASSERT_EQ(RunRolloutCommand(rollout), 0);
    std::string text;
    ASSERT_TRUE(ReadWholeFile(manifest, text));
    XmlDocument loaded;
    ASSERT_TRUE(loaded.Load(text.c_str(), false));
    EXPECT_EQ(Text(loaded, "porcentajeDespliegue"), std::to_string(percent));
    EXPECT_EQ(Text(loaded, "version"), "2.0");
    const std::string element =
        "  <porcentajeDespliegue>" + std::to_string(percent) + "</porcentajeDespliegue>\n";
    EXPECT_EQ(text.size(), published.size() + element.size());
    EXPECT_NE(text.find(element), std::string::npos);
  }
  EXPECT_FALSE(fs::exists(fs::u8path(manifest + ".sig")));

  // Signed: a key signs the new text; without one a signed manifest is left alone.
  KeygenOptions keygen;
  keygen.out = m_temp.Join("release.key");
  ASSERT_EQ(RunKeygenCommand(keygen), 0);
  rollout.signing.keyFile = keygen.out;
  rollout.percent = 5;
  ASSERT_EQ(RunRolloutCommand(rollout), 0);
  std::string text;
  std::string signature;
  std::string publicKey;
  ASSERT_TRUE(ReadWholeFile(manifest, text));
  ASSERT_TRUE(ReadWholeFile(manifest + ".sig", signature));
  ASSERT_TRUE(ReadWholeFile(keygen.out + ".pub", publicKey));
  ReleaseKeySet keys;
  ASSERT_TRUE(keys.AddFromText(publicKey));
  EXPECT_EQ(CheckReleaseSignature(keys, std::vector<char>(signature.begin(), signature.end()),
                                  std::vector<char>(text.begin(), text.end()), CurrentUnixTime()),
            SignatureCheck::kValid);
  rollout.signing.keyFile.clear();
  rollout.percent = 50;
  EXPECT_EQ(RunRolloutCommand(rollout), 1);
  std::string after;
  ASSERT_TRUE(ReadWholeFile(manifest, after));
  EXPECT_EQ(after, text);
}

TEST_F(PublishTest, RolloutRefusesWhatItCannotSetSafely) {
  RolloutOptions rollout;
  rollout.percent = 20;
  for (const char* text :
       {"<m><otro>1</otro></m>", "not xml", "<m><version>1</version><porcentajeDespliegue>3</m>"}) {
    SCOPED_TRACE(text);
    rollout.manifest = Source("odd.xml", text);
    EXPECT_EQ(RunRolloutCommand(rollout), 1);
    std::string after;
    ASSERT_TRUE(ReadWholeFile(rollout.manifest, after));
    EXPECT_EQ(after, text);
  }
}

TEST(ReportSummary, AccessLogLinesOfBothFormatsGiveTheirReports) {
  struct Row {
    const char* line;
    const char* outcome;  // "" when the line is no report
  };
  const Row rows[] = {
      // common format
      {"10.0.0.7 - - [07/Dec/2026:10:00:01 +0000] \"GET /r?till=aa&installed=1.2&offered=1.3"
       "&outcome=installed HTTP/1.1\" 404 153",
       "installed"},
      // combined format, a value with an encoded space and ampersand
      {"10.0.0.8 - - [07/Dec/2026:10:00:02 +0000] \"GET /r?till=bb&installed=1.2&offered=1.3"
       "&outcome=refused&reason=the%20signature%20has%20expired%26x HTTP/1.1\" 200 0 \"-\" "
       "\"Mozilla/5.0\"",
       "refused"},
      {"10.0.0.9 - - [07/Dec/2026:10:00:03 +0000] \"GET /pos/manifest.xml HTTP/1.1\" 200 812", ""},
      {"10.0.0.9 - - [07/Dec/2026:10:00:03 +0000] \"POST /r?till=cc&outcome=held HTTP/1.1\" 200 0",
       ""},
      {"garbage", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    TillReport report;
    EXPECT_EQ(ParseReportLine(row.line, report), row.outcome[0] != '\0');
    EXPECT_EQ(report.Field("outcome"), row.outcome);
  }
  TillReport refused;
  ASSERT_TRUE(ParseReportLine(rows[1].line, refused));
  EXPECT_EQ(refused.Field("reason"), "the signature has expired&x");
  EXPECT_EQ(refused.time, "07/Dec/2026:10:00:02 +0000");
}

TEST(ReportSummary, EachTillCountsByItsLatestReportAndRevertsAreListed) {
  std::vector<TillReport> reports;
  for (const char* query : {"till=aa&installed=1.2&offered=1.3&outcome=installed",
                            "till=bb&installed=1.2&offered=1.3&outcome=not-in-rollout",
                            "till=aa&installed=1.3&offered=1.3&outcome=nothing-to-do",
                            "till=cc&installed=1.2&offered=1.3&outcome=reverted",
                            "till=dd&installed=1.2&offered=1.3&outcome=refused&reason=expired"}) {
    TillReport report;
    ASSERT_TRUE(
        ParseReportLine(std::string("h - - [t] \"GET /r?") + query + " HTTP/1.1\" 200 0", report));
    reports.push_back(report);
  }
  EXPECT_EQ(SummariseReports(reports),
            "5 reports from 4 tills\n"
            "tills per installed version (latest report):\n  1.2: 3\n  1.3: 1\n"
            "tills per outcome (latest report):\n  not-in-rollout: 1\n  nothing-to-do: 1\n"
            "  refused: 1\n  reverted: 1\n"
            "reverted after a failed first start:\n  t till cc: installed 1.2, offered 1.3\n"
            "refused:\n  t till dd: installed 1.2, offered 1.3: expired\n");
}

}  // namespace
