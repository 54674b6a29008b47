#include "windows/pipe.hpp"
#include "windows/pipe_internal.hpp"

#include "pipe_support.hpp"

#include <chrono>
#include <future>
#include <vector>

#include <gtest/gtest.h>

using namespace Windows::Pipe;
using namespace std::chrono;
using Test_Support::Connected_Pair;
using Test_Support::Unique_Pipe_Name;

namespace {

void Send(const Pipe_Handle &Pipe, const std::string &Message) {
  Write(Pipe, Message.data(), static_cast<std::int32_t>(Message.size()));
}

std::string Receive(const Pipe_Handle &Pipe, Duration Timeout = {}) {
  std::vector<char> Buffer(static_cast<std::size_t>(Pipe->Size) + 1);
  const std::int32_t Count = Read(Pipe, Buffer, Timeout);
  return std::string(Buffer.data(), static_cast<std::size_t>(Count));
}

bool Signal_Is_Set(Pipe_Record &Pipe) {
  return Pipe.Server->Signal.Try_Wait();
}

const Duration Short = Duration::From_Seconds(0.05);

} // namespace

TEST(Pipe_Open, FailuresLeaveTheVariableNullAndThePreviousPipeClosed) {
  auto Pair = Connected_Pair();
  EXPECT_THROW(Open(Pair.Client, "any", Pipe_Kind::Client_End, Pipe_Mode::Duplex, 10, Short),
               Not_Server);
  EXPECT_FALSE(Pair.Client);
  EXPECT_THROW(Receive(Pair.Server), Broken) << "the server sees its client gone";

  auto Second = Connected_Pair();
  EXPECT_THROW(Open(Second.Client, "", Pipe_Kind::Client_End, Pipe_Mode::Duplex, 10),
               Constraint_Error);
  EXPECT_FALSE(Second.Client);
  EXPECT_THROW(Receive(Second.Server), Broken);

  Pipe_Handle Pipe;
  EXPECT_THROW(Open(Pipe, "x", Pipe_Kind::Server_End, Pipe_Mode::Duplex, -1), Constraint_Error);
  EXPECT_FALSE(Pipe);
  EXPECT_THROW(Open(Pipe, "x", Pipe_Kind::Client_End, Pipe_Mode::Duplex, 0, {}, [](auto &) {}),
               Not_Server);
}

TEST(Pipe_Open, ClientEndWithoutServerFails) {
  Pipe_Handle Pipe;
  EXPECT_THROW(Open(Pipe, Unique_Pipe_Name(), Pipe_Kind::Client_End, Pipe_Mode::Duplex, 100),
               No_Server);
  EXPECT_FALSE(Pipe);
}

TEST(Pipe_Open, TheSingleInstanceIsTakenBySecondClientsAndServers) {
  const std::string Name = Unique_Pipe_Name();
  Pipe_Handle Server;
  std::thread Server_Thread(
      [&] { Open(Server, Name, Pipe_Kind::Server_End, Pipe_Mode::Duplex, 100); });
  Pipe_Handle Client = Test_Support::Open_Client_When_Ready(Name, 100, Pipe_Mode::Duplex);
  Server_Thread.join();

  Pipe_Handle Other;
  EXPECT_THROW(Open(Other, Name, Pipe_Kind::Client_End, Pipe_Mode::Duplex, 100), Name_In_Use);
  EXPECT_THROW(Open(Other, Name, Pipe_Kind::Server_End, Pipe_Mode::Duplex, 100, Short),
               Name_In_Use);
  EXPECT_FALSE(Other);
  Send(Client, "still connected");
  EXPECT_EQ(Receive(Server), "still connected");
}

TEST(Pipe_Open, ServerConnectTimesOutWithoutAClient) {
  Pipe_Handle Server;
  const auto Start = steady_clock::now();
  EXPECT_THROW(Open(Server, Unique_Pipe_Name(), Pipe_Kind::Server_End, Pipe_Mode::Duplex, 100,
                    Duration::From_Seconds(0.2)),
               Timeout);
  EXPECT_GE(steady_clock::now() - Start, milliseconds(150));
  EXPECT_FALSE(Server);
}

