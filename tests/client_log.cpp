// The log of a run that never ends: everything logged before a wait for the
// server is in the file while the client waits, so killing it loses nothing.
#include "client_support.hpp"
#include "log_support.hpp"

#include <algorithm>
#include <chrono>
#include <thread>

using Test_Support::Client_Run;
using Test_Support::Is_Record;

TEST_F(Client_Run, AClientKilledWhileItWaitsForRepliesLeavesItsWholeLog) {
  const Test_Support::Log_Settings Settings("Tez_Client");
  const std::string Log_Name = Dir / "client.log";
  Settings.Set_String(HKEY_CURRENT_USER, "Log", Log_Name);
  const std::string Release = Dir / "release";
  Server_Script("on S\r\nreply first\r\nawait " + Release + "\r\nreply late\r\nidle 5\r\n");
  Configure();
  DWORD Id = 0;
  const Windows::Object_Handle Process(Test_Support::Start_Process(
      Client, {Config, "syntax", Source}, Dir.Path(), {}, nullptr, nullptr, &Id));

  // The client stalls after the first reply; its records must reach the file
  // while it waits (the guard only keeps a failing test from hanging).
  const auto Waiting = [&] {
    const std::vector<std::string> Lines = Test_Support::Lines_Of(Log_Name);
    return !Lines.empty() && Is_Record(Lines.back(), "Reply from Server=first");
  };
  const auto Deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(Test_Support::Hang_Limit_Ms);
  while (!Waiting() && std::chrono::steady_clock::now() < Deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  TerminateProcess(Process.Get(), 1);
  WaitForSingleObject(Process.Get(), Test_Support::Hang_Limit_Ms);
  Test_Support::Write_File(Release, "");

  const std::vector<std::string> Lines = Test_Support::Lines_Of(Log_Name);
  ASSERT_GE(Lines.size(), 4u) << ::testing::PrintToString(Lines);
  EXPECT_TRUE(Is_Record(Lines[Lines.size() - 2], "Write to Server=S" + Source))
      << ::testing::PrintToString(Lines);
  EXPECT_TRUE(Is_Record(Lines.back(), "Reply from Server=first")) << Lines.back();
  // The server's start with its command line, the wait for it, and how it ended.
  EXPECT_TRUE(std::ranges::any_of(Lines, [&](const std::string &Line) {
    return Line.find(") => Server started: process ") != std::string::npos &&
           Line.ends_with(", command line " + Test_Support::Quoted(Server) + " " + Pipe);
  })) << ::testing::PrintToString(Lines);
  EXPECT_TRUE(std::ranges::any_of(Lines, [&](const std::string &Line) {
    return Is_Record(Line, "Waiting for the server started: 0.1 seconds, then up to 5 attempts "
                           "1 second apart to open pipe " +
                               Pipe);
  })) << ::testing::PrintToString(Lines);
  EXPECT_TRUE(std::ranges::any_of(Lines, [](const std::string &Line) {
    return Line.find(") => Wait for the server started ended after ") != std::string::npos &&
           Line.ends_with(" ms: connected");
  })) << ::testing::PrintToString(Lines);
  Await_Server_Idle(Pipe);
}
