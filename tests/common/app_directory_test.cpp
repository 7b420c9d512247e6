// Tests of GetAppDirectory: the main application's directory derived from the registered "path"
// value, on the registry under Wine and on the POSIX store.
#include "common/app_directory.h"

#include <gtest/gtest.h>

#include <string>

#include "common/files.h"
#include "support/marked_buffer.h"
#include "support/temp_dir.h"
#include "support/test_settings.h"

namespace {

const char kAppKey[] = "Software\\MUBAX_Pirvel";

class AppDirectoryTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetTestSettings(); }
  void TearDown() override { ResetTestSettings(); }

  TempDir dir;
};

}  // namespace

TEST_F(AppDirectoryTest, DirectoryOfRegisteredPathEndsWithSeparator) {
  SetTestSetting(kAppKey, "path", dir.Join("pos.exe"));
  MarkedBuffer buffer(260);
  EXPECT_EQ(GetAppDirectory(buffer.Data(), buffer.Size()), 1);
  EXPECT_EQ(buffer.Text(), dir.Path() + kDirectorySeparator);
}

TEST_F(AppDirectoryTest, RegisteredPathIsResolvedBeforeCutting) {
  const std::string sep = kDirectorySeparator;
  SetTestSetting(kAppKey, "path", dir.Path() + sep + "bin" + sep + ".." + sep + "pos.exe");
  MarkedBuffer resolved(260);
  EXPECT_EQ(GetAppDirectory(resolved.Data(), resolved.Size()), 1);
  EXPECT_EQ(resolved.Text(), dir.Path() + sep);

  // A registered directory has no file-name part: the whole of it is the directory.
  SetTestSetting(kAppKey, "path", dir.Path() + sep);
  MarkedBuffer whole(260);
  EXPECT_EQ(GetAppDirectory(whole.Data(), whole.Size()), 1);
  EXPECT_EQ(whole.Text(), dir.Path() + sep);
}

TEST_F(AppDirectoryTest, AbsentOrEmptyPathLeavesBufferAsItWas) {
  MarkedBuffer noKey(260);
  EXPECT_EQ(GetAppDirectory(noKey.Data(), noKey.Size()), 1);
  EXPECT_TRUE(noKey.Untouched());

  SetTestSetting(kAppKey, "version", "1.2");
  MarkedBuffer noValue(260);
  EXPECT_EQ(GetAppDirectory(noValue.Data(), noValue.Size()), 1);
  EXPECT_TRUE(noValue.Untouched());

  SetTestSetting(kAppKey, "path", "");
  MarkedBuffer emptyValue(260);
  EXPECT_EQ(GetAppDirectory(emptyValue.Data(), emptyValue.Size()), 1);
  EXPECT_TRUE(emptyValue.Untouched());
}

TEST_F(AppDirectoryTest, DirectoryThatDoesNotFitIsRefused) {
  SetTestSetting(kAppKey, "path", dir.Join("pos.exe"));
  MarkedBuffer small(8);
  EXPECT_EQ(GetAppDirectory(small.Data(), small.Size()), 0);
  EXPECT_TRUE(small.Untouched());
}
