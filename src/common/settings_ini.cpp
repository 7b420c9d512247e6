// POSIX settings: the per-user store is $XDG_CONFIG_HOME/mubax/registry.ini (one section per key
// path, e.g. [Software\MUBAX_Pirvel]) and "LogXml.ini" lives beside it. Both are read with
// SimpleIni, which has no line length limit, so every value is read whole, and only from a
// regular file: a FIFO or a directory in their place reads as no store.
#include <SimpleIni.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "common/buffer_sizes.h"
#include "common/fixed_buffer.h"
#include "common/regular_file.h"
#include "common/settings.h"

namespace {

// Names compare case-sensitively and each value is kept with its load order, so a key defined
// twice reads as its first definition, as with the platform's INI reader. No quotes or multi-line
// values are interpreted: a value is the rest of its line, without the spaces around it. Comment
// lines start with ';' or '#'; a line the reader cannot make sense of is skipped, never fatal.
using IniStore = CSimpleIniCaseA;

struct IniLookup {
  bool sectionFound = false;
  bool valueFound = false;
  std::string value;
};

// Runs one lookup of `key` in `section` of the file at `iniPath`; false when the file cannot be
// read.
bool LookUp(const char* iniPath, const char* section, const char* key, IniLookup& lookup) {
  IniStore store(false, true, false);
  UniqueStdioFile file;
  if (OpenRegularFile(iniPath, RegularFileUse::kRead, file) != RegularFileOpen::kOpened ||
      store.LoadFile(file.Get()) < 0) {
    return false;
  }
  lookup.sectionFound = store.GetSection(section) != nullptr;
  IniStore::TNamesDepend values;
  if (!lookup.sectionFound || !store.GetAllValues(section, key, values)) return true;
  const IniStore::Entry* first = nullptr;
  for (const IniStore::Entry& entry : values) {
    if (first == nullptr || entry.nOrder < first->nOrder) first = &entry;
  }
  lookup.valueFound = first != nullptr && first->pItem != nullptr;
  if (lookup.valueFound) lookup.value = first->pItem;
  return true;
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
  char storePath[kStorePathBufferSize];
  if (subkey == nullptr || valueName == nullptr) return -1;
  if (GetSettingsStorePath(storePath, sizeof(storePath)) == 0) return -1;

  IniLookup lookup;
  // A missing section is a key that cannot be opened.
  if (!LookUp(storePath, subkey, valueName, lookup) || !lookup.sectionFound) return -1;
  if (!lookup.valueFound) return -1;

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
  IniLookup lookup;
  const char* text = defaultText != nullptr ? defaultText : "";
  if (iniPath != nullptr && section != nullptr && key != nullptr &&
      LookUp(iniPath, section, key, lookup) && lookup.valueFound &&
      lookup.value.size() < bufferSize) {
    text = lookup.value.c_str();
  }
  if (!CopyText(buffer, bufferSize, text)) {
    buffer[0] = '\0';
    return 0;
  }
  return std::strlen(buffer);
}
