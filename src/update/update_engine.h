// The update engine: one update run from the settings to the launch, the manifest's decision and
// the release's two phases; the modes (application_mode.h, transparent_mode.h) and the file
// installer (file_installer.h) do the installing. It knows nothing of windows or consoles; it
// talks to its UpdateHosts and writes through a FileSink.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

#include "update/release_signature.h"
#include "update/first_start_watch_hooks.h"
#include "update/engine_log.h"
#include "update/file_installer.h"
#include "update/file_sink.h"
#include "update/file_sinks.h"
#include "update/release_stage.h"
#include "update/update_host.h"
#include "update/update_options.h"
#include "net/fetch.h"

class XmlDocument;
struct VerifiedManifest;
class PatchOffers;

// Address used when the settings name none: the build's update server and a fixed path.
extern const char kDefaultManifestAddress[];

class UpdateEngine {
 public:
  // `fetcher` (default: DefaultFetcher()) serves the manifest and every file document; it must
  // outlive the engine, as must what `options` points to.
  UpdateEngine(const UpdateHosts& hosts, FileSink& sink, Fetcher& fetcher = DefaultFetcher(),
               const UpdateOptions& options = UpdateOptions());

  // The whole run: decides on logging, loads the manifest, picks a mode, then launches the main
  // application and ends the run, whatever happened before.
  void RunUpdate();

  // Runs the mode a loaded manifest calls for against `installedVersion` (none when the offered
  // version is empty or equal) as part of `run`; returns the mode that ran.
  UpdateMode UpdateFromManifest(const XmlDocument& manifest, const char* installedVersion,
                                const RunContext& run);

  // Runs one mode as part of `run`, as RunUpdate would once it has decided on it (tests).
  // Installs an application manifest: the numbered components, then the main executable.
  void UpdateApplicationMode(const char* installedVersion, const char* offeredVersion,
                             const XmlDocument& manifest, const RunContext& run);
  // Installs a library manifest: the additional files, the ActiveX file, the library file.
  void UpdateTransparentMode(const char* installedVersion, const char* offeredVersion,
                             const XmlDocument& manifest, const RunContext& run);

  // One file as part of `run`, through the run's installer (FileInstaller::InstallDocument).
  int InstallFile(const char* address, const char* destination, int maxSize, const char* signature,
                  const RunContext& run);

 private:
  // With keys: runs the mode the manifest calls for without writing anything and checks every
  // file against its digest. True when no file lacks or mismatches its digest, so the release
  // may be installed; false (logged and reported) otherwise. True at once without keys.
  bool CheckReleaseFiles(const XmlDocument& manifest, const char* installedVersion);
  // With keys: the addresses of the documents whose files lack or mismatch their digest, from a
  // run of the mode that writes nothing; nothing is logged or reported.
  std::vector<std::string> FindDigestRefusals(const XmlDocument& manifest,
                                              const char* installedVersion);
  // The options of the engines a run makes to look at a release without installing it: the
  // same limits and keys, no watch.
  UpdateOptions DryRunOptions() const;
  // The mode the manifest calls for, run within the current run.
  UpdateMode RunOfferedMode(const XmlDocument& manifest, const char* installedVersion);

  // The run's log lines, dropped when the run does not log.
  EngineLog Lines() const { return EngineLog(m_hosts.log, m_run); }
  // What the run's file installer is given.
  InstallerParts Parts();
  // Runs the installing mode `mode` with a fresh installer.
  void Install(UpdateMode mode, const char* installedVersion, const char* offeredVersion,
               const XmlDocument& manifest);
  // One log line of the program's own texts.
  void Log(const char* operation, const char* text);
  // One log line whose text came from outside (settings, a manifest), in the log's encoding.
  void LogOutsideText(const char* operation, const char* outsideText);
  // The update proper: the manifest address from the settings, the manifest, the mode.
  void UpdateFromSettings(const char* appDirectory);
  // Fetches the manifest's bytes and loads the document from them; `release` receives the
  // release's identity (see ReleaseIdentity).
  bool LoadManifest(XmlDocument& manifest, const char* address, std::string& release);
  // With keys: acts on the signature check of the manifest just loaded. False (logged and
  // reported) when it was refused.
  bool CheckManifestSignature(const VerifiedManifest& verified);
  // Two phases: every document of the release is staged in the application directory's staging
  // folder, then the mode installs from the staged documents. A release the run's fetch budget
  // cut is deferred: nothing of it installed, what was staged kept for the next run.
  void InstallRelease(const XmlDocument& manifest, const char* installedVersion,
                      const std::string& release, const char* appDirectory);
  // The mode the manifest calls for, or kNone when no mode would run (offered version empty,
  // equal to the installed one, or held back by the watch).
  UpdateMode OfferedMode(const XmlDocument& manifest, const char* installedVersion,
                         char* offeredVersion, std::size_t offeredSize) const;
  // False when the manifest rolls the offered version out to a share of the tills that leaves
  // this one out (logged); true without the element.
  bool InRollout(const XmlDocument& manifest, const char* offeredVersion);
  // Stages the release's documents from the mirrors and the publisher. With keys and mirrors, a
  // document a mirror served that fails its digest is fetched again from the next source.
  StageOutcome StageRelease(ReleaseStage& stage, const XmlDocument& manifest,
                            const char* installedVersion, const std::string& release);
  // The documents the mode would fetch, in order, each once, with the largest limits asked;
  // the patches offered for them into `offers` when given.
  std::vector<StagedDocument> ListDocuments(const XmlDocument& manifest,
                                            const char* installedVersion,
                                            PatchOffers* offers = nullptr);
  // Tells the events how the manifest was decided on.
  void DecideManifest(UpdateMode mode, SignatureCheck refusal = SignatureCheck::kValid);
  // Runs `mode` for an offered version that differs from the installed one, unless the watch
  // holds it back.
  UpdateMode RunMode(UpdateMode mode, const char* installedVersion, const char* offeredVersion,
                     const XmlDocument& manifest);

  UpdateHosts m_hosts;
  FileSink& m_sink;
  Fetcher* m_fetcher;
  const UpdateOptions m_options;
  const ReleaseKeySet* m_keys;               // m_options.keys, or none
  RunContext m_run;                          // the run under way
  RunSummary m_summary;                      // this run's, reported before the launch
  PatchOffers* m_patchOffers = nullptr;      // set while a release's documents are listed
  std::vector<std::string> m_digestRefused;  // their addresses, in order
  std::vector<std::string> m_mirrors;        // the setting espejos, in order
  std::string m_publisherBase;               // where the manifest's documents are published
};
