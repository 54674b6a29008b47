#include "windows/pipe.hpp"
#include "windows/pipe_internal.hpp"

#include <algorithm>

namespace Windows::Pipe {

namespace {

// How a read of at most Length bytes ended: the whole message, or its first
// Length bytes with the rest left in the pipe, or (a withdrawn read) nothing.
enum class Received { Whole, Head, Nothing };

// A failed read call: the head of a longer message, or a failure.
Received Head_Or_Raise(Pipe_Record &Pipe, DWORD Code) {
  if (Code == ERROR_MORE_DATA) return Received::Head;
  if (Pipe.Server) Pipe.Server->Signal.Set();
  Raise_Error(Code);
}

Received Read_Client(Pipe_Record &Pipe, char *Buffer, DWORD Length, Duration Timeout,
                     DWORD &Count) {
  if (!Timeout.Is_Zero()) throw Not_Server();
  if (ReadFile(Pipe.Handle.Get(), Buffer, Length, &Count, nullptr) == TRUE) return Received::Whole;
  return Head_Or_Raise(Pipe, GetLastError());
}

// A read that must be given up: cancel it and wait until the system no
// longer writes into the caller's buffer. Nothing when the cancel ended it;
// otherwise what the read received after all.
Received Withdraw_Read(Pipe_Record &Pipe, DWORD &Count) {
  DWORD Code = 0;
  switch (Internal::Cancel(Pipe, Pipe.Server->Read_Overlapped, Count, Code)) {
  case Internal::Cancel_Result::Completed:
    return Received::Whole;
  case Internal::Cancel_Result::Cancelled:
    return Received::Nothing;
  case Internal::Cancel_Result::Failed:
    return Head_Or_Raise(Pipe, Code);
  case Internal::Cancel_Result::Kept:
    break;
  }
  Pipe.Server->Signal.Set();
  throw Broken("the system keeps the read outstanding");
}

void Deliver_Pending(Pipe_Record &Pipe) {
  Server_Fields &Server = *Pipe.Server;
  if (!Pipe.Pending_Message || !Server.Callback)
    throw Constraint_Error("notification without a message or a callback");
  Server.Callback(*Pipe.Pending_Message);
  Pipe.Pending_Message.reset();
  Server.Signal.Set();
}

Received Read_Server(Pipe_Record &Pipe, char *Buffer, DWORD Length, Duration Timeout,
                     DWORD &Count) {
  Server_Fields &Server = *Pipe.Server;
  Set_Timeout(Pipe, Timeout);
  OVERLAPPED &Block = Server.Read_Overlapped.Block;
  if (ReadFile(Pipe.Handle.Get(), Buffer, Length, &Count, &Block) == TRUE) return Received::Whole;
  const DWORD Code = GetLastError();
  if (Code != ERROR_IO_PENDING) return Head_Or_Raise(Pipe, Code);
  Server.Read_Overlapped.Outstanding = true;
  const HANDLE Events[2] = {Server.Read_Overlapped.Event.Get(), Server.Notify_Event.Get()};
  for (;;) {
    const DWORD Waited = WaitForMultipleObjects(2, Events, FALSE, Pipe.Timeout_Ms);
    if (Waited == WAIT_OBJECT_0) {
      Server.Read_Overlapped.Outstanding = false;
      if (GetOverlappedResult(Pipe.Handle.Get(), &Block, &Count, FALSE) == TRUE)
        return Received::Whole;
      return Head_Or_Raise(Pipe, GetLastError());
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
    const Received Late = Withdraw_Read(Pipe, Count);
    if (Late != Received::Nothing) return Late;
    if (Waited == WAIT_TIMEOUT) throw Pipe::Timeout();
    Server.Signal.Set();
    Raise_Error(Code);
  }
}

Received Read_Part(Pipe_Record &Pipe, char *Buffer, std::size_t Length, Duration Timeout,
                   DWORD &Count) {
  const auto Asked = static_cast<DWORD>(Length);
  return Pipe.Server ? Read_Server(Pipe, Buffer, Asked, Timeout, Count)
                     : Read_Client(Pipe, Buffer, Asked, Timeout, Count);
}

// A message longer than the pipe's Size: the transport's own limit, raised
// by name.
[[noreturn]] void Raise_Too_Long(Pipe_Record &Pipe) {
  if (Pipe.Server) Pipe.Server->Signal.Set();
  throw More_Data();
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
  const auto Size = static_cast<std::size_t>(Pipe->Size);
  if (Buffer.size() < Size) throw Constraint_Error("read buffer shorter than the message size");
  DWORD Count = 0;
  if (Read_Part(*Pipe, Buffer.data(), Size, Timeout, Count) == Received::Head)
    Raise_Too_Long(*Pipe);
  return static_cast<std::int32_t>(Count);
}

std::int32_t Read_Message(const Pipe_Handle &Pipe, std::vector<char> &Buffer, Duration Timeout) {
  Check_Handle(Pipe);
  const auto Size = static_cast<std::size_t>(Pipe->Size);
  if (Buffer.size() < std::min(First_Read_Size, Size))
    Buffer.resize(std::min(First_Read_Size, Size));
  std::size_t Have = std::min(Buffer.size(), Size);
  DWORD Count = 0;
  if (Read_Part(*Pipe, Buffer.data(), Have, Timeout, Count) == Received::Whole)
    return static_cast<std::int32_t>(Count);
  while (Have < Size) {
    // The rest of the message follows at once: the peek tells its length and
    // one more read takes it (a peek that tells less only costs more steps).
    DWORD Left = 0;
    Check(PeekNamedPipe(Pipe->Handle.Get(), nullptr, 0, nullptr, nullptr, &Left), *Pipe);
    Buffer.resize(std::min(Size, Have + std::max<std::size_t>(Left, First_Read_Size)));
    if (Read_Part(*Pipe, Buffer.data() + Have, Buffer.size() - Have, Timeout, Count) ==
        Received::Whole)
      return static_cast<std::int32_t>(Have + Count);
    Have = Buffer.size();
  }
  Raise_Too_Long(*Pipe);
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
