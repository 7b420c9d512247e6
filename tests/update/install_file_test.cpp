// Installing one file: decoding, size limits, refusals that must leave the destination intact.
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "common/files.h"
#include "support/memory_fetcher.h"
#include "update/engine_fixture.h"
#include "update/hex_decoder.h"
#include "xml/xml_document.h"

namespace {

class InstallFileTest : public EngineTest {
 protected:
  int Install(const std::string& address, const std::string& destination, int maxSize) {
    UpdateEngine engine(m_host, m_disk);
    return engine.InstallFile(address.c_str(), destination.c_str(), maxSize, nullptr,
                              RunContext{true});
  }
  // Serves a raw document text at `path`.
  std::string ServeRaw(const std::string& path, const std::string& xml) {
    m_server.AddFile(path, xml);
    return m_server.Url(path);
  }
  std::string Raw(const std::string& hexText) {
    return "<d><fichero>" + hexText + "</fichero></d>";
  }
  // Files in the application directory other than `keep`: temporary files left behind.
  int StrayFiles(const std::string& keep) const {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(m_temp.Join("app"))) {
      if (entry.path().filename().string() != keep) ++count;
    }
    return count;
  }
};

TEST(HexDecoder, DecodesEitherCaseAndRefusesWhatIsNotHex) {
  const HexDecoder decoder;
  unsigned char out[4] = {};
  EXPECT_EQ(decoder.Decode(out, "4D5a00fF", 8), 0);
  EXPECT_EQ(out[0], 0x4D);
  EXPECT_EQ(out[1], 0x5A);
  EXPECT_EQ(out[2], 0x00);
  EXPECT_EQ(out[3], 0xFF);
  EXPECT_EQ(decoder.Decode(out, "4D5", 3), 1);
  for (const char* stray : {"F ", " F", "-1", "0x", "GG", "4\n"}) {
    EXPECT_EQ(decoder.Decode(out, stray, 2), 1) << stray;
  }
  EXPECT_EQ(decoder.Decode(out, "", 0), 0);
}

TEST_F(InstallFileTest, WritesDecodedBytesInEitherCase) {
  const std::string destination = AppFile("uno.dll");
  EXPECT_EQ(Install(ServeRaw("/upper.xml", Raw("4D5A")), destination, 100), 1);
  EXPECT_EQ(ReadFile(destination), "MZ");
  ASSERT_TRUE(WriteWholeFile(destination, "old"));
  EXPECT_EQ(Install(ServeRaw("/lower.xml", Raw("4d5a")), destination, 100), 1);
  EXPECT_EQ(ReadFile(destination), "MZ");
  EXPECT_TRUE(m_host.events.empty()) << "success is logged by the caller, not here";
}

TEST_F(InstallFileTest, SizeLimitAdmitsOneByteLessThanTheLimit) {
  const std::string fits = PatternBytes(999);
  EXPECT_EQ(Install(ServeFile("/fits.xml", fits), AppFile("a.bin"), 1000), 1);
  EXPECT_EQ(ReadFile(AppFile("a.bin")), fits);

  ASSERT_TRUE(WriteWholeFile(AppFile("b.bin"), "previous"));
  EXPECT_EQ(Install(ServeFile("/exact.xml", PatternBytes(1000)), AppFile("b.bin"), 1000), 0);
  EXPECT_EQ(ReadFile(AppFile("b.bin")), "previous");
}

TEST_F(InstallFileTest, NoLimitMeansNoFetch) {
  const std::string address = ServeFile("/f.xml", "abc");
  EXPECT_EQ(Install(address, AppFile("f.bin"), 0), 0);
  EXPECT_EQ(Install(address, AppFile("f.bin"), -5), 0);
  EXPECT_EQ(m_server.RequestCount("/f.xml"), 0);
  EXPECT_TRUE(m_host.events.empty());
}

TEST_F(InstallFileTest, LimitNearTheTopOfTheIntegerRangeNeitherWrapsNorReserves) {
  // Twice the limit does not fit 32 bits; the file must still install, without a huge buffer.
  const std::string bytes = PatternBytes(300);
  EXPECT_EQ(Install(ServeFile("/big-limit.xml", bytes), AppFile("c.bin"), 2147483647), 1);
  EXPECT_EQ(ReadFile(AppFile("c.bin")), bytes);
}

// Collects what a HexTextStream hands on.
class CollectedBytes : public DecodedBytesSink {
 public:
  void DecodedBytes(const unsigned char* data, std::size_t length) override {
    bytes.append(reinterpret_cast<const char*>(data), length);
  }
  std::string bytes;
};

