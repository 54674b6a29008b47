// Writes 100,000 log-sized lines (78 bytes and CR LF) four ways, in turn,
// round after round: the floor its 500-byte buffer allows (the same bytes as
// raw 500-byte WriteFile calls from one buffer); Put_Line on a
// Windows::Files::IO handle; C stdio fputs; one raw WriteFile per line. Last
// line: "file ratio R", R = median over the rounds of Put_Line rate / floor
// rate.
#include "pairs.hpp"
#include "windows/files_io.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

namespace {

namespace IO = Windows::Files::IO;

constexpr int Lines = 100'000;
constexpr int Rounds = 40;
const std::string Line = std::string(78, 'L');

std::string Scratch_Name(const char *Kind) {
  char Temp[MAX_PATH];
  GetTempPathA(MAX_PATH, Temp);
  return std::string(Temp) + "tez_bench_file_" + Kind + ".txt";
}

// Lines per second of one way of writing, file closed included.
double Rate(const std::function<void(const std::string &)> &Write, const char *Kind) {
  const std::string Name = Scratch_Name(Kind);
  const double Seconds = Bench::Seconds([&] { Write(Name); });
  WIN32_FILE_ATTRIBUTE_DATA Data;
  if (!GetFileAttributesExA(Name.c_str(), GetFileExInfoStandard, &Data) ||
      Data.nFileSizeLow != static_cast<DWORD>(Lines) * 80) {
    std::printf("%s: wrong file size\n", Kind);
    std::exit(1);
  }
  DeleteFileA(Name.c_str());
  return Lines / Seconds;
}

void With_Put_Line(const std::string &Name) {
  IO::Handle File = IO::Create(Name, false, true);
  for (int I = 0; I < Lines; ++I)
    IO::Put_Line(Line, File);
  IO::Close(File);
}

HANDLE Raw_Create(const std::string &Name) {
  return CreateFileA(Name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

void Floor(const std::string &Name) {
  const HANDLE File = Raw_Create(Name);
  char Buffer[500];
  int Used = 0;
  DWORD Written;
  const std::string Text = Line + "\r\n";
  for (int I = 0; I < Lines; ++I) {
    std::size_t Offset = 0;
    while (Offset < Text.size()) {
      const std::size_t Chunk = std::min(Text.size() - Offset, sizeof Buffer - Used);
      std::copy_n(Text.data() + Offset, Chunk, Buffer + Used);
      Used += static_cast<int>(Chunk);
      Offset += Chunk;
      if (Used == sizeof Buffer) {
        WriteFile(File, Buffer, sizeof Buffer, &Written, nullptr);
        Used = 0;
      }
    }
  }
  if (Used > 0) WriteFile(File, Buffer, static_cast<DWORD>(Used), &Written, nullptr);
  CloseHandle(File);
}

void With_Stdio(const std::string &Name) {
  std::FILE *File = std::fopen(Name.c_str(), "wb");
  const std::string Text = Line + "\r\n";
  for (int I = 0; I < Lines; ++I)
    std::fputs(Text.c_str(), File);
  std::fclose(File);
}

void Write_Per_Line(const std::string &Name) {
  const HANDLE File = Raw_Create(Name);
  const std::string Text = Line + "\r\n";
  DWORD Written;
  for (int I = 0; I < Lines; ++I)
    WriteFile(File, Text.data(), static_cast<DWORD>(Text.size()), &Written, nullptr);
  CloseHandle(File);
}

} // namespace

int main() {
  const auto Rates = Bench::Rounds(Rounds, {[] { return Rate(Floor, "floor"); },
                                            [] { return Rate(With_Put_Line, "put_line"); },
                                            [] { return Rate(With_Stdio, "stdio"); },
                                            [] { return Rate(Write_Per_Line, "per_line"); }});
  std::printf("medians: floor %.0f lines/s, Put_Line %.0f, stdio %.0f, WriteFile per line %.0f "
              "(%d rounds of %d lines of 80 bytes)\n",
              Bench::Spread_Of(Rates[0]).Median, Bench::Spread_Of(Rates[1]).Median,
              Bench::Spread_Of(Rates[2]).Median, Bench::Spread_Of(Rates[3]).Median, Rounds, Lines);
  Bench::Print_Ratios("C stdio fputs / floor", Bench::Ratios(Rates[2], Rates[0]));
  Bench::Print_Ratios("one raw WriteFile per line / floor", Bench::Ratios(Rates[3], Rates[0]));
  Bench::Print_Result("file", Bench::Print_Ratios("Put_Line (500-byte buffer) / floor",
                                                  Bench::Ratios(Rates[1], Rates[0])));
  return 0;
}
