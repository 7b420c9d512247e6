// One update run: logging decision, manifest address, manifest load, mode choice, then the launch
// of the main application and the end of the run on every path.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "common/app_directory.h"
#include "common/buffer_sizes.h"
#include "common/files.h"
#include "common/fixed_buffer.h"
#include "common/settings.h"
#include "net/address.h"
#include "update/log_texts.h"
#include "update/manifest_limits.h"
#include "log/log_text.h"
#include "update/manifest_names.h"
#include "update/mirror_fetcher.h"
#include "update/update_engine.h"
#include "update/application_mode.h"
#include "update/transparent_mode.h"
#include "update/verified_manifest.h"
#include "xml/xml_document.h"

#ifndef MUBAX_UPDATE_HOST
#define MUBAX_UPDATE_HOST "actualizaciones.mubax.example"
#endif

const char kDefaultManifestAddress[] =
    "http://" MUBAX_UPDATE_HOST "/MUB_AX/ActiveX/actvardenov2.xml";

namespace {

const ReleaseKeySet& NoReleaseKeys() {
  static const ReleaseKeySet none;
  return none;
}

}  // namespace

UpdateEngine::UpdateEngine(const UpdateHosts& hosts, FileSink& sink, Fetcher& fetcher,
                           const UpdateOptions& options)
    : m_hosts(hosts),
      m_sink(sink),
      m_fetcher(&fetcher),
      m_options(options),
      m_keys(options.keys != nullptr ? options.keys : &NoReleaseKeys()) {}

UpdateMode UpdateEngine::UpdateFromManifest(const XmlDocument& manifest,
                                            const char* installedVersion, const RunContext& run) {
  m_run = run;
  return RunOfferedMode(manifest, installedVersion);
}

void UpdateEngine::UpdateApplicationMode(const char* installedVersion, const char* offeredVersion,
                                         const XmlDocument& manifest, const RunContext& run) {
  m_run = run;
  Install(UpdateMode::kApplication, installedVersion, offeredVersion, manifest);
}

void UpdateEngine::UpdateTransparentMode(const char* installedVersion, const char* offeredVersion,
                                         const XmlDocument& manifest, const RunContext& run) {
  m_run = run;
  Install(UpdateMode::kTransparent, installedVersion, offeredVersion, manifest);
}

int UpdateEngine::InstallFile(const char* address, const char* destination, int maxSize,
                              const char* signature, const RunContext& run) {
  m_run = run;
  FileInstaller installer(Parts());
  return installer.InstallDocument(address, destination, maxSize, signature);
}

InstallerParts UpdateEngine::Parts() {
  return InstallerParts{Lines(),         m_hosts.events,   m_sink, *m_fetcher,
                        *m_keys,         m_options.limits, m_run,  m_summary,
                        m_digestRefused, m_patchOffers};
}

void UpdateEngine::Install(UpdateMode mode, const char* installedVersion,
                           const char* offeredVersion, const XmlDocument& manifest) {
  FileInstaller installer(Parts());
  const ModeParts parts{installer, m_hosts.progress, Lines()};
  if (mode == UpdateMode::kApplication) {
    ApplicationMode(parts).Run(installedVersion, offeredVersion, manifest);
  } else {
    TransparentMode(parts).Run(installedVersion, offeredVersion, manifest);
  }
}

UpdateOptions UpdateEngine::DryRunOptions() const {
  UpdateOptions options = m_options;
  options.keys = m_keys;
  options.firstStartWatch =
      nullptr;  // a look at the release installs nothing the watch must hear of
  return options;
}

void UpdateEngine::Log(const char* operation, const char* text) { Lines().Line(operation, text); }

void UpdateEngine::LogOutsideText(const char* operation, const char* outsideText) {
  Lines().OutsideText(operation, outsideText);
}

bool DocumentsMayBeLocal(const char* manifestAddress) {
  const AddressKind kind = ClassifyAddress(manifestAddress);
  return kind == AddressKind::kLocalPath || kind == AddressKind::kFileUrl;
}

void UpdateEngine::DecideManifest(UpdateMode mode, SignatureCheck refusal) {
  ManifestDecision decision;
  decision.mode = mode;
  decision.refusal = refusal;
  m_hosts.events.ManifestDecided(decision);
}

void UpdateEngine::RunUpdate() {
  m_run = RunContext();
  m_run.hasDeadline = true;
  m_run.deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(m_options.runFetchLimitSeconds);
  m_summary = RunSummary();
  char installedVersion[kSettingTextBufferSize] = {};
  ReadRegistryString(RegistryRoot::CurrentUser, kAppSettingsKey, kVersionValue, installedVersion,
                     sizeof(installedVersion));
  m_summary.installedVersion = installedVersion;  // a run that does not update reports it too
  char appDirectory[kPathBufferSize] = {};
  char markerPath[kPathBufferSize] = {};
  GetAppDirectory(appDirectory, sizeof(appDirectory));
  // A marker path that does not fit is not the marker: logging stays off.
  if (FormatText(markerPath, sizeof(markerPath), "%slogUpdate.txt", appDirectory)) {
    m_run.logging = FileExists(markerPath, sizeof(markerPath), false);
  }
  if (m_run.logging) m_hosts.log.StartLogSession(markerPath);

  if (m_hosts.run.TakeUpdateTurn()) {
    if (m_options.firstStartWatch != nullptr)
      m_options.firstStartWatch->FinishEarlierRun(Lines().Gated());
    UpdateFromSettings(appDirectory);  // the manifest is gone before the launch
  } else {
    // Another updater was (or still is) installing: a second run on top of it would only fetch
    // and write the same files again, interleaved.
    Log(kOpUpdating, kTextOtherRunUpdating);
    m_summary.outcome = RunOutcome::kBusy;
  }
  Log(kOpRunEnd, kTextRunEnd);
  m_hosts.run.ReportRunOutcome(m_summary);
  m_hosts.run.LaunchMainApplication();
  m_hosts.run.EndRun();
}

