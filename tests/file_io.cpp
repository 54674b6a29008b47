#include "windows/files_io.hpp"

#include "support.hpp"

#include <cstdint>

#include <gtest/gtest.h>
#include <windows.h>
// windows.h first.
#include <winioctl.h>

using namespace Windows::Files::IO;
using Test_Support::Read_File;
using Test_Support::Scratch_Directory;
using Test_Support::Write_File;

namespace {

std::wstring Wide(const std::string &Name) {
  return std::wstring(Name.begin(), Name.end());
}

std::string Bytes(std::initializer_list<unsigned char> Values) {
  return std::string(Values.begin(), Values.end());
}

} // namespace

TEST(File_IO, LinesEndInCrLfOrInALineFeedUnit) {
  Scratch_Directory Dir;
  Handle File = Create(Dir / "narrow", false, true);
  Put_Line("abc", File);
  Close(File);
  EXPECT_EQ(Read_File(Dir / "narrow"), "abc\r\n");

  File = Create(Wide(Dir / "wide"), false, false);
  Put_Line(std::wstring_view(L"abc"), File);
  Put_Line(std::wstring_view(), File);
  Close(File);
  EXPECT_EQ(Read_File(Dir / "wide"), Bytes({0x61, 0, 0x62, 0, 0x63, 0, 0x0A, 0, 0x0A, 0}));
}

TEST(File_IO, AWholeLineReachesTheFileWholeOrNotAtAll) {
  Scratch_Directory Dir;
  const std::string Name = Dir / "whole";
  Handle File = Create(Name, false, true);
  Put_Whole_Line({std::string(400, 'a'), "b"}, File);
  Put_Whole_Line({std::string(100, 'c')}, File);
  EXPECT_EQ(Read_File(Name), std::string(400, 'a') + "b\r\n") << "the buffer first, not a part";
  Put_Whole_Line({std::string(600, 'd')}, File);
  EXPECT_EQ(Read_File(Name).size(), 403u + 102 + 602) << "longer than the buffer: at once";
  Close(File);
}

TEST(File_IO, TheBufferIsWrittenWhenItIsExactlyFull) {
  Scratch_Directory Dir;
  const std::string Name = Dir / "full";
  Handle File = Create(Name, false, true);
  Put(std::string(499, 'a'), File);
  EXPECT_EQ(Read_File(Name), "") << "499 bytes stay buffered";
  Put("b", File);
  EXPECT_EQ(Read_File(Name), std::string(499, 'a') + "b");
  Put(std::string(1001, 'c'), File);
  EXPECT_EQ(Read_File(Name).size(), 1500u) << "two more full buffers, one byte kept";
  EXPECT_EQ(Position(File), 1502);
  Flush(File);
  EXPECT_EQ(Read_File(Name).size(), 1501u);
  Put("", File);
  Close(File);
  EXPECT_EQ(Read_File(Name), std::string(499, 'a') + "b" + std::string(1001, 'c'));
}

TEST(File_IO, CreateReplacesUnlessNewOnlyAndSharesReadingOnRequest) {
  Scratch_Directory Dir;
  const std::string Name = Dir / "f";
  Write_File(Name, "old content");
  Handle File = Create(Name, false, true);
  EXPECT_EQ(Read_File(Name), "");
  Close(File);
  EXPECT_THROW(Create(Name, true, false), Creation_Failure);
  EXPECT_THROW(Create(Dir / "no_dir\\f", false, false), Creation_Failure);
  File = Create(Dir / "exclusive", true, false);
  EXPECT_THROW(Read_File(Dir / "exclusive"), std::exception);
  Close(File);
  EXPECT_THROW(Open(Dir / "missing", false), File_Not_Found);
  EXPECT_THROW(Open(Wide(Dir / "missing"), true), File_Not_Found);
}

TEST(File_IO, AppendingStartsAtTheEnd) {
  Scratch_Directory Dir;
  const std::string Name = Dir / "log";
  Write_File(Name, "first\r\n");
  Handle File = Open(Name, true);
  EXPECT_EQ(Position(File), 8);
  Put_Line("second", File);
  EXPECT_THROW(Set_Position(File, 1), Wrong_Mode);
  EXPECT_THROW(Reset(File), Wrong_Mode);
  Close(File);
  EXPECT_EQ(Read_File(Name), "first\r\nsecond\r\n");
}

TEST(File_IO, EveryLineEndRuleOnInput) {
  Scratch_Directory Dir;
  const std::string Name = Dir / "in";
  Write_File(Name, "a\r\nb\nc\rd\x0B"
                   "e\x0C"
                   "f\r\r\ng");
  Handle File = Open(Name, false);
  std::vector<std::string> Lines;
  while (!End_Of_File(File))
    Lines.push_back(Get_Line(File));
  EXPECT_EQ(Lines, (std::vector<std::string>{"a", "b", "c", "d", "e", "f", "", "g"}));
  EXPECT_EQ(Get_Line(File), "") << "at the end: an empty line, no failure";
  Close(File);
}

