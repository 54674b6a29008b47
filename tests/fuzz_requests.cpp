// Random requests to the stand-in server: every kind, binary payloads, source
// files of random text, positions from the literal grammar and noise,
// oversized requests, any message length. The answers never fail, and cut to
// the message length they keep every line whole, in pieces that fit, none of
// them the end mark. The real server, asked over its pipe, answers every
// request with exactly those pieces and the end mark, and never crashes.
#include "fuzz_support.hpp"
#include "pipe_support.hpp"
#include "server/answers.hpp"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <span>
#include <thread>

#include <windows.h>

namespace {

using Strings = std::vector<std::string>;

// Source text made of what the scanner looks at, and noise.
std::string Source_Text(Fuzz::Random &R) {
  static const Strings Tokens{"Count", "x",  "_1", "9a", "(",  ")",    "[",   "]",     "{",    "}",
                              "\"",    "\\", "//", "--", "/*", "*/",   "\n",  "\r",    "\r\n", " ",
                              "\t",    ";",  ":=", "-",  "/",  "main", "end", "\"s\"", "é"};
  std::string Text;
  for (std::size_t Count = R.Below(R.Percent(10) ? 2000 : 60); Count > 0; --Count)
    Text += R.Percent(90) ? R.Pick(Tokens) : std::string(1, R.Byte());
  return Text;
}

class Request_Fuzz : public ::testing::Test {
protected:
  Test_Support::Scratch_Directory Dir;
  const std::string Server = Test_Support::Program_Directory() + "tez_server.exe";

  std::string File_Name(Fuzz::Random &R) {
    switch (R.Below(6)) {
    case 0:
      return Dir / "missing.c";
    case 1:
      return Dir.Path();
    case 2:
      return R.Bytes(R.Length(16));
    default: {
      std::string Name = Dir / ("s" + std::to_string(R.Below(4)) + ".c");
      Test_Support::Write_File(Name, Source_Text(R));
      return Name;
    }
    }
  }

  std::string Request(Fuzz::Random &R) {
    static const std::string Kinds = "EFIXPTUSARLSARL";
    const char Kind = R.Percent(90) ? Kinds[R.Below(Kinds.size())] : R.Byte();
    switch (Kind) {
    case 'S':
    case 'A':
      return std::string(1, Kind) + File_Name(R);
    case 'R':
    case 'L': {
      std::string Position = "<" + Fuzz::Literal_Text(R) + "," + Fuzz::Literal_Text(R) + ">";
      if (R.Percent(15)) Position = R.Pick(Strings{"<1,2", "1,2>", "<1>", "<", ">", "<<1,2>", ""});
      if (R.Percent(60))
        Position = "<" + std::to_string(R.Below(12)) + "," + std::to_string(R.Below(30)) + ">";
      return std::string(1, Kind) + File_Name(R) + Position;
    }
    default:
      return std::string(1, Kind) + R.Bytes(R.Length(40));
    }
  }

  static std::size_t Message_Length(Fuzz::Random &R) {
    return R.Percent(70) ? 1 + R.Below(6) : 1 + R.Below(R.Percent(50) ? 100 : 2000);
  }

  // The answers to Request cut to Size, checked piece by piece.
  Strings Checked_Answer(const std::string &Request, std::size_t Size) {
    Strings Lines;
    try {
      Lines = Server::Answer(Request);
    } catch (const std::exception &Failure) {
      ADD_FAILURE() << "the answer fails: " << Failure.what() << " for "
                    << ::testing::PrintToString(Request);
    }
    Strings All;
    for (const std::string &Line : Lines) {
      const Strings Pieces = Server::Cut({Line}, Size);
      std::string Joined;
      for (const std::string &Piece : Pieces) {
        EXPECT_LE(Piece.size(), Size) << ::testing::PrintToString(Line);
        EXPECT_NE(Piece, ".") << "an end mark inside the replies to "
                              << ::testing::PrintToString(Request) << ", size " << Size;
        Joined += Piece;
      }
      std::string Whole = Line;
      if (Size == 1) std::erase(Whole, '.');
      EXPECT_EQ(Joined, Whole) << "cut to " << Size;
      if (Line.empty()) {
        EXPECT_EQ(Pieces, Strings{""}) << "an empty line is one empty message";
      }
      All.insert(All.end(), Pieces.begin(), Pieces.end());
    }
    EXPECT_EQ(Server::Cut(Lines, Size), All);
    return All;
  }
};

} // namespace

