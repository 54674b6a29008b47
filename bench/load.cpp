// Overlapping queries against one running stand-in server, which serves one
// conversation at a time: 32 clients started at once, against the same 32
// queries made one after another. Rounds run both sides in turn. Prints the
// wall times, "answered A of 32" (the fewest exact answers of any
// overlapping round), the spread, and last "load ratio R", R = median over
// the rounds of overlapping wall time / sequential wall time.
#include "pairs.hpp"

#include <cstdio>
#include <memory>
#include <string>

namespace {

constexpr int Clients = 32;
constexpr int Rounds = 3;

// One client process, its output into a file of its own.
class Client_Process {
public:
  Client_Process(const std::string &Command_Line, const std::string &Output) {
    SECURITY_ATTRIBUTES Security{sizeof Security, nullptr, TRUE};
    const HANDLE Out = CreateFileA(Output.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &Security,
                                   CREATE_ALWAYS, 0, nullptr);
    const PROCESS_INFORMATION Process = Bench::Start(Command_Line, Out);
    CloseHandle(Out);
    CloseHandle(Process.hThread);
    Process_ = Process.hProcess;
  }
  ~Client_Process() {
    WaitForSingleObject(Process_, INFINITE);
    CloseHandle(Process_);
  }
  Client_Process(const Client_Process &) = delete;
  Client_Process &operator=(const Client_Process &) = delete;

private:
  HANDLE Process_;
};

// Runs one client to its end.
void Run_To_End(const std::string &Command_Line, const std::string &Output) {
  const Client_Process Client(Command_Line, Output);
}

std::string Output_Name(int Client) {
  return Bench::Temp_Name("tez_bench_load_" + std::to_string(Client) + ".out");
}

// Runs the clients, all at once or one after another; the number that
// printed Expected exactly.
int Run_Clients(const std::string &Query, const std::string &Expected, bool At_Once) {
  if (At_Once) {
    std::vector<std::unique_ptr<Client_Process>> Running;
    Running.reserve(Clients);
    for (int Client = 0; Client < Clients; ++Client)
      Running.push_back(std::make_unique<Client_Process>(Query, Output_Name(Client)));
  } else {
    for (int Client = 0; Client < Clients; ++Client)
      Run_To_End(Query, Output_Name(Client));
  }
  int Answered = 0;
  for (int Client = 0; Client < Clients; ++Client)
    Answered += Bench::Read_File(Output_Name(Client)) == Expected;
  return Answered;
}

} // namespace

int main() {
  const Bench::Query_Setup Setup("tez_bench_load", "tez_bench_load.c",
                                 "int f(void) { return (1; }\n");
  const std::string &Client = Setup.Client, &Query = Setup.Query;

  // The first query starts the server and gives the answer every client must print.
  Run_To_End(Query, Output_Name(0));
  const std::string Expected = Bench::Read_File(Output_Name(0));
  if (Expected.empty() || Expected.front() == '!') {
    std::printf("no answer from the server: %s\n", Expected.c_str());
    return 1;
  }

  int Fewest_Answered = Clients;
  const auto Figures = Bench::Rounds(
      Rounds, {[&] {
                 int Answered = 0;
                 const double Seconds =
                     Bench::Seconds([&] { Answered = Run_Clients(Query, Expected, true); });
                 Fewest_Answered = std::min(Fewest_Answered, Answered);
                 return Seconds;
               },
               [&] { return Bench::Seconds([&] { Run_Clients(Query, Expected, false); }); }});
  Run_To_End(Client + "close", Output_Name(0));
  for (int Client = 0; Client < Clients; ++Client)
    DeleteFileA(Output_Name(Client).c_str());

  std::printf("%d clients at once: median %.2f s; one after another: median %.2f s (%d rounds)\n",
              Clients, Bench::Spread_Of(Figures[0]).Median, Bench::Spread_Of(Figures[1]).Median,
              Rounds);
  std::printf("answered %d of %d\n", Fewest_Answered, Clients);
  Bench::Print_Result("load", Bench::Print_Ratios("at once / one after another",
                                                  Bench::Ratios(Figures[0], Figures[1])));
  return Fewest_Answered == Clients ? 0 : 1;
}
