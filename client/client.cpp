#include "client/client.hpp"

#include "client/configuration.hpp"
#include "client/console.hpp"
#include "client/conversation.hpp"
#include "client/replies.hpp"
#include "log/log.hpp"

namespace Client {

Argument_List Arguments;

namespace {

std::vector<std::wstring> Given;

} // namespace

void Initialise(std::vector<std::wstring> Command_Line) {
  Given = std::move(Command_Line);
  Editor_Command.clear();
}

void Work() noexcept {
  try {
    // Converted here, once the log is there to say what was done with an
    // argument that the code page cannot hold.
    Arguments = Held_Arguments(Given);
    if (Arguments.size() < 2) {
      Print_Usage();
      return;
    }
    Current_Command = Lookup_Command(Arguments[1]);
    if (Current_Command == Command_Kind::None)
      Console::Put_Line("Unknown command");
    else
      Process_Configuration_File(Arguments[0]);

    bool Request_Sent = false;
    const Request_Outcome Outcome = Build_Request(Current_Command, Arguments, Shutdown_Requested);
    switch (Outcome.Outcome) {
    case Request_Outcome::Kind::Missing_Source:
      Console::Put_Line("Source file not found.");
      return;
    case Request_Outcome::Kind::Send:
      Request_Sent = true;
      Write_To_Server(Outcome.Request);
      break;
    case Request_Outcome::Kind::No_Request:
      break;
    }
    if (Request_Sent) {
      Read_Replies();
      Write_To_Server("C");
      return;
    }
    // No request: the closing request still goes first, and the usage text
    // follows only when it could be written. Without a pipe the write raises
    // WINDOWS.PIPE.NO_HANDLE and the run ends there, with nothing printed.
    Write_To_Server("C");
    Print_Usage();
  } catch (...) {
    Log::Report("Client.Work", std::current_exception());
  }
}

} // namespace Client
