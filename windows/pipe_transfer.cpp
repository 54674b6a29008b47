#include "windows/pipe.hpp"
#include "windows/pipe_internal.hpp"

namespace Windows::Pipe {

namespace {

std::int32_t Read_Client(Pipe_Record &Pipe, void *Buffer, Duration Timeout) {
  if (!Timeout.Is_Zero()) throw Not_Server();
  DWORD Count = 0;
  if (ReadFile(Pipe.Handle.Get(), Buffer, static_cast<DWORD>(Pipe.Size), &Count, nullptr) != TRUE)
    Raise_Error(GetLastError());
  return static_cast<std::int32_t>(Count);
}

// A read that must be given up: cancel it and wait until the system no
// longer writes into the caller's buffer. True when it completed after all,
// with Count set; a read that ended in a failure of its own raises that.
bool Withdraw_Read(Pipe_Record &Pipe, DWORD &Count) {
  DWORD Code = 0;
  switch (Internal::Cancel(Pipe, Pipe.Server->Read_Overlapped, Count, Code)) {
  case Internal::Cancel_Result::Completed:
    return true;
  case Internal::Cancel_Result::Cancelled:
    return false;
  case Internal::Cancel_Result::Failed:
    break;
  case Internal::Cancel_Result::Kept:
    Pipe.Server->Signal.Set();
    throw Broken("the system keeps the read outstanding");
  }
  Pipe.Server->Signal.Set();
  Raise_Error(Code);
}

void Deliver_Pending(Pipe_Record &Pipe) {
  Server_Fields &Server = *Pipe.Server;
  if (!Pipe.Pending_Message || !Server.Callback)
    throw Constraint_Error("notification without a message or a callback");
  Server.Callback(*Pipe.Pending_Message);
  Pipe.Pending_Message.reset();
  Server.Signal.Set();
}

std::int32_t Read_Server(Pipe_Record &Pipe, void *Buffer, Duration Timeout) {
  Server_Fields &Server = *Pipe.Server;
  Set_Timeout(Pipe, Timeout);
  OVERLAPPED &Block = Server.Read_Overlapped.Block;
  DWORD Count = 0;
  if (ReadFile(Pipe.Handle.Get(), Buffer, static_cast<DWORD>(Pipe.Size), &Count, &Block) == TRUE)
    return static_cast<std::int32_t>(Count);
  const DWORD Code = GetLastError();
  if (Code != ERROR_IO_PENDING) {
    Server.Signal.Set();
    Raise_Error(Code);
  }
  Server.Read_Overlapped.Outstanding = true;
  const HANDLE Events[2] = {Server.Read_Overlapped.Event.Get(), Server.Notify_Event.Get()};
  for (;;) {
    const DWORD Waited = WaitForMultipleObjects(2, Events, FALSE, Pipe.Timeout_Ms);
    if (Waited == WAIT_OBJECT_0) {
      Server.Read_Overlapped.Outstanding = false;
      Check(GetOverlappedResult(Pipe.Handle.Get(), &Block, &Count, FALSE), Pipe);
      return static_cast<std::int32_t>(Count);
    }
    if (Waited == WAIT_OBJECT_0 + 1) {
      try {
        Deliver_Pending(Pipe);
      } catch (...) {
        Withdraw_Read(Pipe, Count);
        throw;
      }
      continue;
    }
    // The read must not stay outstanding on a buffer the caller may reuse or
    // free; a message that arrived meanwhile is still returned.
    if (Withdraw_Read(Pipe, Count)) return static_cast<std::int32_t>(Count);
    if (Waited == WAIT_TIMEOUT) throw Pipe::Timeout();
    Server.Signal.Set();
    Raise_Error(Code);
  }
}

void Write_Server(Pipe_Record &Pipe, const void *Data, DWORD Length, DWORD &Count) {
  Server_Fields &Server = *Pipe.Server;
  OVERLAPPED &Block = Server.Write_Overlapped.Block;
  if (WriteFile(Pipe.Handle.Get(), Data, Length, &Count, &Block) == TRUE) return;
  const DWORD Code = GetLastError();
  if (Code == ERROR_IO_PENDING) {
    Server.Write_Overlapped.Outstanding = true;
    if (WaitForSingleObject(Server.Write_Overlapped.Event.Get(), INFINITE) == WAIT_OBJECT_0) {
      Server.Write_Overlapped.Outstanding = false;
      Check(GetOverlappedResult(Pipe.Handle.Get(), &Block, &Count, FALSE), Pipe);
      return;
    }
  }
  Server.Signal.Set();
  Raise_Error(Code);
}

} // namespace

std::int32_t Read(const Pipe_Handle &Pipe, std::span<char> Buffer, Duration Timeout) {
  Check_Handle(Pipe);
  // The system writes up to Size bytes, whatever the message turns out to be.
  if (Buffer.size() < static_cast<std::size_t>(Pipe->Size))
    throw Constraint_Error("read buffer shorter than the message size");
  return Pipe->Server ? Read_Server(*Pipe, Buffer.data(), Timeout)
                      : Read_Client(*Pipe, Buffer.data(), Timeout);
}

void Write(const Pipe_Handle &Pipe, const void *Data, std::int32_t Length) {
  Check_Handle(Pipe);
  if (Length < 0) throw Constraint_Error("negative message length");
  DWORD Count = 0;
  if (Pipe->Server) {
    Write_Server(*Pipe, Data, static_cast<DWORD>(Length), Count);
  } else if (WriteFile(Pipe->Handle.Get(), Data, static_cast<DWORD>(Length), &Count, nullptr) !=
             TRUE) {
    Raise_Error(GetLastError());
  }
  if (Count != static_cast<DWORD>(Length)) throw Write_Incomplete();
}

void Post_Message(Pipe_Record &Pipe, std::string Message) {
  if (!Pipe.Server) throw Not_Server();
  Pipe.Pending_Message = std::make_unique<std::string>(std::move(Message));
  SetEvent(Pipe.Server->Notify_Event.Get());
}

} // namespace Windows::Pipe
