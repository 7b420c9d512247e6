// The app and library commands: plan and check the whole release, then write it in one piece.
#include "publish/commands.h"
#include "publish/manifest_text.h"
#include "publish/release_text.h"
#include "publish/release_writer.h"

namespace {

void PrintSummary(const Release& release, const ReleaseOptions& options) {
  PrintLine("Published version " + release.version + " (" +
            (release.library ? "library" : "application") + " manifest) in " + release.outDir);
  for (const ReleaseFile& file : release.files) {
    std::string line = "  " + file.documentName + ": " + DescribeFile(file) + ", " +
                       std::to_string(file.size) + " bytes, limit " + std::to_string(file.limit);
    if (file.role != FileRole::kMainExecutable) line += ", to " + file.destination;
    PrintLine(line);
  }
  std::string manifestAddress;
  std::string ignored;
  JoinAddress(options.baseUrl, release.manifestName, manifestAddress, ignored);
  PrintLine("  " + release.manifestName + ": the manifest, to be fetched from " + manifestAddress);
}

int Publish(const std::vector<std::string>& problems, const Release& release,
            const ReleaseOptions& options) {
  if (!problems.empty()) {
    for (const std::string& problem : problems) PrintError(problem);
    PrintError("nothing was written");
    return 1;
  }
  bool partlyInPlace = false;
  const std::string error = WriteRelease(release, BuildManifestText(release), partlyInPlace);
  if (!error.empty()) {
    PrintError(error);
    PrintError(partlyInPlace ? "some file documents were replaced, the manifest was not"
                             : "nothing was written");
    return 1;
  }
  PrintSummary(release, options);
  return 0;
}

}  // namespace

int RunAppCommand(const AppReleaseOptions& options) {
  Release release;
  const std::vector<std::string> problems = PlanAppRelease(options, release);
  return Publish(problems, release, options.common);
}

int RunLibraryCommand(const LibraryReleaseOptions& options) {
  Release release;
  const std::vector<std::string> problems = PlanLibraryRelease(options, release);
  return Publish(problems, release, options.common);
}
