#include "windows/pipe.hpp"

#include <chrono>
#include <future>

#include <gtest/gtest.h>

using namespace Windows::Pipe;

TEST(Set_Timeout, RoundsToTheNearestMillisecondAndZeroMeansNoLimit) {
  Pipe_Record Pipe(Pipe_Kind::Server_End, "x");
  const std::pair<std::int32_t, std::uint32_t> Cases[] = {
      {0, INFINITE},          {1, 0},      {8, 0},      {9, 1},
      {16384, 1000},          {1638, 100}, {8192, 500}, {-8, 0},
      {INT32_MAX, 131072000}, {25, 2}};
  for (const auto &[Raw, Ms] : Cases) {
    SCOPED_TRACE(Raw);
    Set_Timeout(Pipe, Duration::From_Raw(Raw));
    EXPECT_EQ(Pipe.Timeout_Ms, Ms);
  }
  Set_Timeout(Pipe, Duration::From_Raw(16384));
  EXPECT_THROW(Set_Timeout(Pipe, Duration::From_Raw(-9)), Constraint_Error);
  EXPECT_EQ(Pipe.Timeout_Ms, 1000u);
}

TEST(Check, OnlyTrueIsSuccessAndOnlyAServerEndIsSignalled) {
  Pipe_Record Client(Pipe_Kind::Client_End, "c");
  SetLastError(ERROR_BROKEN_PIPE);
  EXPECT_NO_THROW(Check(TRUE, Client));
  EXPECT_THROW(Check(FALSE, Client), Broken);
  SetLastError(ERROR_BROKEN_PIPE);
  EXPECT_THROW(Check(2, Client), Broken);
  EXPECT_FALSE(Client.Server);

  Pipe_Record Server(Pipe_Kind::Server_End, "s");
  SetLastError(ERROR_PIPE_BUSY);
  EXPECT_THROW(Check(FALSE, Server), Name_In_Use);
  EXPECT_TRUE(Server.Server->Signal.Try_Wait());
  EXPECT_FALSE(Server.Server->Signal.Try_Wait()) << "a wait clears the flag";
}

TEST(Pipe_Signal, OneSetReleasesOneWait) {
  Pipe_Signal Signal;
  Signal.Set();
  Signal.Set();
  Signal.Wait(); // returns at once: the flag was set
  EXPECT_FALSE(Signal.Try_Wait()) << "two Sets before a Wait release it once";
  // A waiter that blocks is released by the next Set, and clears the flag.
  auto Waiter = std::async(std::launch::async, [&] { Signal.Wait(); });
  Signal.Set();
  ASSERT_EQ(Waiter.wait_for(std::chrono::seconds(60)), std::future_status::ready);
  EXPECT_FALSE(Signal.Try_Wait());
}

TEST(Full_Name, PrefixesTheSystemPipeDirectory) {
  EXPECT_EQ(Full_Name(Pipe_Record(Pipe_Kind::Client_End, "tez")), "\\\\.\\pipe\\tez");
}

TEST(Check_Name, NamesTheSystemWouldResolveOutOfThePipesAreInvalid) {
  for (const std::string &Name : std::vector<std::string>{
           "..\\UNC\\host\\pipe\\x", "a/b", "sub\\x", "..", ".", ". .", std::string(248, 'n')}) {
    EXPECT_THROW(Check_Name(Name), Invalid_Name) << Name;
    Pipe_Handle Pipe;
    EXPECT_THROW(Open(Pipe, Name, Pipe_Kind::Client_End, Pipe_Mode::Duplex, 10), Invalid_Name)
        << Name;
  }
  EXPECT_NO_THROW(Check_Name(std::string(247, 'n'))); // 256 characters in all
  EXPECT_NO_THROW(Check_Name("a b.c"));
  for (const std::uint32_t Code : {123u, 161u, 206u})
    EXPECT_THROW(Raise_Error(Code), Invalid_Name) << Code;
}
