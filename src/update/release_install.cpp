// A release in two phases: its documents staged first, within the run's fetch budget and resumed
// across runs, then installed from the disk. What the budget cuts is deferred, never installed in
// part, so a till is never left with some files of a release beside the old others.
#include <algorithm>
#include <string>
#include <vector>

#include "update/delta_fetcher.h"
#include "update/log_texts.h"
#include "update/manifest_limits.h"
#include "update/manifest_names.h"
#include "update/mirror_fetcher.h"
#include "update/rollout.h"
#include "update/update_engine.h"
#include "xml/xml_document.h"

namespace {

// Notes each document a run of the mode asks for, fetching none.
class DocumentLister : public Fetcher {
 public:
  FetchStatus Fetch(const char* address, const FetchLimits& limits,
                    std::vector<char>& body) override {
    body.clear();
    Note(address, limits);
    return FetchStatus::kConnectFailed;
  }
  FetchStatus FetchInto(const char* address, const FetchLimits& limits,
                        ByteReceiver& /*receiver*/) override {
    Note(address, limits);
    return FetchStatus::kConnectFailed;
  }
  std::vector<StagedDocument> Take() { return std::move(m_documents); }

 private:
  // One entry per address: the same document named twice is staged once, under the larger of
  // the caps and time-outs it is asked with.
  void Note(const char* address, const FetchLimits& limits) {
    if (address == nullptr) return;
    for (StagedDocument& document : m_documents) {
      if (document.address != address) continue;
      document.limits.maxBytes = std::max(document.limits.maxBytes, limits.maxBytes);
      document.limits.totalTimeoutSeconds =
          std::max(document.limits.totalTimeoutSeconds, limits.totalTimeoutSeconds);
      return;
    }
    StagedDocument document;
    document.address = address;
    document.limits = limits;
    m_documents.push_back(document);
  }

  std::vector<StagedDocument> m_documents;
};

// Points the engine's fetches at the staged documents for the install phase, and back after it,
// however the phase ends.
class FetchRedirection {
 public:
  FetchRedirection(Fetcher*& fetcher, bool& hasDeadline, Fetcher& staged)
      : m_fetcher(fetcher), m_hasDeadline(hasDeadline), m_network(fetcher), m_had(hasDeadline) {
    m_fetcher = &staged;
    m_hasDeadline = false;  // reading the disk is not the line's time
  }
  ~FetchRedirection() {
    m_fetcher = m_network;
    m_hasDeadline = m_had;
  }
  FetchRedirection(const FetchRedirection&) = delete;
  FetchRedirection& operator=(const FetchRedirection&) = delete;

 private:
  Fetcher*& m_fetcher;
  bool& m_hasDeadline;
  Fetcher* m_network;
  bool m_had;
};

}  // namespace

std::vector<StagedDocument> UpdateEngine::ListDocuments(const XmlDocument& manifest,
                                                        const char* installedVersion,
                                                        PatchOffers* offers) {
  SilentUpdateHost silent;
  DryRunFileSink nowhere;
  DocumentLister lister;
  UpdateEngine list(silent, nowhere, lister, DryRunOptions());
  list.m_patchOffers = offers;
  RunContext listing = m_run;
  listing.logging = false;
  listing.hasDeadline = false;  // the documents are listed with the limits they are asked with
  list.UpdateFromManifest(manifest, installedVersion, listing);
  return lister.Take();
}

StageOutcome UpdateEngine::StageRelease(ReleaseStage& stage, const XmlDocument& manifest,
                                        const char* installedVersion, const std::string& release) {
  PatchOffers offers;
  const std::vector<StagedDocument> documents = ListDocuments(manifest, installedVersion, &offers);
  if (m_mirrors.empty()) {
    DeltaFetcher patched(*m_fetcher, offers);
    return stage.Stage(release, documents, patched, m_run.deadline);
  }
  // A share on the shop's network is trusted only where every document is checked against a
  // signed digest, or where the manifest itself was local (today's rule for local documents).
  MirrorFetcher sources(*m_fetcher, m_publisherBase, m_mirrors,
                        m_keys->RequiresSignatures() || m_run.documentsMayBeLocal);
  DeltaFetcher patched(sources, offers);
  StageOutcome staged = stage.Stage(release, documents, patched, m_run.deadline);
  for (std::size_t round = 0;
       staged == StageOutcome::kStaged && m_keys->RequiresSignatures() && round < m_mirrors.size();
       ++round) {
    std::vector<std::string> refused;
    {
      FetchRedirection fromDisk(m_fetcher, m_run.hasDeadline, stage.Staged());
      refused = FindDigestRefusals(manifest, installedVersion);
    }
    bool again = false;
    for (const std::string& address : refused) {
      if (!sources.Distrust(address)) continue;  // the publisher's own: nothing else to try
      stage.Forget(address);
      again = true;
    }
    if (!again) break;
    staged = stage.Stage(release, documents, patched, m_run.deadline);
  }
  return staged;
}

bool UpdateEngine::InRollout(const XmlDocument& manifest, const char* offeredVersion) {
  if (!manifest.Exists(kRolloutElement)) return true;
  char text[kManifestTextBufferSize] = {};
  int percent = 0;  // a share that cannot be read offers the release to no till
  if (manifest.GetValue(kRolloutElement, text, sizeof(text)) != -1) {
    ParseRolloutPercent(text, percent);
  }
  if (TakesRollout(RolloutBucket(m_options.tillIdentity, offeredVersion), percent)) return true;
  Log(kOpUpdating, kTextNotInRollout);
  m_summary.outcome = RunOutcome::kNotInRollout;
  return false;
}

void UpdateEngine::InstallRelease(const XmlDocument& manifest, const char* installedVersion,
                                  const std::string& release, const char* appDirectory) {
  ReleaseStage stage(appDirectory);
  char offeredVersion[kManifestTextBufferSize] = {};
  const UpdateMode offered =
      OfferedMode(manifest, installedVersion, offeredVersion, sizeof(offeredVersion));
  m_summary.offeredVersion = offeredVersion;
  if (offered == UpdateMode::kNone || (m_options.firstStartWatch != nullptr &&
                                       !m_options.firstStartWatch->MayInstall(offeredVersion))) {
    stage.Drop();  // nothing of this manifest is to come: what an earlier one staged is stale
    RunOfferedMode(manifest, installedVersion);
    return;
  }
  // Decided before the stage, so a till left out downloads nothing.
  if (!InRollout(manifest, offeredVersion)) {
    stage.Drop();
    return;
  }
  stage.OnProgress(
      [this](int done, int documents) { m_hosts.progress.ShowDownloadProgress(done, documents); });
  const StageOutcome staged = StageRelease(stage, manifest, installedVersion, release);
  if (staged == StageOutcome::kDeferred) {
    m_summary.outcome = RunOutcome::kDeferred;
    m_hosts.events.ReleaseDeferred();
    Log(kOpUpdating, kTextDownloadContinues);
    return;
  }
  if (staged == StageOutcome::kStaged) {
    FetchRedirection fromDisk(m_fetcher, m_run.hasDeadline, stage.Staged());
    if (CheckReleaseFiles(manifest, installedVersion)) {
      RunOfferedMode(manifest, installedVersion);
    }
  } else if (CheckReleaseFiles(manifest, installedVersion)) {
    // No folder could be written for the stage: straight from the network, as a run could
    // before there was one.
    RunOfferedMode(manifest, installedVersion);
  }
  stage.Drop();
}
