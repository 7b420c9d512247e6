// Transparent-mode updates: additional files, ActiveX and library entries with their own
// destinations and limits, each stage isolated from the others' failures.
#include "update/engine_fixture.h"
#include "xml/xml_document.h"

namespace {

class TransparentModeTest : public EngineTest {
 protected:
  void Run(const std::string& body, FileSink* sink = nullptr) {
    XmlDocument manifest;
    LoadManifest(manifest, "<m>" + body + "</m>");
    UpdateEngine engine(m_host, sink != nullptr ? *sink : m_disk);
    engine.UpdateTransparentMode("1.0", "2.0", manifest, RunContext{true});
  }
  // A file entry element named `element`.
  std::string Entry(const std::string& element, const std::string& address,
                    const std::string& destination, const std::string& size = "",
                    const std::string& extra = "") {
    std::string xml = "<" + element + "><urldescarga>" + address + "</urldescarga><destFichero>" +
                      destination + "</destFichero>";
    if (!size.empty()) xml += "<tamfichero>" + size + "</tamfichero>";
    return xml + extra + "</" + element + ">";
  }
};

TEST_F(TransparentModeTest, InstallsAllThreeStagesInOrder) {
  const std::string u1 = ServeFile("/a1.xml", "one"), u2 = ServeFile("/a2.xml", "two");
  const std::string ux = ServeFile("/ax.xml", "activex"), ul = ServeFile("/lib.xml", "library");
  Run("<fichAdicionales>2</fichAdicionales>" + Entry("fichAdic1", u1, AppFile("a1.dat")) +
      Entry("fichAdic2", u2, AppFile("a2.dat"), "", "<firma>abc</firma>") +
      Entry("actActiveX", ux, AppFile("x.ocx")) +
      Entry("actLibreria", ul, AppFile("lib.dll"), "", "<versionLib>2.0</versionLib>"));

  EXPECT_EQ(ReadFile(AppFile("a1.dat")), "one");
  EXPECT_EQ(ReadFile(AppFile("a2.dat")), "two");
  EXPECT_EQ(ReadFile(AppFile("x.ocx")), "activex");
  EXPECT_EQ(ReadFile(AppFile("lib.dll")), "library");
  EXPECT_EQ(m_host.events,
            (std::vector<std::string>{
                "log ActualizaVersionAplicacion|Actualizando version modo TRANSPARENTE",
                "range 1",
                "log Versi\xF3n App|1.0",
                "log Versi\xF3n Disponible|2.0",
                "range 4",
                "log Fichero actualizado|" + Line(u1, AppFile("a1.dat"), 1),
                "pos 1",
                "log Fichero actualizado|" + Line(u2, AppFile("a2.dat"), 1),
                "pos 2",
                "log Fichero de ActiveX actualizado|" + Line(ux, AppFile("x.ocx"), 1),
                "pos 3",
                "log Fichero de Libreria actualizado|" + Line(ul, AppFile("lib.dll"), 1),
                "pos 4",
            }));
}

TEST_F(TransparentModeTest, GapsAreSkippedWithoutLineOrProgress) {
  const std::string u1 = ServeFile("/a1.xml", "1"), u3 = ServeFile("/a3.xml", "3");
  const std::string u4 = ServeFile("/a4.xml", "4");
  Run("<fichAdicionales>3</fichAdicionales>" + Entry("fichAdic1", u1, AppFile("a1")) +
      Entry("fichAdic3", u3, AppFile("a3")) + Entry("fichAdic4", u4, AppFile("a4")) +
      "<actLibreria><versionLib>2</versionLib></actLibreria>");
  EXPECT_EQ(m_host.Only("pos"), (std::vector<std::string>{"pos 1", "pos 3", "pos 4", "pos 5"}));
  EXPECT_EQ(m_host.Only("log Fichero actualizado").size(), 2u);
  EXPECT_FALSE(PathExists(AppFile("a4")));
  EXPECT_EQ(m_server.RequestCount("/a4.xml"), 0);
}

TEST_F(TransparentModeTest, HugeCountStopsAfterTheLastEntryTheManifestNames) {
  const std::string u1 = ServeFile("/a1.xml", "1");
  Run("<fichAdicionales>2147483647</fichAdicionales>" + Entry("fichAdic1", u1, AppFile("a1")) +
      "<actLibreria><versionLib>2</versionLib></actLibreria>");
  EXPECT_EQ(ReadFile(AppFile("a1")), "1");
  EXPECT_EQ(m_host.Only("pos"),
            (std::vector<std::string>{"pos 1", "pos -2147483648", "pos -2147483647"}));
}

TEST_F(TransparentModeTest, CountMissingOrEmpty) {
  Run("<actLibreria><versionLib>2</versionLib></actLibreria>");
  EXPECT_EQ(m_host.Only("range"), (std::vector<std::string>{"range 1", "range 2"}));
  EXPECT_EQ(m_host.Only("pos"), (std::vector<std::string>{"pos 1", "pos 2"}));
  // A library entry with only its version still runs: nothing to fetch, a line with result 0.
  EXPECT_EQ(m_host.Only("log Fichero de Libreria"),
            (std::vector<std::string>{"log Fichero de Libreria actualizado|" + Line("", "", 0)}));

  m_host.events.clear();
  Run("<fichAdicionales></fichAdicionales><actLibreria><versionLib>2</versionLib></actLibreria>");
  EXPECT_EQ(m_host.Only("range"), (std::vector<std::string>{"range 1"}));
  EXPECT_EQ(m_host.Only("pos"), (std::vector<std::string>{"pos 1", "pos 2"}));
}

TEST_F(TransparentModeTest, EntrySizeLimitDefaultsOnlyWhenMissingOrEmpty) {
  // The default limit is 2048576: a file one byte short of it installs, one of it does not.
  const std::string largest = PatternBytes(2048575), tooLarge = PatternBytes(2048576, 9);
  const std::string uFits = ServeFile("/fits.xml", largest);
  const std::string uOver = ServeFile("/over.xml", tooLarge);
  const std::string uSmall = ServeFile("/small.xml", "e");
  const std::string uZero = ServeFile("/zero.xml", "z");
  const std::string uLong = ServeFile("/long.xml", "zz");
  const std::string empty = "<tamfichero></tamfichero>";
  // 255 bytes that would read as 5 if cut: the file must be refused, neither cut nor defaulted.
  const std::string overlong = "<tamfichero>5" + std::string(254, 'x') + "</tamfichero>";
  Run("<fichAdicionales>5</fichAdicionales>" + Entry("fichAdic1", uFits, AppFile("fits")) +
      Entry("fichAdic2", uOver, AppFile("over"), "", empty) +
      Entry("fichAdic3", uSmall, AppFile("small"), "", empty) +
      Entry("fichAdic4", uZero, AppFile("zero"), "0") +
      Entry("fichAdic5", uLong, AppFile("long"), "", overlong));
  EXPECT_EQ(ReadFile(AppFile("fits")), largest);
  EXPECT_FALSE(PathExists(AppFile("over")));
  EXPECT_EQ(ReadFile(AppFile("small")), "e");
  EXPECT_FALSE(PathExists(AppFile("zero")));
  EXPECT_FALSE(PathExists(AppFile("long")));
  EXPECT_EQ(m_server.RequestCount("/long.xml"), 0);
  const auto lines = m_host.Only("log Fichero actualizado");
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[3], "log Fichero actualizado|" + Line(uZero, AppFile("zero"), 0));
  EXPECT_EQ(lines[4], "log Fichero actualizado|" + Line(uLong, AppFile("long"), 0));
}

