// Tests of the file services on both targets: search, full-path resolution, size and the
// one-step replacement of a file's contents, on real temporary directories.
#include "common/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "common/beside_executable.h"
#include "common/file_ops.h"
#include "common/file_replacement.h"
#include "common/regular_file.h"
#include "support/disk_conditions.h"
#include "support/marked_buffer.h"
#include "support/temp_dir.h"
#include "support/test_programs.h"

namespace fs = std::filesystem;

namespace {

// A writable name buffer of `size` bytes holding `text`.
std::vector<char> NameBuffer(const std::string& text, std::size_t size) {
  std::vector<char> buffer(text.begin(), text.end());
  buffer.resize(size, '\0');
  return buffer;
}

bool Exists(const std::string& name, bool replaceWithFound = false) {
  std::vector<char> buffer = NameBuffer(name, name.size() + 1);
  return FileExists(buffer.data(), buffer.size(), replaceWithFound);
}

std::vector<std::string> Entries(const std::string& directory) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool Replace(const std::string& destination, const std::string& bytes) {
  return ReplaceFileContents(destination.c_str(),
                             reinterpret_cast<const unsigned char*>(bytes.data()),
                             bytes.size()) == ReplaceResult::kReplaced;
}

const char kAwkwardRaw[] = "MZ\r\n\n\0\x1a\xff text\r\r\n";
const std::string kAwkwardBytes(kAwkwardRaw, sizeof kAwkwardRaw - 1);

class FilesTest : public ::testing::Test {
 protected:
  TempDir dir;
};

// Full paths are resolved against the working directory, so these tests work inside one.
class FullPathTest : public FilesTest {
 protected:
  void SetUp() override {
    m_savedDirectory = fs::current_path();
    fs::current_path(dir.Path());
    cwd = fs::current_path().string();
  }
  void TearDown() override { fs::current_path(m_savedDirectory); }

  std::string cwd;
  const std::string sep = kDirectorySeparator;

 private:
  fs::path m_savedDirectory;
};

}  // namespace

TEST_F(FilesTest, FileExistsFindsFilesAndDirectories) {
  ASSERT_TRUE(WriteWholeFile(dir.Join("logUpdate.txt"), ""));
  fs::create_directory(dir.Join("sub"));
  EXPECT_TRUE(Exists(dir.Join("logUpdate.txt")));
  EXPECT_TRUE(Exists(dir.Join("sub")));
  EXPECT_TRUE(Exists(dir.Path()));
  EXPECT_FALSE(Exists(dir.Join("missing.txt")));
  EXPECT_FALSE(Exists(dir.Join("missing") + kDirectorySeparator + "logUpdate.txt"));

  std::string name = dir.Join("logUpdate.txt");
  std::vector<char> buffer = NameBuffer(name, 260);
  EXPECT_TRUE(FileExists(buffer.data(), buffer.size(), false));
  EXPECT_EQ(std::string(buffer.data()), name);
}

TEST_F(FilesTest, FileExistsSearchesPatternsAndReportsWhatItFound) {
  ASSERT_TRUE(WriteWholeFile(dir.Join("only.txt"), "x"));
  ASSERT_TRUE(WriteWholeFile(dir.Join("other.bin"), "x"));

  std::string pattern = dir.Join("*.txt");
  std::vector<char> found = NameBuffer(pattern, 260);
  EXPECT_TRUE(FileExists(found.data(), found.size(), true));
  std::string foundName = found.data();
  EXPECT_TRUE(foundName.size() >= 8 && foundName.compare(foundName.size() - 8, 8, "only.txt") == 0)
      << foundName;

  std::vector<char> noMatch = NameBuffer(dir.Join("*.doc"), 260);
  EXPECT_FALSE(FileExists(noMatch.data(), noMatch.size(), true));
  EXPECT_EQ(std::string(noMatch.data()), dir.Join("*.doc"));

  // The name found is longer than the buffer: the buffer keeps the pattern.
  std::string longName = "l" + std::string(150, 'x') + ".txt";
  ASSERT_TRUE(WriteWholeFile(dir.Join(longName), "x"));
  std::string longPattern = dir.Join("l*.txt");
  std::vector<char> tooSmall = NameBuffer(longPattern, longPattern.size() + 1);
  EXPECT_TRUE(FileExists(tooSmall.data(), tooSmall.size(), true));
  EXPECT_EQ(std::string(tooSmall.data()), longPattern);
}

