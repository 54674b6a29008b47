#include "windows/windows.hpp"

#include "windows/characters.hpp"
#include "windows/files.hpp"
#include "windows/handle.hpp"

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
    Device_.Reset(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE,
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

  void Fill(STARTUPINFOEXW &Startup) const {
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

// What of a start the system is handed, in the form it reads: a piece that
// is no text of the code page is refused, never passed on changed or cut.
std::wstring Wide(std::string_view Text, const char *What) {
  try {
    return Characters::Wide(Text);
  } catch (const Characters::Invalid &Refused) {
    throw Process_Creation_Failure(std::string(What) + ": " + Refused.reason());
  }
}

// The interpreter by its full path in the system folder: never one found by
// a search, which would look in the working directory first.
std::wstring Interpreter() {
  wchar_t Folder[MAX_PATH];
  const UINT Length = GetSystemDirectoryW(Folder, MAX_PATH);
  if (Length == 0 || Length >= MAX_PATH)
    throw Process_Creation_Failure("the system folder cannot be read");
  return std::wstring(Folder, Length) + L"\\cmd.exe";
}

// The longest command line the interpreter reads.
constexpr std::size_t Interpreter_Limit = 8191;

// What in Text the interpreter would not pass on whole, or nothing. It reads
// its command line again: "%" is expanded even inside quotes (some systems
// take no escape for it at all), a double quote would end the quoting that
// keeps "&", "|", "<", ">", "^", "(" and ")" literal, and a line break ends
// the command.
const char *Unpassable(std::wstring_view Text) {
  if (Text.find(L'%') != std::wstring_view::npos) return "a %";
  if (Text.find(L'"') != std::wstring_view::npos) return "a double quote";
  if (Text.find_first_of(L"\r\n") != std::wstring_view::npos) return "a line break";
  return nullptr;
}

// The interpreter's command line for the batch file with Arguments, each in
// quotes, so that the batch file's %1, %2, ... are the arguments a program
// would get and %* hands them on as they came. /s takes the outer quotes off
// whatever the rest holds; /d skips AutoRun; /v:off keeps "!" literal.
std::wstring Batch_Command_Line(const std::wstring &Application, std::wstring_view Batch_File,
                                const std::vector<std::wstring> &Arguments) {
  const auto Refuse = [&](const std::string &What, const char *Why) {
    throw Process_Creation_Failure(What + " holds " + Why + ", which the batch file " +
                                   Characters::Image(Batch_File) + " cannot be given whole");
  };
  if (const char *Why = Unpassable(Batch_File)) Refuse("its path", Why);
  std::wstring Line = L'"' + Application + L"\" /d /v:off /s /c \"\"";
  (Line += Batch_File) += L'"';
  for (const std::wstring &Argument : Arguments) {
    if (const char *Why = Unpassable(Argument))
      Refuse("the argument " + Characters::Image(Argument), Why);
    // Backslashes before the closing quote are doubled, as a program reading
    // %* expects; no others.
    const std::size_t Kept = Argument.find_last_not_of(L'\\') + 1;
    ((Line += L" \"") += Argument).append(Argument.size() - Kept, L'\\') += L'"';
  }
  Line += L'"';
  if (Line.size() > Interpreter_Limit)
    throw Process_Creation_Failure("the interpreter's command line would be " +
                                   std::to_string(Line.size()) + " characters, more than the " +
                                   std::to_string(Interpreter_Limit) + " it reads");
  return Line;
}

// NoDefaultCurrentDirectoryInExePath for the interpreter, so that the batch
// file's own commands ("notepad %*") are not looked for in the working
// directory. It is set in our own environment for the start alone: the
// system then builds the interpreter's block as for any start, the caller's
// environment exactly, in the system's own characters, plus this one.
class Interpreter_Setting {
public:
  Interpreter_Setting() {
    const DWORD Size = GetEnvironmentVariableW(Name, nullptr, 0);
    if (Size > 0) {
      std::wstring Value(Size, L'\0');
      Value.resize(GetEnvironmentVariableW(Name, Value.data(), Size));
      Old_ = std::move(Value);
    }
    if (!SetEnvironmentVariableW(Name, L"1"))
      throw Process_Creation_Failure("the interpreter's environment cannot be set");
  }
  ~Interpreter_Setting() { SetEnvironmentVariableW(Name, Old_ ? Old_->c_str() : nullptr); }
  Interpreter_Setting(const Interpreter_Setting &) = delete;
  Interpreter_Setting &operator=(const Interpreter_Setting &) = delete;

private:
  static constexpr const wchar_t *Name = L"NoDefaultCurrentDirectoryInExePath";
  std::optional<std::wstring> Old_;
};

// Starts Application with Command_Line, both as the system will read them.
void Create(const std::wstring &Application, const std::wstring &Command_Line,
            const Start_Options &Options, Started_Program &Started) {
  STARTUPINFOEXW Startup{};
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
      std::wstring Line = Command_Line; // the system may write into it
      if (CreateProcessW(Application.c_str(), Line.data(), nullptr, nullptr, Null.has_value(),
                         Flags, nullptr, nullptr, &Startup.StartupInfo, &Process) == TRUE)
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
}

// Every start: Arguments are what follows the program's options, already in
// the system's characters.
Started_Program Start(const Program &Program, const std::wstring &Arguments,
                      const Start_Options &Options) {
  Started_Program Started;
  const std::wstring File = Wide(Program.File, "the program's file");
  const std::wstring Program_Options = Wide(Program.Options, "the program's options");
  // "ed.cmd." runs as the batch file "ed.cmd".
  const std::wstring_view Run = Files::Without_Trailing_Dots_And_Blanks(File);
  std::wstring Application, Command_Line;
  std::optional<Interpreter_Setting> Setting;
  if (Has_Extension(Run, L".cmd") || Has_Extension(Run, L".bat")) {
    Application = Interpreter();
    Command_Line =
        Batch_Command_Line(Application, Run, Split_Arguments(Program_Options + L' ' + Arguments));
    Setting.emplace();
  } else {
    Application = File;
    Command_Line = Wide(Program.Command_Part, "the program's name") + Program_Options;
    if (!Arguments.empty()) (Command_Line += L' ') += Arguments;
  }
  Started.Application = Characters::Image(Application);
  Started.Command_Line = Characters::Image(Command_Line);
  Create(Application, Command_Line, Options, Started);
  return Started;
}

} // namespace

Started_Program Start_Program(const Program &Program, std::string_view Arguments,
                              const Start_Options &Options) {
  return Start(Program, Wide(Arguments, "the arguments"), Options);
}

Started_Program Start_Program(const Program &Program, const std::vector<std::string_view> &Each,
                              const Start_Options &Options) {
  std::wstring Arguments;
  for (const std::string_view Argument : Each) {
    if (!Arguments.empty()) Arguments += L' ';
    Arguments += Quote_Argument(Wide(Argument, "an argument"));
  }
  return Start(Program, Arguments, Options);
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