TEST(Pipe_Open, ClientArrivingBeforeTheConnectWaitIsConnected) {
  const std::string Name = Unique_Pipe_Name();
  Pipe_Handle Server = New_Server_Record(Name, Pipe_Mode::Duplex, 100, Short, nullptr);
  Create_Server(*Server);
  Pipe_Handle Client;
  Open(Client, Name, Pipe_Kind::Client_End, Pipe_Mode::Duplex, 100);
  EXPECT_NO_THROW(Connect(*Server));
  EXPECT_FALSE(Signal_Is_Set(*Server));
  Send(Client, "first");
  EXPECT_EQ(Receive(Server), "first");
  Send(Server, "reply");
  EXPECT_EQ(Receive(Client), "reply");
}

TEST(Pipe_Open, ServerWaitsWithoutLimitForTimeoutZero) {
  const std::string Name = Unique_Pipe_Name();
  Pipe_Handle Server;
  auto Opened = std::async(std::launch::async, [&] {
    Open(Server, Name, Pipe_Kind::Server_End, Pipe_Mode::Duplex, 100);
  });
  Pipe_Handle Client = Test_Support::Open_Client_When_Ready(Name, 100, Pipe_Mode::Duplex);
  Opened.get();
  ASSERT_TRUE(Server);
  EXPECT_EQ(Server->Timeout_Ms, INFINITE);
}

TEST(Pipe_Close, NullAndRepeatedClosesAreHarmless) {
  Pipe_Handle Pipe;
  Close(Pipe);
  auto Pair = Connected_Pair();
  Close(Pair.Client);
  Close(Pair.Client);
  Close(Pair.Server);
  Close(Pair.Server);
  EXPECT_FALSE(Pair.Client);
  EXPECT_FALSE(Pair.Server);
}

TEST(Pipe_Transfer, NullPipeShortBufferAndClientTimeoutAreRefusedBeforeAnySystemCall) {
  Pipe_Handle Null;
  char Buffer[16];
  SetLastError(0);
  EXPECT_THROW(Read(Null, Buffer), No_Handle);
  EXPECT_THROW(Write(Null, Buffer, 4), No_Handle);
  EXPECT_EQ(GetLastError(), 0u);
  auto Pair = Connected_Pair(16);
  EXPECT_THROW(Read(Pair.Client, Buffer, Short), Not_Server);
  Send(Pair.Server, "not taken");
  EXPECT_THROW(Read(Pair.Client, std::span<char>(Buffer, 15)), Constraint_Error);
  EXPECT_THROW(Read(Pair.Server, std::span<char>(Buffer, 15)), Constraint_Error);
  EXPECT_EQ(Receive(Pair.Client), "not taken") << "the message stays for a proper read";
}

TEST(Pipe_Transfer, MessagesOfExactlySizeAndOfZeroLengthTravelWhole) {
  auto Pair = Connected_Pair(16);
  const std::string Full(16, 'x');
  Send(Pair.Client, Full);
  EXPECT_EQ(Receive(Pair.Server), Full);
  Send(Pair.Server, Full);
  EXPECT_EQ(Receive(Pair.Client), Full);
  Send(Pair.Client, "");
  Send(Pair.Client, "after");
  EXPECT_EQ(Receive(Pair.Server), "");
  EXPECT_EQ(Receive(Pair.Server), "after");
  Send(Pair.Server, "");
  EXPECT_EQ(Receive(Pair.Client), "");
}

TEST(Pipe_Transfer, LongerMessageIsMoreDataWithItsHeadInTheBuffer) {
  auto Pair = Connected_Pair(8);
  // A message above the buffer quota completes only as it is read.
  auto Writing = std::async(std::launch::async, [&] { Send(Pair.Server, "0123456789AB"); });
  char Buffer[8];
  EXPECT_THROW(Read(Pair.Client, Buffer), More_Data);
  EXPECT_EQ(std::string(Buffer, 8), "01234567");
  EXPECT_EQ(Receive(Pair.Client), "89AB") << "the rest stays in the pipe";
  Writing.get();

  Writing = std::async(std::launch::async, [&] { Send(Pair.Client, "abcdefghij"); });
  EXPECT_THROW(Read(Pair.Server, Buffer), More_Data);
  EXPECT_EQ(std::string(Buffer, 8), "abcdefgh");
  EXPECT_TRUE(Signal_Is_Set(*Pair.Server));
  EXPECT_EQ(Receive(Pair.Server), "ij");
  Writing.get();
}

