// All or nothing for signed releases: every staged file is read and checked against its digest
// by a run of the same mode that writes nothing, before the real run writes any. A changed or
// swapped document then leaves the whole installation as it was, not half of a release in place.
// The documents come from the stage, so each crosses the line once.
#include "update/log_texts.h"
#include "update/update_engine.h"

bool UpdateEngine::CheckReleaseFiles(const XmlDocument& manifest, const char* installedVersion) {
  if (!m_keys->RequiresSignatures()) return true;
  if (FindDigestRefusals(manifest, installedVersion).empty()) return true;
  m_summary.outcome = RunOutcome::kRefused;
  m_summary.refusal = SignatureCheck::kFileDigest;
  DecideManifest(UpdateMode::kNone, SignatureCheck::kFileDigest);
  Log(kOpManifestRefused, kTextReleaseFileDigest);
  return false;
}

std::vector<std::string> UpdateEngine::FindDigestRefusals(const XmlDocument& manifest,
                                                          const char* installedVersion) {
  SilentUpdateHost silent;  // the check's progress and reports are not the run's
  DryRunFileSink nowhere;
  UpdateEngine check(silent, nowhere, *m_fetcher, DryRunOptions());
  RunContext quiet = m_run;
  quiet.logging = false;
  check.UpdateFromManifest(manifest, installedVersion, quiet);
  return check.m_digestRefused;
}
