#pragma once

#include <string>
#include <string_view>

// The client's settings: section [Tez_Client] of the configuration file named
// on the command line. Reading them connects to the server and passes it the
// server-side settings.
namespace Client {

// Chooses the file (beside the program for a bare name that exists there),
// then configures the server. Prints its own messages; a failure it did not
// expect is reported, announced as "Unexpected error" and raised again.
void Process_Configuration_File(std::string_view File_Name);

// Reads the keys, connects, sends the settings and takes the editor command.
void Configure_Server(std::string_view File_Name);

// The value of Key in the chosen file's [Tez_Client] section, as read when
// the file was chosen; empty when absent.
std::string Read_Key(std::string_view Key);

// Sends Code and the key's value, and handles the replies; nothing for an
// empty value.
void Send_Setting(char Code, std::string_view Key);

} // namespace Client
