// Transparent-mode update: numbered additional files, the ActiveX file and the library file, each
// stage guarded on its own so a failure in one never stops the next.
#pragma once

#include "update/file_installer.h"

class XmlDocument;

// Installs a library manifest: the additional files, the ActiveX file, the library file.
class TransparentMode {
 public:
  explicit TransparentMode(const ModeParts& parts) : m_parts(parts) {}
  void Run(const char* installedVersion, const char* offeredVersion, const XmlDocument& manifest);

 private:
  ModeParts m_parts;
};
