// The configuration step end to end: the real client, the real stand-in
// server, the console bytes and the requests the server received.
#include "client_support.hpp"
#include "log_support.hpp"

#include <algorithm>
#include <chrono>
#include <thread>

using Test_Support::Client_Run;
using Test_Support::Keys;
using Strings = std::vector<std::string>;

TEST_F(Client_Run, SettingsGoInTheirFixedOrderBeforeTheQuery) {
  Configure({{"Units", "u"},
             {"Timeout", "60"},
             {"Path", "C:\\src;D:\\lib"},
             {"Compiler", "cc"},
             {"Editor", "ed.exe -n"},
             {"Format", "f"},
             {"Errors", "e"}});
  const auto Result = Run_Client({Config, "syntax", Source});
  EXPECT_EQ(Result.Output, "");
  EXPECT_EQ(Requests(), (Strings{"Ee", "Ff", "Ied.exe -n", "Xcc", "PC:\\src;D:\\lib", "T60", "Uu",
                                 "S" + Source, "C"}));
  EXPECT_EQ(Server_Command_Lines(), Strings{Test_Support::Quoted(Server) + " " + Pipe})
      << "one start only";
}

TEST_F(Client_Run, EmptySettingsAreNotSent) {
  Configure({{"Errors", ""}, {"Editor", ""}});
  Run_Client({Config, "unused", Source});
  EXPECT_EQ(Requests(), (Strings{"A" + Source, "C"}));
}

TEST_F(Client_Run, MissingPipenameEndsTheStepAndTheRunQuietly) {
  Configure({{"Server", Server}}, false);
  EXPECT_EQ(Run_Client({Config, "syntax", Source}).Output,
            "Pipename not specified in configuration file\r\n");
  EXPECT_EQ(Run_Client({Dir / "missing.ini", "syntax", Source}).Output,
            "Pipename not specified in configuration file\r\n");
  EXPECT_TRUE(Server_Command_Lines().empty());
}

TEST_F(Client_Run, ServerPathMustBeGivenAndExist) {
  Configure({{"Pipename", Pipe}}, false);
  EXPECT_EQ(Run_Client({Config, "syntax", Source}).Output,
            "Server not specified in configuration file\r\n");
  Configure({{"Pipename", Pipe}, {"Server", Dir / "missing.exe"}}, false);
  EXPECT_EQ(Run_Client({Config, "syntax", Source}).Output, "Specified server not found\r\n");
  Test_Support::Write_File(Dir / "not_a_program.exe", "text");
  Configure({{"Pipename", Pipe}, {"Server", Dir / "not_a_program.exe"}}, false);
  EXPECT_EQ(Run_Client({Config, "syntax", Source}).Output, "Could not start server\r\n");
  EXPECT_TRUE(Requests().empty());
}

TEST_F(Client_Run, ServerThatNeverListensAfterFiveAttempts) {
  Server_Script("never_create 7\r\n");
  Configure({{"Errors", "on"}});
  auto Result = Run_Client({Config, "syntax", Source});
  EXPECT_EQ(Result.Output, "Cannot communicate with server\r\n");
  EXPECT_GE(Seconds, 4.0) << "0.1 s, then five attempts 1 s apart";
  // Without settings to send, the same; a server that ended at once is
  // logged, and waited for still.
  const Test_Support::Log_Settings Settings("Tez_Client");
  Settings.Set_String(HKEY_CURRENT_USER, "Log", Dir / "client.log");
  Server_Script("never_create 0\r\n");
  Configure();
  Result = Run_Client({Config, "syntax", Source});
  EXPECT_EQ(Result.Output, "Cannot communicate with server\r\n");
  EXPECT_GE(Seconds, 4.0);
  const Strings Lines = Test_Support::Lines_Of(Dir / "client.log");
  EXPECT_EQ(std::ranges::count_if(
                Lines,
                [](const std::string &Line) {
                  return Line.find(") => Server process ") != std::string::npos &&
                         Line.ends_with(
                             " has ended, exit code 0 (00000000): still waiting for its pipe");
                }),
            1)
      << ::testing::PrintToString(Lines);
  EXPECT_EQ(Server_Command_Lines(2).size(), 2u);
}

TEST_F(Client_Run, ServerThatStartsSlowlyIsReachedByALaterAttempt) {
  Server_Script("delay_start 1.5\r\nidle 5\r\n");
  Configure();
  Run_Client({Config, "syntax", Source});
  EXPECT_EQ(Requests(), (Strings{"S" + Source, "C"}));
  EXPECT_GE(Seconds, 1.5);
}

