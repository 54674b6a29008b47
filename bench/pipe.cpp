// Request/reply round trips between a client end and a server end in one
// process, through Windows::Pipe and through the raw system calls the
// transport makes, alternately pair by pair. Last line: "pipe ratio R", R =
// median over the pairs of our rate / raw rate for 1000-byte messages.
#include "windows/pipe.hpp"
#include "pairs.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace Windows::Pipe;
using Clock = std::chrono::steady_clock;

constexpr int Round_Trips = 400;
constexpr int Pairs = 25;

std::string Pipe_Name(const char *Kind, int Size, int Run) {
  return "tez_bench_" + std::to_string(GetCurrentProcessId()) + "_" + Kind + "_" +
         std::to_string(Size) + "_" + std::to_string(Run);
}

void Fail(const char *What) {
  std::printf("failed: %s (%lu)\n", What, GetLastError());
  std::exit(1);
}

// Round trips per second through the transport.
double Ours(int Size, int Run) {
  const std::string Name = Pipe_Name("ours", Size, Run);
  std::thread Server_Thread([&] {
    try {
      Pipe_Handle Server;
      Open(Server, Name, Pipe_Kind::Server_End, Pipe_Mode::Duplex, Size);
      std::vector<char> Buffer(static_cast<std::size_t>(Size));
      for (int I = 0; I < Round_Trips; ++I) {
        const std::int32_t Count = Read(Server, Buffer);
        Write(Server, Buffer.data(), Count);
      }
      // A disconnect discards unread replies: wait for the client's last word.
      Read(Server, Buffer);
      Close(Server);
    } catch (const Failure &F) {
      Fail((std::string("server ") + F.name()).c_str());
    }
  });
  Pipe_Handle Client;
  for (;;) {
    try {
      Open(Client, Name, Pipe_Kind::Client_End, Pipe_Mode::Duplex, Size);
      break;
    } catch (const No_Server &) {
      Sleep(1);
    }
  }
  std::vector<char> Request(static_cast<std::size_t>(Size), 'q'), Reply(Request.size());
  const auto Start = Clock::now();
  for (int I = 0; I < Round_Trips; ++I) {
    Write(Client, Request.data(), Size);
    try {
      if (Read(Client, Reply) != Size) Fail("short reply");
    } catch (const Failure &F) {
      Fail((std::string("client ") + F.name() + " at " + std::to_string(I)).c_str());
    }
  }
  const double Seconds = std::chrono::duration<double>(Clock::now() - Start).count();
  Write(Client, "", 0);
  Server_Thread.join();
  Close(Client);
  return Round_Trips / Seconds;
}

// The same exchange with the system calls alone.
double Raw(int Size, int Run) {
  const std::string Name = "\\\\.\\pipe\\" + Pipe_Name("raw", Size, Run);
  const HANDLE Server =
      CreateNamedPipeA(Name.c_str(), FILE_FLAG_OVERLAPPED | PIPE_ACCESS_DUPLEX,
                       PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1,
                       static_cast<DWORD>(Size), static_cast<DWORD>(Size), 0, nullptr);
  if (Server == INVALID_HANDLE_VALUE) Fail("CreateNamedPipeA");
  std::thread Server_Thread([&] {
    OVERLAPPED Connect_Block{}, Read_Block{}, Write_Block{};
    Connect_Block.hEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    Read_Block.hEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    Write_Block.hEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    if (!ConnectNamedPipe(Server, &Connect_Block) && GetLastError() == ERROR_IO_PENDING)
      WaitForSingleObject(Connect_Block.hEvent, INFINITE);
    std::vector<char> Buffer(static_cast<std::size_t>(Size));
    for (int I = 0; I < Round_Trips; ++I) {
      DWORD Count = 0, Written = 0;
      if (!ReadFile(Server, Buffer.data(), static_cast<DWORD>(Size), &Count, &Read_Block)) {
        if (GetLastError() != ERROR_IO_PENDING) Fail("ReadFile");
        WaitForSingleObject(Read_Block.hEvent, INFINITE);
        if (!GetOverlappedResult(Server, &Read_Block, &Count, FALSE)) Fail("read result");
      }
      if (!WriteFile(Server, Buffer.data(), Count, &Written, &Write_Block)) {
        if (GetLastError() != ERROR_IO_PENDING) Fail("WriteFile");
        WaitForSingleObject(Write_Block.hEvent, INFINITE);
        if (!GetOverlappedResult(Server, &Write_Block, &Written, FALSE)) Fail("write result");
      }
    }
    CloseHandle(Connect_Block.hEvent);
    CloseHandle(Read_Block.hEvent);
    CloseHandle(Write_Block.hEvent);
  });
  const HANDLE Client =
      CreateFileA(Name.c_str(), GENERIC_READ | GENERIC_WRITE, 3, nullptr, OPEN_EXISTING,
                  SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
  if (Client == INVALID_HANDLE_VALUE) Fail("CreateFileA");
  DWORD Read_Mode = PIPE_READMODE_MESSAGE;
  SetNamedPipeHandleState(Client, &Read_Mode, nullptr, nullptr);
  std::vector<char> Request(static_cast<std::size_t>(Size), 'q'), Reply(Request.size());
  const auto Start = Clock::now();
  for (int I = 0; I < Round_Trips; ++I) {
    DWORD Written = 0, Count = 0;
    if (!WriteFile(Client, Request.data(), static_cast<DWORD>(Size), &Written, nullptr))
      Fail("client WriteFile");
    if (!ReadFile(Client, Reply.data(), static_cast<DWORD>(Size), &Count, nullptr) ||
        Count != static_cast<DWORD>(Size))
      Fail("client ReadFile");
  }
  const double Seconds = std::chrono::duration<double>(Clock::now() - Start).count();
  Server_Thread.join();
  CloseHandle(Client);
  CloseHandle(Server);
  return Round_Trips / Seconds;
}

} // namespace

int main() {
  Bench::Spread Last;
  for (const int Size : {100, 1000}) {
    int Run = 0;
    const auto Figures =
        Bench::Rounds(Pairs, {[&] { return Raw(Size, Run); }, [&] { return Ours(Size, Run++); }});
    std::printf("%4d-byte messages: Windows::Pipe median %.0f round trips/s, raw calls %.0f "
                "(%d pairs of %d round trips)\n",
                Size, Bench::Spread_Of(Figures[1]).Median, Bench::Spread_Of(Figures[0]).Median,
                Pairs, Round_Trips);
    Last = Bench::Print_Ratios(std::to_string(Size) + "-byte messages, ours / raw",
                               Bench::Ratios(Figures[1], Figures[0]));
  }
  Bench::Print_Result("pipe", Last);
  return 0;
}
