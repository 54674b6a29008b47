#pragma once

#include "core/duration.hpp"
#include "core/failure.hpp"
#include "windows/handle.hpp"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Named pipes in message mode, both ends. A client end opens a pipe another
// process created and works synchronously; a server end creates one instance,
// waits for one client and works with overlapped operations and time-outs.
// Every transfer is one whole message, read into and written from the
// caller's storage.
namespace Windows::Pipe {

using Access_Denied = Named_Failure<"WINDOWS.PIPE.ACCESS_DENIED">;
using Bad_Pipe = Named_Failure<"WINDOWS.PIPE.BAD_PIPE">;
using Broken = Named_Failure<"WINDOWS.PIPE.BROKEN">;
// The server of a client end is not the user's own (or cannot be shown to be).
using Foreign_Server = Named_Failure<"WINDOWS.PIPE.FOREIGN_SERVER">;
using Invalid_Name = Named_Failure<"WINDOWS.PIPE.INVALID_NAME">;
using More_Data = Named_Failure<"WINDOWS.PIPE.MORE_DATA">;
using Name_In_Use = Named_Failure<"WINDOWS.PIPE.NAME_IN_USE">;
using No_Data = Named_Failure<"WINDOWS.PIPE.NO_DATA">;
using No_Handle = Named_Failure<"WINDOWS.PIPE.NO_HANDLE">;
using No_Server = Named_Failure<"WINDOWS.PIPE.NO_SERVER">;
using Not_Server = Named_Failure<"WINDOWS.PIPE.NOT_SERVER">;
using Timeout = Named_Failure<"WINDOWS.PIPE.TIMEOUT">;
using Unknown_Error = Named_Failure<"WINDOWS.PIPE.UNKNOWN_ERROR">;
using Write_Incomplete = Named_Failure<"WINDOWS.PIPE.WRITE_INCOMPLETE">;

enum class Pipe_Kind : std::uint8_t { Client_End, Server_End };

// Inbound: client to server only; Outbound: server to client only.
enum class Pipe_Mode : std::uint8_t { Duplex, Inbound, Outbound };

// A flag under its own lock. The transport sets it whenever an operation on a
// server end fails and after each delivery of a pending message; Wait blocks
// until it is set and clears it, so one Set releases one Wait.
class Pipe_Signal {
public:
  void Set();
  void Wait();
  // Wait without blocking: clears the flag and returns true when it was set.
  bool Try_Wait();

private:
  std::mutex Lock_;
  std::condition_variable Changed_;
  bool Flag_ = false;
};

// Receives a message that another thread left for a reading server end.
using Message_Callback = std::function<void(const std::string &Message)>;

// An event-carrying OVERLAPPED block of a server end. Outstanding while the
// system holds an operation on it: only then may it be cancelled or waited
// for (a call that failed at once leaves the block in no defined state).
struct Overlapped_Operation {
  OVERLAPPED Block{};
  Object_Handle Event;
  bool Outstanding = false;
};

struct Server_Fields {
  Overlapped_Operation Connect_Overlapped;
  Overlapped_Operation Write_Overlapped;
  Overlapped_Operation Read_Overlapped;
  Object_Handle Notify_Event; // auto-reset: interrupts a waiting Read
  Pipe_Signal Signal;
  Message_Callback Callback;
};

struct Pipe_Record {
  Pipe_Record(Pipe_Kind Kind, std::string_view Name);

