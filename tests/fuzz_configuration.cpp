// The real client on random configuration files: missing sections, missing
// and empty keys, values of any bytes and of lengths about the size the
// client first reads, Pipelength texts of every form, server paths of every
// kind. The client never hangs, ends with status 0, writes nothing to
// standard error and prints only lines of its own; a server it starts gets
// exactly the command line the rules give, and the settings reach the server
// as the system reads them from the file. Where the pipe name is a plain one,
// the printed lines themselves are those the rules give.
#include "fuzz_support.hpp"
#include "pipe_support.hpp"

#include <algorithm>
#include <set>

#include <windows.h>

namespace {

using Fuzz::Settings;
using Strings = std::vector<std::string>;

const std::vector<std::string> Keys{"Pipename", "Pipelength", "Server", "Errors",  "Format",
                                    "Editor",   "Compiler",   "Path",   "Timeout", "Units"};

bool Is_Own_Line(const std::string &Line) {
  static const std::set<std::string> Lines = [] {
    std::set<std::string> All{"Pipename not specified in configuration file",
                              "Invalid Pipename specified in configuration file",
                              "Server not specified in configuration file",
                              "Specified server not found",
                              "Could not start server",
                              "Cannot communicate with server",
                              "Unexpected error",
                              "Could not start editor!",
                              "Unknown command",
                              "Source file not found.",
                              "Server pipe belongs to another user"};
    const std::string Usage = Test_Support::Usage_Text;
    for (std::size_t Start = 0; Start < Usage.size();) {
      const std::size_t End = Usage.find("\r\n", Start);
      All.insert(Usage.substr(Start, End - Start));
      Start = End + 2;
    }
    return All;
  }();
  return Lines.count(Line) > 0;
}

// A value of any bytes but the line ends, often about the length where the
// client's first read of a value ends.
std::string Value_Bytes(Fuzz::Random &R) {
  const std::vector<std::size_t> Lengths{R.Below(12), 297 + R.Below(6), 597 + R.Below(6),
                                         1197 + R.Below(6), R.Below(3000)};
  std::string Value;
  for (std::size_t Count = R.Pick(Lengths); Count > 0; --Count) {
    char C = R.Byte();
    if (C == '\r' || C == '\n') C = ' ';
    if (C == '\0' && R.Percent(80)) C = 'x';
    Value += C;
  }
  return Value;
}

bool File_Exists(const std::string &Name) {
  const DWORD Attributes = GetFileAttributesA(Name.c_str());
  return Attributes != INVALID_FILE_ATTRIBUTES && !(Attributes & FILE_ATTRIBUTE_DIRECTORY);
}

class Configuration_Fuzz : public Fuzz::Client_Fuzz {
protected:
  const std::string Not_A_Program = Dir / "not_a_program.exe";
  const std::string Own_Record = Dir / "own_server.txt";
  const std::string Started_Record = Dir / "started_server.txt";

  void SetUp() override {
    Client_Fuzz::SetUp();
    Test_Support::Write_File(Not_A_Program, "text");
  }

  std::string Value_For(Fuzz::Random &R, const std::string &Key, const std::string &Pipe) {
    if (Key == "Pipename") {
      switch (R.Below(8)) {
      case 0:
        return Pipe + Value_Bytes(R);
      case 1:
        return Pipe + "\\" + R.Bytes(R.Length(4));
      case 2:
        return Pipe + std::string(250 + R.Below(20), 'n');
      default:
        return R.Percent(20) ? " " + Pipe + " " : Pipe;
      }
    }
    if (Key == "Pipelength") return Fuzz::Literal_Text(R);
    if (Key == "Server") {
      switch (R.Below(8)) {
      case 0:
        return Spaced_Server;
      case 1:
        return "\"" + Spaced_Server + "\"";
      case 2:
        return Dir / "missing.exe";
      case 3:
        return Not_A_Program;
      case 4:
        return Value_Bytes(R);
      default:
        return Server;
      }
    }
    return Value_Bytes(R);
  }

  // Keys in any order and letter case, absent, empty or with a value, among
  // comments, stray lines and other sections.
  std::string Configuration(Fuzz::Random &R, const std::string &Pipe) {
    std::string Text;
    if (R.Percent(5)) Text += "[Other]\r\nPipename=" + Pipe + "\r\n";
    Text += R.Percent(85)
                ? "[Tez_Client]\r\n"
                : R.Pick(Strings{"[tez_client]", "[Tez_Client ]", "[Other]", ""}) + "\r\n";
    Strings Lines;
    for (const std::string &Key : Keys) {
      if (R.Percent(Key == "Pipename" ? 5 : 15)) continue;
      std::string Name = Key;
      if (R.Percent(10))
        std::transform(Name.begin(), Name.end(), Name.begin(), [](char C) { return C ^ 0x20; });
      Lines.push_back(Name + (R.Percent(10) ? " = " : "=") +
                      (R.Percent(10) ? "" : Value_For(R, Key, Pipe)));
    }
    if (R.Percent(10)) Lines.push_back("; " + Value_Bytes(R));
    if (R.Percent(10)) Lines.push_back(Value_Bytes(R));
    if (R.Percent(5) && !Lines.empty()) Lines.push_back(Lines.front());
    for (std::size_t I = Lines.size(); I > 1; --I)
      std::swap(Lines[I - 1], Lines[R.Below(I)]);
    for (const std::string &Line : Lines)
      Text += Line + "\r\n";
    return Text;
  }

