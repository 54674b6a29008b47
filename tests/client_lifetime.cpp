// The programs the client starts live lives of their own: the server outlives
// the job of the client that started it, no started program holds the output
// that an editor reads to its end, and a server that ends while clients wait
// for it loses none of their queries.
#include "client_support.hpp"

#include <future>

using Test_Support::Client_Run;
using Test_Support::Run_Result;
using Strings = std::vector<std::string>;

namespace {

// Runs Program inside a job that kills what is left in it when it closes, as
// an IDE runs its tools, and closes the job once the program has ended.
// Active is how many processes the job still held then.
Run_Result Run_In_Job(const std::string &Program, const Strings &Arguments,
                      const std::string &Directory, bool Allow_Breakaway, DWORD &Active) {
  const Windows::Object_Handle Job(CreateJobObjectA(nullptr, nullptr));
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION Limits{};
  Limits.BasicLimitInformation.LimitFlags =
      JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | (Allow_Breakaway ? JOB_OBJECT_LIMIT_BREAKAWAY_OK : 0);
  EXPECT_TRUE(SetInformationJobObject(Job.Get(), JobObjectExtendedLimitInformation, &Limits,
                                      sizeof Limits));
  const Test_Support::Scratch_Directory Capture;
  const HANDLE Output =
      Test_Support::Inheritable_File(Capture / "stdout", GENERIC_WRITE, CREATE_ALWAYS);
  std::string Command_Line = Test_Support::Quoted(Program);
  for (const std::string &Argument : Arguments)
    (Command_Line += ' ') += Test_Support::Quoted(Argument);
  STARTUPINFOA Startup{};
  Startup.cb = sizeof Startup;
  Startup.dwFlags = STARTF_USESTDHANDLES;
  Startup.hStdOutput = Startup.hStdError = Output;
  PROCESS_INFORMATION Process{};
  // Suspended until it is in the job: nothing it starts may escape it so.
  EXPECT_TRUE(CreateProcessA(Program.c_str(), Command_Line.data(), nullptr, nullptr, TRUE,
                             CREATE_SUSPENDED, nullptr, Directory.c_str(), &Startup, &Process));
  CloseHandle(Output);
  EXPECT_TRUE(AssignProcessToJobObject(Job.Get(), Process.hProcess));
  ResumeThread(Process.hThread);
  CloseHandle(Process.hThread);
  EXPECT_EQ(WaitForSingleObject(Process.hProcess, Test_Support::Hang_Limit_Ms), WAIT_OBJECT_0);
  JOBOBJECT_BASIC_ACCOUNTING_INFORMATION Accounting{};
  EXPECT_TRUE(QueryInformationJobObject(Job.Get(), JobObjectBasicAccountingInformation, &Accounting,
                                        sizeof Accounting, nullptr));
  Active = Accounting.ActiveProcesses;
  Run_Result Result = Test_Support::Result_Of(Process.hProcess, Process.dwProcessId,
                                              Test_Support::Read_File(Capture / "stdout"));
  CloseHandle(Process.hProcess);
  return Result;
}

// Runs Program with its standard output into a pipe read to its end, as an
// editor reads a tool's output. Release makes whatever it started end; it is
// called when the end does not come.
Run_Result Read_To_The_End(const std::string &Program, const Strings &Arguments,
                           const std::string &Directory, const std::function<void()> &Release) {
  SECURITY_ATTRIBUTES Inherited{sizeof Inherited, nullptr, TRUE};
  HANDLE Reader = nullptr, Writer = nullptr;
  EXPECT_TRUE(CreatePipe(&Reader, &Writer, &Inherited, 0));
  SetHandleInformation(Reader, HANDLE_FLAG_INHERIT, 0);
  DWORD Process_Id = 0;
  const HANDLE Process =
      Test_Support::Start_Process(Program, Arguments, Directory, {}, Writer, Writer, &Process_Id);
  CloseHandle(Writer);
  auto Reading = std::async(std::launch::async, [Reader] {
    std::string Text;
    char Buffer[4096];
    DWORD Count = 0;
    while (ReadFile(Reader, Buffer, sizeof Buffer, &Count, nullptr))
      Text.append(Buffer, Count);
    return Text;
  });
  if (Reading.wait_for(std::chrono::milliseconds(Test_Support::Hang_Limit_Ms)) !=
      std::future_status::ready) {
    ADD_FAILURE() << "the output did not end when the client did";
    Release();
  }
  const std::string Output = Reading.get();
  CloseHandle(Reader);
  WaitForSingleObject(Process, Test_Support::Hang_Limit_Ms);
  Run_Result Result = Test_Support::Result_Of(Process, Process_Id, Output);
  CloseHandle(Process);
  return Result;
}

} // namespace

