// The real client against a stand-in server that sends a random stream of
// reply messages: lengths 0 to Pipelength + 1, any bytes, end marks and
// location and error replies anywhere, and a dropped pipe at a random point.
// Whatever the stream, the client ends with status 0, writes nothing to
// standard error, prints exactly what the reply rules give, starts the editor
// once for each location reply and nothing else, and sends the requests the
// conversation calls for.
#include "fuzz_support.hpp"
#include "pipe_support.hpp"
#include "support.hpp"

#include <algorithm>

#include <gtest/gtest.h>
#include <windows.h>

namespace {

using Fuzz::Settings;
using Strings = std::vector<std::string>;

struct Run_Input {
  std::string Pipe_Length_Text; // empty: no key
  std::size_t Pipe_Length;      // what the client makes of it
  Strings Values;               // one a setting, empty when not sent
  std::string Editor_Program;   // how the editor appears on its command line
  std::string Editor_File;      // the program that must run
  bool Editor_Startable;
  Strings Arguments; // after the configuration file
  std::string Query;
  Fuzz_Wire::Plan Stream;
};

struct Outcome {
  std::string Output;
  Strings Editor_Starts; // program and command line; sorted: editors run side by side
  Strings Requests;
};

// The reply rules applied to the stream as the client meets it: the
// settings' replies, then the query's, each list up to its end mark. Past its
// plan the server answers "." alone.
Outcome Expected(const Run_Input &In) {
  Outcome Out;
  std::size_t Next = 0;
  bool Shutdown = false;
  const auto Replies = [&](bool Editor_Set) {
    for (;;) {
      if (In.Stream.Drop && Next == *In.Stream.Drop) return false;
      const std::string M = Next < In.Stream.Messages.size() ? In.Stream.Messages[Next] : ".";
      ++Next;
      if (M.size() > In.Pipe_Length) return false;
      if (M.empty()) continue;
      if (M == ".") return true;
      if (Editor_Set && M.size() > 1 && M[0] == '>') {
        // A location that would not reach the editor as sent is refused: a
        // NUL would end the command line, a byte that is no character would
        // be joined with the next.
        const bool Characters = M.find('\0') == std::string::npos &&
                                MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, M.data() + 1,
                                                    static_cast<int>(M.size() - 1), nullptr, 0) > 0;
        if (!In.Editor_Startable || !Characters) {
          Out.Output += "Could not start editor!\r\n";
          continue;
        }
        Out.Editor_Starts.push_back(In.Editor_File + '\n' + In.Editor_Program + " " + M.substr(1));
        continue;
      }
      Out.Output += M + "\r\n";
      if (M[0] == '!') Shutdown = true;
    }
  };
  for (std::size_t I = 0; I < Settings.size(); ++I) {
    if (In.Values[I].empty()) continue;
    Out.Requests.push_back(Settings[I].Code + In.Values[I]);
    if (!Replies(false)) {
      Out.Output += "Unexpected error\r\n";
      return Out;
    }
  }
  Out.Requests.push_back(Shutdown ? "T0" : In.Query);
  if (Replies(!In.Values[2].empty()))
    Out.Requests.push_back("C");
  else
    Out.Output += "Unexpected error\r\n";
  std::sort(Out.Editor_Starts.begin(), Out.Editor_Starts.end());
  return Out;
}

// Bytes that mean something to the client or the console come often.
std::string Reply_Bytes(Fuzz::Random &R, std::size_t Count) {
  static const std::string Special{"\0\r\n>!. \t\"", 9};
  std::string Text;
  for (std::size_t I = 0; I < Count; ++I)
    Text += R.Percent(30) ? Special[R.Below(Special.size())] : R.Byte();
  return Text;
}

std::size_t Reply_Length(Fuzz::Random &R, std::size_t Pipe_Length) {
  switch (R.Below(32)) {
  case 0:
    return Pipe_Length + 1; // ends the run: now and then only
  case 1:
  case 2:
  case 3:
    return R.Below(3);
  case 4:
  case 5:
  case 6:
    return Pipe_Length - R.Below(std::min<std::size_t>(Pipe_Length, 2));
  case 7:
  case 8:
  case 9:
  case 10:
  case 11:
    return R.Below(Pipe_Length + 1);
  default:
    return std::min(Pipe_Length, 2 + R.Below(12));
  }
}

std::string Reply_Message(Fuzz::Random &R, std::size_t Pipe_Length) {
  const std::size_t Length = Reply_Length(R, Pipe_Length);
  const std::size_t Rest = Length > 0 ? Length - 1 : 0;
  switch (R.Below(10)) {
  case 0:
    return ".";
  case 1:
    return ">";
  case 2:
    return "." + Reply_Bytes(R, std::max<std::size_t>(Rest, 1));
  case 3:
  case 4:
  case 5:
    return ">" + Reply_Bytes(R, Rest);
  case 6:
    return "!" + Reply_Bytes(R, Rest);
  default:
    return Reply_Bytes(R, Length);
  }
}

// Mostly a list for each request the client will send, ended by ".", so
// that the query's replies are reached; but a list may lack its end mark.
Fuzz_Wire::Plan Reply_Stream(Fuzz::Random &R, std::size_t Pipe_Length, std::size_t Lists) {
  Fuzz_Wire::Plan Stream;
  for (; Lists > 0; --Lists) {
    for (std::size_t Count = R.Below(6) + (Lists == 1); Count > 0; --Count) {
      std::string Message = Reply_Message(R, Pipe_Length);
      // The query's list, the last, is where locations start the editor.
      if (Lists == 1 && Message.size() > 1 && R.Percent(50)) Message[0] = '>';
      Stream.Messages.push_back(Message);
    }
    if (R.Percent(85)) Stream.Messages.push_back(".");
  }
  if (R.Percent(20)) Stream.Drop = R.Below(Stream.Messages.size() + 2);
  return Stream;
}

