// Times the update engine alone on one release, for bench/run.sh: loads the manifest at an address
// and lets the engine install what it offers, with no window, no waits and no launch. Both targets.
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "update/update_engine.h"
#include "xml/xml_document.h"

namespace {

// Counts what the engine reports; everything else a front end would show is dropped.
class CountingHost : public SilentUpdateHost {
 public:
  void ReportInstallProblem(const InstallItem& item, const char* reason) override {
    std::fprintf(stderr, "problem: %s: %s\n", item.address, reason);
  }
  void ReportInstallResult(const InstallItem& /*item*/, int result) override {
    ++m_attempted;
    m_installed += result == 1 ? 1 : 0;
  }
  int Attempted() const { return m_attempted; }
  int Installed() const { return m_installed; }

 private:
  int m_attempted = 0;
  int m_installed = 0;
};

constexpr char kNoInstalledVersion[] = "bench-none";

}  // namespace

// Usage: mubax-bench-driver MANIFEST-ADDRESS. Prints "seconds installed attempted"; exit status 0
// only when every file offered was installed.
int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s MANIFEST-ADDRESS\n", argv[0]);
    return 2;
  }
  CountingHost host;
  DiskFileSink sink;
  NetworkFetcher fetcher;
  UpdateEngine engine(host, sink, fetcher);
  const auto started = std::chrono::steady_clock::now();
  {
    XmlDocument manifest;
    manifest.SetFetcher(fetcher);
    if (!manifest.Load(argv[1], true)) {
      std::fprintf(stderr, "manifest not loaded: %s\n",
                   DescribeFetchStatus(manifest.GetLastFetchStatus()));
      return 1;
    }
    engine.UpdateFromManifest(manifest, kNoInstalledVersion, false);
  }
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
  std::printf("%.3f %d %d\n", elapsed.count(), host.Installed(), host.Attempted());
  return host.Attempted() > 0 && host.Installed() == host.Attempted() ? 0 : 1;
}
