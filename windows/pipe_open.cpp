#include "windows/pipe.hpp"
#include "windows/pipe_internal.hpp"

#include "windows/characters.hpp"

#include <algorithm>
#include <optional>

namespace Windows::Pipe {

namespace {

// Impersonation of the client at identification level only: a process
// holding the pipe name may learn who we are but cannot act as us.
constexpr DWORD Client_Flags = SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;

// Local clients only.
constexpr DWORD Server_Pipe_Mode =
    PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS;

DWORD Client_Access(Pipe_Mode Mode) {
  switch (Mode) {
  case Pipe_Mode::Inbound:
    return GENERIC_WRITE;
  case Pipe_Mode::Outbound:
    return GENERIC_READ | FILE_WRITE_ATTRIBUTES;
  case Pipe_Mode::Duplex:
    break;
  }
  return GENERIC_READ | GENERIC_WRITE;
}

DWORD Server_Open_Mode(Pipe_Mode Mode) {
  switch (Mode) {
  case Pipe_Mode::Inbound:
    return FILE_FLAG_OVERLAPPED | PIPE_ACCESS_INBOUND;
  case Pipe_Mode::Outbound:
    return FILE_FLAG_OVERLAPPED | PIPE_ACCESS_OUTBOUND;
  case Pipe_Mode::Duplex:
    break;
  }
  return FILE_FLAG_OVERLAPPED | PIPE_ACCESS_DUPLEX;
}

// Nobody else may hold the name before us or add an instance of their own.
constexpr DWORD Server_Flags = FILE_FLAG_FIRST_PIPE_INSTANCE;

// Full_Name: the checked name, as Check_Name gives it.
void Open_Client(Pipe_Record &Pipe, const std::wstring &Full_Name) {
  Pipe.Handle.Reset(CreateFileW(Full_Name.c_str(), Client_Access(Pipe.Mode),
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                Client_Flags, nullptr));
  if (!Pipe.Handle) Raise_Error(GetLastError());
  Internal::Verify_Server(Pipe);
  DWORD Read_Mode = PIPE_READMODE_MESSAGE;
  Check(SetNamedPipeHandleState(Pipe.Handle.Get(), &Read_Mode, nullptr, nullptr), Pipe);
}

} // namespace

void Create_Server(Pipe_Record &Pipe) {
  std::optional<Internal::Server_Security> Security;
  try {
    Security.emplace();
  } catch (...) {
    Pipe.Server->Signal.Set();
    throw;
  }
  Pipe.Handle.Reset(CreateNamedPipeW(
      Check_Name(Pipe.Name).c_str(), Server_Open_Mode(Pipe.Mode) | Server_Flags, Server_Pipe_Mode,
      1, static_cast<DWORD>(Pipe.Size), static_cast<DWORD>(Pipe.Size), 0, Security->Attributes()));
  if (!Pipe.Handle) {
    const DWORD Code = GetLastError();
    Pipe.Server->Signal.Set();
    Raise_Error(Code);
  }
}

void Connect(Pipe_Record &Pipe) {
  Overlapped_Operation &Operation = Pipe.Server->Connect_Overlapped;
  if (ConnectNamedPipe(Pipe.Handle.Get(), &Operation.Block) == TRUE) return;
  const DWORD Code = GetLastError();
  // A client that arrived between creation and this call is connected.
  if (Code == ERROR_PIPE_CONNECTED) return;
  if (Code == ERROR_IO_PENDING) {
    Operation.Outstanding = true;
    const DWORD Waited = WaitForSingleObject(Operation.Event.Get(), Pipe.Timeout_Ms);
    if (Waited == WAIT_TIMEOUT) throw Timeout();
    if (Waited == WAIT_OBJECT_0) {
      Operation.Outstanding = false;
      return;
    }
  }
  Pipe.Server->Signal.Set();
  Raise_Error(Code);
}

std::wstring Check_Name(std::string_view Name) {
  std::wstring Full;
  try {
    Full = L"\\\\.\\pipe\\" + Characters::Wide(Name);
  } catch (const Characters::Invalid &Refused) {
    throw Invalid_Name("the pipe name: " + Refused.reason());
  }
  const std::wstring_view Own = std::wstring_view(Full).substr(9);
  // The system resolves "\\.\pipe\NAME" as a path before the pipe system
  // sees it: a separator or a name of dots climbs out of the pipes, to any
  // device or another machine's pipe ("..\UNC\host\pipe\x").
  if (Own.find_first_of(L"\\/") != std::wstring_view::npos)
    throw Invalid_Name("a pipe name holds no \\ or /");
  if (Own.find_first_not_of(L". ") == std::wstring_view::npos)
    throw Invalid_Name("a pipe name of dots and blanks names no pipe");
  if (Full.size() > static_cast<std::size_t>(Longest_Full_Name))
    throw Invalid_Name("the pipe's full name is longer than " + std::to_string(Longest_Full_Name) +
                       " characters");
  return Full;
}

namespace {

void Attach_Event(Overlapped_Operation &Operation) {
  Operation.Event.Reset(CreateEventA(nullptr, TRUE, TRUE, nullptr));
  Operation.Block.hEvent = Operation.Event.Get();
}

// The system may still write into the OVERLAPPED block of an outstanding
// operation: cancel it and wait for the cancellation to land before the
// block is freed. False when the system keeps it.
bool Settle(Pipe_Record &Pipe, Overlapped_Operation &Operation) {
  if (!Operation.Outstanding) return true;
  DWORD Count = 0, Code = 0;
  return Internal::Cancel(Pipe, Operation, Count, Code) != Internal::Cancel_Result::Kept;
}

std::wstring Check_Name_And_Size(std::string_view Name, std::int32_t Size) {
  if (Name.empty()) throw Constraint_Error("empty pipe name");
  std::wstring Full = Check_Name(Name);
  if (Size < 0) throw Constraint_Error("negative message size");
  return Full;
}

} // namespace

Pipe_Handle New_Server_Record(std::string_view Name, Pipe_Mode Mode, std::int32_t Size,
                              Duration Timeout, Message_Callback Callback) {
  Check_Name_And_Size(Name, Size);
  auto Pipe = std::make_unique<Pipe_Record>(Pipe_Kind::Server_End, Name);
  Pipe->Mode = Mode;
  Pipe->Size = Size;
  Server_Fields &Server = *Pipe->Server;
  Server.Callback = std::move(Callback);
  Set_Timeout(*Pipe, Timeout);
  // A failed event creation shows up as a failed wait later.
  Attach_Event(Server.Connect_Overlapped);
  Attach_Event(Server.Write_Overlapped);
  Attach_Event(Server.Read_Overlapped);
  Server.Notify_Event.Reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
  return Pipe;
}

void Open(Pipe_Handle &Pipe, std::string_view Name, Pipe_Kind Kind, Pipe_Mode Mode,
          std::int32_t Size, Duration Timeout, Message_Callback Callback) {
  try {
    if (Kind == Pipe_Kind::Client_End && (!Timeout.Is_Zero() || Callback)) throw Not_Server();
    Close(Pipe);
    if (Kind == Pipe_Kind::Server_End) {
      Pipe = New_Server_Record(Name, Mode, Size, Timeout, std::move(Callback));
      Create_Server(*Pipe);
      Connect(*Pipe);
    } else {
      const std::wstring Full = Check_Name_And_Size(Name, Size);
      Pipe = std::make_unique<Pipe_Record>(Kind, Name);
      Pipe->Mode = Mode;
      Pipe->Size = Size;
      Open_Client(*Pipe, Full);
    }
  } catch (...) {
    Close(Pipe);
    throw;
  }
}

void Wait_For_Instance(std::string_view Name, Duration Timeout) {
  if (Name.empty()) throw Constraint_Error("empty pipe name");
  const std::wstring Full = Check_Name(Name);
  const std::uint32_t Milliseconds = Timeout_Milliseconds(Timeout);
  // 0 would mean the server's default wait, not "at once".
  if (WaitNamedPipeW(Full.c_str(), std::max<DWORD>(Milliseconds, 1)) == TRUE) return;
  const DWORD Code = GetLastError();
  if (Code == ERROR_SEM_TIMEOUT) throw Pipe::Timeout();
  // A server that ends while we wait: some systems say so with "handles
  // closed" where others say "not found". Either way the pipe is gone.
  constexpr DWORD Handles_Closed = 676; // ERROR_HANDLES_CLOSED
  if (Code == Handles_Closed) throw No_Server();
  Raise_Error(Code);
}

void Reconnect(Pipe_Handle &Pipe, Duration Timeout) {
  try {
    Check_Handle(Pipe);
    Server_Fields *const Server = Pipe->Server.get();
    if (!Server) throw Not_Server();
    // Both are settled whatever the first one gives.
    const bool Read_Settled = Settle(*Pipe, Server->Read_Overlapped);
    const bool Write_Settled = Settle(*Pipe, Server->Write_Overlapped);
    if (!Read_Settled || !Write_Settled) throw Broken("the system keeps an operation outstanding");
    DisconnectNamedPipe(Pipe->Handle.Get());
    Set_Timeout(*Pipe, Timeout);
    Connect(*Pipe);
  } catch (...) {
    Close(Pipe);
    throw;
  }
}

void Close(Pipe_Handle &Pipe) noexcept {
  if (!Pipe) return;
  Pipe->Pending_Message.reset();
  if (Pipe->Handle) {
    DisconnectNamedPipe(Pipe->Handle.Get());
    if (Server_Fields *Server = Pipe->Server.get()) {
      // Every one is settled, whatever the others give.
      const bool Connect_Settled = Settle(*Pipe, Server->Connect_Overlapped);
      const bool Read_Settled = Settle(*Pipe, Server->Read_Overlapped);
      const bool Write_Settled = Settle(*Pipe, Server->Write_Overlapped);
      const bool Settled = Connect_Settled && Read_Settled && Write_Settled;
      // Blocks the system still holds stay allocated: a small leak rather
      // than memory written after it was freed.
      if (!Settled) static_cast<void>(Pipe->Server.release());
    }
  }
  if (Server_Fields *Server = Pipe->Server.get()) {
    Server->Connect_Overlapped.Event.Reset();
    Server->Read_Overlapped.Event.Reset();
    Server->Write_Overlapped.Event.Reset();
    Server->Notify_Event.Reset();
  }
  Pipe->Handle.Reset();
  Pipe.reset();
}

} // namespace Windows::Pipe