class Reply_Fuzz : public Fuzz::Client_Fuzz {
protected:
  const std::string Plan = Dir / "plan.txt";
  const std::string Server_Record = Dir / "server.txt";

  Run_Input Generate(Fuzz::Random &R) {
    Run_Input In;
    if (R.Percent(75)) {
      const std::vector<std::int64_t> Lengths{
          1, 2, 3, 5, 64, 999, 1000, 1001, 4096, 1 + static_cast<std::int64_t>(R.Below(3000))};
      In.Pipe_Length = static_cast<std::size_t>(R.Pick(Lengths));
      In.Pipe_Length_Text = Fuzz::Literal_For(R, static_cast<std::int64_t>(In.Pipe_Length));
    } else {
      // Ignored by the client: the replies may be 1000 bytes long.
      In.Pipe_Length = 1000;
      In.Pipe_Length_Text = R.Pick(Strings{"", "0", "-5", "abc", "2147483648", " 1 2"});
    }
    for (const Fuzz::Setting &Each : Settings)
      In.Values.push_back(R.Percent(20) ? Each.Key.substr(0, 1 + R.Below(3)) : "");
    In.Editor_Startable = true;
    switch (R.Below(6)) {
    case 0:
      In.Values[2].clear();
      break;
    case 1:
      In.Values[2] = In.Editor_File = Editor;
      In.Editor_Program = Test_Support::Quoted(Editor);
      break;
    case 2:
      In.Values[2] = In.Editor_File = Spaced_Editor;
      In.Editor_Program = "\"" + Spaced_Editor + "\"";
      break;
    case 3:
      In.Values[2] = In.Editor_Program = Editor + " -n";
      In.Editor_File = Editor;
      break;
    case 4:
      In.Values[2] = In.Editor_Program = "\"" + Spaced_Editor + "\" -n";
      In.Editor_File = Spaced_Editor;
      break;
    default:
      In.Values[2] = Dir / "no_editor.exe";
      In.Editor_Startable = false;
    }
    std::tie(In.Arguments, In.Query) = Query(R);
    const auto Sent = static_cast<std::size_t>(
        std::count_if(In.Values.begin(), In.Values.end(), [](auto &V) { return !V.empty(); }));
    In.Stream = Reply_Stream(R, In.Pipe_Length, Sent + 1);
    return In;
  }

  void Write_Configuration(const Run_Input &In, const std::string &Pipe) {
    std::string Text = "[Tez_Client]\r\nPipename=" + Pipe + "\r\nServer=" + Server + "\r\n";
    if (!In.Pipe_Length_Text.empty()) Text += "Pipelength=" + In.Pipe_Length_Text + "\r\n";
    for (std::size_t I = 0; I < Settings.size(); ++I)
      if (!In.Values[I].empty()) Text += Settings[I].Key + "=" + In.Values[I] + "\r\n";
    Test_Support::Write_File(Config, Text);
  }

  void Check(Fuzz::Random &R) {
    const Run_Input In = Generate(R);
    const std::string Pipe = Test_Support::Unique_Pipe_Name();
    Write_Configuration(In, Pipe);
    Test_Support::Write_File(Plan, Fuzz_Wire::Plan_Text(In.Stream));
    DeleteFileA(Server_Record.c_str());
    DeleteFileA(Editor_Record.c_str());
    Fuzz::Stand_In_Server Stand_In(Server, Pipe,
                                   {{"TEZ_FUZZ_PLAN", Plan}, {"TEZ_FUZZ_RECORD", Server_Record}});
    ASSERT_TRUE(Stand_In.Listening()) << "the stand-in server does not listen";
    Strings Arguments{Config};
    Arguments.insert(Arguments.end(), In.Arguments.begin(), In.Arguments.end());
    const Test_Support::Run_Result Result = Fuzz::Run_Program(
        Client, Arguments, Dir.Path(), {{"TEZ_FUZZ_EDITOR_RECORD", Editor_Record}});
    EXPECT_TRUE(Stand_In.Finish());

    const Outcome Want = Expected(In);
    Fuzz::Tally("editors started", Want.Editor_Starts.size());
    Fuzz::Tally("bytes printed", Want.Output.size());
    Fuzz::Tally("requests", Want.Requests.size());
    if (Want.Requests.empty() || Want.Requests.back() != "C")
      Fuzz::Tally("runs ended by a failure");
    if (In.Stream.Drop) Fuzz::Tally("streams with a dropped pipe");
    EXPECT_FALSE(Result.Hung) << "the client hangs";
    EXPECT_EQ(Result.Exit_Code, 0u);
    EXPECT_EQ(Result.Errors, "");
    EXPECT_EQ(Result.Output, Want.Output);
    Strings Started = Fuzz::Record_Values(Editor_Record, "started");
    if (In.Editor_Program.starts_with(Editor + " ")) // left bare, with its options
      for (std::string &Start : Started) {           // the program, a line end, the command line
        const std::size_t Line = Start.find('\n') + 1;
        Start = Start.substr(0, Line) + Test_Support::As_Given(Start.substr(Line), Editor);
      }
    std::sort(Started.begin(), Started.end());
    EXPECT_EQ(Started, Want.Editor_Starts);
    EXPECT_EQ(Fuzz::Record_Values(Server_Record, "request"), Want.Requests);
  }
};

} // namespace

TEST_F(Reply_Fuzz, AnyReplyStream) {
  Fuzz::Run("replies", 80, [&](Fuzz::Random &R) { Check(R); });
}
