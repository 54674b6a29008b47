// Per-query latency of a Syntax query against an already running stand-in
// server, next to the floor: an empty console program started the same way.
// Medians over many runs of each, interleaved. Last line: "query ratio R",
// R = client median / floor median.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include <windows.h>

namespace {

constexpr int Runs = 60;

std::string Directory_Of_Program() {
  char Path[MAX_PATH];
  const std::string Full(Path, GetModuleFileNameA(nullptr, Path, MAX_PATH));
  return Full.substr(0, Full.find_last_of('\\') + 1);
}

// Seconds from start to end of one run, output discarded.
double Run(const std::string &Command_Line) {
  SECURITY_ATTRIBUTES Security{sizeof Security, nullptr, TRUE};
  const HANDLE Nothing =
      CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_WRITE, &Security, OPEN_EXISTING, 0, nullptr);
  STARTUPINFOA Startup{};
  Startup.cb = sizeof Startup;
  Startup.dwFlags = STARTF_USESTDHANDLES;
  Startup.hStdOutput = Startup.hStdError = Nothing;
  Startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION Process{};
  std::string Line = Command_Line;
  const auto Start = std::chrono::steady_clock::now();
  if (!CreateProcessA(nullptr, Line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &Startup,
                      &Process)) {
    std::printf("cannot start: %s\n", Command_Line.c_str());
    std::exit(1);
  }
  WaitForSingleObject(Process.hProcess, INFINITE);
  const double Seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
  CloseHandle(Process.hThread);
  CloseHandle(Process.hProcess);
  CloseHandle(Nothing);
  return Seconds;
}

double Median(std::vector<double> Values) {
  std::sort(Values.begin(), Values.end());
  return Values[Values.size() / 2];
}

} // namespace

int main() {
  const std::string Bin = Directory_Of_Program();
  char Temp[MAX_PATH];
  GetTempPathA(MAX_PATH, Temp);
  const std::string Config = std::string(Temp) + "tez_bench_query.ini";
  const std::string Source = std::string(Temp) + "tez_bench_query.src";
  const std::string Pipe = "tez_bench_query_" + std::to_string(GetCurrentProcessId());
  const std::string Ini =
      "[Tez_Client]\r\nPipename=" + Pipe + "\r\nServer=" + Bin + "tez_server.exe\r\n";
  for (const auto &[Name, Text] :
       {std::pair{Config, Ini}, std::pair{Source, std::string("x\r\n")}}) {
    const HANDLE File = CreateFileA(Name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD Written;
    WriteFile(File, Text.data(), static_cast<DWORD>(Text.size()), &Written, nullptr);
    CloseHandle(File);
  }
  const std::string Client = "\"" + Bin + "Tez_Client.exe\" \"" + Config + "\" ";
  const std::string Query = Client + "syntax \"" + Source + "\"";
  const std::string Floor = "\"" + Bin + "empty_program.exe\"";

  Run(Query); // starts the server
  Run(Floor);
  std::vector<double> Query_Times, Floor_Times;
  for (int I = 0; I < Runs; ++I) {
    Query_Times.push_back(Run(Query));
    Floor_Times.push_back(Run(Floor));
  }
  Run(Client + "close");
  DeleteFileA(Config.c_str());
  DeleteFileA(Source.c_str());

  const double Query_Median = Median(Query_Times), Floor_Median = Median(Floor_Times);
  std::printf("Syntax query against a running server: median %.1f ms over %d runs\n",
              Query_Median * 1000, Runs);
  std::printf("empty console program (floor):        median %.1f ms over %d runs\n",
              Floor_Median * 1000, Runs);
  std::printf("query ratio %.3f\n", Query_Median / Floor_Median);
  return 0;
}
