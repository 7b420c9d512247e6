// Application-mode updates: components into the application directory, then the main executable,
// with the exact progress and log sequences.
#include <climits>
#include <filesystem>

#include "support/memory_fetcher.h"
#include "update/manifest_limits.h"
#include "update/engine_fixture.h"
#include "xml/xml_document.h"

namespace {

class ApplicationModeTest : public EngineTest {
 protected:
  void Run(const std::string& xml, FileSink* sink = nullptr) {
    XmlDocument manifest;
    LoadManifest(manifest, xml);
    UpdateEngine engine(m_host, sink != nullptr ? *sink : m_disk);
    engine.UpdateApplicationMode("1.0", "2.0", manifest, RunContext{true});
  }
  std::string Component(int number, const std::string& address, const std::string& destination,
                        const std::string& size = "") {
    const std::string n = std::to_string(number);
    std::string xml = "<urlcomp" + n + ">" + address + "</urlcomp" + n + "><destcomp" + n + ">" +
                      destination + "</destcomp" + n + ">";
    if (!size.empty()) xml += "<tamcomp" + n + ">" + size + "</tamcomp" + n + ">";
    return xml;
  }
};

TEST_F(ApplicationModeTest, InstallsComponentsThenMainExecutableWithProgress) {
  const std::string one = PatternBytes(100, 1), two = PatternBytes(200, 2), main = "MZmain";
  const std::string a1 = ServeFile("/c1.xml", one), a2 = ServeFile("/c2.xml", two);
  const std::string am = ServeFile("/main.xml", main);
  Run("<m><version>2.0</version><componentes>2</componentes><tamfichero>1000</tamfichero>" +
      Component(1, a1, "uno.dll") + Component(2, a2, "dos.dll") + "<urldescarga>" + am +
      "</urldescarga></m>");

  EXPECT_EQ(ReadFile(AppFile("uno.dll")), one);
  EXPECT_EQ(ReadFile(AppFile("dos.dll")), two);
  EXPECT_EQ(ReadFile(MainExecutable()), main);
  EXPECT_EQ(m_host.events,
            (std::vector<std::string>{
                "log ActualizaVersionAplicacion|Actualizando version modo APLICACION",
                "range 1",
                "log Versi\xF3n App|1.0",
                "log Versi\xF3n Disponible|2.0",
                "range 3",
                "log Fichero actualizado|" + Line(a1, AppFile("uno.dll"), 1),
                "pos 1",
                "log Fichero actualizado|" + Line(a2, AppFile("dos.dll"), 1),
                "pos 2",
                "log Actualizando AppPrincipal cUrl|" + am,
                "log AppPrincipal actualizada|" + Line(am, "path app", 1),
                "pos 3",
            }));
}

TEST_F(ApplicationModeTest, CountMissingOrEmptyStillInstallsMainExecutable) {
  const std::string am = ServeFile("/main.xml", "M");
  Run("<m><version>2</version><tamfichero>10</tamfichero><urldescarga>" + am +
      "</urldescarga></m>");
  EXPECT_EQ(m_host.Only("range"), (std::vector<std::string>{"range 1", "range 1"}));
  EXPECT_EQ(m_host.Only("pos"), (std::vector<std::string>{"pos 1"}));
  EXPECT_EQ(ReadFile(MainExecutable()), "M");

  m_host.events.clear();
  Run("<m><version>2</version><componentes></componentes><tamfichero>10</tamfichero>"
      "<urldescarga>" +
      am + "</urldescarga></m>");
  EXPECT_EQ(m_host.Only("range"), (std::vector<std::string>{"range 1"}));
  EXPECT_EQ(m_host.Only("pos"), (std::vector<std::string>{"pos 1"}));
}

TEST_F(ApplicationModeTest, NumbersAreReadAsLeadingIntegers) {
  const std::string a1 = ServeFile("/c1.xml", "x");
  Run("<m><version>2</version><componentes> 1 componente</componentes>"
      "<tamfichero>10 bytes</tamfichero>" +
      Component(1, a1, "uno.dll") + "</m>");
  EXPECT_EQ(ReadFile(AppFile("uno.dll")), "x");

  m_host.events.clear();
  Run("<m><version>2</version><componentes>-2</componentes><tamfichero>10</tamfichero></m>");
  EXPECT_EQ(m_host.Only("range"), (std::vector<std::string>{"range 1", "range 65535"}));
  EXPECT_EQ(m_host.Only("pos"), (std::vector<std::string>{"pos -1"}));
  EXPECT_TRUE(m_host.Only("log Fichero").empty());
}

TEST_F(ApplicationModeTest, ComponentTenUsesItsOwnNamesAndGapsNeverReuseAnAddress) {
  const std::string first = ServeFile("/c1.xml", "first"), tenth = ServeFile("/c10.xml", "tenth");
  std::string xml =
      "<m><version>2</version><componentes>10</componentes>"
      "<tamfichero>100</tamfichero>" +
      Component(1, first, "c1.bin") + "<urlcomp01>" + first + "</urlcomp01>";
  // Component 2 has a destination but no address: it must not be fetched from component 1's.
  xml += "<destcomp2>c2.bin</destcomp2>" + Component(10, tenth, "c10.bin") + "</m>";
  Run(xml);

  EXPECT_EQ(ReadFile(AppFile("c1.bin")), "first");
  EXPECT_EQ(ReadFile(AppFile("c10.bin")), "tenth");
  EXPECT_FALSE(PathExists(AppFile("c2.bin")));
  EXPECT_EQ(m_server.RequestCount("/c1.xml"), 1);
  const auto lines = m_host.Only("log Fichero actualizado|");
  ASSERT_EQ(lines.size(), 10u);
  EXPECT_EQ(lines[1], "log Fichero actualizado|" + Line("", AppFile("c2.bin"), 0));
  EXPECT_EQ(lines[2], "log Fichero actualizado|" + Line("", AppDir(), 0));
  EXPECT_EQ(m_host.Only("pos").back(), "pos 11");
}

TEST_F(ApplicationModeTest, HugeCountStopsAfterTheLastComponentTheManifestNames) {
  const std::string a1 = ServeFile("/c1.xml", "1"), am = ServeFile("/m.xml", "M");
  Run("<m><version>2</version><componentes>2147483647</componentes><tamfichero>10</tamfichero>" +
      Component(1, a1, "c1") + "<urldescarga>" + am + "</urldescarga></m>");
  EXPECT_EQ(ReadFile(AppFile("c1")), "1");
  EXPECT_EQ(ReadFile(MainExecutable()), "M");
  EXPECT_EQ(m_host.Only("log Fichero actualizado").size(), 1u);
  // The range carries the low 16 bits of n + 1; the last position is n + 1 as an int.
  EXPECT_EQ(m_host.Only("range"), (std::vector<std::string>{"range 1", "range 0"}));
  EXPECT_EQ(m_host.Only("pos"), (std::vector<std::string>{"pos 1", "pos -2147483648"}));
}

TEST_F(ApplicationModeTest, MissingTrailingComponentsGetTheirLinesUpToTheWalkedBound) {
  const std::string a1 = ServeFile("/c1.xml", "1");
  struct Row {
    int count;
    std::size_t lines;
  };
  for (const Row row :
       {Row{3, 3}, Row{kMaxWalkedCount, kMaxWalkedCount}, Row{kMaxWalkedCount + 1, 1}}) {
    SCOPED_TRACE(row.count);
    m_host.events.clear();
    Run("<m><version>2</version><componentes>" + std::to_string(row.count) +
        "</componentes><tamfichero>10</tamfichero>" + Component(1, a1, "c1") + "</m>");
    const auto lines = m_host.Only("log Fichero actualizado|");
    ASSERT_EQ(lines.size(), row.lines);
    EXPECT_EQ(lines.back(), "log Fichero actualizado|" + Line(row.lines == 1 ? a1 : "",
                                                              AppFile(row.lines == 1 ? "c1" : ""),
                                                              row.lines == 1 ? 1 : 0));
    const auto positions = m_host.Only("pos");
    ASSERT_EQ(positions.size(), row.lines + 1);
    EXPECT_EQ(positions[row.lines - 1], "pos " + std::to_string(row.lines));
    EXPECT_EQ(positions.back(), "pos " + std::to_string(row.count + 1));
  }
}

TEST_F(ApplicationModeTest, ComponentLimitsAndMissingDefaultSize) {
  const std::string a1 = ServeFile("/c1.xml", PatternBytes(49)), a2 = ServeFile("/c2.xml", "ab");
  const std::string a3 = ServeFile("/c3.xml", PatternBytes(50)), am = ServeFile("/m.xml", "M");
  // No tamfichero: the main executable and component 2 (no tamcomp2) have a limit of 0.
  Run("<m><version>2</version><componentes>3</componentes>" + Component(1, a1, "c1", "50") +
      Component(2, a2, "c2") + Component(3, a3, "c3", "50") + "<urldescarga>" + am +
      "</urldescarga></m>");
  EXPECT_EQ(ReadFile(AppFile("c1")), PatternBytes(49));
  EXPECT_FALSE(PathExists(AppFile("c2")));
  EXPECT_FALSE(PathExists(AppFile("c3")));
  EXPECT_FALSE(PathExists(MainExecutable()));
  EXPECT_EQ(m_host.Only("log AppPrincipal").back(),
            "log AppPrincipal actualizada|" + Line(am, "path app", 0));
  EXPECT_EQ(m_server.RequestCount("/c2.xml"), 0);
}

TEST_F(ApplicationModeTest, EmptyComponentSizeMeansZeroForThatComponentOnly) {
  const std::string a1 = ServeFile("/c1.xml", "1"), a2 = ServeFile("/c2.xml", "2");
  Run("<m><version>2</version><componentes>2</componentes><tamfichero>10</tamfichero>" +
      Component(1, a1, "c1") + "<tamcomp1></tamcomp1>" + Component(2, a2, "c2") + "</m>");
  EXPECT_FALSE(PathExists(AppFile("c1")));
  EXPECT_EQ(ReadFile(AppFile("c2")), "2");
}

TEST_F(ApplicationModeTest, SizeTextsThatCannotBeReadWholeOrAreEmptyAdmitNothing) {
  // 255 bytes that would read as 5 if cut.
  const std::string overlong = "5" + std::string(254, 'x');
  const std::string a1 = ServeFile("/c1.xml", "1"), a2 = ServeFile("/c2.xml", "2");
  const std::string a3 = ServeFile("/c3.xml", "3"), am = ServeFile("/m.xml", "M");
  Run("<m><version>2</version><componentes>3</componentes><tamfichero>" + overlong +
      "</tamfichero>" + Component(1, a1, "c1", overlong) + Component(2, a2, "c2") +
      Component(3, a3, "c3", "10") + "<urldescarga>" + am + "</urldescarga></m>");
  EXPECT_FALSE(PathExists(AppFile("c1")));
  EXPECT_FALSE(PathExists(AppFile("c2")));  // the manifest's default could not be read
  EXPECT_EQ(ReadFile(AppFile("c3")), "3");
  EXPECT_FALSE(PathExists(MainExecutable()));
  EXPECT_EQ(m_server.RequestCount("/c1.xml") + m_server.RequestCount("/m.xml"), 0);

  // Present but empty: a limit of 0, not some default.
  m_host.events.clear();
  Run("<m><version>2</version><tamfichero></tamfichero><urldescarga>" + am + "</urldescarga></m>");
  EXPECT_FALSE(PathExists(MainExecutable()));
  EXPECT_EQ(m_host.Only("log AppPrincipal actualizada"),
            (std::vector<std::string>{"log AppPrincipal actualizada|" + Line(am, "path app", 0)}));
}

TEST_F(ApplicationModeTest, FailureInComponentStageStillInstallsMainExecutable) {
  const std::string a1 = ServeFile("/c1.xml", "1"), a2 = ServeFile("/c2.xml", "2");
  const std::string am = ServeFile("/m.xml", "M");
  RecordingDiskSink sink(2);
  Run("<m><version>2</version><componentes>2</componentes><tamfichero>10</tamfichero>" +
          Component(1, a1, "c1") + Component(2, a2, "c2") + "<urldescarga>" + am +
          "</urldescarga></m>",
      &sink);
  EXPECT_EQ(ReadFile(AppFile("c1")), "1");
  EXPECT_EQ(ReadFile(MainExecutable()), "M");
  EXPECT_EQ(m_host.Only("pos"), (std::vector<std::string>{"pos 1", "pos 3"}));
  EXPECT_EQ(m_host.LogOperations(),
            (std::vector<std::string>{"ActualizaVersionAplicacion", "Versi\xF3n App",
                                      "Versi\xF3n Disponible", "Fichero actualizado",
                                      "Error actualizando", "Actualizando AppPrincipal cUrl",
                                      "AppPrincipal actualizada"}));
  EXPECT_EQ(m_host.Only("log Error")[0], "log Error actualizando|Error actualizando componentes");
}

// A proxy or server that sends a header of a megabyte (an oversized cookie) fails at most that
// one document: the client's own limit is not memory the run lacks, so the stage goes on.
TEST_F(ApplicationModeTest, AHugeResponseHeaderStopsNoLaterComponent) {
  const std::string bytes = "MZ";
  m_server.AddFileWithHeader("/c1.xml", FileDocument(bytes), "Set-Cookie",
                             "c=" + std::string(std::size_t{1024} * 1024, 'x'));
  const std::string a1 = m_server.Url("/c1.xml"), a2 = ServeFile("/c2.xml", "2");
  Run("<m><version>2</version><componentes>2</componentes><tamfichero>10</tamfichero>" +
      Component(1, a1, "c1") + Component(2, a2, "c2") + "</m>");
  EXPECT_EQ(ReadFile(AppFile("c2")), "2");
  EXPECT_TRUE(m_host.Only("log Error").empty());
  // Installed whole where the client takes such a header, else refused: never a cut file.
  const std::string first = ReadFile(AppFile("c1"));
  EXPECT_TRUE(first == bytes || first == "<missing>") << first;
  EXPECT_EQ(m_host.Only("log Fichero actualizado").size(), 2u);
}

TEST_F(ApplicationModeTest, FailureInMainExecutableStepIsContained) {
  const std::string am = ServeFile("/m.xml", "M");
  RecordingDiskSink sink(1);
  Run("<m><version>2</version><tamfichero>10</tamfichero><urldescarga>" + am + "</urldescarga></m>",
      &sink);
  EXPECT_EQ(m_host.Only("log Error"),
            (std::vector<std::string>{"log Error actualizando|Error actualizando AppPrincipal"}));
  EXPECT_EQ(m_host.events.back(), "pos 1");
}

TEST_F(ApplicationModeTest, DestinationsAreJoinedUnchangedAndNeverCut) {
  const std::string a1 = ServeFile("/c1.xml", "1"), a2 = ServeFile("/c2.xml", "2");
  const std::string longName(254 - AppDir().size() + 1, 'n');  // one byte too many
  std::filesystem::create_directories(AppFile("bin"));
  Run("<m><version>2</version><componentes>2</componentes><tamfichero>10</tamfichero>" +
      Component(1, a1, "bin/c1") + Component(2, a2, longName) + "</m>");
  EXPECT_EQ(ReadFile(AppFile("bin/c1")), "1");
  EXPECT_EQ(m_host.Only("log Fichero")[0],
            "log Fichero actualizado|" + Line(a1, AppDir() + "bin/c1", 1));
  EXPECT_EQ(m_server.RequestCount("/c2.xml"), 0);
  EXPECT_EQ(m_host.Only("log Fichero")[1],
            "log Fichero actualizado|" + Line(a2, AppDir() + longName, 0));
}

TEST_F(ApplicationModeTest, MainExecutableAddressMayTakeAllItsBytes) {
  const std::string base = m_server.Url("/");
  const std::string am = ServeFile("/" + std::string(254 - base.size(), 'm'), "M");
  ASSERT_EQ(am.size(), 254u);
  Run("<m><version>2</version><tamfichero>10</tamfichero><urldescarga>" + am +
      "</urldescarga></m>");
  EXPECT_EQ(ReadFile(MainExecutable()), "M");
  EXPECT_EQ(m_host.Only("log AppPrincipal actualizada"),
            (std::vector<std::string>{"log AppPrincipal actualizada|" + Line(am, "path app", 1)}));
}

TEST_F(ApplicationModeTest, LoggingOffInstallsTheSameAndWritesNothing) {
  const std::string a1 = ServeFile("/c1.xml", "1");
  XmlDocument manifest;
  LoadManifest(manifest,
               "<m><version>2</version><componentes>1</componentes>"
               "<tamfichero>10</tamfichero>" +
                   Component(1, a1, "c1") + "</m>");
  UpdateEngine engine(m_host, m_disk);
  engine.UpdateApplicationMode("1", "2", manifest, RunContext{});
  EXPECT_EQ(ReadFile(AppFile("c1")), "1");
  EXPECT_EQ(m_host.events, (std::vector<std::string>{"range 1", "range 2", "pos 1", "pos 2"}));
}

// Documents from memory, logging on: what one component's destination text does.
class ComponentDestinationTest : public EngineTest {
 protected:
  void Run(const std::string& destinationText) {
    m_fetcher.Add("mem:c1", FileDocument("1"));
    m_fetcher.Add("mem:manifest",
                  "<m><version>2</version><componentes>1</componentes><tamfichero>10</tamfichero>"
                  "<urlcomp1>mem:c1</urlcomp1><destcomp1>" +
                      destinationText + "</destcomp1></m>");
    XmlDocument manifest;
    manifest.SetFetcher(m_fetcher);
    ASSERT_TRUE(manifest.Load("mem:manifest", true));
    UpdateEngine engine(m_host, m_disk, m_fetcher);
    engine.UpdateApplicationMode("1", "2", manifest, RunContext{true});
  }
  MemoryFetcher m_fetcher;
};

TEST_F(ComponentDestinationTest, DestinationsLeavingTheApplicationDirectoryAreRefused) {
  const char* const kEscaping[] = {
      "../../escaped.txt",
      "..\\..\\escaped.txt",
      "sub/../../escaped.txt",
      "sub\\..\\..\\x",
      "..",
      "/../escaped.txt",
      "\\..\\escaped.txt",
      "C:\\escaped.txt",
      "c:escaped.txt",
      "sub/.../x",
      ".. /x",
  };
  for (const char* destination : kEscaping) {
    SCOPED_TRACE(destination);
    m_host.events.clear();
    m_host.reports.clear();
    m_fetcher.fetched.clear();
    Run(destination);
    EXPECT_EQ(m_host.Only("log Fichero"),
              (std::vector<std::string>{"log Fichero actualizado|" +
                                        Line("mem:c1", AppDir() + destination, 0)}));
    EXPECT_EQ(m_host.reports.front(), "component 1 mem:c1 problem");
    // Refused before the fetch, so nothing anywhere was written.
    EXPECT_EQ(m_fetcher.fetched, std::vector<std::string>{"mem:manifest"});
    EXPECT_EQ(m_host.Only("pos"), (std::vector<std::string>{"pos 1", "pos 2"}));
  }
}

// A leading separator joins as two in a row, which both targets read as one: the file lands in
// the application directory, UNC-looking names included.
TEST_F(ComponentDestinationTest, NamesThatOnlyLookLikeClimbingOrLeavingStayInside) {
  std::filesystem::create_directories(AppFile("sub"));
  std::filesystem::create_directories(AppFile("host") + kDirectorySeparator + "share");
  for (const char* destination : {"sub/./a.bin", "a..b", "..c", "/lead.bin", "\\lead.bin",
                                  "//host/share/x", "\\\\host\\share\\y", "/sub/b.bin"}) {
    SCOPED_TRACE(destination);
    m_host.events.clear();
    Run(destination);
    EXPECT_EQ(m_host.Only("log Fichero"),
              (std::vector<std::string>{"log Fichero actualizado|" +
                                        Line("mem:c1", AppDir() + destination, 1)}));
    EXPECT_EQ(ReadFile(AppDir() + destination), "1");
  }
  // Only the named files were written, all inside.
  EXPECT_EQ(ReadFile(AppFile("lead.bin")), "1");
  EXPECT_EQ(ReadFile(AppFile("sub") + kDirectorySeparator + "b.bin"), "1");
}

}  // namespace
