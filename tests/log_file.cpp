#include "log/log_file.hpp"
#include "windows/registry.hpp"

#include "log_support.hpp"

#include <algorithm>
#include <thread>

#include <gtest/gtest.h>

using Log::Log_File;
using Test_Support::Is_Record;
using Test_Support::Lines_Of;
using Test_Support::Log_Settings;
using Test_Support::Scratch_Directory;
using Strings = std::vector<std::string>;

namespace {

std::string Unique_Product() {
  static int Counter = 0;
  return "Tez_Log_Test_" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(Counter++);
}

class Log_File_Test : public ::testing::Test {
protected:
  Scratch_Directory Dir;
  Log_Settings Settings{Unique_Product()};
  const std::string Name = Dir / "client.log";
  Log_File Log;

  bool Open(bool Flush_Each = true) {
    bool Was_Closed = false;
    Log.Open_Log(Settings.Product, Flush_Each, Was_Closed);
    return Was_Closed;
  }
};

} // namespace

TEST(Second_File_Name, GoesBeforeTheLastDotOfTheFilesOwnName) {
  EXPECT_EQ(Log::Second_File_Name("C:\\Logs\\client.log"), "C:\\Logs\\client_2.log");
  EXPECT_EQ(Log::Second_File_Name("C:\\Logs\\client"), "C:\\Logs\\client_2");
  EXPECT_EQ(Log::Second_File_Name("C:\\my.dir\\client"), "C:\\my.dir\\client_2");
  EXPECT_EQ(Log::Second_File_Name("C:/my.dir/client"), "C:/my.dir/client_2");
  EXPECT_EQ(Log::Second_File_Name("client.old.log"), "client.old_2.log");
  EXPECT_EQ(Log::Second_File_Name(""), "_2");
}

TEST(Record_Line, SecondsSinceMidnightAndTheThread) {
  SYSTEMTIME Time{};
  Time.wHour = 12;
  Time.wMinute = 34;
  Time.wSecond = 56;
  Time.wMilliseconds = 123;
  EXPECT_EQ(Log::Record_Line(Time, 0x0A3C, "M"), " 45296.1230 (0A3C) => M");
  EXPECT_EQ(Log::Record_Line(Time, 0xFFFF, ""), " 45296.1230 (FFFF) => ");
  EXPECT_EQ(Log::Record_Line(Time, 0x10000, "x"), " 45296.1230 (00010000) => x");
  EXPECT_EQ(Log::Record_Line(SYSTEMTIME{}, 0, "midnight"), " 0.0000 (0000) => midnight");
  Time.wHour = 23;
  Time.wMinute = 59;
  Time.wSecond = 59;
  Time.wMilliseconds = 7;
  EXPECT_EQ(Log::Record_Line(Time, 1, "m"), " 86399.0070 (0001) => m");
}

TEST_F(Log_File_Test, NoKeyAnywhereLeavesTheLogOff) {
  EXPECT_TRUE(Open());
  EXPECT_FALSE(Log.Is_Open());
  Log.Write_Record("lost");
  EXPECT_EQ(Log.Record_Count(), 0u);
  // A later call tries again, and finds the settings that have come since.
  Settings.Set_String(HKEY_CURRENT_USER, "Log", Name);
  EXPECT_TRUE(Open());
  EXPECT_TRUE(Log.Is_Open());
  Log.Write_Record("kept");
  const Strings Lines = Lines_Of(Name);
  ASSERT_EQ(Lines.size(), 1u) << "nothing of the time the log was off";
  EXPECT_TRUE(Is_Record(Lines[0], "kept"));
}

