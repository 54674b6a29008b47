#include "client/conversation.hpp"

#include "client/command_line.hpp"
#include "client/console.hpp"
#include "client/replies.hpp"
#include "log/log.hpp"
#include "windows/files.hpp"
#include "windows/windows.hpp"

#include <memory>

namespace Client {

Windows::Pipe::Pipe_Handle Server_Pipe;
std::int32_t Pipe_Length = 1000;

namespace {

using namespace Windows::Pipe;

constexpr int Open_Attempts = 4;
const Duration Start_Up_Wait = Duration::From_Raw(1638); // 0.1 s
const Duration Retry_Wait = Duration::From_Raw(Duration::Units_Per_Second);

// Reused for every reply; its contents are never read beyond what arrived.
std::unique_ptr<char[]> Reply_Buffer;
std::int32_t Reply_Buffer_Size = 0;

void Open_Server_Pipe(std::string_view Pipe_Name) {
  Open(Server_Pipe, Pipe_Name, Pipe_Kind::Client_End, Pipe_Mode::Duplex, Pipe_Length);
}

} // namespace

std::string Command_Line_Program(std::string_view Path) {
  if (Path.find_first_of(" \t") == std::string_view::npos || Path.front() == '"' ||
      !Windows::Files::File_Exists(Path, false))
    return std::string(Path);
  return '"' + std::string(Path) + '"';
}

bool Connect_To_Server(std::string_view Pipe_Name, std::string_view Pipe_Length_Text,
                       std::string_view Server_Path) {
  try {
    Open_Server_Pipe(Pipe_Name);
    return true;
  } catch (const No_Server &) {}
  if (Current_Command == Command_Kind::Close) return true;
  if (Server_Path.empty()) {
    Console::Put_Line("Server not specified in configuration file");
    return false;
  }
  if (!Windows::Files::File_Exists(Server_Path, false)) {
    Console::Put_Line("Specified server not found");
    return false;
  }
  std::string Arguments(Pipe_Name);
  if (!Pipe_Length_Text.empty()) (Arguments += ' ') += Pipe_Length_Text;
  Windows::Create_Process(Command_Line_Program(Server_Path), Arguments, "", "", nullptr, nullptr,
                          nullptr, false);
  Windows::Delay(Start_Up_Wait);
  for (int Attempt = 1; Attempt <= Open_Attempts; ++Attempt) {
    try {
      Open_Server_Pipe(Pipe_Name);
      return true;
    } catch (const No_Server &) {
      Windows::Delay(Retry_Wait);
    }
  }
  return true;
}

void Write_To_Server(std::string_view Request) {
  Log::Put("Write to Server=" + std::string(Request));
  Write(Server_Pipe, Request.data(), static_cast<std::int32_t>(Request.size()));
}

std::string Read_From_Server() {
  Check_Handle(Server_Pipe);
  if (Reply_Buffer_Size != Pipe_Length) {
    Reply_Buffer.reset(new char[static_cast<std::size_t>(Pipe_Length)]);
    Reply_Buffer_Size = Pipe_Length;
  }
  const std::int32_t Count = Read(Server_Pipe, Reply_Buffer.get());
  return std::string(Reply_Buffer.get(), static_cast<std::size_t>(Count));
}

void Read_Replies() {
  while (Handle_Reply()) {}
}

} // namespace Client
