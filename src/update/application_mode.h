// Application-mode update: numbered components into the main application's directory, then the
// main executable over its registered path, with progress after each component.
#pragma once

#include "update/file_installer.h"

class XmlDocument;

class ApplicationMode {
 public:
  explicit ApplicationMode(const ModeParts& parts) : m_parts(parts) {}
  // Installs an application manifest: the numbered components, then the main executable.
  void Run(const char* installedVersion, const char* offeredVersion, const XmlDocument& manifest);

 private:
  void InstallComponents(const XmlDocument& manifest, const char* appDirectory,
                         bool appDirectoryKnown, int defaultSize, int& count);
  void InstallMainExecutable(const XmlDocument& manifest, int defaultSize);

  ModeParts m_parts;
};
