#include "client/command_line.hpp"

#include "client/console.hpp"
#include "log/log.hpp"
#include "text/integer_literal.hpp"
#include "text/text.hpp"
#include "windows/characters.hpp"
#include "windows/files.hpp"

#include <array>
#include <optional>
#include <utility>

namespace Client {

Command_Kind Current_Command = Command_Kind::None;
bool Shutdown_Requested = false;

namespace {

constexpr std::int32_t Line_Limit = 1'048'576;
constexpr std::int32_t Column_Limit = 4096;

// ASCII and Latin-1 capitals fold to their small letters (the multiplication
// sign 0xD7 has no small form).
char Fold(char C) {
  const auto U = static_cast<unsigned char>(C);
  if ((U >= 'A' && U <= 'Z') || (U >= 0xC0 && U <= 0xDE && U != 0xD7))
    return static_cast<char>(U + 0x20);
  return C;
}

// Whether Text reads as an integer below Limit; a text that does not read
// as one is a malformed query too, and goes to the log.
bool Below(const std::string &Text, std::int32_t Limit) {
  try {
    return Text::Integer_Value(Text) < Limit;
  } catch (const Text::Conversion_Error &) {
    Log::Report("Build_Request", std::current_exception());
    return false;
  }
}

Request_Outcome Send(std::string Request) {
  return {Request_Outcome::Kind::Send, std::move(Request)};
}

// Argument N as the code page holds it; see Held_Arguments.
std::string Held(const std::wstring &Given, std::size_t Position) {
  if (std::optional<std::string> Exact = Windows::Characters::Narrow(Given)) return *Exact;
  std::string Image = Windows::Characters::Image(Given);
  const std::string Argument = "Argument " + std::to_string(Position) + " " + Image;
  const std::string Why = ": code page " + std::to_string(GetACP()) + " cannot hold it";
  if (Position != 1 && Position != 3) {
    Log::Put(Argument + " names nothing" + Why);
    return Image;
  }
  const std::optional<std::wstring> Short = Windows::Files::Short_Path(Given);
  const std::optional<std::string> Held_Short =
      Short ? Windows::Characters::Narrow(*Short) : std::nullopt;
  if (Held_Short) {
    Log::Put(Argument + " is passed by its short name " + *Held_Short + Why);
    return *Held_Short;
  }
  Log::Put(Argument + " names no file" + Why +
           (Short ? ", nor its short name " + Windows::Characters::Image(*Short)
                  : ", and it has no short name"));
  return Image;
}

} // namespace

Argument_List Held_Arguments(const std::vector<std::wstring> &Given) {
  Argument_List Arguments;
  Arguments.reserve(Given.size());
  for (const std::wstring &Argument : Given)
    Arguments.push_back(Held(Argument, Arguments.size() + 1));
  return Arguments;
}

Command_Kind Lookup_Command(std::string_view Word) {
  // Every word is a prefix of the empty one.
  if (Word.empty()) return Command_Kind::None;
  std::string Folded(Word);
  for (char &C : Folded)
    C = Fold(C);
  static constexpr std::array<std::pair<std::string_view, Command_Kind>, 5> Words{{
      {"reference", Command_Kind::Reference},
      {"close", Command_Kind::Close},
      {"location", Command_Kind::Location},
      {"syntax", Command_Kind::Syntax},
      {"unused", Command_Kind::Unused},
  }};
  for (const auto &[Command_Word, Kind] : Words)
    if (Text::Index(Folded, Command_Word, 0, Text::Direction::Forward) == 1) return Kind;
  return Command_Kind::None;
}

Request_Outcome Build_Request(Command_Kind Command, const Argument_List &Arguments, bool Shutdown) {
  if (Command == Command_Kind::Close || Shutdown) return Send("T0");
  const std::size_t Count = Arguments.size();
  const bool Whole_File = Command == Command_Kind::Syntax || Command == Command_Kind::Unused;
  const bool Position = Command == Command_Kind::Reference || Command == Command_Kind::Location;
  if ((Whole_File && Count == 3) || (Position && Count == 5)) {
    const std::string &Source = Arguments[2];
    if (!Windows::Files::File_Exists(Source, false))
      return {Request_Outcome::Kind::Missing_Source, {}};
    if (Whole_File) return Send((Command == Command_Kind::Syntax ? "S" : "A") + Source);
    // The numbers only bound the request; it carries the texts as typed.
    if (!Below(Arguments[3], Line_Limit) || !Below(Arguments[4], Column_Limit))
      return {Request_Outcome::Kind::No_Request, {}};
    return Send((Command == Command_Kind::Reference ? "R" : "L") + Source + "<" + Arguments[3] +
                "," + Arguments[4] + ">");
  }
  return {Request_Outcome::Kind::No_Request, {}};
}

void Print_Usage() {
  static constexpr std::array<std::string_view, 11> Usage{
      "Tez_Client",
      "-- Program to communicate with the Tez Server",
      "-- Parameters:",
      "-- 1: Name of configuration file. Section=[Tez_Client]",
      "-- 2: Command = [Close | Reference | Syntax | Location | Unused]",
      "-- Syntax and Unused require an additional parameter:",
      "-- 3: Name of file to check",
      "-- Reference and Location require three further parameters:",
      "-- 3: Name of file being queried",
      "-- 4: Line number of query = 1..1'048'575",
      "-- 5: Column number of query = 1..4095",
  };
  for (const std::string_view Line : Usage)
    Console::Put_Line(Line);
}

} // namespace Client
