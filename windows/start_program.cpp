#include "windows/windows.hpp"

#include "windows/handle.hpp"

#include <memory>
#include <optional>

namespace Windows {

namespace {

// The NUL device, inheritable, for all three standard handles: a started
// program must not keep the caller's output open (its reader waits for the
// end of it) nor read the caller's input.
class Null_Handles {
public:
  Null_Handles() {
    SECURITY_ATTRIBUTES Inherited{sizeof Inherited, nullptr, TRUE};
    Device_.Reset(CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, &Inherited, OPEN_EXISTING, 0,
                              nullptr));
    if (!Device_) throw Process_Creation_Failure("the NUL device cannot be opened");
    SIZE_T Size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &Size);
    Storage_.resize(Size);
    List_ = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(Storage_.data());
    if (!InitializeProcThreadAttributeList(List_, 1, 0, &Size))
      throw Process_Creation_Failure("no attribute list");
    Handle_ = Device_.Get();
    // Only this handle is inherited, whatever else of ours is inheritable.
    if (!UpdateProcThreadAttribute(List_, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &Handle_,
                                   sizeof Handle_, nullptr, nullptr)) {
      DeleteProcThreadAttributeList(List_);
      throw Process_Creation_Failure("no handle list");
    }
  }
  ~Null_Handles() { DeleteProcThreadAttributeList(List_); }
  Null_Handles(const Null_Handles &) = delete;
  Null_Handles &operator=(const Null_Handles &) = delete;

  void Fill(STARTUPINFOEXA &Startup) const {
    Startup.StartupInfo.dwFlags |= STARTF_USESTDHANDLES;
    Startup.StartupInfo.hStdInput = Startup.StartupInfo.hStdOutput = Startup.StartupInfo.hStdError =
        Handle_;
    Startup.lpAttributeList = List_;
  }

private:
  File_Handle Device_;
  HANDLE Handle_ = nullptr;
  std::vector<char> Storage_;
  LPPROC_THREAD_ATTRIBUTE_LIST List_ = nullptr;
};

// The interpreter by its full path in the system folder: never one found by
// a search, which would look in the working directory first.
std::string Interpreter() {
  char Folder[MAX_PATH];
  const UINT Length = GetSystemDirectoryA(Folder, MAX_PATH);
  if (Length == 0 || Length >= MAX_PATH)
    throw Process_Creation_Failure("the system folder cannot be read");
  return std::string(Folder, Length) + "\\cmd.exe";
}

// What in Text the interpreter would not pass on whole, or nothing. It reads
// its command line again: "%" is expanded even inside quotes (some systems
// take no escape for it at all), a double quote would end the quoting that
// keeps "&", "|", "<", ">", "^", "(" and ")" literal, and a line break ends
// the command.
const char *Unpassable(std::string_view Text) {
  if (Text.find('%') != std::string_view::npos) return "a %";
  if (Text.find('"') != std::string_view::npos) return "a double quote";
  if (Text.find_first_of("\r\n") != std::string_view::npos) return "a line break";
  return nullptr;
}

// The interpreter's command line for the batch file with Arguments, each in
// quotes, so that the batch file's %1, %2, ... are the arguments a program
// would get and %* hands them on as they came. /s takes the outer quotes off
// whatever the rest holds; /d skips AutoRun; /v:off keeps "!" literal.
std::string Batch_Command_Line(const std::string &Application, const std::string &Batch_File,
                               const std::vector<std::string> &Arguments) {
  const auto Refuse = [&](const std::string &What, const char *Why) {
    throw Process_Creation_Failure(What + " holds " + Why + ", which the batch file " + Batch_File +
                                   " cannot be given whole");
  };
  if (const char *Why = Unpassable(Batch_File)) Refuse("its path", Why);
  std::string Line = '"' + Application + "\" /d /v:off /s /c \"\"" + Batch_File + '"';
  for (const std::string &Argument : Arguments) {
    if (const char *Why = Unpassable(Argument)) Refuse("the argument " + Argument, Why);
    // Backslashes before the closing quote are doubled, as a program reading
    // %* expects; no others.
    const std::size_t Kept = Argument.find_last_not_of('\\') + 1;
    ((Line += " \"") += Argument).append(Argument.size() - Kept, '\\') += '"';
  }
  return Line + '"';
}

