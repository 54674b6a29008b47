// Per-query latency of a Syntax query against an already running stand-in
// server, started as a whole process each time, as an editor starts it. The
// floor is the same query made by a minimal client of raw system calls
// (raw_client.exe); an empty console program is shown for reference. Rounds
// run client, raw client, empty program in turn. Last line: "query ratio R",
// R = median over the rounds of client time / raw client time.
//
// A run costs some 40 ms and the difference sought is 1 or 2 ms, while other
// programs on the machine now and then stretch one run by several times
// that: the single ratios spread widely, so the median takes many of them to
// settle. The rounds come in blocks, whose medians show how far one block's
// figure would stray.
#include "pairs.hpp"

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

constexpr int Blocks = 5;
constexpr int Rounds_Per_Block = 60;
constexpr int Rounds = Blocks * Rounds_Per_Block;

int main() {
  const Bench::Query_Setup Setup("tez_bench_query", "tez_bench_query.src", "x\r\n");
  const std::string &Bin = Setup.Bin, &Client = Setup.Client, &Query = Setup.Query;
  const std::string &Pipe = Setup.Pipe, &Source = Setup.Source;
  const std::string Output = Bench::Temp_Name("tez_bench_query.out");
  const std::string Raw = "\"" + Bin + "raw_client.exe\" " + Pipe + " \"S" + Source + "\"";
  const std::string Empty = "\"" + Bin + "empty_program.exe\"";

  // The first query starts the server; then both clients must print the same.
  using Bench::Run;
  Run(Query);
  Run(Query, Output);
  const std::string Client_Output = Bench::Read_File(Output);
  Run(Raw, Output);
  if (Bench::Read_File(Output) != Client_Output || Client_Output.empty()) {
    std::printf("the raw client's output differs from the client's\n");
    return 1;
  }
  Run(Empty);

  const auto Figures = Bench::Rounds(
      Rounds, {[&] { return Run(Query); }, [&] { return Run(Raw); }, [&] { return Run(Empty); }});
  Run(Client + "close");
  DeleteFileA(Output.c_str());

  std::printf("medians: client %.1f ms, raw client %.1f ms, empty program %.1f ms (%d rounds)\n",
              Bench::Spread_Of(Figures[0]).Median * 1000,
              Bench::Spread_Of(Figures[1]).Median * 1000,
              Bench::Spread_Of(Figures[2]).Median * 1000, Rounds);
  Bench::Print_Ratios("client / empty program", Bench::Ratios(Figures[0], Figures[2]));
  const std::vector<double> Pair_Ratios = Bench::Ratios(Figures[0], Figures[1]);
  std::printf("client / raw client, median of each block of %d pairs:", Rounds_Per_Block);
  for (std::ptrdiff_t Block = 0; Block < Blocks; ++Block) {
    const auto First = Pair_Ratios.begin() + Block * Rounds_Per_Block;
    std::printf(" %.3f", Bench::Spread_Of({First, First + Rounds_Per_Block}).Median);
  }
  std::printf("\n");
  Bench::Print_Result("query", Bench::Print_Ratios("client / raw client", Pair_Ratios));
  return 0;
}
