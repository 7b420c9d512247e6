// Transparent-mode update: numbered additional files, the ActiveX file and the library file, each
// stage guarded on its own so a failure in one never stops the next.
#include "update/transparent_mode.h"

#include <climits>
#include <cstdint>

#include "common/fixed_buffer.h"
#include "update/log_texts.h"
#include "update/manifest_limits.h"
#include "update/manifest_names.h"
#include "xml/xml_document.h"

void TransparentMode::Run(const char* installedVersion, const char* offeredVersion,
                          const XmlDocument& manifest) {
  char countText[kManifestTextBufferSize] = "0";
  int count = 0;

  BeginMode(m_parts.log, m_parts.progress, kTextTransparentMode, installedVersion, offeredVersion);

  if (manifest.Exists(kExtraFileCountElement)) {
    manifest.GetValue(kExtraFileCountElement, countText, sizeof(countText));
  }

  if (countText[0] != '\0') {
    try {
      count = ReadLeadingInt(countText);
      m_parts.progress.SetProgressRange(static_cast<std::uint16_t>(PositionAfter(count, 2)));
      // Entries past the highest number present would all be skipped: do not walk to them.
      const int lastNamed = manifest.HighestNumberedChild(kExtraFileStem);
      for (int i = 1; i <= count && i <= lastNamed; ++i) {
        char name[kManifestTextBufferSize];
        FormatNumberedName(name, sizeof(name), kExtraFileStem, i);
        XmlNode entry;
        if (manifest.Exists(name) && manifest.SelectNode(entry, name) != -1 && !entry.IsEmpty()) {
          m_parts.installer.InstallEntry(entry, FileStage::kAdditionalFile, i);
          m_parts.progress.SetProgressPos(i);
        }
        if (i == INT_MAX) break;
      }
    } catch (...) {
      m_parts.log.Line(kOpUpdateError, kTextComponentsError);
    }
  }

  try {
    XmlNode entry;
    if (manifest.SelectNode(entry, kActiveXElement) != -1 && !entry.IsEmpty()) {
      m_parts.installer.InstallEntry(entry, FileStage::kActiveXFile, 0);
    }
  } catch (...) {
    m_parts.log.Line(kOpUpdateError, kTextActiveXError);
  }
  m_parts.progress.SetProgressPos(PositionAfter(count, 1));

  try {
    XmlNode entry;
    if (manifest.SelectNode(entry, kLibraryElement) != -1 && !entry.IsEmpty()) {
      m_parts.installer.InstallEntry(entry, FileStage::kLibraryFile, 0);
    }
  } catch (...) {
    m_parts.log.Line(kOpUpdateError, kTextLibraryError);
  }
  m_parts.progress.SetProgressPos(PositionAfter(count, 2));
}
