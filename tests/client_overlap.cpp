// Queries that overlap: a single-instance server is busy for the length of
// each conversation, and clients that meet it busy wait for their turn.
#include "client_support.hpp"
#include "log_support.hpp"

#include <chrono>
#include <future>
#include <thread>

using Test_Support::Client_Run;
using Test_Support::Is_Record;
using Strings = std::vector<std::string>;

namespace {

void Await_File(const std::string &Name) {
  const auto Deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  while (GetFileAttributesA(Name.c_str()) == INVALID_FILE_ATTRIBUTES) {
    ASSERT_LT(std::chrono::steady_clock::now(), Deadline) << Name << " never appeared";
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

} // namespace

TEST_F(Client_Run, AClientThatFindsTheServerBusyWaitsForItsTurn) {
  // The first query holds the server's only instance until the second client
  // has started, and two seconds more.
  const std::string Started = Dir / "second_started";
  Server_Script("on Sfirst\r\nawait " + Started + "\r\npause 2\r\nreply first answer\r\n" +
                "on Ssecond\r\nreply second answer\r\nidle 30\r\n");
  Test_Support::Write_File(Dir / "first.src", "");
  Test_Support::Write_File(Dir / "second.src", "");
  Configure();
  Test_Support::Started_Run First(Client, {Config, "syntax", "first.src"}, Dir.Path());
  Await_Request("Sfirst.src");

  // Only the second client logs: the first read the settings before they came.
  const Test_Support::Log_Settings Settings("Tez_Client");
  const std::string Log_Name = Dir / "second.log";
  Settings.Set_String(HKEY_CURRENT_USER, "Log", Log_Name);
  auto Second = std::async(std::launch::async, [&] {
    return Run_Client({Config, "syntax", "second.src"});
  });
  Await_File(Log_Name);
  Test_Support::Write_File(Started, "");

  EXPECT_EQ(First.Finish().Output, "first answer\r\n");
  EXPECT_EQ(Second.get().Output, "second answer\r\n");
  EXPECT_EQ(Server_Command_Lines().size(), 1u) << "the busy server was not started again";
  const Strings Lines = Test_Support::Lines_Of(Log_Name);
  ASSERT_GE(Lines.size(), 5u) << ::testing::PrintToString(Lines);
  EXPECT_TRUE(Is_Record(Lines[2], "Server busy: waiting up to 30 seconds for pipe " + Pipe))
      << Lines[2];
  EXPECT_NE(Lines[3].find(") => Server wait ended after "), std::string::npos) << Lines[3];
  EXPECT_TRUE(Lines[3].ends_with(" ms: connected")) << Lines[3];
  EXPECT_TRUE(Is_Record(Lines[4], "Write to Server=Ssecond.src")) << Lines[4];
}

TEST_F(Client_Run, SixteenClientsAtOnceAreAllAnsweredTwice) {
  SetEnvironmentVariableA("TEZ_SERVER_SCRIPT", nullptr); // real answers
  Test_Support::Write_File(Dir / "load.c", "int f(void) { return (1; }\n");
  const std::string Answer = "load.c:1:22: error: '(' is never closed\r\n";
  Configure();
  EXPECT_EQ(Run_Client({Config, "syntax", "load.c"}).Output, Answer); // starts the server
  for (int Round = 1; Round <= 2; ++Round) {
    SCOPED_TRACE(Round);
    for (const Test_Support::Run_Result &Result :
         Run_Clients_At_Once({Config, "syntax", "load.c"}, 16))
      EXPECT_EQ(Result.Output, Answer);
  }
  EXPECT_EQ(Server_Command_Lines().size(), 1u);
  // Every conversation whole: started, the query, the closing request, ended.
  const Strings Record = Test_Support::Record_Values(Server_Record, "conversation");
  std::size_t Whole = 0;
  const std::string Text = Test_Support::Read_File(Server_Record);
  const std::string Conversation =
      "conversation=start\r\nrequest=Sload.c\r\nrequest=C\r\nconversation=end\r\n";
  for (std::size_t At = 0; (At = Text.find(Conversation, At)) != std::string::npos;
       At += Conversation.size())
    ++Whole;
  EXPECT_EQ(Whole, 33u) << Text;
  EXPECT_EQ(Record.size(), 2 * 33u) << "no other conversation, none cut short";
}