// The caller's environment with NoDefaultCurrentDirectoryInExePath set, in
// the order the system keeps (names without regard to case): the batch
// file's own commands ("notepad %*") are then not looked for in the working
// directory.
std::string Interpreter_Environment() {
  constexpr std::string_view Setting = "NoDefaultCurrentDirectoryInExePath=1";
  const auto Name = [](std::string_view Entry) {
    return Entry.substr(0, Entry.find('=', 1)); // "=C:=C:\..." keeps its leading "="
  };
  const auto Before = [](std::string_view A, std::string_view B) {
    return std::lexicographical_compare(A.begin(), A.end(), B.begin(), B.end(), [](char X, char Y) {
      const auto Up = [](char C) { return C >= 'a' && C <= 'z' ? C - 'a' + 'A' : C; };
      return Up(X) < Up(Y);
    });
  };
  const std::unique_ptr<char, BOOL (*)(LPCH)> Block(GetEnvironmentStringsA(),
                                                    &FreeEnvironmentStringsA);
  if (!Block) throw Process_Creation_Failure("the environment cannot be read");
  std::string Result;
  bool Placed = false;
  for (const char *Entry = Block.get(); *Entry;
       Entry += std::char_traits<char>::length(Entry) + 1) {
    const std::string_view Text(Entry);
    const std::string_view Own = Name(Text), Wanted = Name(Setting);
    if (!Before(Own, Wanted) && !Before(Wanted, Own)) continue;
    if (!Placed && Own.front() != '=' && Before(Wanted, Own)) {
      Result.append(Setting) += '\0';
      Placed = true;
    }
    Result.append(Text) += '\0';
  }
  if (!Placed) Result.append(Setting) += '\0';
  return Result + '\0';
}

} // namespace

Started_Program Start_Program(const Program &Program, std::string_view Arguments,
                              const Start_Options &Options) {
  Started_Program Started;
  std::string Environment;
  if (Has_Extension(Program.File, ".cmd") || Has_Extension(Program.File, ".bat")) {
    std::string Text = Program.Options;
    (Text += ' ') += Arguments;
    Started.Application = Interpreter();
    Started.Command_Line =
        Batch_Command_Line(Started.Application, Program.File, Split_Arguments(Text));
    Environment = Interpreter_Environment();
  } else {
    Started.Application = Program.File;
    Started.Command_Line = Program.Command_Part + Program.Options;
    if (!Arguments.empty()) (Started.Command_Line += ' ').append(Arguments);
  }
  STARTUPINFOEXA Startup{};
  Startup.StartupInfo.cb = sizeof Startup.StartupInfo;
  std::optional<Null_Handles> Null;
  DWORD Flags = CREATE_NEW_PROCESS_GROUP | CREATE_BREAKAWAY_FROM_JOB;
  if (Options.Hidden_Console) Flags |= CREATE_NO_WINDOW;
  if (Options.Null_Standard_Handles) {
    Null.emplace().Fill(Startup);
    Startup.StartupInfo.cb = sizeof Startup;
    Flags |= EXTENDED_STARTUPINFO_PRESENT;
  }
  PROCESS_INFORMATION Process{};
  const auto Start = [&] {
    // Some systems (Wine) now and then fail a start with an internal error
    // while another program starts one too; the next try succeeds. Overlapping
    // queries start servers at once.
    for (int Attempt = 1; Attempt <= 3; ++Attempt) {
      std::string Command_Line = Started.Command_Line; // the system may write into it
      if (CreateProcessA(Started.Application.c_str(), Command_Line.data(), nullptr, nullptr,
                         Null.has_value(), Flags,
                         Environment.empty() ? nullptr : Environment.data(), nullptr,
                         &Startup.StartupInfo, &Process) == TRUE)
        return true;
      if (GetLastError() != ERROR_INTERNAL_ERROR) break;
    }
    return false;
  };
  bool Succeeded = Start();
  // A job that allows no breakaway refuses it: its owner has decided that
  // what runs in it ends with it.
  if (!Succeeded && GetLastError() == ERROR_ACCESS_DENIED) {
    Flags &= ~static_cast<DWORD>(CREATE_BREAKAWAY_FROM_JOB);
    Succeeded = Start();
  }
  if (!Succeeded) {
    const DWORD Code = GetLastError();
    const std::string Text = Error_Text(Code);
    throw Process_Creation_Failure(Error_Reason(Code) + (Text.empty() ? "" : " (" + Text + ")") +
                                   " for " + Started.Application + ", command line " +
                                   Started.Command_Line);
  }
  CloseHandle(Process.hThread);
  Started.Process.Reset(Process.hProcess);
  Started.Process_Id = Process.dwProcessId;
  return Started;
}

std::optional<std::uint32_t> Started_Program::Exit_Code() const {
  DWORD Code = 0;
  if (WaitForSingleObject(Process.Get(), 0) != WAIT_OBJECT_0 ||
      GetExitCodeProcess(Process.Get(), &Code) != TRUE)
    return std::nullopt;
  return Code;
}

bool Standard_Output_Is_Console() {
  DWORD Mode = 0;
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &Mode) == TRUE;
}

} // namespace Windows