TEST(HexTextStream, AnySplitGivesTheVerdictOfTheWholeText) {
  struct Case {
    std::string text;
    std::size_t longest;
    HexTextVerdict verdict;
    std::string bytes;
  };
  const std::vector<Case> cases = {
      {"4D5a", 4, HexTextVerdict::kDecoded, "\x4D\x5A"},
      {" \r\n\t4D5A \n ", 4, HexTextVerdict::kDecoded, "\x4D\x5A"},  // trimmed first
      {"4D5A", 3, HexTextVerdict::kTooLong, ""},
      {"4D 5A", 4, HexTextVerdict::kTooLong, ""},  // inner white space counts to the length
      {"4D 5A", 5, HexTextVerdict::kNotHex, ""},
      {"4G", 100, HexTextVerdict::kNotHex, ""},
      {"4D5", 100, HexTextVerdict::kNotHex, ""},
      {"zz99", 2, HexTextVerdict::kTooLong, ""},  // the length is checked before the digits
      {"  \n ", 100, HexTextVerdict::kEmpty, ""},
      {"", 100, HexTextVerdict::kEmpty, ""},
  };
  for (const Case& c : cases) {
    for (std::size_t split = 0; split <= c.text.size(); ++split) {
      CollectedBytes out;
      HexTextStream stream(out, c.longest);
      stream.Feed(c.text.data(), split);
      stream.Feed(c.text.data() + split, c.text.size() - split);
      EXPECT_EQ(stream.Finish(), c.verdict) << "[" << c.text << "] split at " << split;
      if (c.verdict == HexTextVerdict::kDecoded) {
        EXPECT_EQ(out.bytes, c.bytes) << c.text;
      }
    }
  }
}

TEST(HexTextStream, LongTextsComeOutWholeInBlocks) {
  const std::string bytes = PatternBytes(300 * 1024 + 7, 5);
  const std::string text = EncodeHex(bytes);
  CollectedBytes out;
  HexTextStream stream(out, text.size());
  for (std::size_t at = 0; at < text.size(); at += 4093) {
    stream.Feed(text.data() + at, std::min<std::size_t>(4093, text.size() - at));
  }
  EXPECT_EQ(stream.Finish(), HexTextVerdict::kDecoded);
  EXPECT_EQ(out.bytes, bytes);
}

TEST_F(InstallFileTest, RefusedTextsLeaveTheDestinationUntouched) {
  const std::string destination = AppFile("keep.dll");
  const std::string previous = PatternBytes(64, 3);
  const char* refused[] = {
      "4D5",             // odd length
      "4G5A",            // a letter beyond F
      "4D 5A0",          // white space inside the text (even length overall)
      "-14D",            // a sign
      "0x4D5A",          // a prefix
      "414243&#0;4445",  // a NUL inside: never "ABC"
  };
  int index = 0;
  for (const char* text : refused) {
    ASSERT_TRUE(WriteWholeFile(destination, previous));
    const std::string path = "/refused" + std::to_string(index++) + ".xml";
    EXPECT_EQ(Install(ServeRaw(path, Raw(text)), destination, 100), 0) << text;
    EXPECT_EQ(ReadFile(destination), previous) << text;
  }
  EXPECT_EQ(StrayFiles("keep.dll"), 0);
}

TEST_F(InstallFileTest, MissingOrEmptyContentIsLoggedAndRefused) {
  const std::string destination = AppFile("x.dll");
  EXPECT_EQ(Install(ServeRaw("/none.xml", "<d><otro>4D</otro></d>"), destination, 100), 0);
  EXPECT_EQ(Install(m_server.Url("/absent.xml"), destination, 100), 0);
  EXPECT_EQ(Install(ServeRaw("/empty.xml", Raw("")), destination, 100), 0);
  // A root named like the element counts as present but yields no text.
  EXPECT_EQ(Install(ServeRaw("/root.xml", "<fichero>4D5A</fichero>"), destination, 100), 0);
  EXPECT_EQ(m_host.events,
            (std::vector<std::string>{"log ActualizaFichero|No existe elemento fichero",
                                      "log ActualizaFichero|No existe elemento fichero",
                                      "log ActualizaFichero|Tama\xF1o de fichero vac\xEDo",
                                      "log ActualizaFichero|Tama\xF1o de fichero vac\xEDo"}));
  EXPECT_FALSE(PathExists(destination));
}

