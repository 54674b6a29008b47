// Whom the client trusts: only a server of its own user gets a byte, and only
// the programs it names are started, never namesakes planted where it runs.
#include "client_support.hpp"
#include "log_support.hpp"
#include "windows/windows.hpp"

#include <filesystem>
#include <fstream>

#include <sddl.h>

using Test_Support::Client_Run;
using Strings = std::vector<std::string>;

namespace {

// A pipe under the test's name with the given security, listening for one
// client at a time; it keeps what each client sent.
class Squatter {
public:
  Squatter(const std::string &Name, const char *Security) {
    PSECURITY_DESCRIPTOR Descriptor = nullptr;
    EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(Security, SDDL_REVISION_1,
                                                                     &Descriptor, nullptr));
    SECURITY_ATTRIBUTES Attributes{sizeof Attributes, Descriptor, FALSE};
    Pipe_ = CreateNamedPipeA(
        ("\\\\.\\pipe\\" + Name).c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
        PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, 1, 4096, 4096, 0, &Attributes);
    LocalFree(Descriptor);
    EXPECT_NE(Pipe_, INVALID_HANDLE_VALUE);
    Listen();
  }
  ~Squatter() {
    CancelIoEx(Pipe_, nullptr);
    CloseHandle(Pipe_);
    CloseHandle(Block_.hEvent);
  }

  // The bytes the last client left, once it has gone (none when no client
  // came); then listens again.
  DWORD Bytes_Left() {
    DWORD Available = 0;
    if (WaitForSingleObject(Block_.hEvent, 0) != WAIT_OBJECT_0) return Available;
    PeekNamedPipe(Pipe_, nullptr, 0, nullptr, &Available, nullptr);
    DisconnectNamedPipe(Pipe_);
    Listen();
    return Available;
  }

private:
  void Listen() {
    if (!Block_.hEvent) Block_.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ResetEvent(Block_.hEvent);
    if (!ConnectNamedPipe(Pipe_, &Block_) && GetLastError() == ERROR_PIPE_CONNECTED)
      SetEvent(Block_.hEvent);
  }

  HANDLE Pipe_ = INVALID_HANDLE_VALUE;
  OVERLAPPED Block_{};
};

} // namespace

TEST_F(Client_Run, APipeOfAnotherUserGetsNothingAndStartsNothing) {
  const Test_Support::Log_Settings Settings("Tez_Client");
  const std::string Log_Name = Dir / "client.log";
  Settings.Set_String(HKEY_CURRENT_USER, "Log", Log_Name);
  Configure({{"Editor", Editor}, {"Errors", "all"}});
  {
    Squatter Holder(Pipe, "O:S-1-5-21-1-2-3-1001D:(A;;GA;;;WD)");
    for (const Strings &Arguments :
         {Strings{Config, "l", Source, "1", "1"}, Strings{Config, "c"}}) {
      const Test_Support::Run_Result Result = Test_Support::Run(Client, Arguments, Dir.Path());
      Test_Support::Await_Children({Result});
      EXPECT_EQ(Result.Output, "Server pipe belongs to another user\r\n");
      EXPECT_EQ(Holder.Bytes_Left(), 0u) << "not a byte goes to it";
      const Strings Lines = Test_Support::Lines_Of(Log_Name);
      const auto Refused = std::count_if(Lines.begin(), Lines.end(), [](const std::string &Line) {
        return Line.find("=> Server pipe refused: ") != std::string::npos;
      });
      EXPECT_EQ(Refused, 1) << ::testing::PrintToString(Lines);
      EXPECT_TRUE(std::any_of(Lines.begin(), Lines.end(), [](const std::string &Line) {
        return Line.find("pipe owner S-1-5-21-1-2-3-1001") != std::string::npos &&
               Line.find("server process " + std::to_string(GetCurrentProcessId())) !=
                   std::string::npos;
      })) << ::testing::PrintToString(Lines);
    }
  }
  EXPECT_EQ(Server_Command_Lines(), Strings{}) << "no server was started";
  EXPECT_EQ(Editor_Command_Lines(), Strings{}) << "no editor was started";
}

