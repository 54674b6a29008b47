#include "client_support.hpp"

#include <windows.h>

namespace Test_Support {

void Client_Run::SetUp() {
  Write_File(Source, "procedure Main is begin null; end Main;\r\n");
  SetEnvironmentVariableA("TEZ_SERVER_RECORD", Server_Record.c_str());
  SetEnvironmentVariableA("TEZ_SERVER_SCRIPT", Script.c_str());
  SetEnvironmentVariableA("TEZ_PROBE_RECORD", Editor_Record.c_str());
  // A server a test leaves behind ends by itself soon after.
  Server_Script("idle 5\r\n");
}

void Client_Run::TearDown() {
  // Ends a server that is still listening on this test's pipe. A server still
  // finishing the last conversation is busy for a moment: try again then.
  Write_File(Config, "[Tez_Client]\r\nPipename=" + Pipe + "\r\n");
  for (int Attempt = 0; Attempt < 200; ++Attempt) {
    if (Test_Support::Run(Client, {Config, "close"}, Dir.Path()).Output.empty()) break;
    Sleep(20);
  }
  SetEnvironmentVariableA("TEZ_SERVER_RECORD", nullptr);
  SetEnvironmentVariableA("TEZ_SERVER_SCRIPT", nullptr);
  SetEnvironmentVariableA("TEZ_PROBE_RECORD", nullptr);
}

void Client_Run::Configure(const Keys &Extra, bool Defaults) {
  std::string Text = "[Tez_Client]\r\n";
  if (Defaults) Text += "Pipename=" + Pipe + "\r\nServer=" + Server + "\r\n";
  for (const auto &[Key, Value] : Extra)
    Text.append(Key).append("=").append(Value).append("\r\n");
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