TEST_F(FullPathTest, ResolvesRelativePathsAgainstWorkingDirectory) {
  const std::string expected = cwd + sep + "pos.exe";
  for (const std::string& relative :
       {std::string("pos.exe"), "bin" + sep + ".." + sep + "pos.exe", "." + sep + "pos.exe"}) {
    SCOPED_TRACE(relative);
    MarkedBuffer buffer(260);
    std::size_t fileNameOffset = 999;
    EXPECT_EQ(GetFullPath(relative.c_str(), buffer.Data(), buffer.Size(), &fileNameOffset),
              expected.size());
    EXPECT_EQ(buffer.Text(), expected);
    EXPECT_EQ(fileNameOffset, cwd.size() + 1);
  }
}

TEST_F(FullPathTest, DirectoryPathHasNoFileNamePart) {
  const std::string directory = dir.Path() + sep;
  MarkedBuffer buffer(260);
  std::size_t fileNameOffset = 999;
  EXPECT_EQ(GetFullPath(directory.c_str(), buffer.Data(), buffer.Size(), &fileNameOffset),
            directory.size());
  EXPECT_EQ(buffer.Text(), directory);
  EXPECT_EQ(fileNameOffset, directory.size());
}

TEST_F(FullPathTest, RefusesEmptyPathAndResultThatDoesNotFit) {
  std::size_t fileNameOffset = 0;
  MarkedBuffer empty(260);
  EXPECT_EQ(GetFullPath("", empty.Data(), empty.Size(), &fileNameOffset), 0u);
  EXPECT_TRUE(empty.Untouched());

  const std::string expected = cwd + sep + "pos.exe";
  MarkedBuffer tooSmall(expected.size());
  EXPECT_EQ(GetFullPath("pos.exe", tooSmall.Data(), tooSmall.Size(), &fileNameOffset), 0u);
  EXPECT_TRUE(tooSmall.Untouched());
  MarkedBuffer exact(expected.size() + 1);
  EXPECT_EQ(GetFullPath("pos.exe", exact.Data(), exact.Size(), &fileNameOffset), expected.size());
  EXPECT_EQ(exact.Text(), expected);
}

TEST_F(FilesTest, FileSizeIsCountedInBytes) {
  ASSERT_TRUE(WriteWholeFile(dir.Join("a.bin"), std::string(1234, '\n')));
  ASSERT_TRUE(WriteWholeFile(dir.Join("empty.bin"), ""));
  EXPECT_EQ(GetFileSizeBytes(dir.Join("a.bin").c_str()), 1234);
  EXPECT_EQ(GetFileSizeBytes(dir.Join("empty.bin").c_str()), 0);
  EXPECT_EQ(GetFileSizeBytes(dir.Join("missing.bin").c_str()), -1);

  // Beyond 32 bits (a sparse file, so it costs no disk space).
  const std::uintmax_t huge = (std::uintmax_t{5} << 30) + 1;
  ASSERT_TRUE(WriteWholeFile(dir.Join("huge.bin"), ""));
  std::error_code error;
  fs::resize_file(dir.Join("huge.bin"), huge, error);
  ASSERT_FALSE(error) << error.message();
  ASSERT_EQ(fs::file_size(dir.Join("huge.bin")), huge);
  EXPECT_EQ(GetFileSizeBytes(dir.Join("huge.bin").c_str()), static_cast<std::int64_t>(huge));
}

TEST_F(FilesTest, ReplaceWritesExactBytesAndLeavesNoTemporaryFile) {
  const std::string destination = dir.Join("pos.exe");
  ASSERT_TRUE(Replace(destination, kAwkwardBytes));
  std::string written;
  ASSERT_TRUE(ReadWholeFile(destination, written));
  EXPECT_EQ(written, kAwkwardBytes);

  // A shorter replacement leaves nothing of the longer file behind.
  ASSERT_TRUE(WriteWholeFile(destination, std::string(10000, 'o')));
  ASSERT_TRUE(Replace(destination, "new"));
  ASSERT_TRUE(ReadWholeFile(destination, written));
  EXPECT_EQ(written, "new");

  ASSERT_TRUE(Replace(destination, ""));
  ASSERT_TRUE(ReadWholeFile(destination, written));
  EXPECT_EQ(written, "");
  EXPECT_EQ(Entries(dir.Path()), std::vector<std::string>{"pos.exe"});
}

