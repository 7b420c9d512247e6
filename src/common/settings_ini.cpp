// POSIX settings: the per-user store is $XDG_CONFIG_HOME/mubax/registry.ini (one section per key
// path, e.g. [Software\MUBAX_Pirvel]) and "LogXml.ini" lives beside it. Both are read with inih.
#include <ini.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "common/fixed_buffer.h"
#include "common/settings.h"

namespace {

// inih reads lines through a fixed buffer and silently cuts longer ones; a value that may have
// been cut is treated as unreadable rather than handed on as another address or path.
constexpr std::size_t kLongestSafeLine = INI_MAX_LINE - 4;

struct IniLookup {
  IniLookup(const char* sectionName, const char* keyName) : section(sectionName), key(keyName) {}
  const char* section;
  const char* key;
  bool sectionFound = false;
  bool valueFound = false;
  bool valueCut = false;
  std::string value;
};

int CollectValue(void* user, const char* section, const char* name, const char* value) {
  IniLookup& lookup = *static_cast<IniLookup*>(user);
  if (std::strcmp(section, lookup.section) != 0) return 1;
  lookup.sectionFound = true;
  if (name == nullptr || std::strcmp(name, lookup.key) != 0) return 1;
  // The first definition wins, as with the platform's INI reader.
  if (lookup.valueFound) return 1;
  lookup.valueFound = true;
  lookup.value = value != nullptr ? value : "";
  lookup.valueCut = std::strlen(name) + lookup.value.size() + 1 >= kLongestSafeLine;
  return 1;
}

// Runs one lookup; false when the file cannot be opened.
bool LookUp(const char* iniPath, IniLookup& lookup) {
  // Syntax errors on other lines do not hide the values that did parse.
  return ini_parse(iniPath, CollectValue, &lookup) != -1;
}

std::string ConfigDirectory() {
  const char* configHome = std::getenv("XDG_CONFIG_HOME");
  std::string directory;
  if (configHome != nullptr && configHome[0] == '/') {
    directory = configHome;
  } else {
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] == '\0') return std::string();
    directory = std::string(home) + "/.config";
  }
  return directory + "/mubax";
}

}  // namespace

std::size_t GetSettingsStorePath(char* buffer, std::size_t bufferSize) {
  const std::string directory = ConfigDirectory();
  if (directory.empty()) return 0;
  const std::string path = directory + "/registry.ini";
  return CopyText(buffer, bufferSize, path.c_str()) ? path.size() : 0;
}

int ReadRegistryString(RegistryRoot, const char* subkey, const char* valueName, char* buffer,
                       std::size_t bufferSize) {
  char storePath[1024];
  if (subkey == nullptr || valueName == nullptr) return -1;
  if (GetSettingsStorePath(storePath, sizeof(storePath)) == 0) return -1;

  IniLookup lookup(subkey, valueName);
  if (!LookUp(storePath, lookup) || !lookup.sectionFound) return -1;  // the key cannot be opened
  if (!lookup.valueFound || lookup.valueCut) return -1;

  const std::size_t size = lookup.value.size() + 1;
  if (buffer == nullptr) return static_cast<int>(size);
  if (!CopyText(buffer, bufferSize, lookup.value.c_str())) return -1;
  return static_cast<int>(size);
}

std::size_t GetWindowsDirectoryPath(char* buffer, std::size_t bufferSize) {
  const std::string directory = ConfigDirectory();
  if (directory.empty()) return 0;
  return CopyText(buffer, bufferSize, directory.c_str()) ? directory.size() : 0;
}

std::size_t ReadIniString(const char* section, const char* key, const char* defaultText,
                          char* buffer, std::size_t bufferSize, const char* iniPath) {
  if (buffer == nullptr || bufferSize == 0) return 0;
  IniLookup lookup(section, key);
  const char* text = defaultText != nullptr ? defaultText : "";
  if (iniPath != nullptr && LookUp(iniPath, lookup) && lookup.valueFound && !lookup.valueCut &&
      lookup.value.size() < bufferSize) {
    text = lookup.value.c_str();
  }
  if (!CopyText(buffer, bufferSize, text)) {
    buffer[0] = '\0';
    return 0;
  }
  return std::strlen(buffer);
}
