// The POSIX settings store's location: $XDG_CONFIG_HOME/mubax, or $HOME/.config/mubax when
// XDG_CONFIG_HOME is unset, holding registry.ini and LogXml.ini (POSIX).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "common/settings.h"
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
