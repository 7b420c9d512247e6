// Test-side writes to the POSIX settings store: registry.ini and LogXml.ini under a private
// XDG_CONFIG_HOME that this test process is pointed at on first use (POSIX).
#include "support/test_settings.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <stdexcept>
#include <vector>

#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

// The whole store lives in memory and is rewritten on every change: one section per key path,
// written exactly as the key path ("[Software\MUBAX_Pirvel]").
class PrivateStore {
 public:
  PrivateStore() {
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/mubax-config-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    // Never fall back to the user's real configuration.
    if (mkdtemp(name.data()) == nullptr) {
      throw std::runtime_error("cannot create a private XDG_CONFIG_HOME from " + pattern);
    }
    m_configHome = name.data();
    m_owner = getpid();
    setenv("XDG_CONFIG_HOME", m_configHome.c_str(), 1);
  }
  ~PrivateStore() {
    // A forked child that exits normally must not take the parent's store with it.
    if (getpid() != m_owner) return;
    std::error_code error;
    fs::remove_all(m_configHome, error);
  }

  std::string Directory() const { return m_configHome + "/mubax"; }

  void Set(const std::string& subkey, const std::string& name, const std::string& value) {
    m_sections[subkey][name] = value;
    Write();
  }
  void Remove(const std::string& subkey) {
    m_sections.erase(subkey);
    Write();
  }

 private:
  void Write() {
    std::error_code error;
    fs::create_directories(Directory(), error);
    std::string path = Directory() + "/registry.ini";
    // No keys at all: no store file, as on a machine where nothing was ever configured.
    if (m_sections.empty()) {
      fs::remove(path, error);
      return;
    }
    std::string text;
    for (const auto& section : m_sections) {
      text += "[" + section.first + "]\n";
      for (const auto& value : section.second) text += value.first + "=" + value.second + "\n";
    }
    EXPECT_TRUE(WriteWholeFile(path, text)) << path;
  }

  std::string m_configHome;
  pid_t m_owner = 0;
  std::map<std::string, std::map<std::string, std::string>> m_sections;
};

PrivateStore& Store() {
  static PrivateStore store;
  return store;
}

}  // namespace

void SetTestSetting(const std::string& subkey, const std::string& name, const std::string& value) {
  Store().Set(subkey, name, value);
}

void RemoveTestSettingsKey(const std::string& subkey) { Store().Remove(subkey); }

void ResetTestSettings() {
  RemoveTestSettingsKey("Software\\MUBAX_Pirvel");
  RemoveTestSettingsKey("Software\\MubAX");
  RemoveLogConfigIni();
}

void WriteLogConfigIni(const std::string& text) {
  std::error_code error;
  fs::create_directories(Store().Directory(), error);
  std::string path = Store().Directory() + "/LogXml.ini";
  EXPECT_TRUE(WriteWholeFile(path, text)) << path;
}

void RemoveLogConfigIni() {
  std::error_code error;
  fs::remove(Store().Directory() + "/LogXml.ini", error);
}
