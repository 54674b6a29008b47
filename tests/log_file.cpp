#include "log/log_file.hpp"
#include "windows/characters.hpp"
#include "windows/files.hpp"
#include "windows/registry.hpp"

#include "log_support.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
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

// A symbolic link Link to Target, a name in the link's folder; false where
// this user may not make one (Windows outside developer mode).
bool Make_Link(const std::string &Link, const std::string &Target) {
  CreateSymbolicLinkA(Link.c_str(), Target.c_str(), SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
  const auto Made = [&] { return GetFileAttributesA(Link.c_str()) != INVALID_FILE_ATTRIBUTES; };
  // Wine's call succeeds without making one: a Unix link, by the system's ln,
  // whose process Wine gives no handle to wait for.
  using Unix_Name = char *(CDECL *)(const wchar_t *);
  const auto To_Unix = reinterpret_cast<Unix_Name>(
      GetProcAddress(GetModuleHandleA("kernel32"), "wine_get_unix_file_name"));
  if (Made() || To_Unix == nullptr) return Made();
  char *const Unix_Link = To_Unix(Windows::Characters::Widened(Link).c_str());
  const std::vector<std::string> Arguments{"-s", Target, Unix_Link};
  HeapFree(GetProcessHeap(), 0, Unix_Link);
  try {
    Test_Support::Start_Process("Z:\\bin\\ln", Arguments, {}, {}, nullptr, nullptr, nullptr);
  } catch (const std::exception &) {
    return false;
  }
  const auto Deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(Test_Support::Hang_Limit_Ms);
  while (!Made() && std::chrono::steady_clock::now() < Deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return Made();
}

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

TEST_F(Log_File_Test, ARunThatFindsTheLogHeldLogsToAFileOfItsOwnAndKeepsAFew) {
  Settings.Set_String(HKEY_CURRENT_USER, "Log", Name);
  Settings.Set_Number(HKEY_CURRENT_USER, "Log Limit", 5);
  Open();
  Test_Support::Write_File(Dir / "client_2.log", "the first run's rolled-over records");
  // Files of runs 1 to 9, the oldest first; run 1 still writes its file.
  const Windows::Files::IO::Handle Live = Windows::Files::IO::Create_Own(Dir / "client_pid1.log");
  for (int Run = 1; Run <= 9; ++Run)
    for (const std::string &File :
         Test_Support::Log_And_Second(Dir / ("client_pid" + std::to_string(Run) + ".log"))) {
      if (File != Dir / "client_pid1.log") Test_Support::Write_File(File, "old");
      const HANDLE Aged =
          CreateFileA(File.c_str(), FILE_WRITE_ATTRIBUTES, 7, nullptr, OPEN_EXISTING, 0, nullptr);
      const FILETIME Time{static_cast<DWORD>(Run), 0x01D00000};
      SetFileTime(Aged, nullptr, nullptr, &Time);
      CloseHandle(Aged);
    }

  Log_File Second;
  bool Was_Closed;
  Second.Open_Log(Settings.Product, true, Was_Closed);
  Second.Write_Record("second");
  Log.Write_Record("first again");
  const std::string Own = Log::Own_File_Name(Name, GetCurrentProcessId());
  EXPECT_EQ(Own, Dir / ("client_pid" + std::to_string(GetCurrentProcessId()) + ".log"));
  ASSERT_EQ(Lines_Of(Own).size(), 1u);
  EXPECT_TRUE(Is_Record(Lines_Of(Own)[0], "second"));
  EXPECT_TRUE(Is_Record(Lines_Of(Name).back(), "first again"));
  EXPECT_EQ(Test_Support::Read_File(Dir / "client_2.log"), "the first run's rolled-over records");
  // Seven of the others kept, the newest; of the two oldest, the run that
  // still writes keeps its files.
  const auto Exists = [&](const std::string &File) {
    return GetFileAttributesA((Dir / File).c_str()) != INVALID_FILE_ATTRIBUTES;
  };
  EXPECT_FALSE(Exists("client_pid2.log") || Exists("client_pid2_2.log"));
  EXPECT_TRUE(Exists("client_pid1.log") && Exists("client_pid1_2.log") &&
              Exists("client_pid3_2.log"));
}

TEST_F(Log_File_Test, ARunThatLosesItsNameAtARollOverGoesOnInAFileOfItsOwn) {
  Settings.Set_String(HKEY_CURRENT_USER, "Log", Name);
  Settings.Set_Number(HKEY_CURRENT_USER, "Log Limit", 4);
  Open(false);
  // Another run starting again and again: it takes the log only while the
  // name is free, in a roll-over.
  std::atomic<bool> Done = false;
  Windows::Files::IO::Handle Taken;
  std::thread Other([&] {
    while (!Done && !Taken.Is_Open()) {
      try {
        Taken = Windows::Files::IO::Create_Own(Name);
      } catch (const Failure &) { // NOLINT(bugprone-empty-catch): held, try again
      }
    }
  });
  const std::string Own = Log::Own_File_Name(Name, GetCurrentProcessId());
  const auto Deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(Test_Support::Hang_Limit_Ms);
  int Count = 0;
  while (GetFileAttributesA(Own.c_str()) == INVALID_FILE_ATTRIBUTES &&
         std::chrono::steady_clock::now() < Deadline)
    Log.Write_Record("record " + std::to_string(++Count));
  Done = true;
  Other.join();
  // The rolled-over file stays this run's: the other cannot delete it.
  EXPECT_THROW(Windows::Files::Delete_Unused(Dir / "client_2.log"), Windows::Files::Access_Denied);
  Log.Write_Record("last");
  Log.Close();
  const Strings Lines = Lines_Of(Own), Rolled = Lines_Of(Dir / "client_2.log");
  ASSERT_EQ(Lines.size(), 4u) << "the log went on";
  EXPECT_EQ(Lines[1], "These records are now stored in the file " + Dir / "client_2.log");
  EXPECT_TRUE(Is_Record(Lines[2], "record " + std::to_string(Count)));
  EXPECT_TRUE(Is_Record(Lines[3], "last"));
  EXPECT_TRUE(!Rolled.empty() && Is_Record(Rolled.back(), "record " + std::to_string(Count - 1)));
}

TEST_F(Log_File_Test, NothingIsWrittenOrDeletedThroughALink) {
  Test_Support::Write_File(Dir / "precious.txt", "precious");
  Test_Support::Write_File(Dir / "other.txt", "other");
  if (!Make_Link(Name, "precious.txt") || !Make_Link(Dir / "fresh_2.log", "other.txt"))
    GTEST_SKIP() << "this user may not make symbolic links";
  Settings.Set_String(HKEY_CURRENT_USER, "Log", Name);
  Settings.Set_Number(HKEY_CURRENT_USER, "Log Limit", 3);
  Open();
  EXPECT_FALSE(Log.Is_Open());
  // A log whose roll-over name is a link: the link is replaced, never followed.
  Log_File Fresh;
  Settings.Set_String(HKEY_CURRENT_USER, "Log", Dir / "fresh.log");
  bool Was_Closed;
  Fresh.Open_Log(Settings.Product, true, Was_Closed);
  for (int I = 1; I <= 5; ++I)
    Fresh.Write_Record("r" + std::to_string(I));
  const Strings Rolled = Lines_Of(Dir / "fresh_2.log");
  EXPECT_TRUE(!Rolled.empty() && Is_Record(Rolled.back(), "r4"));
  // Links replaced go with the scratch folder; Wine deletes what they name.
  Log.Close();
  for (const std::string &Link : {Name, Dir / "fresh_2.log"}) {
    Test_Support::Write_File(Dir / "plain", "");
    MoveFileExA((Dir / "plain").c_str(), Link.c_str(), MOVEFILE_REPLACE_EXISTING);
  }
  EXPECT_EQ(Test_Support::Read_File(Dir / "precious.txt"), "precious");
  EXPECT_EQ(Test_Support::Read_File(Dir / "other.txt"), "other");
}
