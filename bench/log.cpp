// Records per second through Log::Put with the log on (no limit, and a limit
// that rolls the file over every 10,000 records), next to the raw Put_Line
// rate of lines of the same length in the same run. Last line: "log ratio R",
// R = Log::Put rate (no limit) / raw Put_Line rate.
#include "log/log.hpp"
#include "log/log_file.hpp"
#include "windows/files_io.hpp"
#include "windows/version.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#include <windows.h>

namespace {

using Clock = std::chrono::steady_clock;
namespace IO = Windows::Files::IO;

constexpr int Records = 1'000'000;
constexpr int Repetitions = 3;
const std::string Message = "Reply from Server=main.adb:120:7: reference to Put_Line";
// The product this program logs under: its module's base name.
const std::string Key = "Software\\Orvane\\bench_log";

std::string Temp_Name(const char *Kind) {
  char Temp[MAX_PATH];
  GetTempPathA(MAX_PATH, Temp);
  return std::string(Temp) + "tez_bench_log_" + Kind + ".log";
}

void Set_Settings(const std::string &File_Name, DWORD Limit) {
  RegSetKeyValueA(HKEY_CURRENT_USER, Key.c_str(), "Log", REG_SZ, File_Name.c_str(),
                  static_cast<DWORD>(File_Name.size() + 1));
  RegSetKeyValueA(HKEY_CURRENT_USER, Key.c_str(), "Log Limit", REG_DWORD, &Limit, sizeof Limit);
}

template <typename Body> double Rate(Body Write) {
  const auto Start = Clock::now();
  Write();
  return Records / std::chrono::duration<double>(Clock::now() - Start).count();
}

} // namespace

int main() {
  const std::string Line = Log::Record_Line(SYSTEMTIME{}, 0x0150, Message);
  double Raw_Rate = 0, Rolling_Rate = 0;
  for (int Run = 0; Run < Repetitions; ++Run) {
    Raw_Rate = std::max(Raw_Rate, Rate([&] {
                          IO::Handle File = IO::Create(Temp_Name("raw"), false, true);
                          for (int I = 0; I < Records; ++I)
                            IO::Put_Line(Line, File);
                          IO::Close(File);
                        }));
    Set_Settings(Temp_Name("rolling"), 10'000);
    Rolling_Rate = std::max(Rolling_Rate, Rate([&] {
                              Log::Log_File File;
                              bool Was_Closed;
                              File.Open_Log("bench_log", false, Was_Closed);
                              for (int I = 0; I < Records; ++I)
                                File.Write_Record(Message);
                              File.Close();
                            }));
  }
  // The process's own log, started once as the client starts it.
  Set_Settings(Temp_Name("put"), 0);
  Windows::Version::Initialise();
  Log::Start_Log(false);
  const double Put_Rate = Rate([] {
    for (int I = 0; I < Records; ++I)
      Log::Put(Message);
    Log::Finalise();
  });

  RegDeleteTreeA(HKEY_CURRENT_USER, Key.c_str());
  for (const char *Kind : {"raw", "rolling", "put"})
    DeleteFileA(Temp_Name(Kind).c_str());
  DeleteFileA(Log::Second_File_Name(Temp_Name("rolling")).c_str());

  std::printf("Log::Put, no limit                  %9.0f records/s\n", Put_Rate);
  std::printf("Log::Put, roll-over every 10,000    %9.0f records/s\n", Rolling_Rate);
  std::printf("raw Put_Line of the same lines      %9.0f lines/s\n", Raw_Rate);
  std::printf("(%d records of %zu bytes each)\n", Records, Line.size() + 2);
  std::printf("log ratio %.3f\n", Put_Rate / Raw_Rate);
  return 0;
}
