#pragma once

#include "windows/pipe.hpp"

#include <cstdint>
#include <string>
#include <string_view>

// The client's side of the conversation with the Tez Server: one connection
// per run, one message per request, replies read up to the end mark ".".
namespace Client {

// The connection; null when none was made, so that every read and write
// fails with WINDOWS.PIPE.NO_HANDLE.
extern Windows::Pipe::Pipe_Handle Server_Pipe;

// The buffer size asked for at the open and the longest reply accepted.
extern std::int32_t Pipe_Length;

// Opens the pipe, starting the server when nobody listens (not for Close).
// False when it printed a message that ends the configuration step (among
// them the refusal of a pipe whose server is not the user's own); true
// otherwise, also when no connection could be made.
bool Connect_To_Server(std::string_view Pipe_Name, std::string_view Pipe_Length_Text,
                       std::string_view Server_Path);

// Logs the request, then writes it as one message.
void Write_To_Server(std::string_view Request);

// The next reply message, possibly empty: the bytes in the read buffer, valid
// until the next read.
std::string_view Read_From_Server();

// Handles replies until the end mark.
void Read_Replies();

} // namespace Client