TEST_F(TransparentModeTest, FailingStageDoesNotStopTheNext) {
  const std::string u1 = ServeFile("/a1.xml", "1"), ux = ServeFile("/ax.xml", "x");
  const std::string ul = ServeFile("/lib.xml", "lib");
  RecordingDiskSink sink(2);  // the ActiveX file
  Run("<fichAdicionales>1</fichAdicionales>" + Entry("fichAdic1", u1, AppFile("a1")) +
          Entry("actActiveX", ux, AppFile("x.ocx")) +
          Entry("actLibreria", ul, AppFile("lib.dll"), "", "<versionLib>2</versionLib>"),
      &sink);
  EXPECT_EQ(ReadFile(AppFile("lib.dll")), "lib");
  EXPECT_FALSE(PathExists(AppFile("x.ocx")));
  const auto& events = m_host.events;
  const std::vector<std::string> tail(events.end() - 4, events.end());
  EXPECT_EQ(tail, (std::vector<std::string>{
                      "log Error actualizando|Error actualizando ActiveX", "pos 2",
                      "log Fichero de Libreria actualizado|" + Line(ul, AppFile("lib.dll"), 1),
                      "pos 3"}));
}

TEST_F(TransparentModeTest, LibraryStageFailureIsNamedWithItsAccent) {
  const std::string ul = ServeFile("/lib.xml", "lib");
  RecordingDiskSink sink(1);
  Run(Entry("actLibreria", ul, AppFile("lib.dll"), "", "<versionLib>2</versionLib>"), &sink);
  EXPECT_EQ(m_host.Only("log Error"),
            (std::vector<std::string>{"log Error actualizando|Error actualizando Librer\xED"
                                      "a"}));
  EXPECT_EQ(m_host.events.back(), "pos 2");
}

