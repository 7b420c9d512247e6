// Application-mode update: numbered components into the main application's directory, then the
// main executable over its registered path, with progress after each component.
#pragma once

#include "update/engine_log.h"
#include "update/file_installer.h"
#include "update/update_host.h"

class XmlDocument;

class ApplicationMode {
 public:
  // Installs through `installer`; everything must outlive this.
  ApplicationMode(FileInstaller& installer, ProgressSink& progress, const EngineLog& log)
      : m_installer(installer), m_progress(progress), m_log(log) {}

  // Installs an application manifest: the numbered components, then the main executable.
  void Run(const char* installedVersion, const char* offeredVersion, const XmlDocument& manifest);

 private:
  void InstallComponents(const XmlDocument& manifest, const char* appDirectory,
                         bool appDirectoryKnown, int defaultSize, int& count);
  void InstallMainExecutable(const XmlDocument& manifest, int defaultSize);

  FileInstaller& m_installer;
  ProgressSink& m_progress;
  EngineLog m_log;
};
