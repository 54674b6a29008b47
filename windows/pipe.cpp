#include "windows/pipe.hpp"

#include "windows/pipe_internal.hpp"
#include "windows/windows.hpp"

#include <atomic>
#include <utility>

namespace Windows::Pipe {

namespace {

// Server ends may fail on several threads at once.
std::atomic<Diagnostic_Sink> Sink{nullptr};

void Diagnose(const std::string &Message) noexcept {
  if (const Diagnostic_Sink Current = Sink.load()) Current(Message);
}

} // namespace

void Set_Diagnostic_Sink(Diagnostic_Sink New_Sink) noexcept {
  Sink.store(New_Sink);
}

void Pipe_Signal::Set() {
  {
    std::lock_guard Guard(Lock_);
    Flag_ = true;
  }
  Changed_.notify_one();
}

void Pipe_Signal::Wait() {
  std::unique_lock Guard(Lock_);
  Changed_.wait(Guard, [this] { return Flag_; });
  Flag_ = false;
}

bool Pipe_Signal::Try_Wait() {
  std::lock_guard Guard(Lock_);
  return std::exchange(Flag_, false);
}

Pipe_Record::Pipe_Record(Pipe_Kind Kind, std::string_view Name) : Kind(Kind), Name(Name) {
  if (Kind == Pipe_Kind::Server_End) Server = std::make_unique<Server_Fields>();
}

void Raise_Error(std::uint32_t Code) {
  switch (Code) {
  case ERROR_ACCESS_DENIED:
    throw From_Error<Access_Denied>(Code);
  case ERROR_BROKEN_PIPE:
    throw From_Error<Broken>(Code);
  case ERROR_FILE_NOT_FOUND:
  case ERROR_PIPE_NOT_CONNECTED:
    throw From_Error<No_Server>(Code);
  case ERROR_INVALID_NAME:
  case ERROR_BAD_PATHNAME:
  case ERROR_FILENAME_EXCED_RANGE:
    throw From_Error<Invalid_Name>(Code);
  case ERROR_MORE_DATA:
    throw From_Error<More_Data>(Code);
  case ERROR_NO_DATA:
    throw From_Error<No_Data>(Code);
  case ERROR_PIPE_BUSY:
    throw From_Error<Name_In_Use>(Code);
  case ERROR_BAD_PIPE:
    throw From_Error<Bad_Pipe>(Code);
  case 0:
    Diagnose("Windows.Pipe - No Error");
    throw Broken();
  default:
    Diagnose("Windows.Pipe - Unknown_Error: " + std::to_string(Code));
    throw From_Error<Unknown_Error>(Code);
  }
}

void Check(BOOL Succeeded, Pipe_Record &Pipe) {
  if (Succeeded == TRUE) return;
  const DWORD Code = GetLastError();
  if (Pipe.Server) Pipe.Server->Signal.Set();
  Raise_Error(Code);
}

void Check_Handle(const Pipe_Handle &Pipe) {
  if (!Pipe) throw No_Handle();
}

std::string Full_Name(std::string_view Name) {
  return "\\\\.\\pipe\\" + std::string(Name);
}

std::string Full_Name(const Pipe_Record &Pipe) {
  return Full_Name(Pipe.Name);
}

std::uint32_t Timeout_Milliseconds(Duration Timeout) {
  if (Timeout.Is_Zero()) return INFINITE;
  // Exact: every count of 2^-14 s is a binary fraction.
  const double Milliseconds = Timeout.Seconds() * 1000.0 + 0.5;
  if (Milliseconds <= 0.0) throw Constraint_Error("negative time-out");
  return static_cast<std::uint32_t>(Milliseconds);
}

void Set_Timeout(Pipe_Record &Pipe, Duration Timeout) {
  Pipe.Timeout_Ms = Timeout_Milliseconds(Timeout);
}

namespace Internal {

Cancel_Result Cancel(Pipe_Record &Pipe, Overlapped_Operation &Operation, DWORD &Count,
                     DWORD &Code) {
  constexpr DWORD Cancel_Wait_Ms = 5000;
  OVERLAPPED &Block = Operation.Block;
  if (!HasOverlappedIoCompleted(&Block)) CancelIoEx(Pipe.Handle.Get(), &Block);
  // The result decides, also for an operation that completed between the
  // caller's wait and the cancel: its bytes or its error are real.
  if (GetOverlappedResultEx(Pipe.Handle.Get(), &Block, &Count, Cancel_Wait_Ms, FALSE) == TRUE) {
    Operation.Outstanding = false;
    return Cancel_Result::Completed;
  }
  Code = GetLastError();
  if (Code == WAIT_TIMEOUT || Code == WAIT_IO_COMPLETION || !HasOverlappedIoCompleted(&Block))
    return Cancel_Result::Kept;
  Operation.Outstanding = false;
  return Code == ERROR_OPERATION_ABORTED ? Cancel_Result::Cancelled : Cancel_Result::Failed;
}

} // namespace Internal

} // namespace Windows::Pipe
