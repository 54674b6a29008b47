// Reply handling and the main flow end to end: what the console shows, what
// the editor stand-in was started with, and what reached the server.
#include "client_support.hpp"
#include "log_support.hpp"

#include <algorithm>

using Test_Support::Client_Run;
using Test_Support::Usage_Text;
using Strings = std::vector<std::string>;

TEST_F(Client_Run, EveryKindOfReplyWithAnEditor) {
  Server_Script("on R\r\nreply plain text\r\nempty\r\nreply >main.src:3:7\r\nreply >\r\n"
                "reply ..\r\nreply . \r\nreply >main.src:9:1\r\nreply !stop\r\nreply \t"
                "bytes \xE9\xFF unchanged\r\nidle 5\r\n");
  Configure({{"Editor", Editor}});
  const auto Result = Run_Client({Config, "ref", Source, "3", "7"});
  EXPECT_EQ(Result.Output,
            "plain text\r\n>\r\n..\r\n. \r\n!stop\r\n\tbytes \xE9\xFF unchanged\r\n");
  // Two editors, running side by side: in either order.
  Strings Started = Editor_Command_Lines();
  std::sort(Started.begin(), Started.end());
  EXPECT_EQ(Started, (Strings{Test_Support::Quoted(Editor) + " main.src:3:7",
                              Test_Support::Quoted(Editor) + " main.src:9:1"}));
  EXPECT_EQ(Requests(), (Strings{"I" + Editor, "R" + Source + "<3,7>", "C"}));
}

TEST_F(Client_Run, LocationRepliesArePrintedWithoutAnEditor) {
  Server_Script("on L\r\nreply >main.src:1:1\r\nidle 5\r\n");
  Configure();
  EXPECT_EQ(Run_Client({Config, "location", Source, "1", "1"}).Output, ">main.src:1:1\r\n");
  EXPECT_TRUE(Editor_Command_Lines().empty());
}

TEST_F(Client_Run, SettingsRepliesArePrintedEvenWithAnEditor) {
  Server_Script("on I\r\nreply >editor noted\r\non L\r\nreply >main.src:2:2\r\nidle 5\r\n");
  Configure({{"Editor", Editor}});
  EXPECT_EQ(Run_Client({Config, "l", Source, "2", "2"}).Output, ">editor noted\r\n");
  EXPECT_EQ(Editor_Command_Lines(), Strings{Test_Support::Quoted(Editor) + " main.src:2:2"});
}

TEST_F(Client_Run, AnEditorThatCannotStartIsReportedAndRepliesGoOn) {
  Server_Script("on L\r\nreply >main.src:1:1\r\nreply after\r\nidle 5\r\n");
  Configure({{"Editor", Dir / "no_editor.exe"}});
  EXPECT_EQ(Run_Client({Config, "l", Source, "1", "1"}).Output,
            "Could not start editor!\r\nafter\r\n");
  EXPECT_EQ(Requests(), (Strings{"I" + Dir / "no_editor.exe", "L" + Source + "<1,1>", "C"}));
}

TEST_F(Client_Run, FewerThanTwoArgumentsOnlyPrintTheUsage) {
  Configure();
  EXPECT_EQ(Run_Client({}).Output, Usage_Text);
  EXPECT_EQ(Run_Client({Config}).Output, Usage_Text);
  EXPECT_TRUE(Server_Command_Lines().empty());
}

TEST_F(Client_Run, UnknownAndEmptyCommandsReadNoConfiguration) {
  Configure();
  EXPECT_EQ(Run_Client({Config, "compile", Source}).Output, "Unknown command\r\n");
  EXPECT_EQ(Run_Client({Config, "", Source}).Output, "Unknown command\r\n");
  EXPECT_TRUE(Server_Command_Lines().empty());
}

TEST_F(Client_Run, ArgumentsThatFormNoRequestCloseAndPrintTheUsage) {
  Configure();
  EXPECT_EQ(Run_Client({Config, "syntax", Source, "1", "1"}).Output, Usage_Text);
  EXPECT_EQ(Run_Client({Config, "reference", Source}).Output, Usage_Text);
  EXPECT_EQ(Run_Client({Config, "reference", Source, "1048576", "x"}).Output, Usage_Text);
  EXPECT_EQ(Run_Client({Config, "reference", Source, "1", "4096"}).Output, Usage_Text);
  EXPECT_EQ(Run_Client({Config, "reference", Source, "12a", "1"}).Output, Usage_Text);
  EXPECT_EQ(Run_Client({Config, "location", Source, "1", "one"}).Output, Usage_Text);
  EXPECT_EQ(Requests(), (Strings{"C", "C", "C", "C", "C", "C"}));
}

TEST_F(Client_Run, PositionsAreSentAsTyped) {
  Configure();
  Run_Client({Config, "reference", Source, "16#FF#", "-3"});
  Run_Client({Config, "location", Source, "1048575", "4095"});
  EXPECT_EQ(Requests(),
            (Strings{"R" + Source + "<16#FF#,-3>", "C", "L" + Source + "<1048575,4095>", "C"}));
}

TEST_F(Client_Run, AMissingSourceEndsTheRunAfterTheSettings) {
  Configure({{"Errors", "e"}});
  EXPECT_EQ(Run_Client({Config, "syntax", Dir / "missing.src"}).Output,
            "Source file not found.\r\n");
  EXPECT_EQ(Requests(), Strings{"Ee"}) << "no request, no closing request";
}

