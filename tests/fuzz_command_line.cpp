// Random command lines: any number of arguments, command words in any case,
// source names of every kind, line and column texts from the literal grammar
// and noise. The command the client recognises and the request it forms
// agree with a small model written here; every thousandth command line also
// goes through the real client, whose printed lines and requests must agree
// with the model too.
#include "client/command_line.hpp"
#include "fuzz_support.hpp"
#include "pipe_support.hpp"

#include <algorithm>
#include <array>
#include <cctype>

#include <windows.h>

namespace {

using Client::Command_Kind;
using Strings = std::vector<std::string>;

// What a command line comes to: the request, or why there is none.
struct Decision {
  enum class Kind { Send, Missing_Source, No_Request } What;
  std::string Request;
  friend bool operator==(const Decision &, const Decision &) = default;
};

const char *Name_Of(Decision::Kind What) {
  static constexpr std::array<const char *, 3> Names{"Send", "Missing_Source", "No_Request"};
  return Names[static_cast<std::size_t>(What)];
}

std::ostream &operator<<(std::ostream &Out, const Decision &D) {
  return Out << Name_Of(D.What) << " " << ::testing::PrintToString(D.Request);
}

// The model: non-empty prefixes of the command words after folding ASCII and
// Latin-1 capitals, then the request by command and argument count.
Command_Kind Model_Command(const std::string &Word) {
  if (Word.empty()) return Command_Kind::None;
  std::string Folded;
  for (const char C : Word) {
    const auto U = static_cast<unsigned char>(C);
    const bool Capital = (U >= 'A' && U <= 'Z') || (U >= 0xC0 && U <= 0xDE && U != 0xD7);
    Folded += static_cast<char>(Capital ? U + 32 : U);
  }
  static const std::vector<std::pair<std::string, Command_Kind>> Words{
      {"reference", Command_Kind::Reference},
      {"close", Command_Kind::Close},
      {"location", Command_Kind::Location},
      {"syntax", Command_Kind::Syntax},
      {"unused", Command_Kind::Unused}};
  for (const auto &[Name, Kind] : Words)
    if (Name.starts_with(Folded)) return Kind;
  return Command_Kind::None;
}

bool Exists(const std::string &Name) {
  const DWORD Attributes = GetFileAttributesA(Name.c_str());
  return Attributes != INVALID_FILE_ATTRIBUTES && !(Attributes & FILE_ATTRIBUTE_DIRECTORY);
}

Decision Model_Request(Command_Kind Command, const Strings &Arguments, bool Shutdown) {
  using K = Decision::Kind;
  if (Command == Command_Kind::Close || Shutdown) return {K::Send, "T0"};
  const std::size_t Count = Arguments.size();
  if ((Command == Command_Kind::Syntax || Command == Command_Kind::Unused) && Count == 3) {
    if (!Exists(Arguments[2])) return {K::Missing_Source, ""};
    return {K::Send, (Command == Command_Kind::Syntax ? "S" : "A") + Arguments[2]};
  }
  if ((Command == Command_Kind::Reference || Command == Command_Kind::Location) && Count == 5) {
    if (!Exists(Arguments[2])) return {K::Missing_Source, ""};
    const auto Line = Fuzz::Literal_Value(Arguments[3]);
    if (!Line || *Line >= 1048576) return {K::No_Request, ""};
    const auto Column = Fuzz::Literal_Value(Arguments[4]);
    if (!Column || *Column >= 4096) return {K::No_Request, ""};
    return {K::Send, (Command == Command_Kind::Reference ? "R" : "L") + Arguments[2] + "<" +
                         Arguments[3] + "," + Arguments[4] + ">"};
  }
  return {K::No_Request, ""};
}

// The program's own routines on the same command line.
Decision Program_Request(const Strings &Arguments, bool Shutdown, Command_Kind &Command) {
  using K = Decision::Kind;
  Command = Client::Lookup_Command(Arguments[1]);
  const Client::Request_Outcome Outcome = Client::Build_Request(Command, Arguments, Shutdown);
  switch (Outcome.Outcome) {
  case Client::Request_Outcome::Kind::Send:
    return {K::Send, Outcome.Request};
  case Client::Request_Outcome::Kind::Missing_Source:
    return {K::Missing_Source, Outcome.Request};
  case Client::Request_Outcome::Kind::No_Request:
    break;
  }
  return {K::No_Request, Outcome.Request};
}

class Command_Line_Fuzz : public Fuzz::Client_Fuzz {
protected:
  const std::string Record = Dir / "server.txt";

