// The process's own log, started as the client starts it, and what the rest
// of the system writes into it.
#include "log/log.hpp"
#include "windows/pipe.hpp"
#include "windows/version.hpp"

#include "log_support.hpp"

#include <gtest/gtest.h>

using Test_Support::Is_Record;
using Test_Support::Lines_Of;
using Strings = std::vector<std::string>;

TEST(Start_Log, HeaderThenEveryMessageOfTheSystem) {
  Test_Support::Scratch_Directory Dir;
  const Test_Support::Log_Settings Settings("Tez_Log_Start_Test");
  const std::string Name = Dir / "start.log";
  Settings.Set_String(HKEY_CURRENT_USER, "Log", Name);
  Settings.Set_Number(HKEY_CURRENT_USER, "Log Limit", 0);
  Windows::Version::Initialise();
  Log::Start_Log(true);
  Log::Start_Log(true); // a second start writes no second header

  Log::Put("");
  // The transport's texts reach the log once it has started; only codes it
  // does not know are written.
  Strings Raised;
  for (const std::uint32_t Code : {0u, 0xFFFFFFFFu, 231u, 997u}) {
    try {
      Windows::Pipe::Raise_Error(Code);
    } catch (const Failure &F) {
      Raised.push_back(F.name());
    }
  }
  EXPECT_EQ(Raised, (Strings{"WINDOWS.PIPE.BROKEN", "WINDOWS.PIPE.UNKNOWN_ERROR",
                             "WINDOWS.PIPE.NAME_IN_USE", "WINDOWS.PIPE.UNKNOWN_ERROR"}));
  try {
    throw Windows::Pipe::Broken();
  } catch (...) {
    Log::Report("Client.Work", std::current_exception());
  }
  Log::Finalise();
  Log::Put("after the end");

  const Strings Lines = Lines_Of(Name);
  ASSERT_EQ(Lines.size(), 7u);
  EXPECT_TRUE(Is_Record(Lines[0], "Tez_Log_Start_Test version 3.2.1"));
  EXPECT_NE(Lines[1].find(") => Log created "), std::string::npos);
  EXPECT_TRUE(Is_Record(Lines[2], ""));
  EXPECT_TRUE(Is_Record(Lines[3], "Windows.Pipe - No Error"));
  EXPECT_TRUE(Is_Record(Lines[4], "Windows.Pipe - Unknown_Error: 4294967295"));
  EXPECT_TRUE(Is_Record(Lines[5], "Windows.Pipe - Unknown_Error: 997"));
  EXPECT_TRUE(Is_Record(Lines[6], "Client.Work: Exception = WINDOWS.PIPE.BROKEN () "));
}

TEST(Start_Log, WithoutAVersionResourceTheModuleNamesTheLog) {
  Test_Support::Scratch_Directory Dir;
  const Test_Support::Log_Settings Settings("tez_log_starter");
  const std::string Name = Dir / "starter.log";
  Settings.Set_String(HKEY_CURRENT_USER, "Log", Name);
  const auto Result = Test_Support::Run(Test_Support::Program_Directory() + "tez_log_starter.exe",
                                        {"hello from the starter"});
  EXPECT_EQ(Result.Exit_Code, 0u);
  const Strings Lines = Lines_Of(Name);
  ASSERT_EQ(Lines.size(), 2u) << "no version line";
  EXPECT_NE(Lines[0].find(") => Log created "), std::string::npos);
  EXPECT_TRUE(Is_Record(Lines[1], "hello from the starter")) << "written out at the end";
}

TEST(Report_Message, NamesThePlaceAndTheFailure) {
  using Test_Support::Caught;
  EXPECT_EQ(Log::Report_Message("Client.Work", Caught(Windows::Pipe::Broken())),
            "Client.Work: Exception = WINDOWS.PIPE.BROKEN () ");
  EXPECT_EQ(Log::Report_Message("", Caught(Constraint_Error("bad", "worse"))),
            ": Exception = CONSTRAINT_ERROR (bad) worse");
  EXPECT_EQ(Log::Report_Message("Here", Caught(std::bad_alloc()))
                .rfind("Here: Exception = STORAGE_ERROR (", 0),
            0u);
  EXPECT_EQ(Log::Report_Message("Here", Caught(7)), "Here: Unknown Exception");
}
