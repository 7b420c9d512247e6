// The engine tells its host what happened to each file in types: the stage, the number within
// it, the problem and the result, with logging off, and with documents served from memory.
#include "support/memory_fetcher.h"
#include "update/engine_fixture.h"
#include "xml/xml_document.h"

namespace {

class FileReportsTest : public EngineTest {
 protected:
  // Runs the mode the manifest calls for, logging off, every document from `m_fetcher`.
  void Run(const std::string& manifestXml) {
    m_fetcher.Add("mem:manifest", manifestXml);
    XmlDocument manifest;
    manifest.SetFetcher(m_fetcher);
    ASSERT_TRUE(manifest.Load("mem:manifest", true));
    UpdateEngine engine(m_host, m_disk, m_fetcher);
    engine.UpdateFromManifest(manifest, "1.0", RunContext{});
  }
  std::string Serve(const std::string& name, const std::string& bytes) {
    m_fetcher.Add("mem:" + name, FileDocument(bytes));
    return "mem:" + name;
  }

  MemoryFetcher m_fetcher;
};

TEST_F(FileReportsTest, ApplicationReleaseReportsNumberedComponentsThenTheMainExecutable) {
  const std::string one = Serve("one", "uno"), main = Serve("main", "new main");
  Run("<m><version>2.0</version><componentes>3</componentes><tamfichero>100</tamfichero>"
      "<urlcomp1>" +
      one +
      "</urlcomp1><destcomp1>uno.dll</destcomp1>"
      "<urlcomp2>mem:missing</urlcomp2><destcomp2>dos.dll</destcomp2>"
      "<urlcomp3>" +
      one +
      "</urlcomp3><destcomp3>tres.dll</destcomp3>"
      "<urldescarga>" +
      main + "</urldescarga></m>");

  EXPECT_EQ(m_host.reports, (std::vector<std::string>{
                                "component 1 mem:one -> " + AppFile("uno.dll") + " = 1",
                                "component 2 mem:missing problem",
                                "component 2 mem:missing -> " + AppFile("dos.dll") + " = 0",
                                "component 3 mem:one -> " + AppFile("tres.dll") + " = 1",
                                "main executable 0 mem:main -> path app = 1",
                            }));
  EXPECT_TRUE(m_host.Only("log ").empty());
  EXPECT_EQ(ReadFile(MainExecutable()), "new main");
}

TEST_F(FileReportsTest, LibraryReleaseReportsEachStage) {
  const std::string a = Serve("a", "a"), x = Serve("x", "x"), l = Serve("l", "l");
  auto entry = [](const std::string& name, const std::string& address, const std::string& dest) {
    return "<" + name + "><urldescarga>" + address + "</urldescarga><destFichero>" + dest +
           "</destFichero></" + name + ">";
  };
  Run("<m><fichAdicionales>2</fichAdicionales>" + entry("fichAdic1", a, AppFile("a1")) +
      entry("fichAdic2", "mem:gone", AppFile("a2")) + entry("actActiveX", x, AppFile("x.ocx")) +
      "<actLibreria><versionLib>2.0</versionLib><urldescarga>" + l + "</urldescarga><destFichero>" +
      AppFile("l.dll") + "</destFichero></actLibreria></m>");

  EXPECT_EQ(m_host.reports, (std::vector<std::string>{
                                "additional file 1 mem:a -> " + AppFile("a1") + " = 1",
                                "additional file 2 mem:gone problem",
                                "additional file 2 mem:gone -> " + AppFile("a2") + " = 0",
                                "ActiveX file 0 mem:x -> " + AppFile("x.ocx") + " = 1",
                                "library file 0 mem:l -> " + AppFile("l.dll") + " = 1",
                            }));
  EXPECT_EQ(m_fetcher.fetched,
            (std::vector<std::string>{"mem:manifest", "mem:a", "mem:gone", "mem:x", "mem:l"}));
}

// Why a file is refused reaches the host as a value, never as text: the release tool words it.
TEST_F(FileReportsTest, EachRefusalIsReportedAsItsProblem) {
  // A well-formed digest of no file served here.
  const std::string zeroDigest = "S256:" + std::string(43, 'A');
  struct Case {
    const char* name;
    std::string document;
    const char* size;
    std::string digest;
    InstallProblem expected;
  } cases[] = {
      {"a digit made a non-digit", "<d><fichero>0G</fichero></d>", "100", "",
       InstallProblem::kContentNotHex},
      {"text cut to odd length", "<d><fichero>414</fichero></d>", "100", "",
       InstallProblem::kContentNotHex},
      {"limit below the size", FileDocument("four"), "3", "", InstallProblem::kContentTooLong},
      {"bytes unlike their digest", FileDocument("uno"), "100", zeroDigest,
       InstallProblem::kDigestMismatch},
      {"document missing", "", "100", "", InstallProblem::kFetchFailed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    m_host.problems.clear();
    m_fetcher = MemoryFetcher();
    if (!c.document.empty()) m_fetcher.Add("mem:one", c.document);
    Run(std::string("<m><version>2.0</version><componentes>1</componentes><tamcomp1>") + c.size +
        "</tamcomp1><urlcomp1>mem:one</urlcomp1><destcomp1>uno.dll</destcomp1><firmacomp1>" +
        c.digest + "</firmacomp1></m>");
    EXPECT_EQ(m_host.problems, std::vector<InstallProblem>{c.expected});
  }
}

}  // namespace