TEST_F(Log_File_Test, TheMachinesSettingsServeWhenTheUsersKeyLacksLog) {
  if (!Test_Support::Machine_Settings_Writable())
    GTEST_SKIP() << Test_Support::Needs_Administrator("writes settings under HKEY_LOCAL_MACHINE");
  Settings.Set_Number(HKEY_CURRENT_USER, "Log Limit", 7);
  Settings.Set_String(HKEY_CURRENT_USER, "Log", Dir / "expand.log", REG_EXPAND_SZ);
  Settings.Set_String(HKEY_LOCAL_MACHINE, "Log", Name);
  Settings.Set_Number(HKEY_LOCAL_MACHINE, "Log Limit", 5);
  EXPECT_TRUE(Open());
  EXPECT_TRUE(Log.Is_Open());
  EXPECT_EQ(Log.Limit(), 5u) << "read from the key that gave Log";
  Log.Write_Record("machine");
  EXPECT_EQ(Lines_Of(Name).size(), 1u);
  EXPECT_TRUE(Is_Record(Lines_Of(Name)[0], "machine"));
  EXPECT_EQ(GetFileAttributesA((Dir / "expand.log").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(Log_File_Test, MissingOrMistypedLimitIsTheDefault) {
  Settings.Set_String(HKEY_CURRENT_USER, "Log", Name);
  Open();
  EXPECT_EQ(Log.Limit(), Log::Default_Limit);
  Log_File Other;
  Settings.Set_String(HKEY_CURRENT_USER, "Log", Dir / "second.log");
  Settings.Set_String(HKEY_CURRENT_USER, "Log Limit", "5");
  bool Was_Closed;
  Other.Open_Log(Settings.Product, false, Was_Closed);
  EXPECT_EQ(Other.Limit(), Log::Default_Limit);
}

TEST_F(Log_File_Test, AnEarlierRollOverFileIsDeletedOnlyWithALimit) {
  Test_Support::Write_File(Dir / "client_2.log", "old");
  Settings.Set_String(HKEY_CURRENT_USER, "Log", Name);
  Settings.Set_Number(HKEY_CURRENT_USER, "Log Limit", 0);
  Open();
  EXPECT_TRUE(Log.Is_Open());
  EXPECT_EQ(Test_Support::Read_File(Dir / "client_2.log"), "old");
  for (int I = 0; I < 50; ++I)
    Log.Write_Record("unlimited");
  EXPECT_EQ(Lines_Of(Name).size(), 50u);
  Log.Close();

  Log_File Limited;
  Settings.Set_Number(HKEY_CURRENT_USER, "Log Limit", 100);
  bool Was_Closed;
  Limited.Open_Log(Settings.Product, false, Was_Closed);
  EXPECT_EQ(GetFileAttributesA((Dir / "client_2.log").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(Lines_Of(Name).empty()) << "an existing log is emptied";
}

TEST_F(Log_File_Test, LimitOfFiveRollsOverWithTheNoticeLines) {
  Settings.Set_String(HKEY_CURRENT_USER, "Log", Name);
  Settings.Set_Number(HKEY_CURRENT_USER, "Log Limit", 5);
  Open();
  for (int I = 1; I <= 6; ++I)
    Log.Write_Record("record " + std::to_string(I));
  const Strings First = Lines_Of(Dir / "client_2.log");
  ASSERT_EQ(First.size(), 5u);
  for (int I = 0; I < 5; ++I)
    EXPECT_TRUE(Is_Record(First[I], "record " + std::to_string(I + 1)));
  const Strings Current = Lines_Of(Name);
  ASSERT_EQ(Current.size(), 3u);
  EXPECT_EQ(Current[0], "The log file reached it's maximum size of 5 records");
  EXPECT_EQ(Current[1], "These records are now stored in the file " + Dir / "client_2.log");
  EXPECT_TRUE(Is_Record(Current[2], "record 6"));
  EXPECT_EQ(Log.Record_Count(), 3u);
}

TEST_F(Log_File_Test, LimitOfThreeOrLessRollsOverAtEveryRecord) {
  Settings.Set_String(HKEY_CURRENT_USER, "Log", Name);
  Settings.Set_Number(HKEY_CURRENT_USER, "Log Limit", 3);
  Open();
  for (int I = 1; I <= 6; ++I)
    Log.Write_Record("r" + std::to_string(I));
  const Strings Current = Lines_Of(Name), Second = Lines_Of(Dir / "client_2.log");
  ASSERT_EQ(Current.size(), 3u);
  EXPECT_TRUE(Is_Record(Current[2], "r6"));
  ASSERT_EQ(Second.size(), 3u);
  EXPECT_TRUE(Is_Record(Second[2], "r5")) << "the second file is replaced each time";
}

TEST_F(Log_File_Test, ALogInAMissingDirectoryStaysOffAndDeletesNothing) {
  Settings.Set_String(HKEY_CURRENT_USER, "Log", Dir / "missing\\client.log");
  Settings.Set_Number(HKEY_CURRENT_USER, "Log Limit", 5);
  EXPECT_TRUE(Open());
  EXPECT_FALSE(Log.Is_Open());

  // An empty "Log": its roll-over name would be "_2" in the working directory.
  char Own[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, Own);
  SetCurrentDirectoryA(Dir.Path().c_str());
  Test_Support::Write_File(Dir / "_2", "a stranger's file");
  Settings.Set_String(HKEY_CURRENT_USER, "Log", "");
  Log_File Empty;
  bool Was_Closed;
  Empty.Open_Log(Settings.Product, false, Was_Closed);
  SetCurrentDirectoryA(Own);
  EXPECT_FALSE(Empty.Is_Open());
  EXPECT_EQ(Test_Support::Read_File(Dir / "_2"), "a stranger's file");
}

TEST_F(Log_File_Test, ASecondOpenReadsNothingAndFlushesWhenAsked) {
  Settings.Set_String(HKEY_CURRENT_USER, "Log", Name);
  EXPECT_TRUE(Open(false));
  Log.Write_Record("buffered");
  EXPECT_TRUE(Lines_Of(Name).empty());
  Settings.Set_String(HKEY_CURRENT_USER, "Log", Dir / "other.log");
  EXPECT_FALSE(Open(true));
  EXPECT_EQ(Lines_Of(Name).size(), 1u) << "flushed at once";
  Log.Write_Record("flushed");
  EXPECT_EQ(Lines_Of(Name).size(), 2u) << "and every record from now on";
  EXPECT_EQ(GetFileAttributesA((Dir / "other.log").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(Log_File_Test, TheRegistrysSelectedKeyIsTheSameAfterwards) {
  if (!Test_Support::Machine_Settings_Writable())
    GTEST_SKIP() << Test_Support::Needs_Administrator("writes settings under HKEY_LOCAL_MACHINE");
  namespace Registry = Windows::Registry;
  Settings.Set_String(HKEY_CURRENT_USER, "Log", Name);
  Settings.Set_String(HKEY_LOCAL_MACHINE, "Marker", "machine key");
  Registry::Select_Root(Registry::Root_Key::Local_Machine);
  Registry::Open_Key(Settings.Key);
  Open();
  EXPECT_EQ(Registry::Current_Root(), Registry::Root_Key::Local_Machine);
  EXPECT_EQ(Registry::Get_String("Marker"), "machine key");
  Registry::Select_Root(Registry::Root_Key::Current_User);
}

TEST_F(Log_File_Test, RecordsFromManyThreadsNeverInterleaveAndNoneIsLost) {
  Settings.Set_String(HKEY_CURRENT_USER, "Log", Name);
  Settings.Set_Number(HKEY_CURRENT_USER, "Log Limit", 0);
  Open(false);
  constexpr int Threads = 8, Records = 2000;
  std::vector<std::thread> Writers;
  Writers.reserve(Threads);
  for (int T = 0; T < Threads; ++T)
    Writers.emplace_back([&, T] {
      for (int I = 0; I < Records; ++I)
        Log.Write_Record("thread " + std::to_string(T) + " record " + std::to_string(I) + " " +
                         std::string(static_cast<std::size_t>(I % 60), '.'));
    });
  for (std::thread &Writer : Writers)
    Writer.join();
  Log.Close();
  const Strings Lines = Lines_Of(Name);
  ASSERT_EQ(Lines.size(), static_cast<std::size_t>(Threads * Records));
  std::vector<int> Next(Threads, 0);
  for (const std::string &Line : Lines) {
    const std::size_t At = Line.find("=> thread ");
    ASSERT_NE(At, std::string::npos) << Line;
    const int T = std::stoi(Line.substr(At + 10));
    const int I = std::stoi(Line.substr(Line.find(" record ", At) + 8));
    ASSERT_EQ(I, Next[T]++) << "in order per thread";
    ASSERT_TRUE(Is_Record(Line, Line.substr(At + 3))) << Line;
  }
}

TEST(Local_Clock, AgreesWithTheSystemsLocalTime) {
  // The system's local clock may advance in steps of its timer tick: allow
  // one step on either side.
  DWORD Adjustment = 0, Increment = 0;
  BOOL Disabled = TRUE;
  GetSystemTimeAdjustment(&Adjustment, &Increment, &Disabled);
  const unsigned long Step = std::max<unsigned long>(1, (Increment + 9'999) / 10'000);
  const auto Of_Day = [](const SYSTEMTIME &T) {
    return ((T.wHour * 60ul + T.wMinute) * 60ul + T.wSecond) * 1000ul + T.wMilliseconds;
  };
  Log::Local_Clock Clock;
  for (int Round = 0; Round < 3; ++Round) {
    SYSTEMTIME Before;
    GetLocalTime(&Before);
    const unsigned long Ours = Clock.Milliseconds();
    SYSTEMTIME After;
    GetLocalTime(&After);
    if (Of_Day(After) < Of_Day(Before)) continue; // midnight passed
    EXPECT_GE(Ours + Step, Of_Day(Before));
    EXPECT_LE(Ours, Of_Day(After) + Step);
    Sleep(600); // the second look reuses the bias, the third reads it again
  }
}
