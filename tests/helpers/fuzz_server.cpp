// A stand-in server for the fuzz tests, started like the real one
// ("fuzz_server PIPENAME [PIPELENGTH]") by the client or by a test. It serves
// one conversation and ends. It sends the messages of the plan named by
// TEZ_FUZZ_PLAN in order and reads the next request after each end mark ".",
// which is when the client writes one; past the plan it answers "." alone. At
// the plan's drop point it waits until the client has read every message
// sent, then closes its end. It records its command line and each request to
// TEZ_FUZZ_RECORD. A test that starts it names in TEZ_FUZZ_READY an event set
// once the pipe listens, and in TEZ_FUZZ_QUIT one that ends a server no
// client came to. Built on the system alone, never on the transport the
// client uses.
#include "fuzz_wire.hpp"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

constexpr DWORD Buffer_Size = 65536;
// Guards against a test gone wrong; a conversation never waits this long.
constexpr DWORD Guard_Ms = 120000;
constexpr DWORD Started_Guard_Ms = 6000;

const char *const Record_File = std::getenv("TEZ_FUZZ_RECORD");

void Record(std::string_view Key, std::string_view Value) {
  Fuzz_Wire::Append_Record(Record_File, Key, Value);
}

void Set_Named_Event(const char *Name) {
  if (!Name) return;
  const HANDLE Event = OpenEventA(EVENT_MODIFY_STATE, FALSE, Name);
  if (!Event) return;
  SetEvent(Event);
  CloseHandle(Event);
}

Fuzz_Wire::Plan Load_Plan() {
  const char *const Name = std::getenv("TEZ_FUZZ_PLAN");
  if (!Name) return {};
  std::ifstream In(Name, std::ios::binary);
  std::ostringstream Text;
  Text << In.rdbuf();
  return Fuzz_Wire::Parse_Plan(Text.str());
}

class Connection {
public:
  explicit Connection(HANDLE Pipe) : Pipe_(Pipe) {
    Block_.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  }

  // False when no client came before the quit event or the guard.
  bool Connect() {
    if (ConnectNamedPipe(Pipe_, &Block_)) return true;
    const DWORD Code = GetLastError();
    if (Code == ERROR_PIPE_CONNECTED) return Watch_Client();
    if (Code != ERROR_IO_PENDING) return false;
    HANDLE Quit = nullptr;
    if (const char *const Name = std::getenv("TEZ_FUZZ_QUIT"))
      Quit = OpenEventA(SYNCHRONIZE, FALSE, Name);
    const HANDLE Events[2] = {Block_.hEvent, Quit};
    // A client that connected wins over a quit set at the same time. A
    // client that starts this server opens the pipe within seconds.
    const DWORD Waited =
        WaitForMultipleObjects(Quit ? 2 : 1, Events, FALSE, Quit ? Guard_Ms : Started_Guard_Ms);
    if (Quit) CloseHandle(Quit);
    DWORD Count = 0;
    if (Waited != WAIT_OBJECT_0 || !GetOverlappedResult(Pipe_, &Block_, &Count, FALSE))
      return false;
    return Watch_Client();
  }

  // The next request, or nothing once the client has gone.
  std::optional<std::string> Receive() {
    std::string Buffer(Buffer_Size, '\0');
    DWORD Count = 0;
    if (!Finish(ReadFile(Pipe_, Buffer.data(), Buffer_Size, &Count, &Block_), Count))
      return std::nullopt;
    Buffer.resize(Count);
    return Buffer;
  }

  bool Send(const std::string &Message) {
    DWORD Count = 0;
    return Finish(
        WriteFile(Pipe_, Message.data(), static_cast<DWORD>(Message.size()), &Count, &Block_),
        Count);
  }

  // Closes this end once the client has read everything sent (or has gone),
  // so that it meets the broken pipe after the last message, not before.
  void Drop() {
    FlushFileBuffers(Pipe_);
    CloseHandle(Pipe_);
  }

private:
  bool Watch_Client() {
    ULONG Id = 0;
    if (GetNamedPipeClientProcessId(Pipe_, &Id)) Client_ = OpenProcess(SYNCHRONIZE, FALSE, Id);
    return true;
  }

  // Waits for the operation just started. A client that ended does not
  // always break the pipe here, so its process ends the wait too; what the
  // client wrote before it ended still comes first.
  bool Finish(BOOL Started, DWORD &Count) {
    if (!Started && GetLastError() != ERROR_IO_PENDING) return false;
    const HANDLE Events[2] = {Block_.hEvent, Client_};
    const DWORD Waited = WaitForMultipleObjects(Client_ ? 2 : 1, Events, FALSE, Guard_Ms);
    if (Waited == WAIT_OBJECT_0) return GetOverlappedResult(Pipe_, &Block_, &Count, FALSE) == TRUE;
    CancelIoEx(Pipe_, &Block_);
    return GetOverlappedResult(Pipe_, &Block_, &Count, TRUE) == TRUE;
  }

  HANDLE Pipe_;
  HANDLE Client_ = nullptr;
  OVERLAPPED Block_{};
};

} // namespace

int main(int argc, char **argv) {
  Record("command_line", GetCommandLineA());
  if (argc < 2) return 2;
  const std::string Name = std::string("\\\\.\\pipe\\") + argv[1];
  const HANDLE Pipe = CreateNamedPipeA(Name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                       PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1,
                                       Buffer_Size, Buffer_Size, 0, nullptr);
  if (Pipe == INVALID_HANDLE_VALUE) {
    Record("failure", "create " + std::to_string(GetLastError()));
    return 3;
  }
  Set_Named_Event(std::getenv("TEZ_FUZZ_READY"));
  Connection Client(Pipe);
  if (!Client.Connect()) return 0;
  const Fuzz_Wire::Plan Stream = Load_Plan();
  const auto Next_Request = [&] {
    const std::optional<std::string> Request = Client.Receive();
    if (Request) Record("request", *Request);
    return Request && *Request != "C";
  };
  if (!Next_Request()) return 0;
  for (std::size_t Sent = 0;; ++Sent) {
    if (Stream.Drop && Sent == *Stream.Drop) {
      Client.Drop();
      return 0;
    }
    const std::string Message = Sent < Stream.Messages.size() ? Stream.Messages[Sent] : ".";
    if (!Client.Send(Message)) return 0;
    if (Message == "." && !Next_Request()) return 0;
  }
}