TEST_F(Request_Fuzz, AnyRequestAnswered) {
  Fuzz::Run("requests", 10000, [&](Fuzz::Random &R) {
    const std::string Text = Request(R);
    Checked_Answer(Text, Message_Length(R));
  });
}

// One client conversation with the real server per input, then a close
// request that ends the server.
TEST_F(Request_Fuzz, TheRealServerAnswersEveryRequest) {
  Fuzz::Run("server_sessions", 15, [&](Fuzz::Random &R) {
    const std::string Pipe = Test_Support::Unique_Pipe_Name();
    const std::string Length_Text =
        R.Percent(70) ? std::to_string(Message_Length(R)) : Fuzz::Literal_Text(R);
    const std::optional<std::int32_t> Asked = Fuzz::Literal_Value(Length_Text);
    const std::size_t Size = Asked && *Asked >= 1 ? static_cast<std::size_t>(*Asked) : 1000;
    Fuzz::Helper_Process Stand_In(Server, {Pipe, Length_Text}, {});

    // A server that stops answering is ended, so that the reads fail.
    std::mutex Lock;
    std::condition_variable Changed;
    bool Done = false;
    std::thread Watchdog([&] {
      std::unique_lock Guard(Lock);
      if (!Changed.wait_for(Guard, std::chrono::seconds(60), [&] { return Done; })) {
        ADD_FAILURE() << "the server stopped answering";
        TerminateProcess(Stand_In.Handle(), 98);
      }
    });
    const auto Converse = [&](const Strings &Requests) {
      using namespace Windows::Pipe;
      Pipe_Handle Client = Test_Support::Open_Client_When_Ready(
          Pipe, static_cast<std::int32_t>(std::min<std::size_t>(Size, 1 << 20)), Pipe_Mode::Duplex);
      std::string Buffer(std::min<std::size_t>(Size, 1 << 20), '\0');
      for (const std::string &Text : Requests) {
        Write(Client, Text.data(), static_cast<std::int32_t>(Text.size()));
        // The server's buffer holds the longest request it reads.
        const std::size_t Longest = std::max<std::size_t>(Size, 65536);
        const Strings Expected =
            Text.size() > Longest
                ? Server::Cut({"!Request longer than " + std::to_string(Longest) + " bytes"}, Size)
                : Checked_Answer(Text, Size);
        Strings Received;
        for (;;) {
          const std::int32_t Count = Read(Client, std::span<char>(Buffer));
          if (Count == 1 && Buffer[0] == '.') break;
          Received.emplace_back(Buffer.data(), static_cast<std::size_t>(Count));
        }
        EXPECT_EQ(Received, Expected) << ::testing::PrintToString(Text) << " size " << Size;
        if (::testing::Test::HasFailure()) return;
      }
      Write(Client, "C", 1);
    };
    try {
      Strings Requests;
      for (std::size_t Count = 1 + R.Below(30); Count > 0; --Count) {
        std::string Text = Request(R);
        // These two would end the conversation or the server.
        if (Text == "C" || (Text[0] == 'T' && Fuzz::Literal_Value(Text.substr(1)) == 0))
          Text.insert(0, 1, 'X');
        if (R.Percent(3)) Text = "S" + R.Bytes(65537 + R.Below(100000));
        Fuzz::Tally(Text.size() > 65536 ? "oversized requests" : "requests");
        Requests.push_back(Text);
      }
      Converse(Requests);
      Converse({R.Pick(Strings{"T0", "T 0", "T-0", "T0E5", "T16#0#"})});
    } catch (const Failure &Caught) {
      ADD_FAILURE() << "the conversation failed: " << Caught.name();
    }
    EXPECT_TRUE(Stand_In.Wait_For_End());
    EXPECT_EQ(Stand_In.Exit_Code(), 0u) << "the server ends normally after T0";
    {
      std::lock_guard Guard(Lock);
      Done = true;
    }
    Changed.notify_one();
    Watchdog.join();
  });
}