TEST_F(Client_Run, TheServerOutlivesTheJobOfTheClientThatStartedIt) {
  Server_Script("on S\r\nreply answered\r\nidle 60\r\n");
  Configure();
  DWORD Active = 0;
  EXPECT_EQ(Run_In_Job(Client, {Config, "syntax", Source}, Dir.Path(), true, Active).Output,
            "answered\r\n");
  EXPECT_EQ(Active, 0u) << "the server broke away from the job";
  Await_Server_Idle(Pipe);
  EXPECT_EQ(Run_Client({Config, "syntax", Source}).Output, "answered\r\n");
  EXPECT_EQ(Server_Command_Lines().size(), 1u) << "the same server answered";

  // A job that forbids breaking away keeps the server: it is started all the
  // same, and ends with the job.
  Run_Client({Config, "close"});
  Await_Server_Gone(Pipe);
  EXPECT_EQ(Run_In_Job(Client, {Config, "syntax", Source}, Dir.Path(), false, Active).Output,
            "answered\r\n");
  EXPECT_GE(Active, 1u);
  Await_Server_Gone(Pipe);
}

TEST_F(Client_Run, OutputReadToItsEndEndsWithTheClientNotWithWhatItStarted) {
  Server_Script("on S\r\nreply answered\r\non L\r\nreply >main.src:1:1\r\nidle 300\r\n");
  Configure({{"Editor", Editor}});
  const auto End_Server = [this] { Run_Client({Config, "close"}); };
  EXPECT_EQ(Read_To_The_End(Client, {Config, "syntax", Source}, Dir.Path(), End_Server).Output,
            "answered\r\n");

  const std::string Hold_Name = Pipe + "_hold";
  const Windows::Object_Handle Hold(CreateEventA(nullptr, TRUE, FALSE, Hold_Name.c_str()));
  SetEnvironmentVariableA("TEZ_PROBE_HOLD", Hold_Name.c_str());
  const Run_Result Location = Read_To_The_End(Client, {Config, "l", Source, "1", "1"}, Dir.Path(),
                                              [&] { SetEvent(Hold.Get()); });
  SetEnvironmentVariableA("TEZ_PROBE_HOLD", nullptr);
  EXPECT_EQ(Location.Output, "");
  EXPECT_EQ(Editor_Command_Lines(), Strings{}) << "the editor was still open at the end";
  SetEvent(Hold.Get());
  Test_Support::Await_Children({Location}, "tez_server.exe");
  EXPECT_EQ(Editor_Command_Lines(), Strings{Test_Support::Quoted(Editor) + " main.src:1:1"});
  EXPECT_EQ(Server_Command_Lines().size(), 1u) << "the server lived on after the first end";
}

TEST_F(Client_Run, AServerEndingWhileClientsWaitForItLosesNoQuery) {
  // Six clients start the server (one of them wins) and queue up; after three
  // conversations it ends with the others waiting. The pause holds each
  // conversation long enough for them to queue: a slow machine weakens the
  // test, never fails it.
  Server_Script("serve 3\r\non S\r\npause 0.5\r\nreply answered\r\nidle 60\r\n");
  Configure();
  for (const Run_Result &Result : Run_Clients_At_Once({Config, "syntax", Source}, 6))
    EXPECT_EQ(Result.Output, "answered\r\n");
  EXPECT_GE(Server_Command_Lines(2).size(), 2u);
}

TEST_F(Client_Run, AClientThatStartedTheServerStartsItAgainWhenAnotherClosesIt) {
  // The query starts the server, which listens only later; a close comes in
  // first and holds the server while the query waits its turn, then ends it.
  // The close holds it across the query's later attempts to open.
  Server_Script("delay_start 0.5\r\non T\r\npause 5\r\non S\r\nreply answered\r\nidle 60\r\n");
  Configure();
  Test_Support::Started_Run Query(Client, {Config, "syntax", Source}, Dir.Path());
  Await_Server_Up(Pipe);
  Run_Client({Config, "close"});
  EXPECT_EQ(Query.Finish().Output, "answered\r\n");
}
