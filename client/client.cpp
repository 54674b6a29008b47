#include "client/client.hpp"

#include "client/configuration.hpp"
#include "client/console.hpp"
#include "client/conversation.hpp"
#include "client/replies.hpp"
#include "log/log.hpp"
#include "windows/pipe.hpp"

namespace Client {

Argument_List Arguments;

namespace {

std::vector<std::wstring> Given;

// The one request and its replies. A query that gets no answer says so: the
// transport's failures are named in the log only. Without a connection the
// configuration step has said so already, or, for Close, there is no server
// to close.
void Query(std::string_view Request) {
  try {
    Write_To_Server(Request);
    Read_Replies();
  } catch (const Windows::Pipe::No_Handle &) {
    throw;
  } catch (...) {
    Console::Put_Line("Unexpected error");
    throw;
  }
}

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

    const Request_Outcome Outcome = Build_Request(Current_Command, Arguments, Shutdown_Requested);
    switch (Outcome.Outcome) {
    case Request_Outcome::Kind::Missing_Source:
      Console::Put_Line("Source file not found.");
      return;
    case Request_Outcome::Kind::Send:
      Query(Outcome.Request);
      // After "T0" the server may have gone already: a failure here is only
      // logged.
      Write_To_Server("C");
      return;
    case Request_Outcome::Kind::No_Request:
      break;
    }
    // No request: the closing request still goes first, and the usage text
    // follows only when it could be written. Without a pipe the write raises
    // WINDOWS.PIPE.NO_HANDLE and the run ends there, after the line that told
    // why none is open.
    Write_To_Server("C");
    Print_Usage();
  } catch (...) {
    Log::Report("Client.Work", std::current_exception());
  }
}

} // namespace Client
