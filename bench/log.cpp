// Records per second through Log::Put with the log on (no limit), next to
// raw Put_Line of lines of the same length, in turn, round after round; a log
// that rolls over every 10,000 records runs in each round for reference. Last
// line: "log ratio R", R = median over the rounds of Log::Put rate / raw
// Put_Line rate.
#include "log/log.hpp"
#include "log/log_file.hpp"
#include "pairs.hpp"
#include "windows/files_io.hpp"
#include "windows/version.hpp"

#include <cstdio>
#include <string>

#include <windows.h>

namespace {

namespace IO = Windows::Files::IO;

constexpr int Records = 100'000;
constexpr int Rounds = 30;
const std::string Message = "Reply from Server=main.adb:120:7: reference to Put_Line";
// The product this program logs under: its module's base name.
const std::string Key = "Software\\Orvane\\bench_log";

std::string Temp_Name(const char *Kind) {
  return Bench::Temp_Name(std::string("tez_bench_log_") + Kind + ".log");
}

void Set_Settings(const std::string &File_Name, DWORD Limit) {
  RegSetKeyValueA(HKEY_CURRENT_USER, Key.c_str(), "Log", REG_SZ, File_Name.c_str(),
                  static_cast<DWORD>(File_Name.size() + 1));
  RegSetKeyValueA(HKEY_CURRENT_USER, Key.c_str(), "Log Limit", REG_DWORD, &Limit, sizeof Limit);
}

template <typename Body> double Rate(Body Write) {
  return Records / Bench::Seconds(Write);
}

} // namespace

int main() {
  const std::string Line = Log::Record_Line(SYSTEMTIME{}, 0x0150, Message);
  // The process's own log, started once as the client starts it; it grows
  // round by round.
  Set_Settings(Temp_Name("put"), 0);
  Windows::Version::Initialise();
  Log::Start_Log(false);
  Set_Settings(Temp_Name("rolling"), 10'000);
  const auto Rates = Bench::Rounds(Rounds, {[&] {
                                              return Rate([&] {
                                                IO::Handle File =
                                                    IO::Create(Temp_Name("raw"), false, true);
                                                for (int I = 0; I < Records; ++I)
                                                  IO::Put_Line(Line, File);
                                                IO::Close(File);
                                              });
                                            },
                                            [] {
                                              return Rate([] {
                                                for (int I = 0; I < Records; ++I)
                                                  Log::Put(Message);
                                              });
                                            },
                                            [] {
                                              return Rate([] {
                                                Log::Log_File File;
                                                bool Was_Closed;
                                                File.Open_Log("bench_log", false, Was_Closed);
                                                for (int I = 0; I < Records; ++I)
                                                  File.Write_Record(Message);
                                                File.Close();
                                              });
                                            }});
  Log::Finalise();

  RegDeleteTreeA(HKEY_CURRENT_USER, Key.c_str());
  for (const char *Kind : {"raw", "rolling", "put"})
    DeleteFileA(Temp_Name(Kind).c_str());
  DeleteFileA(Log::Second_File_Name(Temp_Name("rolling")).c_str());

  std::printf("medians: Log::Put %.0f records/s, roll-over every 10,000 %.0f, raw Put_Line %.0f "
              "lines/s (%d rounds of %d records of %zu bytes)\n",
              Bench::Spread_Of(Rates[1]).Median, Bench::Spread_Of(Rates[2]).Median,
              Bench::Spread_Of(Rates[0]).Median, Rounds, Records, Line.size() + 2);
  Bench::Print_Ratios("Log::Put, roll-over every 10,000 / raw Put_Line",
                      Bench::Ratios(Rates[2], Rates[0]));
  Bench::Print_Result("log", Bench::Print_Ratios("Log::Put, no limit / raw Put_Line",
                                                 Bench::Ratios(Rates[1], Rates[0])));
  return 0;
}