TEST_F(TransparentModeTest, OverlongTextsFailTheFileInsteadOfNamingAnother) {
  const std::string u1 = ServeFile("/a1.xml", "1");
  ASSERT_TRUE(WriteWholeFile(MainExecutable(), "main"));
  const std::string longDestination = AppFile(std::string(300, 'd'));
  Run("<fichAdicionales>1</fichAdicionales>" + Entry("fichAdic1", u1, longDestination) +
      "<actLibreria><versionLib>2</versionLib></actLibreria>");
  // The destination could not be read whole: nothing is written, least of all the executable.
  EXPECT_EQ(ReadFile(MainExecutable()), "main");
  EXPECT_EQ(m_host.Only("log Fichero actualizado"),
            (std::vector<std::string>{"log Fichero actualizado|" + Line(u1, "", 0)}));
}

TEST_F(TransparentModeTest, LongAddressAndDestinationTogetherStillInstallAndLogWhole) {
  // Each text fits its own 254 bytes; together they are far past what one such buffer holds.
  const std::string address = ServeFile("/" + std::string(200, 'p') + ".xml", "long");
  const std::string destination = AppFile(std::string(254 - AppDir().size(), 'd'));
  ASSERT_EQ(destination.size(), 254u);
  ASSERT_LE(address.size(), 254u);
  Run(Entry("actLibreria", address, destination, "", "<versionLib>2</versionLib>"));
  EXPECT_EQ(ReadFile(destination), "long");
  EXPECT_EQ(m_host.Only("log Fichero de Libreria"),
            (std::vector<std::string>{"log Fichero de Libreria actualizado|" +
                                      Line(address, destination, 1)}));
}

}  // namespace

// With the fetcher the front ends give a run, the manifest and every file document come over one
// connection to the server.
TEST_F(TransparentModeTest, RunOfManyFilesUsesOneConnection) {
  constexpr int kFiles = 30;
  m_server.SetKeepAlive(true);
  std::string body = "<fichAdicionales>" + std::to_string(kFiles) + "</fichAdicionales>";
  for (int i = 1; i <= kFiles; ++i) {
    const std::string name = "f" + std::to_string(i) + ".dat";
    const std::string address = ServeFile("/" + name + ".xml", PatternBytes(4096, i));
    body += Entry("fichAdic" + std::to_string(i), address, AppFile(name));
  }
  ServeManifest("<m>" + body + "</m>");
  NetworkFetcher fetcher;
  XmlDocument manifest;
  manifest.SetFetcher(fetcher);
  ASSERT_TRUE(manifest.Load(m_server.Url("/manifest.xml").c_str(), true));
  UpdateEngine engine(m_host, m_disk, fetcher);
  engine.UpdateTransparentMode("1.0", "2.0", manifest, RunContext{});

  for (int i = 1; i <= kFiles; ++i) {
    EXPECT_EQ(ReadFile(AppFile("f" + std::to_string(i) + ".dat")), PatternBytes(4096, i)) << i;
  }
  EXPECT_EQ(m_server.ConnectionCount(), 1);
}
