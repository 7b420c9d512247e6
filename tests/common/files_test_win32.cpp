// Windows tests of the one-step replacement: the old file's attributes and access control list
// must survive the move, as they did when the file was written in place.
#include <windows.h>

#include <aclapi.h>
#include <gtest/gtest.h>
#include <sddl.h>

#include <string>

#include "common/files.h"
#include "support/temp_dir.h"

namespace {

ReplaceResult ReplaceWith(const std::string& destination, const std::string& bytes) {
  return ReplaceFileContents(destination.c_str(),
                             reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

// The file's access control list as text, or "" when it cannot be read.
std::string DaclText(const std::string& path) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  PACL dacl = nullptr;
  if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return "";
  }
  char* text = nullptr;
  std::string result;
  if (ConvertSecurityDescriptorToStringSecurityDescriptorA(
          descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
    result = text;
    LocalFree(text);
  }
  LocalFree(descriptor);
  return result;
}

bool SetDacl(const std::string& path, const char* sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor,
                                                            nullptr)) {
    return false;
  }
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
  const DWORD status =
      SetNamedSecurityInfoA(const_cast<char*>(path.c_str()), SE_FILE_OBJECT,
                            DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                            nullptr, nullptr, dacl, nullptr);
  LocalFree(descriptor);
  return status == ERROR_SUCCESS;
}

}  // namespace

TEST(ReplaceWin32, AttributesOfTheOldFileAreCarriedOver) {
  TempDir dir;
  const std::string destination = dir.Join("uno.dll");
  ASSERT_TRUE(WriteWholeFile(destination, "old"));
  const DWORD carried = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  ASSERT_TRUE(SetFileAttributesA(destination.c_str(), carried));
  ASSERT_EQ(ReplaceWith(destination, "new"), ReplaceResult::kReplaced);
  EXPECT_EQ(GetFileAttributesA(destination.c_str()) & carried, carried);
  std::string kept;
  ASSERT_TRUE(ReadWholeFile(destination, kept));
  EXPECT_EQ(kept, "new");
}

TEST(ReplaceWin32, AccessControlListOfTheOldFileIsCarriedOver) {
  TempDir dir;
  const std::string destination = dir.Join("uno.dll");
  ASSERT_TRUE(WriteWholeFile(destination, "old"));
  // Everyone may read, the administrators and the system may do anything; nothing inherited.
  const char kList[] = "D:P(A;;FA;;;BA)(A;;FA;;;SY)(A;;FA;;;WD)";
  if (!SetDacl(destination, kList) || DaclText(destination).empty()) {
    GTEST_SKIP() << "this file system keeps no access control list for the test to set";
  }
  const std::string before = DaclText(destination);
  ASSERT_EQ(ReplaceWith(destination, "new"), ReplaceResult::kReplaced);
  EXPECT_EQ(DaclText(destination), before);
}

TEST(ReplaceWin32, SymbolicLinksStayAndTheFileTheyLeadToIsReplaced) {
  TempDir dir;
  ASSERT_TRUE(WriteWholeFile(dir.Join("real.dll"), "old"));
  const std::string link = dir.Join("uno.dll");
  // Wine 8 answers success without making the link.
  if (!CreateSymbolicLinkA(link.c_str(), dir.Join("real.dll").c_str(), 0) ||
      GetFileAttributesA(link.c_str()) == INVALID_FILE_ATTRIBUTES) {
    GTEST_SKIP() << "symbolic links cannot be made here";
  }
  ASSERT_EQ(ReplaceWith(link, "new"), ReplaceResult::kReplaced);
  EXPECT_NE(GetFileAttributesA(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
  std::string kept;
  ASSERT_TRUE(ReadWholeFile(dir.Join("real.dll"), kept));
  EXPECT_EQ(kept, "new");
}
