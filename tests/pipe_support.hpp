#pragma once

// Both ends of real pipes in one test process: the server end opens on a
// thread of its own while the client end retries until the instance exists.
#include "windows/pipe.hpp"

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace Test_Support {

inline std::string Unique_Pipe_Name() {
  static std::atomic<unsigned> Counter{0};
  return "tez_test_" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(Counter++);
}

inline Windows::Pipe::Pipe_Handle Open_Client_When_Ready(const std::string &Name, std::int32_t Size,
                                                         Windows::Pipe::Pipe_Mode Mode) {
  using namespace Windows::Pipe;
  const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (;;) {
    Pipe_Handle Client;
    try {
      Open(Client, Name, Pipe_Kind::Client_End, Mode, Size);
      return Client;
    } catch (const Failure &F) {
      // Not there yet, or between two clients of one instance (busy).
      const bool Waiting =
          dynamic_cast<const No_Server *>(&F) || dynamic_cast<const Name_In_Use *>(&F);
      if (!Waiting || std::chrono::steady_clock::now() > Deadline) throw;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
}

struct Pipe_Pair {
  Windows::Pipe::Pipe_Handle Server;
  Windows::Pipe::Pipe_Handle Client;
};

inline Pipe_Pair Connected_Pair(std::int32_t Size = 1000,
                                Windows::Pipe::Pipe_Mode Mode = Windows::Pipe::Pipe_Mode::Duplex,
                                Windows::Pipe::Message_Callback Callback = nullptr) {
  using namespace Windows::Pipe;
  const std::string Name = Unique_Pipe_Name();
  Pipe_Pair Pair;
  std::thread Server_Thread([&] {
    Open(Pair.Server, Name, Pipe_Kind::Server_End, Mode, Size, Duration::From_Seconds(10),
         std::move(Callback));
  });
  Pair.Client = Open_Client_When_Ready(Name, Size, Mode);
  Server_Thread.join();
  return Pair;
}

} // namespace Test_Support
