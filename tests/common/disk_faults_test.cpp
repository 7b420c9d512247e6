// Replacing a file under real disk faults and kills, on both targets as far as each can set them
// up: every row must leave the destination byte for byte old (or new, where the row says), and
// no temporary file behind.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "common/file_replacement.h"
#include "common/files.h"
#include "support/disk_conditions.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

const bool kOnWindows = kDirectorySeparator[0] == '\\';
const std::string kOld = "old bytes of the installed file";
const std::string kNew = "new bytes of the released file, a little longer";

// Names in `directory` that are temporary files of a replacement.
std::vector<std::string> TemporaryFiles(const std::string& directory) {
  std::vector<std::string> found;
  for (const auto& entry : fs::directory_iterator(directory)) {
    const std::string name = entry.path().filename().string();
    if (name.find(kTemporaryNameMarker) != std::string::npos) found.push_back(name);
  }
  return found;
}

std::string Contents(const std::string& path) {
  std::string bytes;
  return ReadWholeFile(path, bytes) ? bytes : "<missing>";
}

enum class Target { kBoth, kPosix, kWindows };

bool RunsHere(Target target) {
  return target == Target::kBoth || (target == Target::kWindows) == kOnWindows;
}

struct Scene {
  explicit Scene(TempDir& dir)
      : temp(dir),
        directory(dir.Join("app")),
        destination(directory + kDirectorySeparator + "uno.dll") {}
  ~Scene() {
    if (mounted) UnmountSmallVolume(directory);
    std::error_code ignored;
    fs::permissions(directory, fs::perms::all, ignored);
  }
  Scene(const Scene&) = delete;
  Scene& operator=(const Scene&) = delete;

  TempDir& temp;
  std::string directory;    // where the destination lives
  std::string destination;  // the file to replace
  std::string newBytes = kNew;
  ReplaceConditions conditions;
  bool mounted = false;
};

void ExistingFile(Scene& scene) {
  fs::create_directory(scene.directory);
  ASSERT_TRUE(WriteWholeFile(scene.destination, kOld));
}

// A directory and file the unprivileged user owns, with the given modes.
void OwnedByUser(Scene& scene, fs::perms directoryMode, fs::perms fileMode, bool withFile) {
  fs::create_directory(scene.directory);
  if (withFile) {
    ASSERT_TRUE(WriteWholeFile(scene.destination, kOld));
    GiveToUnprivilegedUser(scene.destination);
    fs::permissions(scene.destination, fileMode);
  }
  GiveToUnprivilegedUser(scene.directory);
  fs::permissions(scene.directory, directoryMode);
  fs::permissions(scene.temp.Path(), fs::perms::all);  // the user must reach the directory
  scene.conditions.unprivileged = true;
}

void DiskFull(Scene& scene) {
  constexpr std::uint64_t kVolumeBytes = 64 * 1024;
  fs::create_directory(scene.directory);
  std::string why;
  scene.mounted = MountSmallVolume(scene.directory, kVolumeBytes, why);
  // Without a small volume, a file-size limit fails the write the same way.
  if (!scene.mounted) scene.conditions.fileSizeLimit = kVolumeBytes;
  ASSERT_TRUE(WriteWholeFile(scene.destination, kOld));
  scene.newBytes = std::string(4 * kVolumeBytes, 'n');
}

struct Row {
  const char* name;
  Target target;
  void (*arrange)(Scene&);
  ReplaceResult expected;
  const char* expectedBytes;  // null: the old bytes; "" : no file
};

const Row kRows[] = {
    {"directory missing", Target::kBoth, [](Scene&) {}, ReplaceResult::kFailed, ""},
    {"directory read-only, destination writable", Target::kPosix,
     [](Scene& s) { OwnedByUser(s, fs::perms(0555), fs::perms(0644), true); },
     ReplaceResult::kWrittenInPlace, kNew.c_str()},
    {"directory read-only, no destination", Target::kPosix,
     [](Scene& s) { OwnedByUser(s, fs::perms(0555), fs::perms(0644), false); },
     ReplaceResult::kFailed, ""},
    {"destination without write permission", Target::kPosix,
     [](Scene& s) { OwnedByUser(s, fs::perms(0777), fs::perms(0444), true); },
     ReplaceResult::kNotWritable, nullptr},
    {"destination with the read-only attribute", Target::kWindows,
     [](Scene& s) {
       ExistingFile(s);
       fs::permissions(s.destination, fs::perms(0444));
     },
     ReplaceResult::kNotWritable, nullptr},
    {"destination is a directory", Target::kBoth,
     [](Scene& s) { fs::create_directories(s.destination); }, ReplaceResult::kFailed, nullptr},
    {"disk full", Target::kBoth, DiskFull, ReplaceResult::kFailed, nullptr},
    {"destination held open without sharing", Target::kWindows,
     [](Scene& s) {
       ExistingFile(s);
       s.conditions.heldOpenWithoutSharing = true;
     },
     ReplaceResult::kNotWritable, nullptr},
};

}  // namespace