TEST_F(FilesTest, FailedReplaceChangesNothing) {
  // The directory does not exist: nothing is created, not even the directory.
  EXPECT_FALSE(Replace(dir.Join("missing") + kDirectorySeparator + "pos.exe", "data"));
  EXPECT_TRUE(Entries(dir.Path()).empty());

  // The destination is a directory: it cannot be replaced by a file and stays as it was.
  fs::create_directory(dir.Join("pos.exe"));
  ASSERT_TRUE(WriteWholeFile(dir.Join("pos.exe") + kDirectorySeparator + "inside.txt", "keep"));
  EXPECT_FALSE(Replace(dir.Join("pos.exe"), "data"));
  EXPECT_TRUE(fs::is_directory(dir.Join("pos.exe")));
  EXPECT_EQ(Entries(dir.Join("pos.exe")), std::vector<std::string>{"inside.txt"});
  EXPECT_EQ(Entries(dir.Path()), std::vector<std::string>{"pos.exe"});
}

TEST_F(FilesTest, ReplaceRemovesOnlyTheStaleTemporaryFilesOfItsDestination) {
  const std::string stale = ".pos.exe" + std::string(kTemporaryNameMarker) + "a1B2c3";
  const std::vector<std::string> kept = {
      ".pos.exe" + std::string(kTemporaryNameMarker) + "a1B2c3d",  // not six characters
      ".pos.exe" + std::string(kTemporaryNameMarker) + "a1B2c",    // nor five
      ".uno.dll" + std::string(kTemporaryNameMarker) + "a1B2c3",   // another destination's
      "pos.exe.a1B2c3",                                            // not the updater's
  };
  ASSERT_TRUE(WriteWholeFile(dir.Join(stale), "left by a killed run"));
  for (const std::string& name : kept) ASSERT_TRUE(WriteWholeFile(dir.Join(name), "x"));
  ASSERT_TRUE(Replace(dir.Join("pos.exe"), "new"));

  std::vector<std::string> expected = kept;
  expected.push_back("pos.exe");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Entries(dir.Path()), expected);
}

TEST_F(FilesTest, ABatchSearchesADirectoryOnceAndStillRemovesEveryStaleFile) {
  const std::string marker = kTemporaryNameMarker;
  const std::vector<std::string> stale = {
      ".a.dll" + marker + "a1B2c3", ".b.dll" + marker + "x9Y8z7", ".b.dll" + marker + "q1W2e3"};
  const std::string other = ".c.dll" + marker + "a1B2c3";  // no file of this run's
  for (const std::string& name : stale) ASSERT_TRUE(WriteWholeFile(dir.Join(name), "killed"));
  ASSERT_TRUE(WriteWholeFile(dir.Join(other), "killed"));
  {
    ReplacementBatch batch;
    for (const char* name : {"a.dll", "b.dll"}) {
      BytesContent content(reinterpret_cast<const unsigned char*>("new"), 3);
      EXPECT_EQ(ReplaceFileContents(dir.Join(name).c_str(), content, false, &batch),
                ReplaceResult::kReplaced);
    }
    batch.Finish();
  }
  EXPECT_EQ(Entries(dir.Path()), (std::vector<std::string>{other, "a.dll", "b.dll"}));
  std::string bytes;
  ASSERT_TRUE(ReadFileBytes(dir.Join("b.dll").c_str(), bytes));
  EXPECT_EQ(bytes, "new");
}

