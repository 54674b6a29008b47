#include "support.hpp"

#include "windows/characters.hpp"
#include "windows/windows.hpp"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <utility>

#include <gtest/gtest.h>
#include <windows.h>
// windows.h first.
#include <tlhelp32.h>

namespace Test_Support {

namespace {

// In the system's own characters: a test may make names the code page
// cannot hold.
void Remove_Tree(const std::wstring &Directory) {
  WIN32_FIND_DATAW Found;
  const HANDLE Search = FindFirstFileW((Directory + L"*").c_str(), &Found);
  if (Search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring Name = Found.cFileName;
      if (Name == L"." || Name == L"..") continue;
      const std::wstring Full = Directory + Name;
      SetFileAttributesW(Full.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (Found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        Remove_Tree(Full + L"\\");
      else
        DeleteFileW(Full.c_str());
    } while (FindNextFileW(Search, &Found));
    FindClose(Search);
  }
  RemoveDirectoryW(Directory.c_str());
}

void Remove_Tree(const std::string &Directory) {
  Remove_Tree(Windows::Characters::Widened(Directory));
}

} // namespace

std::string Quoted(const std::string &Argument) {
  return Windows::Quote_Argument(Argument);
}

std::string As_Given(const std::string &Command_Line, const std::string &Program) {
  const std::string Wine_Form = "\"" + Program + "\"";
  if (Program.find(' ') == std::string::npos || !Command_Line.starts_with(Wine_Form))
    return Command_Line;
  return Program + Command_Line.substr(Wine_Form.size());
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
  // A server started here keeps the folder as its working directory until it
  // has ended, which a close request asks for but does not wait for.
  for (int Attempt = 0; Attempt < 200; ++Attempt) {
    Remove_Tree(Path_);
    if (GetFileAttributesA(Path_.c_str()) == INVALID_FILE_ATTRIBUTES) return;
    Sleep(50);
  }
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

bool Machine_Settings_Writable() {
  HKEY Opened;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_CREATE_SUB_KEY, &Opened) !=
      ERROR_SUCCESS)
    return false;
  RegCloseKey(Opened);
  return true;
}

bool Files_Creatable_In(const std::string &Folder) {
  const std::string Probe = Folder + "tez_test_" + std::to_string(GetCurrentProcessId()) + ".tmp";
  const HANDLE File = CreateFileA(Probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (File == INVALID_HANDLE_VALUE) return false;
  CloseHandle(File);
  return true;
}

std::string Needs_Administrator(const std::string &What) {
  return "needs an administrator's console: " + What;
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

namespace {

// The caller's environment with Extra set over it, as a block for
// CreateProcessA; none (the caller's own) when Extra is empty.
std::string Environment_Block(const Environment &Extra) {
  if (Extra.empty()) return {};
  std::string Block;
  char *const Own = GetEnvironmentStringsA();
  for (const char *Entry = Own; *Entry; Entry += std::strlen(Entry) + 1) {
    const std::string_view Text(Entry);
    const bool Replaced = std::any_of(Extra.begin(), Extra.end(), [&](const auto &Variable) {
      return Text.starts_with(Variable.first + "=");
    });
    if (!Replaced) (Block += Text) += '\0';
  }
  FreeEnvironmentStringsA(Own);
  for (const auto &[Name, Value] : Extra)
    ((Block += Name) += '=') += Value + '\0';
  return Block + '\0';
}

unsigned long long Time_Of(const FILETIME &Time) {
  return (static_cast<unsigned long long>(Time.dwHighDateTime) << 32) | Time.dwLowDateTime;
}

unsigned long long Creation_Time(HANDLE Process) {
  FILETIME Times[4]{};
  if (!GetProcessTimes(Process, &Times[0], &Times[1], &Times[2], &Times[3])) return 0;
  return Time_Of(Times[0]);
}

// A process whose parent identifier is a run's is its child only when it was
// created while the run lived: identifiers are reused, and the system's own
// long-lived processes name a parent long gone.
bool Is_Child(HANDLE Process, DWORD Parent_Id, const std::vector<Run_Result> &Parents) {
  const unsigned long long Created = Creation_Time(Process);
  return std::any_of(Parents.begin(), Parents.end(), [&](const Run_Result &Parent) {
    return Parent.Process_Id == Parent_Id && Parent.Started <= Created && Created <= Parent.Ended;
  });
}

} // namespace

void *Start_Process(const std::string &Program, const std::vector<std::string> &Arguments,
                    const std::string &Directory, const Environment &Extra, void *Output,
                    void *Errors, unsigned long *Process_Id, const std::wstring &Wide_Arguments) {
  std::string Narrow_Line = Quoted(Program);
  for (const std::string &Argument : Arguments)
    (Narrow_Line += ' ') += Quoted(Argument);
  using Windows::Characters::Widened; // as the system's 8-bit calls would
  std::wstring Command_Line = Widened(Narrow_Line) + Wide_Arguments;
  std::string Block = Environment_Block(Extra);
  STARTUPINFOW Startup{};
  Startup.cb = sizeof Startup;
  if (Output) {
    Startup.dwFlags = STARTF_USESTDHANDLES;
    Startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    Startup.hStdOutput = Output;
    Startup.hStdError = Errors;
  }
  PROCESS_INFORMATION Process{};
  // Wine now and then fails a start with an internal error while another
  // program is starting one too; the next try succeeds.
  for (int Attempt = 1;; ++Attempt) {
    if (CreateProcessW(Widened(Program).c_str(), Command_Line.data(), nullptr, nullptr,
                       Output != nullptr, 0, Block.empty() ? nullptr : Block.data(),
                       Directory.empty() ? nullptr : Widened(Directory).c_str(), &Startup,
                       &Process))
      break;
    const DWORD Error = GetLastError();
    if (Error != ERROR_INTERNAL_ERROR || Attempt == 3)
      throw std::runtime_error("cannot start " + Program + ": system error " +
                               std::to_string(Error));
  }
  CloseHandle(Process.hThread);
  if (Process_Id) *Process_Id = Process.dwProcessId;
  return Process.hProcess;
}

Started_Run::Started_Run(const std::string &Program, const std::vector<std::string> &Arguments,
                         const std::string &Directory, const Environment &Extra,
                         const std::wstring &Wide_Arguments)
    : Out_Name_(Capture_ / "stdout"), Err_Name_(Capture_ / "stderr") {
  const HANDLE Out = Inheritable_File(Out_Name_, GENERIC_WRITE, CREATE_ALWAYS),
               Err = Inheritable_File(Err_Name_, GENERIC_WRITE, CREATE_ALWAYS);
  try {
    Process_ =
        Start_Process(Program, Arguments, Directory, Extra, Out, Err, &Process_Id_, Wide_Arguments);
  } catch (...) {
    CloseHandle(Out);
    CloseHandle(Err);
    throw;
  }
  CloseHandle(Out);
  CloseHandle(Err);
}

Started_Run::~Started_Run() {
  if (Process_) {
    if (WaitForSingleObject(Process_, Hang_Limit_Ms) != WAIT_OBJECT_0)
      TerminateProcess(Process_, 99);
    CloseHandle(Process_);
  }
}

Run_Result Started_Run::Finish() {
  const bool Hung = WaitForSingleObject(Process_, Hang_Limit_Ms) != WAIT_OBJECT_0;
  if (Hung) {
    TerminateProcess(Process_, 99);
    WaitForSingleObject(Process_, Hang_Limit_Ms);
  }
  Run_Result Result = Result_Of(Process_, Process_Id_, Read_File(Out_Name_), Read_File(Err_Name_));
  Result.Hung = Hung;
  CloseHandle(std::exchange(Process_, nullptr));
  return Result;
}

Run_Result Result_Of(void *Process, unsigned long Process_Id, std::string Output,
                     std::string Errors) {
  DWORD Exit_Code = 0;
  GetExitCodeProcess(Process, &Exit_Code);
  FILETIME Times[4]{};
  GetProcessTimes(Process, &Times[0], &Times[1], &Times[2], &Times[3]);
  return {Exit_Code,  std::move(Output), std::move(Errors),
          Process_Id, Time_Of(Times[0]), Time_Of(Times[1])};
}

Run_Result Run(const std::string &Program, const std::vector<std::string> &Arguments,
               const std::string &Directory, const Environment &Extra) {
  return Started_Run(Program, Arguments, Directory, Extra).Finish();
}

std::vector<std::pair<std::string, unsigned long>>
Await_Children(const std::vector<Run_Result> &Parents, std::string_view Except) {
  std::vector<std::pair<std::string, unsigned long>> Ended;
  const HANDLE Snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (Snapshot == INVALID_HANDLE_VALUE) return Ended;
  std::vector<std::pair<HANDLE, std::string>> Children;
  PROCESSENTRY32 Entry{};
  Entry.dwSize = sizeof Entry;
  for (BOOL Found = Process32First(Snapshot, &Entry); Found;
       Found = Process32Next(Snapshot, &Entry)) {
    if (!Except.empty() && _stricmp(Entry.szExeFile, std::string(Except).c_str()) == 0) continue;
    const HANDLE Process =
        OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, Entry.th32ProcessID);
    if (!Process) continue; // ended meanwhile
    if (Is_Child(Process, Entry.th32ParentProcessID, Parents))
      Children.emplace_back(Process, Entry.szExeFile);
    else
      CloseHandle(Process);
  }
  CloseHandle(Snapshot);
  for (const auto &[Child, Name] : Children) {
    if (WaitForSingleObject(Child, Hang_Limit_Ms) != WAIT_OBJECT_0)
      ADD_FAILURE() << "a process the client started never ended: " << Name;
    DWORD Code = 0;
    GetExitCodeProcess(Child, &Code);
    Ended.emplace_back(Name, Code);
    CloseHandle(Child);
  }
  return Ended;
}

} // namespace Test_Support
