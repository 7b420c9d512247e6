// Writing one value of the POSIX settings store: SimpleIni loads the store, changes the value and
// the whole text replaces the file in one step, so a crash leaves the old store or the new one,
// and comments and other values stay as they were. POSIX target only.
#include <SimpleIni.h>

#include <string>

#include "common/buffer_sizes.h"
#include "common/files.h"
#include "common/regular_file.h"
#include "common/settings_write.h"

namespace {

using IniStore = CSimpleIniCaseA;

// Loads the store (an absent one is empty), lets `change` edit it and saves it whole.
template <typename Change>
bool EditStore(Change change) {
  char storePath[kStorePathBufferSize];
  if (GetSettingsStorePath(storePath, sizeof(storePath)) == 0) return false;
  IniStore store(false, true, false);
  UniqueStdioFile file;
  const RegularFileOpen opened = OpenRegularFile(storePath, RegularFileUse::kRead, file);
  // Something other than a file in the store's place is left alone: nothing to edit.
  if (opened != RegularFileOpen::kAbsent &&
      (opened != RegularFileOpen::kOpened || store.LoadFile(file.Get()) < 0)) {
    return false;
  }
  file.Reset();
  if (!change(store)) return true;  // nothing to change
  std::string text;
  if (store.Save(text) < 0) return false;
  // The store's directory is made by whoever configured the updater; without it there is no
  // store to write into.
  return ReplaceFileContents(storePath, reinterpret_cast<const unsigned char*>(text.data()),
                             text.size()) == ReplaceResult::kReplaced;
}

}  // namespace

bool WriteRegistryString(RegistryRoot /*root*/, const char* subkey, const char* valueName,
                         const char* text) {
  if (subkey == nullptr || valueName == nullptr || text == nullptr) return false;
  return EditStore([&](IniStore& store) {
    // Every earlier definition goes, so the value reads back as the one written.
    store.Delete(subkey, valueName);
    return store.SetValue(subkey, valueName, text) >= 0;
  });
}
