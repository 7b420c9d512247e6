// Tests of the settings reads on both targets: the registry (HKEY_CURRENT_USER under Wine) or the
// POSIX store, written by the test through support/test_settings.h; and the INI reader.
#include "common/settings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/files.h"
#include "common/machine_identity.h"
#include "support/marked_buffer.h"
#include "support/temp_dir.h"
#include "support/test_settings.h"

namespace {

const char kAppKey[] = "Software\\MUBAX_Pirvel";
const char kLogKey[] = "Software\\MubAX";

int Read(const char* subkey, const char* name, MarkedBuffer& buffer) {
  return ReadRegistryString(RegistryRoot::CurrentUser, subkey, name, buffer.Data(), buffer.Size());
}

int SizeOf(const char* subkey, const char* name) {
  return ReadRegistryString(RegistryRoot::CurrentUser, subkey, name, nullptr, 0);
}

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetTestSettings(); }
  void TearDown() override { ResetTestSettings(); }
};

}  // namespace

TEST_F(SettingsTest, ReadsValueAndCountsTerminator) {
  const std::string url = "http://example.test/MUB_AX/act.xml?canal=2&tienda=7";
  SetTestSetting(kAppKey, "urlact", url);
  SetTestSetting(kAppKey, "version", "1.2");
  MarkedBuffer buffer(255);
  EXPECT_EQ(Read(kAppKey, "urlact", buffer), static_cast<int>(url.size() + 1));
  EXPECT_EQ(buffer.Text(), url);
  EXPECT_EQ(SizeOf(kAppKey, "urlact"), static_cast<int>(url.size() + 1));
  EXPECT_EQ(SizeOf(kAppKey, "version"), 4);
}

TEST_F(SettingsTest, MissingKeyOrValueLeavesBufferUntouched) {
  MarkedBuffer noKey(255);
  EXPECT_EQ(Read(kAppKey, "version", noKey), -1);
  EXPECT_TRUE(noKey.Untouched());
  EXPECT_EQ(SizeOf(kAppKey, "version"), -1);

  SetTestSetting(kAppKey, "path", "x");
  MarkedBuffer noValue(255);
  EXPECT_EQ(Read(kAppKey, "version", noValue), -1);
  EXPECT_TRUE(noValue.Untouched());
  EXPECT_EQ(SizeOf(kAppKey, "version"), -1);
}

TEST_F(SettingsTest, ValueMustFitWithItsTerminator) {
  SetTestSetting(kAppKey, "version", "12345678");
  MarkedBuffer tooSmall(8);
  EXPECT_EQ(Read(kAppKey, "version", tooSmall), -1);
  EXPECT_TRUE(tooSmall.Untouched());
  MarkedBuffer exact(9);
  EXPECT_EQ(Read(kAppKey, "version", exact), 9);
  EXPECT_EQ(exact.Text(), "12345678");
}

// A value of `length` bytes that reads as an address or a path; with `spaced` a run of spaces
// lies inside it, before the byte where a line-cutting reader used to stop.
std::string LongValue(std::size_t length, bool spaced) {
  std::string value = "http://example.test/";
  while (value.size() < length) value += static_cast<char>('a' + value.size() % 26);
  if (spaced) value.replace(length - 70, 40, 40, ' ');
  return value;
}

// Callers read into 255-byte buffers: up to 254 bytes a value is read whole, wherever spaces fall
// in it; one byte more and it counts as absent, never cut.
TEST_F(SettingsTest, LongValuesAreReadWholeUpTo254Bytes) {
  for (const char* name : {"urlact", "path"}) {
    for (std::size_t length : {190u, 254u, 255u}) {
      for (bool spaced : {false, true}) {
        const std::string value = LongValue(length, spaced);
        SCOPED_TRACE(std::string(name) + ", " + std::to_string(length) + " bytes" +
                     (spaced ? ", spaced" : ""));
        SetTestSetting(kAppKey, name, value);
        MarkedBuffer buffer(255);
        if (length <= 254) {
          EXPECT_EQ(Read(kAppKey, name, buffer), static_cast<int>(length + 1));
          EXPECT_EQ(buffer.Text(), value);
        } else {
          EXPECT_EQ(Read(kAppKey, name, buffer), -1);
          EXPECT_TRUE(buffer.Untouched());
        }
        EXPECT_EQ(SizeOf(kAppKey, name), static_cast<int>(length + 1));
      }
    }
  }
}

TEST_F(SettingsTest, EmptyValueIsOneByte) {
  SetTestSetting(kAppKey, "urlact", "");
  MarkedBuffer buffer(255);
  EXPECT_EQ(Read(kAppKey, "urlact", buffer), 1);
  EXPECT_EQ(buffer.Data()[0], '\0');
  EXPECT_EQ(SizeOf(kAppKey, "urlact"), 1);
}

