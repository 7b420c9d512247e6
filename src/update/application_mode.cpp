// Application-mode update: numbered components into the main application's directory, then the
// main executable over its registered path, with progress after each component.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <string>

#include "common/app_directory.h"
#include "common/fixed_buffer.h"
#include "update/component_destination.h"
#include "update/log_texts.h"
#include "update/manifest_limits.h"
#include "update/manifest_names.h"
#include "update/patch_offer.h"
#include "update/update_engine.h"
#include "xml/xml_document.h"

namespace {

// Reads the text of `name` into a fresh buffer; false when it is missing or does not fit, so a
// component never inherits the previous one's address or destination.
bool ReadComponentText(const XmlDocument& manifest, const char* name, char* buffer,
                       std::size_t bufferSize) {
  buffer[0] = '\0';
  return manifest.GetValue(name, buffer, bufferSize) >= 0;
}

// Reads an optional digest element into `buffer` (kSignatureBufferSize bytes); empty when it is
// missing or longer than a `firma` may be, which a signed release then refuses.
void ReadDigestText(const XmlDocument& manifest, const char* name, char* buffer,
                    std::size_t bufferSize) {
  buffer[0] = '\0';
  if (manifest.Exists(name) && manifest.GetValue(name, buffer, bufferSize) < 0) buffer[0] = '\0';
}

}  // namespace

void UpdateEngine::UpdateApplicationMode(const char* installedVersion, const char* offeredVersion,
                                         const XmlDocument& manifest, bool loggingFlag) {
  char appDirectory[kManifestTextBufferSize] = {};
  char countText[kManifestTextBufferSize] = "0";
  char defaultSizeText[kManifestTextBufferSize] = "0";
  int count = 0;

  BeginMode(kTextApplicationMode, installedVersion, offeredVersion, loggingFlag);

  const bool appDirectoryKnown = GetAppDirectory(appDirectory, sizeof(appDirectory)) == 1;
  if (manifest.Exists(kComponentCountElement)) {
    manifest.GetValue(kComponentCountElement, countText, sizeof(countText));
  }
  if (manifest.Exists(kFileSizeElement)) {
    manifest.GetValue(kFileSizeElement, defaultSizeText, sizeof(defaultSizeText));
  }
  const int defaultSize = ReadLeadingInt(defaultSizeText);

  if (countText[0] != '\0') {
    try {
      count = ReadLeadingInt(countText);
      InstallComponents(manifest, appDirectory, appDirectoryKnown, defaultSize, count, loggingFlag);
    } catch (...) {
      Log(loggingFlag, kOpUpdateError, kTextComponentsError);
    }
  }

  try {
    InstallMainExecutable(manifest, defaultSize, loggingFlag);
  } catch (...) {
    Log(loggingFlag, kOpUpdateError, kTextMainExecutableError);
  }
  m_host.SetProgressPos(PositionAfter(count, 1));
}

void UpdateEngine::InstallComponents(const XmlDocument& manifest, const char* appDirectory,
                                     bool appDirectoryKnown, int defaultSize, int& count,
                                     bool loggingFlag) {
  m_host.SetProgressRange(static_cast<std::uint16_t>(PositionAfter(count, 1)));
  int last = count;
  if (count > kMaxWalkedCount) {
    last = std::max({manifest.HighestNumberedChild(kComponentSizeStem),
                     manifest.HighestNumberedChild(kComponentUrlStem),
                     manifest.HighestNumberedChild(kComponentDestStem)});
  }
  for (int i = 1; i <= count && i <= last; ++i) {
    char name[kManifestTextBufferSize];
    char sizeText[kManifestTextBufferSize] = {};
    char address[kManifestTextBufferSize] = {};
    char destinationText[kManifestTextBufferSize] = {};
    char destination[kManifestTextBufferSize] = {};
    char digest[kSignatureBufferSize] = {};

    int sizeLimit = defaultSize;
    FormatNumberedName(name, sizeof(name), kComponentSizeStem, i);
    if (manifest.Exists(name)) {
      // A size text that cannot be read whole admits nothing.
      sizeLimit =
          manifest.GetValue(name, sizeText, sizeof(sizeText)) >= 0 ? ReadLeadingInt(sizeText) : 0;
    }
    FormatNumberedName(name, sizeof(name), kComponentUrlStem, i);
    const bool haveAddress = ReadComponentText(manifest, name, address, sizeof(address));
    FormatNumberedName(name, sizeof(name), kComponentDestStem, i);
    const bool haveDestination =
        ReadComponentText(manifest, name, destinationText, sizeof(destinationText));
    FormatNumberedName(name, sizeof(name), kComponentDigestStem, i);
    ReadDigestText(manifest, name, digest, sizeof(digest));

    const bool destinationFits =
        FormatText(destination, sizeof(destination), "%s%s", appDirectory, destinationText);
    const std::string shownDestination = std::string(appDirectory) + destinationText;

    BeginFile(FileStage::kComponent, i, shownDestination.c_str());
    int result = 0;
    if (!haveAddress || !haveDestination) {
      Refuse(address, "component address or destination missing or longer than 254 bytes");
    } else if (!IsContainedComponentDestination(destinationText)) {
      // A component belongs inside the application directory: a manifest never picks a place
      // elsewhere on the shop PC.
      Refuse(address, "component destination leaves the application directory");
    } else if (!appDirectoryKnown || !destinationFits) {
      Refuse(address, "application directory and destination longer than 254 bytes");
    } else {
      const PatchOffer patch = ReadComponentPatchOffer(manifest, i);
      result = InstallFile(address, destination, sizeLimit, digest, loggingFlag, &patch);
    }
    LogResult(loggingFlag, address, result);
    m_host.SetProgressPos(i);
    if (i == INT_MAX) break;
  }
}

void UpdateEngine::InstallMainExecutable(const XmlDocument& manifest, int defaultSize,
                                         bool loggingFlag) {
  if (!manifest.Exists(kDownloadUrlElement)) return;
  char address[kManifestTextBufferSize] = {};
  const bool haveAddress =
      ReadComponentText(manifest, kDownloadUrlElement, address, sizeof(address));
  LogOutsideText(loggingFlag, kOpMainExecutableAddress, address);
  char digest[kSignatureBufferSize] = {};
  ReadDigestText(manifest, kMainDigestElement, digest, sizeof(digest));
  BeginFile(FileStage::kMainExecutable, 0, kMainExecutableDestinationText);
  int result = 0;
  if (haveAddress) {
    const PatchOffer patch = ReadMainPatchOffer(manifest);
    result = InstallFile(address, nullptr, defaultSize, digest, loggingFlag, &patch);
  } else {
    Refuse(address, "main executable address longer than 254 bytes");
  }
  LogResult(loggingFlag, address, result);
}
