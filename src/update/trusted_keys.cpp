// The trusted key set of the programs, assembled once from its two sources.
#include "update/trusted_keys.h"

#include <string>

#include "common/beside_executable.h"

const char kReleaseKeyFileName[] = "mubax-release-keys.txt";

namespace {

ReleaseKeySet LoadTrustedKeys() {
  ReleaseKeySet keys;
  if (kBuiltInReleaseKeys[0] != '\0') keys.AddFromText(kBuiltInReleaseKeys);
  std::string text;
  const BesideExecutable found =
      ReadFileBesideExecutable(kReleaseKeyFileName, kReleaseKeyFileMaxBytes, text);
  // A key file that is there but unreadable or too large still means "signed releases only".
  if (found == BesideExecutable::kRead) {
    keys.AddFromText(text);
  } else if (found == BesideExecutable::kUnreadable) {
    keys.AddFromText(std::string());
  }
  return keys;
}

}  // namespace

const ReleaseKeySet& TrustedReleaseKeys() {
  static const ReleaseKeySet keys = LoadTrustedKeys();
  return keys;
}
