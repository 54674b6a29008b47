// A program for the tests to start: it appends what it was started with to
// the file named by TEZ_PROBE_RECORD, one "key=value" line each (an
// "argument" line for each argument as the C runtime split the command line),
// ending with "end". It also stands in for an editor, which is started with a
// location, and may stay open as an editor does.
#include "windows/windows.hpp"

#include <shellapi.h>

#include <cstdlib>
#include <string>

namespace {

void Write(HANDLE Target, const std::string &Text) {
  DWORD Written = 0;
  WriteFile(Target, Text.data(), static_cast<DWORD>(Text.size()), &Written, nullptr);
}

std::string Standard_Input() {
  const char *const Wanted = std::getenv("TEZ_PROBE_READ_STDIN");
  if (!Wanted) return "(not read)";
  char Buffer[200];
  DWORD Count = 0;
  if (!ReadFile(GetStdHandle(STD_INPUT_HANDLE), Buffer, sizeof Buffer, &Count, nullptr))
    return "(unreadable)";
  return std::string(Buffer, Count);
}

// What the program reads in the system's characters, as UTF-8: the bytes
// of the code page can hide what it was given.
std::string Utf8(const wchar_t *Text) {
  const int Size = WideCharToMultiByte(CP_UTF8, 0, Text, -1, nullptr, 0, nullptr, nullptr);
  std::string Result(Size > 0 ? Size - 1 : 0, '\0');
  if (Size > 1) WideCharToMultiByte(CP_UTF8, 0, Text, -1, Result.data(), Size, nullptr, nullptr);
  return Result;
}

std::string Wide_Records() {
  std::string Record;
  int Count = 0;
  wchar_t **const Arguments = CommandLineToArgvW(GetCommandLineW(), &Count);
  for (int I = 1; Arguments && I < Count; ++I)
    Record += "utf8_argument=" + Utf8(Arguments[I]) + "\r\n";
  LocalFree(Arguments);
  wchar_t Variable[2000];
  const DWORD Length = GetEnvironmentVariableW(L"TEZ_PROBE_VARIABLE", Variable, 2000);
  return Record + "utf8_variable=" + (Length > 0 && Length < 2000 ? Utf8(Variable) : "(none)") +
         "\r\n";
}

} // namespace

int main(int argc, char **argv) {
  const char *const Record_Name = std::getenv("TEZ_PROBE_RECORD");
  if (!Record_Name) return 3;
  // An editor that stays open, until the test sets the event TEZ_PROBE_HOLD;
  // it records nothing before.
  if (const char *const Hold = std::getenv("TEZ_PROBE_HOLD")) {
    const HANDLE Event = OpenEventA(SYNCHRONIZE, FALSE, Hold);
    if (Event) WaitForSingleObject(Event, 120'000);
  }
  char Directory[MAX_PATH] = "";
  GetCurrentDirectoryA(MAX_PATH, Directory);
  const char *const Variable = std::getenv("TEZ_PROBE_VARIABLE");
  std::string Record = std::string("command_line=") + GetCommandLineA() + "\r\n";
  for (int I = 1; I < argc; ++I)
    Record += std::string("argument=") + argv[I] + "\r\n";
  Record += std::string("directory=") + Directory + "\r\n" +
            "module_directory=" + Windows::Module_Directory() + "\r\n" +
            "variable=" + (Variable ? Variable : "(none)") + "\r\n" + Wide_Records() +
            "stdin=" + Standard_Input() + "\r\n" + "end\r\n";
  // Only when asked: as an editor it shares the client's standard handles.
  if (std::getenv("TEZ_PROBE_ECHO")) {
    Write(GetStdHandle(STD_OUTPUT_HANDLE), "probe output");
    Write(GetStdHandle(STD_ERROR_HANDLE), "probe error");
  }
  const HANDLE File = CreateFileA(Record_Name, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (File == INVALID_HANDLE_VALUE) return 4;
  Write(File, Record);
  CloseHandle(File);
  return 0;
}