TEST_F(Client_Run, OnlyTheProgramsNamedRunNeverNamesakesPlantedNearby) {
  const auto Copy = [](const std::string &From, const std::string &To) {
    ASSERT_TRUE(CopyFileA(From.c_str(), To.c_str(), FALSE)) << To;
  };
  const auto Ran_From = [this] {
    return Test_Support::Record_Values(Editor_Record, "module_directory");
  };
  // The server checked in the working directory is the one started, not a
  // namesake beside the client program.
  Server_Script("on L\r\nreply >main.src:1:1\r\nidle 5\r\n");
  CreateDirectoryA((Dir / "client").c_str(), nullptr);
  Copy(Client, Dir / "client\\Tez_Client.exe");
  Copy(Editor, Dir / "client\\tez_server.exe");
  Copy(Server, Dir / "tez_server.exe");
  Configure({{"Pipename", Pipe}, {"Server", "tez_server.exe"}}, false);
  const Test_Support::Run_Result Result =
      Test_Support::Run(Dir / "client\\Tez_Client.exe", {Config, "syntax", Source}, Dir.Path());
  Test_Support::Await_Children({Result}, "tez_server.exe");
  EXPECT_EQ(Server_Command_Lines(1), Strings{"tez_server.exe " + Pipe});
  EXPECT_EQ(Ran_From(), Strings{}) << "the namesake ran";

  // A bare editor name is found on PATH, never in the working directory,
  // whatever PATH holds.
  CreateDirectoryA((Dir / "tools").c_str(), nullptr);
  Copy(Editor, Dir / "tools\\ed.exe");
  Copy(Editor, Dir / "ed.exe");
  char Path[32767];
  const DWORD Length = GetEnvironmentVariableA("PATH", Path, sizeof Path);
  // Its folder quoted, as a folder with a blank often is.
  SetEnvironmentVariableA("PATH", (".;;\"" + Dir / "tools\";" + std::string(Path, Length)).c_str());
  Configure({{"Editor", "ed -n"}});
  const std::string Output = Run_Client({Config, "l", Source, "1", "1"}).Output;
  SetEnvironmentVariableA("PATH", std::string(Path, Length).c_str());
  EXPECT_EQ(Output, "");
  EXPECT_EQ(Ran_From(), Strings{Dir / "tools\\"});
  EXPECT_EQ(Editor_Command_Lines(),
            Strings{Test_Support::Quoted(Dir / "tools\\ed.exe") + " -n main.src:1:1"});

  // A path is taken as written, extension included: a missing editor is not
  // replaced by a program at its first blank.
  DeleteFileA(Editor_Record.c_str());
  CreateDirectoryA((Dir / "trap").c_str(), nullptr);
  Copy(Editor, Dir / "trap\\Program.exe");
  Configure({{"Editor", Dir / "trap\\Program Files\\Ed\\ed.exe"}});
  EXPECT_EQ(Run_Client({Config, "l", Source, "1", "1"}).Output, "Could not start editor!\r\n");
  // Nor by a file at a blank that is no ".exe" or ".com".
  Copy(Editor, Dir / "trap\\My");
  Configure({{"Editor", Dir / "trap\\My Editor\\ed.exe -n"}});
  EXPECT_EQ(Run_Client({Config, "l", Source, "1", "1"}).Output, "Could not start editor!\r\n");
  EXPECT_EQ(Ran_From(), Strings{});
}

