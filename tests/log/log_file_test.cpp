// Tests for the diagnostic log: exact line bytes, level and limits from the settings, the latched
// failure and session identifiers. Runs natively and under Wine against the real settings store.
#include "log/log_file.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>

#include "common/files.h"
#include "common/settings.h"
#include "support/disk_conditions.h"
#include "support/temp_dir.h"
#include "support/test_settings.h"

namespace {

constexpr char kLevelKey[] = "Software\\MubAX";
constexpr std::size_t kStampLength = 21;
constexpr std::size_t kSessionLength = 9;  // "id-" and six digits

std::string LocalStamp(std::time_t when) {
  char text[32] = {};
  std::strftime(text, sizeof(text), "%d/%m/%Y - %H:%M:%S", std::localtime(&when));
  return text;
}

// The timestamp field of the entry starting at `offset`, checked to be the local time at some
// second between `from` and `to`.
::testing::AssertionResult HasStampBetween(const std::string& bytes, std::size_t offset,
                                           std::time_t from, std::time_t to, std::string& stamp) {
  if (bytes.size() < offset + 1 + kStampLength) {
    return ::testing::AssertionFailure() << "no room for a timestamp in \"" << bytes << "\"";
  }
  stamp = bytes.substr(offset + 1, kStampLength);
  for (std::time_t second = from; second <= to; ++second) {
    if (stamp == LocalStamp(second)) return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "\"" << stamp << "\" is not the local time between "
                                       << LocalStamp(from) << " and " << LocalStamp(to);
}

bool IsSessionId(const std::string& text) {
  static const std::regex shape("id-0[0-3][0-9]{4}");
  return std::regex_match(text, shape) && std::atoi(text.c_str() + 3) <= 32767;
}

std::string ReadAll(const std::string& path) {
  std::string bytes;
  EXPECT_TRUE(ReadWholeFile(path, bytes)) << path;
  return bytes;
}

class LogFileTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetTestSettings(); }
  void TearDown() override { ResetTestSettings(); }

  static void SetLevel(const std::string& value) { SetTestSetting(kLevelKey, "NivelLog", value); }

  // Writes one entry through `log` (already pointed at its file) and returns the timestamp the
  // entry carries, checked against the clock around the call.
  std::string WriteChecked(LogFile& log, const char* operation, const char* text,
                           std::size_t entryOffset) {
    const std::time_t before = std::time(nullptr);
    EXPECT_EQ(kLogOk, log.Write("MubaxVardeno", operation, text));
    const std::time_t after = std::time(nullptr);
    std::string stamp;
    EXPECT_TRUE(HasStampBetween(ReadAll(log.GetPath()), entryOffset, before, after, stamp));
    return stamp;
  }

  TempDir m_dir;
  const std::string m_logPath = m_dir.Join("trace.log");
};

// --- Line bytes -------------------------------------------------------------------------------

TEST_F(LogFileTest, NormalLineHasSpaceBeforeCrCrLfAndKeepsOperationSpace) {
  LogFile log;
  ASSERT_TRUE(log.SetPath(m_logPath.c_str()));
  log.NewSessionId();
  const std::string session = log.GetSessionId();
  ASSERT_TRUE(IsSessionId(session)) << session;

  const std::string stamp = WriteChecked(log, "Actualizando() ", "IniAppUsuario", 0);
  EXPECT_EQ("[" + stamp + "] " + session + " - MubaxVardeno.Actualizando()  IniAppUsuario \r\r\n",
            ReadAll(m_logPath));
}

TEST_F(LogFileTest, DebugLineHasBracketsAndNoSpaceBeforeCrCrLf) {
  SetLevel("9");
  LogFile log;
  ASSERT_TRUE(log.SetPath(m_logPath.c_str()));
  log.NewSessionId();
  const std::string session = log.GetSessionId();

  const std::string stamp = WriteChecked(log, "Actualizando() ", "IniAppUsuario", 0);
  EXPECT_EQ("[" + stamp + "] [" + session +
                "] - MubaxVardeno.Actualizando()  Debug [IniAppUsuario]\r\r\n",
            ReadAll(m_logPath));
}