TEST_F(InstallFileTest, FailedWriteIsNotASuccessAndKeepsTheOldFile) {
  const std::string address = ServeFile("/w.xml", "new bytes");
  // The directory does not exist.
  EXPECT_EQ(Install(address, m_temp.Join("missing") + "/sub.dll", 100), 0);
  // The destination is a directory: it cannot be replaced by a file.
  std::filesystem::create_directories(m_temp.Join("app") + "/dir.dll");
  EXPECT_EQ(Install(address, AppFile("dir.dll"), 100), 0);
  EXPECT_TRUE(std::filesystem::is_directory(AppFile("dir.dll")));
  EXPECT_EQ(StrayFiles("dir.dll"), 0);
}

TEST_F(InstallFileTest, WithoutDestinationWritesTheRegisteredExecutableOrNothing) {
  UpdateEngine engine(m_host, m_disk);
  const std::string bytes = PatternBytes(50);
  const std::string address = ServeFile("/main.xml", bytes);
  EXPECT_EQ(engine.InstallFile(address.c_str(), nullptr, 100, nullptr, RunContext{}), 1);
  EXPECT_EQ(ReadFile(MainExecutable()), bytes);

  RemoveTestSettingsKey(kAppSettingsKey);
  EXPECT_EQ(engine.InstallFile(address.c_str(), nullptr, 100, nullptr, RunContext{}), 0);
  EXPECT_FALSE(PathExists("c:\\prueba.exe"));
  EXPECT_FALSE(PathExists("prueba.exe"));
}

StepFault DenyNewFiles(ReplaceStep step) {
  return step == ReplaceStep::kCreateTemporary ? StepFault::kAccessDenied : StepFault::kNone;
}

TEST_F(InstallFileTest, WriteInPlaceIsAnInstallThatTheLogOwnsUpTo) {
  // The directory takes no new file: the bytes go into the existing file, and the log says so.
  const std::string destination = AppFile("uno.dll");
  ASSERT_TRUE(WriteWholeFile(destination, "old"));
  SetReplaceStepHook(DenyNewFiles);
  const int result = Install(ServeFile("/in-place.xml", "new bytes"), destination, 100);
  SetReplaceStepHook(nullptr);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(ReadFile(destination), "new bytes");
  EXPECT_EQ(m_disk.lastWrite.outcome, ReplaceResult::kWrittenInPlace);
  EXPECT_EQ(m_host.Only("log "),
            (std::vector<std::string>{"log ActualizaFichero|Fichero escrito sobre el existente, "
                                      "sin reemplazo"}));
  EXPECT_EQ(StrayFiles("uno.dll"), 0);
}

// Memory that runs out for one file costs that file only: it is logged as a content buffer that
// could not be had, its destination stays, and the next file is installed.
TEST_F(InstallFileTest, OutOfMemoryForOneFileIsLoggedAndTheNextFileStillInstalls) {
  MemoryFetcher fetcher;
  fetcher.Fail("mem:big", FetchStatus::kOutOfMemory);
  fetcher.Add("mem:small", FileDocument("MZ"));
  fetcher.Add("mem:manifest",
              "<m><version>2</version><componentes>2</componentes><tamfichero>10</tamfichero>"
              "<urlcomp1>mem:big</urlcomp1><destcomp1>a.dll</destcomp1>"
              "<urlcomp2>mem:small</urlcomp2><destcomp2>b.dll</destcomp2></m>");
  ASSERT_TRUE(WriteWholeFile(AppFile("a.dll"), "old"));
  XmlDocument manifest;
  manifest.SetFetcher(fetcher);
  ASSERT_TRUE(manifest.Load("mem:manifest", true));
  UpdateEngine engine(m_host, m_disk, fetcher);
  engine.UpdateApplicationMode("1", "2", manifest, RunContext{true});
  EXPECT_EQ(ReadFile(AppFile("a.dll")), "old");
  EXPECT_EQ(ReadFile(AppFile("b.dll")), "MZ");
  const std::vector<std::string> lines = m_host.Only("log ");
  const auto first = std::find(lines.begin(), lines.end(), "log Puntero cContenido nulo|NULL");
  ASSERT_LE(first + 3, lines.end());
  EXPECT_EQ(std::vector<std::string>(first, first + 3),
            (std::vector<std::string>{
                "log Puntero cContenido nulo|NULL",
                "log Fichero actualizado|" + Line("mem:big", AppFile("a.dll"), 0),
                "log Fichero actualizado|" + Line("mem:small", AppFile("b.dll"), 1)}));
}

TEST_F(InstallFileTest, EmptyDestinationIsNeverTheRegisteredExecutable) {
  ASSERT_TRUE(WriteWholeFile(MainExecutable(), "main"));
  EXPECT_EQ(Install(ServeFile("/e.xml", "zz"), "", 100), 0);
  EXPECT_EQ(ReadFile(MainExecutable()), "main");
}

}  // namespace