TEST(Pipe_Transfer, GrowingReadTakesMessagesUpToSizeAndOfALongerOneNoMore) {
  constexpr std::size_t First = First_Read_Size, Size = 2 * First + 100;
  const auto Message = [](std::size_t Length) {
    std::string Text(Length, ' ');
    for (std::size_t I = 0; I < Length; ++I)
      Text[I] = static_cast<char>('a' + I % 23);
    return Text;
  };
  auto Pair = Connected_Pair(static_cast<std::int32_t>(Size));
  for (const bool Server_Reads : {false, true}) {
    const Pipe_Handle &To = Server_Reads ? Pair.Server : Pair.Client;
    const Pipe_Handle &From = Server_Reads ? Pair.Client : Pair.Server;
    std::vector<char> Buffer;
    for (const std::size_t Length : {First - 1, First, First + 1, Size}) {
      Send(From, Message(Length));
      const auto Count = static_cast<std::size_t>(Read_Message(To, Buffer));
      EXPECT_EQ(std::string(Buffer.data(), Count), Message(Length));
    }
    const char *const Grown = Buffer.data();
    Send(From, "short");
    EXPECT_EQ(Read_Message(To, Buffer), 5);
    EXPECT_EQ(Buffer.data(), Grown) << "the buffer is reused";
    if (Server_Reads) {
      EXPECT_FALSE(Signal_Is_Set(*Pair.Server)) << "growing is no failure";
    }

    auto Writing = std::async(std::launch::async, [&] { Send(From, Message(Size + 3)); });
    EXPECT_THROW(Read_Message(To, Buffer), More_Data);
    EXPECT_EQ(std::string(Buffer.data(), Size), Message(Size));
    if (Server_Reads) {
      EXPECT_TRUE(Signal_Is_Set(*Pair.Server));
    }
    EXPECT_EQ(Receive(To), Message(Size + 3).substr(Size)) << "the rest stays in the pipe";
    Writing.get();
  }
}

TEST(Pipe_Transfer, ClosingOneEndBreaksTheOther) {
  auto Pair = Connected_Pair();
  Close(Pair.Client);
  EXPECT_THROW(Receive(Pair.Server), Broken);
  EXPECT_TRUE(Signal_Is_Set(*Pair.Server));
  EXPECT_ANY_THROW(Send(Pair.Server, "x"));

  auto Other = Connected_Pair();
  Other.Server.reset(); // the server process ends without a disconnect
  EXPECT_THROW(Receive(Other.Client), Broken);
  EXPECT_ANY_THROW(Send(Other.Client, "x"));
}

TEST(Pipe_Transfer, ServerReadTimesOutAndTheLaterMessageIsStillReceived) {
  auto Pair = Connected_Pair();
  const auto Start = steady_clock::now();
  EXPECT_THROW(Receive(Pair.Server, Duration::From_Seconds(0.1)), Timeout);
  EXPECT_GE(steady_clock::now() - Start, milliseconds(80));
  EXPECT_FALSE(Signal_Is_Set(*Pair.Server));
  EXPECT_EQ(Pair.Server->Timeout_Ms, 100u);
  Send(Pair.Client, "late");
  EXPECT_EQ(Receive(Pair.Server), "late");
  EXPECT_EQ(Pair.Server->Timeout_Ms, INFINITE);
  // A time-out below half a millisecond does not wait, but takes what is there.
  EXPECT_THROW(Receive(Pair.Server, Duration::From_Raw(1)), Timeout);
  Send(Pair.Client, "ready");
  EXPECT_EQ(Receive(Pair.Server, Duration::From_Raw(1)), "ready");
}

TEST(Pipe_Transfer, AReadThatCompletesJustBeforeItsCancelKeepsItsOwnResult) {
  // The race made certain: the read has completed when the cancel looks at it.
  // The message is written only once the read is pending, so that the read
  // cannot complete at once instead.
  auto Pair = Connected_Pair(8);
  Overlapped_Operation &Operation = Pair.Server->Server->Read_Overlapped;
  std::future<void> Writing;
  const auto Complete_Then_Cancel = [&](const std::string &Message, char *Buffer, DWORD &Count,
                                        DWORD &Code) {
    EXPECT_FALSE(ReadFile(Pair.Server->Handle.Get(), Buffer, 8, nullptr, &Operation.Block));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    Operation.Outstanding = true;
    Writing = std::async(std::launch::async, [&, Message] { Send(Pair.Client, Message); });
    EXPECT_EQ(WaitForSingleObject(Operation.Event.Get(), 60000), WAIT_OBJECT_0);
    return Internal::Cancel(*Pair.Server, Operation, Count, Code);
  };
  char Buffer[8];
  DWORD Count = 0, Code = 0;
  EXPECT_EQ(Complete_Then_Cancel("arrived", Buffer, Count, Code),
            Internal::Cancel_Result::Completed);
  EXPECT_EQ(std::string(Buffer, Count), "arrived");
  EXPECT_FALSE(Operation.Outstanding);
  Writing.get();

  // A completion with an error is that error, not a success.
  EXPECT_EQ(Complete_Then_Cancel("0123456789", Buffer, Count, Code),
            Internal::Cancel_Result::Failed);
  EXPECT_EQ(Code, static_cast<DWORD>(ERROR_MORE_DATA));
  EXPECT_EQ(Receive(Pair.Server), "89");
  Writing.get();
}

