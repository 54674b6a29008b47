// A stand-in Tez Server: started as "tez_server PIPENAME [PIPELENGTH]", it
// creates the pipe, serves one client after another and ends every list of
// replies with ".". It answers questions about source files; when
// TEZ_SERVER_SCRIPT names a script, the script's replies take their place.
// It appends its command line, every request it gets and the start and end
// of every conversation to the file named by TEZ_SERVER_RECORD. "T<seconds>" sets how long it waits
// for its next client (five minutes until then); "T0" ends it.
#include "server/answers.hpp"
#include "server/script.hpp"
#include "text/integer_literal.hpp"
#include "windows/pipe.hpp"
#include "windows/windows.hpp"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

namespace {

using namespace Windows::Pipe;

constexpr double Default_Idle_Seconds = 300.0;
// Buffers large enough that a reply, even one the script makes too long for
// the client, is written at once: a write waiting for a reader that is gone
// would hold the server forever.
constexpr std::int32_t Least_Pipe_Size = 65536;
const Duration Last_Word_Wait = Duration::From_Seconds(5.0);
const Duration Client_Check_Interval = Duration::From_Seconds(0.5);

void Record(const std::string &Line) {
  const char *const Name = std::getenv("TEZ_SERVER_RECORD");
  if (!Name) return;
  const HANDLE File = CreateFileA(Name, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (File == INVALID_HANDLE_VALUE) return;
  const std::string Text = Line + "\r\n";
  DWORD Written = 0;
  WriteFile(File, Text.data(), static_cast<DWORD>(Text.size()), &Written, nullptr);
  CloseHandle(File);
}

// Two minutes at most.
void Await_File(const std::string &Name) {
  for (int Poll = 0; Poll < 12'000 && GetFileAttributesA(Name.c_str()) == INVALID_FILE_ATTRIBUTES;
       ++Poll)
    Sleep(10);
}

void Send(const Pipe_Handle &Pipe, std::string_view Message) {
  Write(Pipe, Message.data(), static_cast<std::int32_t>(Message.size()));
}

class Stand_In {
public:
  Stand_In(std::string Name, std::int32_t Size, std::optional<Server::Script> Plan)
      : Name_(std::move(Name)), Size_(Size), Pipe_Size_(std::max(Size, Least_Pipe_Size)),
        Script_(std::move(Plan)),
        Idle_Seconds_(Script_ ? Script_->Idle.value_or(Default_Idle_Seconds)
                              : Default_Idle_Seconds) {}

  // Serves clients until none comes within the idle time or "T0" arrives.
  // One instance serves them all, so that the name never goes missing.
  // False when the pipe could not be created, its name held by another.
  bool Run() {
    const Duration Idle = Duration::From_Seconds(Idle_Seconds_);
    Pipe_Handle Pipe = New_Server_Record(Name_, Pipe_Mode::Duplex, Pipe_Size_, Idle, nullptr);
    try {
      Create_Server(*Pipe);
    } catch (const Failure &F) {
      // Clients would reach whoever holds it: never serve beside it.
      const bool Held =
          dynamic_cast<const Name_In_Use *>(&F) || dynamic_cast<const Access_Denied *>(&F);
      Record("failure=" + std::string(F.name()) +
             (Held ? ": the pipe name " + Name_ + " is held already, not served" : ""));
      return false;
    }
    try {
      Connect(*Pipe);
      for (;;) {
        Record("conversation=start");
        bool Ending = false;
        try {
          Ending = Serve(Pipe);
        } catch (const Failure &F) {
          Record(std::string("failure=") + F.name());
        }
        // Written before the instance takes its next client or goes: whoever
        // can connect again, or finds the name gone, finds the mark.
        Record("conversation=end");
        if (Ending || (Script_ && Script_->Conversations && ++Served_ >= *Script_->Conversations))
          break;
        Reconnect(Pipe, Duration::From_Seconds(Idle_Seconds_));
      }
    } catch (const Failure &F) {
      Record(std::string("failure=") + F.name());
    }
    Close(Pipe);
    return true;
  }

private:
  // The next request. A client that ended without a word does not always
  // break the pipe: look at its process now and then.
  std::string Receive_Request(const Pipe_Handle &Pipe) {
    ULONG Client_Id = 0;
    GetNamedPipeClientProcessId(Pipe->Handle.Get(), &Client_Id);
    const Windows::Object_Handle Client(OpenProcess(SYNCHRONIZE, FALSE, Client_Id));
    for (;;) {
      try {
        return Receive(Pipe, Client_Check_Interval);
      } catch (const Timeout &) {
        if (Client && WaitForSingleObject(Client.Get(), 0) == WAIT_OBJECT_0) throw Broken();
      }
    }
  }

  std::string Receive(const Pipe_Handle &Pipe, Duration Timeout = {}) {
    const std::int32_t Count = Read_Message(Pipe, Buffer_, Timeout);
    return std::string(Buffer_.data(), static_cast<std::size_t>(Count));
  }

  // Reads and drops the rest of a request longer than the buffer.
  void Skip_Rest(const Pipe_Handle &Pipe) {
    for (;;) {
      try {
        Receive(Pipe);
        return;
      } catch (const More_Data &) {}
    }
  }

  // One client's conversation; true when the server is to end.
  bool Serve(const Pipe_Handle &Pipe) {
    for (;;) {
      std::string Request;
      try {
        Request = Receive_Request(Pipe);
      } catch (const More_Data &) {
        // Answered, so that the client's next request is not taken for the
        // rest of this one and the conversation stays in step.
        Skip_Rest(Pipe);
        const std::string Reason = "longer than " + std::to_string(Pipe_Size_) + " bytes";
        Record("request=(" + Reason + ")");
        for (const std::string &Message : Server::Cut({"!Request " + Reason}, Size_))
          Send(Pipe, Message);
        Send(Pipe, ".");
        continue;
      }
      Record("request=" + Request);
      if (Request == "C") return false;
      if (!Answer(Pipe, Request)) {
        // Dropped after what was sent has been read: a disconnect would
        // discard it, and the client is to see the pipe break after it.
        FlushFileBuffers(Pipe->Handle.Get());
        return false;
      }
      Send(Pipe, ".");
      if (!Request.empty() && Request.front() == 'T') {
        std::int32_t Seconds = -1;
        try {
          Seconds = Text::Integer_Value(std::string_view(Request).substr(1));
        } catch (const Failure &) {}
        if (Seconds == 0) {
          // Let the client read the end mark: a disconnect would discard it.
          try {
            Record("request=" + Receive(Pipe, Last_Word_Wait));
          } catch (const Failure &) {}
          return true;
        }
        if (Seconds > 0) Idle_Seconds_ = Seconds;
      }
    }
  }

  // The replies to one request, without the end mark; false when the client
  // was dropped.
  bool Answer(const Pipe_Handle &Pipe, const std::string &Request) {
    if (!Script_) {
      for (const std::string &Message :
           Server::Cut(Server::Answer(Request), static_cast<std::size_t>(Size_)))
        Send(Pipe, Message);
      return true;
    }
    const Server::Rule *const Rule = Script_->Rule_For(Request);
    if (!Rule) return true;
    for (const Server::Action &Step : Rule->Actions) {
      switch (Step.What) {
      case Server::Action::Kind::Reply:
        Send(Pipe, Step.Text);
        break;
      case Server::Action::Kind::Empty:
        Send(Pipe, "");
        break;
      case Server::Action::Kind::Oversize:
        Send(Pipe, std::string(static_cast<std::size_t>(Step.Number), 'x'));
        break;
      case Server::Action::Kind::Pause:
        Sleep(static_cast<DWORD>(Step.Number * 1000));
        break;
      case Server::Action::Kind::Await:
        Await_File(Step.Text);
        break;
      case Server::Action::Kind::Drop:
        return false;
      }
    }
    return true;
  }

  std::string Name_;
  std::int32_t Size_;                    // the client's message length: replies are cut to it
  std::int32_t Pipe_Size_;               // the pipe's buffers and the longest request
  std::optional<Server::Script> Script_; // none: real answers
  double Idle_Seconds_;
  int Served_ = 0;
  std::vector<char> Buffer_; // grows to the longest request yet
};

} // namespace

int main(int argc, char **argv) {
  Record(std::string("command_line=") + GetCommandLineA());
  if (argc < 2) return 2;
  std::int32_t Size = 1000;
  if (argc > 2) {
    try {
      const std::int32_t Asked = Text::Integer_Value(argv[2]);
      if (Asked >= 1) Size = Asked;
    } catch (const Failure &) {}
  }
  std::optional<Server::Script> Plan;
  if (const char *const Script_Name = std::getenv("TEZ_SERVER_SCRIPT")) {
    Plan = Server::Load_Script(Script_Name);
    if (Plan->Never_Create) {
      Sleep(static_cast<DWORD>(*Plan->Never_Create * 1000));
      return 0;
    }
    Sleep(static_cast<DWORD>(Plan->Delay_Start * 1000));
    if (!Plan->Start_After.empty()) Await_File(Plan->Start_After);
  }
  return Stand_In(argv[1], Size, std::move(Plan)).Run() ? 0 : 1;
}