// Runs one row; false, saying why, when its conditions cannot be set up here.
bool RunRow(const Row& row, std::string& why) {
  TempDir temp;
  Scene scene(temp);
  row.arrange(scene);
  std::vector<ReplaceResult> results;
  if (!ReplaceUnder(scene.conditions, {{scene.destination, scene.newBytes}}, results, why)) {
    return false;
  }
  EXPECT_EQ(results, std::vector<ReplaceResult>{row.expected});
  if (scene.conditions.fileSizeLimit > 0) std::printf("row \"%s\": file-size limit\n", row.name);
  if (!fs::is_directory(scene.destination)) {
    const std::string expected = row.expectedBytes == nullptr ? kOld : row.expectedBytes;
    EXPECT_EQ(Contents(scene.destination), expected.empty() ? "<missing>" : expected);
  }
  if (fs::is_directory(scene.directory)) {
    EXPECT_TRUE(TemporaryFiles(scene.directory).empty());
  }
  return true;
}

TEST(DiskFaults, EachFaultLeavesTheOldFileAndNoTemporaryFile) {
  int ran = 0;
  for (const Row& row : kRows) {
    if (!RunsHere(row.target)) continue;
    SCOPED_TRACE(row.name);
    std::string why;
    if (RunRow(row, why)) {
      ++ran;
    } else {
      std::printf("[  SKIPPED ] row \"%s\": %s\n", row.name, why.c_str());
    }
  }
  if (ran == 0) GTEST_SKIP() << "no row could be set up here";
}

TEST(DiskFaults, KillAtEachStepLeavesOldOrNewAndTheNextRunFinishes) {
  const ReplaceStep steps[] = {ReplaceStep::kCreateTemporary, ReplaceStep::kCarryOver,
                               ReplaceStep::kWrite, ReplaceStep::kFlush, ReplaceStep::kRename};
  int leftBehind = 0;
  for (int replacement = 0; replacement < 2; ++replacement) {
    for (const ReplaceStep step : steps) {
      SCOPED_TRACE("replacement " + std::to_string(replacement) + ", step " +
                   std::to_string(static_cast<int>(step)));
      TempDir temp;
      const std::vector<ReplaceJob> jobs = {{temp.Join("uno.dll"), kNew + " uno"},
                                            {temp.Join("pos.exe"), kNew + " pos"}};
      for (const ReplaceJob& job : jobs) ASSERT_TRUE(WriteWholeFile(job.first, kOld));
      ReplaceConditions conditions;
      conditions.stop = true;
      conditions.stopInReplacement = replacement;
      conditions.stopAtStep = step;
      std::vector<ReplaceResult> results;
      std::string why;
      if (!ReplaceUnder(conditions, jobs, results, why)) GTEST_SKIP() << why;
      ASSERT_TRUE(results.empty()) << "the installer was not stopped";
      for (const ReplaceJob& job : jobs) {
        const std::string now = Contents(job.first);
        EXPECT_TRUE(now == kOld || now == job.second) << job.first << ": " << now;
      }
      leftBehind += static_cast<int>(TemporaryFiles(temp.Path()).size());

      // The next run installs everything and clears what the killed one left.
      for (const ReplaceJob& job : jobs) {
        EXPECT_EQ(ReplaceFileContents(job.first.c_str(),
                                      reinterpret_cast<const unsigned char*>(job.second.data()),
                                      job.second.size()),
                  ReplaceResult::kReplaced);
        EXPECT_EQ(Contents(job.first), job.second);
      }
      EXPECT_TRUE(TemporaryFiles(temp.Path()).empty());
    }
  }
  EXPECT_GT(leftBehind, 0) << "no kill ever left a temporary file: the kills came too late";
}