  std::string Word(Fuzz::Random &R) {
    static const Strings Words{"reference", "close", "location", "syntax", "unused"};
    std::string Text = R.Pick(Words).substr(0, 1 + R.Below(9));
    for (char &C : Text)
      if (R.Percent(30)) C = static_cast<char>(C ^ 0x20);
    switch (R.Below(12)) {
    case 0:
      return "";
    case 1:
      return R.Bytes(R.Length(12));
    case 2:
      return Text + R.Pick(Strings{"s", " ", "x", "\xC9"});
    case 3:
      // A Latin-1 capital never folds into ASCII.
      Text[R.Below(Text.size())] = static_cast<char>(0xC0 + R.Below(32));
      return Text;
    case 4:
      return R.Pick(Strings{" ", "\t"}) + Text;
    default:
      return Text;
    }
  }

  std::string Source_Name(Fuzz::Random &R) {
    switch (R.Below(8)) {
    case 0:
      return Dir / "missing.src";
    case 1:
      return Dir.Path();
    case 2:
      return R.Bytes(R.Length(20));
    case 3:
      return "";
    case 4: {
      std::string Name = Source;
      for (char &C : Name)
        if (R.Percent(20) && std::isalpha(static_cast<unsigned char>(C))) C ^= 0x20;
      return Name;
    }
    default:
      return Source;
    }
  }

  Strings Arguments(Fuzz::Random &R, bool Printable) {
    Strings List;
    const std::size_t Count = R.Percent(85) ? 2 + R.Below(5) : R.Below(9);
    if (Count > 0) List.push_back(Config);
    if (Count > 1) List.push_back(Word(R));
    if (Count > 2) List.push_back(Source_Name(R));
    // The line and column: most often near their bounds.
    static const std::vector<std::int64_t> Bounds{0, -1, 4095, 4096, 1048575, 1048576};
    while (List.size() < Count)
      List.push_back(R.Percent(30)   ? Fuzz::Literal_For(R, R.Pick(Bounds))
                     : R.Percent(90) ? Fuzz::Literal_Text(R)
                                     : R.Bytes(R.Length(10)));
    // A command line carries no NUL.
    if (Printable)
      for (std::string &Argument : List)
        std::replace(Argument.begin(), Argument.end(), '\0', '0');
    return List;
  }

  void Check_In_Process(Fuzz::Random &R) {
    const Strings List = Arguments(R, false);
    const bool Shutdown = R.Percent(15);
    if (List.size() < 2) return;
    Command_Kind Command = Command_Kind::None;
    const Decision Got = Program_Request(List, Shutdown, Command);
    EXPECT_EQ(Command, Model_Command(List[1])) << ::testing::PrintToString(List[1]);
    Fuzz::Tally(Name_Of(Got.What));
    EXPECT_EQ(Got, Model_Request(Model_Command(List[1]), List, Shutdown))
        << ::testing::PrintToString(List) << (Shutdown ? " after a \"!\" reply" : "");
  }

  // The real client, its stand-in server listening and answering ".".
  void Check_Real_Run(Fuzz::Random &R) {
    const Strings List = Arguments(R, true);
    Fuzz::Tally("real runs");
    const std::string Pipe = Test_Support::Unique_Pipe_Name();
    Test_Support::Write_File(Config,
                             "[Tez_Client]\r\nPipename=" + Pipe + "\r\nServer=" + Server + "\r\n");
    DeleteFileA(Record.c_str());
    Fuzz::Stand_In_Server Stand_In(Server, Pipe, {{"TEZ_FUZZ_RECORD", Record}});
    ASSERT_TRUE(Stand_In.Listening());
    const Test_Support::Run_Result Result = Fuzz::Run_Program(Client, List, Dir.Path(), {});
    EXPECT_TRUE(Stand_In.Finish());
    EXPECT_FALSE(Result.Hung);
    EXPECT_EQ(Result.Exit_Code, 0u);
    EXPECT_EQ(Result.Errors, "");

    std::string Output;
    Strings Requests;
    if (List.size() < 2) {
      Output = Test_Support::Usage_Text;
    } else if (Model_Command(List[1]) == Command_Kind::None) {
      Output = "Unknown command\r\n";
    } else {
      const Decision Want = Model_Request(Model_Command(List[1]), List, false);
      switch (Want.What) {
      case Decision::Kind::Send:
        Requests = {Want.Request, "C"};
        break;
      case Decision::Kind::Missing_Source:
        Output = "Source file not found.\r\n";
        break;
      case Decision::Kind::No_Request:
        Output = Test_Support::Usage_Text;
        Requests = {"C"};
        break;
      }
    }
    EXPECT_EQ(Result.Output, Output) << ::testing::PrintToString(List);
    EXPECT_EQ(Fuzz::Record_Values(Record, "request"), Requests) << ::testing::PrintToString(List);
  }
};

} // namespace

TEST_F(Command_Line_Fuzz, AnyCommandLine) {
  Fuzz::Run("command_line", 20000, [&](Fuzz::Random &R) {
    if (R.Below(1000) == 0)
      Check_Real_Run(R);
    else
      Check_In_Process(R);
  });
}
