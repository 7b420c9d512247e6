// Fuzz target: the whole update engine on a fuzzed manifest, its file documents served from
// memory, installing nowhere. The input's first byte picks the run's flags; the rest is the
// manifest and up to kMaxDocuments file documents, separated by kSeparator, served at
// http://fuzz.invalid/1.xml, /2.xml, ... The settings store is a private temporary one.
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "support/memory_fetcher.h"
#include "update/update_engine.h"
#include "xml/xml_document.h"

namespace {

constexpr char kSeparator[] = "\n--8<--\n";
constexpr char kManifestAddress[] = "http://fuzz.invalid/manifest.xml";
constexpr char kDocumentAddressFormat[] = "http://fuzz.invalid/%d.xml";
constexpr int kMaxDocuments = 6;
constexpr std::size_t kAddressBufferSize = 64;
constexpr unsigned kFlagLogging = 1u;
constexpr unsigned kFlagInstalledVersion = 2u;
// The installed version a run compares against when the flag asks for one.
constexpr char kInstalledVersion[] = "1.0";

// One typed report, as the engine gave it.
struct Report {
  bool problem;
  FileStage stage;
  int number;
  std::string address;
  int result;
};

// Keeps nothing of the log or progress; keeps the typed reports the checks below need.
class CheckingHost : public SilentUpdateHost {
 public:
  void WriteLog(const char* component, const char* operation, const char* text) override {
    FUZZ_CHECK(component != nullptr && operation != nullptr && text != nullptr);
  }
  // The engine's caller launches and ends the run, never UpdateFromManifest.
  void LaunchMainApplication() override { FUZZ_CHECK(false); }
  void EndRun() override { FUZZ_CHECK(false); }
  void FileFinished(const FileOutcome& file) override {
    if (file.problem != InstallProblem::kNone) {
      const char* reason = DescribeFileProblem(file);
      FUZZ_CHECK(reason != nullptr && reason[0] != '\0');
      reports.push_back(Report{true, file.stage, file.number, file.address, 0});
    }
    reports.push_back(Report{false, file.stage, file.number, file.address, file.result});
  }

  std::vector<Report> reports;
};

// Writes nothing; counts what it accepted and checks what it is given.
class CountingSink : public FileSink {
 public:
  explicit CountingSink(std::size_t largestDocument) : m_largestDocument(largestDocument) {}
  FileWrite Write(ContentProducer& content, const char* destination) override {
    FileWrite write;
    std::string bytes;
    if (!GatherContent(content, bytes)) return write;
    // An empty fichero is refused, and every byte takes at least two characters of a document.
    FUZZ_CHECK(!bytes.empty());
    FUZZ_CHECK(bytes.size() <= m_largestDocument / 2);
    if (destination != nullptr && destination[0] == '\0') return write;
    ++accepted;
    write.outcome = ReplaceResult::kReplaced;
    write.bytes = bytes.size();
    return write;
  }
  int accepted = 0;

 private:
  std::size_t m_largestDocument;
};

std::string g_configHome;

void WriteSettingsStore() {
  // The engine reads the main application's path from the store to place components.
  const std::string directory = g_configHome + "/mubax";
  FUZZ_CHECK(mkdir(directory.c_str(), 0700) == 0);
  std::FILE* store = std::fopen((directory + "/registry.ini").c_str(), "w");
  FUZZ_CHECK(store != nullptr);
  std::fprintf(store, "[Software\\MUBAX_Pirvel]\npath=%s/app/pos\n", g_configHome.c_str());
  FUZZ_CHECK(std::fclose(store) == 0);
}

// Removes the private store when libFuzzer exits normally (a crash leaves it for inspection).
void RemoveSettingsStore() {
  std::remove((g_configHome + "/mubax/registry.ini").c_str());
  rmdir((g_configHome + "/mubax").c_str());
  rmdir(g_configHome.c_str());
}

// Every problem is followed by the result of the same file, and results are 0 or 1.
int CheckReports(const std::vector<Report>& reports) {
  int installed = 0;
  for (std::size_t i = 0; i < reports.size(); ++i) {
    const Report& report = reports[i];
    if (report.problem) {
      FUZZ_CHECK(i + 1 < reports.size());
      const Report& next = reports[i + 1];
      FUZZ_CHECK(!next.problem && next.stage == report.stage && next.number == report.number &&
                 next.address == report.address);
      FUZZ_CHECK(next.result == 0);
    } else {
      FUZZ_CHECK(report.result == 0 || report.result == 1);
      installed += report.result;
    }
  }
  return installed;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  // Never the real settings store: a private one for this process.
  char pattern[] = "/tmp/mubax-fuzz-engine-XXXXXX";
  FUZZ_CHECK(mkdtemp(pattern) != nullptr);
  g_configHome = pattern;
  FUZZ_CHECK(setenv("XDG_CONFIG_HOME", pattern, 1) == 0);
  WriteSettingsStore();
  std::atexit(RemoveSettingsStore);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const unsigned flags = data[0];
  const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);

  MemoryFetcher fetcher;
  std::vector<std::string> addresses;
  std::size_t largestDocument = 0;
  std::size_t start = 0;
  for (int part = 0; start <= input.size() && part <= kMaxDocuments; ++part) {
    std::size_t end = input.find(kSeparator, start);
    if (end == std::string::npos || part == kMaxDocuments) end = input.size();
    const std::string body = input.substr(start, end - start);
    char address[kAddressBufferSize];
    if (part == 0) {
      std::snprintf(address, sizeof(address), "%s", kManifestAddress);
    } else {
      std::snprintf(address, sizeof(address), kDocumentAddressFormat, part);
    }
    // A manifest may name itself as a file document: it counts among the documents too.
    if (body.size() > largestDocument) largestDocument = body.size();
    fetcher.Add(address, body);
    start = end + sizeof(kSeparator) - 1;
  }

  CheckingHost host;
  CountingSink sink(largestDocument);
  UpdateEngine engine(host, sink, fetcher);
  XmlDocument manifest;
  manifest.SetFetcher(fetcher);
  // A manifest that does not load ends the run before any mode, as in the real run.
  if (!manifest.Load(kManifestAddress, true)) return 0;

  const char* installed = (flags & kFlagInstalledVersion) != 0 ? kInstalledVersion : "";
  const UpdateMode mode =
      engine.UpdateFromManifest(manifest, installed, RunContext{(flags & kFlagLogging) != 0});

  const int installedCount = CheckReports(host.reports);
  FUZZ_CHECK(installedCount == sink.accepted);
  // The manifest is fetched once above; every later fetch is a file the engine reported on.
  FUZZ_CHECK(!fetcher.fetched.empty() && fetcher.fetched[0] == kManifestAddress);
  std::size_t results = 0;
  for (const Report& report : host.reports) results += report.problem ? 0 : 1;
  FUZZ_CHECK(fetcher.fetched.size() - 1 <= results);
  for (std::size_t i = 1; i < fetcher.fetched.size(); ++i) {
    bool reported = false;
    for (const Report& report : host.reports) {
      if (!report.problem && report.address == fetcher.fetched[i]) reported = true;
    }
    FUZZ_CHECK(reported);
  }
  if (mode == UpdateMode::kNone) {
    FUZZ_CHECK(host.reports.empty() && fetcher.fetched.size() == 1);
  }
  return 0;
}
