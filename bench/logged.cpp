// What the log costs a query with a long reply stream: a Syntax query whose
// answer is 10,000 lines, with the log on, against the same query with the
// log off, both against a stand-in server that the first query started and
// that answers from a script. Rounds run the two in turn. The user's own log
// settings are put back at the end. Last line: "logged ratio R", R = median
// over the rounds of the logged time / the time without the log.
#include "pairs.hpp"

#include <cstdio>
#include <optional>
#include <string>

namespace {

constexpr int Rounds = 30;
constexpr int Reply_Lines = 10'000;
const char *const Key = "Software\\Orvane\\Tez_Client";

std::optional<std::string> Saved_Log() {
  char Value[MAX_PATH];
  DWORD Size = sizeof Value;
  if (RegGetValueA(HKEY_CURRENT_USER, Key, "Log", RRF_RT_REG_SZ, nullptr, Value, &Size) !=
      ERROR_SUCCESS)
    return std::nullopt;
  return std::string(Value);
}

void Set_Log(const std::optional<std::string> &File_Name) {
  if (!File_Name) {
    RegDeleteKeyValueA(HKEY_CURRENT_USER, Key, "Log");
    return;
  }
  RegSetKeyValueA(HKEY_CURRENT_USER, Key, "Log", REG_SZ, File_Name->c_str(),
                  static_cast<DWORD>(File_Name->size() + 1));
}

std::string Reply(int Line) {
  return "main.c:" + std::to_string(Line) + ":7: warning: unused variable 'count'";
}

// The replies as the client prints them, and the server's script for them.
std::string Printed() {
  std::string Text;
  for (int Line = 1; Line <= Reply_Lines; ++Line)
    Text += Reply(Line) + "\r\n";
  return Text;
}
std::string Script() {
  std::string Text = "on S\r\n";
  for (int Line = 1; Line <= Reply_Lines; ++Line)
    Text += "reply " + Reply(Line) + "\r\n";
  return Text + "idle 300\r\n";
}

long long File_Size(const std::string &Name) {
  WIN32_FILE_ATTRIBUTE_DATA Data{};
  if (!GetFileAttributesExA(Name.c_str(), GetFileExInfoStandard, &Data)) return -1;
  return (static_cast<long long>(Data.nFileSizeHigh) << 32) | Data.nFileSizeLow;
}

} // namespace

int main() {
  const Bench::Query_Setup Setup("tez_bench_logged", "tez_bench_logged.c", "int f(void);\n");
  const std::string Script_Name = Bench::Temp_Name("tez_bench_logged.txt");
  const std::string Log_Name = Bench::Temp_Name("tez_bench_logged.log");
  const std::string Output = Bench::Temp_Name("tez_bench_logged.out");
  Bench::Write_File(Script_Name, Script());
  SetEnvironmentVariableA("TEZ_SERVER_SCRIPT", Script_Name.c_str());
  const std::optional<std::string> Users_Log = Saved_Log();

  // The first query starts the server; the logged one must log every reply.
  Set_Log(Log_Name);
  Bench::Run(Setup.Query);
  Bench::Run(Setup.Query, Output);
  const std::string Expected = Printed();
  if (File_Size(Output) != static_cast<long long>(Expected.size()) ||
      !Expected.starts_with(Bench::Read_File(Output))) {
    std::printf("the answer is not the scripted one\n");
    return 1;
  }
  if (File_Size(Log_Name) < static_cast<long long>(Expected.size()) ||
      Bench::Read_File(Log_Name).find("Reply from Server=" + Reply(1)) == std::string::npos) {
    std::printf("the log holds no replies\n");
    return 1;
  }

  const auto Figures = Bench::Rounds(Rounds, {[&] {
                                                Set_Log(Log_Name);
                                                return Bench::Run(Setup.Query);
                                              },
                                              [&] {
                                                Set_Log(std::nullopt);
                                                return Bench::Run(Setup.Query);
                                              }});
  Set_Log(std::nullopt);
  Bench::Run(Setup.Client + "close");
  Set_Log(Users_Log);
  for (const std::string &Name : {Script_Name, Log_Name, Output})
    DeleteFileA(Name.c_str());

  std::printf("medians: log on %.1f ms, log off %.1f ms (%d rounds of %d reply lines)\n",
              Bench::Spread_Of(Figures[0]).Median * 1000,
              Bench::Spread_Of(Figures[1]).Median * 1000, Rounds, Reply_Lines);
  Bench::Print_Result(
      "logged", Bench::Print_Ratios("log on / log off", Bench::Ratios(Figures[0], Figures[1])));
  return 0;
}
