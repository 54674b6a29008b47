#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// What the command line means: the command word, the arguments each command
// takes and the request text each command produces.
namespace Client {

enum class Command_Kind : std::uint8_t { None, Close, Location, Reference, Syntax, Unused };

// The command of this run, set once by the main flow.
extern Command_Kind Current_Command;

// Set when a reply line began with "!"; never reset during the run.
extern bool Shutdown_Requested;

// Command-line arguments, argument 1 first (the program name excluded),
// exactly as the platform delivered them.
using Argument_List = std::vector<std::string>;

// The arguments as the system holds them (UTF-16, argument 1 first), each in
// the code page exactly, never by look-alikes. Where the code page cannot
// hold one, a file name (argument 1, the configuration, or 3, the source) is
// given by its short name when that is held exactly: it names the same file.
// Any other such argument, and a file without such a short name, becomes its
// image, whose "<U+...>" no file name, command word or number holds: it names
// nothing. The log records each of these and what was done with it.
Argument_List Held_Arguments(const std::vector<std::wstring> &Given);

struct Request_Outcome {
  enum class Kind : std::uint8_t { Send, Missing_Source, No_Request };
  Kind Outcome;
  std::string Request; // the text to send, for Send only
};

// A case-insensitive non-empty prefix of reference, close, location, syntax
// or unused (in that order); None otherwise, the empty word among them.
Command_Kind Lookup_Command(std::string_view Word);

// Chooses the request of this run: No_Request for a line or column that is
// not an integer literal too (logged). Prints nothing.
Request_Outcome Build_Request(Command_Kind Command, const Argument_List &Arguments, bool Shutdown);

void Print_Usage();

} // namespace Client