TEST_F(Client_Run, CloseSendsTheCloseRequestAndTheServerEnds) {
  Server_Script("idle 30\r\n");
  Configure();
  Run_Client({Config, "syntax", Source});
  EXPECT_EQ(Run_Client({Config, "close", "x", "y", "z"}).Output, "");
  EXPECT_EQ(Requests(), (Strings{"S" + Source, "C", "T0", "C"}));
  // The server has gone: a new query starts a new one.
  Run_Client({Config, "syntax", Source});
  EXPECT_EQ(Server_Command_Lines().size(), 2u);
}

TEST_F(Client_Run, TheLogHoldsTheHeaderAndTheWholeConversation) {
  const Test_Support::Log_Settings Settings("Tez_Client");
  const std::string Log_Name = Dir / "client.log";
  Server_Script("on S\r\nreply one\r\nreply >main.src:1:1\r\non E\r\noversize 1500\r\nidle 5\r\n");
  Configure({{"Editor", Editor}});
  // A server that runs already: the log holds no start of one.
  Run_Client({Config, "syntax", Source});
  Settings.Set_String(HKEY_CURRENT_USER, "Log", Log_Name);
  Run_Client({Config, "syntax", Source});
  Strings Lines = Test_Support::Lines_Of(Log_Name);
  ASSERT_EQ(Lines.size(), 11u) << ::testing::PrintToString(Lines);
  EXPECT_NE(Lines[0].find(") => Tez_Client version "), std::string::npos);
  EXPECT_NE(Lines[1].find(") => Log created "), std::string::npos);
  // The editor's start names the file and the command line it was given.
  EXPECT_NE(Lines[8].find(") => Editor started: process "), std::string::npos) << Lines[8];
  EXPECT_TRUE(
      Lines[8].ends_with(", command line " + Test_Support::Quoted(Editor) + " main.src:1:1"))
      << Lines[8];
  const Strings Conversation{"Write to Server=I" + Editor,
                             "Reply from Server=.",
                             "Write to Server=S" + Source,
                             "Reply from Server=one",
                             "Reply from Server=>main.src:1:1",
                             "Starting Editor:main.src:1:1",
                             "Reply from Server=.",
                             "Write to Server=C"};
  for (std::size_t I = 2, Next = 0; I < Lines.size(); ++I) {
    if (I != 8) {
      EXPECT_TRUE(Test_Support::Is_Record(Lines[I], Conversation[Next++])) << Lines[I];
    }
  }

  // A failed run: reported by the routine that caught it, then by Work.
  Configure({{"Errors", "x"}});
  EXPECT_EQ(Run_Client({Config, "syntax", Source}).Output, "Unexpected error\r\n");
  Lines = Test_Support::Lines_Of(Log_Name);
  ASSERT_EQ(Lines.size(), 5u);
  EXPECT_TRUE(Test_Support::Is_Record(Lines[2], "Write to Server=Ex"));
  EXPECT_TRUE(Test_Support::Is_Record(
      Lines[3], "Process_Configuration_File: Exception = WINDOWS.PIPE.MORE_DATA () "));
  EXPECT_TRUE(
      Test_Support::Is_Record(Lines[4], "Client.Work: Exception = WINDOWS.PIPE.MORE_DATA () "));

  // A column that is no number: no server needed for it.
  Configure({{"Pipename", Test_Support::Unique_Pipe_Name()}}, false);
  Run_Client({Config, "reference", Source, "1", "one"});
  Lines = Test_Support::Lines_Of(Log_Name);
  ASSERT_GE(Lines.size(), 3u) << ::testing::PrintToString(Lines);
  EXPECT_NE(Lines[2].find("Build_Request: Exception = CLIENT.CONVERSION_ERROR ("),
            std::string::npos);
}

TEST_F(Client_Run, EditorPathWithABlankIsStartedAndNothingElse) {
  const std::string Folder = Dir / "my editor";
  CreateDirectoryA(Folder.c_str(), nullptr);
  const std::string Spaced = Folder + "\\tez_probe.exe";
  ASSERT_TRUE(CopyFileA(Editor.c_str(), Spaced.c_str(), FALSE));
  // What an unquoted command line would start first.
  ASSERT_TRUE(CopyFileA(Editor.c_str(), (Dir / "my.exe").c_str(), FALSE));
  Server_Script("on L\r\nreply >main.src:1:1\r\nidle 5\r\n");
  Configure({{"Editor", Spaced}});
  EXPECT_EQ(Run_Client({Config, "l", Source, "1", "1"}).Output, "");
  EXPECT_EQ(Editor_Command_Lines(), Strings{"\"" + Spaced + "\" main.src:1:1"});
  EXPECT_EQ(Test_Support::Record_Values(Editor_Record, "module_directory"), Strings{Folder + "\\"})
      << "the editor itself ran, not the decoy";
  // Options after the program, and quotes of the user's own, stay as written;
  // a program path with a blank is found before its options too.
  const std::string Quoted_Options = "\"" + Spaced + "\" -n";
  for (const std::string &Value : {Editor + " -n", Quoted_Options, Spaced + " -n"}) {
    DeleteFileA(Editor_Record.c_str());
    Configure({{"Editor", Value}});
    EXPECT_EQ(Run_Client({Config, "l", Source, "1", "1"}).Output, "");
    EXPECT_EQ(
        Editor_Command_Lines(),
        Strings{(Value == Editor + " -n" ? Test_Support::Quoted(Editor) + " -n" : Quoted_Options) +
                " main.src:1:1"});
  }
  EXPECT_EQ(Test_Support::Record_Values(Editor_Record, "module_directory"), Strings{Folder + "\\"});
  EXPECT_EQ(Requests()[0], "I" + Spaced) << "the setting carries the value unchanged";
}
