// What a large Pipelength costs a query: a Syntax query at Pipelength
// 2147483647 against the same query at 1000, each against a stand-in server
// of its own that the first query started (with that Pipelength) and that
// is running by the time the rounds begin. Rounds run the two in turn.
// Prints the median times, the client's peak working set in either case and
// with one reply of 100,000,000 bytes, and last "pipelength ratio R", R =
// median over the rounds of the time at 2147483647 / the time at 1000.
#include "pairs.hpp"

#include <cstdio>
#include <string>

#include <psapi.h>

namespace {

constexpr int Rounds = 100;
constexpr int Memory_Runs = 3;
constexpr int Long_Reply = 100'000'000;

void Patch(HANDLE Process, void *Address, unsigned char Byte) {
  WriteProcessMemory(Process, Address, &Byte, 1, nullptr);
  FlushInstructionCache(Process, Address, 1);
}

// The peak working set of one run, in bytes; 0 when it could not be read.
// Under Wine a process that has ended reports no memory counters, so they
// are read from a breakpoint on the system's exit routine, which lies at the
// same address in every process.
std::size_t Peak_Working_Set(const std::string &Command_Line) {
  const auto Exit =
      reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "RtlExitUserProcess"));
  std::size_t Peak = 0;
  const auto Until_End = [&](const PROCESS_INFORMATION &Process) {
    unsigned char Original = 0;
    for (;;) {
      DEBUG_EVENT Event{};
      WaitForDebugEvent(&Event, INFINITE);
      DWORD How = DBG_CONTINUE;
      if (Event.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT) {
        CloseHandle(Event.u.CreateProcessInfo.hFile);
        ReadProcessMemory(Process.hProcess, Exit, &Original, 1, nullptr);
        Patch(Process.hProcess, Exit, 0xCC);
      } else if (Event.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT && Event.u.LoadDll.hFile) {
        CloseHandle(Event.u.LoadDll.hFile);
      } else if (Event.dwDebugEventCode == EXCEPTION_DEBUG_EVENT &&
                 Event.u.Exception.ExceptionRecord.ExceptionAddress == Exit) {
        PROCESS_MEMORY_COUNTERS Counters{};
        if (GetProcessMemoryInfo(Process.hProcess, &Counters, sizeof Counters))
          Peak = Counters.PeakWorkingSetSize;
        // The exit goes on from where it stopped, as if never stopped.
        Patch(Process.hProcess, Exit, Original);
        CONTEXT Context{};
        Context.ContextFlags = CONTEXT_CONTROL;
        const HANDLE Thread =
            OpenThread(THREAD_GET_CONTEXT | THREAD_SET_CONTEXT, FALSE, Event.dwThreadId);
        GetThreadContext(Thread, &Context);
        Context.Rip = reinterpret_cast<DWORD64>(Exit);
        SetThreadContext(Thread, &Context);
        CloseHandle(Thread);
      } else if (Event.dwDebugEventCode == EXCEPTION_DEBUG_EVENT &&
                 Event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT) {
        How = DBG_EXCEPTION_NOT_HANDLED;
      }
      ContinueDebugEvent(Event.dwProcessId, Event.dwThreadId, How);
      if (Event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT) return;
    }
  };
  Bench::Run(Command_Line, "NUL", DEBUG_ONLY_THIS_PROCESS, Until_End);
  return Peak;
}

} // namespace

int main() {
  const std::string Source_Text = "int f(void) { return (1; }\n";
  const Bench::Query_Setup Large("tez_bench_pipelength_large", "tez_bench_pipelength.c",
                                 Source_Text, "Pipelength=2147483647\r\n");
  const Bench::Query_Setup Small("tez_bench_pipelength_small", "tez_bench_pipelength.c",
                                 Source_Text, "Pipelength=1000\r\n");
  const std::string Output = Bench::Temp_Name("tez_bench_pipelength.out");

  // The first query starts the server; then both must print the same answer.
  std::string Answers[2];
  for (int Side = 0; Side < 2; ++Side) {
    const std::string &Query = Side == 0 ? Large.Query : Small.Query;
    Bench::Run(Query);
    Bench::Run(Query, Output);
    Answers[Side] = Bench::Read_File(Output);
  }
  if (Answers[0] != Answers[1] || Answers[0].empty() || Answers[0].front() == '!') {
    std::printf("the answers differ or are none:\n%s%s", Answers[0].c_str(), Answers[1].c_str());
    return 1;
  }

  // One reply of Long_Reply bytes, from a stand-in server that a script makes
  // answer so; the client must hold it once, not in copies.
  const std::string Script = Bench::Temp_Name("tez_bench_pipelength.script");
  Bench::Write_File(Script, "on S\noversize " + std::to_string(Long_Reply) + "\n");
  const Bench::Query_Setup Long("tez_bench_pipelength_long", "tez_bench_pipelength.c", Source_Text,
                                "Pipelength=2147483647\r\n");
  SetEnvironmentVariableA("TEZ_SERVER_SCRIPT", Script.c_str());
  Bench::Run(Long.Query);
  SetEnvironmentVariableA("TEZ_SERVER_SCRIPT", nullptr);
  const std::vector<double> Long_Peaks = Bench::Rounds(
      Memory_Runs, {[&] { return static_cast<double>(Peak_Working_Set(Long.Query)); }})[0];
  Bench::Run(Long.Client + "close");
  DeleteFileA(Script.c_str());

  const auto Memory = Bench::Rounds(
      Memory_Runs, {[&] { return static_cast<double>(Peak_Working_Set(Large.Query)); },
                    [&] { return static_cast<double>(Peak_Working_Set(Small.Query)); }});
  const auto Figures = Bench::Rounds(
      Rounds, {[&] { return Bench::Run(Large.Query); }, [&] { return Bench::Run(Small.Query); }});
  Bench::Run(Large.Client + "close");
  Bench::Run(Small.Client + "close");
  DeleteFileA(Output.c_str());

  const double Large_Peak = Bench::Spread_Of(Memory[0]).Median / 1024;
  const double Small_Peak = Bench::Spread_Of(Memory[1]).Median / 1024;
  std::printf("medians: Pipelength 2147483647 %.1f ms, Pipelength 1000 %.1f ms (%d rounds)\n",
              Bench::Spread_Of(Figures[0]).Median * 1000,
              Bench::Spread_Of(Figures[1]).Median * 1000, Rounds);
  std::printf("client's peak working set: %.0f KB at 2147483647, %.0f KB at 1000, "
              "difference %.0f KB (medians of %d runs)\n",
              Large_Peak, Small_Peak, Large_Peak - Small_Peak, Memory_Runs);
  std::printf("client's peak working set with one reply of %d bytes at 2147483647: %.0f KB "
              "(median of %d runs)\n",
              Long_Reply, Bench::Spread_Of(Long_Peaks).Median / 1024, Memory_Runs);
  Bench::Print_Result("pipelength", Bench::Print_Ratios("2147483647 / 1000",
                                                        Bench::Ratios(Figures[0], Figures[1])));
  return Large_Peak > 0 && Small_Peak > 0 ? 0 : 1;
}