TEST_F(FilesTest, TemporaryNameOfALongFileNameStillFitsAFileName) {
  const std::string longName(240, 'n');
  EXPECT_EQ(TemporaryNamePrefix(longName.c_str()).size() + kTemporaryNameSuffixLength, 255u);
  EXPECT_TRUE(IsTemporaryNameOf((TemporaryNamePrefix(longName.c_str()) + "zzzzzz").c_str(),
                                longName.c_str()));
  if (kDirectorySeparator[0] == '\\' && dir.Path().size() + longName.size() >= 260) {
    GTEST_SKIP() << "the path of a 240-byte name does not fit MAX_PATH on Windows";
  }
  ASSERT_TRUE(Replace(dir.Join(longName), "new"));
  EXPECT_EQ(Entries(dir.Path()), std::vector<std::string>{longName});
}

namespace {

// Faults the step hook injects, at most two per row.
struct InjectedFault {
  ReplaceStep step;
  StepFault fault;
};
std::vector<InjectedFault> g_faults;
std::vector<ReplaceStep> g_stepsSeen;

StepFault InjectFaults(ReplaceStep step) {
  g_stepsSeen.push_back(step);
  for (const InjectedFault& injected : g_faults) {
    if (injected.step == step) return injected.fault;
  }
  return StepFault::kNone;
}

class ReplaceStepTest : public FilesTest {
 protected:
  void SetUp() override {
    g_faults.clear();
    g_stepsSeen.clear();
    SetReplaceStepHook(InjectFaults);
  }
  void TearDown() override { SetReplaceStepHook(nullptr); }
  ReplaceResult ReplaceWith(const std::string& destination, const std::string& bytes) {
    return ReplaceFileContents(destination.c_str(),
                               reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  }
};

}  // namespace

TEST_F(ReplaceStepTest, EachFailingStepLeavesTheOldFileOrWritesInPlace) {
  const StepFault denied = StepFault::kAccessDenied;
  const StepFault broken = StepFault::kOtherError;
  struct Row {
    const char* name;
    std::vector<InjectedFault> faults;
    ReplaceResult expected;
  };
  const Row rows[] = {
      {"directory takes no new file",
       {{ReplaceStep::kCreateTemporary, denied}},
       ReplaceResult::kWrittenInPlace},
      {"temporary file cannot be made",
       {{ReplaceStep::kCreateTemporary, broken}},
       ReplaceResult::kFailed},
      {"old owner cannot be given",
       {{ReplaceStep::kCarryOver, denied}},
       ReplaceResult::kWrittenInPlace},
      {"write fails", {{ReplaceStep::kWrite, broken}}, ReplaceResult::kFailed},
      {"flush fails", {{ReplaceStep::kFlush, broken}}, ReplaceResult::kFailed},
      {"rename fails", {{ReplaceStep::kRename, broken}}, ReplaceResult::kFailed},
      {"write in place fails",
       {{ReplaceStep::kCreateTemporary, denied}, {ReplaceStep::kWriteInPlace, broken}},
       ReplaceResult::kFailed},
  };
  const std::string destination = dir.Join("uno.dll");
  const std::string old = "old bytes, longer than the new ones";
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_TRUE(WriteWholeFile(destination, old));
    g_faults = row.faults;
    EXPECT_EQ(ReplaceWith(destination, "new"), row.expected);
    std::string kept;
    ASSERT_TRUE(ReadWholeFile(destination, kept));
    EXPECT_EQ(kept, row.expected == ReplaceResult::kFailed ? old : "new");
    EXPECT_EQ(Entries(dir.Path()), std::vector<std::string>{"uno.dll"});
  }
}

TEST_F(ReplaceStepTest, BytesAreFlushedBeforeTheRename) {
  const std::vector<ReplaceStep> expected = {ReplaceStep::kCreateTemporary, ReplaceStep::kCarryOver,
                                             ReplaceStep::kWrite, ReplaceStep::kFlush,
                                             ReplaceStep::kRename};
  for (const char* bytes : {"new file", "over the old one"}) {
    g_stepsSeen.clear();
    ASSERT_EQ(ReplaceWith(dir.Join("pos.exe"), bytes), ReplaceResult::kReplaced);
    EXPECT_EQ(g_stepsSeen, expected) << bytes;
  }
}

// --- What stands in a file's place ------------------------------------------------------------