TEST(File_IO, CrAtByte500AndLfAt501AreOneLineEnd) {
  Scratch_Directory Dir;
  const std::string Name = Dir / "boundary";
  Write_File(Name, std::string(499, 'x') + "\r\n" + "next\r\n" + std::string(600, 'y'));
  Handle File = Open(Name, false);
  EXPECT_EQ(Get_Line(File), std::string(499, 'x'));
  EXPECT_EQ(Get_Line(File), "next");
  EXPECT_EQ(Get_Line(File), std::string(600, 'y')) << "a line longer than the buffer";
  EXPECT_TRUE(End_Of_File(File));
}

TEST(File_IO, WideLinesAcrossLoadsAndOddByteCounts) {
  Scratch_Directory Dir;
  // Units counted from offset 1: the line crossing the first load has its
  // unit split between byte 500 and the next load.
  std::string Content = "Z";
  Content += Bytes({'a', 0, 0x0A, 0});
  for (int I = 0; I < 300; ++I)
    Content += Bytes({'w', 0});
  Content += Bytes({0x28, 0x20, 'e', 0, 0x85, 0});
  Write_File(Dir / "odd", Content);
  Handle File = Open(Dir / "odd", false);
  Set_Position(File, 2);
  EXPECT_EQ(Get_Wide_Line(File), L"a");
  EXPECT_EQ(Get_Wide_Line(File), std::wstring(300, L'w')) << "ended by U+2028";
  EXPECT_EQ(Get_Wide_Line(File), L"e") << "ended by U+0085";
  EXPECT_TRUE(End_Of_File(File));

  Write_File(Dir / "odd_length", Bytes({'a', 0, 'b'}));
  File = Open(Dir / "odd_length", false);
  EXPECT_THROW(Get_Wide_Line(File), End_Error);

  // An odd count from the position, the lone byte at the end of the first
  // load or in the next one.
  for (const int Size : {500, 502}) {
    SCOPED_TRACE(Size);
    const std::string Name = Dir / ("odd_" + std::to_string(Size));
    Write_File(Name, std::string(static_cast<std::size_t>(Size), 'q'));
    File = Open(Name, false);
    Set_Position(File, 2);
    EXPECT_THROW(Get_Wide_Line(File), End_Error);
  }

  // An even count: the line simply continues in the next load.
  std::string Even;
  for (int I = 0; I < 400; ++I)
    Even += Bytes({'v', 0});
  Write_File(Dir / "even", Even + Bytes({0x0A, 0, 'z', 0}));
  File = Open(Dir / "even", false);
  EXPECT_EQ(Get_Wide_Line(File), std::wstring(400, L'v'));
  EXPECT_EQ(Get_Wide_Line(File), L"z");

  // CR LF in wide text is a line end and then an empty line.
  Write_File(Dir / "crlf", Bytes({'x', 0, 0x0D, 0, 0x0A, 0, 'y', 0}));
  File = Open(Wide(Dir / "crlf"), false);
  EXPECT_EQ(Get_Wide_Line(File), L"x");
  EXPECT_EQ(Get_Wide_Line(File), L"");
  EXPECT_EQ(Get_Wide_Line(File), L"y");
}

TEST(File_IO, PositioningWithinAndOutsideTheLoad) {
  Scratch_Directory Dir;
  std::string Content;
  for (int I = 0; I < 1200; ++I)
    Content += static_cast<char>('A' + I % 26);
  Write_File(Dir / "pos", Content);
  Handle File = Open(Dir / "pos", false);
  EXPECT_EQ(Position(File), 1);
  Set_Position(File, 27);
  EXPECT_EQ(Get_Line(File).substr(0, 3), "ABC");
  EXPECT_EQ(Position(File), 1201);
  Set_Position(File, 499);
  EXPECT_EQ(Get_Line(File).substr(0, 2), Content.substr(498, 2));
  Set_Position(File, 3);
  EXPECT_EQ(Get_Line(File).substr(0, 2), "CD");
  Reset(File);
  EXPECT_EQ(Position(File), 1);
  Set_Position(File, 5000);
  EXPECT_TRUE(End_Of_File(File)) << "beyond the end is allowed and empty";
  EXPECT_THROW(Set_Position(File, 0), Constraint_Error);
}

