#include "client_support.hpp"

#include <windows.h>

namespace Test_Support {

const char *const Usage_Text =
    "Tez_Client\r\n"
    "-- Program to communicate with the Tez Server\r\n"
    "-- Parameters:\r\n"
    "-- 1: Name of configuration file. Section=[Tez_Client]\r\n"
    "-- 2: Command = [Close | Reference | Syntax | Location | Unused]\r\n"
    "-- Syntax and Unused require an additional parameter:\r\n"
    "-- 3: Name of file to check\r\n"
    "-- Reference and Location require three further parameters:\r\n"
    "-- 3: Name of file being queried\r\n"
    "-- 4: Line number of query = 1..1'048'575\r\n"
    "-- 5: Column number of query = 1..4095\r\n";

void Client_Run::SetUp() {
  Write_File(Source, "procedure Main is begin null; end Main;\r\n");
  SetEnvironmentVariableA("TEZ_SERVER_RECORD", Server_Record.c_str());
  SetEnvironmentVariableA("TEZ_SERVER_SCRIPT", Script.c_str());
  SetEnvironmentVariableA("TEZ_PROBE_RECORD", Editor_Record.c_str());
  // A server a test leaves behind ends by itself soon after.
  Server_Script("idle 5\r\n");
}

void Client_Run::TearDown() {
  // Ends a server that is still listening on this test's pipe.
  Write_File(Config, "[Tez_Client]\r\nPipename=" + Pipe + "\r\n");
  Test_Support::Run(Client, {Config, "close"}, Dir.Path());
  SetEnvironmentVariableA("TEZ_SERVER_RECORD", nullptr);
  SetEnvironmentVariableA("TEZ_SERVER_SCRIPT", nullptr);
  SetEnvironmentVariableA("TEZ_PROBE_RECORD", nullptr);
}

void Client_Run::Configure(const Keys &Extra, bool Defaults) {
  std::string Text = "[Tez_Client]\r\n";
  if (Defaults) Text += "Pipename=" + Pipe + "\r\nServer=" + Server + "\r\n";
  for (const auto &[Key, Value] : Extra)
    Text += Key + "=" + Value + "\r\n";
  Write_File(Config, Text);
}

void Client_Run::Server_Script(const std::string &Text) {
  Write_File(Script, Text);
}

Run_Result Client_Run::Run_Client(const std::vector<std::string> &Arguments) {
  const auto Start = std::chrono::steady_clock::now();
  Run_Result Result = Test_Support::Run(Client, Arguments, Dir.Path());
  Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
  EXPECT_EQ(Result.Exit_Code, 0u);
  EXPECT_EQ(Result.Errors, "") << "nothing ever goes to standard error";
  return Result;
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

std::vector<std::string> Client_Run::Server_Command_Lines() const {
  return Record_Values(Server_Record, "command_line");
}

std::vector<std::string> Client_Run::Editor_Command_Lines(std::size_t Expected) const {
  // The client does not wait for the editor. Half a second shows that none
  // came; up to five seconds for those that should.
  const int Polls = Expected == 0 ? 10 : 100;
  for (int Poll = 0; Poll < Polls; ++Poll) {
    if (Expected > 0 && Record_Values(Editor_Record, "command_line").size() >= Expected) break;
    Sleep(50);
  }
  return Record_Values(Editor_Record, "command_line");
}

} // namespace Test_Support