TEST(Pipe_Transfer, PostedMessageGoesToTheCallbackWhileTheReadWaitsOn) {
  std::vector<std::string> Delivered;
  auto Pair = Connected_Pair(100, Pipe_Mode::Duplex,
                             [&](const std::string &Message) { Delivered.push_back(Message); });
  auto Reading = std::async(std::launch::async,
                            [&] { return Receive(Pair.Server, Duration::From_Seconds(5)); });
  Post_Message(*Pair.Server, "wake up");
  Pair.Server->Server->Signal.Wait(); // released by the delivery
  // The read went on waiting: it returns this message, not an empty one.
  Send(Pair.Client, "the message");
  EXPECT_EQ(Reading.get(), "the message");
  ASSERT_EQ(Delivered.size(), 1u);
  EXPECT_EQ(Delivered[0], "wake up");
  EXPECT_FALSE(Pair.Server->Pending_Message);
}

TEST(Pipe_Transfer, NotificationWithoutCallbackIsAConstraintFailure) {
  auto Pair = Connected_Pair();
  Post_Message(*Pair.Server, "nobody listens");
  EXPECT_THROW(Receive(Pair.Server, Duration::From_Seconds(5)), Constraint_Error);
  Send(Pair.Client, "next");
  EXPECT_EQ(Receive(Pair.Server), "next");
}

TEST(Pipe_Transfer, OneWayModesMatchAtBothEnds) {
  auto In = Connected_Pair(100, Pipe_Mode::Inbound);
  Send(In.Client, "up");
  EXPECT_EQ(Receive(In.Server), "up");
  EXPECT_ANY_THROW(Receive(In.Client));
  auto Out = Connected_Pair(100, Pipe_Mode::Outbound);
  Send(Out.Server, "down");
  EXPECT_EQ(Receive(Out.Client), "down");
  EXPECT_ANY_THROW(Send(Out.Client, "up"));
}

TEST(Pipe_Transfer, TenThousandMessagesEachWayArriveInOrder) {
  auto Pair = Connected_Pair(1000);
  auto Server_Side = std::async(std::launch::async, [&] {
    for (int I = 0; I < 10000; ++I) {
      const std::string Request = Receive(Pair.Server);
      Send(Pair.Server, "reply " + Request + std::string(static_cast<std::size_t>(I % 800), '#'));
    }
  });
  for (int I = 0; I < 10000; ++I) {
    const std::string Request =
        std::to_string(I) + std::string(static_cast<std::size_t>(I % 97), '.');
    Send(Pair.Client, Request);
    ASSERT_EQ(Receive(Pair.Client),
              "reply " + Request + std::string(static_cast<std::size_t>(I % 800), '#'));
  }
  Server_Side.get();
}

TEST(Pipe_Reconnect, OneInstanceServesClientAfterClient) {
  auto Pair = Connected_Pair();
  const std::string Name = Pair.Server->Name;
  Send(Pair.Client, "first client");
  EXPECT_EQ(Receive(Pair.Server), "first client");
  auto Waiting =
      std::async(std::launch::async, [&] { Reconnect(Pair.Server, Duration::From_Seconds(10)); });
  EXPECT_THROW(Receive(Pair.Client), No_Server) << "the first client is let go";
  Pipe_Handle Second = Test_Support::Open_Client_When_Ready(Name, 1000, Pipe_Mode::Duplex);
  Waiting.get();
  Send(Second, "second client");
  EXPECT_EQ(Receive(Pair.Server), "second client");

  EXPECT_THROW(Reconnect(Pair.Server, Duration::From_Seconds(0.1)), Timeout);
  EXPECT_FALSE(Pair.Server);
  EXPECT_THROW(Reconnect(Second, {}), Not_Server);
  EXPECT_FALSE(Second);
}
