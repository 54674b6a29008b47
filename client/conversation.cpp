#include "client/conversation.hpp"

#include "client/command_line.hpp"
#include "client/console.hpp"
#include "client/replies.hpp"
#include "log/log.hpp"
#include "text/unsigned.hpp"
#include "windows/windows.hpp"

#include <chrono>
#include <optional>
#include <vector>

namespace Client {

Windows::Pipe::Pipe_Handle Server_Pipe;
std::int32_t Pipe_Length = 1000;

namespace {

using namespace Windows::Pipe;

// The opens after a start: 0.1 s after it, then 1 s apart, the last one at
// the end of the time given to the server.
constexpr int Open_Attempts = 5;
const Duration Start_Up_Wait = Duration::From_Raw(1638); // 0.1 s
const Duration Retry_Wait = Duration::From_Raw(Duration::Units_Per_Second);

// How long, from its first "busy" answer, a server that serves other clients
// is waited for.
constexpr std::chrono::seconds Busy_Limit{30};

// How a wait ended in a failure: its name, and the system's error number
// when it came from one.
std::string Outcome(const Failure &Failed) {
  if (Failed.reason().empty()) return Failed.name();
  return std::string(Failed.name()) + " (" + Failed.reason() + ")";
}

// Reused for every reply, grown only by a longer one; its contents are never
// read beyond what arrived.
std::vector<char> Reply_Buffer;

// Opens Server_Pipe. A server that is up but busy with another client (its
// instances all taken) is waited for, up to Busy_Limit in all over the whole
// connection step; the wait's start and end go to the log, so that a slow
// query can be told from a slow server. NO_SERVER when nobody listens;
// NAME_IN_USE when the server is still busy at the limit.
class Server_Opener {
public:
  explicit Server_Opener(std::string_view Pipe_Name) : Name_(Pipe_Name) {}

  void Open_Pipe() {
    bool Busy = false;
    Gone_ = false;
    try {
      for (;;) {
        try {
          Open(Server_Pipe, Name_, Pipe_Kind::Client_End, Pipe_Mode::Duplex, Pipe_Length);
          End_Wait("connected");
          return;
        } catch (const Name_In_Use &) {
          Busy = true;
        } catch (const Failure &Failed) {
          End_Wait(Outcome(Failed));
          throw;
        }
        Wait_For_Turn();
      }
    } catch (const No_Server &) {
      // Found busy, then gone: it ended while we waited for our turn.
      Gone_ = Busy;
      throw;
    }
  }

  // Whether the last open failed for a server that it found busy and then
  // gone: one that ended while we waited for our turn.
  bool Server_Gone() const { return Gone_; }

private:
  using Clock = std::chrono::steady_clock;

  void Wait_For_Turn() {
    const Clock::time_point Now = Clock::now();
    if (!Busy_Since_) Busy_Since_ = Now;
    if (!Waiting_) {
      Waiting_ = true;
      Log::Put("Server busy: waiting up to " + std::to_string(Busy_Limit.count()) +
               " seconds for pipe " + std::string(Name_));
    }
    const std::chrono::duration<double> Left = *Busy_Since_ + Busy_Limit - Now;
    try {
      if (Left.count() <= 0) throw Windows::Pipe::Timeout();
      Log::Flush();
      Wait_For_Instance(Name_, Duration::From_Seconds(Left.count()));
    } catch (const Windows::Pipe::Timeout &) {
      End_Wait("still busy, given up");
      throw Name_In_Use();
    } catch (const Failure &Failed) {
      End_Wait(Outcome(Failed));
      throw;
    }
  }

  void End_Wait(std::string_view How) {
    if (!Waiting_) return;
    Waiting_ = false;
    const auto Waited =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - *Busy_Since_);
    Log::Put("Server wait ended after " + std::to_string(Waited.count()) +
             " ms: " + std::string(How));
  }

  std::string_view Name_;
  std::optional<Clock::time_point> Busy_Since_; // the first busy answer
  bool Waiting_ = false;
  bool Gone_ = false;
};

// Each argument whole, whatever blanks or quotes it holds.
Windows::Started_Program Start_Server(const Windows::Program &Server,
                                      const std::vector<std::string_view> &Arguments) {
  try {
    // It serves between queries: it must outlive this run's console and job,
    // and never hold the output that the editor reads to its end.
    Windows::Started_Program Started = Windows::Start_Program(
        Server, Arguments, {.Hidden_Console = true, .Null_Standard_Handles = true});
    Log::Put("Server started: process " + std::to_string(Started.Process_Id) + ", " +
             Started.Application + ", command line " + Started.Command_Line);
    return Started;
  } catch (const Windows::Process_Creation_Failure &Failed) {
    Log::Put("Server not started: " + Failed.reason());
    throw;
  }
}

using Clock = std::chrono::steady_clock;

std::string Milliseconds_Since(Clock::time_point Start) {
  return std::to_string(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - Start).count());
}