  // The settings as the system reads them from the file: the oracle of what
  // the client may send.
  std::string Read(const std::string &Key) const {
    std::string Buffer(1 << 16, '\0');
    const DWORD Count = GetPrivateProfileStringA("Tez_Client", Key.c_str(), "", Buffer.data(),
                                                 static_cast<DWORD>(Buffer.size()), Config.c_str());
    return Buffer.substr(0, Count);
  }

  void Check(Fuzz::Random &R) {
    const std::string Pipe = Test_Support::Unique_Pipe_Name();
    Test_Support::Write_File(Config, Configuration(R, Pipe));
    const bool Close = R.Percent(15);
    auto [Arguments, Request] = Query(R);
    if (Close) Arguments = {R.Pick(Strings{"close", "C", "CLOSE"})}, Request = "T0";
    Arguments.insert(Arguments.begin(), Config);
    DeleteFileA(Own_Record.c_str());
    DeleteFileA(Started_Record.c_str());
    DeleteFileA(Editor_Record.c_str());

    const std::string Name = Read("Pipename"), Length_Text = Read("Pipelength"),
                      Server_Path = Read("Server");
    Strings Requests;
    if (!Close)
      for (const Fuzz::Setting &Each : Settings)
        if (const std::string Value = Read(Each.Key); !Value.empty())
          Requests.push_back(Each.Code + Value);
    Requests.push_back(Request);
    Requests.push_back("C");
    const bool Plain = Name == Pipe;
    std::optional<Fuzz::Stand_In_Server> Stand_In;
    if (!Name.empty() && R.Percent(50))
      Stand_In.emplace(Server, Name, Fuzz::Environment{{"TEZ_FUZZ_RECORD", Own_Record}});
    const bool Listening = Stand_In && Stand_In->Listening();
    if (Plain) {
      ASSERT_EQ(Listening, Stand_In.has_value()) << "a plain name always serves";
    }

    const Test_Support::Run_Result Result = Fuzz::Run_Program(
        Client, Arguments, Dir.Path(),
        {{"TEZ_FUZZ_RECORD", Started_Record}, {"TEZ_FUZZ_EDITOR_RECORD", Editor_Record}});
    if (Stand_In) {
      EXPECT_TRUE(Stand_In->Finish()) << "the stand-in server hangs";
    }

    EXPECT_FALSE(Result.Hung) << "the client hangs";
    EXPECT_EQ(Result.Exit_Code, 0u);
    EXPECT_EQ(Result.Errors, "");
    EXPECT_TRUE(Result.Output.empty() || Result.Output.ends_with("\r\n")) << Result.Output;
    for (std::size_t Start = 0; Start < Result.Output.size();) {
      const std::size_t End = Result.Output.find("\r\n", Start);
      const std::string Line = Result.Output.substr(Start, End - Start);
      EXPECT_TRUE(Is_Own_Line(Line)) << Result.Output;
      Fuzz::Tally("printed \"" + Line + "\"");
      Start = End == std::string::npos ? Result.Output.size() : End + 2;
    }
    EXPECT_TRUE(Fuzz::Record_Values(Editor_Record, "started").empty())
        << "nothing starts an editor, or a decoy";

    // A server the client starts: the path, quoted when it names a file and
    // holds a blank, the name and the Pipelength text as configured.
    const bool Quote = Server_Path.find_first_of(" \t") != std::string::npos &&
                       Server_Path.front() != '"' && File_Exists(Server_Path);
    std::string Command_Line = (Quote ? "\"" + Server_Path + "\"" : Server_Path) + " " + Name;
    if (!Length_Text.empty()) Command_Line += " " + Length_Text;
    const Strings Started = Fuzz::Record_Values(Started_Record, "command_line");
    if (!Started.empty()) {
      EXPECT_FALSE(Listening) << "a server was started while one listened";
      EXPECT_FALSE(Close) << "a server was started for Close";
      EXPECT_EQ(Started, Strings{Command_Line});
    }
    for (const std::string &Record : {Own_Record, Started_Record}) {
      const Strings Received = Fuzz::Record_Values(Record, "request");
      if (!Received.empty()) {
        EXPECT_EQ(Received, Requests);
      }
    }
    Fuzz::Tally(Plain ? "plain pipe names" : Name.empty() ? "no pipe name" : "odd pipe names");
    Fuzz::Tally("servers started", Started.size());
    if (Listening) Fuzz::Tally("a server listening");
    if (!Plain && !Name.empty()) return;

    // A plain name: the whole outcome follows from the rules.
    std::string Output;
    const bool Startable = Server_Path == Server || Server_Path == Spaced_Server;
    if (Name.empty())
      Output = "Pipename not specified in configuration file\r\n";
    else if (Listening || Close)
      ;
    else if (Server_Path.empty())
      Output = "Server not specified in configuration file\r\n";
    else if (!File_Exists(Server_Path))
      Output = "Specified server not found\r\n";
    else if (Server_Path == Not_A_Program)
      Output = "Could not start server\r\n";
    else if (!Startable)
      return;
    EXPECT_EQ(Result.Output, Output);
    const bool Served = !Name.empty() && (Listening || (!Close && Startable));
    EXPECT_EQ(Fuzz::Record_Values(Listening ? Own_Record : Started_Record, "request"),
              Served ? Requests : Strings{});
    EXPECT_EQ(Started.size(), !Listening && !Close && Startable && !Name.empty() ? 1u : 0u);
  }
};

} // namespace

TEST_F(Configuration_Fuzz, AnyConfigurationFile) {
  Fuzz::Run("configuration", 50, [&](Fuzz::Random &R) { Check(R); });
}
