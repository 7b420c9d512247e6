// Times the update engine alone on one release, for bench/run.sh: loads the manifest at an address
// and lets the engine install what it offers, with no window, no waits and no launch; with
// --keep, each file is kept first as the first-start watch keeps it. Both targets.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "update/first_start_watch_store.h"
#include "update/update_engine.h"
#include "xml/xml_document.h"

namespace {

// Counts what the engine reports; everything else a front end would show is dropped.
class CountingHost : public SilentUpdateHost {
 public:
  void FileFinished(const FileOutcome& file) override {
    if (file.problem != InstallProblem::kNone) {
      std::fprintf(stderr, "problem: %s: %s\n", file.address, DescribeFileProblem(file));
    }
    ++m_attempted;
    m_installed += file.result == 1 ? 1 : 0;
  }
  int Attempted() const { return m_attempted; }
  int Installed() const { return m_installed; }

 private:
  int m_attempted = 0;
  int m_installed = 0;
};

constexpr char kNoInstalledVersion[] = "bench-none";

// Installs the release, keeping every replaced file in APP-DIRECTORY's watch folder first when
// `keepDirectory` is set (then the kept copies are cleaned, as after a good start). False when the
// manifest could not be loaded or the watch folder not begun.
bool Install(const char* manifestAddress, const char* keepDirectory, CountingHost& host) {
  DiskFileSink disk;
  NetworkFetcher fetcher;
  XmlDocument manifest;
  manifest.SetFetcher(fetcher);
  if (!manifest.Load(manifestAddress, true)) {
    std::fprintf(stderr, "manifest not loaded: %s\n",
                 DescribeFetchStatus(manifest.GetLastFetchStatus()));
    return false;
  }
  if (keepDirectory == nullptr) {
    UpdateEngine engine(host, disk, fetcher);
    engine.UpdateFromManifest(manifest, kNoInstalledVersion, RunContext());
    return true;
  }
  FirstStartWatchStore store(keepDirectory);
  if (!store.Begin(kNoInstalledVersion, "bench")) return false;
  FirstStartWatchSink keeping(disk, store);
  UpdateEngine engine(host, keeping, fetcher);
  engine.UpdateFromManifest(manifest, kNoInstalledVersion, RunContext());
  return store.Clean() == ConclusionResult::kDone;
}

}  // namespace

// Usage: mubax-bench-driver [--keep APP-DIRECTORY] MANIFEST-ADDRESS, APP-DIRECTORY ending with its
// separator. Prints "seconds installed attempted"; exit status 0 only when every file offered was
// installed.
int main(int argc, char** argv) {
  const bool keep = argc == 4 && std::strcmp(argv[1], "--keep") == 0;
  if (argc != 2 && !keep) {
    std::fprintf(stderr, "usage: %s [--keep APP-DIRECTORY] MANIFEST-ADDRESS\n", argv[0]);
    return 2;
  }
  CountingHost host;
  const auto started = std::chrono::steady_clock::now();
  if (!Install(argv[argc - 1], keep ? argv[2] : nullptr, host)) return 1;
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
  std::printf("%.3f %d %d\n", elapsed.count(), host.Installed(), host.Attempted());
  return host.Attempted() > 0 && host.Installed() == host.Attempted() ? 0 : 1;
}
