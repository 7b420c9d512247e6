// Transparent-mode update: numbered additional files, the ActiveX file and the library file, each
// stage guarded on its own so a failure in one never stops the next.
#pragma once

#include "update/engine_log.h"
#include "update/file_installer.h"
#include "update/update_host.h"

class XmlDocument;

class TransparentMode {
 public:
  // Installs through `installer`; everything must outlive this.
  TransparentMode(FileInstaller& installer, ProgressSink& progress, const EngineLog& log)
      : m_installer(installer), m_progress(progress), m_log(log) {}

  // Installs a library manifest: the additional files, the ActiveX file, the library file.
  void Run(const char* installedVersion, const char* offeredVersion, const XmlDocument& manifest);

 private:
  FileInstaller& m_installer;
  ProgressSink& m_progress;
  EngineLog m_log;
};