  const Pipe_Kind Kind;
  File_Handle Handle;
  std::uint32_t Timeout_Ms = INFINITE; // written only by Set_Timeout
  std::unique_ptr<std::string> Pending_Message;
  Pipe_Mode Mode = Pipe_Mode::Duplex;
  std::int32_t Size = 0;                 // both buffer sizes, and the longest message a Read takes
  std::unique_ptr<Server_Fields> Server; // present for a server end only
  const std::string Name;                // without the "\\.\pipe\" prefix
};

// Null means "no pipe".
using Pipe_Handle = std::unique_ptr<Pipe_Record>;

// Receives the transport's diagnostic texts (an error code it does not know).
// The platform library writes no log of its own: whoever keeps one installs
// its writer here. Until then the texts are dropped.
using Diagnostic_Sink = void (*)(std::string_view Message) noexcept;
void Set_Diagnostic_Sink(Diagnostic_Sink Sink) noexcept;

// Raises the failure for a system error code, carrying the code (From_Error),
// and reporting codes that are not ones the transport knows to the
// diagnostic sink.
[[noreturn]] void Raise_Error(std::uint32_t Code);

// Returns when Succeeded is exactly TRUE; otherwise sets a server end's
// Signal and raises by the thread's last error code.
void Check(BOOL Succeeded, Pipe_Record &Pipe);

// NO_HANDLE for a null pipe.
void Check_Handle(const Pipe_Handle &Pipe);

// "\\.\pipe\" and the name.
std::string Full_Name(std::string_view Name);
std::string Full_Name(const Pipe_Record &Pipe);

// The longest full name "\\.\pipe\NAME" the system takes, in characters.
constexpr int Longest_Full_Name = 256;

// The full name in the system's characters, the form the system is handed.
// INVALID_NAME, before the system is asked, for a name that would not stay a
// pipe's: one that is no text of the code page (a NUL, or a byte that is no
// character), one holding a "\" or a "/" (a character, never the second
// byte of one), one of dots and blanks alone, or one whose full name is
// longer than Longest_Full_Name.
std::wstring Check_Name(std::string_view Name);

// Zero means no limit (INFINITE); otherwise the milliseconds rounded to the
// nearest, halves up. CONSTRAINT_ERROR below -0.5 ms.
std::uint32_t Timeout_Milliseconds(Duration Timeout);

// Timeout_Ms := Timeout_Milliseconds (Timeout); unchanged after a failure.
void Set_Timeout(Pipe_Record &Pipe, Duration Timeout);

// Opens the client end of an existing pipe (Timeout zero, no Callback) or
// creates the server end and waits up to Timeout (zero: no limit) for a
// client. Whatever Pipe designated is closed first; after any failure Pipe
// is null. A client end is refused (FOREIGN_SERVER) before anything is sent
// unless its server runs as this user, in this session, on a pipe this user
// owns; a server end is created as the first instance of its name, owned by
// the user and open to nobody else.
void Open(Pipe_Handle &Pipe, std::string_view Name, Pipe_Kind Kind, Pipe_Mode Mode,
          std::int32_t Size, Duration Timeout = {}, Message_Callback Callback = nullptr);

// The steps of a server-end Open, for a caller that must act between them:
// a record with its events, the creation of the single instance, and the wait
// for a client (a client that arrived before the wait counts as connected).
Pipe_Handle New_Server_Record(std::string_view Name, Pipe_Mode Mode, std::int32_t Size,
                              Duration Timeout, Message_Callback Callback);
void Create_Server(Pipe_Record &Pipe);
void Connect(Pipe_Record &Pipe);

// Waits until an instance of the pipe Name is free for a client, at most
// Timeout (zero: no limit), with the system's own wait. It opens nothing: an
// Open that follows may still find the instance taken by a quicker client.
// TIMEOUT when none came free in time; NO_SERVER when nobody serves the name,
// also when the server ends during the wait.
void Wait_For_Instance(std::string_view Name, Duration Timeout);

// Server end: ends the conversation with the connected client and waits up to
// Timeout (zero: no limit) for the next one on the same instance, so that the
// pipe's name never goes missing between two clients. After a failure the
// pipe is closed and null.
void Reconnect(Pipe_Handle &Pipe, Duration Timeout);

// Never fails; Pipe is null afterwards.
void Close(Pipe_Handle &Pipe) noexcept;

// Receives one whole message into Buffer and returns its length. Buffer must
// hold the pipe's Size bytes: CONSTRAINT_ERROR, before any system call, when
// it is shorter. On a server end the wait is limited by Timeout (zero: no limit) and
// a message posted to the pipe is handed to its Callback meanwhile; a client
// end takes no time-out. MORE_DATA for a message longer than Size, with its
// first Size bytes in Buffer and the rest left in the pipe.
std::int32_t Read(const Pipe_Handle &Pipe, std::span<char> Buffer, Duration Timeout = {});

// As Read, into a Buffer that grows to the message instead of holding Size
// bytes from the start: a reply costs what arrives, not what the pipe
// allows. An empty Buffer starts at First_Read_Size bytes (or Size); it never
// shrinks, so that reusing it allocates only for a longer message. MORE_DATA
// as for Read, with the first Size bytes in Buffer.
constexpr std::size_t First_Read_Size = 4096;
std::int32_t Read_Message(const Pipe_Handle &Pipe, std::vector<char> &Buffer,
                          Duration Timeout = {});

// Sends Length bytes from Data as one message.
void Write(const Pipe_Handle &Pipe, const void *Data, std::int32_t Length);

// From another thread: leaves Message for the Callback of a server end that
// is reading, and interrupts its wait. Post again only after the pipe's
// Signal has reported the delivery.
void Post_Message(Pipe_Record &Pipe, std::string Message);

} // namespace Windows::Pipe
