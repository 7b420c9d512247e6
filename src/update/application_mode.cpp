// Application-mode update: numbered components into the main application's directory, then the
// main executable over its registered path, with progress after each component.
#include "update/application_mode.h"

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

void ApplicationMode::Run(const char* installedVersion, const char* offeredVersion,
                          const XmlDocument& manifest) {
  char appDirectory[kManifestTextBufferSize] = {};
  char countText[kManifestTextBufferSize] = "0";
  char defaultSizeText[kManifestTextBufferSize] = "0";
  int count = 0;

  BeginMode(m_parts.log, m_parts.progress, kTextApplicationMode, installedVersion, offeredVersion);

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
      InstallComponents(manifest, appDirectory, appDirectoryKnown, defaultSize, count);
    } catch (...) {
      m_parts.log.Line(kOpUpdateError, kTextComponentsError);
    }
  }

  try {
    InstallMainExecutable(manifest, defaultSize);
  } catch (...) {
    m_parts.log.Line(kOpUpdateError, kTextMainExecutableError);
  }
  m_parts.progress.SetProgressPos(PositionAfter(count, 1));
}

void ApplicationMode::InstallComponents(const XmlDocument& manifest, const char* appDirectory,
                                        bool appDirectoryKnown, int defaultSize, int& count) {
  m_parts.progress.SetProgressRange(static_cast<std::uint16_t>(PositionAfter(count, 1)));
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

    m_parts.installer.BeginFile(FileStage::kComponent, i, shownDestination.c_str(),
                                ReadComponentPatchOffer(manifest, i));
    int result = 0;
    if (!haveAddress || !haveDestination) {
      m_parts.installer.Refuse(InstallProblem::kComponentTextMissing);
    } else if (!IsContainedComponentDestination(destinationText)) {
      // A component belongs inside the application directory: a manifest never picks a place
      // elsewhere on the shop PC.
      m_parts.installer.Refuse(InstallProblem::kOutsideAppDirectory);
    } else if (!appDirectoryKnown || !destinationFits) {
      m_parts.installer.Refuse(InstallProblem::kAppDirectoryTooLong);
    } else {
      result = m_parts.installer.InstallDocument(address, destination, sizeLimit, digest);
    }
    m_parts.installer.Finish(address, result);
    m_parts.progress.SetProgressPos(i);
    if (i == INT_MAX) break;
  }
}

void ApplicationMode::InstallMainExecutable(const XmlDocument& manifest, int defaultSize) {
  if (!manifest.Exists(kDownloadUrlElement)) return;
  char address[kManifestTextBufferSize] = {};
  const bool haveAddress =
      ReadComponentText(manifest, kDownloadUrlElement, address, sizeof(address));
  m_parts.log.OutsideText(kOpMainExecutableAddress, address);
  char digest[kSignatureBufferSize] = {};
  ReadDigestText(manifest, kMainDigestElement, digest, sizeof(digest));
  m_parts.installer.BeginFile(FileStage::kMainExecutable, 0, "", ReadMainPatchOffer(manifest));
  int result = 0;
  if (haveAddress) {
    result = m_parts.installer.InstallDocument(address, nullptr, defaultSize, digest);
  } else {
    m_parts.installer.Refuse(InstallProblem::kMainAddressTooLong);
  }
  m_parts.installer.Finish(address, result);
}
