// Transparent-mode update: numbered additional files, the ActiveX file and the library file, each
// stage guarded on its own so a failure in one never stops the next.
#include <climits>
#include <cstdint>

#include "common/fixed_buffer.h"
#include "update/manifest_names.h"
#include "update/update_engine.h"
#include "xml/xml_document.h"

int UpdateEngine::InstallFileEntry(const XmlNode& entry, const char* successOperation,
                                   bool loggingFlag) {
  char sizeText[kManifestTextBufferSize];
  char address[kManifestTextBufferSize];
  char destination[kManifestTextBufferSize];
  char signature[kSignatureBufferSize];

  int sizeLimit = kDefaultEntrySizeLimit;
  if (GetNodeText(entry, kFileSizeElement, sizeText, sizeof(sizeText)) != -1 &&
      sizeText[0] != '\0') {
    sizeLimit = ReadLeadingInt(sizeText);
  }
  // Missing (or unreadable) fields leave their buffers empty: an empty address fetches nothing
  // and an empty destination is never written.
  GetNodeText(entry, kDownloadUrlElement, address, sizeof(address));
  GetNodeText(entry, kDestinationElement, destination, sizeof(destination));
  GetNodeText(entry, kSignatureElement, signature, sizeof(signature));

  const int result = InstallFileWithinLine(address, destination, sizeLimit, signature, loggingFlag);
  LogResult(loggingFlag, successOperation, address, destination, result);
  return result;
}

void UpdateEngine::UpdateTransparentMode(const char* installedVersion, const char* offeredVersion,
                                         const XmlDocument& manifest, bool loggingFlag) {
  char countText[kManifestTextBufferSize] = "0";
  int count = 0;

  BeginMode("Actualizando version modo TRANSPARENTE", installedVersion, offeredVersion,
            loggingFlag);

  if (manifest.Exists(kExtraFileCountElement)) {
    manifest.GetValue(kExtraFileCountElement, countText, sizeof(countText));
  }

  if (countText[0] != '\0') {
    try {
      count = ReadLeadingInt(countText);
      m_host.SetProgressRange(static_cast<std::uint16_t>(PositionAfter(count, 2)));
      // Entries past the highest number present would all be skipped: do not walk to them.
      const int lastNamed = manifest.HighestNumberedChild(kExtraFileStem);
      for (int i = 1; i <= count && i <= lastNamed; ++i) {
        char name[kManifestTextBufferSize];
        FormatNumberedName(name, sizeof(name), kExtraFileStem, i);
        XmlNode entry;
        if (manifest.Exists(name) && manifest.SelectNode(entry, name) != -1 && !entry.IsEmpty()) {
          InstallFileEntry(entry, "Fichero actualizado", loggingFlag);
          m_host.SetProgressPos(i);
        }
        if (i == INT_MAX) break;
      }
    } catch (...) {
      Log(loggingFlag, "Error actualizando", "Error actualizando componentes");
    }
  }

  try {
    XmlNode entry;
    if (manifest.SelectNode(entry, kActiveXElement) != -1 && !entry.IsEmpty()) {
      InstallFileEntry(entry, "Fichero de ActiveX actualizado", loggingFlag);
    }
  } catch (...) {
    Log(loggingFlag, "Error actualizando", "Error actualizando ActiveX");
  }
  m_host.SetProgressPos(PositionAfter(count, 1));

  try {
    XmlNode entry;
    if (manifest.SelectNode(entry, kLibraryElement) != -1 && !entry.IsEmpty()) {
      InstallFileEntry(entry, "Fichero de Libreria actualizado", loggingFlag);
    }
  } catch (...) {
    Log(loggingFlag, "Error actualizando",
        "Error actualizando Librer\xED"
        "a");
  }
  m_host.SetProgressPos(PositionAfter(count, 2));
}