// Anyone on the PC can put one of these where the updater expects its log, its settings or its
// keys: every open refuses it at once, none waits on a FIFO, reads a device without end or makes
// a file where a dangling link points.
TEST_F(FilesTest, HostileObjectsInAFilesPlaceAreRefusedAtOnce) {
  int rows = 0;
  for (const HostileObject kind : kHostileObjects) {
    SCOPED_TRACE(HostileObjectName(kind));
    const std::string path = dir.Join(std::string("object ") + HostileObjectName(kind));
    std::string why;
    if (!MakeHostileObject(kind, path, why)) continue;
    ++rows;
    for (const RegularFileUse use :
         {RegularFileUse::kRead, RegularFileUse::kAppend, RegularFileUse::kTruncate}) {
      UniqueStdioFile file;
      const RegularFileOpen opened = OpenRegularFile(path.c_str(), use, file);
      EXPECT_NE(opened, RegularFileOpen::kOpened) << static_cast<int>(use);
      EXPECT_FALSE(file);
    }
    EXPECT_EQ(GetFileSizeBytes(path.c_str()), -1);
    EXPECT_FALSE(PathExists(path + ".nowhere"));
  }
  EXPECT_GE(rows, 1);  // a directory can be made on every target
}

TEST_F(FilesTest, RegularFilesOpenForEachUse) {
  const std::string path = dir.Join("plain.txt");
  UniqueStdioFile file;
  EXPECT_EQ(OpenRegularFile(path.c_str(), RegularFileUse::kRead, file), RegularFileOpen::kAbsent);
  ASSERT_EQ(OpenRegularFile(path.c_str(), RegularFileUse::kAppend, file), RegularFileOpen::kOpened);
  ASSERT_GE(std::fputs("one", file.Get()), 0);
  file.Reset();
  ASSERT_EQ(OpenRegularFile(path.c_str(), RegularFileUse::kAppend, file), RegularFileOpen::kOpened);
  std::fputs("two", file.Get());
  file.Reset();
  std::string bytes;
  ASSERT_TRUE(ReadWholeFile(path, bytes));
  EXPECT_EQ(bytes, "onetwo");
  ASSERT_EQ(OpenRegularFile(path.c_str(), RegularFileUse::kTruncate, file),
            RegularFileOpen::kOpened);
  std::fputs("3", file.Get());
  file.Reset();
  ASSERT_TRUE(ReadWholeFile(path, bytes));
  EXPECT_EQ(bytes, "3");
  ASSERT_EQ(OpenRegularFile(path.c_str(), RegularFileUse::kRead, file), RegularFileOpen::kOpened);
  EXPECT_EQ(std::fgetc(file.Get()), '3');
}

// The keys file beside the program: only a regular file within the size read is "keys"; only no
// entry at all is "no keys"; anything else means signed releases only.
TEST(BesideExecutable, OnlyNoEntryAtAllIsAbsent) {
  constexpr char kName[] = "mubax-beside-test.txt";
  constexpr std::size_t kMaxBytes = 16;
  const std::string sibling = SiblingProgramPath("x");
  const std::string path = sibling.substr(0, sibling.find_last_of("/\\") + 1) + kName;
  std::error_code ignored;
  fs::remove_all(path, ignored);
  std::string text = "stale";
  EXPECT_EQ(ReadFileBesideExecutable(kName, kMaxBytes, text), BesideExecutable::kAbsent);
  EXPECT_EQ(text, "");
  ASSERT_TRUE(WriteWholeFile(path, std::string(kMaxBytes, 'k')));
  EXPECT_EQ(ReadFileBesideExecutable(kName, kMaxBytes, text), BesideExecutable::kRead);
  EXPECT_EQ(text, std::string(kMaxBytes, 'k'));
  ASSERT_TRUE(WriteWholeFile(path, std::string(kMaxBytes + 1, 'k')));
  EXPECT_EQ(ReadFileBesideExecutable(kName, kMaxBytes, text), BesideExecutable::kUnreadable);
  EXPECT_EQ(text, "");
  fs::remove(path);
  for (const HostileObject kind : kHostileObjects) {
    SCOPED_TRACE(HostileObjectName(kind));
    std::string why;
    if (!MakeHostileObject(kind, path, why)) continue;
    text = "stale";
    EXPECT_EQ(ReadFileBesideExecutable(kName, kMaxBytes, text), BesideExecutable::kUnreadable);
    EXPECT_EQ(text, "");
    fs::remove(path);
  }
}
