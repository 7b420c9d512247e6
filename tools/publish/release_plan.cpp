// Planning a release: sources measured, names and addresses made, and every text checked against
// the updater's buffers and code page before a single byte is written.
#include "publish/release_plan.h"

#include <cctype>
#include <climits>
#include <filesystem>
#include <set>
#include <system_error>

#include "publish/release_text.h"
#include "update/component_destination.h"
#include "update/manifest_limits.h"
#include "update/manifest_names.h"

namespace fs = std::filesystem;

namespace {

// An element text: at most what the updater reads whole.
constexpr std::size_t kMaxTextBytes = kMaxManifestTextBytes;

using Problems = std::vector<std::string>;

std::string Quote(const std::string& text) { return "\"" + text + "\""; }

void Complain(Problems& problems, const ReleaseFile& file, const std::string& text) {
  problems.push_back(DescribeFile(file) + " (" + file.source + "): " + text);
}

// Splits "SRC=DEST" at the first "=". Without one, the destination is the source's file name
// when `destinationOptional`, else the mapping is refused.
bool SplitMapping(const std::string& mapping, bool destinationOptional, ReleaseFile& file) {
  const std::size_t equals = mapping.find('=');
  if (equals == std::string::npos) {
    file.source = mapping;
    file.destination = fs::u8path(mapping).filename().u8string();
    return destinationOptional && !mapping.empty();
  }
  file.source = mapping.substr(0, equals);
  file.destination = mapping.substr(equals + 1);
  return !file.source.empty();
}

void MeasureSource(ReleaseFile& file, std::int64_t margin, Problems& problems) {
  std::error_code error;
  const fs::path path = fs::u8path(file.source);
  if (!fs::is_regular_file(path, error)) {
    Complain(problems, file, fs::exists(path, error) ? "not a regular file" : "no such file");
    return;
  }
  file.size = fs::file_size(path, error);
  if (error) {
    Complain(problems, file, "cannot read its size: " + error.message());
  } else if (file.size == 0) {
    Complain(problems, file, "is empty; the updater never installs an empty file");
  } else if (file.size >= static_cast<std::uint64_t>(INT_MAX) ||
             static_cast<std::int64_t>(file.size) + 1 + margin > INT_MAX) {
    Complain(problems, file, "is too large: its size limit would pass the updater's 2147483647");
  }
  file.limit = static_cast<std::int64_t>(file.size) + 1 + margin;
}

void CheckText(const ReleaseFile& file, const char* what, const std::string& text,
               Problems& problems) {
  const std::string problem = CheckManifestText(text, kMaxTextBytes);
  if (!problem.empty()) {
    Complain(problems, file, std::string(what) + " " + Quote(text) + " " + problem);
  }
}

void CheckComponentDestination(const ReleaseFile& file, const std::string& appDir,
                               Problems& problems) {
  const std::string& destination = file.destination;
  // The updater refuses what leaves its directory; a colon also names a stream on Windows. A
  // leading separator would install inside the directory too, but a publisher who writes one
  // most likely meant a place elsewhere, so the tool asks for the relative form.
  if (!IsContainedComponentDestination(destination.c_str()) ||
      destination.find(':') != std::string::npos || destination.find_first_of("/\\") == 0) {
    Complain(problems, file,
             "destination " + Quote(destination) +
                 " must stay inside the main application's directory (relative, no \"..\", "
                 "no drive or network name)");
  }
  if (appDir.empty()) return;
  const std::string installed = WithTrailingSeparator(appDir) + destination;
  CheckText(file, "destination in the application directory", installed, problems);
}

void CheckFile(const ReleaseFile& file, const std::string& appDir, Problems& problems) {
  CheckText(file, "address", file.address, problems);
  if (file.role == FileStage::kMainExecutable) return;
  CheckText(file, "destination", file.destination, problems);
  if (file.role == FileStage::kComponent) CheckComponentDestination(file, appDir, problems);
}

std::string FoldCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Windows file names ignore case: two files that differ only in case overwrite each other.
void CheckUniqueDestinations(const Release& release, Problems& problems) {
  std::set<std::string> seen;
  for (const ReleaseFile& file : release.files) {
    if (file.role == FileStage::kMainExecutable || file.destination.empty()) continue;
    if (!seen.insert(FoldCase(file.destination)).second) {
      Complain(problems, file, "destination " + Quote(file.destination) + " is given twice");
    }
  }
}

void CheckManifestName(const Release& release, Problems& problems) {
  const std::string& name = release.manifestName;
  bool plain = !name.empty() && name[0] != '.';
  for (const char c : name) {
    plain = plain &&
            (std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_') &&
            static_cast<unsigned char>(c) < 0x80;
  }
  if (!plain) {
    problems.push_back("manifest name " + Quote(name) +
                       " must be a plain file name of letters, digits, \".\", \"-\" and \"_\"");
  }
  for (const ReleaseFile& file : release.files) {
    if (FoldCase(file.documentName) == FoldCase(name)) {
      problems.push_back("manifest name " + Quote(name) + " is the name of a file document");
    }
  }
}

// A directory in the way of a document would stop the release halfway through being put in place.
void CheckNamesAreFree(const Release& release, Problems& problems) {
  std::error_code error;
  const fs::path directory = fs::u8path(release.outDir);
  std::vector<std::string> names{release.manifestName};
  for (const ReleaseFile& file : release.files) names.push_back(file.documentName);
  for (const std::string& name : names) {
    if (!name.empty() && fs::is_directory(directory / fs::u8path(name), error)) {
      problems.push_back("cannot replace " + (directory / fs::u8path(name)).u8string() +
                         ": it is a directory");
    }
  }
}

void CheckOutDir(const std::string& outDir, Problems& problems) {
  std::error_code error;
  const fs::path path = fs::u8path(outDir);
  if (outDir.empty()) {
    problems.push_back("no output directory given");
  } else if (fs::exists(path, error)) {
    if (!fs::is_directory(path, error)) {
      problems.push_back("output directory " + Quote(outDir) + " is not a directory");
    }
  } else {
    const fs::path parent = path.parent_path().empty() ? fs::path(".") : path.parent_path();
    if (!fs::is_directory(parent, error)) {
      problems.push_back("output directory " + Quote(outDir) +
                         " does not exist, nor does its parent");
    }
  }
}

// Document names start with the file's role and number, so they never collide.
std::string DocumentPrefix(const ReleaseFile& file) {
  switch (file.role) {
    case FileStage::kComponent:
      return "comp" + std::to_string(file.number) + "-";
    case FileStage::kMainExecutable:
      return "main-";
    case FileStage::kAdditionalFile:
      return "extra" + std::to_string(file.number) + "-";
    case FileStage::kActiveXFile:
      return "activex-";
    case FileStage::kLibraryFile:
      return "library-";
  }
  return "file-";
}

// Gives each file its document name and address, measures it and checks its texts.
void CompleteFiles(Release& release, const ReleaseOptions& options, Problems& problems) {
  if (static_cast<int>(release.files.size()) > kMaxReleaseFiles) {
    problems.push_back("a release holds at most " + std::to_string(kMaxReleaseFiles) + " files");
    return;
  }
  if (options.margin < 0 || options.margin > INT_MAX) {
    problems.push_back("the margin must be from 0 to " + std::to_string(INT_MAX) + " bytes");
    return;
  }
  for (ReleaseFile& file : release.files) {
    file.documentName =
        MakeDocumentName(DocumentPrefix(file), fs::u8path(file.source).filename().u8string());
    std::string error;
    if (!JoinAddress(options.baseUrl, file.documentName, file.address, error)) {
      problems.push_back(error);
      return;
    }
    MeasureSource(file, options.margin, problems);
    CheckFile(file, options.appDir, problems);
  }
}

Problems CheckRelease(Release& release, const ReleaseOptions& options) {
  release.version = options.version;
  release.outDir = options.outDir;
  release.gzip = options.gzip;
  release.manifestName = options.manifestName;
  Problems problems;
  const std::string versionProblem = CheckManifestText(options.version, kMaxTextBytes);
  if (!versionProblem.empty()) {
    problems.push_back("version " + Quote(options.version) + " " + versionProblem);
  }
  if (!options.appDir.empty()) {
    const std::string dirProblem = CheckManifestText(options.appDir, kMaxTextBytes);
    if (!dirProblem.empty()) problems.push_back("application directory " + dirProblem);
  }
  CheckOutDir(options.outDir, problems);
  CompleteFiles(release, options, problems);
  CheckUniqueDestinations(release, problems);
  CheckManifestName(release, problems);
  if (!options.outDir.empty()) CheckNamesAreFree(release, problems);
  return problems;
}

// Adds the file a mapping names, or records why the mapping is unusable.
void AddMapping(Release& release, FileStage role, int number, const std::string& mapping,
                Problems& problems) {
  ReleaseFile file;
  file.role = role;
  file.number = number;
  if (!SplitMapping(mapping, role == FileStage::kComponent, file)) {
    problems.push_back(DescribeFile(file) + ": " + Quote(mapping) +
                       " is not SRC=DEST (a source file, \"=\", its destination)");
    return;
  }
  release.files.push_back(file);
}

Problems Merge(Problems first, const Problems& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

}  // namespace

std::string DescribeFile(const ReleaseFile& file) {
  const std::string name = FileStageName(file.role);
  return IsNumberedStage(file.role) ? name + " " + std::to_string(file.number) : name;
}

std::vector<std::string> PlanAppRelease(const AppReleaseOptions& options, Release& release) {
  release = Release();
  Problems problems;
  int number = 0;
  for (const std::string& mapping : options.components) {
    AddMapping(release, FileStage::kComponent, ++number, mapping, problems);
  }
  ReleaseFile main;
  main.role = FileStage::kMainExecutable;
  main.source = options.mainFile;
  release.files.push_back(main);
  return Merge(problems, CheckRelease(release, options.common));
}

std::vector<std::string> PlanLibraryRelease(const LibraryReleaseOptions& options,
                                            Release& release) {
  release = Release();
  release.library = true;
  Problems problems;
  int number = 0;
  for (const std::string& mapping : options.extras) {
    AddMapping(release, FileStage::kAdditionalFile, ++number, mapping, problems);
  }
  if (!options.activex.empty()) {
    AddMapping(release, FileStage::kActiveXFile, 0, options.activex, problems);
  }
  AddMapping(release, FileStage::kLibraryFile, 0, options.library, problems);
  return Merge(problems, CheckRelease(release, options.common));
}