TEST_F(LogFileTest, EntriesAppendAfterExistingContent) {
  ASSERT_TRUE(WriteWholeFile(m_logPath, "earlier\r\r\n"));
  LogFile log;
  log.SetPath(m_logPath.c_str());
  log.NewSessionId();
  const std::string session = log.GetSessionId();

  const std::string first = WriteChecked(log, "Inicio", "uno", 10);
  const std::size_t secondOffset = ReadAll(m_logPath).size();
  const std::string second = WriteChecked(log, "Fin", "dos", secondOffset);
  EXPECT_EQ(
      "earlier\r\r\n"
      "[" +
          first + "] " + session +
          " - MubaxVardeno.Inicio uno \r\r\n"
          "[" +
          second + "] " + session + " - MubaxVardeno.Fin dos \r\r\n",
      ReadAll(m_logPath));
}

TEST_F(LogFileTest, LineFeedInsideArgumentsIsStoredAsCrLf) {
  LogFile log;
  log.SetPath(m_logPath.c_str());
  log.NewSessionId();
  const std::string session = log.GetSessionId();

  const std::time_t before = std::time(nullptr);
  ASSERT_EQ(kLogOk, log.Write("Mubax\nVardeno", "Op\n", "a\nb\r\nc\n"));
  std::string stamp;
  ASSERT_TRUE(HasStampBetween(ReadAll(m_logPath), 0, before, std::time(nullptr), stamp));
  // A CR already in the text is kept as it is; only LF gains a CR.
  EXPECT_EQ("[" + stamp + "] " + session + " - Mubax\r\nVardeno.Op\r\n a\r\nb\r\r\nc\r\n \r\r\n",
            ReadAll(m_logPath));
}

TEST_F(LogFileTest, LongAndNonAsciiTextsAreWrittenWhole) {
  LogFile log;
  log.SetPath(m_logPath.c_str());
  log.NewSessionId();
  const std::string session = log.GetSessionId();
  const std::string longText = std::string(70000, 'x') + "\xEDn";

  const std::string operation =
      "Librer\xED"
      "a";  // Windows-1252, one byte for the accent

  const std::string stamp = WriteChecked(log, operation.c_str(), longText.c_str(), 0);
  EXPECT_EQ(
      "[" + stamp + "] " + session + " - MubaxVardeno." + operation + " " + longText + " \r\r\n",
      ReadAll(m_logPath));
}

// --- Level from the settings store -------------------------------------------------------------

TEST_F(LogFileTest, NegativeLevelNeitherCreatesNorChangesTheFile) {
  SetLevel("-1");
  LogFile log;
  log.SetPath(m_logPath.c_str());
  EXPECT_EQ(kLogOk, log.Write("MubaxVardeno", "Op", "text"));
  EXPECT_FALSE(PathExists(m_logPath));

  ASSERT_TRUE(WriteWholeFile(m_logPath, "kept"));
  EXPECT_EQ(kLogOk, log.Write("MubaxVardeno", "Op", "text"));
  EXPECT_EQ("kept", ReadAll(m_logPath));
}

TEST_F(LogFileTest, OtherLevelCreatesOrEmptiesTheFileButWritesNothing) {
  // Levels above the debug level 9 are "other" levels too, not more verbose ones.
  for (const char* level : {"1", "10", "90", "2147483647"}) {
    SCOPED_TRACE(level);
    std::remove(m_logPath.c_str());
    SetLevel(level);
    LogFile log;
    log.SetPath(m_logPath.c_str());
    EXPECT_EQ(kLogOk, log.Write("MubaxVardeno", "Op", "text"));
    EXPECT_TRUE(PathExists(m_logPath));
    EXPECT_EQ("", ReadAll(m_logPath));
  }
  SetLevel("5");
  WriteLogConfigIni("[Log]\r\nTamFichLog=1\r\n");
  LogFile log;
  log.SetPath(m_logPath.c_str());

  ASSERT_TRUE(WriteWholeFile(m_logPath, std::string(1023, 'a')));  // under 1 KB: left alone
  EXPECT_EQ(kLogOk, log.Write("MubaxVardeno", "Op", "text"));
  EXPECT_EQ(std::string(1023, 'a'), ReadAll(m_logPath));

  ASSERT_TRUE(WriteWholeFile(m_logPath, std::string(1024, 'a')));  // at the limit: emptied
  EXPECT_EQ(kLogOk, log.Write("MubaxVardeno", "Op", "text"));
  EXPECT_EQ("", ReadAll(m_logPath));
}

