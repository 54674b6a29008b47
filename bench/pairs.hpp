#pragma once

// What every benchmark shares: the two sides run alternately, pair by pair
// (A B A B ...), so that a drift of the machine's speed touches both alike;
// each pair gives one ratio, and the median of those ratios is the figure,
// with the lowest and highest quartile as its spread.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <windows.h>

namespace Bench {

using Clock = std::chrono::steady_clock;

struct Spread {
  double Low_Quartile = 0, Median = 0, High_Quartile = 0;
};

// Quartiles by linear interpolation between the sorted values.
inline Spread Spread_Of(std::vector<double> Values) {
  std::sort(Values.begin(), Values.end());
  const auto At = [&](double Fraction) {
    const double Position = Fraction * static_cast<double>(Values.size() - 1);
    const std::size_t Below = static_cast<std::size_t>(Position);
    const std::size_t Above = std::min(Below + 1, Values.size() - 1);
    return Values[Below] +
           (Values[Above] - Values[Below]) * (Position - static_cast<double>(Below));
  };
  return {At(0.25), At(0.5), At(0.75)};
}

// Seconds that Work takes.
inline double Seconds(const std::function<void()> &Work) {
  const auto Start = Clock::now();
  Work();
  return std::chrono::duration<double>(Clock::now() - Start).count();
}

// Runs every side once per round, in order, Rounds times, and keeps each
// side's figure per round (seconds, or any measure a side returns).
inline std::vector<std::vector<double>> Rounds(int Count,
                                               const std::vector<std::function<double()>> &Sides) {
  std::vector<std::vector<double>> Figures(Sides.size());
  for (int Round = 0; Round < Count; ++Round)
    for (std::size_t Side = 0; Side < Sides.size(); ++Side)
      Figures[Side].push_back(Sides[Side]());
  return Figures;
}

// The ratio First / Second of each round.
inline std::vector<double> Ratios(const std::vector<double> &First,
                                  const std::vector<double> &Second) {
  std::vector<double> Result;
  for (std::size_t I = 0; I < First.size() && I < Second.size(); ++I)
    Result.push_back(First[I] / Second[I]);
  return Result;
}

// "<what>: median R of N pairs (quartiles Q1 .. Q3)".
inline Spread Print_Ratios(const std::string &What, const std::vector<double> &Pair_Ratios) {
  const Spread S = Spread_Of(Pair_Ratios);
  std::printf("%s: median %.3f of %zu pairs (quartiles %.3f .. %.3f)\n", What.c_str(), S.Median,
              Pair_Ratios.size(), S.Low_Quartile, S.High_Quartile);
  return S;
}

// The last line of every benchmark.
inline void Print_Result(const char *Name, const Spread &S) {
  std::printf("%s ratio %.3f\n", Name, S.Median);
}

// Starts Command_Line with its standard output and error on Out (an
// inheritable handle). The benchmark ends when it cannot start.
inline PROCESS_INFORMATION Start(const std::string &Command_Line, HANDLE Out, DWORD Flags = 0) {
  STARTUPINFOA Startup{};
  Startup.cb = sizeof Startup;
  Startup.dwFlags = STARTF_USESTDHANDLES;
  Startup.hStdOutput = Startup.hStdError = Out;
  Startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION Process{};
  // Wine now and then fails a start with an internal error while another
  // program is starting one too; the next try succeeds.
  for (int Attempt = 1;; ++Attempt) {
    std::string Line = Command_Line;
    if (CreateProcessA(nullptr, Line.data(), nullptr, nullptr, TRUE, Flags, nullptr, nullptr,
                       &Startup, &Process))
      return Process;
    const DWORD Error = GetLastError();
    if (Error != ERROR_INTERNAL_ERROR || Attempt == 3) {
      std::printf("cannot start (error %lu): %s\n", Error, Command_Line.c_str());
      std::exit(1);
    }
  }
}

// Runs Command_Line to its end, its standard output and error into the file
// Output ("NUL": away), and returns the seconds from its start to its end.
// Flags go to CreateProcessA; Until_End, when given, is what waits for the
// end. The benchmark ends when the run cannot start or exits with non-zero.
inline double Run(const std::string &Command_Line, const std::string &Output = "NUL",
                  DWORD Flags = 0,
                  const std::function<void(const PROCESS_INFORMATION &)> &Until_End = nullptr) {
  SECURITY_ATTRIBUTES Security{sizeof Security, nullptr, TRUE};
  const HANDLE Out = CreateFileA(Output.c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, &Security,
                                 CREATE_ALWAYS, 0, nullptr);
  PROCESS_INFORMATION Process{};
  DWORD Exit_Code = 1;
  const double Run_Seconds = Seconds([&] {
    Process = Start(Command_Line, Out, Flags);
    if (Until_End) Until_End(Process);
    WaitForSingleObject(Process.hProcess, INFINITE);
  });
  GetExitCodeProcess(Process.hProcess, &Exit_Code);
  CloseHandle(Process.hThread);
  CloseHandle(Process.hProcess);
  CloseHandle(Out);
  if (Exit_Code != 0) {
    std::printf("exit code %lu: %s\n", Exit_Code, Command_Line.c_str());
    std::exit(1);
  }
  return Run_Seconds;
}

// A scratch file name under the temporary directory.
inline std::string Temp_Name(const std::string &Name) {
  char Temp[MAX_PATH];
  GetTempPathA(MAX_PATH, Temp);
  return std::string(Temp) + Name;
}

// The directory of the running program, ending in a backslash.
inline std::string Directory_Of_Program() {
  char Path[MAX_PATH];
  const std::string Full(Path, GetModuleFileNameA(nullptr, Path, MAX_PATH));
  return Full.substr(0, Full.find_last_of('\\') + 1);
}

inline void Write_File(const std::string &Name, const std::string &Text) {
  const HANDLE File = CreateFileA(Name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD Written;
  WriteFile(File, Text.data(), static_cast<DWORD>(Text.size()), &Written, nullptr);
  CloseHandle(File);
}

// The first 64 KiB of a file.
inline std::string Read_File(const std::string &Name) {
  const HANDLE File = CreateFileA(Name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  std::string Text(1 << 16, '\0');
  DWORD Count = 0;
  ReadFile(File, Text.data(), static_cast<DWORD>(Text.size()), &Count, nullptr);
  CloseHandle(File);
  Text.resize(Count);
  return Text;
}

// A configuration for the client against the stand-in server on a pipe of
// this process (with Extra_Keys, lines ended by CR LF, after its own), a
// source file, and the command lines of a syntax query on it; the files go
// with the object.
struct Query_Setup {
  Query_Setup(const std::string &Name, const std::string &Source_Name,
              const std::string &Source_Text, const std::string &Extra_Keys = "")
      : Bin(Directory_Of_Program()), Config(Temp_Name(Name + ".ini")),
        Source(Temp_Name(Source_Name)), Pipe(Name + "_" + std::to_string(GetCurrentProcessId())),
        Client("\"" + Bin + "Tez_Client.exe\" \"" + Config + "\" "),
        Query(Client + "syntax \"" + Source + "\"") {
    Write_File(Config, "[Tez_Client]\r\nPipename=" + Pipe + "\r\nServer=" + Bin +
                           "tez_server.exe\r\n" + Extra_Keys);
    Write_File(Source, Source_Text);
  }
  ~Query_Setup() {
    DeleteFileA(Config.c_str());
    DeleteFileA(Source.c_str());
  }
  Query_Setup(const Query_Setup &) = delete;
  Query_Setup &operator=(const Query_Setup &) = delete;

  const std::string Bin, Config, Source, Pipe;
  const std::string Client; // the client and its configuration, a blank after
  const std::string Query;
};

} // namespace Bench