// Waits for a server this run started: 0.1 s, then up to Open_Attempts opens
// 1 s apart, each wait with its records on disk. False when the server was
// found busy and then gone: it is to be started again.
bool Await_Started_Server(Server_Opener &Opener, const Windows::Started_Program &Server,
                          std::string_view Pipe_Name) {
  const Clock::time_point Start = Clock::now();
  const auto Ended = [&](std::string_view How) {
    Log::Put("Wait for the server started ended after " + Milliseconds_Since(Start) +
             " ms: " + std::string(How));
  };
  // Said once. The wait goes on: a launcher may have started the real server
  // and ended.
  bool End_Told = false;
  const auto Tell_End = [&] {
    const std::optional<std::uint32_t> Code = End_Told ? std::nullopt : Server.Exit_Code();
    if (!Code) return;
    End_Told = true;
    Log::Put("Server process " + std::to_string(Server.Process_Id) + " has ended, exit code " +
             std::to_string(*Code) + " (" + Unsigned::Image(Unsigned::Unsigned_32{*Code}) +
             "): still waiting for its pipe");
  };
  Log::Put("Waiting for the server started: 0.1 seconds, then up to " +
           std::to_string(Open_Attempts) + " attempts 1 second apart to open pipe " +
           std::string(Pipe_Name));
  Log::Flush();
  Windows::Delay(Start_Up_Wait);
  for (int Attempt = 1;; ++Attempt) {
    try {
      Opener.Open_Pipe();
      Ended("connected");
      return true;
    } catch (const No_Server &) {
      if (Opener.Server_Gone()) {
        Ended("found busy, then gone: starting it again");
        return false;
      }
      Tell_End();
      if (Attempt == Open_Attempts) break;
      Log::Put("No server yet at attempt " + std::to_string(Attempt) + " of " +
               std::to_string(Open_Attempts) + ": waiting 1 second");
      Log::Flush();
      Windows::Delay(Retry_Wait);
    } catch (const Failure &Failed) {
      Ended(Outcome(Failed));
      throw;
    }
  }
  Ended("no server after " + std::to_string(Open_Attempts) + " attempts");
  return true;
}

// The connection step proper; Connect_To_Server adds the refusal of a
// server that is not the user's own.
bool Connect(std::string_view Pipe_Name, std::string_view Pipe_Length_Text,
             std::string_view Server_Path) {
  Server_Opener Opener(Pipe_Name);
  try {
    Opener.Open_Pipe();
    return true;
  } catch (const No_Server &) {}
  if (Current_Command == Command_Kind::Close) return true;
  if (Server_Path.empty()) {
    Console::Put_Line("Server not specified in configuration file");
    return false;
  }
  const std::optional<Windows::Program> Server =
      Windows::Find_Program(Server_Path, Windows::Program_Value::File);
  if (!Server) {
    Log::Put("Server not found: " +
             Windows::Program_Search_Account(Server_Path, Windows::Program_Value::File));
    Console::Put_Line("Specified server not found");
    return false;
  }
  std::vector<std::string_view> Arguments{Pipe_Name};
  if (!Pipe_Length_Text.empty()) Arguments.push_back(Pipe_Length_Text);
  // Started again when it ends while we wait for our turn, as a server that
  // never listened: other waiters may race us to it, and the one that wins
  // serves us all. The busy limit bounds the waits, so the starts too.
  for (;;) {
    const Windows::Started_Program Started = Start_Server(*Server, Arguments);
    if (Await_Started_Server(Opener, Started, Pipe_Name)) return true;
  }
}

bool Refuse(std::string_view Found) {
  Log::Put("Server pipe refused: " + std::string(Found));
  Console::Put_Line("Server pipe belongs to another user");
  return false;
}

} // namespace

bool Connect_To_Server(std::string_view Pipe_Name, std::string_view Pipe_Length_Text,
                       std::string_view Server_Path) {
  // Nothing goes to a server that is not the user's own: it would learn the
  // settings and the query, and choose what the editor is started with.
  try {
    return Connect(Pipe_Name, Pipe_Length_Text, Server_Path);
  } catch (const Foreign_Server &Refused) {
    return Refuse(Refused.reason());
  } catch (const Access_Denied &) {
    return Refuse("access denied at the open: the pipe does not let this user in");
  }
}

void Write_To_Server(std::string_view Request) {
  Log::Put("Write to Server=" + std::string(Request));
  // A write blocks until the server reads when the request exceeds what the
  // pipe holds.
  Log::Flush();
  Write(Server_Pipe, Request.data(), static_cast<std::int32_t>(Request.size()));
}

std::string_view Read_From_Server() {
  // The read may block. Asking first whether a reply is there would cost more
  // than the write it spares: under Wine a peek is a round trip to the wine
  // server per reply, while writing out the buffer is one plain system call.
  Log::Flush();
  // The pipe was opened with Pipe_Length: its own size bounds the reply.
  const std::int32_t Count = Read_Message(Server_Pipe, Reply_Buffer);
  return {Reply_Buffer.data(), static_cast<std::size_t>(Count)};
}

void Read_Replies() {
  while (Handle_Reply()) {}
}

} // namespace Client
