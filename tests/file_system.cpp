#include "windows/files.hpp"

#include "support.hpp"

#include <gtest/gtest.h>
#include <windows.h>
#include <winioctl.h>

using namespace Windows::Files;
using Test_Support::Scratch_Directory;
using Test_Support::Write_File;

TEST(File_Exists, AnswersFalseForEverythingButAnExistingFile) {
  Scratch_Directory Dir;
  Write_File(Dir / "report.txt", "x");
  CreateDirectoryA((Dir / "sub").c_str(), nullptr);
  for (const bool Exact : {false, true}) {
    SCOPED_TRACE(Exact);
    EXPECT_TRUE(File_Exists(Dir / "report.txt", Exact));
    EXPECT_FALSE(File_Exists(Dir / "sub", Exact));
    EXPECT_FALSE(File_Exists(Dir / "missing.txt", Exact));
    EXPECT_FALSE(File_Exists(Dir / "nowhere\\report.txt", Exact));
    EXPECT_FALSE(File_Exists("", Exact));
  }
  EXPECT_FALSE(File_Exists(Dir / "*.txt", false));
  EXPECT_FALSE(File_Exists(Dir / "report.tx?", false));
}

TEST(File_Exists, LetterCaseMattersOnlyInTheExactVariant) {
  Scratch_Directory Dir;
  Write_File(Dir / "report.txt", "x");
  EXPECT_TRUE(File_Exists(Dir / "Report.TXT", false));
  EXPECT_FALSE(File_Exists(Dir / "Report.TXT", true));
  // Only the stored name is compared, so the directory part may differ.
  std::string Upper_Dir = Dir.Path();
  for (char &C : Upper_Dir)
    C = static_cast<char>(toupper(static_cast<unsigned char>(C)));
  EXPECT_TRUE(File_Exists(Upper_Dir + "report.txt", true));
}

TEST(File_Exists, ExactVariantComparesTheTailWithTheFirstMatch) {
  Scratch_Directory Dir;
  Write_File(Dir / "report.txt", "x");
  // A pattern shorter than the stored name, and one whose tail differs.
  EXPECT_FALSE(File_Exists(Dir / "r*", true));
  EXPECT_FALSE(File_Exists(Dir / "*.txt", true));
  // A pattern whose tail happens to equal the match's name.
  EXPECT_TRUE(File_Exists(Dir / "*report.txt", true));
}

TEST(Get_Information, ReportsAttributesTimesAndSize) {
  Scratch_Directory Dir;
  Write_File(Dir / "five", "12345");
  const File_Information File = Get_Information(Dir / "five");
  EXPECT_EQ(File.Size, 5u);
  EXPECT_FALSE(Is_Directory(File.Attributes));
  EXPECT_NE(File.Last_Write_Time.dwLowDateTime | File.Last_Write_Time.dwHighDateTime, 0u);

  EXPECT_TRUE(Is_Directory(Get_Information(Dir.Path()).Attributes));
  EXPECT_TRUE(Is_Directory(Dir.Path()));
  EXPECT_FALSE(Is_Directory(Dir / "five"));
  EXPECT_THROW(Get_Information(Dir / "missing"), File_Not_Found);
  EXPECT_THROW(Is_Directory(Dir / "missing"), File_Not_Found);
}

TEST(Get_Information, SizeAboveFourGibibytesUsesBothWords) {
  Scratch_Directory Dir;
  const std::string Name = Dir / "big";
  const HANDLE File = CreateFileA(Name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(File, INVALID_HANDLE_VALUE);
  DWORD Returned = 0;
  DeviceIoControl(File, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &Returned, nullptr);
  LARGE_INTEGER End;
  End.QuadPart = (5LL << 30) + 7; // 5 GiB and 7 bytes, no data written
  ASSERT_TRUE(SetFilePointerEx(File, End, nullptr, FILE_BEGIN));
  ASSERT_TRUE(SetEndOfFile(File));
  CloseHandle(File);
  EXPECT_EQ(Get_Information(Name).Size, (5ULL << 30) + 7);
}

TEST(Has_Attributes, EveryBitOfTheMask) {
  EXPECT_TRUE(Has_Attributes(0x31, 0x11));
  EXPECT_FALSE(Has_Attributes(0x21, 0x11));
  EXPECT_TRUE(Has_Attributes(0, 0));
  EXPECT_TRUE(Is_Directory(0x10u));
  EXPECT_FALSE(Is_Directory(0x20u));
}

TEST(Rename, ReplacesAnExistingTargetAndFailsForAMissingSource) {
  Scratch_Directory Dir;
  Write_File(Dir / "a", "new");
  Write_File(Dir / "b", "old");
  Rename(Dir / "a", Dir / "b");
  EXPECT_FALSE(File_Exists(Dir / "a", false));
  EXPECT_EQ(Test_Support::Read_File(Dir / "b"), "new");
  EXPECT_THROW(Rename(Dir / "a", Dir / "c"), File_Not_Found);
  EXPECT_THROW(Rename(Dir / "b", Dir / "nowhere\\c"), File_Not_Found);
  EXPECT_EQ(Test_Support::Read_File(Dir / "b"), "new");
}

TEST(Delete, MissingFileIsNoErrorOtherRefusalsAreAccessDenied) {
  Scratch_Directory Dir;
  Write_File(Dir / "gone", "x");
  Delete(Dir / "gone");
  EXPECT_FALSE(File_Exists(Dir / "gone", false));
  EXPECT_NO_THROW(Delete(Dir / "gone"));
  EXPECT_THROW(Delete(Dir / "nowhere\\gone"), Access_Denied);

  Write_File(Dir / "read_only", "x");
  ASSERT_TRUE(SetFileAttributesA((Dir / "read_only").c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_THROW(Delete(Dir / "read_only"), Access_Denied);
  EXPECT_TRUE(File_Exists(Dir / "read_only", false));

  Write_File(Dir / "held", "x");
  const HANDLE Held = CreateFileA((Dir / "held").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(Held, INVALID_HANDLE_VALUE);
  EXPECT_THROW(Delete(Dir / "held"), Access_Denied);
  CloseHandle(Held);
  EXPECT_NO_THROW(Delete(Dir / "held"));
}