TEST(File_IO, CopiesShareOneFileClosedOnce) {
  Scratch_Directory Dir;
  const std::string Name = Dir / "shared";
  Handle First = Create(Name, false, true);
  {
    Handle Copy = First; // NOLINT(performance-unnecessary-copy-initialization): copies are the test
    EXPECT_EQ(First.References(), 2);
    EXPECT_TRUE(Copy == First);
    Put_Line("through the copy", Copy);
  }
  EXPECT_EQ(First.References(), 1);
  EXPECT_TRUE(First.Is_Open());
  Handle Second = First; // NOLINT(performance-unnecessary-copy-initialization): as above
  Close(First);
  EXPECT_FALSE(Second.Is_Open());
  EXPECT_THROW(Close(Second), Bad_Handle);
  EXPECT_THROW(Put("x", Second), Bad_Handle);
  EXPECT_EQ(Read_File(Name), "through the copy\r\n");
}

TEST(File_IO, TheLastHandleGoneClosesAndWritesTheFile) {
  Scratch_Directory Dir;
  const std::string Name = Dir / "dropped";
  {
    Handle File = Create(Name, false, true);
    Put_Line("kept", File);
  }
  EXPECT_EQ(Read_File(Name), "kept\r\n");
  // The file is closed: even an exclusive creation can replace it at once.
  EXPECT_NO_THROW(Close(Create(Name, false, false)));
}

TEST(File_IO, UnopenedHandlesAreRefused) {
  Handle Never;
  EXPECT_THROW(Get_Line(Never), Bad_Handle);
  EXPECT_THROW(Get_Wide_Line(Never), Bad_Handle);
  EXPECT_THROW(Put("", Never), Bad_Handle);
  EXPECT_NO_THROW(Put(std::wstring_view(), Never));
  EXPECT_THROW(Put(std::wstring_view(L"x"), Never), Bad_Handle);
  EXPECT_THROW(Put_Line("", Never), Bad_Handle);
  EXPECT_THROW(Set_Position(Never, 1), Bad_Handle);
  EXPECT_THROW(Position(Never), Bad_Handle);
  EXPECT_THROW(Flush(Never), Bad_Handle);
  EXPECT_THROW(Close(Never), Bad_Handle);
}

TEST(File_IO, WritingAnInputFileFailsWithEndError) {
  Scratch_Directory Dir;
  Write_File(Dir / "ro", "content");
  Handle File = Open(Dir / "ro", false);
  EXPECT_THROW(Put(std::string(600, 'z'), File), End_Error);
  EXPECT_NO_THROW(Close(File)) << "input mode never writes the buffer back";
  EXPECT_EQ(Read_File(Dir / "ro"), "content");
}

TEST(File_IO, AnItemPastTheOffsetLimitIsRefusedBeforeAnyByteIsCopied) {
  Scratch_Directory Dir;
  Handle File = Create(Dir / "f", false, true);
  Put("ab", File);
  // Views far longer than their storage: any copy would run past it.
  const char Storage[] = "xyz";
  for (const std::size_t Size :
       {std::size_t{1} << 31, (std::size_t{1} << 32) + 3, std::size_t{INT32_MAX} - 1})
    EXPECT_THROW(Put(std::string_view(Storage, Size), File), Constraint_Error) << Size;
  EXPECT_EQ(Position(File), 3);
  Put("c", File);
  Close(File);
  EXPECT_EQ(Read_File(Dir / "f"), "abc");
}

TEST(File_IO, ReadingOnPastTheOffsetLimitIsRefused) {
  Scratch_Directory Dir;
  const std::string Name = Dir / "sparse";
  // Just over 2 GiB with a line shortly before the limit; only that is
  // written, so the file takes no room.
  const HANDLE Writer = CreateFileA(Name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(Writer, INVALID_HANDLE_VALUE);
  DWORD Returned = 0;
  DeviceIoControl(Writer, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &Returned, nullptr);
  LARGE_INTEGER At{};
  At.QuadPart = INT32_MAX - 11;
  SetFilePointerEx(Writer, At, nullptr, FILE_BEGIN);
  DWORD Written = 0;
  WriteFile(Writer, "A\r\n", 3, &Written, nullptr);
  At.QuadPart = (std::int64_t{1} << 31) + 1000;
  SetFilePointerEx(Writer, At, nullptr, FILE_BEGIN);
  ASSERT_TRUE(SetEndOfFile(Writer));
  CloseHandle(Writer);

  Handle File = Open(Name, false);
  Set_Position(File, INT32_MAX - 10);
  EXPECT_EQ(Get_Line(File), "A");
  EXPECT_EQ(Position(File), INT32_MAX - 7);
  // The next load would start past the limit.
  EXPECT_THROW(Get_Line(File), Constraint_Error);
  EXPECT_EQ(Position(File), INT32_MAX - 7) << "nothing taken";
  Set_Position(File, 5);
  EXPECT_EQ(Position(File), 5);
  Close(File);
}
