// The POSIX settings store's location: $XDG_CONFIG_HOME/mubax, or $HOME/.config/mubax when
// XDG_CONFIG_HOME is unset, holding registry.ini and LogXml.ini (POSIX).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <utility>

#include "common/settings.h"
#include "common/settings_write.h"
#include "support/disk_conditions.h"
#include "support/marked_buffer.h"
#include "support/temp_dir.h"
#include "support/test_settings.h"

namespace {

// Puts one environment variable back as it was when the test ends.
class SavedEnvironment {
 public:
  explicit SavedEnvironment(const char* name) : m_name(name) {
    const char* value = getenv(name);
    m_wasSet = value != nullptr;
    if (m_wasSet) m_value = value;
  }
  ~SavedEnvironment() {
    if (m_wasSet) {
      setenv(m_name.c_str(), m_value.c_str(), 1);
    } else {
      unsetenv(m_name.c_str());
    }
  }
  SavedEnvironment(const SavedEnvironment&) = delete;
  SavedEnvironment& operator=(const SavedEnvironment&) = delete;

 private:
  std::string m_name;
  std::string m_value;
  bool m_wasSet = false;
};

std::string WindowsDirectory() {
  char buffer[512];
  std::size_t length = GetWindowsDirectoryPath(buffer, sizeof buffer);
  return std::string(buffer, length);
}

std::string StorePath() {
  char buffer[512];
  std::size_t length = GetSettingsStorePath(buffer, sizeof buffer);
  return std::string(buffer, length);
}

}  // namespace

TEST(SettingsStorePosixTest, StoreFollowsXdgConfigHome) {
  ResetTestSettings();  // points this process at its private XDG_CONFIG_HOME
  SavedEnvironment savedXdg("XDG_CONFIG_HOME");
  TempDir dir;
  setenv("XDG_CONFIG_HOME", dir.Path().c_str(), 1);
  EXPECT_EQ(WindowsDirectory(), dir.Path() + "/mubax");
  EXPECT_EQ(StorePath(), dir.Path() + "/mubax/registry.ini");
}

TEST(SettingsStorePosixTest, StoreDefaultsToHomeConfig) {
  ResetTestSettings();
  SavedEnvironment savedXdg("XDG_CONFIG_HOME");
  SavedEnvironment savedHome("HOME");
  TempDir home;
  setenv("HOME", home.Path().c_str(), 1);
  unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(WindowsDirectory(), home.Path() + "/.config/mubax");
  EXPECT_EQ(StorePath(), home.Path() + "/.config/mubax/registry.ini");

  // The store written by hand, exactly as its users do, is what the registry reads see.
  std::filesystem::create_directories(home.Path() + "/.config/mubax");
  ASSERT_TRUE(WriteWholeFile(home.Path() + "/.config/mubax/registry.ini",
                             "[Software\\MubAX]\nNivelLog=0\n"
                             "[Software\\MUBAX_Pirvel]\npath=/opt/pos/pos\nversion=1.2\n"));
  MarkedBuffer buffer(255);
  EXPECT_EQ(ReadRegistryString(RegistryRoot::CurrentUser, "Software\\MUBAX_Pirvel", "path",
                               buffer.Data(), buffer.Size()),
            13);
  EXPECT_EQ(buffer.Text(), "/opt/pos/pos");
}

// The store is written by hand: what people write in it must keep reading as it did.
TEST(SettingsStorePosixTest, HandWrittenStoreForms) {
  ResetTestSettings();
  std::filesystem::create_directories(WindowsDirectory());
  const std::string longPath = "/opt/pos/" + std::string(230, 'p') + " x/pos";
  const std::string store =
      "\xEF\xBB\xBF; written by hand\r\n"
      "# another comment\r\n"
      "[Software\\MUBAX_Pirvel]\r\n"
      "  version =  1.2  \r\n"
      "a line without an equals sign\r\n"
      "path=" +
      longPath +
      "\r\n"
      "version=9.9\r\n"
      "urlact=http://h/a;b#c\r\n"
      "[Software\\MubAX]\r\n"
      "NivelLog=9\r\n";
  ASSERT_TRUE(WriteWholeFile(StorePath(), store));
  const std::pair<const char*, std::string> expected[] = {
      {"version", "1.2"},  // spaces around dropped; the first definition wins
      {"path", longPath},
      {"urlact", "http://h/a;b#c"},  // no comments after a value
  };
  for (const auto& entry : expected) {
    SCOPED_TRACE(entry.first);
    MarkedBuffer buffer(255);
    EXPECT_EQ(ReadRegistryString(RegistryRoot::CurrentUser, "Software\\MUBAX_Pirvel", entry.first,
                                 buffer.Data(), buffer.Size()),
              static_cast<int>(entry.second.size() + 1));
    EXPECT_EQ(buffer.Text(), entry.second);
  }
  MarkedBuffer level(255);
  EXPECT_EQ(ReadRegistryString(RegistryRoot::CurrentUser, "Software\\MubAX", "NivelLog",
                               level.Data(), level.Size()),
            2);
  EXPECT_EQ(level.Text(), "9");
  // Names compare exactly.
  MarkedBuffer otherCase(255);
  EXPECT_EQ(ReadRegistryString(RegistryRoot::CurrentUser, "Software\\MUBAX_Pirvel", "Version",
                               otherCase.Data(), otherCase.Size()),
            -1);
  EXPECT_EQ(ReadRegistryString(RegistryRoot::CurrentUser, "software\\mubax_pirvel", "version",
                               nullptr, 0),
            -1);
}

// Anyone who can write the config directory can put one of these where the store or LogXml.ini
// belongs: it reads as no store, is never written over, and never holds the till (a FIFO) or
// the memory (a directory once read as a file of 2^63 bytes).
TEST(SettingsStorePosixTest, AStoreThatIsNoFileReadsAsNoneAndIsLeftAlone) {
  for (const HostileObject kind : kHostileObjects) {
    SCOPED_TRACE(HostileObjectName(kind));
    ResetTestSettings();
    std::filesystem::create_directories(WindowsDirectory());
    std::filesystem::remove(StorePath());
    std::string why;
    ASSERT_TRUE(MakeHostileObject(kind, StorePath(), why)) << why;
    const auto before = std::filesystem::symlink_status(StorePath()).type();
    MarkedBuffer buffer(255);
    EXPECT_EQ(ReadRegistryString(RegistryRoot::CurrentUser, "Software\\MUBAX_Pirvel", "path",
                                 buffer.Data(), buffer.Size()),
              -1);
    EXPECT_TRUE(buffer.Untouched());
    EXPECT_FALSE(WriteRegistryString(RegistryRoot::CurrentUser, "Software\\MUBAX_Pirvel",
                                     "versionRetenida", "1.1"));
    EXPECT_EQ(std::filesystem::symlink_status(StorePath()).type(), before);

    const std::string logConfig = WindowsDirectory() + "/LogXml.ini";
    std::filesystem::remove(logConfig);
    ASSERT_TRUE(MakeHostileObject(kind, logConfig, why)) << why;
    char size[16] = {};
    EXPECT_EQ(ReadIniString("Log", "TamFichLog", "5120", size, sizeof(size), logConfig.c_str()),
              4u);
    EXPECT_STREQ(size, "5120");
    std::filesystem::remove(logConfig);
    std::filesystem::remove(StorePath());
  }
  ResetTestSettings();
}
