#include "client/configuration.hpp"

#include "client/command_line.hpp"
#include "client/console.hpp"
#include "client/conversation.hpp"
#include "client/replies.hpp"
#include "log/log.hpp"
#include "text/integer_literal.hpp"
#include "windows/files.hpp"
#include "windows/pipe.hpp"
#include "windows/windows.hpp"

#include <optional>

namespace Client {

namespace {

constexpr std::string_view Section = "Tez_Client";

// The chosen file's section, read once.
std::optional<Windows::Profile_Section> Settings;

} // namespace

void Process_Configuration_File(std::string_view File_Name) {
  try {
    std::string Chosen(File_Name);
    if (File_Name.find_first_of("\\:") == std::string_view::npos) {
      std::string Candidate = Windows::Module_Directory() + Chosen;
      if (Windows::Files::File_Exists(Candidate, false)) Chosen = std::move(Candidate);
    }
    Configure_Server(Chosen);
  } catch (...) {
    Log::Report("Process_Configuration_File", std::current_exception());
    Console::Put_Line("Unexpected error");
    throw;
  }
}

void Configure_Server(std::string_view File_Name) {
  Settings.emplace(Section, File_Name);
  const std::string Pipe_Name = Read_Key("Pipename");
  const std::string Pipe_Length_Text = Read_Key("Pipelength");
  const std::string Server_Path = Read_Key("Server");
  if (Pipe_Name.empty()) {
    Console::Put_Line("Pipename not specified in configuration file");
    return;
  }
  if (!Pipe_Length_Text.empty()) {
    try {
      const std::int32_t Length = Text::Integer_Value(Pipe_Length_Text);
      if (Length >= 1) Pipe_Length = Length;
    } catch (const Text::Conversion_Error &) {}
  }
  try {
    if (!Connect_To_Server(Pipe_Name, Pipe_Length_Text, Server_Path)) return;
    if (Current_Command == Command_Kind::Close) return;
    // The server started never listened: said here whether or not there are
    // settings to send, so that the query that cannot go out is told too.
    if (!Server_Pipe) throw Windows::Pipe::No_Handle();
    Send_Setting('E', "Errors");
    Send_Setting('F', "Format");
    Send_Setting('I', "Editor");
    Send_Setting('X', "Compiler");
    Send_Setting('P', "Path");
    Send_Setting('T', "Timeout");
    Send_Setting('U', "Units");
    Editor_Command = Read_Key("Editor");
  } catch (const Windows::Process_Creation_Failure &) {
    Console::Put_Line("Could not start server");
  } catch (const Windows::Pipe::Invalid_Name &) {
    Console::Put_Line("Invalid Pipename specified in configuration file");
  } catch (const Windows::Pipe::No_Handle &) {
    Console::Put_Line("Cannot communicate with server");
  }
}

std::string Read_Key(std::string_view Key) {
  return Settings ? Settings->Value(Key) : std::string();
}

void Send_Setting(char Code, std::string_view Key) {
  const std::string Value = Read_Key(Key);
  if (Value.empty()) return;
  Write_To_Server(Code + Value);
  Read_Replies();
}

} // namespace Client