TEST_F(Client_Run, ABatchFileEditorGetsTheArgumentsAProgramWouldGet) {
  const Test_Support::Log_Settings Settings("Tez_Client");
  const std::string Log_Name = Dir / "client.log";
  Settings.Set_String(HKEY_CURRENT_USER, "Log", Log_Name);
  const std::string Batch = Dir / "ed.cmd";
  Test_Support::Write_File(Batch, "@" + Test_Support::Quoted(Editor) + " %*\r\n");
  // A program named like a piece of the location, where the editor runs.
  ASSERT_TRUE(CopyFileA(Editor.c_str(), (Dir / "pwn.exe").c_str(), FALSE));
  // Line 2 asks for a location that no quoting passes whole, line 3 for one
  // that a NUL would cut short.
  Server_Script("on L" + Source + "<2,\r\nreply >%PATH%.c:1:1\r\non L" + Source +
                "<3,\r\nreply >a.src:7:2" + std::string(1, '\0') +
                " tail\r\n"
                "on L\r\nreply >\"R&D (1)^x!y \\src.c:1:1\" a&pwn&b C:\\end\\\r\nidle 5\r\n");
  const auto Arguments = [&](const std::string &Program, const std::string &Line = "1",
                             const std::string &Output = "") {
    DeleteFileA(Editor_Record.c_str());
    Configure({{"Editor", Program}});
    EXPECT_EQ(Run_Client({Config, "l", Source, Line, "1"}).Output, Output);
    return Test_Support::Record_Values(Editor_Record, "argument");
  };
  const Strings Direct = Arguments(Editor);
  EXPECT_EQ(Direct, (Strings{"R&D (1)^x!y \\src.c:1:1", "a&pwn&b", "C:\\end\\"}));
  EXPECT_EQ(Arguments(Batch), Direct) << "split, expanded or run as commands";

  // What no quoting passes whole, and what a NUL would cut short, is
  // refused, and the log says why.
  for (const auto &[Program, Line, Why] :
       {std::tuple{Batch, "2", "the argument %PATH%.c:1:1 holds a %"},
        std::tuple{Editor, "3", "the arguments: a NUL byte at byte 10 of 15"}}) {
    EXPECT_EQ(Arguments(Program, Line, "Could not start editor!\r\n"), Strings{});
    const std::string Record = std::string("Editor not started: ") + Why;
    const Strings Lines = Test_Support::Lines_Of(Log_Name);
    EXPECT_TRUE(std::any_of(
        Lines.begin(), Lines.end(),
        [&](const std::string &Logged) { return Logged.find(Record) != std::string::npos; }))
        << Record << ::testing::PrintToString(Lines);
  }
}

// A name the code page cannot hold is queried by its short name, which names
// the same file, never by look-alikes (a fullwidth backslash is no "\").
TEST_F(Client_Run, ANameTheCodePageCannotHoldIsQueriedByItsShortName) {
  Configure();
  const std::wstring Root(Dir.Path().begin(), Dir.Path().end());
  const auto Make = [](const std::filesystem::path &File, const char *Text) {
    std::filesystem::create_directories(File.parent_path());
    std::ofstream(File) << Text;
  };
  Make(Root + L"d\\t.src", "decoy");
  for (const auto &[File, Text] :
       {std::pair{L"αβγ dir\\calc.c", "calc"}, {L"d\\a＼..＼t.src", "real"}}) {
    Make(Root + File, Text);
    Run_Client({Config, "syntax"}, L" " + Windows::Quote_Argument(Root + File));
    const Strings Got = Requests(); // ..., "S" and the name, "C"
    ASSERT_GE(Got.size(), 2u);
    EXPECT_EQ(Test_Support::Read_File(Got[Got.size() - 2].substr(1)), Text) << Got[Got.size() - 2];
  }
  EXPECT_EQ(Run_Client({Config}, L" \xFF53yntax " + Root + L"d\\t.src").Output.substr(0, 17),
            "Unknown command\r\n");
}

TEST_F(Client_Run, TheServerDoesNotStartBesideAPipeOfTheSameName) {
  Configure();
  Run_Client({Config, "syntax", Source});
  const Test_Support::Run_Result Second = Test_Support::Run(Server, {Pipe});
  EXPECT_EQ(Second.Exit_Code, 1u);
  EXPECT_EQ(
      Test_Support::Record_Values(Server_Record, "failure"),
      Strings{"WINDOWS.PIPE.NAME_IN_USE: the pipe name " + Pipe + " is held already, not served"});
}
