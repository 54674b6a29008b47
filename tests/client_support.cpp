#include "client_support.hpp"

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>

#include <windows.h>

namespace Test_Support {

namespace {

std::string Full_Pipe_Name(const std::string &Name) {
  return "\\\\.\\pipe\\" + Name;
}

} // namespace

void Client_Run::SetUp() {
  Write_File(Source, "procedure Main is begin null; end Main;\r\n");
  SetEnvironmentVariableA("TEZ_SERVER_RECORD", Server_Record.c_str());
  SetEnvironmentVariableA("TEZ_SERVER_SCRIPT", Script.c_str());
  SetEnvironmentVariableA("TEZ_PROBE_RECORD", Editor_Record.c_str());
  // A server a test leaves behind ends by itself soon after.
  Server_Script("idle 5\r\n");
  Configured_Pipe_ = Pipe;
}

void Client_Run::TearDown() {
  // Ends a server that is still listening on this test's pipe.
  Configure({{"Pipename", Pipe}}, false);
  Run_Client({Config, "close"});
  SetEnvironmentVariableA("TEZ_SERVER_RECORD", nullptr);
  SetEnvironmentVariableA("TEZ_SERVER_SCRIPT", nullptr);
  SetEnvironmentVariableA("TEZ_PROBE_RECORD", nullptr);
}

void Client_Run::Configure(const Keys &Extra, bool Defaults) {
  std::string Text = "[Tez_Client]\r\n";
  Configured_Pipe_ = Defaults ? Pipe : std::string();
  if (Defaults) Text += "Pipename=" + Pipe + "\r\nServer=" + Server + "\r\n";
  for (const auto &[Key, Value] : Extra) {
    Text.append(Key).append("=").append(Value).append("\r\n");
    if (Key == "Pipename") Configured_Pipe_ = Value;
  }
  Write_File(Config, Text);
}

void Client_Run::Server_Script(const std::string &Text) {
  Write_File(Script, Text);
}

Run_Result Client_Run::Run_Client(const std::vector<std::string> &Arguments,
                                  const std::wstring &Wide_Arguments) {
  const auto Start = std::chrono::steady_clock::now();
  Run_Result Result = Started_Run(Client, Arguments, Dir.Path(), {}, Wide_Arguments).Finish();
  Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
  Settle(Result);
  return Result;
}

std::vector<Run_Result> Client_Run::Run_Clients_At_Once(const std::vector<std::string> &Arguments,
                                                        int Count) {
  std::vector<std::unique_ptr<Started_Run>> Started;
  Started.reserve(static_cast<std::size_t>(Count));
  for (int I = 0; I < Count; ++I)
    Started.push_back(std::make_unique<Started_Run>(Client, Arguments, Dir.Path()));
  std::vector<Run_Result> Results;
  Results.reserve(Started.size());
  for (const auto &Run : Started)
    Results.push_back(Run->Finish());
  for (const Run_Result &Result : Results)
    Settle(Result);
  return Results;
}

void Client_Run::Settle(const Run_Result &Result) {
  EXPECT_EQ(Result.Exit_Code, 0u);
  EXPECT_EQ(Result.Errors, "") << "nothing ever goes to standard error";
  Clients_.push_back(Result);
  Await_Children(Clients_, "tez_server.exe");
  if (!Configured_Pipe_.empty()) Await_Server_Idle(Configured_Pipe_);
}

void Client_Run::Await_Request(const std::string &Request) const {
  const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(Hang_Limit_Ms);
  while (std::chrono::steady_clock::now() < Deadline) {
    const std::vector<std::string> Got = Requests();
    if (std::find(Got.begin(), Got.end(), Request) != Got.end()) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ADD_FAILURE() << "the server never received " << Request;
}

void Client_Run::Await_Server_Idle(const std::string &Pipe_Name) const {
  // A single-instance server lets a waiter in only once it listens again,
  // which it does after recording the end of the conversation. A server that
  // closes its pipe meanwhile ends the wait too (the name is gone then).
  if (WaitNamedPipeA(Full_Pipe_Name(Pipe_Name).c_str(), Hang_Limit_Ms)) return;
  const DWORD Error = GetLastError();
  if (Error == ERROR_SEM_TIMEOUT)
    ADD_FAILURE() << "the server on " << Pipe_Name << " never finished its conversation:\n"
                  << (GetFileAttributesA(Server_Record.c_str()) == INVALID_FILE_ATTRIBUTES
                          ? std::string("(no record)")
                          : Read_File(Server_Record));
}

void Client_Run::Await_Server_Gone(const std::string &Pipe_Name) const {
  const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(Hang_Limit_Ms);
  while (WaitNamedPipeA(Full_Pipe_Name(Pipe_Name).c_str(), Hang_Limit_Ms) ||
         GetLastError() != ERROR_FILE_NOT_FOUND) {
    if (std::chrono::steady_clock::now() > Deadline) {
      ADD_FAILURE() << "the server on " << Pipe_Name << " never ended";
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void Client_Run::Await_Server_Up(const std::string &Pipe_Name) const {
  const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(Hang_Limit_Ms);
  while (!WaitNamedPipeA(Full_Pipe_Name(Pipe_Name).c_str(), 1) &&
         GetLastError() == ERROR_FILE_NOT_FOUND) {
    if (std::chrono::steady_clock::now() > Deadline) {
      ADD_FAILURE() << "the server on " << Pipe_Name << " never listened";
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

std::vector<std::string> Record_Values(const std::string &Record_File, const std::string &Key) {
  std::vector<std::string> Values;
  if (GetFileAttributesA(Record_File.c_str()) == INVALID_FILE_ATTRIBUTES) return Values;
  const std::string Record = Read_File(Record_File);
  const std::string Prefix = Key + "=";
  std::size_t Start = 0;
  while (Start < Record.size()) {
    const std::size_t End = Record.find("\r\n", Start);
    const std::string Line = Record.substr(Start, End - Start);
    if (Line.rfind(Prefix, 0) == 0) Values.push_back(Line.substr(Prefix.size()));
    if (End == std::string::npos) break;
    Start = End + 2;
  }
  return Values;
}

std::vector<std::string> Client_Run::Requests() const {
  return Record_Values(Server_Record, "request");
}

std::vector<std::string> Client_Run::Server_Command_Lines(std::size_t Expected) const {
  const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(Hang_Limit_Ms);
  std::vector<std::string> Lines = Record_Values(Server_Record, "command_line");
  while (Lines.size() < Expected && std::chrono::steady_clock::now() < Deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    Lines = Record_Values(Server_Record, "command_line");
  }
  return Lines;
}

std::vector<std::string> Client_Run::Editor_Command_Lines() const {
  return Record_Values(Editor_Record, "command_line");
}

} // namespace Test_Support
