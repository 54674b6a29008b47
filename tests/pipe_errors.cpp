#include "log/log.hpp"
#include "windows/pipe.hpp"

#include <chrono>
#include <future>

#include "support.hpp"

#include <gtest/gtest.h>

using namespace Windows::Pipe;

namespace {

template <typename F> void Expect_Raise(std::uint32_t Code, const char *Name) {
  SCOPED_TRACE(Code);
  try {
    Raise_Error(Code);
  } catch (const F &Raised) {
    EXPECT_STREQ(Raised.name(), Name);
    return;
  } catch (...) {}
  ADD_FAILURE() << "code " << Code << " did not raise " << Name;
}

bool Is_Set(Pipe_Signal &Signal) {
  auto Waiter = std::async(std::launch::async, [&] { Signal.Wait(); });
  const bool Set = Waiter.wait_for(std::chrono::milliseconds(200)) == std::future_status::ready;
  if (!Set) {
    Signal.Set();
    Waiter.wait();
  }
  return Set;
}

} // namespace

TEST(Raise_Error, TranslatesSystemCodesToNamedFailures) {
  Expect_Raise<Access_Denied>(5, "WINDOWS.PIPE.ACCESS_DENIED");
  Expect_Raise<Broken>(109, "WINDOWS.PIPE.BROKEN");
  Expect_Raise<No_Server>(2, "WINDOWS.PIPE.NO_SERVER");
  Expect_Raise<Invalid_Name>(123, "WINDOWS.PIPE.INVALID_NAME");
  Expect_Raise<More_Data>(234, "WINDOWS.PIPE.MORE_DATA");
  Expect_Raise<No_Data>(232, "WINDOWS.PIPE.NO_DATA");
  Expect_Raise<Name_In_Use>(231, "WINDOWS.PIPE.NAME_IN_USE");
  Expect_Raise<Bad_Pipe>(230, "WINDOWS.PIPE.BAD_PIPE");
  Expect_Raise<No_Server>(233, "WINDOWS.PIPE.NO_SERVER");
  Expect_Raise<Broken>(0, "WINDOWS.PIPE.BROKEN");
  Expect_Raise<Unknown_Error>(997, "WINDOWS.PIPE.UNKNOWN_ERROR");
  Expect_Raise<Unknown_Error>(535, "WINDOWS.PIPE.UNKNOWN_ERROR");
  Expect_Raise<Unknown_Error>(0xFFFFFFFF, "WINDOWS.PIPE.UNKNOWN_ERROR");
}

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
  EXPECT_TRUE(Is_Set(Server.Server->Signal));
  EXPECT_FALSE(Is_Set(Server.Server->Signal)) << "Wait clears the flag";
}

TEST(Pipe_Signal, OneSetReleasesOneWait) {
  Pipe_Signal Signal;
  std::atomic<int> Released{0};
  auto First = std::async(std::launch::async, [&] {
    Signal.Wait();
    ++Released;
  });
  auto Second = std::async(std::launch::async, [&] {
    Signal.Wait();
    ++Released;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  Signal.Set();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(Released.load(), 1);
  Signal.Set();
  First.wait();
  Second.wait();
  EXPECT_EQ(Released.load(), 2);
}

TEST(Full_Name, PrefixesTheSystemPipeDirectory) {
  EXPECT_EQ(Full_Name(Pipe_Record(Pipe_Kind::Client_End, "tez")), "\\\\.\\pipe\\tez");
}

TEST(Report_Message, NamesThePlaceAndTheFailure) {
  using Test_Support::Caught;
  EXPECT_EQ(Log::Report_Message("Client.Work", Caught(Broken())),
            "Client.Work: Exception = WINDOWS.PIPE.BROKEN () ");
  EXPECT_EQ(Log::Report_Message("", Caught(Constraint_Error("bad", "worse"))),
            ": Exception = CONSTRAINT_ERROR (bad) worse");
  EXPECT_EQ(Log::Report_Message("Here", Caught(std::bad_alloc()))
                .rfind("Here: Exception = STORAGE_ERROR (", 0),
            0u);
  EXPECT_EQ(Log::Report_Message("Here", Caught(7)), "Here: Unknown Exception");
  EXPECT_NO_THROW(Log::Report("Here", Caught(7)));
  EXPECT_NO_THROW(Log::Put("while the log is off"));
}
