#include "support.hpp"

#include <atomic>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <utility>

#include <windows.h>

namespace Test_Support {

namespace {

void Remove_Tree(const std::string &Directory) {
  WIN32_FIND_DATAA Found;
  const HANDLE Search = FindFirstFileA((Directory + "*").c_str(), &Found);
  if (Search != INVALID_HANDLE_VALUE) {
    do {
      const std::string Name = Found.cFileName;
      if (Name == "." || Name == "..") continue;
      const std::string Full = Directory + Name;
      SetFileAttributesA(Full.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (Found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        Remove_Tree(Full + "\\");
      else
        DeleteFileA(Full.c_str());
    } while (FindNextFileA(Search, &Found));
    FindClose(Search);
  }
  RemoveDirectoryA(Directory.c_str());
}

} // namespace

std::string Quoted(const std::string &Argument) {
  if (!Argument.empty() && Argument.find_first_of(" \t\"") == std::string::npos) return Argument;
  std::string Result = "\"";
  std::size_t Backslashes = 0;
  for (const char C : Argument) {
    if (C == '\\') {
      ++Backslashes;
      continue;
    }
    Result.append(C == '"' ? Backslashes * 2 + 1 : Backslashes, '\\');
    Backslashes = 0;
    Result += C;
  }
  Result.append(Backslashes * 2, '\\');
  return Result + "\"";
}

HANDLE Inheritable_File(const std::string &Name, DWORD Access, DWORD Disposition) {
  SECURITY_ATTRIBUTES Security{sizeof Security, nullptr, TRUE};
  return CreateFileA(Name.c_str(), Access, FILE_SHARE_READ | FILE_SHARE_WRITE, &Security,
                     Disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

Scratch_Directory::Scratch_Directory() {
  static std::atomic<unsigned> Counter{0};
  char Temp[MAX_PATH];
  GetTempPathA(MAX_PATH, Temp);
  Path_ = std::string(Temp) + "tez_test_" + std::to_string(GetCurrentProcessId()) + "_" +
          std::to_string(Counter++) + "\\";
  Remove_Tree(Path_);
  if (!CreateDirectoryA(Path_.c_str(), nullptr)) throw std::runtime_error("cannot create " + Path_);
}

Scratch_Directory::~Scratch_Directory() {
  Remove_Tree(Path_);
}

void Write_File(const std::string &Name, std::string_view Content) {
  std::ofstream Out(Name, std::ios::binary);
  Out.write(Content.data(), static_cast<std::streamsize>(Content.size()));
  if (!Out) throw std::runtime_error("cannot write " + Name);
}

std::string Read_File(const std::string &Name) {
  std::ifstream In(Name, std::ios::binary);
  if (!In) throw std::runtime_error("cannot read " + Name);
  std::ostringstream Content;
  Content << In.rdbuf();
  return Content.str();
}

const char *const Usage_Text =
    "Tez_Client\r\n"
    "-- Program to communicate with the Tez Server\r\n"
    "-- Parameters:\r\n"
    "-- 1: Name of configuration file. Section=[Tez_Client]\r\n"
    "-- 2: Command = [Close | Reference | Syntax | Location | Unused]\r\n"
    "-- Syntax and Unused require an additional parameter:\r\n"
    "-- 3: Name of file to check\r\n"
    "-- Reference and Location require three further parameters:\r\n"
    "-- 3: Name of file being queried\r\n"
    "-- 4: Line number of query = 1..1'048'575\r\n"
    "-- 5: Column number of query = 1..4095\r\n";

std::string Program_Directory() {
  char Path[MAX_PATH];
  const DWORD Length = GetModuleFileNameA(nullptr, Path, MAX_PATH);
  const std::string Full(Path, Length);
  return Full.substr(0, Full.find_last_of('\\') + 1);
}

Started_Run::Started_Run(const std::string &Program, const std::vector<std::string> &Arguments,
                         const std::string &Directory)
    : Out_Name_(Capture_ / "stdout"), Err_Name_(Capture_ / "stderr") {
  const HANDLE Out = Inheritable_File(Out_Name_, GENERIC_WRITE, CREATE_ALWAYS),
               Err = Inheritable_File(Err_Name_, GENERIC_WRITE, CREATE_ALWAYS);
  std::string Command_Line = Quoted(Program);
  for (const std::string &Argument : Arguments)
    (Command_Line += ' ') += Quoted(Argument);
  STARTUPINFOA Startup{};
  Startup.cb = sizeof Startup;
  Startup.dwFlags = STARTF_USESTDHANDLES;
  Startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  Startup.hStdOutput = Out;
  Startup.hStdError = Err;
  PROCESS_INFORMATION Process{};
  const BOOL Started =
      CreateProcessA(Program.c_str(), Command_Line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                     Directory.empty() ? nullptr : Directory.c_str(), &Startup, &Process);
  const DWORD Error = Started ? 0 : GetLastError();
  CloseHandle(Out);
  CloseHandle(Err);
  if (!Started)
    throw std::runtime_error("cannot start " + Program + ": system error " + std::to_string(Error));
  CloseHandle(Process.hThread);
  Process_ = Process.hProcess;
  Process_Id_ = Process.dwProcessId;
}

Started_Run::~Started_Run() {
  if (Process_) {
    WaitForSingleObject(Process_, INFINITE);
    CloseHandle(Process_);
  }
}

Run_Result Started_Run::Finish() {
  WaitForSingleObject(Process_, INFINITE);
  DWORD Exit_Code = 0;
  GetExitCodeProcess(Process_, &Exit_Code);
  FILETIME Times[4]{};
  GetProcessTimes(Process_, &Times[0], &Times[1], &Times[2], &Times[3]);
  CloseHandle(std::exchange(Process_, nullptr));
  const auto Value = [](const FILETIME &Time) {
    return (static_cast<unsigned long long>(Time.dwHighDateTime) << 32) | Time.dwLowDateTime;
  };
  return {Exit_Code,   Read_File(Out_Name_), Read_File(Err_Name_),
          Process_Id_, Value(Times[0]),      Value(Times[1])};
}

Run_Result Run(const std::string &Program, const std::vector<std::string> &Arguments,
               const std::string &Directory) {
  return Started_Run(Program, Arguments, Directory).Finish();
}

} // namespace Test_Support