TEST_F(SettingsTest, KeysKeepTheirOwnValues) {
  SetTestSetting(kAppKey, "version", "1.2");
  SetTestSetting(kLogKey, "version", "9.9");
  SetTestSetting(kLogKey, "NivelLog", "0");
  MarkedBuffer app(255);
  EXPECT_EQ(Read(kAppKey, "version", app), 4);
  EXPECT_EQ(app.Text(), "1.2");
  MarkedBuffer log(255);
  EXPECT_EQ(Read(kLogKey, "version", log), 4);
  EXPECT_EQ(log.Text(), "9.9");
  MarkedBuffer other(255);
  EXPECT_EQ(Read(kAppKey, "NivelLog", other), -1);
  EXPECT_TRUE(other.Untouched());

  RemoveTestSettingsKey(kLogKey);
  MarkedBuffer removed(255);
  EXPECT_EQ(Read(kLogKey, "NivelLog", removed), -1);
  EXPECT_EQ(SizeOf(kAppKey, "version"), 4);
}

TEST_F(SettingsTest, IniStringFallsBackToDefault) {
  TempDir dir;
  std::string ini = dir.Join("LogXml.ini");
  MarkedBuffer missingFile(255);
  EXPECT_EQ(ReadIniString("Log", "TamFichLog", "5120", missingFile.Data(), missingFile.Size(),
                          ini.c_str()),
            4u);
  EXPECT_EQ(missingFile.Text(), "5120");

  // The key exists only in another section, or not at all.
  ASSERT_TRUE(WriteWholeFile(ini, "[Otro]\r\nTamFichLog=1\r\n[Log]\r\nPathFichLog=x.log\r\n"));
  MarkedBuffer otherSection(255);
  EXPECT_EQ(ReadIniString("Log", "TamFichLog", "5120", otherSection.Data(), otherSection.Size(),
                          ini.c_str()),
            4u);
  EXPECT_EQ(otherSection.Text(), "5120");
  MarkedBuffer missingSection(255);
  EXPECT_EQ(ReadIniString("Nada", "PathFichLog", "def", missingSection.Data(),
                          missingSection.Size(), ini.c_str()),
            3u);
  EXPECT_EQ(missingSection.Text(), "def");
}

TEST_F(SettingsTest, IniStringReadsValueOrRefusesOneTooLong) {
  TempDir dir;
  std::string ini = dir.Join("LogXml.ini");
  ASSERT_TRUE(WriteWholeFile(ini, "[Log]\r\nTamFichLog=123456789\r\nPathFichLog=\r\n"));
  MarkedBuffer fits(10);
  EXPECT_EQ(ReadIniString("Log", "TamFichLog", "5120", fits.Data(), fits.Size(), ini.c_str()), 9u);
  EXPECT_EQ(fits.Text(), "123456789");
  MarkedBuffer tooSmall(9);
  EXPECT_EQ(
      ReadIniString("Log", "TamFichLog", "5120", tooSmall.Data(), tooSmall.Size(), ini.c_str()),
      4u);
  EXPECT_EQ(tooSmall.Text(), "5120");
  MarkedBuffer empty(255);
  EXPECT_EQ(ReadIniString("Log", "PathFichLog", "def", empty.Data(), empty.Size(), ini.c_str()),
            0u);
  EXPECT_EQ(empty.Data()[0], '\0');
}

// "LogXml.ini" is looked up in the directory GetWindowsDirectoryPath names; the test support
// writes it where each target keeps it, independently of the code under test.
TEST_F(SettingsTest, WindowsDirectoryHoldsLogConfiguration) {
  WriteLogConfigIni("[Log]\r\nTamFichLog=77\r\n");
  char directory[300];
  std::size_t length = GetWindowsDirectoryPath(directory, sizeof directory);
  ASSERT_GT(length, 0u);
  ASSERT_EQ(length, std::strlen(directory));
  char last = directory[length - 1];
  EXPECT_TRUE(last != '/' && last != '\\') << directory;

  std::string ini = std::string(directory) + kDirectorySeparator + "LogXml.ini";
  MarkedBuffer size(255);
  EXPECT_EQ(ReadIniString("Log", "TamFichLog", "5120", size.Data(), size.Size(), ini.c_str()), 2u);
  EXPECT_EQ(size.Text(), "77");

  MarkedBuffer tooSmall(length);
  EXPECT_EQ(GetWindowsDirectoryPath(tooSmall.Data(), tooSmall.Size()), 0u);
}

// The identity a staged rollout hashes: the system's own, the same at every read, without the
// line end or spaces the file or value may carry.
TEST(MachineIdentity, IsTheSameAtEveryReadAndTrimmed) {
  std::string first;
  std::string second = "untouched";
  ASSERT_TRUE(ReadMachineIdentity(first));
  ASSERT_TRUE(ReadMachineIdentity(second));
  EXPECT_EQ(first, second);
  ASSERT_FALSE(first.empty());
  for (const char edge : {first.front(), first.back()}) {
    EXPECT_TRUE(edge != ' ' && edge != '\n' && edge != '\r' && edge != '\t') << first;
  }
}
