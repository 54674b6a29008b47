// Writes 1,000,000 log-sized lines (78 bytes and CR LF) four ways in one run:
// Put_Line on a Windows::Files::IO handle; the floor its 500-byte buffer
// allows (the same bytes as raw 500-byte WriteFile calls from one buffer);
// C stdio fputs; one raw WriteFile per line. Last line: "file ratio R",
// R = Put_Line rate / floor rate.
#include "windows/files_io.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;
namespace IO = Windows::Files::IO;

constexpr int Lines = 1'000'000;
constexpr int Repetitions = 3;
const std::string Line = std::string(78, 'L');

std::string Scratch_Name(const char *Kind) {
  char Temp[MAX_PATH];
  GetTempPathA(MAX_PATH, Temp);
  return std::string(Temp) + "tez_bench_file_" + Kind + ".txt";
}

// Lines per second of one way of writing, file closed included.
double Rate(const std::function<void(const std::string &)> &Write, const char *Kind) {
  const std::string Name = Scratch_Name(Kind);
  const auto Start = Clock::now();
  Write(Name);
  const double Seconds = std::chrono::duration<double>(Clock::now() - Start).count();
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
  double Put_Line_Rate = 0, Floor_Rate = 0;
  for (int Run = 0; Run < Repetitions; ++Run) {
    Floor_Rate = std::max(Floor_Rate, Rate(Floor, "floor"));
    Put_Line_Rate = std::max(Put_Line_Rate, Rate(With_Put_Line, "put_line"));
  }
  const double Stdio_Rate = Rate(With_Stdio, "stdio");
  const double Per_Line_Rate = Rate(Write_Per_Line, "per_line");
  std::printf("Put_Line (500-byte buffer)       %9.0f lines/s\n", Put_Line_Rate);
  std::printf("floor: raw 500-byte WriteFile    %9.0f lines/s\n", Floor_Rate);
  std::printf("C stdio fputs                    %9.0f lines/s (%.2f of the floor)\n", Stdio_Rate,
              Stdio_Rate / Floor_Rate);
  std::printf("one raw WriteFile per line       %9.0f lines/s (%.2f of the floor)\n", Per_Line_Rate,
              Per_Line_Rate / Floor_Rate);
  std::printf("(best of %d runs for the first two, %d lines of 80 bytes each)\n", Repetitions,
              Lines);
  std::printf("file ratio %.3f\n", Put_Line_Rate / Floor_Rate);
  return 0;
}