TEST_F(Client_Run, ServerThatListensDuringTheLastWaitIsReachedByALastLook) {
  const Test_Support::Log_Settings Settings("Tez_Client");
  const std::string Log_Name = Dir / "client.log", Go = Dir / "go";
  Settings.Set_String(HKEY_CURRENT_USER, "Log", Log_Name);
  Server_Script("start_after " + Go + "\r\nidle 5\r\n");
  Configure();
  Test_Support::Started_Run Run(Client, {Config, "syntax", Source}, Dir.Path());
  // The record is on disk before the wait after the fourth attempt.
  const auto Deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(Test_Support::Hang_Limit_Ms);
  while (std::ranges::none_of(Test_Support::Lines_Of(Log_Name),
                              [](const std::string &Line) {
                                return Line.find(") => No server yet at attempt 4 of ") !=
                                       std::string::npos;
                              }) &&
         std::chrono::steady_clock::now() < Deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  Test_Support::Write_File(Go, "");
  EXPECT_EQ(Run.Finish().Output, "");
  EXPECT_EQ(Requests(), (Strings{"S" + Source, "C"}));
}

TEST_F(Client_Run, PipelengthIsPassedToTheServerAsTyped) {
  for (const char *Text : {"0", "-5", "abc"}) {
    SCOPED_TRACE(Text);
    const std::string Own_Pipe = Test_Support::Unique_Pipe_Name();
    Server_Script("on S\r\nreply " + std::string(1000, 'k') + "\r\nidle 5\r\n");
    Configure({{"Pipename", Own_Pipe}, {"Server", Server}, {"Pipelength", Text}}, false);
    // Ignored by both: replies of 1000 bytes still fit.
    EXPECT_EQ(Run_Client({Config, "syntax", Source}).Output, std::string(1000, 'k') + "\r\n");
    EXPECT_EQ(Server_Command_Lines().back(),
              Test_Support::Quoted(Server) + " " + Own_Pipe + " " + Text);
    Configure({{"Pipename", Own_Pipe}}, false);
    Run_Client({Config, "close"});
  }
}

TEST_F(Client_Run, RepliesOfExactlyPipelengthBytesFitOneMoreDoesNot) {
  Server_Script("on Sa\r\nreply " + std::string(50, 'a') + "\r\non S\r\nreply " +
                std::string(51, 'b') + "\r\nidle 5\r\n");
  Configure({{"Pipelength", "50"}});
  // A source named relative to the client's directory makes the request "Sa".
  Test_Support::Write_File(Dir / "a", "");
  EXPECT_EQ(Run_Client({Config, "syntax", "a"}).Output, std::string(50, 'a') + "\r\n");
  EXPECT_EQ(Server_Command_Lines().front(), Test_Support::Quoted(Server) + " " + Pipe + " 50");
  EXPECT_EQ(Run_Client({Config, "syntax", Source}).Output, "Unexpected error\r\n");
  EXPECT_EQ(Requests(), (Strings{"Sa", "C", "S" + Source})) << "no closing request after it";
}

TEST_F(Client_Run, RepliesAroundTheFirstReadSizeGrowTheBufferUpToPipelength) {
  std::string Replies, Expected;
  const std::size_t First = Windows::Pipe::First_Read_Size;
  for (const std::size_t Length : {First - 1, First, First + 1, std::size_t{10000}}) {
    std::string Text(Length, ' ');
    for (std::size_t I = 0; I < Length; ++I)
      Text[I] = static_cast<char>('a' + I % 23);
    Replies += "reply " + Text + "\r\n";
    Expected += Text + "\r\n";
  }
  Server_Script("on Sa\r\n" + Replies + "on S\r\noversize 10001\r\nidle 5\r\n");
  Configure({{"Pipelength", "10000"}});
  Test_Support::Write_File(Dir / "a", "");
  EXPECT_EQ(Run_Client({Config, "syntax", "a"}).Output, Expected);
  EXPECT_EQ(Run_Client({Config, "syntax", Source}).Output, "Unexpected error\r\n");
  EXPECT_EQ(Requests(), (Strings{"Sa", "C", "S" + Source})) << "no closing request after it";
}

TEST_F(Client_Run, UnexpectedFailureDuringTheSettingsIsAnnounced) {
  Server_Script("on E\r\noversize 2000\r\nidle 5\r\n");
  Configure({{"Errors", "x"}, {"Format", "y"}});
  EXPECT_EQ(Run_Client({Config, "syntax", Source}).Output, "Unexpected error\r\n");
  EXPECT_EQ(Requests(), Strings{"Ex"});
}

TEST_F(Client_Run, ServerDroppingThePipeMidReply) {
  Server_Script("on S\r\nreply first\r\ndrop\r\nidle 5\r\n");
  Configure();
  EXPECT_EQ(Run_Client({Config, "syntax", Source}).Output, "first\r\nUnexpected error\r\n");
  EXPECT_EQ(Requests(), Strings{"S" + Source});
}

TEST_F(Client_Run, TimeoutZeroEndsTheServerAndTheQueryThatFindsItGoneSaysSo) {
  Configure({{"Timeout", "0"}});
  EXPECT_EQ(Run_Client({Config, "syntax", Source}).Output, "Unexpected error\r\n");
  EXPECT_EQ(Requests(), (Strings{"T0", "S" + Source}));
}

TEST_F(Client_Run, ErrorReplyDuringSettingsTurnsTheQueryIntoClose) {
  Server_Script("on E\r\nreply !no such error mode\r\nidle 5\r\n");
  Configure({{"Errors", "bad"}, {"Units", "u"}});
  EXPECT_EQ(Run_Client({Config, "reference", Source, "1", "1"}).Output, "!no such error mode\r\n");
  EXPECT_EQ(Requests(), (Strings{"Ebad", "Uu", "T0", "C"}));
}

TEST_F(Client_Run, CloseReadsOnlyTheConnectionKeys) {
  Configure({{"Errors", "e"}, {"Editor", Editor}});
  Run_Client({Config, "syntax", Source});
  const auto Result = Run_Client({Config, "CLOSE", "extra", "arguments"});
  EXPECT_EQ(Result.Output, "");
  EXPECT_EQ(Requests(), (Strings{"Ee", "I" + Editor, "S" + Source, "C", "T0", "C"}));
}

TEST_F(Client_Run, CloseWithoutAServerStartsNothing) {
  Configure();
  EXPECT_EQ(Run_Client({Config, "c"}).Output, "");
  EXPECT_TRUE(Server_Command_Lines().empty());
}

TEST_F(Client_Run, ABareConfigurationNameIsLookedForBesideTheProgramFirst) {
  const std::string Name = "tez_beside_" + std::to_string(GetCurrentProcessId()) + ".ini";
  const std::string Beside = Bin + Name;
  Test_Support::Write_File(Beside, "[Tez_Client]\r\nPipename=" + Pipe + "\r\nServer=" + Server +
                                       "\r\nErrors=beside\r\n");
  Test_Support::Write_File(Dir / Name, "[Tez_Client]\r\nPipename=" + Pipe + "\r\nServer=" + Server +
                                           "\r\nErrors=current\r\n");
  Run_Client({Name, "syntax", Source});
  // A name with a backslash is taken as given, relative to the current directory.
  Run_Client({".\\" + Name, "syntax", Source});
  DeleteFileA(Beside.c_str());
  EXPECT_EQ(Requests(), (Strings{"Ebeside", "S" + Source, "C", "Ecurrent", "S" + Source, "C"}));
}

TEST_F(Client_Run, ServerPathWithABlankIsStartedAndNothingElse) {
  const std::string Folder = Dir / "my server";
  CreateDirectoryA(Folder.c_str(), nullptr);
  const std::string Spaced = Folder + "\\tez_server.exe";
  ASSERT_TRUE(CopyFileA(Server.c_str(), Spaced.c_str(), FALSE));
  // What an unquoted command line would start first.
  ASSERT_TRUE(CopyFileA(Editor.c_str(), (Dir / "my.exe").c_str(), FALSE));
  Configure({{"Pipename", Pipe}, {"Server", Spaced}, {"Pipelength", "800"}}, false);
  Run_Client({Config, "syntax", Source});
  EXPECT_EQ(Server_Command_Lines(), Strings{"\"" + Spaced + "\" " + Pipe + " 800"});
  EXPECT_EQ(Requests(), (Strings{"S" + Source, "C"}));
  EXPECT_TRUE(Editor_Command_Lines().empty());
}

TEST_F(Client_Run, APipeNameIsOneArgumentAndNeverAPath) {
  // A blank: the server gets the name as one argument and serves it.
  const std::string Blank_Name = Pipe + " b";
  Configure({{"Pipename", Blank_Name}, {"Server", Server}}, false);
  EXPECT_EQ(Run_Client({Config, "syntax", Source}).Output, "");
  EXPECT_EQ(Server_Command_Lines(1),
            Strings{Test_Support::Quoted(Server) + " " + Test_Support::Quoted(Blank_Name)});
  EXPECT_EQ(Requests(), (Strings{"S" + Source, "C"}));
  Configure({{"Pipename", Blank_Name}}, false);
  Run_Client({Config, "close"});
  Await_Server_Gone(Blank_Name);

  // Names the system would resolve out of the pipes, or cut: refused before
  // anything is opened or started.
  for (const std::string &Name : {"..\\" + Pipe, "sub/" + Pipe, std::string(".."),
                                  Pipe + std::string(256 - 9 - Pipe.size() + 1, 'x')}) {
    Configure({{"Pipename", Name}, {"Server", Server}}, false);
    EXPECT_EQ(Run_Client({Config, "syntax", Source}).Output,
              "Invalid Pipename specified in configuration file\r\n")
        << Name;
  }
  EXPECT_EQ(Server_Command_Lines().size(), 1u) << "no server for an invalid name";
}