TEST_F(LogFileTest, LevelTextIsReadAsItsLeadingInteger) {
  SetLevel("abc");  // no digits: the normal format
  {
    LogFile log;
    log.SetPath(m_logPath.c_str());
    log.NewSessionId();
    const std::string stamp = WriteChecked(log, "Op", "t", 0);
    EXPECT_EQ("[" + stamp + "] " + log.GetSessionId() + " - MubaxVardeno.Op t \r\r\n",
              ReadAll(m_logPath));
  }
  std::remove(m_logPath.c_str());
  SetLevel("9abc");  // digits stop at the first letter: the debug format
  {
    LogFile log;
    log.SetPath(m_logPath.c_str());
    log.NewSessionId();
    const std::string stamp = WriteChecked(log, "Op", "t", 0);
    EXPECT_EQ("[" + stamp + "] [" + log.GetSessionId() + "] - MubaxVardeno.Op Debug [t]\r\r\n",
              ReadAll(m_logPath));
  }
}

// --- Size limit --------------------------------------------------------------------------------

TEST_F(LogFileTest, DefaultLimitEmptiesAtExactly5120KB) {
  const std::string justUnder(5242879, 'u');
  ASSERT_TRUE(WriteWholeFile(m_logPath, justUnder));
  LogFile log;
  log.SetPath(m_logPath.c_str());
  log.NewSessionId();
  const std::string line = " " + std::string(log.GetSessionId()) + " - MubaxVardeno.Op t \r\r\n";

  std::string stamp = WriteChecked(log, "Op", "t", justUnder.size());
  EXPECT_EQ(justUnder + "[" + stamp + "]" + line, ReadAll(m_logPath));

  ASSERT_TRUE(WriteWholeFile(m_logPath, std::string(5242880, 'f')));
  stamp = WriteChecked(log, "Op", "t", 0);
  EXPECT_EQ("[" + stamp + "]" + line, ReadAll(m_logPath));
}

TEST_F(LogFileTest, ZeroLimitKeepsOnlyTheLatestEntry) {
  WriteLogConfigIni("[Log]\r\nTamFichLog=0\r\n");
  ASSERT_TRUE(WriteWholeFile(m_logPath, "old"));
  LogFile log;
  log.SetPath(m_logPath.c_str());
  log.NewSessionId();

  WriteChecked(log, "Op", "first", 0);
  const std::string stamp = WriteChecked(log, "Op", "second", 0);
  EXPECT_EQ("[" + stamp + "] " + log.GetSessionId() + " - MubaxVardeno.Op second \r\r\n",
            ReadAll(m_logPath));
}

TEST_F(LogFileTest, NegativeLimitNeverEmpties) {
  WriteLogConfigIni("[Log]\r\nTamFichLog=-1\r\n");
  const std::string existing(4096, 'k');
  ASSERT_TRUE(WriteWholeFile(m_logPath, existing));
  LogFile log;
  log.SetPath(m_logPath.c_str());
  log.NewSessionId();

  const std::string stamp = WriteChecked(log, "Op", "t", existing.size());
  EXPECT_EQ(existing + "[" + stamp + "] " + log.GetSessionId() + " - MubaxVardeno.Op t \r\r\n",
            ReadAll(m_logPath));
}

// --- Failure latch -----------------------------------------------------------------------------

TEST_F(LogFileTest, FailedOpenLatchesEvenAfterTheCauseIsGone) {
  const std::string directory = m_dir.Join("missing");
  const std::string path = directory + kDirectorySeparator + "trace.log";
  LogFile log;
  log.SetPath(path.c_str());
  log.NewSessionId();
  EXPECT_EQ(kLogFailed, log.Write("MubaxVardeno", "Op", "t"));
  EXPECT_STREQ("Error en la apertura del archivo Log.", log.GetErrorText());

  ASSERT_TRUE(std::filesystem::create_directory(directory));
  EXPECT_EQ(kLogFailed, log.Write("MubaxVardeno", "Op", "t"));
  EXPECT_FALSE(PathExists(path));
}

TEST_F(LogFileTest, FailedLogDoesNotTouchAFileItCouldOpen) {
  // With a zero limit a working log would empty the file before writing.
  WriteLogConfigIni("[Log]\r\nTamFichLog=0\r\n");
  LogFile log;
  log.SetPath((m_dir.Join("missing") + kDirectorySeparator + "trace.log").c_str());
  ASSERT_EQ(kLogFailed, log.Write("MubaxVardeno", "Op", "t"));

  ASSERT_TRUE(WriteWholeFile(m_logPath, "untouched"));
  ASSERT_TRUE(log.SetPath(m_logPath.c_str()));
  EXPECT_EQ(kLogFailed, log.Write("MubaxVardeno", "Op", "t"));
  EXPECT_EQ("untouched", ReadAll(m_logPath));
}