void UpdateEngine::UpdateFromSettings(const char* appDirectory) {
  char address[kManifestTextBufferSize] = {};
  char installedVersion[kSettingTextBufferSize] = {};
  XmlDocument manifest;

  ReadRegistryString(RegistryRoot::CurrentUser, kAppSettingsKey, kManifestUrlValue, address,
                     sizeof(address));
  if (address[0] != '\0') {
    LogOutsideText(kOpUpdatingFrom, address);
  } else {
    CopyText(address, kDefaultManifestAddress);
    Log(kOpUpdating, kTextNoAddressSetting);
    LogOutsideText(kOpUpdatingFrom, address);
  }
  m_run.documentsMayBeLocal = DocumentsMayBeLocal(address);
  char mirrors[kSettingTextBufferSize] = {};
  ReadRegistryString(RegistryRoot::CurrentUser, kAppSettingsKey, kMirrorsValue, mirrors,
                     sizeof(mirrors));
  m_mirrors = ParseMirrorList(mirrors);
  m_publisherBase = PublisherBase(address);
  CopyText(installedVersion, m_summary.installedVersion.c_str());
  std::string release;
  if (LoadManifest(manifest, address, release)) {
    InstallRelease(manifest, installedVersion, release, appDirectory);
  } else if (m_summary.outcome != RunOutcome::kRefused) {
    m_summary.outcome = RunOutcome::kNoManifest;
  }
}

bool UpdateEngine::LoadManifest(XmlDocument& manifest, const char* address, std::string& release) {
  FetchLimits limits = m_options.limits;
  limits.allowLocalFiles = true;  // the address comes from the settings, not from a server
  const ManifestSource source{*m_fetcher, limits, *m_keys,
                              m_run.hasDeadline ? &m_run.deadline : nullptr};
  VerifiedManifest verified;
  try {
    verified = LoadVerifiedManifest(source, address, RefusedManifest::kNotParsed, manifest);
  } catch (...) {
    // Memory ran out for the request: nothing can be installed from a manifest not loaded.
    verified = VerifiedManifest();
  }
  if (!CheckManifestSignature(verified)) return false;
  if (verified.loaded) {
    release = verified.release;
  } else {
    LogOutsideText(kOpManifestLoadFailed, address);
  }
  return verified.loaded;
}

bool UpdateEngine::CheckManifestSignature(const VerifiedManifest& verified) {
  if (!verified.signatureChecked) return true;
  const SignatureCheck check = verified.signature;
  if (check != SignatureCheck::kValid) {
    m_summary.outcome = RunOutcome::kRefused;
    m_summary.refusal = check;
    DecideManifest(UpdateMode::kNone, check);
    Log(kOpManifestRefused, SignatureRefusalText(check));
    return false;
  }
  // A trusted key vouches for every address in it, and each document is held to its signed
  // digest: the shop's own share or disk may then serve the files.
  m_run.documentsMayBeLocal = true;
  return true;
}

UpdateMode UpdateEngine::OfferedMode(const XmlDocument& manifest, const char* installedVersion,
                                     char* offeredVersion, std::size_t offeredSize) const {
  offeredVersion[0] = '\0';
  UpdateMode mode = UpdateMode::kNone;
  if (manifest.Exists(kVersionElement)) {
    // An application manifest, even with an empty version; its library part is never read.
    manifest.GetValue(kVersionElement, offeredVersion, offeredSize);
    mode = UpdateMode::kApplication;
  } else if (manifest.Exists(kLibraryElement)) {
    XmlNode library;
    if (manifest.SelectNode(library, kLibraryElement) == -1 || library.IsEmpty() ||
        GetNodeText(library, kLibraryVersionElement, offeredVersion, offeredSize) == -1) {
      return UpdateMode::kNone;
    }
    mode = UpdateMode::kTransparent;
  }
  if (offeredVersion[0] == '\0' || std::strcmp(offeredVersion, installedVersion) == 0) {
    return UpdateMode::kNone;
  }
  return mode;
}

UpdateMode UpdateEngine::RunOfferedMode(const XmlDocument& manifest, const char* installedVersion) {
  char offeredVersion[kManifestTextBufferSize] = {};
  const UpdateMode mode =
      OfferedMode(manifest, installedVersion, offeredVersion, sizeof(offeredVersion));
  if (mode == UpdateMode::kNone) {
    DecideManifest(mode);
    return mode;
  }
  return RunMode(mode, installedVersion, offeredVersion, manifest);
}

UpdateMode UpdateEngine::RunMode(UpdateMode mode, const char* installedVersion,
                                 const char* offeredVersion, const XmlDocument& manifest) {
  FirstStartWatchHooks* watch = m_options.firstStartWatch;
  if (watch != nullptr && !watch->MayInstall(offeredVersion)) {
    // Held back after it failed to start here: installing it again would only fail again.
    LogOutsideText(kOpHeldVersion, offeredVersion);
    m_summary.outcome = RunOutcome::kHeld;
    DecideManifest(UpdateMode::kNone);
    return UpdateMode::kNone;
  }
  DecideManifest(mode);
  if (watch != nullptr) watch->BeginInstall(installedVersion, offeredVersion);
  Install(mode, installedVersion, offeredVersion, manifest);
  // The renames are on the disk before the watch records the release as installed.
  m_sink.FinishWrites();
  if (watch != nullptr) watch->EndInstall();
  m_summary.outcome = m_summary.failedFiles > 0 ? RunOutcome::kFailedFiles : RunOutcome::kInstalled;
  return mode;
}
