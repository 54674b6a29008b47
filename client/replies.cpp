#include "client/replies.hpp"

#include "client/command_line.hpp"
#include "client/console.hpp"
#include "client/conversation.hpp"
#include "log/log.hpp"
#include "text/text.hpp"
#include "windows/windows.hpp"

namespace Client {

std::string Editor_Command;

namespace {

void Start_Editor(std::string_view Location) {
  try {
    Log::Put("Starting Editor:", Location);
    const std::optional<Windows::Program> Editor =
        Windows::Find_Program(Editor_Command, Windows::Program_Value::Command);
    if (!Editor)
      throw Windows::Process_Creation_Failure(
          "not found: " +
          Windows::Program_Search_Account(Editor_Command, Windows::Program_Value::Command));
    // An editor reading our output to its end must not wait for this one
    // too; a console editor started from a console keeps that console.
    const Windows::Started_Program Started = Windows::Start_Program(
        *Editor, Location, {.Null_Standard_Handles = !Windows::Standard_Output_Is_Console()});
    Log::Put("Editor started: process " + std::to_string(Started.Process_Id) + ", " +
             Started.Application + ", command line " + Started.Command_Line);
  } catch (const Windows::Process_Creation_Failure &Failed) {
    Log::Put("Editor not started: " + Failed.reason());
    Console::Put_Line("Could not start editor!");
  } catch (...) {
    Log::Put("Unexpected error when starting editor");
  }
}

} // namespace

bool Handle_Reply() {
  // A reply may be as long as Pipelength allows: it is printed and logged
  // from the read buffer itself.
  const std::string_view Reply = Read_From_Server();
  if (Reply.empty()) {
    Console::Flush();
    return true;
  }
  Log::Put("Reply from Server=", Reply);
  if (Reply == ".") return false;
  if (!Text::Is_Empty(Editor_Command) && Reply.size() > 1 && Reply.front() == '>') {
    Start_Editor(Reply.substr(1));
  } else {
    Console::Put_Line(Reply);
    if (Reply.front() == '!') Shutdown_Requested = true;
  }
  Console::Flush();
  return true;
}

} // namespace Client