// logUpdate.txt is made by hand, so anyone can make it a FIFO, a link to a device or a directory:
// the log then fails (latched, as any failed open) instead of holding the run and its lock, and
// nothing is written through it, whatever the size limit says.
TEST_F(LogFileTest, ALogThatIsNoFileFailsAtOnceAndIsLeftAlone) {
  for (const char* limit : {"5120", "0"}) {
    WriteLogConfigIni(std::string("[Log]\r\nTamFichLog=") + limit + "\r\n");
    for (const HostileObject kind : kHostileObjects) {
      SCOPED_TRACE(std::string(HostileObjectName(kind)) + ", limit " + limit);
      const std::string path = m_dir.Join(std::string(limit) + HostileObjectName(kind));
      std::string why;
      if (!MakeHostileObject(kind, path, why)) continue;
      const auto before = std::filesystem::symlink_status(path).type();
      LogFile log;
      ASSERT_TRUE(log.SetPath(path.c_str()));
      log.NewSessionId();
      EXPECT_EQ(kLogFailed, log.Write("MubaxVardeno", "Op", "t"));
      EXPECT_EQ(std::filesystem::symlink_status(path).type(), before);
      EXPECT_FALSE(PathExists(path + ".nowhere"));
    }
  }
}

// --- Path ----------------------------------------------------------------------------------------

TEST_F(LogFileTest, SetPathKeepsThePathWhenAbsentOrTooLong) {
  LogFile log;
  ASSERT_TRUE(log.SetPath(m_logPath.c_str()));
  EXPECT_FALSE(log.SetPath(nullptr));
  EXPECT_EQ(m_logPath, log.GetPath());

  const std::string longest(519, 'p');
  EXPECT_TRUE(log.SetPath(longest.c_str()));
  EXPECT_EQ(longest, log.GetPath());
  EXPECT_FALSE(log.SetPath((longest + "p").c_str()));
  EXPECT_EQ(longest, log.GetPath());

  // Entries still go to the kept path.
  ASSERT_TRUE(log.SetPath(m_logPath.c_str()));
  log.SetPath(nullptr);
  EXPECT_EQ(kLogOk, log.Write("MubaxVardeno", "Op", "t"));
  EXPECT_TRUE(PathExists(m_logPath));
}

TEST_F(LogFileTest, ConfiguredPathComesFromTheConfigFile) {
  WriteLogConfigIni("[Log]\r\nPathFichLog=" + m_logPath + "\r\n");
  LogFile log;
  EXPECT_EQ(m_logPath, log.GetPath());
  EXPECT_EQ(kLogOk, log.Write("MubaxVardeno", "Op", "t"));
  EXPECT_TRUE(PathExists(m_logPath));
}

TEST_F(LogFileTest, DefaultPathIsInTheConfigDirectory) {
  WriteLogConfigIni("[Log]\r\nTamFichLog=100\r\n");
  char directory[260] = {};
  ASSERT_NE(0u, GetWindowsDirectoryPath(directory, sizeof(directory)));
  const std::string expected = std::string(directory) + kDirectorySeparator + "AxMubaxPinPadWS.log";
  std::remove(expected.c_str());

  LogFile log;
  EXPECT_EQ(expected, log.GetPath());
  EXPECT_EQ(kLogOk, log.Write("MubaxVardeno", "Op", "t"));
  EXPECT_TRUE(PathExists(expected));
  std::remove(expected.c_str());
}

// --- Session identifiers -------------------------------------------------------------------------

TEST(LogFileSessionTest, SameSecondGivesSameIdentifier) {
  LogFile log;
  // Retry if the clock ticks between the two draws.
  for (int attempt = 0; attempt < 5; ++attempt) {
    const std::time_t before = std::time(nullptr);
    log.NewSessionId();
    const std::string first = log.GetSessionId();
    log.NewSessionId();
    const std::string second = log.GetSessionId();
    if (std::time(nullptr) != before) continue;
    EXPECT_TRUE(IsSessionId(first)) << first;
    EXPECT_EQ(kSessionLength, first.size());
    EXPECT_EQ(first, second);
    return;
  }
  FAIL() << "the clock ticked during every attempt";
}

TEST(LogFileSessionTest, NextSecondDrawsAnotherIdentifier) {
  LogFile log;
  const std::time_t start = std::time(nullptr);
  log.NewSessionId();
  const std::string first = log.GetSessionId();
  while (std::time(nullptr) == start) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  log.NewSessionId();
  const std::string next = log.GetSessionId();
  EXPECT_TRUE(IsSessionId(next)) << next;
  EXPECT_NE(first, next);
}

}  // namespace
