// POSIX tests of the one-step replacement: what the old in-place write kept (links, owner, group,
// mode) must survive the rename; and of reading only regular files.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/file_ops.h"
#include "common/file_replacement.h"
#include "common/files.h"
#include "support/temp_dir.h"

namespace {

ReplaceResult ReplaceWith(const std::string& destination, const std::string& bytes,
                          bool executable = false) {
  return ReplaceFileContents(destination.c_str(),
                             reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                             executable);
}

std::string Contents(const std::string& path) {
  std::string bytes;
  ReadWholeFile(path, bytes);
  return bytes;
}

}  // namespace

TEST(ReplacePosix, SymbolicLinksStayAndTheFileTheyLeadToIsReplaced) {
  TempDir dir;
  std::filesystem::create_directory(dir.Join("lib"));
  ASSERT_TRUE(WriteWholeFile(dir.Join("lib/uno.so.1"), "old"));
  // A relative link to a relative link: both stay links, the file at the end is replaced.
  ASSERT_EQ(::symlink("lib/uno.so.1", dir.Join("uno.so.link").c_str()), 0);
  ASSERT_EQ(::symlink("uno.so.link", dir.Join("uno.so").c_str()), 0);
  ASSERT_EQ(ReplaceWith(dir.Join("uno.so"), "new"), ReplaceResult::kReplaced);
  EXPECT_TRUE(std::filesystem::is_symlink(dir.Join("uno.so")));
  EXPECT_TRUE(std::filesystem::is_symlink(dir.Join("uno.so.link")));
  EXPECT_EQ(Contents(dir.Join("lib/uno.so.1")), "new");
  EXPECT_FALSE(PathExists(dir.Join(TemporaryNamePrefix("uno.so.1"))));

  // A link to a file not there yet creates that file, as an open for writing would.
  ASSERT_EQ(::symlink("lib/dos.so.1", dir.Join("dos.so").c_str()), 0);
  ASSERT_EQ(ReplaceWith(dir.Join("dos.so"), "first"), ReplaceResult::kReplaced);
  EXPECT_TRUE(std::filesystem::is_symlink(dir.Join("dos.so")));
  EXPECT_EQ(Contents(dir.Join("lib/dos.so.1")), "first");

  // A loop of links is no file at all.
  ASSERT_EQ(::symlink("loop.b", dir.Join("loop.a").c_str()), 0);
  ASSERT_EQ(::symlink("loop.a", dir.Join("loop.b").c_str()), 0);
  EXPECT_EQ(ReplaceWith(dir.Join("loop.a"), "x"), ReplaceResult::kFailed);
}

TEST(ReplacePosix, OwnerGroupAndModeOfTheOldFileAreCarriedOver) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root can make a file another user's to test this";
  TempDir dir;
  struct Row {
    uid_t owner;
    gid_t group;
    mode_t mode;
    bool executable;
    mode_t expectedMode;
  };
  const Row rows[] = {
      {12345, 23456, 0640, false, 0640},
      {0, 23456, 0600, false, 0600},
      {12345, 0, 0755, false, 0755},
      {12345, 23456, 04750, false, 04750},  // set-user-ID survives the change of owner
      {12345, 23456, 0640, true, 0750},     // the main executable stays runnable
  };
  const std::string destination = dir.Join("pos");
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.owner) + ":" + std::to_string(row.group) + " " +
                 std::to_string(row.mode));
    ASSERT_TRUE(WriteWholeFile(destination, "old"));
    ASSERT_EQ(::chown(destination.c_str(), row.owner, row.group), 0);
    ASSERT_EQ(::chmod(destination.c_str(), row.mode), 0);
    ASSERT_EQ(ReplaceWith(destination, "new", row.executable), ReplaceResult::kReplaced);
    struct stat info;
    ASSERT_EQ(::stat(destination.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, row.owner);
    EXPECT_EQ(info.st_gid, row.group);
    EXPECT_EQ(info.st_mode & 07777, row.expectedMode);
    EXPECT_EQ(Contents(destination), "new");
  }
}

// --- Durability, observed at the system calls
// ----------------------------------------------------- common_tests links with
// -Wl,--wrap=fsync,--wrap=rename (tests/CMakeLists.txt): every flush and rename the replacement
// makes is recorded here, with what was flushed, before it runs for real.

namespace {

std::vector<std::string>* g_durabilityCalls = nullptr;

}  // namespace

extern "C" {
int __real_fsync(int fd);
int __real_rename(const char* from, const char* to);

int __wrap_fsync(int fd) {
  if (g_durabilityCalls != nullptr) {
    struct stat info {};
    const bool directory = ::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode);
    g_durabilityCalls->push_back(directory ? "flush directory" : "flush file");
  }
  return __real_fsync(fd);
}

int __wrap_rename(const char* from, const char* to) {
  if (g_durabilityCalls != nullptr) g_durabilityCalls->push_back("rename");
  return __real_rename(from, to);
}
}

TEST(ReplacePosix, FileBytesAreFlushedBeforeTheRenameAndTheDirectoryAfterIt) {
  TempDir dir;
  std::vector<std::string> calls;
  g_durabilityCalls = &calls;
  const ReplaceResult alone = ReplaceWith(dir.Join("uno.dll"), "new");
  {
    // A batch flushes each directory once, after all of its renames.
    ReplacementBatch batch;
    const std::string bytes = "batch";
    for (const char* name : {"a.dll", "b.dll"}) {
      BytesContent content(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
      EXPECT_EQ(ReplaceFileContents(dir.Join(name).c_str(), content, false, &batch),
                ReplaceResult::kReplaced);
    }
    batch.Finish();
  }
  g_durabilityCalls = nullptr;
  EXPECT_EQ(alone, ReplaceResult::kReplaced);
  EXPECT_EQ(calls,
            (std::vector<std::string>{"flush file", "rename", "flush directory", "flush file",
                                      "rename", "flush file", "rename", "flush directory"}));
  EXPECT_EQ(Contents(dir.Join("uno.dll")), "new");
}

// A FIFO without a writer, a device and a directory are told apart at once, never waited on or
// read; a missing file and a dangling link are absent.
TEST(RegularFileReaderPosix, OpensOnlyRegularFilesAndNeverWaits) {
  TempDir dir;
  ASSERT_EQ(::mkfifo(dir.Join("fifo").c_str(), 0600), 0);
  std::filesystem::create_directory(dir.Join("folder"));
  ASSERT_EQ(::symlink("nowhere", dir.Join("dangling").c_str()), 0);
  ASSERT_TRUE(WriteWholeFile(dir.Join("file"), "bytes"));
  const struct {
    std::string path;
    OpenResult expected;
  } cases[] = {
      {dir.Join("fifo"), OpenResult::kNotRegular}, {"/dev/zero", OpenResult::kNotRegular},
      {"/dev/null", OpenResult::kNotRegular},      {dir.Join("folder"), OpenResult::kNotRegular},
      {dir.Join("missing"), OpenResult::kAbsent},  {dir.Join("dangling"), OpenResult::kAbsent},
      {dir.Join("file"), OpenResult::kOpened},
  };
  for (const auto& c : cases) {
    RegularFileReader reader;
    EXPECT_EQ(reader.Open(c.path.c_str()), c.expected) << c.path;
    unsigned char buffer[8] = {};
    EXPECT_EQ(reader.Read(buffer, sizeof buffer), c.expected == OpenResult::kOpened ? 5 : -1)
        << c.path;
    std::string bytes;
    EXPECT_EQ(ReadFileBytes(c.path.c_str(), bytes), c.expected == OpenResult::kOpened) << c.path;
  }
}
